// The recorder as an ONVIF device (Profile G, as far as replay clients use
// it), answered on the recorder's HTTP port at /onvif/...:
//   device_service     GetSystemDateAndTime (no login needed), GetServices,
//                      GetCapabilities, GetDeviceInformation
//   search_service     GetRecordingSummary, FindRecordings, GetRecordingSearchResults,
//                      FindEvents, GetEventSearchResults, EndSearch,
//                      GetRecordingInformation, GetServiceCapabilities
//   replay_service     GetReplayUri, GetServiceCapabilities
//   recording_service  GetRecordings
// Each channel with video is one recording (token "ch<C>") with a video
// track ("video") and, when its first segment has sound RtspServer sends, an
// audio track ("audio"); its data-present events are the starts and ends of its
// stretches. Searches answer at once and are held, paged out by MaxResults,
// until EndSearch or their keep-alive time passes.
//
// The login is the recorder's, given as a WS-Security UsernameToken
// (digest or text) or as HTTP Digest or Basic; a request with no login is
// 401 with a Digest challenge, a wrong UsernameToken a SOAP fault
// ter:NotAuthorized.
#pragma once

#include "DigestLogin.h"
#include "HttpServer.h"
#include "RecordingIndex.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pugi {
class xml_node;
}

namespace recorder {

class OnvifService {
public:
    // rtspPort: where RtspServer replays the recordings.
    OnvifService(const RecordingIndex& index, std::filesystem::path root, std::string user, std::string password,
                 int rtspPort);

    static bool handles(const http::Request& request);
    http::Response answer(const http::Request& request);

private:
    struct Held {
        std::vector<std::string> results;  // XML of each result, in order
        size_t sent = 0;
        std::chrono::steady_clock::time_point expires;
        int64_t endpoint = 0;  // UTC seconds
    };

    // The answer's body for one action; empty when the action is unknown.
    std::string call(const std::string& action, const std::string& path, const pugi::xml_node& request,
                     const std::string& host);
    bool loggedIn(const http::Request& request, const pugi::xml_node& header, bool& tokenRefused) const;

    std::string recordingInformation(int channel, const char* name) const;
    std::string findRecordings(const pugi::xml_node& request);
    std::string findEvents(const pugi::xml_node& request);
    std::string searchResults(const pugi::xml_node& request, const char* response);
    std::string endSearch(const pugi::xml_node& request);
    std::string mediaAttributes(const pugi::xml_node& request) const;
    std::string hold(std::vector<std::string> results, const pugi::xml_node& request, int64_t endpoint);
    std::vector<int> channels() const;
    // The recording's tracks as tt:Track elements, with their times when given.
    std::string tracks(int channel, const std::string& from, const std::string& to, bool configuration) const;

    const RecordingIndex& index_;
    std::filesystem::path root_;
    DigestLogin login_;
    int rtspPort_;
    std::mutex lock_;
    std::map<std::string, Held> searches_;
    uint64_t nextSearch_ = 1;
};

}  // namespace recorder
