#include "core/CutRecorder.h"

#include "core/Barrier.h"
#include "core/CutWriter.h"

#include <algorithm>
#include <chrono>
#include <vector>
#include "core/DrivePath.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace playersdk {
namespace {

// The packets kept for the next cut: a long key-frame interval at a high rate
// can exceed this, and the cut then starts at a later key frame.
constexpr size_t kMaxKeptBytes = 48u << 20;
// How far the file writing may fall behind before the cut fails.
constexpr size_t kMaxQueuedBytes = 64u << 20;

}  // namespace

// One cut: a writer and the thread that feeds it from a queue.
class CutRecorder::Session {
public:
    Session(std::unique_ptr<CutWriter> writer, const std::atomic<int64_t>* shown_us, int video_stream)
        : writer_(std::move(writer)), shown_us_(shown_us), video_stream_(video_stream) {
        // A writer thread that failed leaves a cut to be removed, not half written.
        thread_ = std::thread([this] {
            if (!Shielded([this] { Run(); })) writer_->Fail();
        });
    }
    ~Session() { Finish(); }

    // Takes a reference to the packet.
    void Queue(const AVPacket* packet, int64_t time_us) {
        AVPacket* copy = av_packet_clone(packet);
        if (copy == nullptr) return Overflow();
        std::lock_guard lock(mutex_);
        if (overflowed_ || finishing_) {
            av_packet_free(&copy);
            return;
        }
        queued_bytes_ += static_cast<size_t>(copy->size);
        queue_.push_back({copy, time_us});
        if (queued_bytes_ > kMaxQueuedBytes) {
            overflowed_ = true;
            ClearLocked();
        }
        wake_.notify_one();
    }
    // The part watched so far ends with the picture at shown_until_us: what
    // was read beyond it is dropped, and the next part starts at a key frame.
    void EndPart(int64_t shown_until_us) {
        std::lock_guard lock(mutex_);
        if (overflowed_ || finishing_) return;
        queue_.push_back({nullptr, INT64_MIN});
        part_ends_.push_back(shown_until_us);
        wake_.notify_one();
    }
    // Writes what is queued up to the picture on screen, then the end of the file.
    bool Finish() {
        {
            std::lock_guard lock(mutex_);
            if (finishing_ && !thread_.joinable()) return result_;
            finishing_ = true;
            end_us_ = shown_us_->load();
            wake_.notify_one();
        }
        if (thread_.joinable()) thread_.join();
        if (overflowed_) writer_->Fail();
        result_ = writer_->Finish();
        return result_;
    }

private:
    void Overflow() {
        std::lock_guard lock(mutex_);
        overflowed_ = true;
    }
    void ClearLocked() {
        for (Item& each : queue_) av_packet_free(&each.packet);
        queue_.clear();
        part_ends_.clear();
        queued_bytes_ = 0;
    }
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (queue_.empty()) {
                if (finishing_) return;
                wake_.wait(lock);
                continue;
            }
            const Item& front = queue_.front();
            if (front.packet != nullptr && front.time_us != INT64_MIN) {
                if (!finishing_ && part_ends_.empty() && front.time_us > shown_us_->load()) {
                    wake_.wait_for(lock, std::chrono::milliseconds(20));
                    continue;
                }
                // Read ahead of the last picture shown, of an earlier part
                // left by a seek or of the last part once the cut has ended.
                const bool unseen = !part_ends_.empty() ? front.time_us > part_ends_.front()
                                                        : finishing_ && !WithinEndLocked(front);
                if (unseen) {
                    AVPacket* dropped = front.packet;
                    queue_.pop_front();
                    queued_bytes_ -= static_cast<size_t>(dropped->size);
                    av_packet_free(&dropped);
                    continue;
                }
            }
            AVPacket* packet = front.packet;
            queue_.pop_front();
            if (packet != nullptr) {
                queued_bytes_ -= static_cast<size_t>(packet->size);
            } else {
                part_ends_.pop_front();
            }
            lock.unlock();
            if (packet != nullptr) {
                writer_->Write(packet);
                av_packet_free(&packet);
            } else {
                writer_->Discontinuity();
            }
            lock.lock();
        }
    }

    struct Item {
        AVPacket* packet = nullptr;
        int64_t time_us = INT64_MIN;
    };
    // Once the cut ends, whether a packet of its last part belongs in it.
    // Sound and pictures are interleaved by decoding time, so sound past the
    // end may come before the last pictures: each packet is judged alone.
    // Pictures are kept up to the last one shown in decoding order, with the
    // references it needs even when they are presented after it, and the
    // pictures presented before those references, so that none is missing.
    bool WithinEndLocked(const Item& item) {
        if (item.packet->stream_index != video_stream_) return item.time_us <= end_us_;
        if (pictures_to_end_ < 0) {
            std::vector<int64_t> times;  // of the pictures queued, in decoding order
            for (const Item& each : queue_) {
                if (each.packet != nullptr && each.packet->stream_index == video_stream_) times.push_back(each.time_us);
            }
            size_t kept = 0;
            for (size_t i = 0; i < times.size(); ++i) {
                if (times[i] != INT64_MIN && times[i] <= end_us_) kept = i + 1;
            }
            const int64_t latest = kept > 0 ? *std::max_element(times.begin(), times.begin() + static_cast<long>(kept)) : 0;
            while (kept > 0 && kept < times.size() && times[kept] != INT64_MIN && times[kept] < latest) ++kept;
            pictures_to_end_ = static_cast<int64_t>(kept);
        }
        if (pictures_to_end_ == 0) return false;
        --pictures_to_end_;
        return true;
    }
    std::unique_ptr<CutWriter> writer_;
    const std::atomic<int64_t>* shown_us_;
    const int video_stream_;
    int64_t end_us_ = INT64_MAX;
    int64_t pictures_to_end_ = -1;  // picture packets of the last part still to write; -1 not yet counted
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;          // packets, and a null one where a part ends
    std::deque<int64_t> part_ends_;   // the last shown time of each part ended in queue_
    size_t queued_bytes_ = 0;
    bool overflowed_ = false;
    bool finishing_ = false;
    bool result_ = false;
    std::thread thread_;
};

CutRecorder::CutRecorder(const AVFormatContext* input, int video_stream, int audio_stream,
                         const std::atomic<int64_t>* shown_us)
    : input_(input), shown_us_(shown_us), video_stream_(video_stream), audio_stream_(audio_stream) {}

CutRecorder::~CutRecorder() {
    Stop();
    for (Kept& kept : kept_) av_packet_free(&kept.packet);
}

void CutRecorder::DropFrontSegmentLocked() {
    // Up to (not including) the second key frame.
    bool first = true;
    while (!kept_.empty() && (first || !kept_.front().key)) {
        first = false;
        kept_bytes_ -= static_cast<size_t>(kept_.front().packet->size);
        av_packet_free(&kept_.front().packet);
        kept_.pop_front();
    }
}

void CutRecorder::TrimLocked(int64_t shown_us) {
    for (;;) {
        // The second key frame kept, if the picture on screen is at or past it.
        auto second = kept_.end();
        for (auto it = kept_.begin() + (kept_.empty() ? 0 : 1); it != kept_.end(); ++it) {
            if (it->key) {
                second = it;
                break;
            }
        }
        if (second == kept_.end()) break;
        if (second->time_us > shown_us && kept_bytes_ <= kMaxKeptBytes) break;
        DropFrontSegmentLocked();
    }
    if (kept_bytes_ > kMaxKeptBytes) {
        // One segment larger than the bound: start again at the next key frame.
        while (!kept_.empty()) DropFrontSegmentLocked();
    }
}

void CutRecorder::Add(const AVPacket* packet, int64_t time_us, int64_t shown_us) {
    if (packet->stream_index != video_stream_ && packet->stream_index != audio_stream_) return;
    bool key = packet->stream_index == video_stream_ && (packet->flags & AV_PKT_FLAG_KEY) != 0;
    std::lock_guard lock(mutex_);
    if (seeking_) return;  // read before the seek: never shown
    if (session_) session_->Queue(packet, time_us);
    if (kept_.empty() && !key) return;  // kept packets start with a key frame
    AVPacket* copy = av_packet_clone(packet);
    if (copy == nullptr) return;
    kept_.push_back({copy, time_us, key});
    kept_bytes_ += static_cast<size_t>(copy->size);
    TrimLocked(shown_us);
}

void CutRecorder::SeekAsked(int64_t shown_until_us) {
    std::lock_guard lock(mutex_);
    if (seeking_) return;  // the part already ended at the first of these seeks
    seeking_ = true;
    while (!kept_.empty()) DropFrontSegmentLocked();
    if (session_) session_->EndPart(shown_until_us);
}

void CutRecorder::SeekDone() {
    std::lock_guard lock(mutex_);
    seeking_ = false;
}

bool CutRecorder::Start(const std::string& path, int64_t shown_us) {
    // The file is created, and its header written, before taking the lock.
    std::unique_ptr<CutWriter> writer = CutWriter::Start(MapDrivePath(path), input_, video_stream_, audio_stream_);
    const bool started = writer != nullptr;
    std::unique_ptr<Session> previous;
    if (writer) {
        auto session = std::make_unique<Session>(std::move(writer), shown_us_, video_stream_);
        std::lock_guard lock(mutex_);
        // From the last key frame at or before the picture on screen.
        auto from = kept_.end();
        for (auto it = kept_.begin(); it != kept_.end(); ++it) {
            if (it->key && (from == kept_.end() || it->time_us <= shown_us)) from = it;
            if (it->key && it->time_us > shown_us) break;
        }
        for (auto it = from; it != kept_.end(); ++it) session->Queue(it->packet, it->time_us);
        previous = std::move(session_);
        session_ = std::move(session);
    } else {
        std::lock_guard lock(mutex_);
        previous = std::move(session_);
    }
    if (previous) previous->Finish();
    return started;
}

bool CutRecorder::Stop() {
    std::unique_ptr<Session> session;
    {
        std::lock_guard lock(mutex_);
        session = std::move(session_);
    }
    return session ? session->Finish() : false;
}

}  // namespace playersdk
