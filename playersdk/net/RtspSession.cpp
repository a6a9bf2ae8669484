#include "net/RtspSession.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "HttpText.h"
#include "OnvifTime.h"
#include "UsernameToken.h"

namespace playersdk::net {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kStopSlice(50);
// An answer head or SDP longer than this is no RTSP answer.
constexpr size_t kMaxAnswerBytes = 256 * 1024;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = http_text::LowerAscii(c);
    return out;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// rtsp://[user[:password]@]host[:port][/path] -> host and port.
bool HostAndPort(const std::string& url, std::string& host, std::string& port) {
    if (url.rfind("rtsp://", 0) != 0) return false;
    std::string authority = url.substr(7, url.find('/', 7) == std::string::npos ? std::string::npos
                                                                                : url.find('/', 7) - 7);
    if (const size_t at = authority.rfind('@'); at != std::string::npos) authority = authority.substr(at + 1);
    const size_t colon = authority.rfind(':');
    host = authority.substr(0, colon);
    port = colon == std::string::npos ? "554" : authority.substr(colon + 1);
    return !host.empty() && !port.empty();
}

std::string Resolve(const std::string& base, const std::string& control) {
    if (control.empty() || control == "*") return base;
    if (control.rfind("rtsp://", 0) == 0) return control;
    return base + (base.empty() || base.back() == '/' ? "" : "/") + control;
}

}  // namespace

std::vector<RtspTrack> ParseSdp(const std::string& sdp, const std::string& base_url) {
    std::vector<RtspTrack> tracks;
    std::string base = base_url;
    std::istringstream lines(sdp);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < 2 || line[1] != '=') continue;
        const std::string value = line.substr(2);
        if (line[0] == 'm') {
            RtspTrack track;
            std::istringstream words(value);
            std::string port, profile;
            words >> track.media >> port >> profile >> track.payload_type;
            track.control = base;
            tracks.push_back(track);
            continue;
        }
        if (line[0] != 'a') continue;
        if (value.rfind("control:", 0) == 0) {
            if (tracks.empty()) base = Resolve(base_url, value.substr(8));
            else tracks.back().control = Resolve(base, value.substr(8));
        } else if (!tracks.empty() && value.rfind("rtpmap:", 0) == 0) {
            // rtpmap:PT ENCODING/CLOCK[/CHANNELS]
            std::istringstream words(value.substr(7));
            int pt = -1;
            std::string format;
            words >> pt >> format;
            if (pt != tracks.back().payload_type) continue;
            const size_t slash = format.find('/');
            tracks.back().encoding = Upper(format.substr(0, slash));
            if (slash != std::string::npos) {
                const std::string rest = format.substr(slash + 1);
                tracks.back().clock_rate = std::atoi(rest.c_str());
                if (const size_t second = rest.find('/'); second != std::string::npos)
                    tracks.back().channels = std::max(1, std::atoi(rest.c_str() + second + 1));
            }
        } else if (!tracks.empty() && value.rfind("fmtp:", 0) == 0) {
            const size_t space = value.find(' ');
            if (space == std::string::npos) continue;
            std::string params = value.substr(space + 1);
            for (size_t at = 0; at < params.size();) {
                const size_t semi = std::min(params.find(';', at), params.size());
                const std::string_view pair = http_text::Trim(std::string_view(params).substr(at, semi - at));
                if (const size_t eq = pair.find('='); eq != std::string_view::npos)
                    tracks.back().fmtp[Lower(http_text::Trim(pair.substr(0, eq)))] =
                        std::string(http_text::Trim(pair.substr(eq + 1)));
                at = semi + 1;
            }
        }
    }
    // Static payload types carry no rtpmap.
    for (auto& track : tracks) {
        if (track.encoding.empty() && track.payload_type == 0) track.encoding = "PCMU";
        if (track.encoding.empty() && track.payload_type == 8) track.encoding = "PCMA";
        if ((track.encoding == "PCMU" || track.encoding == "PCMA") && track.clock_rate == 0) track.clock_rate = 8000;
    }
    return tracks;
}

RtspSession::RtspSession(const std::atomic<bool>& stop, std::chrono::milliseconds connect_timeout,
                         std::chrono::milliseconds read_timeout)
    : stop_(stop), connect_timeout_(connect_timeout), read_timeout_(read_timeout) {}

RtspSession::~RtspSession() { Close(); }

void RtspSession::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    closed_ = true;
}

bool RtspSession::Send(const std::string& bytes) {
    size_t sent = 0;
    const auto deadline = Clock::now() + read_timeout_;
    while (sent < bytes.size()) {
        if (stop_ || Clock::now() >= deadline) return false;
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, static_cast<int>(kStopSlice.count()));
        } else {
            return false;
        }
    }
    return true;
}

RtspSession::Result RtspSession::Receive(std::optional<std::chrono::milliseconds> wait) {
    const auto deadline = Clock::now() + wait.value_or(read_timeout_);
    for (;;) {
        if (stop_) return Result::Stopped;
        if (fd_ < 0 || Clock::now() >= deadline) return Result::Failed;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(kStopSlice.count()));
        if (ready < 0 && errno != EINTR) return Result::Failed;
        if (ready <= 0) continue;
        char bytes[64 * 1024];
        const ssize_t n = ::recv(fd_, bytes, sizeof bytes, MSG_DONTWAIT);
        if (n > 0) {
            received_.append(bytes, static_cast<size_t>(n));
            return Result::Ok;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return Result::Failed;
    }
}

bool RtspSession::TakeUnit(Unit& unit, int& channel, std::string& packet, Answer& answer) {
    if (received_.empty()) return false;
    if (received_[0] == '$') {
        if (received_.size() < 4) return false;
        const size_t size = (static_cast<uint8_t>(received_[2]) << 8) | static_cast<uint8_t>(received_[3]);
        if (received_.size() < 4 + size) return false;
        unit = Unit::Packet;
        channel = static_cast<uint8_t>(received_[1]);
        packet.assign(received_, 4, size);
        received_.erase(0, 4 + size);
        return true;
    }
    const size_t head_end = received_.find("\r\n\r\n");
    if (head_end == std::string::npos) {
        // Not a packet and no head: resynchronise on the next '$' when the
        // bytes are plainly no answer.
        if (received_.rfind("RTSP/", 0) != 0 && received_.size() >= 5) {
            const size_t dollar = received_.find('$');
            received_.erase(0, dollar == std::string::npos ? received_.size() : dollar);
        }
        return false;
    }
    Answer parsed;
    std::istringstream lines(received_.substr(0, head_end));
    std::string line;
    std::getline(lines, line);
    if (line.rfind("RTSP/1.0 ", 0) != 0) {
        received_.erase(0, head_end + 4);
        return false;
    }
    parsed.status = std::atoi(line.c_str() + 9);
    size_t length = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string name = Lower(http_text::Trim(std::string_view(line).substr(0, colon)));
        parsed.headers[name] = std::string(http_text::Trim(std::string_view(line).substr(colon + 1)));
        if (name == "content-length") length = std::strtoul(parsed.headers[name].c_str(), nullptr, 10);
    }
    if (length > kMaxAnswerBytes) {
        Close();
        return false;
    }
    if (received_.size() < head_end + 4 + length) return false;
    parsed.body = received_.substr(head_end + 4, length);
    received_.erase(0, head_end + 4 + length);
    unit = Unit::Answer;
    answer = std::move(parsed);
    return true;
}

RtspSession::Result RtspSession::ReadAnswer(Answer& answer) {
    for (;;) {
        Unit unit;
        int channel = 0;
        std::string packet;
        while (TakeUnit(unit, channel, packet, answer)) {
            if (unit == Unit::Answer) return Result::Ok;
            early_packets_.emplace_back(channel, std::move(packet));
        }
        if (received_.size() > kMaxAnswerBytes + 70000) return Result::Failed;
        const Result r = Receive();
        if (r != Result::Ok) return r;
    }
}

RtspSession::Result RtspSession::Request(const std::string& method, const std::string& url,
                                         const std::string& extra, Answer& answer) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string request = method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) +
                               "\r\nUser-Agent: varnel\r\n";
        if (digest_) {
            request += "Authorization: " + DigestAuthorization(*digest_, user_, password_, method, url, ++digest_uses_) +
                       "\r\n";
        } else if (basic_) {
            request += "Authorization: Basic " + onvif::Base64Encode(user_ + ":" + password_) + "\r\n";
        }
        if (!session_.empty()) request += "Session: " + session_ + "\r\n";
        request += extra + "\r\n";
        if (!Send(request)) return stop_ ? Result::Stopped : Result::Failed;
        const Result r = ReadAnswer(answer);
        if (r != Result::Ok) return r;
        if (answer.status != 401) break;
        if (attempt == 1 || digest_ || basic_) return Result::Refused;
        const std::string challenge = answer.headers["www-authenticate"];
        digest_ = ParseDigestChallenge(challenge);
        digest_uses_ = 0;
        basic_ = !digest_ && challenge.rfind("Basic", 0) == 0;
        if (!digest_ && !basic_) return Result::Refused;
    }
    return answer.status >= 200 && answer.status < 300 ? Result::Ok : Result::Declined;
}

RtspSession::Result RtspSession::Describe(const std::string& url, const std::string& user,
                                          const std::string& password) {
    url_ = url;
    user_ = user;
    password_ = password;
    std::string host, port;
    if (!HostAndPort(url, host, port)) return Result::Failed;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) return Result::Failed;
    fd_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int connected = fd_ < 0 ? -1 : ::connect(fd_, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    if (fd_ < 0 || (connected < 0 && errno != EINPROGRESS)) return Result::Failed;
    const auto deadline = Clock::now() + connect_timeout_;
    for (;;) {
        if (stop_) return Result::Stopped;
        if (Clock::now() >= deadline) return Result::Failed;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(kStopSlice.count())) > 0) break;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return Result::Failed;
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    closed_ = false;

    Answer answer;
    const Result r = Request("DESCRIBE", url, "Accept: application/sdp\r\nRequire: onvif-replay\r\n", answer);
    if (r != Result::Ok) return r;
    std::string base = answer.headers.count("content-base") ? answer.headers["content-base"] : url;
    if (base.size() > 1 && base.back() == '/') base.pop_back();
    tracks_ = ParseSdp(answer.body, base);
    return tracks_.empty() ? Result::Failed : Result::Ok;
}

RtspSession::Result RtspSession::Setup(const std::vector<size_t>& tracks) {
    int channel = 0;
    for (size_t index : tracks) {
        RtspTrack& track = tracks_.at(index);
        Answer answer;
        const Result r = Request("SETUP", track.control,
                                 "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(channel) + "-" +
                                     std::to_string(channel + 1) + "\r\nRequire: onvif-replay\r\n",
                                 answer);
        if (r != Result::Ok) return r;
        if (session_.empty()) session_ = answer.headers["session"].substr(0, answer.headers["session"].find(';'));
        track.rtp_channel = channel;
        // The server may choose other channels.
        const std::string& transport = answer.headers["transport"];
        if (const size_t at = transport.find("interleaved="); at != std::string::npos)
            track.rtp_channel = std::atoi(transport.c_str() + at + 12);
        channel += 2;
    }
    return Result::Ok;
}

RtspSession::Result RtspSession::Play(const RtspPlay& play) {
    std::string extra = "Require: onvif-replay\r\n";
    if (play.from_ms) {
        extra += "Range: clock=" + onvif::FormatRtspClock(*play.from_ms) + "-" +
                 (play.to_ms ? onvif::FormatRtspClock(*play.to_ms) : "") + "\r\nImmediate: yes\r\n";
    }
    extra += std::string("Rate-Control: ") + (play.rate_control ? "yes" : "no") + "\r\n";
    if (play.intra_only) extra += "Frames: intra\r\n";
    if (play.scale != 1.0) {
        char scale[32];
        std::snprintf(scale, sizeof scale, "Scale: %.3f\r\n", play.scale);
        extra += scale;
    }
    Answer answer;
    const Result r = Request("PLAY", url_, extra, answer);
    if (play.from_ms) {
        // Packets of the new position may come before the answer.
        NoteFirstSequences(r == Result::Ok ? answer.headers["rtp-info"] : "");
        std::erase_if(early_packets_, [this](const auto& p) {
            return !first_sequence_.count(p.first) || Stale(p.first, p.second);
        });
    }
    return r;
}

void RtspSession::NoteFirstSequences(const std::string& rtp_info) {
    first_sequence_.clear();
    auto last_segment = [](std::string_view url) { return url.substr(url.rfind('/') + 1); };
    // url=...;seq=N;rtptime=T, one per track, comma separated.
    for (size_t at = 0; at < rtp_info.size();) {
        const size_t comma = std::min(rtp_info.find(',', at), rtp_info.size());
        const std::string_view entry = std::string_view(rtp_info).substr(at, comma - at);
        at = comma + 1;
        const size_t url = entry.find("url="), seq = entry.find("seq=");
        if (url == std::string_view::npos || seq == std::string_view::npos) continue;
        const std::string_view named = last_segment(http_text::Trim(entry.substr(url + 4, entry.find(';', url) - url - 4)));
        for (const RtspTrack& track : tracks_)
            if (track.rtp_channel >= 0 && last_segment(track.control) == named)
                first_sequence_[track.rtp_channel] =
                    static_cast<uint16_t>(std::strtoul(std::string(entry.substr(seq + 4)).c_str(), nullptr, 10));
    }
}

bool RtspSession::Stale(int channel, const std::string& packet) const {
    const auto first = first_sequence_.find(channel);
    if (first == first_sequence_.end()) return false;
    if (packet.size() < 12) return true;
    const auto seq = static_cast<uint16_t>((static_cast<uint8_t>(packet[2]) << 8) | static_cast<uint8_t>(packet[3]));
    return static_cast<int16_t>(static_cast<uint16_t>(seq - first->second)) < 0;
}
RtspSession::Result RtspSession::Pause() {
    Answer answer;
    return Request("PAUSE", url_, "", answer);
}

void RtspSession::Teardown() {
    if (fd_ < 0 || session_.empty()) return Close();
    std::string request = "TEARDOWN " + url_ + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) +
                          "\r\nSession: " + session_ + "\r\n";
    if (digest_) request += "Authorization: " + DigestAuthorization(*digest_, user_, password_, "TEARDOWN", url_, ++digest_uses_) + "\r\n";
    request += "\r\n";
    Send(request);
    Close();
}

RtspSession::Read RtspSession::Next(int& channel, std::string& packet, std::chrono::milliseconds quiet) {
    if (!early_packets_.empty()) {
        channel = early_packets_.front().first;
        packet = std::move(early_packets_.front().second);
        early_packets_.pop_front();
        return Read::Packet;
    }
    for (;;) {
        Unit unit;
        Answer answer;
        while (TakeUnit(unit, channel, packet, answer)) {
            if (unit != Unit::Packet || Stale(channel, packet)) continue;
            // Past the first packet of the new position, sequence numbers run on.
            first_sequence_.erase(channel);
            return Read::Packet;
        }
        if (closed_ || fd_ < 0) return Read::Closed;
        const auto began = Clock::now();
        const Result r = Receive(quiet);
        if (r == Result::Stopped) return Read::Stopped;
        if (r != Result::Ok) return Clock::now() - began >= quiet ? Read::Quiet : Read::Closed;
    }
}

}  // namespace playersdk::net
