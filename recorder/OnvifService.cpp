#include "OnvifService.h"

#include "HttpText.h"
#include "OnvifTime.h"
#include "ReplayReader.h"
#include "ReplayTimeline.h"
#include "RtspServer.h"
#include "Soap.h"
#include "UsernameToken.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace recorder {
namespace {

constexpr std::string_view kPrefix = "/onvif/";
constexpr const char* kTrackToken = "video";
constexpr int64_t kCreatedToleranceSeconds = 300;
constexpr auto kDefaultKeepAlive = std::chrono::seconds(60);
constexpr auto kLongestKeepAlive = std::chrono::seconds(600);
// Searches held at once; the oldest goes first beyond it.
constexpr size_t kMaxHeldSearches = 64;

std::string_view localName(const pugi::xml_node& node) {
    std::string_view name = node.name();
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view name) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && localName(c) == name) return c;
    return {};
}

std::string element(std::string_view name, std::string_view text) {
    return "<" + std::string(name) + ">" + onvif::XmlEscape(text) + "</" + std::string(name) + ">";
}

std::string xsTime(int64_t ms) { return onvif::FormatXsDateTime(ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000)); }
std::string xsTimeUp(int64_t ms) { return onvif::FormatXsDateTime(ms >= 0 ? (ms + 999) / 1000 : -(-ms / 1000)); }

int64_t nowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

// "PT1H2M3.5S" and the like, in seconds; nothing for other text.
std::optional<double> parseDuration(std::string_view text) {
    if (text.substr(0, 2) != "PT") return std::nullopt;
    text.remove_prefix(2);
    double total = 0;
    while (!text.empty()) {
        size_t used = 0;
        while (used < text.size() && (std::isdigit(static_cast<unsigned char>(text[used])) || text[used] == '.')) ++used;
        if (used == 0 || used == text.size()) return std::nullopt;
        const double value = std::strtod(std::string(text.substr(0, used)).c_str(), nullptr);
        const char unit = text[used];
        total += value * (unit == 'H' ? 3600 : unit == 'M' ? 60 : unit == 'S' ? 1 : -1e18);
        text.remove_prefix(used + 1);
    }
    if (total < 0) return std::nullopt;
    return total;
}

std::string fault(std::string_view subcode, std::string_view reason) {
    return "<s:Fault xmlns:ter=\"http://www.onvif.org/ver10/error\"><s:Code><s:Value>s:Sender</s:Value>"
           "<s:Subcode><s:Value>" + std::string(subcode) + "</s:Value></s:Subcode></s:Code><s:Reason>"
           "<s:Text xml:lang=\"en\">" + onvif::XmlEscape(reason) + "</s:Text></s:Reason></s:Fault>";
}

http::Response soap(int status, const std::string& body) {
    http::Response r;
    r.status = status;
    r.headers.emplace_back("Content-Type", "application/soap+xml; charset=utf-8");
    r.body = onvif::Envelope("", body);
    return r;
}

// The host part of a Host header, IPv6 brackets kept.
std::string hostName(std::string_view host) {
    const size_t bracket = host.rfind(']');
    const size_t colon = host.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket))
        host = host.substr(0, colon);
    return host.empty() ? "127.0.0.1" : std::string(host);
}

std::string dataPresentEvent(int channel, int64_t ms, bool present, bool startState) {
    const std::string token = recordingToken(channel);
    return "<tt:Result>" + element("tt:RecordingToken", token) + element("tt:TrackToken", kTrackToken) +
           element("tt:Time", present ? xsTime(ms) : xsTimeUp(ms)) +
           "<tt:Event xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\" "
           "xmlns:tns1=\"http://www.onvif.org/ver10/topics\">"
           "<wsnt:Topic Dialect=\"http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet\">"
           "tns1:RecordingHistory/Track/State</wsnt:Topic><wsnt:Message><tt:Message UtcTime=\"" +
           (present ? xsTime(ms) : xsTimeUp(ms)) + "\"><tt:Source><tt:SimpleItem Name=\"RecordingToken\" Value=\"" +
           token + "\"/><tt:SimpleItem Name=\"Track\" Value=\"" + kTrackToken +
           "\"/></tt:Source><tt:Data><tt:SimpleItem Name=\"IsDataPresent\" Value=\"" +
           (present ? "true" : "false") + "\"/></tt:Data></tt:Message></wsnt:Message></tt:Event>" +
           element("tt:StartStateEvent", startState ? "true" : "false") + "</tt:Result>";
}

// The recordings a search scope names (IncludedRecordings, IncludedSources),
// or all when it names none.
std::vector<int> inScope(const pugi::xml_node& scope, const std::vector<int>& all) {
    std::vector<std::string> named;
    for (pugi::xml_node c = scope.first_child(); c; c = c.next_sibling()) {
        if (localName(c) == "IncludedRecordings") named.emplace_back(c.text().get());
        if (localName(c) == "IncludedSources") named.emplace_back(child(c, "Token").text().get());
    }
    if (named.empty()) return all;
    std::vector<int> out;
    for (int channel : all)
        if (std::find(named.begin(), named.end(), recordingToken(channel)) != named.end()) out.push_back(channel);
    return out;
}

}  // namespace

OnvifService::OnvifService(const RecordingIndex& index, std::filesystem::path root, std::string user,
                           std::string password, int rtspPort)
    : index_(index), root_(std::move(root)), login_(std::move(user), std::move(password), "varnel-recorder"),
      rtspPort_(rtspPort) {}

std::string OnvifService::tracks(int channel, const std::string& from, const std::string& to,
                                 bool configuration) const {
    ReplayReader reader(root_, ReplayTimeline::ofChannel(index_, channel));
    const auto format = reader.format();
    struct Each {
        const char* token;
        const char* type;
        std::string description;
    };
    std::vector<Each> all;
    if (format) {
        all.push_back({kTrackToken, "Video", format->video.codec == VideoCodec::H264 ? "H264" : "H265"});
        if (format->audio)
            all.push_back({"audio", "Audio", format->audio->codec == AudioCodec::Aac ? "AAC" : "G711"});
    }
    std::string out;
    for (const Each& e : all) {
        out += "<tt:Track>" + element("tt:TrackToken", e.token);
        const std::string about = element("tt:TrackType", e.type) + element("tt:Description", e.description);
        out += configuration ? "<tt:Configuration>" + about + "</tt:Configuration>"
                             : about + element("tt:DataFrom", from) + element("tt:DataTo", to);
        out += "</tt:Track>";
    }
    return out;
}

bool OnvifService::handles(const http::Request& request) {
    return request.path.compare(0, kPrefix.size(), kPrefix) == 0;
}

std::vector<int> OnvifService::channels() const {
    std::vector<int> out;
    for (int channel = 1; channel <= 4; ++channel) {
        SearchQuery q;
        q.channel = channel;
        if (!index_.search(q).empty()) out.push_back(channel);
    }
    return out;
}

bool OnvifService::loggedIn(const http::Request& request, const pugi::xml_node& header, bool& tokenRefused) const {
    tokenRefused = false;
    const pugi::xml_node token = child(child(header, "Security"), "UsernameToken");
    if (token) {
        const std::string user = child(token, "Username").text().get();
        const pugi::xml_node password = child(token, "Password");
        const std::string created = child(token, "Created").text().get();
        const auto nonce = onvif::Base64Decode(child(token, "Nonce").text().get());
        const std::string_view type = password.attribute("Type").value();
        bool ok = user == login_.user();
        if (type.size() >= 12 && type.substr(type.size() - 12) == "PasswordText") {
            ok = ok && password.text().get() == login_.password();
        } else {
            // The digest's Created time must be near ours, so that a captured one cannot be sent again later.
            const auto at = onvif::ParseXsDateTime(created);
            ok = ok && nonce && at && std::llabs(*at - nowSeconds()) <= kCreatedToleranceSeconds &&
                 onvif::PasswordDigest(*nonce, created, login_.password()) == password.text().get();
        }
        tokenRefused = !ok;
        if (ok) return true;
    }
    return login_.accepts(request.method, request.header("Authorization"));
}

http::Response OnvifService::answer(const http::Request& request) {
    if (request.method != "POST") {
        auto r = http::textResponse(405, "ONVIF services answer SOAP over POST");
        r.headers.emplace_back("Allow", "POST");
        return r;
    }
    pugi::xml_document doc;
    if (!doc.load_buffer(request.body.data(), request.body.size()))
        return soap(400, fault("ter:InvalidArgVal/ter:WellFormed", "the request is not well-formed XML"));
    const pugi::xml_node envelope = doc.document_element();
    const pugi::xml_node body = child(envelope, "Body");
    pugi::xml_node operation = body.first_child();
    while (operation && operation.type() != pugi::node_element) operation = operation.next_sibling();
    if (localName(envelope) != "Envelope" || !operation)
        return soap(400, fault("ter:InvalidArgVal/ter:WellFormed", "no SOAP envelope with a body"));
    const std::string action(localName(operation));

    // The one call a client makes before it knows the device's clock.
    if (action != "GetSystemDateAndTime") {
        bool tokenRefused = false;
        if (!loggedIn(request, child(envelope, "Header"), tokenRefused)) {
            if (tokenRefused) return soap(400, fault("ter:NotAuthorized", "the login is refused"));
            auto r = soap(401, fault("ter:NotAuthorized", "a login is needed"));
            r.headers.emplace_back("WWW-Authenticate", login_.challenge());
            return r;
        }
    }
    std::string host = request.header("Host");
    if (host.empty()) host = "127.0.0.1";
    const std::string answered = call(action, request.path, operation, host);
    if (answered.empty())
        return soap(400, fault("ter:ActionNotSupported", "the device does not do " + action));
    if (answered.rfind("<s:Fault", 0) == 0) return soap(400, answered);
    return soap(200, answered);
}

std::string OnvifService::call(const std::string& action, const std::string& path, const pugi::xml_node& request,
                               const std::string& host) {
    auto xaddr = [&](const char* service) { return "http://" + host + "/onvif/" + service; };
    if (action == "GetSystemDateAndTime") {
        const time_t now = std::time(nullptr);
        struct tm utc {};
        gmtime_r(&now, &utc);
        auto n = [](const char* name, int v) { return element(name, std::to_string(v)); };
        return "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual</tt:DateTimeType>"
               "<tt:DaylightSavings>false</tt:DaylightSavings><tt:UTCDateTime><tt:Time>" +
               n("tt:Hour", utc.tm_hour) + n("tt:Minute", utc.tm_min) + n("tt:Second", utc.tm_sec) +
               "</tt:Time><tt:Date>" + n("tt:Year", utc.tm_year + 1900) + n("tt:Month", utc.tm_mon + 1) +
               n("tt:Day", utc.tm_mday) + "</tt:Date></tt:UTCDateTime></tds:SystemDateAndTime>"
               "</tds:GetSystemDateAndTimeResponse>";
    }
    if (action == "GetServices") {
        struct Service {
            std::string_view ns;
            const char* name;
        };
        std::string out = "<tds:GetServicesResponse>";
        for (const Service s : {Service{onvif::kNsDevice, "device_service"}, Service{onvif::kNsSearch, "search_service"},
                                Service{onvif::kNsReplay, "replay_service"},
                                Service{onvif::kNsRecording, "recording_service"}})
            out += "<tds:Service>" + element("tds:Namespace", s.ns) + element("tds:XAddr", xaddr(s.name)) +
                   "<tds:Version><tt:Major>2</tt:Major><tt:Minor>40</tt:Minor></tds:Version></tds:Service>";
        return out + "</tds:GetServicesResponse>";
    }
    if (action == "GetCapabilities") {
        return "<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device>" +
               element("tt:XAddr", xaddr("device_service")) + "</tt:Device><tt:Extension><tt:Recording>" +
               element("tt:XAddr", xaddr("recording_service")) +
               "<tt:ReceiverSource>false</tt:ReceiverSource><tt:MediaProfileSource>false</tt:MediaProfileSource>"
               "<tt:DynamicRecordings>false</tt:DynamicRecordings><tt:DynamicTracks>false</tt:DynamicTracks>"
               "<tt:MaxStringLength>99</tt:MaxStringLength></tt:Recording><tt:Search>" +
               element("tt:XAddr", xaddr("search_service")) +
               "<tt:MetadataSearch>false</tt:MetadataSearch></tt:Search><tt:Replay>" +
               element("tt:XAddr", xaddr("replay_service")) +
               "</tt:Replay></tt:Extension></tds:Capabilities></tds:GetCapabilitiesResponse>";
    }
    if (action == "GetDeviceInformation") {
        return "<tds:GetDeviceInformationResponse><tds:Manufacturer>varnel</tds:Manufacturer>"
               "<tds:Model>varnel-recorder</tds:Model><tds:FirmwareVersion>1.0</tds:FirmwareVersion>"
               "<tds:SerialNumber>0</tds:SerialNumber><tds:HardwareId>varnel-recorder</tds:HardwareId>"
               "</tds:GetDeviceInformationResponse>";
    }
    if (action == "GetServiceCapabilities") {
        if (path.find("replay") != std::string::npos)
            return "<trp:GetServiceCapabilitiesResponse><trp:Capabilities ReversePlayback=\"false\" "
                   "SessionTimeoutRange=\"60 60\" RTP_RTSP_TCP=\"true\"/></trp:GetServiceCapabilitiesResponse>";
        if (path.find("search") != std::string::npos)
            return "<tse:GetServiceCapabilitiesResponse><tse:Capabilities MetadataSearch=\"false\" "
                   "GeneralStartEvents=\"false\"/></tse:GetServiceCapabilitiesResponse>";
        return {};
    }
    if (action == "GetRecordingSummary") {
        const auto all = channels();
        int64_t from = INT64_MAX, until = INT64_MIN;
        for (int channel : all) {
            const auto timeline = ReplayTimeline::ofChannel(index_, channel);
            from = std::min(from, timeline.startMs());
            until = std::max(until, timeline.endMs());
        }
        if (all.empty()) from = until = nowSeconds() * 1000;
        return "<tse:GetRecordingSummaryResponse><tse:Summary>" + element("tt:DataFrom", xsTime(from)) +
               element("tt:DataUntil", xsTimeUp(until)) +
               element("tt:NumberRecordings", std::to_string(all.size())) +
               "</tse:Summary></tse:GetRecordingSummaryResponse>";
    }
    if (action == "GetRecordingInformation") {
        const auto channel = channelOfToken(child(request, "RecordingToken").text().get());
        const auto all = channels();
        if (!channel || std::find(all.begin(), all.end(), *channel) == all.end())
            return fault("ter:InvalidArgVal/ter:NoRecording", "no such recording");
        return "<tse:GetRecordingInformationResponse>" +
               recordingInformation(*channel, "tse:RecordingInformation") +
               "</tse:GetRecordingInformationResponse>";
    }
    if (action == "FindRecordings") return findRecordings(request);
    if (action == "FindEvents") return findEvents(request);
    if (action == "GetRecordingSearchResults")
        return searchResults(request, "tse:GetRecordingSearchResultsResponse");
    if (action == "GetEventSearchResults") return searchResults(request, "tse:GetEventSearchResultsResponse");
    if (action == "EndSearch") return endSearch(request);
    if (action == "GetMediaAttributes") return mediaAttributes(request);
    if (action == "GetReplayUri") {
        const auto channel = channelOfToken(child(request, "RecordingToken").text().get());
        if (!channel) return fault("ter:InvalidArgVal/ter:NoRecording", "no such recording");
        const std::string uri =
            "rtsp://" + hostName(host) + ":" + std::to_string(rtspPort_) + "/replay/" + recordingToken(*channel);
        return "<trp:GetReplayUriResponse>" + element("trp:Uri", uri) + "</trp:GetReplayUriResponse>";
    }
    if (action == "GetRecordings") {
        std::string out = "<trc:GetRecordingsResponse>";
        for (int channel : channels()) {
            const std::string token = recordingToken(channel);
            out += "<trc:RecordingItem>" + element("tt:RecordingToken", token) +
                   "<tt:Configuration><tt:Source>" + element("tt:SourceId", token) +
                   element("tt:Name", "Channel " + std::to_string(channel)) +
                   "<tt:Location/><tt:Description/><tt:Address/></tt:Source>" +
                   element("tt:Content", "Channel " + std::to_string(channel)) +
                   "<tt:MaximumRetentionTime>PT0S</tt:MaximumRetentionTime></tt:Configuration><tt:Tracks>" +
                   tracks(channel, {}, {}, true) + "</tt:Tracks></trc:RecordingItem>";
        }
        return out + "</trc:GetRecordingsResponse>";
    }
    return {};
}

std::string OnvifService::recordingInformation(int channel, const char* name) const {
    const auto timeline = ReplayTimeline::ofChannel(index_, channel);
    const std::string token = recordingToken(channel);
    const std::string from = xsTime(timeline.startMs()), to = xsTimeUp(timeline.endMs());
    return "<" + std::string(name) + ">" + element("tt:RecordingToken", token) + "<tt:Source>" +
           element("tt:SourceId", token) + element("tt:Name", "Channel " + std::to_string(channel)) +
           "<tt:Location/><tt:Description/><tt:Address/></tt:Source>" + element("tt:EarliestRecording", from) +
           element("tt:LatestRecording", to) + element("tt:Content", "Channel " + std::to_string(channel)) +
           tracks(channel, from, to, false) + "<tt:RecordingStatus>Stopped</tt:RecordingStatus></" + name + ">";
}

std::string OnvifService::findRecordings(const pugi::xml_node& request) {
    std::vector<std::string> results;
    for (int channel : inScope(child(request, "Scope"), channels()))
        results.push_back(recordingInformation(channel, "tt:RecordingInformation"));
    const int max = child(request, "MaxMatches").text().as_int(0);
    if (max > 0 && results.size() > static_cast<size_t>(max)) results.resize(static_cast<size_t>(max));
    return "<tse:FindRecordingsResponse>" + hold(std::move(results), request, nowSeconds()) +
           "</tse:FindRecordingsResponse>";
}

std::string OnvifService::findEvents(const pugi::xml_node& request) {
    const auto start = onvif::ParseXsDateTime(child(request, "StartPoint").text().get());
    if (!start) return fault("ter:InvalidArgVal", "StartPoint is needed");
    const pugi::xml_node endNode = child(request, "EndPoint");
    const auto end = endNode ? onvif::ParseXsDateTime(endNode.text().get()) : std::optional<int64_t>();
    if (endNode && !end) return fault("ter:InvalidArgVal", "EndPoint is not a time");
    // Searched backwards when the end lies before the start.
    const bool backwards = end && *end < *start;
    const int64_t lo = (backwards ? *end : *start) * 1000;
    const int64_t hi = end ? (backwards ? *start : *end) * 1000 : INT64_MAX;
    const bool startState = child(request, "IncludeStartState").text().as_bool(false);

    struct Event {
        int64_t ms;
        int channel;
        bool present;
        bool startState;
    };
    std::vector<Event> events;
    for (int channel : inScope(child(request, "Scope"), channels())) {
        const int64_t from = backwards ? hi : lo;
        bool presentAtStart = false;
        for (const Stretch& s : ReplayTimeline::ofChannel(index_, channel).stretches()) {
            presentAtStart = presentAtStart || (s.startMs < from && s.endMs > from);
            if (s.startMs >= lo && s.startMs <= hi) events.push_back({s.startMs, channel, true, false});
            if (s.endMs >= lo && s.endMs <= hi) events.push_back({s.endMs, channel, false, false});
        }
        if (startState) events.push_back({from, channel, presentAtStart, true});
    }
    std::stable_sort(events.begin(), events.end(), [&](const Event& a, const Event& b) {
        if (a.startState != b.startState) return a.startState;
        return backwards ? a.ms > b.ms : a.ms < b.ms;
    });
    std::vector<std::string> results;
    const int max = child(request, "MaxMatches").text().as_int(0);
    for (const Event& e : events) {
        if (max > 0 && results.size() >= static_cast<size_t>(max)) break;
        results.push_back(dataPresentEvent(e.channel, e.ms, e.present, e.startState));
    }
    return "<tse:FindEventsResponse>" + hold(std::move(results), request, backwards ? lo / 1000 : end ? hi / 1000 : nowSeconds()) +
           "</tse:FindEventsResponse>";
}

std::string OnvifService::hold(std::vector<std::string> results, const pugi::xml_node& request, int64_t endpoint) {
    auto keepAlive = std::chrono::duration<double>(
        parseDuration(child(request, "KeepAliveTime").text().get()).value_or(kDefaultKeepAlive.count()));
    const auto now = std::chrono::steady_clock::now();
    const auto expires = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::min<std::chrono::duration<double>>(keepAlive, kLongestKeepAlive));
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(searches_, [&](const auto& held) { return held.second.expires < now; });
    while (searches_.size() >= kMaxHeldSearches) searches_.erase(searches_.begin());
    const std::string token = "search" + std::to_string(nextSearch_++);
    searches_[token] = Held{std::move(results), 0, expires, endpoint};
    return element("tse:SearchToken", token);
}

std::string OnvifService::searchResults(const pugi::xml_node& request, const char* response) {
    const std::string token = child(request, "SearchToken").text().get();
    const int max = child(request, "MaxResults").text().as_int(0);
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = searches_.find(token);
    if (it == searches_.end()) return fault("ter:InvalidArgVal/ter:InvalidToken", "no such search");
    Held& held = it->second;
    const size_t count = max > 0 ? std::min<size_t>(static_cast<size_t>(max), held.results.size() - held.sent)
                                 : held.results.size() - held.sent;
    std::string out = "<" + std::string(response) + "><tse:ResultList>";
    out += element("tt:SearchState", held.sent + count == held.results.size() ? "Completed" : "Searching");
    for (size_t i = 0; i < count; ++i) out += held.results[held.sent + i];
    held.sent += count;
    held.expires = std::max(held.expires, std::chrono::steady_clock::now() + kDefaultKeepAlive);
    return out + "</tse:ResultList></" + response + ">";
}

std::string OnvifService::endSearch(const pugi::xml_node& request) {
    const std::string token = child(request, "SearchToken").text().get();
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = searches_.find(token);
    if (it == searches_.end()) return fault("ter:InvalidArgVal/ter:InvalidToken", "no such search");
    const int64_t endpoint = it->second.endpoint;
    searches_.erase(it);
    return "<tse:EndSearchResponse>" + element("tse:Endpoint", onvif::FormatXsDateTime(endpoint)) +
           "</tse:EndSearchResponse>";
}

std::string OnvifService::mediaAttributes(const pugi::xml_node& request) const {
    const auto time = onvif::ParseXsDateTime(child(request, "Time").text().get());
    if (!time) return fault("ter:InvalidArgVal", "Time is needed");
    const int64_t ms = *time * 1000;
    std::vector<int> named;
    for (pugi::xml_node c = request.first_child(); c; c = c.next_sibling()) {
        if (localName(c) != "RecordingTokens") continue;
        const auto channel = channelOfToken(c.text().get());
        if (!channel) return fault("ter:InvalidArgVal/ter:NoRecording", "no such recording");
        named.push_back(*channel);
    }
    std::string out = "<tse:GetMediaAttributesResponse>";
    for (int channel : named.empty() ? channels() : named) {
        const auto timeline = ReplayTimeline::ofChannel(index_, channel);
        // The stretch holding the time, else the next one: its bytes (the
        // sound's with the pictures') over its length are the bit rate a
        // client can weigh stretches by.
        const auto all = timeline.stretches();
        const auto at = std::find_if(all.begin(), all.end(), [&](const Stretch& s) { return s.endMs > ms; });
        if (at == all.end()) continue;
        ReplayReader reader(root_, timeline);
        const auto format = reader.format();
        if (!format) continue;
        const std::string from = xsTime(at->startMs), until = xsTimeUp(at->endMs);
        const int64_t kbps = at->endMs > at->startMs ? static_cast<int64_t>(at->size * 8 / static_cast<uint64_t>(at->endMs - at->startMs)) : 0;
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.3f", format->video.frameRate);
        out += "<tse:MediaAttributes>" + element("tt:RecordingToken", recordingToken(channel)) +
               "<tt:TrackAttributes><tt:TrackInformation>" + element("tt:TrackToken", kTrackToken) +
               element("tt:TrackType", "Video") +
               element("tt:Description", format->video.codec == VideoCodec::H264 ? "H264" : "H265") +
               element("tt:DataFrom", from) + element("tt:DataTo", until) +
               "</tt:TrackInformation><tt:VideoAttributes>" + element("tt:Bitrate", std::to_string(kbps)) +
               element("tt:Width", std::to_string(format->video.width)) +
               element("tt:Height", std::to_string(format->video.height)) +
               element("tt:Encoding", format->video.codec == VideoCodec::H264 ? "H264" : "H265") +
               element("tt:Framerate", rate) + "</tt:VideoAttributes></tt:TrackAttributes>" +
               element("tt:From", from) + element("tt:Until", until) + "</tse:MediaAttributes>";
    }
    return out + "</tse:GetMediaAttributesResponse>";
}

}  // namespace recorder
