// RTP packets of H.264 (RFC 6184), H.265 (RFC 7798), AAC (RFC 3640,
// AAC-hbr) and G.711 access units, each packet carrying the ONVIF replay
// header extension (0xABAC): the unit's absolute time as an NTP timestamp
// and its C, E, D and T marks.
#pragma once

#include "ReplayReader.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace recorder {

// NAL units of a start-code stream, without their start codes.
std::vector<std::string_view> splitAnnexB(std::string_view bytes);

struct ReplayMarks {
    int64_t timeUs = 0;  // UTC
    bool clean = false;          // C
    bool endsStretch = false;    // E
    bool discontinuity = false;  // D
    bool terminal = false;       // T
    uint8_t cseq = 0;  // the low byte of the CSeq of the PLAY that started the run
};

// Seconds since 1900 in the upper 32 bits, the fraction in the lower ones.
uint64_t ntpTimestamp(int64_t utcUs);

enum class Payload { H264, H265, Aac, Pcma, Pcmu };

class RtpPacketizer {
public:
    using Emit = std::function<void(std::string_view packet)>;
    // Payload bytes per packet, so that a packet fits an Ethernet frame.
    static constexpr size_t kMaxPayload = 1400;

    RtpPacketizer(Payload payload, uint32_t ssrc, uint16_t firstSequence);
    // 96 and 97 for video and AAC, G.711's static types otherwise.
    uint8_t payloadType() const;

    // Emits the packets of one access unit, the last with the marker bit.
    void packetize(std::string_view unit, uint32_t rtpTime, const ReplayMarks& marks, const Emit& emit);
    uint16_t nextSequence() const { return sequence_; }
    // An RTCP sender report for the unit at `utcUs` and `rtpTime`, with a
    // BYE: the end of the stream for plain RTSP clients.
    std::string goodbye(int64_t utcUs, uint32_t rtpTime) const;

private:
    void emitPacket(std::string_view header2, std::string_view payload, bool last, uint32_t rtpTime,
                    const ReplayMarks& marks, const Emit& emit);
    void packetizeVideo(std::string_view annexB, uint32_t rtpTime, const ReplayMarks& marks, const Emit& emit);

    Payload payload_;
    uint32_t ssrc_;
    uint16_t sequence_;
    uint32_t packetsSent_ = 0;
    uint32_t payloadBytesSent_ = 0;
    std::string packet_;
};

}  // namespace recorder
