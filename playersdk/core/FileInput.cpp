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

FileInput::~FileInput() { ::close(fd_); }

int FileInput::Read(uint8_t* buffer, int size) {
    for (;;) {
        ssize_t n = pread(fd_, buffer, static_cast<size_t>(size), position_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        if (n == 0) return AVERROR_EOF;
        position_ += n;
        return static_cast<int>(n);
    }
}

int64_t FileInput::Seek(int64_t offset, int whence) {
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return size_;
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += position_;
            break;
        case SEEK_END:
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
