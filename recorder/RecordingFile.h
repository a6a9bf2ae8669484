// One recording file opened for one answer: reads pieces of it by offset and
// hands them to the socket, optionally paced like a live recorder.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace recorder {

class RecordingFile {
public:
    using Writer = std::function<bool(const char* data, size_t size)>;

    static std::shared_ptr<RecordingFile> open(const std::filesystem::path& path);
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    uint64_t size() const { return size_; }
    // Changed less than recording_growth::kQuietForEnd before it was opened:
    // its writer may still be adding to it.
    bool beingWritten() const { return beingWritten_; }
    // A container a reader can go on reading as it grows: an MPEG-TS, or a
    // fragmented MP4. A plain MP4's index covers only what it held when it
    // was written, wherever it lies.
    bool readableAsItGrows() const;

    // From now on, send() follows the file as it grows: at its end it writes
    // nothing and asks to be called again a moment later, until the file has
    // rested for kQuietForEnd; over() then answers true.
    void followGrowth() { following_ = true; }
    bool over() const { return over_; }
    // The open file, for a server that sends unpaced bytes straight from it.
    int descriptor() const { return fd_; }

    // From now on, media bytes go out at bytesPerSecond, leadSeconds ahead of
    // the clock that starts with the first send. An MP4's boxes before its
    // media data (the header a player needs first) go out at once.
    void pace(double bytesPerSecond, double leadSeconds);

    // Writes up to `length` bytes from `offset`; false when the file cannot
    // be read or the writer refuses (the client went away). A paced file
    // may have nothing due yet: it then writes nothing and returns true, and
    // dueAt() tells when to call again. It never waits itself, so that one
    // thread can serve many paced answers.
    bool send(uint64_t offset, size_t length, const Writer& write);
    std::chrono::steady_clock::time_point dueAt() const { return dueAt_; }

private:
    RecordingFile(int fd, uint64_t size, bool beingWritten)
        : fd_(fd), size_(size), beingWritten_(beingWritten) {}
    // Takes the file's size now; true while it is still being written.
    bool lookAgain();
    struct Box {
        const char* name = nullptr;  // the one of those asked for found first; null for neither
        uint64_t dataAt = 0;         // where its contents start
    };
    Box firstBox(const char* a, const char* b) const;
    uint64_t mediaDataOffset() const;
    // How many bytes from `offset` may go out now; when none, sets dueAt_.
    size_t paceAllowance(uint64_t offset, size_t wanted);

    int fd_;
    uint64_t size_;
    bool beingWritten_;
    bool following_ = false;
    bool over_ = false;
    std::vector<char> buffer_;
    double bytesPerSecond_ = 0;
    double leadSeconds_ = 0;
    uint64_t headerEnd_ = 0;
    bool clockStarted_ = false;
    uint64_t clockBase_ = 0;
    std::chrono::steady_clock::time_point clockStart_;
    std::chrono::steady_clock::time_point dueAt_;
};

}  // namespace recorder
