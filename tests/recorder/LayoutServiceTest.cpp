// Folders written by FFmpeg's segment muxer, in two layouts, served by the
// real recorder and searched, downloaded and streamed through the library.
#include "NetFixture.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <mutex>
#include <regex>

using namespace net_test;
using playersdk_test::FakeWindow;

namespace {

struct Row {
    std::string name;
    NetTime start;
    NetTime end;
    uint32_t size;
};
std::mutex rows_mutex;
std::vector<Row> rows;

void Collect(int32_t, int32_t, const char* name, const NetTime* start, const NetTime* end,
             uint32_t size, int32_t) {
    std::lock_guard lock(rows_mutex);
    rows.push_back({name, *start, *end, size});
}

// Seconds of the local calendar from a NetTime, to compare lengths.
int64_t Seconds(const NetTime& t) {
    struct tm parts {};
    parts.tm_year = static_cast<int>(t.year) - 1900;
    parts.tm_mon = t.month - 1;
    parts.tm_mday = t.day;
    parts.tm_hour = t.hour;
    parts.tm_min = t.minute;
    parts.tm_sec = t.second;
    return static_cast<int64_t>(timegm(&parts));
}

// Seconds of the local calendar of a moment of the system clock.
int64_t LocalSeconds(time_t t) {
    struct tm parts {};
    localtime_r(&t, &parts);
    return static_cast<int64_t>(timegm(&parts));
}

std::string LocalText(time_t t, const char* format) {
    struct tm parts {};
    localtime_r(&t, &parts);
    char text[64];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

// The files under root whose relative path matches `pattern`, sorted.
std::vector<std::string> Files(const fs::path& root, const std::string& pattern) {
    std::vector<std::string> found;
    const std::regex re(pattern);
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string relative = e.path().lexically_relative(root).string();
        if (e.is_regular_file() && std::regex_match(relative, re)) found.push_back(relative);
    }
    std::sort(found.begin(), found.end());
    return found;
}

const char* const kNested = "%{channel}/%Y-%m-%d/%H/%M.%S.mp4";

// One 12 s recording written at real speed into both layouts at once, 10 s
// segments (so a 10 s one and a 2 s one each; the second keeps the
// recording's timestamps, from 10 s on, as the muxer leaves them): MP4 in
// cam1/<day>/<hour>/, MPEG-TS as yard_<day>_<time>.ts; a free-named export;
// and the files a recorder's folder also holds: text, an empty file, a
// segment being written.
class LayoutService : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new testing_support::TempFolder;
        const fs::path root = folder->path();
        const time_t now = ::time(nullptr);
        for (time_t t : {now, now + 60}) fs::create_directories(root / "cam1" / LocalText(t, "%Y-%m-%d/%H"));
        const std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel error -re -f lavfi -i testsrc2=size=160x90:rate=10 "
            "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 12 -map 0:v -map 1:a -c:v libx264 "
            "-preset ultrafast -g 10 -pix_fmt yuv420p -c:a aac -b:a 16k -ac 1 -threads 1 -f tee "
            "'[f=segment:strftime=1:segment_time=10]" +
            root.string() + "/cam1/%Y-%m-%d/%H/%M.%S.mp4|[f=segment:strftime=1:segment_time=10:"
            "segment_format=mpegts]" + root.string() + "/yard_%Y-%m-%d_%H-%M-%S.ts'";
        ASSERT_EQ(testing_support::runCommand(command), 0);
        mp4s = Files(root, R"(cam1/.*\.mp4)");
        tss = Files(root, R"(yard_.*\.ts)");
        ASSERT_EQ(mp4s.size(), 2u);
        ASSERT_EQ(tss.size(), 2u);
        ASSERT_TRUE(testing_support::makeTestMp4(root / "exports/cam3/clip.mp4", 3));
        fs::create_directories(root / "exports/cam4");
        ASSERT_EQ(testing_support::runCommand("ffmpeg -nostdin -loglevel error -i '" + root.string() +
                                              "/exports/cam3/clip.mp4' -c copy -metadata "
                                              "creation_time=2026-12-01T08:00:00Z '" + root.string() +
                                              "/exports/cam4/stamped.mp4'"),
                  0);
        WriteAll(root / "cam1/notes.txt", "not a recording");
        WriteAll(root / "cam1/empty.mp4", "");  // left behind long ago
        fs::last_write_time(root / "cam1/empty.mp4", fs::file_time_type::clock::now() - std::chrono::hours(1));
        // A segment whose writer has not yet closed it: no index at its end.
        const std::string first = ReadAll(root / mp4s[0]);
        writing = NextName(40);
        WriteAll(root / writing, first.substr(0, first.size() / 2));
        recorder = new testing_support::RecorderProcess(
            root, {"--pattern", kNested, "--channel", "yard=2"});
    }
    static void TearDownTestSuite() {
        delete recorder;
        delete folder;
    }
    void SetUp() override { ASSERT_GT(recorder->port(), 0); }

    // A name of the nested layout `seconds` after the first segment.
    static std::string NextName(int seconds) {
        std::smatch m;
        const std::regex re(R"(cam1/(\d+)-(\d+)-(\d+)/(\d+)/(\d+)\.(\d+)\.mp4)");
        EXPECT_TRUE(std::regex_match(mp4s[0], m, re));
        struct tm parts {};
        parts.tm_year = std::stoi(m[1]) - 1900;
        parts.tm_mon = std::stoi(m[2]) - 1;
        parts.tm_mday = std::stoi(m[3]);
        parts.tm_hour = std::stoi(m[4]);
        parts.tm_min = std::stoi(m[5]);
        parts.tm_sec = std::stoi(m[6]) + seconds;
        parts.tm_isdst = -1;
        const time_t t = mktime(&parts);
        fs::create_directories(folder->path() / "cam1" / LocalText(t, "%Y-%m-%d/%H"));
        return "cam1/" + LocalText(t, "%Y-%m-%d/%H/%M.%S.mp4");
    }

    // Every recording of a channel (1 to 4) and type, as the window lists them.
    static std::vector<Row> Search(int channel, int type = 1) {
        {
            std::lock_guard lock(rows_mutex);
            rows.clear();
        }
        NetTime from{}, to{};
        const int32_t h = NetSearchFiles("127.0.0.1", "", channel - 1, kLogin, kLogin, type, 1, 0,
                                         &from, &to, Collect, nullptr,
                                         static_cast<uint16_t>(recorder->port()));
        EXPECT_GE(h, 0);
        EXPECT_TRUE(WaitFor([&] { return NetGetSearchState(h) == 1; }));
        NetStopSearch(h);
        std::lock_guard lock(rows_mutex);
        return rows;
    }
    static std::vector<std::string> Names(const std::vector<Row>& found) {
        std::vector<std::string> names;
        for (const Row& r : found) names.push_back(r.name);
        return names;
    }
    // Until then, lengths that names leave open are estimates.
    static bool Probed() { return recorder->waitForLog("background probing done", 60s); }

    static testing_support::TempFolder* folder;
    static testing_support::RecorderProcess* recorder;
    static std::vector<std::string> mp4s, tss;
    static std::string writing;
};
testing_support::TempFolder* LayoutService::folder = nullptr;
testing_support::RecorderProcess* LayoutService::recorder = nullptr;
std::vector<std::string> LayoutService::mp4s, LayoutService::tss;
std::string LayoutService::writing;

}  // namespace

TEST_F(LayoutService, SearchListsBothLayoutsWithTheirRealLengths) {
    ASSERT_TRUE(Probed());
    const auto nested = Search(1);
    ASSERT_EQ(Names(nested), mp4s);  // the path is the name; the one being written is not there
    const auto flat = Search(2);
    ASSERT_EQ(Names(flat), tss);
    for (const auto* found : {&nested, &flat}) {
        // 10 s and 2 s: the last one's length comes from the file, not from the spacing.
        EXPECT_EQ(Seconds((*found)[0].end) - Seconds((*found)[0].start), 10);
        EXPECT_EQ(Seconds((*found)[1].end) - Seconds((*found)[1].start), 2);
        // The names give the starts: wall-clock times about 10 s apart.
        const int64_t apart = Seconds((*found)[1].start) - Seconds((*found)[0].start);
        EXPECT_GE(apart, 10);
        EXPECT_LE(apart, 15);
    }
    EXPECT_EQ(nested[0].size, fs::file_size(folder->path() / mp4s[0]));
    // A free name: the channel from its folder, the length from the file.
    const auto exported = Search(3);
    ASSERT_EQ(Names(exported), (std::vector<std::string>{"exports/cam3/clip.mp4"}));
    EXPECT_EQ(Seconds(exported[0].end) - Seconds(exported[0].start), 3);
    // It ends when it was last written; one with a creation time starts then.
    struct stat written {};
    ASSERT_EQ(::stat((folder->path() / exported[0].name).c_str(), &written), 0);
    EXPECT_EQ(Seconds(exported[0].end), LocalSeconds(written.st_mtime));
    const auto stamped = Search(4);
    ASSERT_EQ(stamped.size(), 1u);
    EXPECT_EQ(Seconds(stamped[0].start), LocalSeconds(Seconds({2026, 12, 1, 8, 0, 0, {}})));
    EXPECT_TRUE(Search(1, 2).empty());  // pictures are type 2 only
}

TEST_F(LayoutService, DownloadsAnMpegTsSegmentAndStreamsSegmentsOfBothContainers) {
    ASSERT_TRUE(Probed());
    const int32_t download = NetStartDownload("127.0.0.1", kLogin, kLogin, tss[1].c_str(), "d:\\test.mp4",
                                              static_cast<uint16_t>(recorder->port()), 0, 0, 0);
    ASSERT_GE(download, 0);
    ASSERT_TRUE(WaitFor([&] { return NetGetDownloadProgress(download) < 0; }));
    NetStopDownload(download);
    EXPECT_EQ(ReadAll(NetEnvironment::DriveRoot() / "d" / "test.mp4"), ReadAll(folder->path() / tss[1]));

    // The 2 s segments, whose timestamps start at 10 s.
    for (const std::string* name : {&mp4s[1], &tss[1]}) {
        SCOPED_TRACE(*name);
        FakeWindow picture(64, 36), window(1, 1);
        const PlayerHandle h = NetOpenStream("127.0.0.1", kLogin, kLogin, name->c_str(), picture.Handle(),
                                             static_cast<uint16_t>(recorder->port()));
        ASSERT_NE(h, -1);
        NetSetBufferTime(h, 1);
        PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY);
        EXPECT_TRUE(window.WaitForEvents(PLAYER_EVENT_END, 1));
        EXPECT_GT(picture.Presents(), 0);
        EXPECT_NEAR(static_cast<double>(PlayerGetTotalTime(h)), 2000, 150);
        PlayerClose(h);
    }
}

TEST_F(LayoutService, OddFilesGetALineEachAndNewSegmentsAppearWithoutARestart) {
    ASSERT_TRUE(Probed());
    EXPECT_TRUE(recorder->waitForLog(writing + ": not served yet: still being written", 10s));
    EXPECT_TRUE(recorder->waitForLog("cam1/notes.txt: skipped: not a video recording", 10s));
    EXPECT_TRUE(recorder->waitForLog("cam1/empty.mp4: skipped: empty file", 10s));
    // Written aside and renamed in, as segment writers finish a file.
    const std::string added = NextName(50);
    fs::copy_file(folder->path() / mp4s[1], folder->path() / "cam1" / ".copying");
    fs::rename(folder->path() / "cam1" / ".copying", folder->path() / added);
    std::vector<Row> found;
    EXPECT_TRUE(WaitFor([&] { return (found = Search(1)).size() == 3; }, 20s));
    EXPECT_EQ(found.back().name, added);
    EXPECT_EQ(Seconds(found.back().end) - Seconds(found.back().start), 2);
    // The one being written is served once it is whole.
    fs::copy_file(folder->path() / mp4s[0], folder->path() / writing, fs::copy_options::overwrite_existing);
    EXPECT_TRUE(WaitFor([&] { return Search(1).size() == 4; }, 20s));
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new net_test::NetEnvironment);
    return RUN_ALL_TESTS();
}
