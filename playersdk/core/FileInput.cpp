#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/MediaInput.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace playersdk {

std::unique_ptr<FileInput> FileInput::Open(const std::string& path) {
    // Looked at before it is opened, and opened without waiting: opening a
    // FIFO or a device for reading may block until someone writes to it.
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return nullptr;
    // The name may have been replaced meanwhile: what was opened counts.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        ::close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::unique_ptr<FileInput>(new FileInput(fd, info.st_size));
}

FileInput::FileInput(int fd, int64_t size) : fd_(fd), size_(size) {}

FileInput::~FileInput() { ::close(fd_); }

int FileInput::Read(uint8_t* buffer, int size) {
    for (;;) {
        ssize_t n = pread(fd_, buffer, static_cast<size_t>(size), position_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        if (n == 0) {
            if (following_ && WaitForMore()) continue;
            std::lock_guard lock(mutex_);
            return interrupted_ ? AVERROR_EXIT : AVERROR_EOF;
        }
        position_ += n;
        return static_cast<int>(n);
    }
}

bool FileInput::Grew() {
    struct stat info;
    if (fstat(fd_, &info) != 0 || info.st_size <= size_) return false;
    size_ = info.st_size;
    return true;
}

bool FileInput::ChangedWithin(std::chrono::milliseconds span) const {
    using std::chrono::system_clock;
    struct stat info;
    if (fstat(fd_, &info) != 0) return false;
    const auto changed_at = system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    return system_clock::now() - changed_at < span;
}

bool FileInput::BeingWritten() const { return ChangedWithin(kQuietForEnd); }

bool FileInput::WaitForMore() {
    constexpr auto kLookAgain = std::chrono::milliseconds(100);
    awaiting_growth_ = true;
    bool grew = false;
    // Changed a moment ago, before the open or since: a writer between two
    // bursts. Left alone for kQuietForEnd: whole.
    while (!(grew = Grew()) && BeingWritten()) {
        std::unique_lock lock(mutex_);
        if (interrupted_signal_.wait_for(lock, kLookAgain, [this] { return interrupted_ || growth_wait_held_; })) break;
    }
    awaiting_growth_ = false;
    return grew;
}

void FileInput::HoldGrowthWait(bool hold) {
    std::lock_guard lock(mutex_);
    growth_wait_held_ = hold;
    interrupted_signal_.notify_all();
}

void FileInput::Interrupt() {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    interrupted_signal_.notify_all();
}

int64_t FileInput::Seek(int64_t offset, int whence) {
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            Grew();
            return size_;
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += position_;
            break;
        case SEEK_END:
            Grew();
            offset += size_;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (offset < 0) return AVERROR(EINVAL);
    position_ = offset;
    return position_;
}

}  // namespace playersdk
