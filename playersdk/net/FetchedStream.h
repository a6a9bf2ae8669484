// The reading side of a network stream whose bytes a thread of its own
// fetches into a window ahead of the player, whichever protocol brings them
// (StreamBuffer, ReplayStream); each says through the hooks below what it
// holds and what is on its way.
//
// A read takes what is held at the read position. Where nothing is, it waits
// while the bytes are on their way, and asks the fetch to start again from
// there when they are not; it gives up at an interrupt or a deadline
// (AVERROR_EXIT) and at the stream's end or where nothing more will come
// (AVERROR_EOF). From its first wait the reader is starved, until some media
// has arrived ahead of it again.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "net/StreamSource.h"

namespace playersdk::net {

class FetchedStream : public StreamSource {
public:
    // Reads made before `deadline` may wait for data; later ones give up
    // (used while the player opens the media, so that opening is bounded).
    void SetReadDeadline(std::chrono::steady_clock::time_point deadline);
    void ClearReadDeadline();

    // MediaInput's operations (see core/MediaInput.h).
    int Read(uint8_t* buffer, int size) final;
    int64_t Seek(int64_t offset, int whence) final;
    void Interrupt() final;

    // How long the reader has been starved, in ms: it caught up with the
    // bytes that have arrived and has not got a little ahead again since.
    // 0 when it is not starved.
    int64_t StarvedMs() const final;
    // Forgets a starvation that buffering has just made good.
    void ResetStarved() final;

protected:
    // The hooks, called with mutex_ held.
    // The stream's size in bytes; 0 while unknown.
    virtual uint64_t SizeLocked() const = 0;
    // The bytes known to exist, for the demuxer's questions of size: the
    // size, or of a stream whose size is not known yet, what there is so far.
    virtual uint64_t ExtentLocked() const { return SizeLocked(); }
    // True when bytes at read_pos_ are held and can be copied now.
    virtual bool HeldLocked() const = 0;
    // Copies up to `size` (> 0) of the bytes held at read_pos_; how many.
    virtual size_t CopyHeldLocked(uint8_t* buffer, size_t size) const = 0;
    // True when nothing more will arrive at read_pos_: the media ends where
    // the bytes do.
    virtual bool NothingMoreLocked() const = 0;
    // True when the fetch under way brings the bytes at read_pos_ soon.
    virtual bool ComingLocked() const = 0;
    // Media arrived ahead of read_pos_ and not read yet, in ms.
    virtual int64_t ArrivedAheadMsLocked() const = 0;

    // Asks the fetch to start again from `pos`, ending its connection.
    void RequestRestartLocked(uint64_t pos);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t read_pos_ = 0;
    bool restart_ = false;  // fetch again from restart_at_
    uint64_t restart_at_ = 0;
    bool interrupted_ = false;
    // Set to end the fetch's network waits (a restart, an interrupt).
    std::atomic<bool> abandon_{false};

private:
    bool starved_ = false;
    std::chrono::steady_clock::time_point starved_since_;
    bool has_deadline_ = false;
    std::chrono::steady_clock::time_point deadline_;
};

}  // namespace playersdk::net
