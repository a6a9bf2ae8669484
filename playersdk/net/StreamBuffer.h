// The bytes of one recording streamed from the recorder, fetched on a thread
// of their own into memory ahead of the player, which reads them through a
// StreamInput. A read outside what is held (a seek) fetches again from there.
// Knows how much media is held ahead of the reader, whether the reader is
// waiting for data, and whether the fetch has ended (complete or broken).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/MediaInput.h"
#include "net/RecorderClient.h"

namespace playersdk::net {

enum class StreamOpen { Ready, Unreachable, Refused, Missing };

class StreamBuffer {
public:
    StreamBuffer(RecorderLogin login, std::string name);
    ~StreamBuffer();
    StreamBuffer(const StreamBuffer&) = delete;
    StreamBuffer& operator=(const StreamBuffer&) = delete;

    // Starts fetching from the first byte and waits, at most `budget`, for
    // the recorder's answer.
    StreamOpen Connect(std::chrono::milliseconds budget);
    // Reads made before `deadline` may wait for data; later ones give up
    // (used while the player opens the media, so that opening is bounded).
    void SetReadDeadline(std::chrono::steady_clock::time_point deadline);
    void ClearReadDeadline();

    // MediaInput's operations (see core/MediaInput.h).
    int Read(uint8_t* buffer, int size);
    int64_t Seek(int64_t offset, int whence);
    void Interrupt();

    // Media that has arrived ahead of the play position `play_ms`, in ms:
    // the arrived bytes' end as a media time, from the recording's average
    // bytes per ms. What the player has already read but not yet shown
    // counts too: it is buffered, in the player.
    int64_t BufferedMs(int64_t play_ms) const;
    // How long the reader has been starved, in ms: it caught up with the
    // bytes that have arrived and has not got a little ahead again since.
    // 0 when it is not starved.
    int64_t StarvedMs() const;
    // Forgets a starvation that buffering has just made good.
    void ResetStarved();
    // True when nothing more will arrive: all of it is held, or the
    // connection broke.
    bool FetchOver() const;
    uint64_t TotalBytes() const;
    // The recording's length, when the recorder did not give it.
    void SetDurationIfUnknown(int64_t ms);

private:
    // (Re)starts the fetch at `offset`; call without mutex_ held.
    void FetchFrom(uint64_t offset);
    void Fetch(uint64_t offset, uint64_t generation);
    void StopFetch();
    int64_t HeldMsLocked() const;
    int64_t ArrivedMsLocked() const;

    const RecorderLogin login_;
    const std::string name_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint8_t> data_;   // bytes [base_, base_ + data_.size())
    uint64_t base_ = 0;
    uint64_t read_pos_ = 0;
    uint64_t total_ = 0;          // known once the recorder has answered
    int64_t duration_ms_ = 0;     // from the recorder's answer
    int status_ = 0;              // HTTP status of the first answer; -1 = no answer
    bool fetch_over_ = false;     // the current fetch ended
    bool broken_ = false;         // ...before its last byte
    bool interrupted_ = false;
    bool starved_ = false;
    std::chrono::steady_clock::time_point starved_since_;
    bool has_deadline_ = false;
    std::chrono::steady_clock::time_point deadline_;
    uint64_t generation_ = 0;     // bumped by each FetchFrom

    std::mutex fetch_mutex_;      // one FetchFrom at a time
    std::thread fetcher_;
    httplib::Client* client_ = nullptr;  // of the running fetch, under mutex_
};

// The player's view of a StreamBuffer.
class StreamInput final : public MediaInput {
public:
    explicit StreamInput(std::shared_ptr<StreamBuffer> buffer) : buffer_(std::move(buffer)) {}
    int Read(uint8_t* buffer, int size) override { return buffer_->Read(buffer, size); }
    int64_t Seek(int64_t offset, int whence) override { return buffer_->Seek(offset, whence); }
    void Interrupt() override { buffer_->Interrupt(); }

private:
    std::shared_ptr<StreamBuffer> buffer_;
};

}  // namespace playersdk::net
