#include "RecordingFile.h"

#include "ContainerHead.h"
#include "RecordingGrowth.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace recorder {
namespace {

constexpr size_t kReadBytes = 1 << 20;
// Smallest piece of a paced stream written at once.
constexpr size_t kPaceGrainBytes = 16 * 1024;

// How often a followed file is looked at again when it has nothing new.
constexpr auto kGrowthLook = std::chrono::milliseconds(100);

bool changedWithin(const struct stat& st, std::chrono::milliseconds span) {
    using std::chrono::system_clock;
    const auto changedAt = system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(
        std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    return system_clock::now() - changedAt < span;
}

}  // namespace

std::shared_ptr<RecordingFile> RecordingFile::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::shared_ptr<RecordingFile>(new RecordingFile(
        fd, static_cast<uint64_t>(st.st_size), changedWithin(st, recording_growth::kQuietForEnd)));
}

RecordingFile::~RecordingFile() { ::close(fd_); }

RecordingFile::Box RecordingFile::firstBox(const char* a, const char* b) const {
    // Walk the top-level boxes; a file that is not an MP4 (a picture, a
    // transport stream) has none of them.
    uint64_t at = 0;
    for (int boxes = 0; boxes < 64; ++boxes) {
        const auto box = readMp4BoxHead(fd_, at, size_);
        if (!box) return {};
        for (const char* name : {a, b})
            if (name && box->is(name)) return {name, at + box->headerSize};
        at += box->size;
    }
    return {};
}

uint64_t RecordingFile::mediaDataOffset() const { return firstBox("mdat", nullptr).dataAt; }

bool RecordingFile::readableAsItGrows() const {
    unsigned char head[3 * kTsPacketBytes];
    const ssize_t got = ::pread(fd_, head, sizeof head, 0);
    if (got <= 0) return false;
    if (transportStreamSynced(head, static_cast<size_t>(got))) return true;
    // A fragmented MP4 has a fragment before any media data of its own.
    const Box box = firstBox("moof", "mdat");
    return box.name != nullptr && std::equal(box.name, box.name + 4, "moof");
}

void RecordingFile::pace(double bytesPerSecond, double leadSeconds) {
    bytesPerSecond_ = bytesPerSecond;
    leadSeconds_ = leadSeconds;
    headerEnd_ = mediaDataOffset();
}

size_t RecordingFile::paceAllowance(uint64_t offset, size_t wanted) {
    if (bytesPerSecond_ <= 0) return wanted;
    if (offset < headerEnd_) return static_cast<size_t>(std::min<uint64_t>(wanted, headerEnd_ - offset));
    const auto now = std::chrono::steady_clock::now();
    if (!clockStarted_) {
        clockStarted_ = true;
        clockBase_ = offset;
        clockStart_ = now;
    }
    const double elapsed = std::chrono::duration<double>(now - clockStart_).count();
    const double allowed =
        static_cast<double>(clockBase_) + (elapsed + leadSeconds_) * bytesPerSecond_;
    // Sent in pieces of a useful size, not byte by byte as the clock ticks.
    const double piece = static_cast<double>(std::min(wanted, kPaceGrainBytes));
    const double room = allowed - static_cast<double>(offset);
    if (room >= piece) return static_cast<size_t>(std::min(room, static_cast<double>(wanted)));
    const double waitSeconds = (piece - room) / bytesPerSecond_;
    dueAt_ = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(waitSeconds));
    return 0;
}

bool RecordingFile::lookAgain() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    size_ = std::max(size_, static_cast<uint64_t>(st.st_size));
    return changedWithin(st, recording_growth::kQuietForEnd);
}

bool RecordingFile::send(uint64_t offset, size_t length, const Writer& write) {
    if (buffer_.empty()) buffer_.resize(kReadBytes);
    size_t wanted = std::min({length, buffer_.size()});
    if (following_ && !over_ && offset + wanted > size_) {
        const bool writing = lookAgain();
        if (offset >= size_) {
            if (writing)
                dueAt_ = std::chrono::steady_clock::now() + kGrowthLook;
            else
                over_ = true;
            return true;  // nothing now; over() tells whether more will come
        }
    }
    if (offset >= size_) return false;
    wanted = static_cast<size_t>(std::min<uint64_t>(wanted, size_ - offset));
    wanted = paceAllowance(offset, wanted);
    if (wanted == 0) return true;  // nothing is due yet: see dueAt()
    ssize_t got;
    do {
        got = ::pread(fd_, buffer_.data(), wanted, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return false;  // read error, or the file shrank under us
    return write(buffer_.data(), static_cast<size_t>(got));
}

}  // namespace recorder
