#include "net/FetchedStream.h"

#include <cstdio>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace playersdk::net {
namespace {

// A starved reader is fed again once this much media is held ahead of it.
constexpr int64_t kFedAgainMs = 300;

}  // namespace

void FetchedStream::SetReadDeadline(std::chrono::steady_clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    has_deadline_ = true;
    deadline_ = deadline;
}

void FetchedStream::ClearReadDeadline() {
    std::lock_guard lock(mutex_);
    has_deadline_ = false;
}

int FetchedStream::Read(uint8_t* buffer, int size) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (interrupted_) return AVERROR_EXIT;
        const uint64_t total = SizeLocked();
        if (total > 0 && read_pos_ >= total) return AVERROR_EOF;
        if (HeldLocked()) {
            const size_t n = CopyHeldLocked(buffer, static_cast<size_t>(size));
            read_pos_ += n;
            if (starved_ && ArrivedAheadMsLocked() >= kFedAgainMs) starved_ = false;
            changed_.notify_all();  // room for the fetch
            return static_cast<int>(n);
        }
        if (NothingMoreLocked()) return AVERROR_EOF;
        const bool on_its_way = restart_ ? restart_at_ == read_pos_ : ComingLocked();
        if (!on_its_way) RequestRestartLocked(read_pos_);
        if (has_deadline_ && std::chrono::steady_clock::now() >= deadline_) return AVERROR_EXIT;
        if (!starved_) {
            starved_ = true;
            starved_since_ = std::chrono::steady_clock::now();
        }
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

int64_t FetchedStream::Seek(int64_t offset, int whence) {
    std::lock_guard lock(mutex_);
    const uint64_t total = SizeLocked();
    const uint64_t extent = ExtentLocked();
    if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) return extent > 0 ? static_cast<int64_t>(extent) : -1;
    int64_t target;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: target = offset; break;
        case SEEK_CUR: target = static_cast<int64_t>(read_pos_) + offset; break;
        case SEEK_END: target = static_cast<int64_t>(extent) + offset; break;
        default: return -1;
    }
    if (target < 0 || (total > 0 && static_cast<uint64_t>(target) > total)) return -1;
    read_pos_ = static_cast<uint64_t>(target);
    changed_.notify_all();
    return target;
}

void FetchedStream::Interrupt() {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    abandon_ = true;
    changed_.notify_all();
}

int64_t FetchedStream::StarvedMs() const {
    std::lock_guard lock(mutex_);
    if (!starved_) return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - starved_since_)
        .count();
}

void FetchedStream::ResetStarved() {
    std::lock_guard lock(mutex_);
    starved_ = false;
}

void FetchedStream::RequestRestartLocked(uint64_t pos) {
    restart_ = true;
    restart_at_ = pos;
    abandon_ = true;
    changed_.notify_all();
}

}  // namespace playersdk::net
