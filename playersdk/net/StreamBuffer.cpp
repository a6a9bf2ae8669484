#include "net/StreamBuffer.h"

#include <algorithm>
#include <cstring>

#include "core/Barrier.h"
#include "net/HttpGet.h"

namespace playersdk::net {
namespace {

// The most taken from the socket at once.
constexpr size_t kPieceBytes = 64 * 1024;
// A read this far beyond what has arrived fetches from there instead of
// waiting for the bytes in between.
constexpr uint64_t kWaitAheadBytes = 512 * 1024;
// The bit rate is that of the last this much media read, once at least
// kLeastRateSpanMs of it has been; before, the recording's average.
constexpr int64_t kRateSpanMs = 10000;
constexpr int64_t kLeastRateSpanMs = 1000;

}  // namespace

StreamBuffer::StreamBuffer(RecorderLogin login, std::string name, StreamLimits limits)
    : login_(std::move(login)), path_(RecordingPath("stream", name)), limits_(std::move(limits)) {}

StreamBuffer::~StreamBuffer() {
    Interrupt();
    if (fetcher_.joinable()) fetcher_.join();
}

StreamOpen StreamBuffer::Connect(std::chrono::milliseconds budget) {
    std::unique_lock lock(mutex_);
    if (!fetcher_.joinable()) fetcher_ = std::thread([this] { Shielded([this] { Run(); }); });
    changed_.wait_for(lock, budget, [this] { return status_ != 0; });
    if (status_ == 200 || status_ == 206) return ExtentLocked() > 0 ? StreamOpen::Ready : StreamOpen::Missing;
    if (status_ == 401) return StreamOpen::Refused;
    if (status_ == 404) return StreamOpen::Missing;
    return StreamOpen::Unreachable;
}

void StreamBuffer::Run() {
    std::vector<char> piece(kPieceBytes);
    size_t losses = 0;  // in a row, with no byte in between
    std::unique_lock lock(mutex_);
    while (!interrupted_) {
        if (restart_) {
            restart_ = false;
            base_ = end_ = restart_at_;
            complete_ = total_ > 0 && end_ >= total_;
        }
        if (complete_ || gone_) {
            changed_.wait(lock, [this] { return interrupted_ || restart_; });
            continue;
        }
        const uint64_t from = end_;
        const Outcome outcome = FetchOnce(lock, piece);
        if (end_ > from) losses = 0;
        if (outcome != Outcome::Lost && outcome != Outcome::Gone) continue;
        // Losses count once the reader has caught up: while it still has
        // media ahead, the recorder has that long to come back.
        const bool counted = read_pos_ >= end_;
        if (outcome == Outcome::Gone || (counted && losses >= limits_.retry_delays.size())) {
            gone_ = true;
            changed_.notify_all();
            continue;
        }
        const auto delay = limits_.retry_delays[std::min(losses, limits_.retry_delays.size() - 1)];
        if (counted) ++losses;
        changed_.wait_for(lock, delay, [this] { return interrupted_ || restart_; });
        ++reconnections_;
    }
}

StreamBuffer::Outcome StreamBuffer::FetchOnce(std::unique_lock<std::mutex>& lock,
                                              std::vector<char>& piece) {
    const uint64_t from = end_;
    const bool first = status_ == 0;
    abandon_ = false;
    lock.unlock();
    HttpGet get(abandon_, limits_.connect_timeout, limits_.read_timeout);
    HttpHead head;
    const HttpGetResult opened = get.Open(login_, path_, head, static_cast<int64_t>(from));
    lock.lock();
    if (opened == HttpGetResult::Stopped || interrupted_ || restart_) return Outcome::Abandoned;
    if (opened == HttpGetResult::Failed) {
        if (!first) return Outcome::Lost;
        status_ = -1;
        changed_.notify_all();
        return Outcome::Gone;
    }
    if (!AcceptHeadLocked(head, from)) {
        // A recorder in trouble may answer again, and one still writing the
        // recording has no bytes past its end yet (a restarted recorder
        // answers a range from there with 416); a refusal or another
        // recording under the name is final.
        const bool again = head.status >= 500 || (open_length_ && head.status == 416);
        return !first && again ? Outcome::Lost : Outcome::Gone;
    }
    for (;;) {
        size_t room = 0;
        changed_.wait(lock, [&] {
            room = RoomLocked(piece.size());
            return interrupted_ || restart_ || room > 0;
        });
        if (interrupted_ || restart_) return Outcome::Abandoned;
        lock.unlock();
        size_t got = 0;
        const HttpGetResult r = get.ReadSome(piece.data(), room, got);
        lock.lock();
        if (interrupted_ || restart_) return Outcome::Abandoned;
        if (got > 0) AppendLocked(piece.data(), got);
        if (get.BodyOver()) {
            if (open_length_) {
                open_length_ = false;
                total_ = end_;
            }
            complete_ = true;
            changed_.notify_all();
            return Outcome::Done;
        }
        if (r != HttpGetResult::Ok) return r == HttpGetResult::Stopped ? Outcome::Abandoned : Outcome::Lost;
    }
}

bool StreamBuffer::AcceptHeadLocked(const HttpHead& head, uint64_t from) {
    if (status_ == 0) status_ = head.status;
    changed_.notify_all();
    const uint64_t length = head.has_length ? head.content_length : 0;
    const bool ranged = head.status == 206 && head.has_range && head.range_first == from;
    if (head.chunked) {
        // Still being written: its length is not known yet. Once it was
        // known, another recording has come under the same name.
        if (!(ranged && head.range_total == 0) || total_ != 0) return false;
        open_length_ = true;
        held_then_ = std::max(held_then_, head.range_last + 1);
    } else {
        uint64_t size = 0;
        if (ranged && length > 0 && from + length == head.range_total)
            size = head.range_total;
        else if (head.status == 200 && from == 0 && length > 0)
            size = length;
        // Another recording under the same name since the last connection.
        if (size == 0 || (total_ != 0 && size != total_)) return false;
        total_ = size;
        open_length_ = false;
    }
    if (duration_ms_ <= 0) {
        duration_ms_ = static_cast<int64_t>(std::min<uint64_t>(head.recording_duration_ms, INT64_MAX));
        duration_bytes_ = ExtentLocked();
    }
    return true;
}

uint64_t StreamBuffer::ExtentLocked() const { return total_ > 0 ? total_ : std::max(held_then_, end_); }

bool StreamBuffer::NothingMoreLocked() const {
    // While the player opens a recording still being written, it ends where
    // it did when the recorder answered, so that opening never waits for its
    // writer.
    return gone_ || (open_length_ && !following_ && read_pos_ >= end_ && read_pos_ >= held_then_);
}

void StreamBuffer::Opened(bool may_grow) {
    std::lock_guard lock(mutex_);
    following_ = may_grow;
    changed_.notify_all();
}

bool StreamBuffer::BeingWritten() const {
    std::lock_guard lock(mutex_);
    return open_length_;
}

void StreamBuffer::AppendLocked(const char* data, size_t size) {
    if (ring_.empty()) {
        const uint64_t most = limits_.ahead_bytes + limits_.behind_bytes + kPieceBytes;
        ring_.resize(static_cast<size_t>(total_ > 0 ? std::min(total_, most) : most));
    }
    const uint64_t capacity = ring_.size();
    // RoomLocked keeps `size` within what lies behind the reader, so only
    // bytes it has read are overwritten.
    for (size_t done = 0; done < size;) {
        const size_t at = static_cast<size_t>((end_ + done) % capacity);
        const size_t n = std::min<size_t>(size - done, static_cast<size_t>(capacity - at));
        std::memcpy(ring_.data() + at, data + done, n);
        done += n;
    }
    end_ += size;
    if (end_ - base_ > capacity) base_ = end_ - capacity;
    changed_.notify_all();
}

size_t StreamBuffer::RoomLocked(size_t piece) const {
    if (read_pos_ < base_) return 0;           // the reader is elsewhere: a restart follows
    if (read_pos_ >= end_) return piece;       // the reader waits for these bytes
    const uint64_t ahead = end_ - read_pos_;
    // Less than a piece of room waits for more: fewer, larger reads.
    if (ahead + piece > limits_.ahead_bytes || HeldAheadMsLocked() >= limits_.ahead_ms) return 0;
    return piece;
}

size_t StreamBuffer::CopyHeldLocked(uint8_t* buffer, size_t size) const {
    size_t n = static_cast<size_t>(std::min<uint64_t>(end_ - read_pos_, size));
    const size_t at = static_cast<size_t>(read_pos_ % ring_.size());
    n = std::min(n, ring_.size() - at);
    std::memcpy(buffer, ring_.data() + at, n);
    return n;
}

bool StreamBuffer::ComingLocked() const { return read_pos_ >= end_ && read_pos_ <= end_ + kWaitAheadBytes; }

int64_t StreamBuffer::MsOfBytesLocked(uint64_t bytes) const {
    double bytes_per_ms = 0;
    if (!marks_.empty() && marks_.back().ms - marks_.front().ms >= kLeastRateSpanMs) {
        bytes_per_ms = static_cast<double>(marks_.back().pos - marks_.front().pos) /
                       static_cast<double>(marks_.back().ms - marks_.front().ms);
    } else if (duration_bytes_ > 0 && duration_ms_ > 0) {
        bytes_per_ms = static_cast<double>(duration_bytes_) / static_cast<double>(duration_ms_);
    }
    if (bytes_per_ms <= 0) return 0;
    return static_cast<int64_t>(static_cast<double>(bytes) / bytes_per_ms);
}

int64_t StreamBuffer::HeldAheadMsLocked() const {
    // Read by the player: its timestamps say how far ahead of the play
    // position it is. Arrived but not yet read: the bytes, at the recent rate.
    if (!marks_.empty() && marks_.back().pos <= end_ && marks_.back().pos >= base_) {
        return marks_.back().ms - play_ms_ + MsOfBytesLocked(end_ - marks_.back().pos);
    }
    return read_pos_ <= end_ ? MsOfBytesLocked(end_ - read_pos_) : 0;
}

void StreamBuffer::NotePlayMs(int64_t play_ms) {
    std::lock_guard lock(mutex_);
    if (play_ms_ == play_ms) return;
    play_ms_ = play_ms;
    changed_.notify_all();
}

void StreamBuffer::NoteRead(uint64_t byte_pos, int64_t media_ms) {
    std::lock_guard lock(mutex_);
    if (!marks_.empty()) {
        const ReadMark& last = marks_.back();
        if (byte_pos == last.pos && media_ms == last.ms) return;
        // Back in the file or in time, or far ahead: a seek; what was read
        // before says nothing of the rate here.
        if (byte_pos < last.pos || media_ms < last.ms || media_ms - last.ms > kRateSpanMs) marks_.clear();
    }
    marks_.push_back({byte_pos, media_ms});
    while (marks_.size() > 2 && marks_.back().ms - marks_[1].ms >= kRateSpanMs) marks_.pop_front();
    changed_.notify_all();
}

int64_t StreamBuffer::BufferedMs() const {
    std::lock_guard lock(mutex_);
    // Not what the player reads next (a seek elsewhere): nothing is buffered.
    if (restart_ || read_pos_ < base_ || read_pos_ > end_) return 0;
    return ArrivedAheadMsLocked();
}

bool StreamBuffer::Full() const {
    std::lock_guard lock(mutex_);
    return !restart_ && read_pos_ >= base_ && read_pos_ < end_ && RoomLocked(kPieceBytes) == 0;
}

bool StreamBuffer::FetchOver() const {
    std::lock_guard lock(mutex_);
    return (complete_ && !restart_) || gone_ || interrupted_;
}

uint64_t StreamBuffer::TotalBytes() const {
    std::lock_guard lock(mutex_);
    return total_;
}

void StreamBuffer::SetDurationIfUnknown(int64_t ms) {
    std::lock_guard lock(mutex_);
    if (duration_ms_ > 0) return;
    duration_ms_ = ms;
    duration_bytes_ = ExtentLocked();
}

int StreamBuffer::Reconnections() const {
    std::lock_guard lock(mutex_);
    return reconnections_;
}

}  // namespace playersdk::net
