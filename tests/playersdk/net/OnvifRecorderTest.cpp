// Search, download and stream from varnel-recorder as an ONVIF device, through
// the library's entry points: a channel of two segments with a gap between,
// and a second channel of one segment with a camera's A-law sound.
#include "NetFixture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <regex>

#include "TestMedia.h"
#include "net/ReplayStream.h"
#include "net/SinceKey.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

using namespace net_test;
using playersdk_test::FakeWindow;

namespace {

struct Row {
    std::string name;
    NetTime start, end;
    uint32_t size;
};
std::mutex collected_mutex;
std::vector<Row> collected;  // the rows of the search under way

void Collect(int32_t, int32_t, const char* name, const NetTime* start, const NetTime* end, uint32_t size, int32_t) {
    std::lock_guard lock(collected_mutex);
    collected.push_back({name, *start, *end, size});
}

NetTime At(int hour, int minute, int second) {
    NetTime t{};
    t.year = 2026;
    t.month = 3;
    t.day = 2;
    t.hour = static_cast<uint8_t>(hour);
    t.minute = static_cast<uint8_t>(minute);
    t.second = static_cast<uint8_t>(second);
    return t;
}

class OnvifRecorder : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new testing_support::TempFolder;
        ASSERT_TRUE(testing_support::makeTestMp4(folder->path() / "ch1/20260302/ch1_20260302_100000_100008.mp4", 8));
        ASSERT_TRUE(testing_support::makeTestMp4(folder->path() / "ch1/20260302/ch1_20260302_100020_100028.mp4", 8));
        ASSERT_TRUE(testing_support::makeTestMp4(folder->path() / kALawSegment, 4, "-c:a pcm_alaw -f mov"));
        ASSERT_TRUE(testing_support::makeTestMp4(folder->path() / kReorderedSegment, 4, "-c:a aac -bf 2"));
        // Longer than a stream's window: its replay still runs while the player plays.
        ASSERT_TRUE(testing_support::makeTestMp4(folder->path() / "ch1/20260302/ch1_20260302_120000_120100.mp4", 60));
        recorder = new testing_support::RecorderProcess(folder->path(), {"--rtsp-port", "0"});
        ASSERT_GT(recorder->port(), 0);
        found = Search(0, At(9, 0, 0), At(11, 0, 0));
        const std::vector<Row> second = Search(1, At(9, 0, 0), At(11, 0, 0));
        ASSERT_EQ(found.size(), 2u);
        ASSERT_EQ(second.size(), 1u);
        a_law = second[0];
    }
    static void TearDownTestSuite() {
        delete recorder;
        delete folder;
    }
    static uint16_t Port() { return static_cast<uint16_t>(recorder->port()); }
    // The rows of a channel (0 for the first) from..to.
    static std::vector<Row> Search(int32_t channel, const NetTime& from, const NetTime& to) {
        {
            std::lock_guard lock(collected_mutex);
            collected.clear();
        }
        const int32_t search = NetSearchFiles("127.0.0.1", "", channel, kLogin, kLogin, 1, 1, 1, &from, &to, Collect,
                                              nullptr, Port());
        EXPECT_GE(search, 0);
        EXPECT_TRUE(WaitFor([&] { return NetGetSearchState(search) == 1; }));
        NetStopSearch(search);
        std::lock_guard lock(collected_mutex);
        return collected;
    }

    static constexpr const char* kALawSegment = "ch2/20260302/ch2_20260302_103000_103004.mp4";
    // Pictures with B-frames, sent in decoding order.
    static constexpr const char* kReorderedSegment = "ch3/20260302/ch3_20260302_100000_100004.mp4";
    static testing_support::TempFolder* folder;
    static testing_support::RecorderProcess* recorder;
    static std::vector<Row> found;  // channel 1, 09:00 to 11:00
    static Row a_law;
};
testing_support::TempFolder* OnvifRecorder::folder = nullptr;
testing_support::RecorderProcess* OnvifRecorder::recorder = nullptr;
std::vector<Row> OnvifRecorder::found;
Row OnvifRecorder::a_law;

TEST_F(OnvifRecorder, OneRowPerSegmentWithTheGapBetween) {
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].start.second, 0);
    EXPECT_EQ(found[0].end.second, 8);
    EXPECT_EQ(found[1].start.second, 20);
    EXPECT_EQ(found[1].end.second, 28);
}

// ONVIF tells no size: the row's is the device's bit rate times its length,
// here the segment's own bytes give or take the rounding of the rate.
TEST_F(OnvifRecorder, ARowsSizeIsEstimatedFromTheDevicesBitRate) {
    const double bytes = static_cast<double>(std::filesystem::file_size(folder->path() / kALawSegment));
    EXPECT_NEAR(a_law.size, bytes, bytes * 0.02);
}

TEST_F(OnvifRecorder, ARowDownloadsAsAnMp4OfItsStretch) {
    ASSERT_FALSE(found.empty());
    const int32_t download =
        NetStartDownload("127.0.0.1", kLogin, kLogin, found[1].name.c_str(), "d:\\onvif.mp4", Port(), 0, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return NetGetDownloadProgress(download) < 0; }));
    NetStopDownload(download);
    const std::string file = (NetEnvironment::DriveRoot() / "d" / "onvif.mp4").string();
    EXPECT_EQ(playersdk_test::ProbeCodecs(file), "h264,aac");
    EXPECT_NEAR(playersdk_test::ProbeDuration(file), 8.0, 0.5);
}

// A file's picture times in ms, as {pts, dts} in the order stored.
std::vector<std::pair<int64_t, int64_t>> PictureTimes(const std::string& file) {
    std::istringstream lines(test_support::Capture("ffprobe -v error -select_streams v -show_entries packet=pts_time,dts_time -of csv=p=0 " +
                                                   test_support::ShellQuoted(file) + " 2>/dev/null"));
    std::vector<std::pair<int64_t, int64_t>> times;
    for (std::string line; std::getline(lines, line);) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        times.emplace_back(std::llround(std::stod(line.substr(0, comma)) * 1000),
                           std::llround(std::stod(line.substr(comma + 1)) * 1000));
    }
    return times;
}

TEST_F(OnvifRecorder, ADownloadKeepsReorderedPicturesAtTheirPresentationTimes) {
    const std::vector<Row> rows = Search(2, At(9, 0, 0), At(11, 0, 0));
    ASSERT_EQ(rows.size(), 1u);
    const int32_t download =
        NetStartDownload("127.0.0.1", kLogin, kLogin, rows[0].name.c_str(), "d:\\reordered.mp4", Port(), 0, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return NetGetDownloadProgress(download) < 0; }));
    NetStopDownload(download);
    const auto times = PictureTimes((NetEnvironment::DriveRoot() / "d" / "reordered.mp4").string());
    ASSERT_EQ(times.size(), PictureTimes((folder->path() / kReorderedSegment).string()).size());
    std::vector<int64_t> shown;
    for (const auto& [pts, dts] : times) {
        EXPECT_LE(dts, pts);
        shown.push_back(pts);
    }
    std::sort(shown.begin(), shown.end());
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i] - shown[i - 1], 100) << "picture " << i;
}

// The stream read from its start to its end holds every picture.
TEST_F(OnvifRecorder, AStreamEndsWithTheStretchsLastPictures) {
    const std::vector<Row> rows = Search(2, At(9, 0, 0), At(11, 0, 0));
    ASSERT_EQ(rows.size(), 1u);
    const auto stretch = playersdk::net::ParseReplayName(rows[0].name);
    ASSERT_TRUE(stretch);
    playersdk::net::ReplayStream stream({"127.0.0.1", Port(), kLogin, kLogin}, *stretch);
    ASSERT_EQ(stream.Connect(20s), playersdk::net::StreamOpen::Ready);
    const testing_support::TempFolder scratch;
    const std::string file = (scratch.path() / "streamed.ts").string();
    std::ofstream out(file, std::ios::binary);
    uint8_t bytes[64 * 1024];
    for (int n; (n = stream.Read(bytes, sizeof bytes)) != AVERROR_EOF;) {
        ASSERT_GT(n, 0);
        out.write(reinterpret_cast<const char*>(bytes), n);
    }
    out.close();
    EXPECT_EQ(PictureTimes(file).size(), PictureTimes((folder->path() / kReorderedSegment).string()).size());
}

TEST_F(OnvifRecorder, ARowStreamsStartsSeeksAndEnds) {
    ASSERT_FALSE(found.empty());
    FakeWindow picture(64, 36), window(1, 1);
    const PlayerHandle h = NetOpenStream("127.0.0.1", kLogin, kLogin, found[0].name.c_str(), picture.Handle(), Port());
    ASSERT_NE(h, -1);
    NetSetBufferTime(h, 2);
    PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY);
    ASSERT_TRUE(window.WaitForEvents(PLAYER_EVENT_STARTED, 1));
    EXPECT_NEAR(static_cast<double>(PlayerGetTotalTime(h)), 8000.0, 600.0);
    EXPECT_NE(PlayerSetPlayTime(h, 5000), 0);
    EXPECT_TRUE(WaitFor([&] { return PlayerGetPlayTime(h) >= 5000; }, 20s));
    EXPECT_TRUE(window.WaitForEvents(PLAYER_EVENT_END, 1));
    PlayerClose(h);
}

// MPEG-TS, the stream's container, has no place for G.711: the sound must
// still come out of the sound device.
TEST_F(OnvifRecorder, ARowWithALawSoundStreamsItsSound) {
    FakeWindow picture(64, 36), window(1, 1);
    const PlayerHandle h = NetOpenStream("127.0.0.1", kLogin, kLogin, a_law.name.c_str(), picture.Handle(), Port());
    ASSERT_NE(h, -1);
    NetSetBufferTime(h, 2);
    PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY);
    ASSERT_TRUE(window.WaitForEvents(PLAYER_EVENT_STARTED, 1));
    EXPECT_EQ(PlayerSoundOn(h), 1);
    EXPECT_TRUE(window.WaitForEvents(PLAYER_EVENT_END, 1));
    PlayerClose(h);
    const std::string raw = ReadAll(NetEnvironment::SoundFile());
    ASSERT_FALSE(raw.empty()) << "no sound came out";
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    const auto loud = std::count_if(samples.begin(), samples.end(), [](int16_t s) { return s > 1000 || s < -1000; });
    // The 4 s tone: at least 2 s of it at the 8 kHz it was recorded at.
    EXPECT_GT(loud, 2 * 8000);
}

// The player's open reads the laid-out stream's tail for its length, before
// the replay has got there: nothing is there, and the stream plays on.
TEST_F(OnvifRecorder, AReadPastTheLastPictureLeavesTheStreamPlayable) {
    ASSERT_FALSE(found.empty());
    const auto stretch = playersdk::net::ParseReplayName(found[0].name);
    ASSERT_TRUE(stretch);
    playersdk::net::ReplayStream stream({"127.0.0.1", Port(), kLogin, kLogin}, *stretch);
    ASSERT_EQ(stream.Connect(20s), playersdk::net::StreamOpen::Ready);
    uint8_t bytes[188];
    ASSERT_GT(stream.Seek(stream.Seek(0, AVSEEK_SIZE) - 188, SEEK_SET), 0);
    EXPECT_EQ(stream.Read(bytes, sizeof bytes), AVERROR_EOF);
    ASSERT_EQ(stream.Seek(0, SEEK_SET), 0);
    EXPECT_EQ(stream.Read(bytes, sizeof bytes), 188);
}

// Once the window ahead is full the device paces the replay: a paused
// player pauses it, and it resumes at real time, at the player's speed.
TEST_F(OnvifRecorder, AStreamIsPausedAndPacedByTheDeviceAtThePlayersSpeed) {
    const std::vector<Row> rows = Search(0, At(11, 30, 0), At(12, 30, 0));
    ASSERT_EQ(rows.size(), 1u);
    FakeWindow picture(64, 36), window(1, 1);
    const PlayerHandle h = NetOpenStream("127.0.0.1", kLogin, kLogin, rows[0].name.c_str(), picture.Handle(), Port());
    ASSERT_NE(h, -1);
    NetSetBufferTime(h, 1);
    PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY);
    ASSERT_TRUE(window.WaitForEvents(PLAYER_EVENT_STARTED, 1));
    EXPECT_NE(PlayerPause(h), 0);
    EXPECT_TRUE(recorder->waitForLog(" PAUSE ", 30s));
    EXPECT_NE(PlayerPlay(h, picture.Handle()), 0);
    EXPECT_TRUE(recorder->waitForLog("Rate-Control: yes", 30s));
    EXPECT_NE(PlayerFast(h), 0);
    EXPECT_TRUE(recorder->waitForLog("Scale: 2", 30s));
    PlayerClose(h);
}

// Asked again from the last key picture, the device sends again, in sending
// order, the reordered pictures written since it: those are skipped, and a
// picture shown before the last one written that had not come yet goes in.
TEST(ReplayResend, SkipsInSendingOrderWhatWasWrittenAndNothingElse) {
    playersdk::net::SinceKey since_key;
    since_key.Written(0, true, true, 1000);
    since_key.Written(0, true, false, 1300);
    since_key.Written(0, true, false, 1100);
    since_key.AskedAgain();
    for (const int64_t ms : {1000, 1300, 1100}) EXPECT_TRUE(since_key.Sent(0, true, ms)) << ms;
    EXPECT_FALSE(since_key.Sent(0, true, 1200));
    EXPECT_FALSE(since_key.Sent(0, true, 1600));
}

}  // namespace
