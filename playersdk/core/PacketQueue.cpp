#include "core/PacketQueue.h"

#include "core/EngineBounds.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace playersdk {

void PacketQueue::Push(AVPacket* packet, int serial, int64_t duration_us) {
    bytes_ += static_cast<size_t>(packet->size);
    duration_us_ += duration_us;
    items_.push_back({packet, serial, duration_us});
}

QueuedPacket PacketQueue::Pop() {
    QueuedPacket item = items_.front();
    items_.pop_front();
    bytes_ -= static_cast<size_t>(item.packet->size);
    duration_us_ -= item.duration_us;
    return item;
}

void PacketQueue::Clear() {
    for (QueuedPacket& item : items_) av_packet_free(&item.packet);
    items_.clear();
    bytes_ = 0;
    duration_us_ = 0;
}

bool PacketQueue::HoldsShare(double share) const {
    return static_cast<double>(Count()) >= static_cast<double>(kMinQueuedPackets) * share &&
           (static_cast<double>(duration_us_) >= static_cast<double>(kQueueAheadUs) * share ||
            duration_us_ == 0);
}

}  // namespace playersdk
