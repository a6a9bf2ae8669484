#include "core/PictureQueue.h"

#include "core/EngineBounds.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace playersdk {

void PictureQueue::Push(QueuedPicture picture) {
    picture.id = next_id_++;
    items_.push_back(picture);
}

QueuedPicture PictureQueue::Pop() {
    QueuedPicture picture = items_.front();
    items_.pop_front();
    return picture;
}

bool PictureQueue::Full() const { return items_.size() >= kPictureQueueSize; }

void PictureQueue::Clear() {
    for (QueuedPicture& picture : items_) av_frame_free(&picture.frame);
    items_.clear();
}

}  // namespace playersdk
