// The shared position display and seek bar on a real dialog with the
// scripted library, as both player windows use it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "local/PositionDisplay.h"
#include "tests/fake/FakePlayer.h"
#include "ui/Dialog.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using local::HandleCheck;

TEST(FormatHms, FormatsHoursMinutesSecondsAndWrapsAtADay) {
    struct Case {
        uint32_t ms;
        const char* text;
    };
    const Case cases[] = {
        {0, "00:00:00"},           {999, "00:00:00"},        {1000, "00:00:01"},
        {59999, "00:00:59"},       {60000, "00:01:00"},      {3599999, "00:59:59"},
        {3600000, "01:00:00"},     {86399999, "23:59:59"},   {86400000, "00:00:00"},
        {90061000, "01:01:01"},    {4294967295u, "17:02:47"},
    };
    for (const Case& c : cases) EXPECT_EQ(local::FormatHms(c.ms), c.text) << c.ms << " ms";
}

// A player window's controls (template 102 carries 1003, 1004 and 1005)
// with a stream 7 open.
class SeekBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.Create();
        window.EnableItem(local::kSeekBarId, true);
        local::SetUpSeekBar(window, 120);
    }
    void TearDown() override { window.Destroy(); }

    void Scroll(int code, int control = local::kSeekBarId,
                HandleCheck check = HandleCheck::kNone, PlayerHandle handle = 7) {
        local::OnSeekBarScroll(window, code, control, handle, dragging, check);
    }

    fake::FakePlayer lib;
    ui::Dialog window{102};
    int dragging = 0;
};

TEST_F(SeekBarTest, SetUpGivesUnitStepsAndTheRangeInSeconds) {
    EXPECT_EQ(window.TrackMin(local::kSeekBarId), 0);
    EXPECT_EQ(window.TrackMax(local::kSeekBarId), 120);
    EXPECT_EQ(window.TrackLineSize(local::kSeekBarId), 1);
    EXPECT_EQ(window.TrackPageSize(local::kSeekBarId), 1);
    // A stream shorter than a second gets the range 0..0.
    local::SetUpSeekBar(window, 999 / 1000);
    EXPECT_EQ(window.TrackMax(local::kSeekBarId), 0);
    EXPECT_THAT(lib.Calls(), IsEmpty());
}

TEST_F(SeekBarTest, RefreshShowsThePlayTimeInLabelAndBar) {
    lib.Answer("PlayerGetPlayTime", 65999);
    local::RefreshPosition(window, 7, dragging);
    EXPECT_EQ(window.ItemText(local::kElapsedLabelId), "00:01:05");
    EXPECT_EQ(window.TrackPos(local::kSeekBarId), 65);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerGetPlayTime(7)", "PlayerGetTotalTime(7)"));
}

TEST_F(SeekBarTest, ATotalThatGrewWidensTheBarAndShowsInTheTotalLabel) {
    local::SetUpSeekBar(window, 4);
    lib.Answer("PlayerGetPlayTime", 3000);
    lib.Answer("PlayerGetTotalTime", 9500);
    local::RefreshPosition(window, 7, dragging);
    EXPECT_EQ(window.TrackMax(local::kSeekBarId), 9);
    EXPECT_EQ(window.ItemText(local::kTotalLabelId), "00:00:09");
}

TEST_F(SeekBarTest, WhileTheThumbIsHeldTicksLeaveLabelAndBarAlone) {
    window.SetTrackPos(local::kSeekBarId, 42);
    Scroll(ui::TB_THUMBTRACK);
    EXPECT_EQ(dragging, 1);
    EXPECT_EQ(window.ItemText(local::kElapsedLabelId), "00:00:42");  // the thumb's time

    lib.Answer("PlayerGetPlayTime", 10000);
    local::RefreshPosition(window, 7, dragging);
    local::RefreshPosition(window, 7, dragging);
    EXPECT_EQ(window.ItemText(local::kElapsedLabelId), "00:00:42");
    EXPECT_EQ(window.TrackPos(local::kSeekBarId), 42);
    EXPECT_THAT(lib.Calls(), IsEmpty());

    // Released: still the thumb's time, still held until the movement ends.
    window.SetTrackPos(local::kSeekBarId, 43);
    Scroll(ui::TB_THUMBPOSITION);
    EXPECT_EQ(dragging, 1);
    EXPECT_EQ(window.ItemText(local::kElapsedLabelId), "00:00:43");
    EXPECT_THAT(lib.Calls(), IsEmpty());
}

TEST_F(SeekBarTest, EndOfMovementSeeksByTimeOnly) {
    dragging = 1;
    window.SetTrackPos(local::kSeekBarId, 30);
    lib.Answer("PlayerSetPlayTime", 1);
    Scroll(ui::TB_ENDTRACK);
    EXPECT_EQ(dragging, 0);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(7, 30000)"));
}

TEST_F(SeekBarTest, RefusedTimeSeekFallsBackOnTheFraction) {
    dragging = 1;
    window.SetTrackPos(local::kSeekBarId, 30);
    lib.Answer("PlayerSetPlayTime", 0);
    lib.Answer("PlayerGetTotalTime", 120999);
    Scroll(ui::TB_ENDTRACK);
    EXPECT_EQ(dragging, 0);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(7, 30000)", "PlayerGetTotalTime(7)",
                                         "PlayerSetPosRatio(7, 0.25)"));
}

TEST_F(SeekBarTest, RefusedTimeSeekOnAStreamUnderASecondSeeksNoFurther) {
    local::SetUpSeekBar(window, 0);
    dragging = 1;
    lib.Answer("PlayerSetPlayTime", 0);
    lib.Answer("PlayerGetTotalTime", 999);
    Scroll(ui::TB_ENDTRACK);
    EXPECT_EQ(dragging, 0);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(7, 0)", "PlayerGetTotalTime(7)"));
}

TEST_F(SeekBarTest, StepsAndOtherControlsChangeNothing) {
    window.SetTrackPos(local::kSeekBarId, 12);
    window.SetItemText(local::kElapsedLabelId, "00:00:10");
    for (int code : {ui::TB_LINEUP, ui::TB_LINEDOWN, ui::TB_PAGEUP, ui::TB_PAGEDOWN, ui::TB_TOP,
                     ui::TB_BOTTOM})
        Scroll(code);
    for (int code : {ui::TB_THUMBTRACK, ui::TB_THUMBPOSITION, ui::TB_ENDTRACK})
        Scroll(code, /*control=*/1000);
    EXPECT_EQ(dragging, 0);
    EXPECT_EQ(window.ItemText(local::kElapsedLabelId), "00:00:10");
    EXPECT_THAT(lib.Calls(), IsEmpty());
}

TEST_F(SeekBarTest, RemoteVariantIgnoresTheBarWithoutAStream) {
    window.SetItemText(local::kElapsedLabelId, "00:00:10");
    for (int code : {ui::TB_THUMBTRACK, ui::TB_THUMBPOSITION, ui::TB_ENDTRACK})
        Scroll(code, local::kSeekBarId, HandleCheck::kSkipWithoutHandle, PLAYER_NO_HANDLE);
    EXPECT_EQ(dragging, 0);
    EXPECT_EQ(window.ItemText(local::kElapsedLabelId), "00:00:10");
    EXPECT_THAT(lib.Calls(), IsEmpty());

    // With a stream open it acts like the main window.
    window.SetTrackPos(local::kSeekBarId, 5);
    lib.Answer("PlayerSetPlayTime", 1);
    Scroll(ui::TB_THUMBTRACK, local::kSeekBarId, HandleCheck::kSkipWithoutHandle, 9);
    EXPECT_EQ(dragging, 1);
    Scroll(ui::TB_ENDTRACK, local::kSeekBarId, HandleCheck::kSkipWithoutHandle, 9);
    EXPECT_EQ(dragging, 0);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(9, 5000)"));
}

TEST_F(SeekBarTest, MainVariantPassesEvenANoneHandleOn) {
    // The main window's bar is enabled only while a file is open; the shared
    // code does not second-guess it.
    lib.Answer("PlayerSetPlayTime", 1);
    Scroll(ui::TB_ENDTRACK, local::kSeekBarId, HandleCheck::kNone, PLAYER_NO_HANDLE);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(-1, 0)"));
}

}  // namespace
