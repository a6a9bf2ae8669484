#include "core/PictureQueue.h"

#include "core/EngineBounds.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace playersdk {

bool PictureQueue::Push(QueuedPicture picture) {
    bool was_empty = false;
    {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return aborted_ || picture.serial != serial_ || refilling_; });
        if (aborted_ || picture.serial != serial_) {
            lock.unlock();
            av_frame_free(&picture.frame);
            return false;
        }
        picture.id = next_id_++;
        was_empty = items_.empty();
        items_.push_back(picture);
        refilling_ = items_.size() < kPictureQueueSize;
    }
    if (was_empty) consumer_->Ring();
    return true;
}

bool PictureQueue::Pop(QueuedPicture* out) {
    bool refill = false;
    {
        std::lock_guard lock(mutex_);
        if (items_.empty()) return false;
        *out = items_.front();
        items_.pop_front();
        // Only the refill mark wakes the picture thread: a wake-up for every
        // picture taken would be one for nothing.
        if (!refilling_ && items_.size() <= kPictureQueueRefillAt) refill = refilling_ = true;
    }
    if (refill) room_.notify_all();
    return true;
}

std::optional<QueuedPicture> PictureQueue::Front() const {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    return items_.front();
}

bool PictureQueue::Empty() const {
    std::lock_guard lock(mutex_);
    return items_.empty();
}

void PictureQueue::Flush(int serial) {
    {
        std::lock_guard lock(mutex_);
        for (QueuedPicture& picture : items_) av_frame_free(&picture.frame);
        items_.clear();
        serial_ = serial;
        refilling_ = true;
    }
    room_.notify_all();
    consumer_->Ring();
}

void PictureQueue::Abort() {
    {
        std::lock_guard lock(mutex_);
        aborted_ = true;
    }
    room_.notify_all();
    consumer_->Ring();
}

void PictureQueue::Clear() {
    std::lock_guard lock(mutex_);
    for (QueuedPicture& picture : items_) av_frame_free(&picture.frame);
    items_.clear();
}

}  // namespace playersdk
