// One replay of a recording from an ONVIF device over RTSP: the replay URI
// asked of the device (GetReplayUri), the tracks this library carries set
// up, and whole frames read with their absolute UTC times: from the 0xABAC
// header extension when the device sends it, else counted on from the RTP
// timestamps.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/OnvifDevice.h"
#include "net/ReplayMuxer.h"
#include "net/RtpDepacketizer.h"
#include "net/RtspSession.h"

namespace playersdk::net {

// The device's RTSP address of a recording's replay; nothing when it has none.
std::optional<std::string> ReplayUri(OnvifDevice& device, const std::string& recording,
                                     std::chrono::milliseconds timeout);

class ReplaySession {
public:
    ReplaySession(const std::atomic<bool>& stop, std::chrono::milliseconds connect_timeout,
                  std::chrono::milliseconds read_timeout);

    // Connects, asks for the tracks and sets up those carried (a refused
    // login is tried again with the one configured for the address).
    RtspSession::Result Open(const std::string& url, const RecorderLogin& login);
    const std::vector<MuxTrack>& Tracks() const { return tracks_; }
    // A PLAY; with a start time, what was on its way is forgotten.
    RtspSession::Result Play(const RtspPlay& play);
    RtspSession::Result Pause() { return rtsp_->Pause(); }
    void Close() { rtsp_->Teardown(); }

    enum class Next { Frame, End, Lost, Stopped };
    // The next frame and its track (an index into Tracks()); End once the
    // device says the range is over (the T bit, an RTCP BYE, or a frame past
    // the range's end), Lost when the connection ends before that.
    Next NextFrame(size_t& track, ReplayFrame& frame);

private:
    struct Anchor {
        bool set = false;
        uint32_t rtp = 0;
        int64_t utc_ms = 0;
    };
    void FlushAll();

    const std::atomic<bool>& stop_;
    const std::chrono::milliseconds connect_timeout_, read_timeout_;
    std::unique_ptr<RtspSession> rtsp_;
    std::vector<MuxTrack> tracks_;
    std::vector<RtpDepacketizer> depacketizers_;
    std::vector<int> channels_;  // RTP channel of each track
    std::vector<Anchor> anchors_;
    std::vector<std::pair<size_t, ReplayFrame>> ready_;
    size_t next_ready_ = 0;
    int64_t play_from_ms_ = 0;
    std::optional<int64_t> play_to_ms_;
    std::optional<int64_t> last_utc_ms_;
    std::chrono::steady_clock::time_point last_media_ = std::chrono::steady_clock::now();
    bool ended_ = false;
};

}  // namespace playersdk::net
