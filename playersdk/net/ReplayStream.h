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

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <thread>

#include "net/FetchedStream.h"
#include "net/OnvifSearch.h"
#include "net/ReplaySession.h"
#include "net/RecorderClient.h"
#include "net/StreamBuffer.h"

namespace playersdk::net {

class ReplayMuxer;

class ReplayStream final : public FetchedStream {
public:
    ReplayStream(RecorderLogin login, ReplayStretch stretch);
    ~ReplayStream() override;
    ReplayStream(const ReplayStream&) = delete;
    ReplayStream& operator=(const ReplayStream&) = delete;

    // Starts the replay and waits, at most `budget`, for its first picture.
    StreamOpen Connect(std::chrono::milliseconds budget);

    void NotePlayMs(int64_t play_ms) override;
    void NotePace(double speed, bool paused) override;
    // The laid-out file holds each frame at its time: nothing to learn.
    void NoteRead(uint64_t, int64_t) override {}
    int64_t BufferedMs() const override;
    bool Full() const override;
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
    uint64_t AheadBytesLocked() const;

    // The reading side's hooks (see net/FetchedStream.h).
    uint64_t SizeLocked() const override { return size_; }
    // Not once a restart is asked: the run that brought what is held ends.
    bool HeldLocked() const override { return !restart_ && read_pos_ >= held_from_ && read_pos_ < cursor_; }
    // The chunk's bytes at read_pos_, or the null packets of the gap there.
    size_t CopyHeldLocked(uint8_t* buffer, size_t size) const override;
    // The fetch gave up, or its run has reached the stretch's end before
    // read_pos_.
    bool NothingMoreLocked() const override;
    bool ComingLocked() const override;
    int64_t ArrivedAheadMsLocked() const override;

    const RecorderLogin login_;
    const ReplayStretch stretch_;
    const uint64_t size_;

    std::deque<Chunk> chunks_;
    uint64_t held_from_ = 0;  // bytes [held_from_, cursor_) can be read
    uint64_t cursor_ = 0;
    int64_t play_ms_ = 0;
    double speed_ = 1.0;
    bool player_paused_ = false;
    bool over_ = false;       // the run reached the stretch's end
    bool gone_ = false;
    StreamOpen status_ = StreamOpen::Unreachable;
    bool answered_ = false;
    std::thread fetcher_;
};

}  // namespace playersdk::net
