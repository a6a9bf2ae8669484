// Colours follow the matrix and range a clip is tagged with, on screen and in
// snapshots, as FFmpeg's own conversion gives them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "FakeWindow.h"
#include "Sdk.h"
#include "TestMedia.h"

using namespace playersdk_test;

namespace {

class Colour : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("PLAYERSDK_DRIVE_ROOT", ScratchDir().c_str(), 1);
        PlayerInit();
    }
};

// One flat colour, 64x48, encoded as given (FFmpeg's colour source takes
// its RGB to YUV with BT.601, whatever the file is then tagged with).
std::string FlatClip(const std::string& name, const std::string& encoding) {
    return MakeMedia(name, "-f lavfi -i color=c=0x00BF00:s=64x48:r=25:d=1 " + encoding + " -c:v libx264");
}

// B, G, R of FFmpeg's own conversion of the first picture's centre pixel.
std::string FfmpegCentre(const std::string& path) {
    const std::string bgr = Capture("ffmpeg -nostdin -v error -i '" + path +
                                    "' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    return bgr.size() == 64 * 48 * 3 ? bgr.substr((24 * 64 + 32) * 3, 3) : std::string();
}

void ExpectNear(const uint8_t* bgr, const std::string& reference, const std::string& where) {
    ASSERT_EQ(reference.size(), 3u);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(bgr[c], static_cast<uint8_t>(reference[c]), 3) << where << ", channel " << c;
}

TEST_F(Colour, ScreenAndSnapshotUseTheClipsMatrixAndRange) {
    const std::string clips[] = {
        FlatClip("bt709-limited.mp4",
                 "-vf format=yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv"),
        FlatClip("bt601-full.mp4",
                 "-vf scale=out_range=full:out_color_matrix=bt601,format=yuvj420p -colorspace bt470bg -color_range pc"),
    };
    for (const std::string& clip : clips) {
        const std::string reference = FfmpegCentre(clip);
        FakeWindow window(128, 96);  // scaled on screen, not in the snapshot
        const PlayerHandle h = PlayerOpenFile(clip.c_str(), 0);
        ASSERT_NE(h, PLAYER_NO_HANDLE) << clip;
        PlayerPlay(h, window.Handle());
        ASSERT_TRUE(window.WaitForPresents(1)) << clip;
        PlayerPause(h);
        ExpectNear(window.Last().At(64, 48), reference, clip + " on screen");
        ASSERT_EQ(PlayerSnapshot(h, "C:\\colour.bmp"), 1);
        Bitmap bitmap;
        ASSERT_TRUE(ReadBmp(ScratchDir() + "/c/colour.bmp", &bitmap));
        ExpectNear(&bitmap.bgr[(24 * 64 + 32) * 3], reference, clip + " in the snapshot");
        PlayerClose(h);
        // Shown at a quarter of its size, which averages 2x2 blocks first.
        FakeWindow small(16, 12);
        const PlayerHandle again = PlayerOpenFile(clip.c_str(), 0);
        PlayerPlay(again, small.Handle());
        ASSERT_TRUE(small.WaitForPresents(1)) << clip;
        ExpectNear(small.Last().At(8, 6), reference, clip + " on a small screen");
        PlayerClose(again);
    }
}

}  // namespace
