#include "core/PacketQueue.h"

#include "core/EngineBounds.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace playersdk {

void PacketQueue::ChangedLocked() {
    changed_.notify_all();
    if (consumer_ != nullptr) consumer_->Ring();
}

void PacketQueue::Push(AVPacket* packet, int64_t time_us, int64_t duration_us) {
    std::lock_guard lock(mutex_);
    if (aborted_) {
        av_packet_free(&packet);
        return;
    }
    bytes_ += static_cast<size_t>(packet->size);
    duration_us_ += duration_us;
    items_.push_back({packet, serial_, time_us, duration_us});
    ChangedLocked();
}

bool PacketQueue::Pop(QueuedPacket* out) { return PopWhen(out, [](const QueuedPacket&) { return true; }); }

bool PacketQueue::PopOf(int serial, QueuedPacket* out) {
    return PopWhen(out, [serial](const QueuedPacket& front) { return front.serial == serial; });
}

template <class Wanted>
bool PacketQueue::PopWhen(QueuedPacket* out, Wanted wanted) {
    bool low;
    {
        std::lock_guard lock(mutex_);
        if (items_.empty() || !wanted(items_.front())) return false;
        *out = items_.front();
        items_.pop_front();
        bytes_ -= static_cast<size_t>(out->packet->size);
        duration_us_ -= out->duration_us;
        low = !HoldsShareLocked(kRefillShare);
    }
    if (low) refill_->Ring();
    return true;
}

std::optional<QueuedPacket> PacketQueue::Front() const {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    return items_.front();
}

void PacketQueue::Flush(int serial) {
    std::lock_guard lock(mutex_);
    for (QueuedPacket& item : items_) av_packet_free(&item.packet);
    items_.clear();
    bytes_ = 0;
    duration_us_ = 0;
    serial_ = serial;
    ended_ = false;
    ChangedLocked();
}

void PacketQueue::MarkEnd() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    ChangedLocked();
}

void PacketQueue::Abort() {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    ChangedLocked();
}

void PacketQueue::Await(int serial, bool end_seen) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return aborted_ || serial_ != serial || !items_.empty() || (ended_ && !end_seen); });
}

void PacketQueue::AwaitSerialChange(int serial) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return aborted_ || serial_ != serial; });
}

int PacketQueue::Serial() const {
    std::lock_guard lock(mutex_);
    return serial_;
}

bool PacketQueue::Empty() const {
    std::lock_guard lock(mutex_);
    return items_.empty();
}

bool PacketQueue::EndMarked() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

bool PacketQueue::Finished() const {
    std::lock_guard lock(mutex_);
    return ended_ && items_.empty();
}

size_t PacketQueue::Bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

int64_t PacketQueue::DurationUs() const {
    std::lock_guard lock(mutex_);
    return duration_us_;
}

bool PacketQueue::HoldsShare(double share) const {
    std::lock_guard lock(mutex_);
    return HoldsShareLocked(share);
}

bool PacketQueue::HoldsShareLocked(double share) const {
    return static_cast<double>(items_.size()) >= static_cast<double>(kMinQueuedPackets) * share &&
           (static_cast<double>(duration_us_) >= static_cast<double>(kQueueAheadUs) * share || duration_us_ == 0);
}

void PacketQueue::Clear() {
    std::lock_guard lock(mutex_);
    for (QueuedPacket& item : items_) av_packet_free(&item.packet);
    items_.clear();
    bytes_ = 0;
    duration_us_ = 0;
}

}  // namespace playersdk
