// RTP packets of one replayed track back into whole frames: H.264 and H.265
// (single units, aggregation and fragmentation units; Annex B start codes
// out), AAC (RFC 3640 high bit rate mode) and G.711. Each frame carries the
// ONVIF replay header extension's (0xABAC) absolute time and flags when its
// packets had one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/RtspSession.h"

namespace playersdk::net {

struct ReplayFrame {
    std::string data;
    uint32_t rtp_time = 0;
    bool key = false;
    std::optional<int64_t> utc_ms;  // from the 0xABAC extension
    bool clean_point = false;       // C
    bool stretch_end = false;       // E: the last frame before a gap
    bool discontinuity = false;     // D: the first frame after a gap
    bool terminal = false;          // T: the last frame of the range
};

// The fields of one RTP packet; false for bytes that are none.
struct RtpPacket {
    bool marker = false;
    uint8_t payload_type = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    std::optional<int64_t> utc_ms;
    bool c = false, e = false, d = false, t = false;
    std::string_view payload;
};
bool ParseRtpPacket(std::string_view bytes, RtpPacket& packet);

enum class TrackCodec { None, H264, H265, Aac, Pcma, Pcmu };
TrackCodec CodecOf(const RtspTrack& track);

class RtpDepacketizer {
public:
    explicit RtpDepacketizer(const RtspTrack& track);
    TrackCodec Codec() const { return codec_; }
    // The decoder's set-up bytes: Annex B parameter sets, or AAC's
    // AudioSpecificConfig.
    const std::string& Extradata() const { return extradata_; }
    // Takes one packet; whole frames come out in `frames`.
    void Push(const RtpPacket& packet, std::vector<ReplayFrame>& frames);
    // The frame in progress, when the stream ends.
    void Flush(std::vector<ReplayFrame>& frames);
    // Forgets a frame in progress (a jump).
    void Reset();

private:
    void AddNal(std::string_view nal);
    void Finish(std::vector<ReplayFrame>& frames);

    TrackCodec codec_;
    std::string extradata_;
    int aac_size_bits_ = 13, aac_index_bits_ = 3;
    ReplayFrame current_;
    bool has_current_ = false;
    bool fragment_broken_ = false;
    std::optional<uint16_t> last_sequence_;
};

}  // namespace playersdk::net
