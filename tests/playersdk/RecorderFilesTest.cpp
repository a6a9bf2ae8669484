// Recordings as recorders and cameras leave them: timestamps that jump where
// two sessions were joined, streams that start between key frames, raw
// elementary streams without timestamps, clips of a picture or two.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "FakeWindow.h"
#include "Sdk.h"
#include "TestMedia.h"

using namespace playersdk_test;
using namespace std::chrono_literals;

namespace {

class RecorderFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PlayerInit(); }
    void TearDown() override {
        if (handle_ != PLAYER_NO_HANDLE) PlayerClose(handle_);
    }
    PlayerHandle Open(const std::string& path) {
        EXPECT_FALSE(path.empty()) << "could not make the recording";
        handle_ = PlayerOpenFile(path.c_str(), 0);
        EXPECT_NE(handle_, PLAYER_NO_HANDLE) << path;
        PlayerSetNotifyWindow(handle_, window_.Handle(), WM_PLAYER_NOTIFY);
        return handle_;
    }
    // Every frame number presented, in order, from now on.
    std::vector<int> Shown() {
        std::lock_guard lock(shown_mutex_);
        return shown_;
    }
    void RecordShown() {
        {
            std::lock_guard lock(shown_mutex_);
            shown_.clear();
        }
        window_.OnEachPicture([this](const Picture& p) {
            std::lock_guard lock(shown_mutex_);
            shown_.push_back(FrameNumberOf(p));
        });
    }
    PlayerHandle handle_ = PLAYER_NO_HANDLE;
    FakeWindow window_{128, 96};
    std::mutex shown_mutex_;
    std::vector<int> shown_;
};

TEST_F(RecorderFiles, TimestampsThatJumpEitherWayPlayStraightThroughWithTrueTimes) {
    for (double jump : {3600.0, -3600.0}) {
        SCOPED_TRACE(jump);
        PlayerHandle h = Open(MakeJoinedRecording(5, jump));
        EXPECT_NEAR(static_cast<double>(PlayerGetTotalTime(h)), 10000.0, 120.0) << "the sum of the two sessions";
        RecordShown();
        const int ends = window_.CountEvents(PLAYER_EVENT_END);
        ASSERT_EQ(PlayerPlay(h, window_.Handle()), 1);
        PlayerFast(h);
        PlayerFast(h);  // 4x: both sessions in under 3 s
        uint32_t last = 0;
        bool monotonic = true;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!window_.WaitForEvents(PLAYER_EVENT_END, ends + 1, 10ms)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no end; stopped at " << last << " ms";
            const uint32_t now = PlayerGetPlayTime(h);
            monotonic = monotonic && now >= last;
            last = std::max(last, now);
            ASSERT_LE(now, PlayerGetTotalTime(h));
        }
        EXPECT_TRUE(monotonic) << "the play time went back";
        EXPECT_GE(PlayerGetPlayTime(h), 9800u) << "the play time reached the end of the second session";
        const std::vector<int> shown = Shown();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), 124) << "the last picture of the second session ends the playing";
        const auto restart = std::adjacent_find(shown.begin(), shown.end(), [](int a, int b) { return b < a; });
        EXPECT_NE(restart, shown.end()) << "no picture of the second session was shown";
        PlayerClose(h);
        handle_ = PLAYER_NO_HANDLE;
    }
}

TEST_F(RecorderFiles, ASeekPastAJumpLandsWhereTheBarSays) {
    // The second session repeats timestamps of the first: only the place in
    // the file tells them apart. Sound starts 23 ms before the pictures (the
    // muxer's doing), so picture n of the first session is at 23 + 40n ms.
    PlayerHandle h = Open(MakeJoinedRecording(5, -7));
    ASSERT_NEAR(static_cast<double>(PlayerGetTotalTime(h)), 10000.0, 120.0);
    PlayerPlay(h, window_.Handle());
    PlayerPause(h);
    const struct {
        uint32_t ms;
        int frame;
    } seeks[] = {{7030, 50}, {2030, 50}, {9030, 100}};  // second session, first, second
    for (const auto& seek : seeks) {
        ASSERT_EQ(PlayerSetPlayTime(h, seek.ms), 1);
        ASSERT_TRUE(window_.WaitForPicture([&](const Picture& p) { return FrameNumberOf(p) == seek.frame; })) << seek.ms;
        EXPECT_NEAR(static_cast<double>(PlayerGetPlayTime(h)), seek.ms, 40.0);
    }
}

TEST_F(RecorderFiles, AStreamCutBetweenKeyFramesShowsItsFirstKeyFrameFirst) {
    // H.265 whose first five pictures in decoding order were lost: the first
    // key frame left is picture 25.
    for (const char* container : {"mp4", "ts"}) {
        SCOPED_TRACE(container);
        NumberedClip clip;
        clip.seconds = 2;
        clip.gop = 25;
        clip.container = container;
        clip.video = "libx265 -x265-params lossless=1:log-level=none -bsf:v 'noise=drop=lt(n\\,5)'";
        RecordShown();
        PlayerHandle h = Open(MakeNumberedClip(clip));
        PlayerPlay(h, window_.Handle());
        ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, window_.CountEvents(PLAYER_EVENT_END) + 1));
        const std::vector<int> shown = Shown();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.front(), 25) << "a picture decoded without its references was shown";
        PlayerClose(h);
        handle_ = PLAYER_NO_HANDLE;
    }
}

TEST_F(RecorderFiles, ARawStreamPlaysAtTheRateItsParameterSetsGive) {
    NumberedClip clip;
    clip.seconds = 4;
    clip.rate = 15;
    clip.container = "h264";
    PlayerHandle h = Open(MakeNumberedClip(clip));
    EXPECT_NEAR(static_cast<double>(PlayerGetTotalTime(h)), 4000.0, 70.0);
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) >= 15; }));
    PlayerPause(h);
    std::this_thread::sleep_for(100ms);  // a picture already on its way may land
    const int frame = FrameNumberOf(window_.Last());
    EXPECT_NEAR(static_cast<double>(PlayerGetPlayTime(h)), frame * 1000.0 / 15, 1.0);
}

TEST_F(RecorderFiles, APictureWhoseIndexEntryPointsPastTheEndIsPassedOver) {
    NumberedClip clip;
    clip.seconds = 4;
    clip.gop = 25;
    clip.audio = "aac";
    const std::string source = MakeNumberedClip(clip);
    ASSERT_FALSE(source.empty());
    // The video track's chunk offsets come first; with sound interleaved
    // each chunk holds one picture. Picture 60's is sent past the end.
    std::string bytes;
    {
        std::ifstream in(source, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const size_t box = bytes.find("stco");
    ASSERT_NE(box, std::string::npos);
    const size_t entry = box + 12 + 4 * 60;
    ASSERT_LT(entry + 4, bytes.size());
    bytes.replace(entry, 4, "\x7f\xff\xff\xf0", 4);
    const std::string damaged = ScratchDir() + "/damaged-index.mp4";
    std::ofstream(damaged, std::ios::binary) << bytes;
    RecordShown();
    PlayerHandle h = Open(damaged);
    PlayerPlay(h, window_.Handle());
    PlayerFast(h);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    const std::vector<int> shown = Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), 99) << "playing ended at the damaged picture";
}

TEST_F(RecorderFiles, AClipOfOnePicturePlaysAgainAfterItsEnd) {
    // A decoder that holds a picture back for B-frames gives this one only
    // once the file has ended, all within the open.
    NumberedClip clip;
    clip.seconds = 0.04;
    clip.video = "mpeg4 -qscale:v 1 -bf 1";
    PlayerHandle h = Open(MakeNumberedClip(clip));
    ASSERT_EQ(PlayerPlay(h, window_.Handle()), 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    ASSERT_EQ(PlayerPlay(h, window_.Handle()), 1);
    EXPECT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 2));
}

}  // namespace
