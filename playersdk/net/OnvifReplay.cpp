#include "net/OnvifReplay.h"

#include <algorithm>

#include "net/OnvifDevice.h"
#include "net/ReplayMuxer.h"
#include "net/ReplaySession.h"

namespace playersdk::net {
namespace {

constexpr auto kCallTimeout = std::chrono::seconds(10);
constexpr auto kConnectTimeout = std::chrono::seconds(2);
constexpr auto kReadTimeout = std::chrono::seconds(10);

bool Replay(const std::string& rtsp_url, const RecorderLogin& login, const ReplayStretch& stretch,
            ReplayFile& file, const std::atomic<bool>& stopping, DownloadProgress& progress) {
    ReplaySession replay(stopping, kConnectTimeout, kReadTimeout);
    if (replay.Open(rtsp_url, login) != RtspSession::Result::Ok) return false;
    auto muxer = ReplayMuxer::Open(ReplayMuxer::Kind::File, replay.Tracks(), file.Output());
    if (!muxer) return false;
    RtspPlay play;
    play.from_ms = stretch.start_ms;
    play.to_ms = stretch.end_ms;
    play.rate_control = false;
    if (replay.Play(play) != RtspSession::Result::Ok) return false;
    progress.total = static_cast<uint64_t>(stretch.end_ms - stretch.start_ms);
    // Times count from the first frame: the device starts at the key frame
    // at or before the stretch's start.
    std::optional<int64_t> base_ms;
    bool any = false;
    for (;;) {
        size_t track = 0;
        ReplayFrame frame;
        const ReplaySession::Next next = replay.NextFrame(track, frame);
        if (next == ReplaySession::Next::End) break;
        if (next != ReplaySession::Next::Frame) return false;
        if (!base_ms) base_ms = std::min(*frame.utc_ms, stretch.start_ms);
        if (!muxer->Write(track, frame, *frame.utc_ms - *base_ms)) return false;
        any = true;
        progress.done = static_cast<uint64_t>(std::clamp<int64_t>(*frame.utc_ms - stretch.start_ms, 0,
                                                                  stretch.end_ms - stretch.start_ms));
    }
    replay.Close();
    return any && muxer->Finish();
}

}  // namespace

bool ReplayStretchToFile(const std::string& rtsp_url, const RecorderLogin& login, const ReplayStretch& stretch,
                         const std::string& destination, const std::atomic<bool>& stopping,
                         DownloadProgress& progress) {
    ReplayFile file;
    if (!file.Open(destination)) return false;
    if (Replay(rtsp_url, login, stretch, file, stopping, progress) && !stopping) return file.Commit();
    file.Discard();
    return false;
}

DownloadJob ReplayDownloadJob(RecorderLogin login, ReplayStretch stretch, std::string destination) {
    return [login = std::move(login), stretch = std::move(stretch), destination = std::move(destination)](
               const std::atomic<bool>& stopping, DownloadProgress& progress) {
        OnvifDevice device(login);
        if (device.FindServices(kCallTimeout) != SoapResult::Ok) return false;
        const auto uri = ReplayUri(device, stretch.recording, kCallTimeout);
        return uri && ReplayStretchToFile(*uri, device.Login(), stretch, destination, stopping, progress);
    };
}

}  // namespace playersdk::net
