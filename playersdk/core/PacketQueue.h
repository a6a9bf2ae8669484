// A bounded queue of demultiplexed packets for one decoding thread. Each
// packet carries the serial of the seek it was read after, so that the thread
// taking it can drop what an earlier seek left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

struct AVPacket;

namespace playersdk {

struct QueuedPacket {
    AVPacket* packet = nullptr;
    int serial = 0;
    int64_t duration_us = 0;
};

// Not locked itself: guarded by the player's lock.
class PacketQueue {
public:
    PacketQueue() = default;
    ~PacketQueue() { Clear(); }
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;

    // Takes the packet over.
    void Push(AVPacket* packet, int serial, int64_t duration_us);
    QueuedPacket Pop();
    const QueuedPacket& Front() const { return items_.front(); }
    bool Empty() const { return items_.empty(); }
    size_t Count() const { return items_.size(); }
    size_t Bytes() const { return bytes_; }
    int64_t DurationUs() const { return duration_us_; }
    // Whether it holds this share of what a full queue holds.
    bool HoldsShare(double share) const;
    void Clear();

private:
    std::deque<QueuedPacket> items_;
    size_t bytes_ = 0;
    int64_t duration_us_ = 0;
};

}  // namespace playersdk
