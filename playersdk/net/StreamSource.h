// What the stream supervisor asks of a network stream's bytes, whichever
// protocol brings them: our recorder's file over HTTP (StreamBuffer) or an
// ONVIF device's replay (ReplayStream). See StreamBuffer.h for each.
#pragma once

#include <cstdint>
#include <memory>

#include "core/MediaInput.h"

namespace playersdk::net {

class StreamSource {
public:
    virtual ~StreamSource() = default;
    // MediaInput's operations (see core/MediaInput.h).
    virtual int Read(uint8_t* buffer, int size) = 0;
    virtual int64_t Seek(int64_t offset, int whence) = 0;
    virtual void Interrupt() = 0;
    virtual void Opened(bool /*may_grow*/) {}
    virtual bool BeingWritten() const { return false; }
    virtual bool AwaitingGrowth() const { return false; }

    virtual void NotePlayMs(int64_t play_ms) = 0;
    virtual void NotePace(double speed, bool paused) = 0;
    virtual void NoteRead(uint64_t byte_pos, int64_t media_ms) = 0;
    virtual int64_t BufferedMs() const = 0;
    virtual bool Full() const = 0;
    virtual int64_t StarvedMs() const = 0;
    virtual void ResetStarved() = 0;
    virtual bool FetchOver() const = 0;
    virtual bool CaughtUpWithWriter() const { return false; }
    virtual void SetDurationIfUnknown(int64_t ms) = 0;
};

// The player's view of a stream's bytes.
class StreamInput final : public MediaInput {
public:
    explicit StreamInput(std::shared_ptr<StreamSource> source) : source_(std::move(source)) {}
    int Read(uint8_t* buffer, int size) override { return source_->Read(buffer, size); }
    int64_t Seek(int64_t offset, int whence) override { return source_->Seek(offset, whence); }
    void Interrupt() override { source_->Interrupt(); }
    void Opened(bool may_grow) override { source_->Opened(may_grow); }
    bool BeingWritten() const override { return source_->BeingWritten(); }
    bool AwaitingGrowth() const override { return source_->AwaitingGrowth(); }

private:
    std::shared_ptr<StreamSource> source_;
};

}  // namespace playersdk::net
