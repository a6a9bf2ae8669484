// Local playback through the library's entry points on clips whose pictures
// carry their frame numbers (25 pictures a second: picture n starts at n*40 ms).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "FakeWindow.h"
#include "Sdk.h"
#include "TestMedia.h"

using namespace playersdk_test;
using namespace std::chrono_literals;

namespace {

class Playback : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PlayerInit(); }
    void TearDown() override {
        if (handle_ != PLAYER_NO_HANDLE) PlayerClose(handle_);
    }
    PlayerHandle Open(const std::string& path) {
        EXPECT_FALSE(path.empty()) << "could not make the clip";
        handle_ = PlayerOpenFile(path.c_str(), 0);
        EXPECT_NE(handle_, PLAYER_NO_HANDLE) << path;
        PlayerSetNotifyWindow(handle_, window_.Handle(), WM_PLAYER_NOTIFY);
        return handle_;
    }
    bool WaitForFrame(int number) {
        return window_.WaitForPicture([number](const Picture& p) { return FrameNumberOf(p) == number; });
    }
    PlayerHandle handle_ = PLAYER_NO_HANDLE;
    FakeWindow window_{128, 96};
};

NumberedClip Clip(double seconds, int gop = 250) {
    NumberedClip clip;
    clip.seconds = seconds;
    clip.gop = gop;
    return clip;
}

TEST_F(Playback, TotalTimeIsKnownRightAfterOpenWithinOneFrame) {
    PlayerHandle h = Open(MakeNumberedClip(Clip(2)));
    EXPECT_NEAR(static_cast<double>(PlayerGetTotalTime(h)), 2000.0, 40.0);
    EXPECT_EQ(PlayerGetPlayTime(h), 0u);

    NumberedClip late = Clip(2);
    late.start_offset = 10;
    PlayerHandle other = PlayerOpenFile(MakeNumberedClip(late).c_str(), 0);
    ASSERT_NE(other, PLAYER_NO_HANDLE);
    EXPECT_NEAR(static_cast<double>(PlayerGetTotalTime(other)), 2000.0, 40.0);
    PlayerClose(other);
}

TEST_F(Playback, PlaysToTheEndOnceThenAgainFromTheStart) {
    PlayerHandle h = Open(MakeNumberedClip(Clip(1)));
    ASSERT_EQ(PlayerPlay(h, window_.Handle()), 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    EXPECT_EQ(FrameNumberOf(window_.Last()), 24) << "the last picture is shown before the end";
    std::vector<Posted> posts = window_.Posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].message, static_cast<uint32_t>(WM_PLAYER_NOTIFY));
    EXPECT_EQ(posts[0].handle, h);
    std::this_thread::sleep_for(300ms);  // a second end would have come by now
    EXPECT_EQ(window_.CountEvents(PLAYER_EVENT_END), 1);

    std::atomic<int> first_after_restart{-1};
    window_.OnEachPicture([&](const Picture& p) {
        int expected = -1;
        first_after_restart.compare_exchange_strong(expected, FrameNumberOf(p));
    });
    ASSERT_EQ(PlayerPlay(h, window_.Handle()), 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 2));
    EXPECT_EQ(first_after_restart.load(), 0);
    EXPECT_EQ(window_.CountEvents(PLAYER_EVENT_END), 2);
}

// How many of this process's threads run nicer than the calling one.
int ThreadsNicerThanThisOne() {
    const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    int nicer = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        const auto tid = static_cast<id_t>(std::stoi(task.path().filename().string()));
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, tid);
        if (errno == 0 && nice > own) ++nicer;
    }
    return nicer;
}

TEST_F(Playback, PictureDecodingYieldsTheProcessorToTheRestOfThePlayer) {
    const std::string clip = MakeNumberedClip(Clip(2));
    const int before = ThreadsNicerThanThisOne();  // the sound system may run some nicer
    PlayerHandle h = Open(clip);
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPresents(2));
    EXPECT_GT(ThreadsNicerThanThisOne(), before);
}

// A picture larger than full HD decodes on more than one thread; the
// pictures after the first, which refer to it, are whole too.
TEST_F(Playback, ThePicturesAfterTheFirstOfALargePictureDecodeWhole) {
    NumberedClip clip = Clip(2);
    clip.video = "libx264 -qp 0 -vf scale=2048:1152";
    PlayerHandle h = Open(MakeNumberedClip(clip));
    std::mutex mutex;
    std::vector<int> numbers;
    window_.OnEachPicture([&](const Picture& p) {
        std::lock_guard lock(mutex);
        numbers.push_back(FrameNumberOf(p));
    });
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) >= 20; }, 20s));
    std::lock_guard lock(mutex);
    for (size_t i = 1; i < numbers.size(); ++i)
        ASSERT_GT(numbers[i], numbers[i - 1]) << "picture " << i << " of " << numbers.size();
}

TEST_F(Playback, PauseHoldsThePictureAndPlayResumes) {
    PlayerHandle h = Open(MakeNumberedClip(Clip(3)));
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPresents(5));
    PlayerPause(h);
    std::this_thread::sleep_for(100ms);  // a picture already on its way may land
    int presents = window_.Presents();
    uint32_t time = PlayerGetPlayTime(h);
    int frame = FrameNumberOf(window_.Last());
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(window_.Presents(), presents);
    EXPECT_EQ(PlayerGetPlayTime(h), time);
    EXPECT_EQ(static_cast<int>(time), frame * 40);
    EXPECT_EQ(window_.CountEvents(PLAYER_EVENT_END), 0);

    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPicture([frame](const Picture& p) { return FrameNumberOf(p) > frame; }));
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
}

TEST_F(Playback, EachStepShowsExactlyTheNextPicture) {
    // A key frame every second. The exact seek decodes on with more threads
    // than playing does; the steps after it cross the key frame at which the
    // decoder changes back, and lose no picture there.
    PlayerHandle h = Open(MakeNumberedClip(Clip(3, 25)));
    PlayerPlay(h, window_.Handle());
    PlayerPause(h);
    ASSERT_EQ(PlayerSetPlayTime(h, 1800), 1);
    ASSERT_TRUE(WaitForFrame(45));
    for (int step = 1; step <= 11; ++step) {
        int presents = window_.Presents();
        ASSERT_EQ(PlayerStepFrame(h), 1);
        ASSERT_TRUE(WaitForFrame(45 + step)) << "step " << step;
        EXPECT_EQ(window_.Presents(), presents + 1);
        EXPECT_EQ(PlayerGetPlayTime(h), static_cast<uint32_t>((45 + step) * 40));
    }
    // Stepping leaves the player paused.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(FrameNumberOf(window_.Last()), 56);
}

TEST_F(Playback, SeeksShowThePictureAtTheTargetOnALongKeyFrameInterval) {
    PlayerHandle h = Open(MakeNumberedClip(Clip(10, 250)));
    PlayerPlay(h, window_.Handle());
    PlayerPause(h);
    ASSERT_EQ(PlayerSetPlayTime(h, 7340), 1);
    ASSERT_TRUE(WaitForFrame(183));
    EXPECT_NEAR(static_cast<double>(PlayerGetPlayTime(h)), 7340.0, 40.0);
    // Backwards, then by fraction.
    ASSERT_EQ(PlayerSetPlayTime(h, 2020), 1);
    ASSERT_TRUE(WaitForFrame(50));
    ASSERT_EQ(PlayerSetPosRatio(h, 0.5f), 1);
    ASSERT_TRUE(WaitForFrame(125));
    EXPECT_NEAR(static_cast<double>(PlayerGetPlayTime(h)), 5000.0, 40.0);
    // Impossible seeks are refused and change nothing.
    EXPECT_EQ(PlayerSetPlayTime(h, PlayerGetTotalTime(h) + 1000), 0);
    EXPECT_EQ(PlayerSetPosRatio(h, 1.5f), 0);
    EXPECT_EQ(PlayerSetPosRatio(h, -0.1f), 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(FrameNumberOf(window_.Last()), 125);

    // While playing, the target picture is shown and play goes on from it.
    std::vector<int> seen;
    std::mutex seen_mutex;
    window_.OnEachPicture([&](const Picture& p) {
        std::lock_guard lock(seen_mutex);
        seen.push_back(FrameNumberOf(p));
    });
    PlayerPlay(h, window_.Handle());
    ASSERT_EQ(PlayerSetPlayTime(h, 8000), 1);
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) > 200; }));
    std::lock_guard lock(seen_mutex);
    EXPECT_NE(std::find(seen.begin(), seen.end(), 200), seen.end());
}

TEST_F(Playback, SeeksCountFromTheStartOfAFileWithALateFirstTimestamp) {
    NumberedClip late = Clip(4, 250);
    late.start_offset = 10;
    PlayerHandle h = Open(MakeNumberedClip(late));
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(WaitForFrame(0));
    PlayerPause(h);
    ASSERT_EQ(PlayerSetPlayTime(h, 1500), 1);
    ASSERT_TRUE(WaitForFrame(37));
    EXPECT_NEAR(static_cast<double>(PlayerGetPlayTime(h)), 1500.0, 40.0);
    EXPECT_EQ(PlayerSetPlayTime(h, 4500), 0);
}

TEST_F(Playback, SpeedStaysBetweenOneSixteenthAndSixteenAndShowsKeyFramesOnlyFromEight) {
    PlayerHandle h = Open(MakeNumberedClip(Clip(8, 25)));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(PlayerFast(h), 1) << i;
    EXPECT_EQ(PlayerFast(h), 0) << "16x is the fastest";
    std::vector<int> seen;
    std::mutex seen_mutex;
    window_.OnEachPicture([&](const Picture& p) {
        std::lock_guard lock(seen_mutex);
        seen.push_back(FrameNumberOf(p));
    });
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    {
        std::lock_guard lock(seen_mutex);
        ASSERT_GE(seen.size(), 2u);
        for (int n : seen) EXPECT_EQ(n % 25, 0) << "picture " << n << " is not a key frame";
    }
    for (int i = 0; i < 8; ++i) EXPECT_EQ(PlayerSlow(h), 1) << i;
    EXPECT_EQ(PlayerSlow(h), 0) << "1/16 is the slowest";
}

TEST_F(Playback, PlaysEveryContainerThatCarriesADecodablePicture) {
    struct Case {
        std::string container, video;
        bool seeks;
        bool length_known;  // FFmpeg itself guesses a short program stream's length
    };
    const Case cases[] = {
        {"ts", "libx264 -qp 0", true, true},
        {"mkv", "libx264 -qp 0", true, true},
        {"avi", "libx264 -qp 0", true, true},
        {"mpg", "mpeg2video -q:v 1", true, false},  // MPEG program stream
        {"h264", "libx264 -qp 0", false, false},
        {"hevc", "libx265 -x265-params lossless=1:log-level=error", false, false},
    };
    for (const Case& c : cases) {
        NumberedClip clip = Clip(2, 25);
        clip.container = c.container;
        clip.video = c.video;
        FakeWindow window(64, 48);
        PlayerHandle h = PlayerOpenFile(MakeNumberedClip(clip).c_str(), 0);
        ASSERT_NE(h, PLAYER_NO_HANDLE) << c.container;
        PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY);
        PlayerPlay(h, window.Handle());
        EXPECT_TRUE(window.WaitForEvents(PLAYER_EVENT_END, 1)) << c.container;
        EXPECT_EQ(FrameNumberOf(window.Last()), 49) << c.container;
        if (c.length_known) {
            EXPECT_NEAR(static_cast<double>(PlayerGetTotalTime(h)), 2000.0, 80.0) << c.container;
        }
        if (c.seeks) {
            PlayerPause(h);
            EXPECT_EQ(PlayerSetPlayTime(h, 1000), 1) << c.container;
            EXPECT_TRUE(window.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) == 25; }))
                << c.container;
        }
        PlayerClose(h);
    }
}

// Containers without a key-frame index: an exact seek finds the key frame at
// or before its target by reading, forwards and backwards alike. Key frames
// every 3 s.
void ExpectExactSeeksIn(const std::string& container, const std::string& video) {
    NumberedClip clip = Clip(6, 75);
    clip.container = container;
    clip.video = video;
    FakeWindow window(64, 48);
    PlayerHandle h = PlayerOpenFile(MakeNumberedClip(clip).c_str(), 0);
    ASSERT_NE(h, PLAYER_NO_HANDLE);
    PlayerPlay(h, window.Handle());
    PlayerPause(h);
    for (int frame : {102, 58, 25}) {
        ASSERT_EQ(PlayerSetPlayTime(h, static_cast<uint32_t>(frame * 40 + 20)), 1) << frame;
        EXPECT_TRUE(window.WaitForPicture([frame](const Picture& p) { return FrameNumberOf(p) == frame; }))
            << "picture " << frame << ", shown " << FrameNumberOf(window.Last());
        EXPECT_EQ(PlayerGetPlayTime(h), static_cast<uint32_t>(frame * 40));
    }
    PlayerClose(h);
}

TEST_F(Playback, ExactSeeksLandOnTheTargetPictureInAnMpegTransportStream) {
    ExpectExactSeeksIn("ts", "libx264 -qp 0");
}

TEST_F(Playback, ExactSeeksLandOnTheTargetPictureInAnMpegProgramStream) {
    ExpectExactSeeksIn("mpg", "mpeg2video -q:v 1");
}

// A window whose functions call back into the library, as a host may.
struct ReentrantWindow {
    PlayerWindow window{};
    PlayerHandle handle = PLAYER_NO_HANDLE;
    std::atomic<int> posts{0}, presents{0};
    ReentrantWindow() {
        window.context = this;
        window.post = [](void* self, uint32_t message, intptr_t, intptr_t) {
            auto* me = static_cast<ReentrantWindow*>(self);
            PlayerSetNotifyWindow(me->handle, &me->window, message);
            ++me->posts;
        };
        window.present = [](void* self, const uint8_t*, int, int, int) {
            auto* me = static_cast<ReentrantWindow*>(self);
            PlayerFast(me->handle);
            PlayerSlow(me->handle);
            ++me->presents;
        };
        window.area_size = [](void* self, int* w, int* h) {
            PlayerGetTotalTime(static_cast<ReentrantWindow*>(self)->handle);
            *w = 64;
            *h = 48;
        };
    }
};

TEST_F(Playback, WindowCallbacksRunWithNoLibraryLockHeldAndStopWhenTheWindowIsReplaced) {
    ReentrantWindow reentrant;
    PlayerHandle h = Open(MakeNumberedClip(Clip(2)));
    reentrant.handle = h;
    PlayerSetNotifyWindow(h, &reentrant.window, WM_PLAYER_NOTIFY);
    PlayerPlay(h, &reentrant.window);
    for (int i = 0; i < 400 && reentrant.posts == 0; ++i) std::this_thread::sleep_for(25ms);
    EXPECT_EQ(reentrant.posts.load(), 1) << "the end reached a window that calls back";
    EXPECT_GT(reentrant.presents.load(), 10);

    // Played again into another window: once Play returns, the first one is left alone.
    PlayerPlay(h, &reentrant.window);
    std::this_thread::sleep_for(200ms);
    PlayerPlay(h, window_.Handle());
    int presents = reentrant.presents;
    ASSERT_TRUE(window_.WaitForPresents(5));
    EXPECT_EQ(reentrant.presents.load(), presents);
}

TEST_F(Playback, PictureIsScaledToFitWithItsAspectKeptAndNoBars) {
    FakeWindow wide(200, 100);
    handle_ = PlayerOpenFile(MakeNumberedClip(Clip(1)).c_str(), 0);
    ASSERT_NE(handle_, PLAYER_NO_HANDLE);
    PlayerPlay(handle_, wide.Handle());
    ASSERT_TRUE(wide.WaitForPresents(1));
    Picture p = wide.Last();
    // 4:3 in 200x100: the picture alone, 133 wide made even; the window
    // keeps the rest of its area black.
    ASSERT_EQ(p.width, 132);
    ASSERT_EQ(p.height, 100);
    for (int x : {1, 66, 130}) {
        const uint8_t* px = p.At(x, 50);
        EXPECT_GT(px[0] + px[1] + px[2], 15) << "x " << x;  // picture 0 is dark grey
    }
    PlayerClose(handle_);  // before the window goes
    handle_ = PLAYER_NO_HANDLE;
}

TEST_F(Playback, SoundStreamsAreReportedAndPlaySilentlyWithoutADevice) {
    struct Case {
        std::string audio, container;
    };
    for (const Case& c : {Case{"aac", "mp4"}, Case{"libmp3lame", "mp4"}, Case{"pcm_mulaw", "mov"}}) {
        NumberedClip clip = Clip(1);
        clip.audio = c.audio;
        clip.container = c.container;
        FakeWindow window(64, 48);
        PlayerHandle h = PlayerOpenFile(MakeNumberedClip(clip).c_str(), 0);
        ASSERT_NE(h, PLAYER_NO_HANDLE) << c.audio;
        PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY);
        EXPECT_EQ(PlayerHasAudio(h), 1) << c.audio;
        EXPECT_EQ(PlayerSoundOn(h), 1) << c.audio;
        PlayerPlay(h, window.Handle());
        EXPECT_TRUE(window.WaitForEvents(PLAYER_EVENT_END, 1)) << c.audio;
        EXPECT_EQ(PlayerSoundOff(h), 1);
        PlayerClose(h);
    }
    PlayerHandle silent = Open(MakeNumberedClip(Clip(1)));
    EXPECT_EQ(PlayerHasAudio(silent), 0);
    EXPECT_EQ(PlayerSoundOn(silent), 0);
}

TEST_F(Playback, CloseStopsEverythingAndTheHandleIsGone) {
    PlayerHandle h = Open(MakeNumberedClip(Clip(3)));
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPresents(2));
    ASSERT_EQ(PlayerClose(h), 1);
    handle_ = PLAYER_NO_HANDLE;
    int presents = window_.Presents();
    size_t posts = window_.Posts().size();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(window_.Presents(), presents) << "nothing reaches the window after close";
    EXPECT_EQ(window_.Posts().size(), posts);
    EXPECT_EQ(PlayerPlay(h, window_.Handle()), 0);
    EXPECT_EQ(PlayerGetTotalTime(h), 0u);
    EXPECT_EQ(PlayerClose(h), 0);
}

}  // namespace

