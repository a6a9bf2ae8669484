#include "net/RtpDepacketizer.h"

#include <cstdlib>

#include "UsernameToken.h"

namespace playersdk::net {
namespace {

constexpr uint16_t kOnvifExtension = 0xABAC;
// NTP counts from 1900, Unix time from 1970.
constexpr int64_t kNtpToUnixSeconds = 2208988800LL;
constexpr char kStartCode[] = {0, 0, 0, 1};

uint32_t Be(std::string_view b, size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

// The parameter sets of an fmtp value list ("base64,base64,...") in Annex B.
std::string ParameterSets(const std::string& list) {
    std::string out;
    for (size_t at = 0; at < list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        if (const auto nal = onvif::Base64Decode(std::string_view(list).substr(at, comma - at)); nal && !nal->empty())
            out.append(kStartCode, 4).append(*nal);
        at = comma + 1;
    }
    return out;
}

std::string Hex(const std::string& text) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

class Bits {
public:
    explicit Bits(std::string_view bytes) : bytes_(bytes) {}
    uint32_t Take(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++at_) {
            const size_t byte = at_ / 8;
            const int bit = byte < bytes_.size() ? (static_cast<uint8_t>(bytes_[byte]) >> (7 - at_ % 8)) & 1 : 0;
            v = (v << 1) | static_cast<uint32_t>(bit);
        }
        return v;
    }

private:
    std::string_view bytes_;
    size_t at_ = 0;
};

}  // namespace

bool ParseRtpPacket(std::string_view b, RtpPacket& p) {
    if (b.size() < 12 || (static_cast<uint8_t>(b[0]) >> 6) != 2) return false;
    const bool padding = (b[0] & 0x20) != 0, extension = (b[0] & 0x10) != 0;
    const size_t csrc = b[0] & 0x0F;
    p = RtpPacket{};
    p.marker = (b[1] & 0x80) != 0;
    p.payload_type = static_cast<uint8_t>(b[1] & 0x7F);
    p.sequence = static_cast<uint16_t>(Be(b, 2, 2));
    p.timestamp = Be(b, 4, 4);
    size_t at = 12 + 4 * csrc;
    if (at > b.size()) return false;
    if (extension) {
        if (at + 4 > b.size()) return false;
        const uint16_t profile = static_cast<uint16_t>(Be(b, at, 2));
        const size_t words = Be(b, at + 2, 2);
        if (at + 4 + 4 * words > b.size()) return false;
        if (profile == kOnvifExtension && words >= 3) {
            const int64_t seconds = Be(b, at + 4, 4);
            const uint64_t fraction = Be(b, at + 8, 4);
            p.utc_ms = (seconds - kNtpToUnixSeconds) * 1000 + static_cast<int64_t>((fraction * 1000 + (uint64_t{1} << 31)) >> 32);
            const uint8_t flags = static_cast<uint8_t>(b[at + 12]);
            p.c = (flags & 0x80) != 0;
            p.e = (flags & 0x40) != 0;
            p.d = (flags & 0x20) != 0;
            p.t = (flags & 0x10) != 0;
        }
        at += 4 + 4 * words;
    }
    size_t end = b.size();
    if (padding) {
        const size_t pad = static_cast<uint8_t>(b.back());
        if (pad == 0 || at + pad > end) return false;
        end -= pad;
    }
    p.payload = b.substr(at, end - at);
    return true;
}

TrackCodec CodecOf(const RtspTrack& track) {
    if (track.encoding == "H264") return TrackCodec::H264;
    if (track.encoding == "H265") return TrackCodec::H265;
    if (track.encoding == "MPEG4-GENERIC") {
        const auto mode = track.fmtp.find("mode");
        if (mode != track.fmtp.end() && mode->second.size() >= 7 &&
            (mode->second.substr(0, 7) == "AAC-hbr" || mode->second.substr(0, 7) == "aac-hbr"))
            return TrackCodec::Aac;
        return TrackCodec::None;
    }
    if (track.encoding == "PCMA") return TrackCodec::Pcma;
    if (track.encoding == "PCMU") return TrackCodec::Pcmu;
    return TrackCodec::None;
}

RtpDepacketizer::RtpDepacketizer(const RtspTrack& track) : codec_(CodecOf(track)) {
    const auto fmtp = [&](const char* name) {
        const auto it = track.fmtp.find(name);
        return it == track.fmtp.end() ? std::string() : it->second;
    };
    if (codec_ == TrackCodec::H264) {
        extradata_ = ParameterSets(fmtp("sprop-parameter-sets"));
    } else if (codec_ == TrackCodec::H265) {
        extradata_ = ParameterSets(fmtp("sprop-vps")) + ParameterSets(fmtp("sprop-sps")) +
                     ParameterSets(fmtp("sprop-pps"));
    } else if (codec_ == TrackCodec::Aac) {
        extradata_ = Hex(fmtp("config"));
        if (!fmtp("sizelength").empty()) aac_size_bits_ = std::atoi(fmtp("sizelength").c_str());
        if (!fmtp("indexlength").empty()) aac_index_bits_ = std::atoi(fmtp("indexlength").c_str());
    }
}

void RtpDepacketizer::Reset() {
    has_current_ = false;
    current_ = ReplayFrame{};
    fragment_broken_ = false;
    last_sequence_.reset();
}

void RtpDepacketizer::AddNal(std::string_view nal) {
    if (nal.empty()) return;
    current_.data.append(kStartCode, 4).append(nal);
    if (codec_ == TrackCodec::H264 && (nal[0] & 0x1F) == 5) current_.key = true;
    if (codec_ == TrackCodec::H265) {
        const int type = (static_cast<uint8_t>(nal[0]) >> 1) & 0x3F;
        if (type >= 16 && type <= 21) current_.key = true;
    }
}

void RtpDepacketizer::Finish(std::vector<ReplayFrame>& frames) {
    if (has_current_ && !current_.data.empty()) frames.push_back(std::move(current_));
    current_ = ReplayFrame{};
    has_current_ = false;
}

void RtpDepacketizer::Flush(std::vector<ReplayFrame>& frames) { Finish(frames); }

void RtpDepacketizer::Push(const RtpPacket& p, std::vector<ReplayFrame>& frames) {
    const bool lost = last_sequence_ && static_cast<uint16_t>(*last_sequence_ + 1) != p.sequence;
    last_sequence_ = p.sequence;
    if (has_current_ && current_.rtp_time != p.timestamp) Finish(frames);
    if (!has_current_) {
        has_current_ = true;
        current_.rtp_time = p.timestamp;
        fragment_broken_ = false;
    }
    if (p.utc_ms && !current_.utc_ms) current_.utc_ms = p.utc_ms;
    current_.clean_point |= p.c;
    current_.stretch_end |= p.e;
    current_.discontinuity |= p.d;
    current_.terminal |= p.t;
    const std::string_view payload = p.payload;

    if (codec_ == TrackCodec::Pcma || codec_ == TrackCodec::Pcmu) {
        current_.data.append(payload);
        current_.key = true;
        return Finish(frames);
    }
    if (codec_ == TrackCodec::Aac) {
        if (payload.size() < 2) return;
        const size_t header_bits = Be(payload, 0, 2);
        const size_t header_bytes = (header_bits + 7) / 8;
        if (2 + header_bytes > payload.size()) return;
        Bits bits(payload.substr(2, header_bytes));
        const int per_header = aac_size_bits_ + aac_index_bits_;
        size_t at = 2 + header_bytes;
        const ReplayFrame shared = current_;
        has_current_ = false;
        current_ = ReplayFrame{};
        for (size_t i = 0; per_header > 0 && (i + 1) * static_cast<size_t>(per_header) <= header_bits; ++i) {
            const size_t size = bits.Take(aac_size_bits_);
            bits.Take(aac_index_bits_);
            if (at + size > payload.size()) break;
            ReplayFrame frame = shared;
            frame.data.assign(payload.substr(at, size));
            frame.rtp_time = shared.rtp_time + static_cast<uint32_t>(i * 1024);
            frame.key = true;
            frames.push_back(std::move(frame));
            at += size;
        }
        return;
    }
    if (payload.empty()) return;
    if (codec_ == TrackCodec::H264) {
        const int type = payload[0] & 0x1F;
        if (type >= 1 && type <= 23) {
            AddNal(payload);
        } else if (type == 24) {  // STAP-A
            for (size_t at = 1; at + 2 <= payload.size();) {
                const size_t size = Be(payload, at, 2);
                if (at + 2 + size > payload.size()) break;
                AddNal(payload.substr(at + 2, size));
                at += 2 + size;
            }
        } else if (type == 28 && payload.size() >= 2) {  // FU-A
            const bool start = (payload[1] & 0x80) != 0;
            if (start) {
                fragment_broken_ = false;
                AddNal(std::string(1, static_cast<char>((payload[0] & 0xE0) | (payload[1] & 0x1F))));
                current_.data.append(payload.substr(2));
            } else if (lost) {
                fragment_broken_ = true;
            } else if (!fragment_broken_) {
                current_.data.append(payload.substr(2));
            }
        }
    } else if (codec_ == TrackCodec::H265 && payload.size() >= 2) {
        const int type = (static_cast<uint8_t>(payload[0]) >> 1) & 0x3F;
        if (type < 48) {
            AddNal(payload);
        } else if (type == 48) {  // aggregation packet
            for (size_t at = 2; at + 2 <= payload.size();) {
                const size_t size = Be(payload, at, 2);
                if (at + 2 + size > payload.size()) break;
                AddNal(payload.substr(at + 2, size));
                at += 2 + size;
            }
        } else if (type == 49 && payload.size() >= 3) {  // fragmentation unit
            const bool start = (payload[2] & 0x80) != 0;
            const int nal_type = payload[2] & 0x3F;
            if (start) {
                fragment_broken_ = false;
                std::string header(2, '\0');
                header[0] = static_cast<char>((payload[0] & 0x81) | (nal_type << 1));
                header[1] = payload[1];
                AddNal(header);
                current_.data.append(payload.substr(3));
            } else if (lost) {
                fragment_broken_ = true;
            } else if (!fragment_broken_) {
                current_.data.append(payload.substr(3));
            }
        }
    }
    if (p.marker) Finish(frames);
}

}  // namespace playersdk::net
