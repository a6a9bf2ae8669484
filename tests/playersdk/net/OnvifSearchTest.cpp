// NetSearchFiles and NetStopSearch against a scripted ONVIF device that checks
// every call's UsernameToken digest: the channel's video source, one row per
// stretch of recorded data, pages of results, the configured login, EndSearch.
#include "NetFixture.h"

#include <httplib.h>
#include <pugixml.hpp>

#include <atomic>
#include <ctime>
#include <mutex>
#include <vector>

#include "OnvifTime.h"
#include "Soap.h"
#include "UsernameToken.h"

using namespace net_test;

namespace {

std::string LocalName(const char* name) {
    const std::string_view n = name;
    return std::string(n.substr(n.find(':') == std::string_view::npos ? 0 : n.find(':') + 1));
}

pugi::xml_node Find(const pugi::xml_node& node, const std::string& local) {
    return node.find_node([&](const pugi::xml_node& n) { return LocalName(n.name()) == local; });
}

// Today's local hh:mm as UTC seconds, as the device writes its times.
int64_t Today(int hour, int minute) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

NetTime LocalNetTime(int hour, int minute) {
    const std::time_t t = Today(hour, minute);
    std::tm tm{};
    localtime_r(&t, &tm);
    NetTime time{};
    time.year = static_cast<uint32_t>(tm.tm_year + 1900);
    time.month = static_cast<uint8_t>(tm.tm_mon + 1);
    time.day = static_cast<uint8_t>(tm.tm_mday);
    time.hour = static_cast<uint8_t>(hour);
    time.minute = static_cast<uint8_t>(minute);
    return time;
}

// A device with three recordings: "A" of video source VS0, "Sound" with no
// video, "B" of VS1 with data from 10:00 to 10:20 and 10:30 to 11:00.
class FakeDevice {
public:
    FakeDevice(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password)) {
        server_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~FakeDevice() {
        server_.stop();
        thread_.join();
    }
    uint16_t port() const { return static_cast<uint16_t>(port_); }
    int ended() const { return ended_; }
    // Holds event searches open ("Searching", no results) until released.
    std::atomic<bool> stall_events{false};
    std::atomic<int> stalled_pages{0};

private:
    void Answer(const httplib::Request& req, httplib::Response& res) {
        pugi::xml_document doc;
        doc.load_string(req.body.c_str());
        const pugi::xml_node body = Find(doc, "Body").first_child();
        const std::string call = LocalName(body.name());
        std::string answer;
        if (call == "GetSystemDateAndTime") {
            answer = "<tds:GetSystemDateAndTimeResponse/>";
        } else if (!Signed(doc)) {
            res.status = 400;
            answer = "<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>ter:NotAuthorized"
                     "</s:Value></s:Subcode></s:Code></s:Fault>";
        } else if (call == "GetServices") {
            answer = "<tds:GetServicesResponse><tds:Service><tds:Namespace>" + std::string(onvif::kNsSearch) +
                     "</tds:Namespace><tds:XAddr>http://127.0.0.2:9/onvif/search</tds:XAddr></tds:Service>"
                     "</tds:GetServicesResponse>";
        } else if (call == "FindRecordings" || call == "FindEvents") {
            answer = "<tse:" + call + "Response><tse:SearchToken>" + call + "</tse:SearchToken></tse:" + call +
                     "Response>";
        } else if (call == "GetRecordingSearchResults") {
            answer = "<tse:GetRecordingSearchResultsResponse><tse:ResultList><tt:SearchState>Completed"
                     "</tt:SearchState>" +
                     Recording("A", "VS0", "Video") + Recording("Sound", "VSX", "Audio") +
                     Recording("B", "VS1", "Video") + "</tse:ResultList></tse:GetRecordingSearchResultsResponse>";
        } else if (call == "GetEventSearchResults") {
            answer = "<tse:GetEventSearchResultsResponse><tse:ResultList>" + EventPage() +
                     "</tse:ResultList></tse:GetEventSearchResultsResponse>";
        } else if (call == "EndSearch") {
            ++ended_;
            answer = "<tse:EndSearchResponse/>";
        }
        res.set_content(onvif::Envelope("", answer), "application/soap+xml");
    }

    bool Signed(const pugi::xml_document& doc) const {
        const auto nonce = onvif::Base64Decode(Find(doc, "Nonce").text().get());
        return nonce && Find(doc, "Username").text().get() == user_ &&
               Find(doc, "Password").text().get() ==
                   onvif::PasswordDigest(*nonce, Find(doc, "Created").text().get(), password_);
    }

    static std::string Recording(const std::string& token, const std::string& source, const std::string& type) {
        return "<tt:RecordingInformation><tt:RecordingToken>" + token + "</tt:RecordingToken><tt:Source><tt:SourceId>" +
               source + "</tt:SourceId></tt:Source><tt:EarliestRecording>" +
               onvif::FormatXsDateTime(Today(10, 0)) + "</tt:EarliestRecording><tt:LatestRecording>" +
               onvif::FormatXsDateTime(Today(11, 0)) + "</tt:LatestRecording><tt:Track><tt:TrackToken>" + type +
               "0</tt:TrackToken><tt:TrackType>" + type + "</tt:TrackType></tt:Track></tt:RecordingInformation>";
    }

    static std::string Event(int hour, int minute, bool present) {
        return "<tse:Result><tt:RecordingToken>B</tt:RecordingToken><tt:TrackToken>Video0</tt:TrackToken><tt:Time>" +
               onvif::FormatXsDateTime(Today(hour, minute)) +
               "</tt:Time><tt:Event><tt:Message><tt:Data><tt:SimpleItem Name=\"IsDataPresent\" Value=\"" +
               (present ? "true" : "false") + "\"/></tt:Data></tt:Message></tt:Event></tse:Result>";
    }

    // The events in two pages, as a device hands them out while it searches.
    std::string EventPage() {
        if (stall_events) {
            ++stalled_pages;
            return "<tt:SearchState>Searching</tt:SearchState>";
        }
        if (!second_page_.exchange(true))
            return "<tt:SearchState>Searching</tt:SearchState>" + Event(10, 0, true) + Event(10, 20, false);
        second_page_ = false;
        return "<tt:SearchState>Completed</tt:SearchState>" + Event(10, 30, true) + Event(11, 0, false);
    }

    const std::string user_, password_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> second_page_{false};
    std::atomic<int> ended_{0};
};

struct Row {
    std::string name;
    NetTime start, end;
};
std::mutex rows_mutex;
std::vector<Row> rows;

void Collect(int32_t, int32_t, const char* name, const NetTime* start, const NetTime* end, uint32_t, int32_t) {
    std::lock_guard lock(rows_mutex);
    rows.push_back({name, *start, *end});
}

std::string Hm(const NetTime& t) { return std::to_string(t.hour) + ":" + std::to_string(t.minute); }

class OnvifSearch : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard lock(rows_mutex);
        rows.clear();
    }
    void TearDown() override { ::unsetenv("VARNEL_ONVIF_LOGINS"); }

    int32_t Search(const FakeDevice& device, int32_t channel, int32_t type = 1) {
        const NetTime from = LocalNetTime(10, 10), to = LocalNetTime(10, 40);
        return NetSearchFiles("127.0.0.1", "", channel, kLogin, kLogin, type, 1, 1, &from, &to, Collect, nullptr,
                              device.port());
    }
    // Waits for the search to finish, stops it and gives the rows as "h:m-h:m".
    std::vector<std::string> Finish(int32_t search) {
        EXPECT_TRUE(WaitFor([&] { return NetGetSearchState(search) == 1; }));
        NetStopSearch(search);
        std::lock_guard lock(rows_mutex);
        std::vector<std::string> found;
        for (const auto& row : rows) found.push_back(Hm(row.start) + "-" + Hm(row.end));
        return found;
    }
};

TEST_F(OnvifSearch, ChannelIsTheNthVideoSourceAndRowsAreItsStretchesInTheRange) {
    FakeDevice device(kLogin, kLogin);
    const int32_t search = Search(device, 1);
    ASSERT_GE(search, 0);
    EXPECT_EQ(Finish(search), (std::vector<std::string>{"10:10-10:20", "10:30-10:40"}));
    std::lock_guard lock(rows_mutex);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].name.rfind("B@", 0), 0u) << rows[0].name;
    EXPECT_LE(rows[0].name.size(), 99u);
}

TEST_F(OnvifSearch, PicturesFindNothing) {
    FakeDevice device(kLogin, kLogin);
    EXPECT_TRUE(Finish(Search(device, 1, 2)).empty());
}

TEST_F(OnvifSearch, ARefusedLoginIsRetriedWithTheOneConfiguredForTheAddress) {
    FakeDevice device("operator", "s3cret");
    EXPECT_EQ(Search(device, 1), -2);
    testing_support::TempFolder folder;
    WriteAll(folder.path() / "logins", "# recorders\n127.0.0.1:" + std::to_string(device.port()) + " operator s3cret\n");
    ::setenv("VARNEL_ONVIF_LOGINS", (folder.path() / "logins").c_str(), 1);
    const int32_t search = Search(device, 1);
    ASSERT_GE(search, 0);
    EXPECT_EQ(Finish(search).size(), 2u);
}

TEST_F(OnvifSearch, StoppingEndsTheSearchOnTheDevice) {
    FakeDevice device(kLogin, kLogin);
    device.stall_events = true;
    const int32_t search = Search(device, 1);
    ASSERT_GE(search, 0);
    ASSERT_TRUE(WaitFor([&] { return device.stalled_pages > 0; }));
    NetStopSearch(search);
    EXPECT_GE(device.ended(), 1);
}

}  // namespace
