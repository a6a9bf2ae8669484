#include "net/ReplaySession.h"

#include "Soap.h"

namespace playersdk::net {
namespace {

constexpr uint8_t kRtcpBye = 203;
// Within this of the range's end, this long without media ends a replay.
constexpr int64_t kNearEndMs = 1500;
constexpr std::chrono::milliseconds kEndSilence(1000);

}  // namespace

std::optional<std::string> ReplayUri(OnvifDevice& device, const std::string& recording,
                                     std::chrono::milliseconds timeout) {
    if (device.ReplayPath().empty()) return std::nullopt;
    pugi::xml_document doc;
    pugi::xml_node response;
    if (device.Call(device.ReplayPath(),
                    "<trp:GetReplayUri><trp:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport>"
                    "<tt:Protocol>RTSP</tt:Protocol></tt:Transport></trp:StreamSetup><trp:RecordingToken>" +
                        onvif::XmlEscape(recording) + "</trp:RecordingToken></trp:GetReplayUri>",
                    doc, response, timeout) != SoapResult::Ok)
        return std::nullopt;
    std::string uri = Child(response, "Uri").text().get();
    if (uri.rfind("rtsp://", 0) != 0) return std::nullopt;
    return uri;
}

ReplaySession::ReplaySession(const std::atomic<bool>& stop, std::chrono::milliseconds connect_timeout,
                             std::chrono::milliseconds read_timeout)
    : stop_(stop), connect_timeout_(connect_timeout), read_timeout_(read_timeout) {}

RtspSession::Result ReplaySession::Open(const std::string& url, const RecorderLogin& login) {
    rtsp_ = std::make_unique<RtspSession>(stop_, connect_timeout_, read_timeout_);
    RtspSession::Result described = rtsp_->Describe(url, login.user, login.password);
    if (described == RtspSession::Result::Refused) {
        if (const auto configured = ConfiguredLogin(login.host, login.port)) {
            rtsp_ = std::make_unique<RtspSession>(stop_, connect_timeout_, read_timeout_);
            described = rtsp_->Describe(url, configured->user, configured->password);
        }
    }
    if (described != RtspSession::Result::Ok) return described;
    std::vector<size_t> carried;
    bool video = false;
    for (size_t i = 0; i < rtsp_->Tracks().size(); ++i) {
        const RtspTrack& track = rtsp_->Tracks()[i];
        const TrackCodec codec = CodecOf(track);
        const bool is_video = codec == TrackCodec::H264 || codec == TrackCodec::H265;
        // One picture track and one sound track at most.
        if (codec == TrackCodec::None || (is_video && video) || (!is_video && carried.size() > (video ? 1u : 0u)))
            continue;
        video |= is_video;
        carried.push_back(i);
    }
    if (!video) return RtspSession::Result::Failed;
    const RtspSession::Result set_up = rtsp_->Setup(carried);
    if (set_up != RtspSession::Result::Ok) return set_up;
    for (size_t i : carried) {
        const RtspTrack& track = rtsp_->Tracks()[i];
        depacketizers_.emplace_back(track);
        MuxTrack mux;
        mux.codec = depacketizers_.back().Codec();
        mux.extradata = depacketizers_.back().Extradata();
        mux.clock_rate = track.clock_rate > 0 ? track.clock_rate : 90000;
        mux.channels = track.channels;
        tracks_.push_back(mux);
        channels_.push_back(track.rtp_channel);
        anchors_.emplace_back();
    }
    return RtspSession::Result::Ok;
}

RtspSession::Result ReplaySession::Play(const RtspPlay& play) {
    if (play.from_ms) {
        for (auto& d : depacketizers_) d.Reset();
        for (auto& a : anchors_) a = Anchor{};
        ready_.clear();
        next_ready_ = 0;
        play_from_ms_ = *play.from_ms;
        play_to_ms_ = play.to_ms;
        last_utc_ms_.reset();
        ended_ = false;
    }
    last_media_ = std::chrono::steady_clock::now();
    return rtsp_->Play(play);
}

void ReplaySession::FlushAll() {
    std::vector<ReplayFrame> rest;
    for (size_t i = 0; i < depacketizers_.size(); ++i) {
        depacketizers_[i].Flush(rest);
        for (auto& f : rest) ready_.emplace_back(i, std::move(f));
        rest.clear();
    }
}

ReplaySession::Next ReplaySession::NextFrame(size_t& track, ReplayFrame& frame) {
    for (;;) {
        if (next_ready_ < ready_.size()) {
            track = ready_[next_ready_].first;
            frame = std::move(ready_[next_ready_].second);
            ++next_ready_;
            Anchor& anchor = anchors_[track];
            const int rate = tracks_[track].clock_rate;
            if (frame.utc_ms) {
                anchor = {true, frame.rtp_time, *frame.utc_ms};
            } else {
                if (!anchor.set) anchor = {true, frame.rtp_time, play_from_ms_};
                frame.utc_ms = anchor.utc_ms + static_cast<int32_t>(frame.rtp_time - anchor.rtp) * int64_t{1000} / rate;
            }
            if (play_to_ms_ && *frame.utc_ms > *play_to_ms_) {
                ended_ = true;
                return Next::End;
            }
            last_utc_ms_ = *frame.utc_ms;
            if (frame.terminal) ended_ = true;
            return Next::Frame;
        }
        ready_.clear();
        next_ready_ = 0;
        if (ended_) return Next::End;
        // A device that stops at the range's end may say nothing more: near
        // the end, a short silence ends the replay.
        const bool near_end = play_to_ms_ && last_utc_ms_ && *last_utc_ms_ >= *play_to_ms_ - kNearEndMs;
        const auto limit = near_end ? kEndSilence : read_timeout_;
        const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
            limit - (std::chrono::steady_clock::now() - last_media_));
        int channel = 0;
        std::string bytes;
        const RtspSession::Read read =
            quiet.count() > 0 ? rtsp_->Next(channel, bytes, quiet) : RtspSession::Read::Quiet;
        if (read == RtspSession::Read::Stopped) return Next::Stopped;
        if (read == RtspSession::Read::Closed || read == RtspSession::Read::Quiet) {
            FlushAll();
            ended_ = true;
            if (!ready_.empty()) continue;
            return near_end ? Next::End : Next::Lost;
        }
        for (size_t i = 0; i < channels_.size(); ++i) {
            if (channel == channels_[i] + 1) {
                // RTCP: a BYE ends the replay.
                for (size_t at = 0; at + 4 <= bytes.size();) {
                    if (static_cast<uint8_t>(bytes[at + 1]) == kRtcpBye) ended_ = true;
                    at += 4 * (((static_cast<uint8_t>(bytes[at + 2]) << 8) | static_cast<uint8_t>(bytes[at + 3])) + 1);
                }
                if (ended_) FlushAll();
                break;
            }
            if (channel != channels_[i]) continue;
            RtpPacket packet;
            if (!ParseRtpPacket(bytes, packet)) break;
            last_media_ = std::chrono::steady_clock::now();
            std::vector<ReplayFrame> frames;
            depacketizers_[i].Push(packet, frames);
            for (auto& f : frames) ready_.emplace_back(i, std::move(f));
            break;
        }
    }
}

}  // namespace playersdk::net
