// The short queue of decoded pictures between the picture thread and the
// presenter. Each picture carries the serial of the seek it was decoded after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

struct AVFrame;

namespace playersdk {

struct QueuedPicture {
    AVFrame* frame = nullptr;   // nullptr: the end of the pictures
    int serial = 0;
    int64_t time_us = 0;
    int64_t duration_us = 0;
    bool preview = false;       // the key frame a seek landed on, before its target
    uint64_t id = 0;
};

// Not locked itself: guarded by the player's lock.
class PictureQueue {
public:
    PictureQueue() = default;
    ~PictureQueue() { Clear(); }
    PictureQueue(const PictureQueue&) = delete;
    PictureQueue& operator=(const PictureQueue&) = delete;

    // Takes the picture over and gives it an id of its own.
    void Push(QueuedPicture picture);
    QueuedPicture Pop();
    const QueuedPicture& Front() const { return items_.front(); }
    bool Empty() const { return items_.empty(); }
    bool Full() const;
    void Clear();

private:
    std::deque<QueuedPicture> items_;
    uint64_t next_id_ = 1;
};

}  // namespace playersdk
