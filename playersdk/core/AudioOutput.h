// The sound device of one player. AudioOutput owns the SDL device: its
// callback takes the pieces in order and re-anchors the player's clock to what
// is being heard, so that sound is the master clock while it plays. Pieces too
// far from the clock are dropped (late) or preceded by silence (early); while
// inactive (paused, seeking, a speed with no sound, sound off) the callback
// gives silence and keeps its pieces. The pieces come from SoundDecoder,
// through TempoStretcher at speeds other than 1.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace playersdk {

class PlaybackClock;

// True once SDL's audio subsystem is up; false on a machine with no sound
// device, where every player plays silently.
bool SoundDeviceAvailable();

class AudioOutput {
public:
    // Opens the default device for 16-bit samples at about rate x channels.
    // nullptr when no device can be opened.
    static std::unique_ptr<AudioOutput> Create(int rate, int channels, PlaybackClock* clock);
    // Closes the device; its callback has returned for good when this returns.
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }

    // Appends interleaved samples that start at media time pts_us and carry
    // `speed` media seconds for each second heard (time-stretched sound).
    // Pieces of another serial than the last Flush's are ignored.
    void Push(int serial, int64_t pts_us, double speed, std::vector<uint8_t> samples);
    // Drops every piece; from now on only pieces of `serial` are taken.
    void Flush(int serial);
    // Drops the pieces that end at or before pts_us (a seek ahead that goes
    // on under the same serial: what it passes over is not heard).
    void DropBefore(int64_t pts_us);
    // Plays (true) or gives silence and keeps the pieces (false).
    void SetActive(bool active);
    // Time queued and not yet handed to the device, as heard.
    int64_t BufferedUs() const;
    // Some sound of `serial` is queued.
    bool HasSound(int serial) const;
    bool Drained() const;

private:
    AudioOutput() = default;
    static void Callback(void* self, uint8_t* stream, int length);
    void Fill(uint8_t* out, size_t length);
    int64_t BytesToUs(size_t bytes) const;
    size_t UsToBytes(int64_t us) const;

    struct Piece {
        int serial = 0;
        int64_t pts_us = 0;
        double speed = 1.0;
        std::vector<uint8_t> bytes;
        size_t offset = 0;  // bytes already played
    };

    PlaybackClock* clock_ = nullptr;
    uint32_t device_ = 0;
    int rate_ = 48000;
    int channels_ = 2;
    // Time from the callback handing out a byte to its being heard.
    int64_t latency_us_ = 0;

    mutable std::mutex mutex_;  // a leaf lock: nothing else is taken under it but the clock's
    std::deque<Piece> pieces_;
    size_t buffered_bytes_ = 0;
    int serial_ = 0;
    bool active_ = false;
};

}  // namespace playersdk
