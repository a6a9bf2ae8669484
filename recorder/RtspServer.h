// ONVIF replay over RTSP: each channel is one recording,
//   rtsp://ADDR:PORT/replay/ch<C>
// whose segments lie on one UTC timeline with their gaps. Media goes over
// the RTSP connection itself (RTP/AVP/TCP, interleaved), as ONVIF replay
// asks; a client asking for UDP is told 461 and falls back to TCP. The video
// track (H.264 or H.265) and the audio track (AAC or G.711, when the first
// segment has it) are sent as stored, every packet with the replay header
// extension 0xABAC.
//
// PLAY honours "Range: clock=" (and npt=, counted from the recording's
// start), "Rate-Control: no" (as fast as the connection takes it; yes, the
// default, paces at real time times Scale), "Frames: intra" (clean points
// only) and "Immediate: yes"; a PLAY while playing always jumps at once.
// Playing on skips the gaps: the unit after a gap has the D bit, the one
// before it the E bit, and the last of a PLAY's range the T bit. PAUSE keeps
// the position for a PLAY without Range. Every request but OPTIONS needs the
// recorder's login (Digest or Basic).
//
// One thread per connection, at most kMaxConnections at once.
#pragma once

#include "DigestLogin.h"
#include "RecordingIndex.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace recorder {

struct RtspOptions {
    std::filesystem::path root;
    std::string listen = "127.0.0.1";
    int port = 0;  // 0 picks a free port
    std::string user;
    std::string password;
};

// The recording token of a channel ("ch1") and back.
std::string recordingToken(int channel);
std::optional<int> channelOfToken(std::string_view token);

class RtspServer {
public:
    using Log = std::function<void(const std::string& line)>;
    static constexpr int kMaxConnections = 64;

    RtspServer(const RecordingIndex& index, RtspOptions options, Log log);
    ~RtspServer();
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    // Binds and starts accepting on a thread of its own; the port, or -1.
    int start();
    void stop();
    // The replay URI of a channel's recording.
    std::string replayUri(int channel) const;

private:
    class Connection;
    void acceptLoop();

    const RecordingIndex& index_;
    RtspOptions options_;
    Log log_;
    DigestLogin login_;
    int listenFd_ = -1;
    int port_ = -1;
    std::thread acceptor_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable idle_;
    std::set<int> connections_;  // their sockets, shut down by stop()
};

}  // namespace recorder
