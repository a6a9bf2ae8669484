// The bytes of one recording streamed from the recorder, fetched on a thread
// of their own into a bounded window ahead of the player, which reads them
// through a StreamInput.
//
// The window holds at most `ahead_bytes` or `ahead_ms` of media ahead of the
// player, whichever comes first (media time counted from the timestamps of
// what the player has read, and the bytes it has not read yet at the bit rate
// of that recent stretch, since a recording's bit rate follows its scene), plus `behind_bytes` behind the reader for
// the demuxer's short seeks back. Once it is full the fetch stops reading the
// socket, so the recorder's sending waits too. A read outside the window (a
// seek) fetches again from there with a range request. A connection lost
// midway is resumed with a range request from the last byte received, after
// a back-off, again and again while the reader has media ahead and a few
// times in a row once it has caught up; only when those fail is the
// recorder taken as gone, and the media ends where the bytes end.
//
// A recording still being written comes with its length open (in chunks):
// while the player opens it, its end is where it ended at the recorder's
// answer; once opened, a read at the end waits for more, and the media ends
// when the recorder's body does (the file at rest). A reconnection resumes
// from the last byte received, as for a whole recording.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/MediaInput.h"
#include "net/FetchedStream.h"
#include "net/HttpGet.h"
#include "net/RecorderClient.h"

namespace playersdk::net {

enum class StreamOpen { Ready, Unreachable, Refused, Missing };

struct StreamLimits {
    uint64_t ahead_bytes = 32 * 1024 * 1024;
    int64_t ahead_ms = 30000;
    uint64_t behind_bytes = 8 * 1024 * 1024;
    // The waits before each reconnection in a row once the reader has
    // caught up; one more loss then gives up. Doubling from 100 ms up to
    // 500 ms, so that a recorder back after a restart is found again within
    // half a second; some 7 s in all before giving up.
    std::vector<std::chrono::milliseconds> retry_delays = {
        std::chrono::milliseconds(100), std::chrono::milliseconds(200), std::chrono::milliseconds(400),
        std::chrono::milliseconds(500), std::chrono::milliseconds(500), std::chrono::milliseconds(500),
        std::chrono::milliseconds(500), std::chrono::milliseconds(500), std::chrono::milliseconds(500),
        std::chrono::milliseconds(500), std::chrono::milliseconds(500), std::chrono::milliseconds(500),
        std::chrono::milliseconds(500), std::chrono::milliseconds(500), std::chrono::milliseconds(500)};
    std::chrono::milliseconds connect_timeout = std::chrono::seconds(2);
    // A recorder that sends nothing for this long, while bytes are wanted,
    // has gone away.
    std::chrono::milliseconds read_timeout = std::chrono::seconds(10);
};

class StreamBuffer final : public FetchedStream {
public:
    StreamBuffer(RecorderLogin login, std::string name, StreamLimits limits = {});
    ~StreamBuffer();
    StreamBuffer(const StreamBuffer&) = delete;
    StreamBuffer& operator=(const StreamBuffer&) = delete;

    // Starts fetching from the first byte and waits, at most `budget`, for
    // the recorder's answer.
    StreamOpen Connect(std::chrono::milliseconds budget);
    // From now on a read at the end of a recording still being written waits
    // for more, when the player can read it further (`may_grow`).
    void Opened(bool may_grow) override;
    // True while the recording is still being written at the recorder.
    bool BeingWritten() const override;

    // The player's play position, in ms, for the bound in seconds ahead.
    void NotePlayMs(int64_t play_ms) override;
    // A file is fetched as fast as the link goes, whatever the pace.
    void NotePace(double, bool) override {}
    // Where the player's reading has got to: the byte position of a packet it
    // has just read and that packet's media time. The bit rate of the last
    // stretch read converts the bytes held ahead of it into media time.
    void NoteRead(uint64_t byte_pos, int64_t media_ms) override;
    // Media that has arrived ahead of the reader, in ms, at the bit rate of
    // the stretch the player read last (the recording's average until it has
    // read some). What the player has read but not yet shown is left out:
    // after a stall there is none.
    int64_t BufferedMs() const override;
    // True when the window holds all it may ahead of the reader: the fetch
    // waits for the player to read.
    bool Full() const override;
    // True when nothing more will arrive: all of it has, or the recorder is
    // gone (every reconnection failed).
    bool FetchOver() const override;
    uint64_t TotalBytes() const;
    // The recording's length, when the recorder did not give it.
    void SetDurationIfUnknown(int64_t ms) override;
    // Reconnections attempted after lost connections.
    int Reconnections() const;

private:
    enum class Outcome { Done, Lost, Gone, Abandoned };
    void Run();
    // One connection from end_ on; called and returns with mutex_ held.
    Outcome FetchOnce(std::unique_lock<std::mutex>& lock, std::vector<char>& piece);
    // Takes the answer's head; false when it is not the range asked for.
    bool AcceptHeadLocked(const HttpHead& head, uint64_t from);
    void AppendLocked(const char* data, size_t size);
    // Bytes the fetch may take now; 0 when the window is full.
    size_t RoomLocked(size_t piece) const;

    // The reading side's hooks (see net/FetchedStream.h).
    uint64_t SizeLocked() const override { return total_; }
    // The whole recording's bytes, or what the recorder held of one still
    // being written when it last answered.
    uint64_t ExtentLocked() const override;
    bool HeldLocked() const override { return read_pos_ >= base_ && read_pos_ < end_; }
    size_t CopyHeldLocked(uint8_t* buffer, size_t size) const override;
    bool NothingMoreLocked() const override;
    bool ComingLocked() const override;
    int64_t ArrivedAheadMsLocked() const override { return MsOfBytesLocked(end_ - read_pos_); }
    // Bytes as media time, at the recent bit rate.
    int64_t MsOfBytesLocked(uint64_t bytes) const;
    int64_t HeldAheadMsLocked() const;

    const RecorderLogin login_;
    const std::string path_;
    const StreamLimits limits_;

    std::vector<uint8_t> ring_;   // byte p of the recording at ring_[p % ring_.size()]
    uint64_t base_ = 0;           // bytes [base_, end_) are held
    uint64_t end_ = 0;
    int64_t play_ms_ = 0;
    // What the player read lately: byte positions and media times in reading
    // order, over the last few seconds of media; cleared by a seek.
    struct ReadMark {
        uint64_t pos;
        int64_t ms;
    };
    std::deque<ReadMark> marks_;
    uint64_t total_ = 0;          // known once the recorder has answered, or its body of open length ended
    bool open_length_ = false;    // still being written: the length comes when the body ends
    uint64_t held_then_ = 0;      // of one still being written: what the recorder held when it answered
    bool following_ = false;      // reads at the end of one still being written wait for more
    int64_t duration_ms_ = 0;     // from the recorder's answer
    uint64_t duration_bytes_ = 0; // what the recorder held when it told duration_ms_ (one being written grows)
    int status_ = 0;              // HTTP status of the first answer; -1 = no answer
    bool complete_ = false;       // every byte up to total_ has arrived
    bool gone_ = false;
    int reconnections_ = 0;
    std::thread fetcher_;
};


}  // namespace playersdk::net
