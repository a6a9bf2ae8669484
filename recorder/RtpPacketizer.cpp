#include "RtpPacketizer.h"

#include <algorithm>

namespace recorder {
namespace {

void put16(std::string& out, uint32_t v) {
    out += static_cast<char>((v >> 8) & 0xff);
    out += static_cast<char>(v & 0xff);
}

void put32(std::string& out, uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xffff);
}

// Seconds from 1900-01-01 (NTP's epoch) to 1970-01-01.
constexpr int64_t kNtpEpochOffset = 2208988800LL;

}  // namespace

std::vector<std::string_view> splitAnnexB(std::string_view bytes) {
    std::vector<std::string_view> units;
    auto findStart = [&](size_t from) {
        for (size_t i = from; i + 3 <= bytes.size(); ++i)
            if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) return i;
        return bytes.size();
    };
    size_t at = findStart(0);
    while (at < bytes.size()) {
        const size_t begin = at + 3;
        const size_t nextStart = findStart(begin);
        size_t end = nextStart;
        while (end > begin && bytes[end - 1] == 0) --end;  // a four-byte start code's zero
        if (end > begin) units.push_back(bytes.substr(begin, end - begin));
        at = nextStart;
    }
    return units;
}

uint64_t ntpTimestamp(int64_t utcUs) {
    const int64_t seconds = utcUs / 1000000 + kNtpEpochOffset;
    const int64_t micros = utcUs % 1000000;
    const uint64_t fraction = ((static_cast<uint64_t>(micros) << 32) + 500000) / 1000000;  // nearest
    return (static_cast<uint64_t>(seconds) << 32) | fraction;
}

RtpPacketizer::RtpPacketizer(Payload payload, uint32_t ssrc, uint16_t firstSequence)
    : payload_(payload), ssrc_(ssrc), sequence_(firstSequence) {}

uint8_t RtpPacketizer::payloadType() const {
    switch (payload_) {
    case Payload::Pcmu: return 0;
    case Payload::Pcma: return 8;
    case Payload::Aac: return 97;
    default: return 96;
    }
}

std::string RtpPacketizer::goodbye(int64_t utcUs, uint32_t rtpTime) const {
    std::string packet;
    packet += static_cast<char>(0x80);  // version 2, no report blocks
    packet += static_cast<char>(200);   // sender report
    put16(packet, 6);  // words after the first
    put32(packet, ssrc_);
    const uint64_t ntp = ntpTimestamp(utcUs);
    put32(packet, static_cast<uint32_t>(ntp >> 32));
    put32(packet, static_cast<uint32_t>(ntp));
    put32(packet, rtpTime);
    put32(packet, packetsSent_);
    put32(packet, payloadBytesSent_);
    packet += static_cast<char>(0x81);  // version 2, one source
    packet += static_cast<char>(203);   // BYE
    put16(packet, 1);
    put32(packet, ssrc_);
    return packet;
}

void RtpPacketizer::emitPacket(std::string_view header2, std::string_view payload, bool last,
                               uint32_t rtpTime, const ReplayMarks& marks, const Emit& emit) {
    packet_.clear();
    packet_ += static_cast<char>(0x90);  // version 2, extension present
    packet_ += static_cast<char>((last ? 0x80 : 0) | payloadType());
    put16(packet_, sequence_++);
    put32(packet_, rtpTime);
    put32(packet_, ssrc_);
    put16(packet_, 0xABAC);
    put16(packet_, 3);  // words of extension data
    const uint64_t ntp = ntpTimestamp(marks.timeUs);
    put32(packet_, static_cast<uint32_t>(ntp >> 32));
    put32(packet_, static_cast<uint32_t>(ntp));
    packet_ += static_cast<char>((marks.clean ? 0x80 : 0) | (marks.endsStretch ? 0x40 : 0) |
                                 (marks.discontinuity ? 0x20 : 0) | (marks.terminal ? 0x10 : 0));
    packet_ += static_cast<char>(marks.cseq);
    put16(packet_, 0);
    packet_ += header2;
    packet_ += payload;
    ++packetsSent_;
    payloadBytesSent_ += static_cast<uint32_t>(header2.size() + payload.size());
    emit(packet_);
}

void RtpPacketizer::packetize(std::string_view unit, uint32_t rtpTime, const ReplayMarks& marks, const Emit& emit) {
    if (payload_ == Payload::H264 || payload_ == Payload::H265) return packetizeVideo(unit, rtpTime, marks, emit);
    if (payload_ == Payload::Aac) {
        // One frame a packet after its AU header: 13 bits of size, 3 of index.
        if (unit.size() >= (1u << 13)) return;
        std::string header;
        put16(header, 16);  // bits of AU headers
        put16(header, static_cast<uint32_t>(unit.size() << 3));
        return emitPacket(header, unit, true, rtpTime, marks, emit);
    }
    // G.711: one byte a sample, split where a frame is longer than a packet.
    for (size_t at = 0; at < unit.size(); at += kMaxPayload)
        emitPacket({}, unit.substr(at, kMaxPayload), false, rtpTime + static_cast<uint32_t>(at), marks, emit);
}

void RtpPacketizer::packetizeVideo(std::string_view annexB, uint32_t rtpTime, const ReplayMarks& marks,
                                   const Emit& emit) {
    const auto units = splitAnnexB(annexB);
    const bool h264 = payload_ == Payload::H264;
    const size_t headerBytes = h264 ? 1 : 2;
    for (size_t u = 0; u < units.size(); ++u) {
        const std::string_view nal = units[u];
        const bool lastUnit = u + 1 == units.size();
        if (nal.size() <= headerBytes) continue;
        if (nal.size() <= kMaxPayload) {
            emitPacket({}, nal, lastUnit, rtpTime, marks, emit);
            continue;
        }
        // Fragmentation units: the NAL header rewritten to the FU type, then
        // the FU header with the start and end bits and the NAL's own type.
        std::string fuHeader;
        uint8_t type = 0;
        if (h264) {
            fuHeader += static_cast<char>((nal[0] & 0xe0) | 28);
            type = static_cast<uint8_t>(nal[0] & 0x1f);
        } else {
            fuHeader += static_cast<char>((nal[0] & 0x81) | (49 << 1));
            fuHeader += nal[1];
            type = static_cast<uint8_t>((nal[0] >> 1) & 0x3f);
        }
        std::string_view rest = nal.substr(headerBytes);
        const size_t piece = kMaxPayload - fuHeader.size() - 1;
        bool first = true;
        while (!rest.empty()) {
            const std::string_view part = rest.substr(0, piece);
            rest.remove_prefix(part.size());
            std::string header = fuHeader;
            header += static_cast<char>((first ? 0x80 : 0) | (rest.empty() ? 0x40 : 0) | type);
            emitPacket(header, part, lastUnit && rest.empty(), rtpTime, marks, emit);
            first = false;
        }
    }
}

}  // namespace recorder
