// Where a player reads its media bytes from. A local file is a FileInput; a
// network stream from the recorder is a MediaInput of the net side. The player
// reads through a custom AVIOContext, so anything that can answer Read and
// Seek plays through the same engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace playersdk {

class MediaInput {
public:
    virtual ~MediaInput() = default;

    // Copies up to `size` bytes into `buffer` and returns how many (> 0), or
    // AVERROR_EOF at the end, or another negative AVERROR on failure. May block
    // while data is on its way; must return promptly (AVERROR_EXIT) once
    // Interrupt() has been called. Called on the player's threads only.
    virtual int Read(uint8_t* buffer, int size) = 0;

    // whence is SEEK_SET, SEEK_CUR, SEEK_END or AVSEEK_SIZE (answer the total
    // size without moving, or a negative value when unknown). Returns the new
    // position, or a negative value when the input cannot seek there.
    virtual int64_t Seek(int64_t offset, int whence) = 0;

    // False for an input that can only be read front to back; the player then
    // refuses time seeks.
    virtual bool Seekable() const { return true; }

    // True when reading here and there costs little (a local file): the
    // player then reads the timestamps across the file at the open.
    virtual bool Local() const { return false; }

    // Called once from PlayerClose, on the caller's thread, before the player
    // joins its threads: a Read blocked for data and every later one must
    // return promptly.
    virtual void Interrupt() {}
};

// A regular, non-empty local file.
class FileInput final : public MediaInput {
public:
    // nullptr when the path is missing, unreadable, not a regular file or empty.
    static std::unique_ptr<FileInput> Open(const std::string& path);
    ~FileInput() override;

    int Read(uint8_t* buffer, int size) override;
    int64_t Seek(int64_t offset, int whence) override;
    bool Local() const override { return true; }

private:
    explicit FileInput(int fd, int64_t size) : fd_(fd), size_(size) {}
    int fd_;
    int64_t size_;
    int64_t position_ = 0;
};

}  // namespace playersdk
