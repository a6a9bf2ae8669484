// Files the library writes: snapshots as 24-bit BMP and cuts as fragmented
// MP4, through drive paths under PLAYERSDK_DRIVE_ROOT.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "FakeWindow.h"
#include "Sdk.h"
#include "TestMedia.h"

using namespace playersdk_test;
using namespace std::chrono_literals;

namespace {

class Output : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("PLAYERSDK_DRIVE_ROOT", ScratchDir().c_str(), 1);
        PlayerInit();
    }
    void TearDown() override {
        if (handle_ != PLAYER_NO_HANDLE) PlayerClose(handle_);
    }
    PlayerHandle Open(const std::string& path) {
        EXPECT_FALSE(path.empty());
        handle_ = PlayerOpenFile(path.c_str(), 0);
        EXPECT_NE(handle_, PLAYER_NO_HANDLE) << path;
        PlayerSetNotifyWindow(handle_, window_.Handle(), WM_PLAYER_NOTIFY);
        return handle_;
    }
    // A camera's 8 kHz sound, coded by `encoder`, is kept in a cut as
    // `codec`, in a file ffmpeg decodes.
    void ExpectCutKeepsCameraSound(const std::string& encoder, const std::string& codec);
    PlayerHandle handle_ = PLAYER_NO_HANDLE;
    FakeWindow window_{320, 240};
};

// ffmpeg's own decode of picture `index` of a file as B, G, R bytes.
std::string DecodeWithFfmpeg(const std::string& path, int index) {
    return Capture("ffmpeg -nostdin -v error -i '" + path + "' -vf 'select=eq(n\\," + std::to_string(index) +
                   ")' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
}

double MeanDifference(const Bitmap& bitmap, const std::string& reference) {
    if (reference.size() != bitmap.bgr.size() || reference.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
        sum += std::abs(static_cast<int>(static_cast<uint8_t>(reference[i])) - bitmap.bgr[i]);
    }
    return sum / static_cast<double>(reference.size());
}

TEST_F(Output, SnapshotIsThePictureOnScreenAtTheVideosOwnSizeOddWidthIncluded) {
    std::string clip = MakeMedia("odd.mp4", "-f lavfi -i testsrc=s=161x91:r=25:d=2 -c:v libx264 -pix_fmt yuv444p -g 250");
    PlayerHandle h = Open(clip);
    PlayerPlay(h, window_.Handle());
    PlayerPause(h);
    ASSERT_EQ(PlayerSetPlayTime(h, 480), 1);  // picture 12
    ASSERT_TRUE(window_.WaitForPicture([&](const Picture&) { return PlayerGetPlayTime(h) == 480; }));
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(PlayerSnapshot(h, "C:\\snaps\\odd.bmp"), 1);
    Bitmap bitmap;
    ASSERT_TRUE(ReadBmp(ScratchDir() + "/c/snaps/odd.bmp", &bitmap));
    EXPECT_EQ(bitmap.width, 161);
    EXPECT_EQ(bitmap.height, 91);
    EXPECT_LT(MeanDifference(bitmap, DecodeWithFfmpeg(clip, 12)), 4.0);
    EXPECT_GT(MeanDifference(bitmap, DecodeWithFfmpeg(clip, 30)), 4.0) << "another picture differs";
}

TEST_F(Output, SnapshotOfAJpegPicture) {
    std::string picture = MakeMedia("odd.jpg", "-f lavfi -i testsrc=s=75x33:d=1 -frames:v 1");
    PlayerHandle h = Open(picture);
    EXPECT_EQ(PlayerGetTotalTime(h), 0u);
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    ASSERT_EQ(PlayerSnapshot(h, "C:\\jpeg.bmp"), 1);
    Bitmap bitmap;
    ASSERT_TRUE(ReadBmp(ScratchDir() + "/c/jpeg.bmp", &bitmap));
    EXPECT_EQ(bitmap.width, 75);
    EXPECT_EQ(bitmap.height, 33);
    EXPECT_LT(MeanDifference(bitmap, DecodeWithFfmpeg(picture, 0)), 4.0);
}

TEST_F(Output, NoSnapshotBeforeAPictureIsShownNorForNoHandle) {
    NumberedClip clip;
    PlayerHandle h = Open(MakeNumberedClip(clip));
    EXPECT_EQ(PlayerSnapshot(h, "C:\\early.bmp"), 0);
    EXPECT_EQ(PlayerSnapshot(PLAYER_NO_HANDLE, "C:\\none.bmp"), 0);
    EXPECT_FALSE(FileExists(ScratchDir() + "/c/early.bmp"));
    EXPECT_FALSE(FileExists(ScratchDir() + "/c/none.bmp"));
}

NumberedClip CutSource(double seconds) {
    NumberedClip clip;
    clip.seconds = seconds;
    clip.gop = 25;
    clip.audio = "aac";
    return clip;
}

TEST_F(Output, CutStartsAtTheKeyFrameAtOrBeforeThePictureOnScreen) {
    PlayerHandle h = Open(MakeNumberedClip(CutSource(3)));
    PlayerPlay(h, window_.Handle());
    PlayerPause(h);
    ASSERT_EQ(PlayerSetPlayTime(h, 1480), 1);  // picture 37; key frames every 25
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) == 37; }));
    ASSERT_EQ(PlayerStartCut(h, "C:\\cut.mp4"), 1);
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    ASSERT_EQ(PlayerStopCut(h), 1);
    std::string cut = ScratchDir() + "/c/cut.mp4";
    EXPECT_EQ(ProbeCodecs(cut), "h264,aac");
    EXPECT_NEAR(ProbeDuration(cut), 2.0, 0.15) << "from the key frame at 1 s to the end";
    EXPECT_EQ(Capture("ffmpeg -nostdin -v error -i '" + cut + "' -f null - 2>&1"), "");
    std::string first = Capture("ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 -read_intervals %+#1 '" + cut + "'");
    EXPECT_NEAR(std::atof(first.c_str()), 0.0, 0.1) << "timestamps start at 0";
}

TEST_F(Output, ACutAcrossABackwardSeekKeepsBothPartsInTheOrderShown) {
    PlayerHandle h = Open(MakeNumberedClip(CutSource(6)));
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) >= 50; }));
    ASSERT_EQ(PlayerStartCut(h, "C:\\across-seek.mp4"), 1);
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) >= 80; }));
    ASSERT_EQ(PlayerSetPlayTime(h, 480), 1);  // back to picture 12; its key frame is picture 0
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) {
        const int n = FrameNumberOf(p);
        return n >= 40 && n < 60;
    }));
    ASSERT_EQ(PlayerStopCut(h), 1);
    const std::vector<int> numbers = FrameNumbersIn(ScratchDir() + "/c/across-seek.mp4");
    ASSERT_FALSE(numbers.empty());
    // Two runs of consecutive pictures: from the key frame before the start
    // to the seek, then from the seek's key frame to the stop.
    const auto back = std::adjacent_find(numbers.begin(), numbers.end(), [](int a, int b) { return b != a + 1; });
    ASSERT_NE(back, numbers.end()) << "the part after the seek is missing";
    const std::vector<int> before(numbers.begin(), back + 1), after(back + 1, numbers.end());
    EXPECT_EQ(before.front(), 50);
    EXPECT_GE(before.back(), 80);
    EXPECT_EQ(after.front(), 0);
    EXPECT_GE(after.back(), 40);
    EXPECT_EQ(std::adjacent_find(after.begin(), after.end(), [](int a, int b) { return b != a + 1; }), after.end())
        << "more than one seek in the cut";
}

TEST_F(Output, ACutOfAnMpegTsRecordingReadAheadWholeHoldsItsPicturesAndSound) {
    NumberedClip clip = CutSource(2);
    clip.container = "ts";  // AAC in ADTS frames, as a stream is replayed
    PlayerHandle h = Open(MakeNumberedClip(clip));
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) >= 30; }));
    ASSERT_EQ(PlayerStartCut(h, "C:\\read-ahead.mp4"), 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    ASSERT_EQ(PlayerStopCut(h), 1);
    const std::string cut = ScratchDir() + "/c/read-ahead.mp4";
    EXPECT_EQ(ProbeCodecs(cut), "h264,aac");
    const std::vector<int> numbers = FrameNumbersIn(cut);
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.front(), 25) << "from the key frame before the picture shown";
    EXPECT_EQ(numbers.back(), 49) << "to the last picture, shown before the end";
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end(), [](int a, int b) { return b != a + 1; }),
              numbers.end()) << "pictures in order, none missing";
}

// A cut ended on a picture that refers to one presented after it (B
// pictures) holds it, in order with those up to that later one.
TEST_F(Output, ACutEndedOnAReorderedPictureHoldsItWithNoneMissing) {
    NumberedClip clip = CutSource(2);
    clip.video = "libx264 -qp 1 -x264-params bframes=2:b-adapt=0";  // decoding order 25 28 26 27 31 29 30...
    PlayerHandle h = Open(MakeNumberedClip(clip));
    PlayerPlay(h, window_.Handle());
    PlayerPause(h);
    ASSERT_EQ(PlayerSetPlayTime(h, 1040), 1);  // picture 26, after the key frame at 25
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) == 26; }));
    ASSERT_EQ(PlayerStartCut(h, "C:\\reordered.mp4"), 1);
    ASSERT_EQ(PlayerStopCut(h), 1);
    std::vector<int> numbers = FrameNumbersIn(ScratchDir() + "/c/reordered.mp4");
    // ffmpeg repeats the first picture over the delay that reordering puts before it.
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.front(), 25);
    EXPECT_GE(numbers.back(), 26) << "the picture on screen";
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end(), [](int a, int b) { return b != a + 1; }),
              numbers.end()) << "pictures in order, none missing: " << testing::PrintToString(numbers);
}

void Output::ExpectCutKeepsCameraSound(const std::string& encoder, const std::string& codec) {
    NumberedClip clip = CutSource(2);
    clip.audio = encoder + " -ar 8000";
    clip.container = "mov";
    PlayerHandle h = Open(MakeNumberedClip(clip));
    ASSERT_EQ(PlayerStartCut(h, ("C:\\" + codec + ".mp4").c_str()), 1);
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    ASSERT_EQ(PlayerStopCut(h), 1);
    std::string cut = ScratchDir() + "/c/" + codec + ".mp4";
    EXPECT_EQ(ProbeCodecs(cut), "h264," + codec);
    std::string decoded = Capture("ffmpeg -nostdin -v error -i '" + cut + "' -map 0:a -f s16le - 2>/dev/null | wc -c");
    EXPECT_GT(std::atol(decoded.c_str()), 8000 * 2 * 3 / 2) << "at least 1.5 s of 8 kHz sound decodes";
}

TEST_F(Output, ACutKeepsTheG711SoundOfACamera) { ExpectCutKeepsCameraSound("pcm_alaw", "pcm_alaw"); }

TEST_F(Output, ACutKeepsTheG726SoundOfACamera) { ExpectCutKeepsCameraSound("g726 -b:a 32k", "adpcm_g726"); }

TEST_F(Output, CloseFinishesARunningCut) {
    PlayerHandle h = Open(MakeNumberedClip(CutSource(3)));
    ASSERT_EQ(PlayerStartCut(h, "C:\\closed\\cut.mp4"), 1);
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) >= 60; }));
    PlayerClose(h);
    handle_ = PLAYER_NO_HANDLE;
    // From the first picture, on screen when the cut started, to at least the last one shown.
    double duration = ProbeDuration(ScratchDir() + "/c/closed/cut.mp4");
    EXPECT_GT(duration, 2.3);
    EXPECT_LT(duration, 3.05);
}

TEST_F(Output, CutFailsWhenTheFileCannotBeWritten) {
    PlayerHandle h = Open(MakeNumberedClip(CutSource(1)));
    std::string blocker = ScratchDir() + "/plain-file";
    RunShell("touch '" + blocker + "'");
    EXPECT_EQ(PlayerStartCut(h, (blocker + "/cut.mp4").c_str()), 0);
    EXPECT_EQ(PlayerStopCut(h), 0);
}

// Runs the cut helper; its exit status, or -1 when it did not exit.
int RunCutChild(const std::vector<std::string>& arguments) {
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(PLAYERSDK_CUT_CHILD)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(PLAYERSDK_CUT_CHILD, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Output, ACutThatRunsOutOfDiskFailsAndLeavesNoFile) {
    std::string source = MakeNumberedClip(CutSource(20));
    ASSERT_FALSE(source.empty());
    ASSERT_GT(FileSize(source), 150000) << "the clip must not fit the disk";
    std::string cut = ScratchDir() + "/full-disk.mp4";
    EXPECT_EQ(RunCutChild({source, cut, "100000"}), 5) << "the cut reported success";
    EXPECT_FALSE(FileExists(cut)) << "a half-written cut was left behind";
    // The same cut with room enough succeeds and stays.
    EXPECT_EQ(RunCutChild({source, cut, "100000000"}), 4);
    EXPECT_TRUE(FileExists(cut));
}

TEST_F(Output, ACutStillPlaysAfterTheProcessWasKilledMidCut) {
    std::string source = MakeNumberedClip(CutSource(20));
    ASSERT_FALSE(source.empty());
    std::string cut = ScratchDir() + "/killed.mp4";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(PLAYERSDK_CUT_CHILD, PLAYERSDK_CUT_CHILD, source.c_str(), cut.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until a few fragments are on disk, then kill without warning.
    double written = 0;
    for (int i = 0; i < 600 && written < 2.5; ++i) {
        std::this_thread::sleep_for(50ms);
        if (FileSize(cut) > 0) written = ProbeDuration(cut);
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own";
    ASSERT_GE(written, 2.5) << "the cut did not grow";
    EXPECT_GE(ProbeDuration(cut), 2.5);
    EXPECT_EQ(RunShell("ffmpeg -nostdin -v fatal -i '" + cut + "' -f null - 2>/dev/null"), 0);
}

}  // namespace
