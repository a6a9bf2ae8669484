// Where a player reads its media bytes from. A local file is a FileInput; a
// network stream from the recorder is a MediaInput of the net side. The player
// reads through a custom AVIOContext, so anything that can answer Read and
// Seek plays through the same engine.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "RecordingGrowth.h"

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

    // Called once the player has opened the input, before its threads
    // start: from then on a read at the end may wait for a file still being
    // written, when its container can be read further as it grows
    // (`may_grow`; not an MP4 whose index covers all it holds).
    virtual void Opened(bool /*may_grow*/) {}

    // True while a Read waits at the end of a file still being written: the
    // player then holds its clock once it has shown all there is.
    virtual bool AwaitingGrowth() const { return false; }

    // While held (a seek asked for or under way, which reads here and there),
    // a Read at the end of a file still being written answers the end at
    // once, and one waiting there does so now.
    virtual void HoldGrowthWait(bool /*hold*/) {}

    // True when a writer may be adding to the input now (a local file changed
    // a moment ago).
    virtual bool BeingWritten() const { return false; }

    // True when reading here and there costs little (a local file): the
    // player then reads the timestamps across the file at the open.
    virtual bool Local() const { return false; }

    // Called once from PlayerClose, on the caller's thread, before the player
    // joins its threads: a Read blocked for data and every later one must
    // return promptly.
    virtual void Interrupt() {}
};

// A regular, non-empty local file. Once Opened() was called, a file
// still being written is followed: at its end a read waits for more while
// the file changed less than kQuietForEnd ago (a writer may pause between
// bursts, before the open as after it), and the end comes once it has rested
// that long. Before that (while the player opens it) its end is where it
// ends now, so that opening never waits for the writer.
class FileInput final : public MediaInput {
public:
    static constexpr std::chrono::milliseconds kQuietForEnd = recording_growth::kQuietForEnd;

    // nullptr when the path is missing, unreadable, not a regular file or empty.
    static std::unique_ptr<FileInput> Open(const std::string& path);
    ~FileInput() override;

    int Read(uint8_t* buffer, int size) override;
    int64_t Seek(int64_t offset, int whence) override;
    void Interrupt() override;
    void Opened(bool may_grow) override { following_ = may_grow; }
    bool AwaitingGrowth() const override { return awaiting_growth_; }
    void HoldGrowthWait(bool hold) override;
    bool BeingWritten() const override;
    bool Local() const override { return true; }

private:
    FileInput(int fd, int64_t size);
    // Takes the file's size now; true when it grew.
    bool Grew();
    // At the end of what is there: waits while the file is being written.
    // True when it grew; false at its real end or once interrupted.
    bool WaitForMore();
    // Changed less than `span` ago.
    bool ChangedWithin(std::chrono::milliseconds span) const;

    int fd_;
    int64_t size_;
    int64_t position_ = 0;
    std::atomic<bool> following_{false};
    std::atomic<bool> awaiting_growth_{false};
    std::mutex mutex_;
    std::condition_variable interrupted_signal_;
    bool interrupted_ = false;
    bool growth_wait_held_ = false;
};

}  // namespace playersdk
