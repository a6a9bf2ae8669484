// G.711 sound (A-law or mu-law) turned into AAC, for containers that have no
// place for G.711 (MPEG-TS). Times are ms; each AAC packet's time is that of
// the sound it decodes to, so the encoder's lead-in does not shift the sound.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVAudioFifo;
struct AVFrame;
struct AVPacket;

namespace playersdk::net {

class G711ToAac {
public:
    // Nothing when no encoder can be opened for the sound given.
    static std::unique_ptr<G711ToAac> Open(bool a_law, int sample_rate, int channels);
    ~G711ToAac();
    G711ToAac(const G711ToAac&) = delete;
    G711ToAac& operator=(const G711ToAac&) = delete;

    // AAC's AudioSpecificConfig, for the container's header.
    std::string Config() const;
    int SampleRate() const;

    using Packet = std::function<bool(const uint8_t* data, int size, int64_t time_ms)>;
    // Takes the G.711 bytes of one frame starting at `time_ms` and hands on
    // each AAC packet made whole; false when encoding or `out` failed. Sound
    // that does not follow on from the last (a jump, a gap) starts afresh.
    bool Push(const std::string& g711, int64_t time_ms, const Packet& out);

private:
    G711ToAac() = default;
    bool Drain(const Packet& out);

    bool a_law_ = true;
    int channels_ = 1;
    AVCodecContext* encoder_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t fifo_start_ = 0;  // the first sample in the fifo, in samples
    bool started_ = false;
};

}  // namespace playersdk::net
