// An RTSP client session over one TCP connection, with RTP and RTCP
// interleaved on it: DESCRIBE (the SDP's tracks), SETUP, PLAY with ONVIF's
// replay headers, PAUSE and TEARDOWN, and the interleaved packets read one at
// a time. Answers a Digest (or Basic) challenge with the login given. Our own
// code rather than a library's: the general clients at hand ask only
// "Range: npt=" and cannot send the replay headers, and what is needed here
// (one TCP connection, a handful of requests) stays small.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "net/DigestAuth.h"

namespace playersdk::net {

struct RtspTrack {
    std::string media;     // "video", "audio"
    int payload_type = -1;
    std::string encoding;  // upper case: H264, H265, MPEG4-GENERIC, PCMA, PCMU
    int clock_rate = 0;
    int channels = 1;
    std::map<std::string, std::string> fmtp;  // names in lower case
    std::string control;   // absolute URL
    int rtp_channel = -1;  // interleaved channel, RTCP on the next one
};

// What a PLAY asks for. Times are UTC ms; without `to_ms` it plays on to the end.
struct RtspPlay {
    std::optional<int64_t> from_ms;  // none: resume where paused
    std::optional<int64_t> to_ms;
    bool rate_control = true;
    bool intra_only = false;
    double scale = 1.0;
};

// The SDP of a DESCRIBE answer: its media sections.
std::vector<RtspTrack> ParseSdp(const std::string& sdp, const std::string& base_url);

class RtspSession {
public:
    // `stop` is looked at while waiting on the network.
    RtspSession(const std::atomic<bool>& stop, std::chrono::milliseconds connect_timeout,
                std::chrono::milliseconds read_timeout);
    ~RtspSession();
    RtspSession(const RtspSession&) = delete;
    RtspSession& operator=(const RtspSession&) = delete;

    // Declined: the server answered with an error status (a PLAY of a range
    // it holds nothing of, say); Failed: no answer, the connection is lost.
    enum class Result { Ok, Refused, Declined, Failed, Stopped };
    // Connects and asks for the tracks.
    Result Describe(const std::string& url, const std::string& user, const std::string& password);
    const std::vector<RtspTrack>& Tracks() const { return tracks_; }
    // Sets up the tracks whose indexes are given, interleaved 0-1, 2-3...
    Result Setup(const std::vector<size_t>& tracks);
    // With a start time, packets of the earlier position are dropped: those
    // before the sequence numbers the answer's RTP-Info names, or, without
    // them, all received before the answer.
    Result Play(const RtspPlay& play);
    Result Pause();
    // Best effort; the connection closes either way.
    void Teardown();

    enum class Read { Packet, Closed, Quiet, Stopped };
    // The next interleaved packet: its channel and bytes. Closed when the
    // server closes the connection, Quiet when it says nothing for `quiet`.
    Read Next(int& channel, std::string& packet, std::chrono::milliseconds quiet);

private:
    struct Answer {
        int status = 0;
        std::map<std::string, std::string> headers;  // names in lower case
        std::string body;
    };
    Result Request(const std::string& method, const std::string& url, const std::string& extra, Answer& answer);
    bool Send(const std::string& bytes);
    // Reads until an answer has come, keeping packets that come first.
    Result ReadAnswer(Answer& answer);
    // Takes one interleaved packet or one answer from the received bytes;
    // false when more bytes are needed.
    enum class Unit { Packet, Answer };
    bool TakeUnit(Unit& unit, int& channel, std::string& packet, Answer& answer);
    // Waits for bytes (at most `wait`, else the read timeout) and appends
    // them; Failed on close or timeout.
    Result Receive(std::optional<std::chrono::milliseconds> wait = std::nullopt);
    void Close();
    // The first sequence number of each channel's new position, from a PLAY
    // answer's RTP-Info.
    void NoteFirstSequences(const std::string& rtp_info);
    // True for an RTP packet of the position left behind by the last PLAY.
    bool Stale(int channel, const std::string& packet) const;

    const std::atomic<bool>& stop_;
    const std::chrono::milliseconds connect_timeout_;
    const std::chrono::milliseconds read_timeout_;
    int fd_ = -1;
    std::string url_;
    std::string user_, password_;
    std::optional<DigestChallenge> digest_;
    bool basic_ = false;
    unsigned digest_uses_ = 0;
    int cseq_ = 0;
    std::string session_;
    std::vector<RtspTrack> tracks_;
    std::string received_;
    std::deque<std::pair<int, std::string>> early_packets_;
    std::map<int, uint16_t> first_sequence_;  // by RTP channel, until a packet at or past it
    bool closed_ = false;
};

}  // namespace playersdk::net
