#include "RtspServer.h"

#include "HttpText.h"
#include "ReplayReader.h"
#include "RtpPacketizer.h"
#include "UsernameToken.h"
#include "OnvifTime.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/rand.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

namespace recorder {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxHeadBytes = 16 * 1024;
constexpr size_t kMaxBodyBytes = 64 * 1024;
// A connection that sends nothing and receives no media for this long is closed.
constexpr auto kIdleTimeout = std::chrono::seconds(120);
// A request must be whole this long after its first byte, however slowly it trickles in.
constexpr auto kRequestDeadline = std::chrono::seconds(10);
constexpr int kSessionTimeoutSeconds = 60;
// Media sent in one go before the connection's requests are looked at again.
constexpr size_t kBatchBytes = 256 * 1024;
// A stalled client loses its connection after this long.
constexpr int kSendTimeoutSeconds = 10;
// The spacing given to the step over a gap when playing on, in microseconds.
constexpr int64_t kGapStepUs = 40'000;

uint32_t randomWord() {
    uint32_t v = 0;
    RAND_bytes(reinterpret_cast<unsigned char*>(&v), sizeof v);
    return v;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

struct RtspRequest {
    std::string method;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;

    std::string header(std::string_view name) const {
        for (const auto& [n, v] : headers)
            if (http_text::EqualsNoCase(n, name)) return v;
        return {};
    }
};

// Parses one request at the start of `in`: its length, 0 while incomplete,
// or nothing when it is not RTSP.
std::optional<size_t> parseRequest(std::string_view in, RtspRequest& out) {
    const size_t end = in.find("\r\n\r\n");
    if (end == std::string_view::npos) {
        if (in.size() > kMaxHeadBytes) return std::nullopt;
        return 0;
    }
    std::string_view head = in.substr(0, end);
    size_t eol = head.find("\r\n");
    const std::string_view line = head.substr(0, eol);
    const size_t s1 = line.find(' ');
    const size_t s2 = line.rfind(' ');
    if (s1 == std::string_view::npos || s2 <= s1 || line.substr(s2 + 1) != "RTSP/1.0") return std::nullopt;
    out.method = line.substr(0, s1);
    out.url = line.substr(s1 + 1, s2 - s1 - 1);
    while (eol != std::string_view::npos) {
        head.remove_prefix(eol + 2);
        eol = head.find("\r\n");
        const std::string_view field = head.substr(0, eol);
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        out.headers.emplace_back(http_text::Trim(field.substr(0, colon)),
                                 http_text::Trim(field.substr(colon + 1)));
    }
    uint64_t body = 0;
    const std::string length = out.header("Content-Length");
    if (!length.empty() && (!http_text::ParseDecimal(length, body) || body > kMaxBodyBytes))
        return std::nullopt;
    if (in.size() < end + 4 + body) return 0;
    return end + 4 + body;
}

// The channel a replay URL names: rtsp://host[:port]/replay/<token>[/track].
std::optional<int> channelOfUrl(std::string_view url) {
    const size_t at = url.find("/replay/");
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = url.substr(at + 8);
    rest = rest.substr(0, rest.find('/'));
    return channelOfToken(rest);
}

std::string describeVideo(const VideoFormat& f) {
    std::string fmtp;
    auto b64 = [](const std::string& s) { return onvif::Base64Encode(s); };
    if (f.codec == VideoCodec::H264) {
        std::string sets;
        std::string profile;
        for (const auto& ps : f.parameterSets) {
            if (!sets.empty()) sets += ',';
            sets += b64(ps);
            if ((ps[0] & 0x1f) == 7 && ps.size() >= 4 && profile.empty()) {
                char text[8];
                std::snprintf(text, sizeof text, "%02x%02x%02x", static_cast<uint8_t>(ps[1]),
                              static_cast<uint8_t>(ps[2]), static_cast<uint8_t>(ps[3]));
                profile = text;
            }
        }
        fmtp = "packetization-mode=1";
        if (!profile.empty()) fmtp += ";profile-level-id=" + profile;
        if (!sets.empty()) fmtp += ";sprop-parameter-sets=" + sets;
        return "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 " + fmtp + "\r\n";
    }
    const char* names[] = {"sprop-vps", "sprop-sps", "sprop-pps"};
    for (const auto& ps : f.parameterSets) {
        const int type = (static_cast<uint8_t>(ps[0]) >> 1) & 0x3f;
        if (type < 32 || type > 34) continue;
        if (!fmtp.empty()) fmtp += ';';
        fmtp += std::string(names[type - 32]) + "=" + b64(ps);
    }
    return "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H265/90000\r\n" +
           (fmtp.empty() ? std::string() : "a=fmtp:96 " + fmtp + "\r\n");
}

std::string describeAudio(const AudioFormat& f) {
    if (f.codec != AudioCodec::Aac) {
        const char* name = f.codec == AudioCodec::Pcma ? "PCMA" : "PCMU";
        const char* type = f.codec == AudioCodec::Pcma ? "8" : "0";
        return std::string("m=audio 0 RTP/AVP ") + type + "\r\na=rtpmap:" + type + " " + name + "/8000/1\r\n";
    }
    std::string config;
    for (unsigned char c : f.config) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", c);
        config += hex;
    }
    return "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 MPEG4-GENERIC/" + std::to_string(f.sampleRate) + "/" +
           std::to_string(f.channels) +
           "\r\na=fmtp:97 streamtype=5;profile-level-id=1;mode=AAC-hbr;sizelength=13;indexlength=3;"
           "indexdeltalength=3;config=" + config + "\r\n";
}

Payload payloadOf(const ReplayFormat& f, Track track) {
    if (track == Track::Video) return f.video.codec == VideoCodec::H264 ? Payload::H264 : Payload::H265;
    switch (f.audio->codec) {
    case AudioCodec::Aac: return Payload::Aac;
    case AudioCodec::Pcma: return Payload::Pcma;
    default: return Payload::Pcmu;
    }
}

// The track a URL of SETUP names: .../audio, else the video.
Track trackOfUrl(std::string_view url) {
    return url.size() >= 6 && url.substr(url.size() - 6) == "/audio" ? Track::Audio : Track::Video;
}

struct RangeAsked {
    bool given = false;
    bool npt = false;
    int64_t startMs = 0;
    std::optional<int64_t> endMs;
};

// "clock=START-[END]" or "npt=START-[END]" (npt counted from `originMs`);
// nothing when malformed.
std::optional<RangeAsked> parseRange(std::string_view text, int64_t originMs) {
    RangeAsked r;
    if (text.empty()) return r;
    r.given = true;
    text = text.substr(0, text.find(';'));
    const size_t eq = text.find('=');
    const size_t dash = text.find('-', eq);
    if (eq == std::string_view::npos || dash == std::string_view::npos) return std::nullopt;
    const std::string_view unit = http_text::Trim(text.substr(0, eq));
    const std::string_view from = http_text::Trim(text.substr(eq + 1, dash - eq - 1));
    const std::string_view to = http_text::Trim(text.substr(dash + 1));
    auto npt = [&](std::string_view t) -> std::optional<int64_t> {
        if (t == "now") return originMs;
        char* end = nullptr;
        const std::string s(t);
        const double seconds = std::strtod(s.c_str(), &end);
        if (s.empty() || *end != '\0' || !(seconds >= 0) || seconds > 1e9) return std::nullopt;
        return originMs + static_cast<int64_t>(seconds * 1000);
    };
    auto at = [&](std::string_view t) {
        return unit == "clock" ? onvif::ParseRtspClock(t) : npt(t);
    };
    if (unit != "clock" && unit != "npt") return std::nullopt;
    r.npt = unit == "npt";
    if (from.empty()) {
        r.startMs = originMs;
    } else {
        const auto start = at(from);
        if (!start) return std::nullopt;
        r.startMs = *start;
    }
    if (!to.empty()) {
        r.endMs = at(to);
        if (!r.endMs || *r.endMs < r.startMs) return std::nullopt;
    }
    return r;
}

}  // namespace

std::string recordingToken(int channel) { return "ch" + std::to_string(channel); }

std::optional<int> channelOfToken(std::string_view token) {
    if (token.size() != 3 || token.substr(0, 2) != "ch" || token[2] < '1' || token[2] > '4')
        return std::nullopt;
    return token[2] - '0';
}

// One client's connection and its session, served on a thread of its own:
// requests are read between media packets, so answers and media share the
// socket without a lock.
class RtspServer::Connection {
public:
    Connection(RtspServer& server, int fd, std::string peer)
        : server_(server), fd_(fd), peer_(std::move(peer)) {}
    void run();

private:
    struct Answer {
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
    };
    Answer handle(const RtspRequest& request);
    Answer describe(const RtspRequest& request, int channel);
    Answer setup(const RtspRequest& request, int channel);
    Answer play(const RtspRequest& request);
    bool reply(const RtspRequest& request, const Answer& answer);
    // Sends what is due; false when the connection is lost.
    bool sendMedia();
    // Each set-up track's RTCP goodbye, then the PLAY is over.
    void finish();
    void frame(int channel, std::string_view packet);
    std::optional<Clock::time_point> nextDue();
    void stopPlaying() {
        playing_ = false;
        pending_.reset();
    }

    RtspServer& server_;
    int fd_;
    std::string peer_;
    std::string in_;
    std::string out_;

    // The session.
    std::string sessionId_;
    int channel_ = 0;
    std::optional<ReplayFormat> format_;
    struct TrackState {
        int rtpChannel = 0;  // RTCP on the next one
        std::string url;     // as SETUP named it
        int clockRate = 90000;
        std::unique_ptr<RtpPacketizer> packetizer;
        uint32_t rtpBase = randomWord();
        uint32_t rtpNow = 0;
    };
    TrackState tracks_[2];  // by Track; a track is set up when it has a packetizer
    std::unique_ptr<ReplayReader> reader_;

    // The PLAY under way.
    bool playing_ = false;
    bool ended_ = false;  // the PLAY's range or the footage is used up
    bool played_ = false;  // a PLAY came before: the next one starts with D
    bool rateControl_ = true;
    double scale_ = 1;
    std::optional<int64_t> endMs_;
    uint8_t cseq_ = 0;
    bool discontinuity_[2] = {false, false};  // by track: the next unit follows a jump
    std::optional<AccessUnit> pending_;  // read, not yet due
    int64_t resumeMs_ = 0;              // where the next PLAY without Range starts
    // Times on the play clock: media time with the gaps left out, from the PLAY's first unit.
    int64_t originUs_ = 0;
    int64_t skippedUs_ = 0;  // gap time left out so far
    int64_t latestUs_ = 0;   // the latest unit time sent
    bool first_ = true;
    Clock::time_point wallOrigin_;
};

void RtspServer::Connection::run() {
    auto lastHeard = Clock::now();
    bool partial = false;  // a request is not yet whole
    Clock::time_point partialSince;
    char buffer[16 * 1024];
    while (!server_.stopping_) {
        int timeout = 1000;
        if (playing_) {
            // At the end, sendMedia() says goodbye at once.
            const auto due = nextDue();
            const auto wait = due ? std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count() : 0;
            timeout = static_cast<int>(std::clamp<int64_t>(wait, 0, 1000));
        }
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeout);
        if (ready < 0 && errno != EINTR) return;
        if (ready > 0) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            in_.append(buffer, static_cast<size_t>(n));
            lastHeard = Clock::now();
            for (;;) {
                if (!in_.empty() && in_[0] == '$') {  // the client's own RTCP, dropped
                    if (in_.size() < 4) break;
                    const size_t length = 4 + ((static_cast<uint8_t>(in_[2]) << 8) | static_cast<uint8_t>(in_[3]));
                    if (in_.size() < length) break;
                    in_.erase(0, length);
                    continue;
                }
                RtspRequest request;
                const auto used = parseRequest(in_, request);
                if (!used) {
                    sendAll(fd_, "RTSP/1.0 400 Bad Request\r\n\r\n");
                    return;
                }
                if (*used == 0) break;
                in_.erase(0, *used);
                const Answer answer = handle(request);
                if (!reply(request, answer) || request.method == "TEARDOWN") return;
            }
            if (!in_.empty() && !partial) partialSince = Clock::now();
            partial = !in_.empty();
        } else if (!playing_ && Clock::now() - lastHeard > kIdleTimeout) {
            return;
        }
        if (partial && Clock::now() - partialSince > kRequestDeadline) return;
        if (playing_ && !sendMedia()) return;
    }
}

bool RtspServer::Connection::reply(const RtspRequest& request, const Answer& a) {
    static const std::pair<int, const char*> reasons[] = {
        {200, "OK"}, {400, "Bad Request"}, {401, "Unauthorized"}, {404, "Not Found"},
        {405, "Method Not Allowed"}, {454, "Session Not Found"}, {455, "Method Not Valid in This State"},
        {457, "Invalid Range"}, {461, "Unsupported Transport"}, {501, "Not Implemented"},
        {551, "Option not supported"}};
    const char* reason = "Error";
    for (const auto& [code, text] : reasons)
        if (code == a.status) reason = text;
    std::string out = "RTSP/1.0 " + std::to_string(a.status) + " " + reason + "\r\n";
    out += "CSeq: " + request.header("CSeq") + "\r\n";
    out += "Server: varnel-recorder\r\n";
    for (const auto& [name, value] : a.headers) out += name + ": " + value + "\r\n";
    if (!a.body.empty()) out += "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
    out += "\r\n" + a.body;
    // What a PLAY asked of the replay, for whoever follows a client's pace.
    std::string asked;
    if (request.method == "PLAY")
        for (const char* name : {"Range", "Rate-Control", "Scale", "Frames", "Immediate"})
            if (const std::string value = request.header(name); !value.empty()) asked += std::string(" ") + name + ": " + value;
    server_.log_("RTSP " + peer_ + " " + request.method + " " + request.url + " " + std::to_string(a.status) + asked);
    return sendAll(fd_, out);
}

RtspServer::Connection::Answer RtspServer::Connection::handle(const RtspRequest& request) {
    Answer a;
    const std::string& m = request.method;
    if (m == "OPTIONS") {
        a.headers.emplace_back("Public", "OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN, GET_PARAMETER, SET_PARAMETER");
        return a;
    }
    if (!server_.login_.accepts(m, request.header("Authorization"))) {
        a.status = 401;
        a.headers.emplace_back("WWW-Authenticate", server_.login_.challenge());
        return a;
    }
    // onvif-replay is the one extension this server knows.
    const std::string require = request.header("Require");
    if (!require.empty() && !http_text::EqualsNoCase(http_text::Trim(require), "onvif-replay")) {
        a.status = 551;
        a.headers.emplace_back("Unsupported", require);
        return a;
    }
    const auto channel = channelOfUrl(request.url);
    if (m == "DESCRIBE" || m == "SETUP") {
        if (!channel) {
            a.status = 404;
            return a;
        }
        return m == "DESCRIBE" ? describe(request, *channel) : setup(request, *channel);
    }
    if (m == "PLAY" || m == "PAUSE" || m == "TEARDOWN" || m == "GET_PARAMETER" || m == "SET_PARAMETER") {
        const std::string session = request.header("Session");
        if (sessionId_.empty() || session.substr(0, session.find(';')) != sessionId_) {
            // A keep-alive before SETUP is harmless.
            a.status = (m == "GET_PARAMETER" && session.empty()) ? 200 : 454;
            return a;
        }
        a.headers.emplace_back("Session", sessionId_ + ";timeout=" + std::to_string(kSessionTimeoutSeconds));
        if (m == "PLAY") {
            Answer played = play(request);
            played.headers.insert(played.headers.begin(), a.headers.begin(), a.headers.end());
            return played;
        }
        if (m == "PAUSE") {
            if (pending_) resumeMs_ = pending_->timeUs / 1000;
            else if (reader_ && reader_->nextTimeUs()) resumeMs_ = *reader_->nextTimeUs() / 1000;
            stopPlaying();
        }
        if (m == "TEARDOWN") stopPlaying();
        return a;
    }
    a.status = 405;
    return a;
}

RtspServer::Connection::Answer RtspServer::Connection::describe(const RtspRequest& request, int channel) {
    Answer a;
    ReplayReader reader(server_.options_.root, ReplayTimeline::ofChannel(server_.index_, channel));
    const auto format = reader.format();
    if (!format) {
        a.status = 404;
        return a;
    }
    const ReplayTimeline& timeline = reader.timeline();
    std::string sdp = "v=0\r\no=- " + std::to_string(randomWord()) + " 1 IN IP4 " +
                      server_.options_.listen + "\r\ns=" + recordingToken(channel) +
                      "\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\n";
    sdp += "a=range:clock=" + onvif::FormatRtspClock(timeline.startMs()) + "-" +
           onvif::FormatRtspClock(timeline.endMs()) + "\r\n";
    sdp += "a=range:npt=0-" + std::to_string((timeline.endMs() - timeline.startMs()) / 1000.0) + "\r\n";
    sdp += describeVideo(format->video) + "a=control:video\r\na=recvonly\r\n";
    if (format->audio) sdp += describeAudio(*format->audio) + "a=control:audio\r\na=recvonly\r\n";
    std::string base = request.url;
    if (base.empty() || base.back() != '/') base += '/';
    a.headers.emplace_back("Content-Base", base);
    a.headers.emplace_back("Content-Type", "application/sdp");
    a.body = sdp;
    return a;
}

RtspServer::Connection::Answer RtspServer::Connection::setup(const RtspRequest& request, int channel) {
    Answer a;
    const std::string transport = request.header("Transport");
    if (transport.find("RTP/AVP/TCP") == std::string::npos) {
        a.status = 461;
        return a;
    }
    if (!sessionId_.empty() && channel != channel_) {
        a.status = 455;
        return a;
    }
    ReplayReader probe(server_.options_.root, ReplayTimeline::ofChannel(server_.index_, channel));
    if (sessionId_.empty()) format_ = probe.format();
    const Track track = trackOfUrl(request.url);
    if (!format_ || (track == Track::Audio && !format_->audio)) {
        a.status = 404;
        return a;
    }
    channel_ = channel;
    TrackState& state = tracks_[static_cast<int>(track)];
    state.url = request.url;
    state.rtpChannel = track == Track::Video ? 0 : 2;
    const size_t at = transport.find("interleaved=");
    if (at != std::string::npos) state.rtpChannel = std::clamp(std::atoi(transport.c_str() + at + 12), 0, 254);
    state.clockRate = track == Track::Video ? 90000 : format_->audio->sampleRate;
    if (sessionId_.empty()) {
        char id[20];
        std::snprintf(id, sizeof id, "%08X%08X", randomWord(), randomWord());
        sessionId_ = id;
        resumeMs_ = probe.timeline().startMs();
    }
    state.packetizer = std::make_unique<RtpPacketizer>(payloadOf(*format_, track), randomWord(),
                                                       static_cast<uint16_t>(randomWord()));
    a.headers.emplace_back("Session", sessionId_ + ";timeout=" + std::to_string(kSessionTimeoutSeconds));
    a.headers.emplace_back("Transport", "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(state.rtpChannel) +
                                            "-" + std::to_string(state.rtpChannel + 1));
    return a;
}

RtspServer::Connection::Answer RtspServer::Connection::play(const RtspRequest& request) {
    Answer a;
    if (!tracks_[0].packetizer && !tracks_[1].packetizer) {
        a.status = 455;
        return a;
    }
    // The timeline as the folder is now, so that a long session sees new segments.
    auto reader = std::make_unique<ReplayReader>(server_.options_.root,
                                                 ReplayTimeline::ofChannel(server_.index_, channel_));
    const int64_t originMs = reader->timeline().startMs();
    const auto range = parseRange(request.header("Range"), originMs);
    double scale = 1;
    const std::string scaleText = request.header("Scale");
    if (!scaleText.empty()) scale = std::strtod(scaleText.c_str(), nullptr);
    if (!range || !(scale > 0) || scale > 1000) {
        a.status = !range ? 457 : 551;
        return a;
    }
    const std::string frames = request.header("Frames");
    reader->keepCleanOnly(frames.rfind("intra", 0) == 0);
    const int64_t startMs = range->given ? range->startMs : resumeMs_;
    if (!reader->seek(startMs) || !reader->nextTimeUs() ||
        (range->endMs && *reader->nextTimeUs() / 1000 > *range->endMs)) {
        a.status = 457;
        return a;
    }
    rateControl_ = !http_text::EqualsNoCase(http_text::Trim(request.header("Rate-Control")), "no");
    scale_ = rateControl_ ? scale : 1;
    endMs_ = range->endMs;
    cseq_ = static_cast<uint8_t>(std::atoi(request.header("CSeq").c_str()));
    reader_ = std::move(reader);
    pending_.reset();
    discontinuity_[0] = discontinuity_[1] = played_;
    played_ = true;
    first_ = true;
    ended_ = false;
    playing_ = true;
    // RTP time runs on from the previous PLAY, so that a receiver's clock never steps back.
    std::string rtpInfo;
    for (TrackState& track : tracks_) {
        if (!track.packetizer) continue;
        if (track.rtpNow != 0) track.rtpBase = track.rtpNow + static_cast<uint32_t>(track.clockRate / 10);
        if (!rtpInfo.empty()) rtpInfo += ',';
        rtpInfo += "url=" + track.url + ";seq=" + std::to_string(track.packetizer->nextSequence()) +
                   ";rtptime=" + std::to_string(track.rtpBase);
    }

    const int64_t firstMs = *reader_->nextTimeUs() / 1000;
    std::string shown = range->npt
                            ? "npt=" + std::to_string((firstMs - originMs) / 1000.0) + "-"
                            : "clock=" + onvif::FormatRtspClock(firstMs) + "-";
    if (endMs_) shown += range->npt ? std::to_string((*endMs_ - originMs) / 1000.0) : onvif::FormatRtspClock(*endMs_);
    a.headers.emplace_back("Range", shown);
    a.headers.emplace_back("RTP-Info", rtpInfo);
    if (!scaleText.empty()) a.headers.emplace_back("Scale", scaleText);
    if (!rateControl_) a.headers.emplace_back("Rate-Control", "no");
    return a;
}

std::optional<Clock::time_point> RtspServer::Connection::nextDue() {
    if (ended_) return std::nullopt;
    if (!pending_) {
        auto unit = reader_->next();
        if (!unit || (endMs_ && unit->timeUs / 1000 > *endMs_)) {
            ended_ = true;
            return std::nullopt;
        }
        pending_ = std::move(unit);
        if (first_) {
            first_ = false;
            originUs_ = pending_->timeUs;
            skippedUs_ = 0;
            latestUs_ = pending_->timeUs;
            wallOrigin_ = Clock::now();
        } else if (pending_->followsGap && pending_->timeUs > latestUs_ + kGapStepUs) {
            skippedUs_ += pending_->timeUs - latestUs_ - kGapStepUs;
        }
    }
    if (!rateControl_) return Clock::now();
    const int64_t playUs = pending_->timeUs - skippedUs_ - originUs_;
    return wallOrigin_ + std::chrono::microseconds(static_cast<int64_t>(static_cast<double>(playUs) / scale_));
}

void RtspServer::Connection::frame(int channel, std::string_view packet) {
    out_ += '$';
    out_ += static_cast<char>(channel);
    out_ += static_cast<char>((packet.size() >> 8) & 0xff);
    out_ += static_cast<char>(packet.size() & 0xff);
    out_ += packet;
}

void RtspServer::Connection::finish() {
    // An RTCP BYE tells plain RTSP clients that the stream is over.
    for (const TrackState& track : tracks_)
        if (track.packetizer)
            frame(track.rtpChannel + 1, track.packetizer->goodbye(latestUs_, track.rtpNow));
    stopPlaying();
}

bool RtspServer::Connection::sendMedia() {
    out_.clear();
    while (playing_ && out_.size() < kBatchBytes) {
        const auto due = nextDue();
        if (!due) {
            finish();
            break;
        }
        if (*due > Clock::now()) break;
        AccessUnit unit = std::move(*pending_);
        pending_.reset();
        latestUs_ = std::max(latestUs_, unit.timeUs);
        TrackState& track = tracks_[static_cast<int>(unit.track)];
        if (!track.packetizer) continue;
        const auto nextTime = reader_->nextTimeUs();
        ReplayMarks marks;
        marks.timeUs = unit.timeUs;
        marks.clean = unit.clean;
        marks.endsStretch = unit.endsStretch;
        marks.discontinuity = discontinuity_[static_cast<int>(unit.track)] || unit.followsGap;
        marks.terminal = unit.last || (endMs_ && (!nextTime || *nextTime / 1000 > *endMs_));
        marks.cseq = cseq_;
        discontinuity_[static_cast<int>(unit.track)] = false;
        const int64_t playUs = unit.timeUs - skippedUs_ - originUs_;
        track.rtpNow = track.rtpBase + static_cast<uint32_t>(playUs * track.clockRate / 1000000);
        track.packetizer->packetize(unit.data, track.rtpNow, marks,
                                    [&](std::string_view packet) { frame(track.rtpChannel, packet); });
    }
    return out_.empty() || sendAll(fd_, out_);
}

RtspServer::RtspServer(const RecordingIndex& index, RtspOptions options, Log log)
    : index_(index), options_(std::move(options)), log_(std::move(log)),
      login_(options_.user, options_.password, "varnel-recorder") {}

RtspServer::~RtspServer() { stop(); }

int RtspServer::start() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return -1;
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(options_.port));
    socklen_t length = sizeof addr;
    if (::inet_pton(AF_INET, options_.listen.c_str(), &addr.sin_addr) != 1 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return -1;
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
    return port_;
}

std::string RtspServer::replayUri(int channel) const {
    return "rtsp://" + options_.listen + ":" + std::to_string(port_) + "/replay/" + recordingToken(channel);
}

void RtspServer::acceptLoop() {
    while (!stopping_) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (stopping_) break;
            // Out of descriptors: wait for connections to end.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        char text[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        const std::string name = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_ || connections_.size() >= kMaxConnections) {
                ::close(fd);
                continue;
            }
            connections_.insert(fd);
        }
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        const timeval sendTimeout{kSendTimeoutSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
        std::thread([this, fd, name] {
            Connection(*this, fd, name).run();
            std::lock_guard<std::mutex> guard(lock_);
            connections_.erase(fd);
            ::close(fd);
            idle_.notify_all();
        }).detach();
    }
}

void RtspServer::stop() {
    if (listenFd_ < 0) return;
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    std::unique_lock<std::mutex> guard(lock_);
    for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
    idle_.wait(guard, [this] { return connections_.empty(); });
    ::close(listenFd_);
    listenFd_ = -1;
}

}  // namespace recorder
