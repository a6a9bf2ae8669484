#include "net/StreamBuffer.h"

#include <httplib.h>

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace playersdk::net {
namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(2);
// A recorder that sends nothing for this long has gone away.
constexpr auto kReadTimeout = std::chrono::seconds(10);
// A read this far beyond what has arrived fetches from there instead of
// waiting for the bytes in between.
constexpr uint64_t kWaitAheadBytes = 512 * 1024;
// Bytes kept behind the reader, for the demuxer's short seeks back.
constexpr uint64_t kKeepBehindBytes = 32 * 1024 * 1024;
// A starved reader is fed again once this much media is held ahead of it.
constexpr int64_t kFedAgainMs = 300;

// "bytes a-b/total" -> total; 0 when absent or malformed.
uint64_t TotalFromContentRange(const std::string& range) {
    const size_t slash = range.rfind('/');
    if (slash == std::string::npos || slash + 1 >= range.size()) return 0;
    const std::string total = range.substr(slash + 1);
    if (total.find_first_not_of("0123456789") != std::string::npos || total.size() > 19) return 0;
    return std::stoull(total);
}

}  // namespace

StreamBuffer::StreamBuffer(RecorderLogin login, std::string name)
    : login_(std::move(login)), name_(std::move(name)) {}

StreamBuffer::~StreamBuffer() {
    Interrupt();
    std::lock_guard fetch_lock(fetch_mutex_);
    StopFetch();
}

StreamOpen StreamBuffer::Connect(std::chrono::milliseconds budget) {
    FetchFrom(0);
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, budget, [this] { return status_ != 0; });
    if (status_ == 200 || status_ == 206) return total_ > 0 ? StreamOpen::Ready : StreamOpen::Missing;
    if (status_ == 401) return StreamOpen::Refused;
    if (status_ == 404) return StreamOpen::Missing;
    return StreamOpen::Unreachable;
}

void StreamBuffer::SetReadDeadline(std::chrono::steady_clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    has_deadline_ = true;
    deadline_ = deadline;
}

void StreamBuffer::ClearReadDeadline() {
    std::lock_guard lock(mutex_);
    has_deadline_ = false;
}

void StreamBuffer::StopFetch() {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        if (client_) client_->stop();
        changed_.notify_all();
    }
    if (fetcher_.joinable()) fetcher_.join();
}

void StreamBuffer::FetchFrom(uint64_t offset) {
    std::lock_guard fetch_lock(fetch_mutex_);
    StopFetch();
    std::lock_guard lock(mutex_);
    if (interrupted_) return;
    data_.clear();
    base_ = offset;
    fetch_over_ = false;
    broken_ = false;
    const uint64_t generation = ++generation_;
    fetcher_ = std::thread([this, offset, generation] { Fetch(offset, generation); });
}

void StreamBuffer::Fetch(uint64_t offset, uint64_t generation) {
    auto client = MakeClient(login_, kConnectTimeout, kReadTimeout);
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
        client_ = client.get();
    }
    const httplib::Headers headers = {{"Range", "bytes=" + std::to_string(offset) + "-"}};
    const auto res = client->Get(
        RecordingPath("stream", name_), headers,
        [&](const httplib::Response& head) {
            std::lock_guard lock(mutex_);
            if (generation != generation_) return false;
            if (status_ == 0) status_ = head.status;
            if (head.status != 206 && !(head.status == 200 && offset == 0)) return false;
            uint64_t total = TotalFromContentRange(head.get_header_value("Content-Range"));
            if (total == 0 && head.status == 200)
                total = std::strtoull(head.get_header_value("Content-Length").c_str(), nullptr, 10);
            if (total_ == 0) total_ = total;
            const std::string duration = head.get_header_value("X-Recording-Duration-Ms");
            if (duration_ms_ == 0) duration_ms_ = std::strtoll(duration.c_str(), nullptr, 10);
            changed_.notify_all();
            return total_ > 0;
        },
        [&](const char* data, size_t size) {
            std::lock_guard lock(mutex_);
            if (generation != generation_ || interrupted_) return false;
            data_.insert(data_.end(), data, data + size);
            // Drop what lies far behind the reader.
            if (read_pos_ > base_ + 2 * kKeepBehindBytes &&
                read_pos_ <= base_ + data_.size()) {
                const uint64_t drop = read_pos_ - kKeepBehindBytes - base_;
                data_.erase(data_.begin(), data_.begin() + static_cast<ptrdiff_t>(drop));
                base_ += drop;
            }
            changed_.notify_all();
            return true;
        });
    std::lock_guard lock(mutex_);
    client_ = nullptr;
    if (status_ == 0) status_ = -1;  // no answer at all
    if (generation != generation_) return;
    fetch_over_ = true;
    broken_ = !(res && total_ > 0 && base_ + data_.size() >= total_);
    changed_.notify_all();
}

int StreamBuffer::Read(uint8_t* buffer, int size) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (interrupted_) return AVERROR_EXIT;
        if (total_ > 0 && read_pos_ >= total_) return AVERROR_EOF;
        const uint64_t end = base_ + data_.size();
        if (read_pos_ >= base_ && read_pos_ < end) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(end - read_pos_, static_cast<uint64_t>(size)));
            std::memcpy(buffer, data_.data() + (read_pos_ - base_), n);
            read_pos_ += n;
            if (starved_ && HeldMsLocked() >= kFedAgainMs) starved_ = false;
            return static_cast<int>(n);
        }
        if (read_pos_ < base_ || read_pos_ > end + kWaitAheadBytes) {
            // Outside what is held or on its way: fetch from the reader's place.
            const uint64_t from = read_pos_;
            lock.unlock();
            FetchFrom(from);
            lock.lock();
            continue;
        }
        // The bytes will not come: what was held has been played.
        if (fetch_over_) return AVERROR_EOF;
        if (has_deadline_ && std::chrono::steady_clock::now() >= deadline_) return AVERROR_EXIT;
        if (!starved_) {
            starved_ = true;
            starved_since_ = std::chrono::steady_clock::now();
        }
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

int64_t StreamBuffer::Seek(int64_t offset, int whence) {
    std::lock_guard lock(mutex_);
    if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) return total_ > 0 ? static_cast<int64_t>(total_) : -1;
    int64_t target;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: target = offset; break;
        case SEEK_CUR: target = static_cast<int64_t>(read_pos_) + offset; break;
        case SEEK_END: target = static_cast<int64_t>(total_) + offset; break;
        default: return -1;
    }
    if (target < 0 || (total_ > 0 && static_cast<uint64_t>(target) > total_)) return -1;
    read_pos_ = static_cast<uint64_t>(target);
    changed_.notify_all();
    return target;
}

void StreamBuffer::Interrupt() {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    if (client_) client_->stop();
    changed_.notify_all();
}

int64_t StreamBuffer::HeldMsLocked() const {
    const uint64_t end = base_ + data_.size();
    if (total_ == 0 || read_pos_ < base_ || read_pos_ >= end) return 0;
    return static_cast<int64_t>(static_cast<double>(end - read_pos_) *
                                static_cast<double>(duration_ms_) / static_cast<double>(total_));
}

int64_t StreamBuffer::ArrivedMsLocked() const {
    if (total_ == 0) return 0;
    return static_cast<int64_t>(static_cast<double>(base_ + data_.size()) *
                                static_cast<double>(duration_ms_) / static_cast<double>(total_));
}

int64_t StreamBuffer::BufferedMs(int64_t play_ms) const {
    std::lock_guard lock(mutex_);
    // Not what the player reads next (a seek elsewhere): nothing is buffered.
    if (read_pos_ < base_ || read_pos_ > base_ + data_.size()) return 0;
    return std::max<int64_t>(0, ArrivedMsLocked() - play_ms);
}

void StreamBuffer::ResetStarved() {
    std::lock_guard lock(mutex_);
    starved_ = false;
}

int64_t StreamBuffer::StarvedMs() const {
    std::lock_guard lock(mutex_);
    if (!starved_) return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 starved_since_)
        .count();
}

bool StreamBuffer::FetchOver() const {
    std::lock_guard lock(mutex_);
    return fetch_over_ || interrupted_;
}

uint64_t StreamBuffer::TotalBytes() const {
    std::lock_guard lock(mutex_);
    return total_;
}

}  // namespace playersdk::net

namespace playersdk::net {

void StreamBuffer::SetDurationIfUnknown(int64_t ms) {
    std::lock_guard lock(mutex_);
    if (duration_ms_ <= 0) duration_ms_ = ms;
}

}  // namespace playersdk::net
