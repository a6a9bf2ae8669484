// A stretch replayed from an ONVIF device as the bytes of an MPEG-TS file the
// engine reads, with its seeks turned into new PLAYs.
//
// The engine seeks by byte position, so the stream is laid out as a file of
// kBytesPerMs bytes per ms of the stretch: each frame's packets are placed at
// (or, after a large frame, just past) the position of its time, and the
// space between is MPEG-TS null packets made up on reading. A read far from
// what is held asks the device for a new PLAY from the time of that position
// ("Range: clock=", "Immediate: yes"); the engine's timestamp search then
// lands where it means to. Each run starts as fast as the link goes
// ("Rate-Control: no"): the player's open and seeks read here and there, and
// the buffer fills. Once the window ahead of the reader has stayed full, or
// the player pauses, the device is paused (PAUSE); it is resumed (PLAY) at the
// player's pace: at real time by the device ("Rate-Control: yes"), at the
// player's speed ("Scale"), key frames only ("Frames: intra") from
// kIntraFromSpeed on. A change of speed while the device paces is a new PLAY
// from the last key picture received, and so is a lost connection's resume;
// what the device sends again is skipped only where it was written whole.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "net/OnvifSearch.h"
#include "net/ReplaySession.h"
#include "net/RecorderClient.h"
#include "net/StreamBuffer.h"
#include "net/StreamSource.h"

namespace playersdk::net {

class ReplayMuxer;

class ReplayStream final : public StreamSource {
public:
    ReplayStream(RecorderLogin login, ReplayStretch stretch);
    ~ReplayStream() override;
    ReplayStream(const ReplayStream&) = delete;
    ReplayStream& operator=(const ReplayStream&) = delete;

    // Starts the replay and waits, at most `budget`, for its first picture.
    StreamOpen Connect(std::chrono::milliseconds budget);
    void SetReadDeadline(std::chrono::steady_clock::time_point deadline);
    void ClearReadDeadline();

    int Read(uint8_t* buffer, int size) override;
    int64_t Seek(int64_t offset, int whence) override;
    void Interrupt() override;
    void NotePlayMs(int64_t play_ms) override;
    void NotePace(double speed, bool paused) override;
    // The laid-out file holds each frame at its time: nothing to learn.
    void NoteRead(uint64_t, int64_t) override {}
    int64_t BufferedMs() const override;
    bool Full() const override;
    int64_t StarvedMs() const override;
    void ResetStarved() override;
    bool FetchOver() const override;
    void SetDurationIfUnknown(int64_t) override {}

private:
    struct Chunk {
        uint64_t pos;
        std::string bytes;
        int64_t ms;  // media time of its frame
    };
    enum class RunEnd { Restart, Over, Gone, Interrupted };
    void Run();
    // One run of bytes from `from` on, on the session given (set up anew
    // when there is none or it was lost).
    RunEnd RunFrom(const std::string& uri, const RecorderLogin& login, uint64_t from,
                   std::unique_ptr<ReplaySession>& replay);
    // Why a run's network wait ended early: Interrupted or Restart.
    RunEnd Abandoned();
    // Writes out what the muxer still holds at the replay's end.
    RunEnd PlaceLast(ReplayMuxer& muxer, std::string& pending, std::optional<int64_t> last_ms);
    // Places a frame's packets; under mutex_.
    void PlaceLocked(std::string bytes, int64_t ms);
    // What the device was asked in a run: paused, and the speed it paces at
    // (none while it sends as fast as the link goes).
    struct DevicePace {
        bool paused = false;
        std::optional<double> speed;
    };
    enum class Paced { Go, AskedAgain, Over, Lost, Stop };
    // Before each frame: waits while the window ahead of the reader is full
    // or the player is paused, pausing the device when the player does or
    // the wait is long; resumes it at the player's pace, or asks anew from
    // the key picture at `key_utc_ms` when the speed changed while the device
    // paces. AskedAgain when the device was asked to play again.
    Paced KeepPace(ReplaySession& replay, DevicePace& pace, std::optional<int64_t> key_utc_ms);
    // A PLAY at the player's pace, the device pacing.
    RtspPlay PacedPlayLocked() const;
    int64_t AheadMsLocked() const;
    uint64_t AheadBytesLocked() const;
    void RequestRestartLocked(uint64_t pos);

    const RecorderLogin login_;
    const ReplayStretch stretch_;
    const uint64_t size_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> chunks_;
    uint64_t held_from_ = 0;  // bytes [held_from_, cursor_) can be read
    uint64_t cursor_ = 0;
    uint64_t read_pos_ = 0;
    int64_t play_ms_ = 0;
    double speed_ = 1.0;
    bool player_paused_ = false;
    bool restart_ = false;
    uint64_t restart_at_ = 0;
    bool over_ = false;       // the run reached the stretch's end
    bool gone_ = false;
    bool interrupted_ = false;
    StreamOpen status_ = StreamOpen::Unreachable;
    bool answered_ = false;
    bool starved_ = false;
    std::chrono::steady_clock::time_point starved_since_;
    bool has_deadline_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::atomic<bool> abandon_{false};  // ends the run's network waits
    std::thread fetcher_;
};

}  // namespace playersdk::net
