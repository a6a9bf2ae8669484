#include "net/OnvifSearch.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <map>
#include <vector>

#include "OnvifTime.h"
#include "Soap.h"
#include "player/PlayerSdk.h"

namespace playersdk::net {
namespace {

constexpr auto kCallTimeout = std::chrono::seconds(10);
constexpr auto kEndSearchTimeout = std::chrono::seconds(1);
// Events or recordings asked for a call: each call is a round trip and a
// login, but answers of megabytes cost more to build and read than they
// save (an event is about 650 bytes); 250 to 1000 measured alike.
constexpr int kPageSize = 500;
constexpr size_t kMaxNameBytes = 99;

std::string Xs(int64_t utc_ms) {
    // Rounded down to the second: xs:dateTime as the device writes it.
    return onvif::FormatXsDateTime(utc_ms >= 0 ? utc_ms / 1000 : -((-utc_ms + 999) / 1000));
}

std::optional<int64_t> XsMs(const pugi::xml_node& node) {
    const auto s = onvif::ParseXsDateTime(node.text().get());
    if (!s) return std::nullopt;
    return *s * 1000;
}

struct Recording {
    std::string token;
    std::vector<std::string> video_tracks;
    std::optional<int64_t> earliest_ms, latest_ms;
};

class OnvifSearch final : public SearchSource {
public:
    OnvifSearch(std::shared_ptr<OnvifDevice> device, OnvifSearchRequest request)
        : device_(std::move(device)), request_(request) {}

    void Fetch(const Deliver& deliver) override {
        if (request_.type != 1 || device_->SearchPath().empty()) return;
        const auto token = Begin("<tse:FindRecordings><tse:Scope/><tse:KeepAliveTime>PT60S</tse:KeepAliveTime>"
                                 "</tse:FindRecordings>");
        if (!token) return;
        std::vector<std::string> sources;
        for (;;) {
            pugi::xml_document doc;
            pugi::xml_node response;
            if (device_->Call(device_->SearchPath(),
                              "<tse:GetRecordingSearchResults><tse:SearchToken>" + onvif::XmlEscape(*token) +
                                  "</tse:SearchToken><tse:MaxResults>" + std::to_string(kPageSize) +
                                  "</tse:MaxResults><tse:WaitTime>PT1S</tse:WaitTime></tse:GetRecordingSearchResults>",
                              doc, response, kCallTimeout) != SoapResult::Ok)
                return End(*token);
            const pugi::xml_node list = Child(response, "ResultList");
            for (pugi::xml_node info = list.first_child(); info; info = info.next_sibling()) {
                if (LocalName(info) != "RecordingInformation") continue;
                Recording recording;
                if (!ReadRecording(info, recording)) continue;
                std::string source = Child(Child(info, "Source"), "SourceId").text().get();
                if (source.empty()) source = recording.token;
                auto at = std::find(sources.begin(), sources.end(), source);
                if (at == sources.end()) at = sources.insert(sources.end(), source);
                if (at - sources.begin() != request_.channel) continue;
                if (!Stretches(recording, deliver)) return End(*token);
            }
            if (std::string_view(Child(list, "SearchState").text().get()) == "Completed") return;
            if (!list) return End(*token);
        }
    }

    void Cancel() override { device_->Cancel(); }

private:
    // A recording with a video track, and its times; false for another.
    static bool ReadRecording(const pugi::xml_node& info, Recording& recording) {
        recording.token = Child(info, "RecordingToken").text().get();
        recording.earliest_ms = XsMs(Child(info, "EarliestRecording"));
        recording.latest_ms = XsMs(Child(info, "LatestRecording"));
        for (pugi::xml_node track = info.first_child(); track; track = track.next_sibling()) {
            if (LocalName(track) != "Track" || std::string_view(Child(track, "TrackType").text().get()) != "Video")
                continue;
            recording.video_tracks.push_back(Child(track, "TrackToken").text().get());
            // A device that leaves the recording's own times out has its tracks'.
            const auto from = XsMs(Child(track, "DataFrom")), to = XsMs(Child(track, "DataTo"));
            if (!recording.earliest_ms || (from && *from < *recording.earliest_ms)) recording.earliest_ms = from;
            if (!recording.latest_ms || (to && *to > *recording.latest_ms)) recording.latest_ms = to;
        }
        return !recording.token.empty() && !recording.video_tracks.empty();
    }

    // Starts a search on the device; its token.
    std::optional<std::string> Begin(const std::string& body) {
        pugi::xml_document doc;
        pugi::xml_node response;
        if (device_->Call(device_->SearchPath(), body, doc, response, kCallTimeout) != SoapResult::Ok)
            return std::nullopt;
        std::string token = Child(response, "SearchToken").text().get();
        if (token.empty()) return std::nullopt;
        return token;
    }

    // Ends a search the device still holds, on a device of its own: this
    // one may have been cancelled.
    void End(const std::string& token) {
        OnvifDevice closer(device_->Login());
        pugi::xml_document doc;
        pugi::xml_node response;
        closer.Call(device_->SearchPath(),
                    "<tse:EndSearch><tse:SearchToken>" + onvif::XmlEscape(token) + "</tse:SearchToken></tse:EndSearch>",
                    doc, response, kEndSearchTimeout);
    }

    // Hands on the recording's stretches within the range; false once the
    // search is stopped or the device fails.
    bool Stretches(const Recording& recording, const Deliver& deliver) {
        int64_t lo = recording.earliest_ms.value_or(request_.limit ? request_.from_ms : 0);
        int64_t hi = recording.latest_ms.value_or(request_.limit ? request_.to_ms : 0);
        if (request_.limit) {
            lo = std::max(lo, request_.from_ms);
            hi = std::min(hi, request_.to_ms);
        }
        if (lo >= hi) return true;
        const auto token = Begin(
            "<tse:FindEvents><tse:StartPoint>" + Xs(lo) + "</tse:StartPoint><tse:EndPoint>" + Xs(hi + 999) +
            "</tse:EndPoint><tse:Scope><tt:IncludedRecordings>" + onvif::XmlEscape(recording.token) +
            "</tt:IncludedRecordings></tse:Scope><tse:SearchFilter/><tse:IncludeStartState>true"
            "</tse:IncludeStartState><tse:KeepAliveTime>PT60S</tse:KeepAliveTime></tse:FindEvents>");
        // A device that keeps no events has the recording's times only.
        if (!token) return Hand(recording, {{lo, hi}}, deliver);
        bool any = false;
        // The start of a stretch whose end has not come yet.
        bool open = false;
        int64_t open_ms = 0;
        for (;;) {
            pugi::xml_document doc;
            pugi::xml_node response;
            if (device_->Call(device_->SearchPath(),
                              "<tse:GetEventSearchResults><tse:SearchToken>" + onvif::XmlEscape(*token) +
                                  "</tse:SearchToken><tse:MaxResults>" + std::to_string(kPageSize) +
                                  "</tse:MaxResults><tse:WaitTime>PT1S</tse:WaitTime></tse:GetEventSearchResults>",
                              doc, response, kCallTimeout) != SoapResult::Ok) {
                End(*token);
                return false;
            }
            const pugi::xml_node list = Child(response, "ResultList");
            std::vector<std::pair<int64_t, int64_t>> closed;
            for (pugi::xml_node result = list.first_child(); result; result = result.next_sibling()) {
                if (LocalName(result) != "Result") continue;
                const std::string track = Child(result, "TrackToken").text().get();
                if (!track.empty() && std::find(recording.video_tracks.begin(), recording.video_tracks.end(),
                                                track) == recording.video_tracks.end())
                    continue;
                const auto time = XsMs(Child(result, "Time"));
                const pugi::xml_node item = Child(result, "Event").find_node([](const pugi::xml_node& n) {
                    return LocalName(n) == "SimpleItem" && std::string_view(n.attribute("Name").value()) == "IsDataPresent";
                });
                if (!time || !item) continue;
                any = true;
                const bool present = std::string_view(item.attribute("Value").value()) == "true";
                if (present && !open) {
                    open = true;
                    open_ms = std::max(*time, lo);
                }
                if (!present && open) {
                    if (std::min(*time, hi) > open_ms) closed.emplace_back(open_ms, std::min(*time, hi));
                    open = false;
                }
            }
            const bool completed = std::string_view(Child(list, "SearchState").text().get()) == "Completed";
            if (completed || !list) {
                if (open && hi > open_ms) closed.emplace_back(open_ms, hi);
                if (!any) closed.emplace_back(lo, hi);
                return Hand(recording, closed, deliver);
            }
            if (!Hand(recording, closed, deliver)) {
                End(*token);
                return false;
            }
        }
    }

    // The recording's bit rate in kbit/s as the device gives it for a time
    // (GetMediaAttributes, all tracks' together), asked once a search:
    // ONVIF tells no stretch's size, so it is this times its length.
    // Nothing when the device gives none.
    std::optional<int64_t> Kbps(const std::string& recording, int64_t at_ms) {
        const auto known = kbps_.find(recording);
        if (known != kbps_.end()) return known->second;
        std::optional<int64_t>& kbps = kbps_[recording];
        pugi::xml_document doc;
        pugi::xml_node response;
        if (device_->Call(device_->SearchPath(),
                          "<tse:GetMediaAttributes><tse:RecordingTokens>" + onvif::XmlEscape(recording) +
                              "</tse:RecordingTokens><tse:Time>" + Xs(at_ms) + "</tse:Time></tse:GetMediaAttributes>",
                          doc, response, kCallTimeout) != SoapResult::Ok)
            return kbps;
        for (pugi::xml_node media = response.first_child(); media; media = media.next_sibling()) {
            if (LocalName(media) != "MediaAttributes" || Child(media, "RecordingToken").text().get() != recording)
                continue;
            for (pugi::xml_node track = media.first_child(); track; track = track.next_sibling()) {
                if (LocalName(track) != "TrackAttributes") continue;
                for (const char* kind : {"VideoAttributes", "AudioAttributes"}) {
                    const pugi::xml_node bitrate = Child(Child(track, kind), "Bitrate");
                    if (bitrate && bitrate.text().as_llong(-1) > 0) kbps = kbps.value_or(0) + bitrate.text().as_llong();
                }
            }
        }
        return kbps;
    }

    bool Hand(const Recording& recording, const std::vector<std::pair<int64_t, int64_t>>& stretches,
              const Deliver& deliver) {
        std::vector<FoundRecording> rows;
        const auto kbps = stretches.empty() ? std::nullopt : Kbps(recording.token, stretches.front().first);
        for (const auto& [start, end] : stretches) {
            const auto name = ReplayName({recording.token, start, end});
            if (!name) continue;
            FoundRecording row;
            row.name = *name;
            row.start = UtcMsToLocalNetTime(start);
            row.end = UtcMsToLocalNetTime(end);
            // kbit/s times ms is bits; the column holds at most 4 GiB.
            if (kbps) row.size = static_cast<uint32_t>(std::min<int64_t>(*kbps * (end - start) / 8, UINT32_MAX));
            rows.push_back(std::move(row));
        }
        return deliver(rows);
    }

    std::shared_ptr<OnvifDevice> device_;
    const OnvifSearchRequest request_;
    std::map<std::string, std::optional<int64_t>> kbps_;
};

}  // namespace

std::unique_ptr<SearchSource> MakeOnvifSearch(std::shared_ptr<OnvifDevice> device, OnvifSearchRequest request) {
    return std::make_unique<OnvifSearch>(std::move(device), request);
}

std::optional<std::string> ReplayName(const ReplayStretch& stretch) {
    std::string name = stretch.recording + "@" + onvif::FormatRtspClock(stretch.start_ms) + "-" +
                       onvif::FormatRtspClock(stretch.end_ms);
    if (name.size() > kMaxNameBytes) return std::nullopt;
    return name;
}

std::optional<ReplayStretch> ParseReplayName(const std::string& name) {
    const size_t at = name.rfind('@');
    if (at == std::string::npos || at == 0) return std::nullopt;
    const std::string times = name.substr(at + 1);
    const size_t dash = times.find('-');
    if (dash == std::string::npos) return std::nullopt;
    const auto start = onvif::ParseRtspClock(std::string_view(times).substr(0, dash));
    const auto end = onvif::ParseRtspClock(std::string_view(times).substr(dash + 1));
    if (!start || !end || *end <= *start) return std::nullopt;
    return ReplayStretch{name.substr(0, at), *start, *end};
}

std::optional<int64_t> LocalNetTimeToUtcMs(const NetTime& time) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(time.year) - 1900;
    tm.tm_mon = time.month - 1;
    tm.tm_mday = time.day;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31)) return std::nullopt;
    return static_cast<int64_t>(t) * 1000;
}

NetTime UtcMsToLocalNetTime(int64_t utc_ms) {
    const std::time_t t = static_cast<std::time_t>(utc_ms >= 0 ? utc_ms / 1000 : -((-utc_ms + 999) / 1000));
    std::tm tm{};
    localtime_r(&t, &tm);
    NetTime time{};
    time.year = static_cast<uint32_t>(tm.tm_year + 1900);
    time.month = static_cast<uint8_t>(tm.tm_mon + 1);
    time.day = static_cast<uint8_t>(tm.tm_mday);
    time.hour = static_cast<uint8_t>(tm.tm_hour);
    time.minute = static_cast<uint8_t>(tm.tm_min);
    time.second = static_cast<uint8_t>(tm.tm_sec);
    return time;
}

}  // namespace playersdk::net
