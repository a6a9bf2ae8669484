// The short queue of decoded pictures between the picture thread and the
// presenter, with a lock of its own. Each picture carries the serial of the
// seek it was decoded after; the read thread flushes the queue to a new serial
// at every seek, and a picture of an older one is not taken in.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "core/Wakeup.h"

struct AVFrame;

namespace playersdk {

struct QueuedPicture {
    AVFrame* frame = nullptr;   // nullptr: the end of the pictures
    int serial = 0;
    int64_t time_us = 0;
    int64_t duration_us = 0;
    bool preview = false;       // the key frame a seek landed on, before its target
    bool landing = false;       // the picture an exact seek lands on
    uint64_t id = 0;
};

class PictureQueue {
public:
    // `consumer` is rung at a push into an empty queue (its consumer waits
    // for a picture only once it has taken every one there was; a wake-up per
    // picture besides costs a context switch for nothing), at every flush and
    // at the abort.
    explicit PictureQueue(Wakeup* consumer) : consumer_(consumer) {}
    ~PictureQueue() { Clear(); }
    PictureQueue(const PictureQueue&) = delete;
    PictureQueue& operator=(const PictureQueue&) = delete;

    // Waits for room (after filling up, until the queue is down to its
    // refill mark), then takes the picture over and gives it an id of its
    // own. False, with the picture freed, when it is of another serial than
    // the queue's or the queue is aborted.
    bool Push(QueuedPicture picture);
    bool Pop(QueuedPicture* out);
    // A copy of the front: its frame stays the queue's, to look at, not to keep.
    std::optional<QueuedPicture> Front() const;
    bool Empty() const;
    // Drops every picture; what comes next is of `serial`.
    void Flush(int serial);
    // Every wait ends, and nothing is taken in any more.
    void Abort();
    void Clear();

private:
    Wakeup* const consumer_;
    mutable std::mutex mutex_;
    std::condition_variable room_;
    std::deque<QueuedPicture> items_;
    uint64_t next_id_ = 1;
    int serial_ = 0;
    bool aborted_ = false;
    // Pushing goes on until the queue is full, then waits for the refill mark.
    bool refilling_ = true;
};

}  // namespace playersdk
