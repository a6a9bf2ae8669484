// The main player window on our real libPlayerSDK.so, driven as a user
// drives it: the file-open dialog answered with a clip made here, clicks on
// the real buttons, the seek bar dragged with the mouse, real window timers.
//
// In-process: the test binds the library with player::LoadLibrary exactly as
// the varnel program does at start, then constructs and shows CVarnelDlg
// itself instead of running it modally, so that it can look at the window
// between clicks. The picture area, the library's threads, the decoder and
// the files written are all the real ones. The program itself, as a process,
// is covered by ProgramsTest.
#include <gtest/gtest.h>

#include <QImage>

#include <chrono>
#include <cmath>
#include <fstream>
#include <vector>
#include <memory>
#include <string>

#include "local/PositionDisplay.h"
#include "local/VarnelDlg.h"
#include "player/Binding.h"
#include "tests/e2e/E2eSupport.h"
#include "ui/qt/Testing.h"

namespace {

using namespace std::chrono_literals;
using namespace local;
namespace t = ui::testing;
namespace fs = std::filesystem;

// The grey a picture of the clip shows in its top half for luma level
// 16 + 8 * (n % 25).
double GreyOfPicture(int n) { return (8.0 * (n % 25)) * 255.0 / 219.0; }

class LocalPlaybackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        clips_ = new e2e::Scratch;
        ASSERT_TRUE(e2e::MakeClip(ShortClip(), 3));
        ASSERT_TRUE(e2e::MakeClip(LongClip(), 8));
        ASSERT_TRUE(e2e::MakeClip(SilentClip(), 2, /*with_sound=*/false));
    }
    static void TearDownTestSuite() {
        delete clips_;
        clips_ = nullptr;
    }
    static fs::path ShortClip() { return clips_->path() / "short.mp4"; }
    static fs::path LongClip() { return clips_->path() / "long.mp4"; }
    static fs::path SilentClip() { return clips_->path() / "silent.mp4"; }

    void SetUp() override {
        ASSERT_EQ(e2e::BindRealLibrary(), "");
        scratch_ = std::make_unique<e2e::Scratch>();
        window_ = std::make_unique<CVarnelDlg>();
        window_->Create();  // initialises the library once, as the program's window does
    }
    void TearDown() override {
        if (window_) window_->Destroy();
        window_.reset();
        t::ProcessEvents();
        LocalCutFlag = 0;
        scratch_.reset();
    }

    CVarnelDlg& W() { return *window_; }

    // Chooses the file in the file-open dialog.
    void OpenThroughDialog(const fs::path& file) {
        files_.Add(file.string());
        ASSERT_TRUE(t::Click(W(), IDC_OPEN_FILE));
    }
    uint32_t PlayMs() { return player::PlayerGetPlayTime(W().Handle()); }
    QImage Shown() { return t::PresentedPicture(W(), IDC_PICTURE); }
    // Waits until the picture area has shown a picture since `since`.
    bool WaitForNewPicture(qint64 since) {
        return t::WaitUntil([&] {
            const QImage picture = Shown();
            return !picture.isNull() && picture.cacheKey() != since;
        }, 30s);
    }

    t::MessageBoxes boxes_;
    t::FileDialogScript files_;
    std::unique_ptr<e2e::Scratch> scratch_;
    std::unique_ptr<CVarnelDlg> window_;
    static e2e::Scratch* clips_;
};
e2e::Scratch* LocalPlaybackTest::clips_ = nullptr;

TEST_F(LocalPlaybackTest, OpensShowsTheTotalTimeAndPlaysToTheLastPicture) {
    EXPECT_FALSE(W().IsItemEnabled(IDC_PLAY));
    OpenThroughDialog(ShortClip());
    ASSERT_EQ(files_.Requests().size(), 1u);
    EXPECT_EQ(files_.Requests()[0].filter, "MPEG4文件|*.mp4||");
    EXPECT_EQ(W().ItemText(IDC_FILE_NAME), ShortClip().string());
    ASSERT_NE(W().Handle(), PLAYER_NO_HANDLE) << (boxes_.Texts().empty() ? "" : boxes_.Texts()[0]);
    EXPECT_EQ(W().ItemText(kTotalLabelId), "00:00:03");
    EXPECT_EQ(W().TrackMax(kSeekBarId), 3);
    EXPECT_TRUE(W().IsItemEnabled(IDC_PAUSE));
    EXPECT_TRUE(W().IsItemEnabled(IDC_AUDIO));
    EXPECT_TRUE(W().IsItemEnabled(kSeekBarId));

    // The window's own one-second timer moves the label and the bar.
    ASSERT_TRUE(t::WaitUntil([&] { return W().ItemText(kElapsedLabelId) >= "00:00:01"; }, 60s));
    EXPECT_GE(W().TrackPos(kSeekBarId), 1);

    // The end: the position display goes back to zero, the file stays open,
    // and the last picture of the clip is what the user sees.
    ASSERT_TRUE(t::WaitUntil([&] { return W().PositionTimerId() == 0; }, 60s));
    EXPECT_EQ(W().ItemText(kElapsedLabelId), "00:00:00");
    EXPECT_EQ(W().TrackPos(kSeekBarId), 0);
    EXPECT_NE(W().Handle(), PLAYER_NO_HANDLE);
    EXPECT_TRUE(W().IsItemEnabled(IDC_PLAY));
    EXPECT_NEAR(e2e::TopHalfBrightness(Shown()), GreyOfPicture(74), 4.0);
    EXPECT_TRUE(boxes_.Texts().empty());

    // Play starts it again from the beginning.
    ASSERT_TRUE(t::Click(W(), IDC_PLAY));
    EXPECT_NE(W().PositionTimerId(), 0u);
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() > 0 && PlayMs() < 2500; }, 30s));
}

TEST_F(LocalPlaybackTest, PausesStepsResumesAndSeeksWhenTheBarIsDragged) {
    OpenThroughDialog(LongClip());
    ASSERT_NE(W().Handle(), PLAYER_NO_HANDLE);
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() >= 500; }, 30s));

    ASSERT_TRUE(t::Click(W(), IDC_PAUSE));
    const uint32_t paused_at = PlayMs();
    // Held: neither the clock nor the picture moves while we keep looking.
    EXPECT_FALSE(t::WaitUntil([&] { return PlayMs() > paused_at + 100; }, 1500ms));
    const QImage held = Shown();
    ASSERT_FALSE(held.isNull());
    const double held_grey = e2e::TopHalfBrightness(held);

    // One step shows the next picture: 8 luma levels brighter (or the
    // cycle's wrap back to black).
    ASSERT_TRUE(t::Click(W(), IDC_STEP));
    ASSERT_TRUE(WaitForNewPicture(held.cacheKey()));
    const double stepped_grey = e2e::TopHalfBrightness(Shown());
    const double one_level = 8.0 * 255.0 / 219.0;
    if (held_grey < GreyOfPicture(24) - 2) EXPECT_NEAR(stepped_grey - held_grey, one_level, 3.0);
    else EXPECT_NEAR(stepped_grey, 0.0, 3.0);
    EXPECT_NEAR(double(PlayMs()), double(paused_at) + 40.0, 45.0);
    const uint32_t stepped_at = PlayMs();
    EXPECT_FALSE(t::WaitUntil([&] { return PlayMs() > stepped_at + 100; }, 1000ms));

    // Play resumes from where it was held.
    ASSERT_TRUE(t::Click(W(), IDC_PLAY));
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() > stepped_at + 300; }, 30s));
    EXPECT_LT(PlayMs(), stepped_at + 5000);

    // Dragging the thumb to 6 s: the label follows the thumb while it is
    // held, and letting go seeks there.
    ASSERT_TRUE(t::DragSeekBar(W(), kSeekBarId, 6));
    EXPECT_EQ(W().SeekDragging(), 0);
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() >= 5900; }, 30s));
    EXPECT_LT(PlayMs(), 8000u);
    ASSERT_TRUE(t::WaitUntil([&] { return W().ItemText(kElapsedLabelId) >= "00:00:06"; }, 30s));
    EXPECT_GE(W().TrackPos(kSeekBarId), 6);

    // Dragging back to the start plays the beginning again.
    ASSERT_TRUE(t::DragSeekBar(W(), kSeekBarId, 0));
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() < 3000; }, 30s));
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(LocalPlaybackTest, TheSoundSwitchFollowsTheClipsSoundTrack) {
    OpenThroughDialog(SilentClip());
    ASSERT_NE(W().Handle(), PLAYER_NO_HANDLE);
    EXPECT_FALSE(W().IsItemEnabled(IDC_AUDIO)) << "a clip without sound offers no sound switch";

    OpenThroughDialog(LongClip());
    ASSERT_NE(W().Handle(), PLAYER_NO_HANDLE);
    ASSERT_TRUE(W().IsItemEnabled(IDC_AUDIO));
    EXPECT_FALSE(W().IsChecked(IDC_AUDIO));
    ASSERT_TRUE(t::Click(W(), IDC_AUDIO));
    EXPECT_TRUE(W().IsChecked(IDC_AUDIO));
    // Sound on and off again while the clip goes on playing.
    const uint32_t sound_on_at = PlayMs();
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() > sound_on_at + 500; }, 30s));
    ASSERT_TRUE(t::Click(W(), IDC_AUDIO));
    EXPECT_FALSE(W().IsChecked(IDC_AUDIO));
    const uint32_t sound_off_at = PlayMs();
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() > sound_off_at + 500; }, 30s));
    // Stop leaves the switch off and disabled.
    ASSERT_TRUE(t::Click(W(), IDC_AUDIO));
    ASSERT_TRUE(t::Click(W(), IDC_STOP));
    EXPECT_FALSE(W().IsChecked(IDC_AUDIO));
    EXPECT_FALSE(W().IsItemEnabled(IDC_AUDIO));
    EXPECT_EQ(W().Handle(), PLAYER_NO_HANDLE);
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(LocalPlaybackTest, TheSnapshotIsThePictureOnTheScreenAtTheVideosSize) {
    OpenThroughDialog(LongClip());
    ASSERT_NE(W().Handle(), PLAYER_NO_HANDLE);
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() >= 1200; }, 30s));
    ASSERT_TRUE(t::Click(W(), IDC_PAUSE));
    // Let the held picture settle on the screen.
    const uint32_t held_at = PlayMs();
    EXPECT_FALSE(t::WaitUntil([&] { return PlayMs() > held_at + 100; }, 500ms));
    const QImage on_screen = Shown();
    ASSERT_FALSE(on_screen.isNull());

    ASSERT_TRUE(t::Click(W(), IDC_SNAPSHOT));
    const fs::path bmp = scratch_->DrivePath(kSnapshotPath);
    ASSERT_TRUE(t::WaitUntil([&] { return fs::exists(bmp); }, 30s)) << bmp;
    const QImage snapshot(QString::fromStdString(bmp.string()), "BMP");
    ASSERT_FALSE(snapshot.isNull()) << "the BMP does not decode";
    EXPECT_EQ(snapshot.width(), 320);
    EXPECT_EQ(snapshot.height(), 240);
    // The same picture: same frame (its brightness), same bars below.
    EXPECT_LT(e2e::DifferenceFromShown(on_screen, snapshot), 12.0);
    EXPECT_NEAR(e2e::TopHalfBrightness(snapshot), e2e::TopHalfBrightness(on_screen), 4.0);

    // A picture a few frames on is told apart by the same measure.
    for (int i = 0; i < 5; ++i) {
        const qint64 before = Shown().cacheKey();
        ASSERT_TRUE(t::Click(W(), IDC_STEP));
        ASSERT_TRUE(WaitForNewPicture(before));
    }
    EXPECT_GT(std::abs(e2e::TopHalfBrightness(Shown()) - e2e::TopHalfBrightness(snapshot)), 20.0);
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(LocalPlaybackTest, CutWritesAnMp4OfAboutTheLengthPlayedMeanwhile) {
    OpenThroughDialog(LongClip());
    ASSERT_NE(W().Handle(), PLAYER_NO_HANDLE);
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() >= 500; }, 30s));

    ASSERT_TRUE(t::Click(W(), IDC_CUT));
    ASSERT_TRUE(boxes_.Texts().empty()) << boxes_.Texts()[0];
    EXPECT_TRUE(W().IsChecked(IDC_CUT));
    EXPECT_EQ(LocalCutFlag, 1);
    const uint32_t cut_from = PlayMs();
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() >= cut_from + 3000; }, 60s));
    ASSERT_TRUE(t::Click(W(), IDC_CUT));
    const uint32_t cut_to = PlayMs();
    EXPECT_FALSE(W().IsChecked(IDC_CUT));
    EXPECT_EQ(LocalCutFlag, 0);

    const fs::path cut = scratch_->DrivePath(kCutPath);
    ASSERT_TRUE(t::WaitUntil([&] { return e2e::ProbeDuration(cut) > 0; }, 30s)) << cut;
    const double played = (cut_to - cut_from) / 1000.0;
    // The copy starts on a key frame (one a second in this clip).
    EXPECT_NEAR(e2e::ProbeDuration(cut), played, 1.2);
    EXPECT_TRUE(e2e::DecodesCleanly(cut));
    EXPECT_EQ(e2e::ProbeVideoSize(cut), "320x240");
}

TEST_F(LocalPlaybackTest, ACorruptFileIsRefusedAndTheWindowStaysUsable) {
    const fs::path corrupt = scratch_->path() / "corrupt.mp4";
    {
        // The head of a real clip with its tail cut off, then noise.
        std::string bytes = e2e::ReadWholeFile(LongClip()).substr(0, 600);
        for (int i = 0; i < 4000; ++i) bytes.push_back(static_cast<char>((i * 7919) % 251));
        std::ofstream(corrupt, std::ios::binary) << bytes;
    }
    const auto idle_state = [&] {
        return std::vector<bool>{W().IsItemEnabled(IDC_PLAY), W().IsItemEnabled(IDC_PAUSE),
                                 W().IsItemEnabled(IDC_AUDIO), W().IsItemEnabled(kSeekBarId),
                                 W().IsItemEnabled(IDC_OPEN_FILE)};
    };
    const std::vector<bool> before = idle_state();

    OpenThroughDialog(corrupt);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{kOpenFailedText});
    EXPECT_EQ(W().Handle(), PLAYER_NO_HANDLE);
    EXPECT_EQ(idle_state(), before);
    EXPECT_EQ(W().ItemText(kElapsedLabelId), "00:00:00");

    // The window goes on working: a good file plays after the bad one.
    boxes_.Clear();
    OpenThroughDialog(ShortClip());
    ASSERT_NE(W().Handle(), PLAYER_NO_HANDLE);
    EXPECT_EQ(W().ItemText(kTotalLabelId), "00:00:03");
    ASSERT_TRUE(t::WaitUntil([&] { return PlayMs() > 300; }, 30s));

    // A bad file chosen while one plays: the message, and the window idle.
    OpenThroughDialog(corrupt);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{kOpenFailedText});
    EXPECT_EQ(W().Handle(), PLAYER_NO_HANDLE);
    EXPECT_EQ(idle_state(), before);
    EXPECT_EQ(W().PositionTimerId(), 0u);
}

}  // namespace
