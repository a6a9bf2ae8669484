// A bounded queue of demultiplexed packets between the read thread and one
// decoding thread, with a lock of its own. Each packet carries the queue's
// serial when it was pushed: the read thread flushes the queue to a new serial
// at every seek, so the thread taking a packet knows what an earlier seek left.
// The read thread marks the end of the input; Abort ends every wait for good.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "core/Wakeup.h"

struct AVPacket;

namespace playersdk {

struct QueuedPacket {
    AVPacket* packet = nullptr;
    int serial = 0;
    int64_t time_us = 0;       // media time, or INT64_MIN when unknown
    int64_t duration_us = 0;
};

class PacketQueue {
public:
    // `refill` is rung when a packet taken leaves the queue below
    // kRefillShare of full, so that the read thread refills it in one go;
    // `consumer`, when given, at every push, flush, end and abort, for a
    // consumer that waits on more than this queue.
    explicit PacketQueue(Wakeup* refill, Wakeup* consumer = nullptr) : refill_(refill), consumer_(consumer) {}
    ~PacketQueue() { Clear(); }
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;

    // Takes the packet over, under the queue's serial (freed once aborted).
    void Push(AVPacket* packet, int64_t time_us, int64_t duration_us);
    // Takes the front packet, if there is one.
    bool Pop(QueuedPacket* out);
    // Takes the front packet only when it is of this serial.
    bool PopOf(int serial, QueuedPacket* out);
    // A copy of the front: its packet stays the queue's, to look at, not to keep.
    std::optional<QueuedPacket> Front() const;
    // Drops every packet; what comes next is of `serial`, and the end is
    // not reached any more.
    void Flush(int serial);
    // Every packet of this serial is in.
    void MarkEnd();
    // Every wait ends, and nothing is queued any more.
    void Abort();

    // Until there is a packet, the end is marked (unless end_seen), the
    // serial is other than `serial`, or the queue is aborted.
    void Await(int serial, bool end_seen);
    // Until the serial is other than `serial`, or the queue is aborted.
    void AwaitSerialChange(int serial);

    int Serial() const;
    bool Empty() const;
    bool EndMarked() const;
    // The end is marked and every packet is taken.
    bool Finished() const;
    size_t Bytes() const;
    int64_t DurationUs() const;
    // Whether it holds this share of what a full queue holds.
    bool HoldsShare(double share) const;
    void Clear();

private:
    template <class Wanted>
    bool PopWhen(QueuedPacket* out, Wanted wanted);
    bool HoldsShareLocked(double share) const;
    void ChangedLocked();

    Wakeup* const refill_;
    Wakeup* const consumer_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QueuedPacket> items_;
    size_t bytes_ = 0;
    int64_t duration_us_ = 0;
    int serial_ = 0;
    bool ended_ = false;
    bool aborted_ = false;
};

}  // namespace playersdk
