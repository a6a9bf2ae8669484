// Frames of a replay written into a container by libavformat: MP4 for a
// download (MOV's variant of it when G.711 sound has to go in), MPEG-TS for
// a stream the engine reads (G.711 sound turned into AAC there, as MPEG-TS
// has no place for it). Frame times are ms from the replay's start.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/G711ToAac.h"
#include "net/RtpDepacketizer.h"

struct AVFormatContext;
struct AVIOContext;

namespace playersdk::net {

inline bool IsPicture(TrackCodec codec) { return codec == TrackCodec::H264 || codec == TrackCodec::H265; }

struct MuxTrack {
    TrackCodec codec = TrackCodec::None;
    std::string extradata;
    int clock_rate = 90000;
    int channels = 1;
};

// Where the container's bytes go. Seek answers the new position, or -1 when
// the output cannot seek (MPEG-TS needs none).
struct MuxOutput {
    std::function<bool(const uint8_t* data, int size)> write;
    std::function<int64_t(int64_t offset, int whence)> seek;
};

class ReplayMuxer {
public:
    enum class Kind { File, Stream };
    // Nothing when no track can be carried or the container cannot start.
    static std::unique_ptr<ReplayMuxer> Open(Kind kind, const std::vector<MuxTrack>& tracks, MuxOutput output);
    ~ReplayMuxer();
    ReplayMuxer(const ReplayMuxer&) = delete;
    ReplayMuxer& operator=(const ReplayMuxer&) = delete;

    // Tracks that could not be carried take nothing, and nothing is taken
    // before the first key picture (false only on a write that failed).
    bool Write(size_t track, const ReplayFrame& frame, int64_t time_ms);
    // Writes the container's end (an MP4's index); false when it failed.
    bool Finish();
    // Bytes written so far.
    int64_t Written() const { return written_; }

private:
    ReplayMuxer() = default;
    static int WritePacket(void* opaque, uint8_t* data, int size);
    static int64_t SeekPacket(void* opaque, int64_t offset, int whence);

    // A picture track's pictures come in decoding order stamped with their
    // presentation times, which go back where pictures are reordered. Each
    // is held until kReorderDepth later ones have come; its decoding time is
    // then the smallest presentation time not yet used, taken kReorderDepth
    // pictures back, so that decoding times climb and stay at or before
    // each picture's presentation.
    static constexpr size_t kReorderDepth = 4;
    struct HeldPicture {
        std::string data;
        bool key = false;
        int64_t pts_ms = 0;
    };
    struct Reorder {
        std::deque<HeldPicture> held;
        std::multiset<int64_t> unused_pts;  // of every picture taken, not yet used as a decoding time
        size_t given = 0;                   // pictures written
        int64_t first_dts = 0;              // of the first kReorderDepth pictures, before any presentation
        int64_t step = 1;
    };
    bool Hold(size_t track, const ReplayFrame& frame, int64_t pts_ms);
    bool WriteHeld(size_t track);

    MuxOutput output_;
    AVFormatContext* format_ = nullptr;
    AVIOContext* avio_ = nullptr;
    std::vector<int> stream_of_track_;  // -1: not carried
    std::vector<int64_t> last_dts_;
    std::vector<std::unique_ptr<Reorder>> reorder_;  // per track, for pictures only
    std::vector<std::unique_ptr<G711ToAac>> to_aac_;  // per track, where its sound is turned into AAC
    // Starts the container once the first key picture is there.
    bool WriteHeader(size_t video_track, const ReplayFrame& key_frame);
    bool WriteOne(size_t track, const uint8_t* data, int size, bool key, int64_t pts_ms, int64_t dts_ms);

    Kind kind_ = Kind::File;
    std::vector<MuxTrack> tracks_;
    bool header_written_ = false;
    bool finished_ = false;
    bool failed_ = false;
    int64_t written_ = 0;
};

// A file written aside and moved onto its name only when whole.
class ReplayFile {
public:
    ReplayFile() = default;
    ~ReplayFile();
    ReplayFile(const ReplayFile&) = delete;
    ReplayFile& operator=(const ReplayFile&) = delete;
    bool Open(const std::string& final_path);
    MuxOutput Output();
    bool Commit();
    void Discard();

private:
    int fd_ = -1;
    std::string final_path_, temp_path_;
};

}  // namespace playersdk::net
