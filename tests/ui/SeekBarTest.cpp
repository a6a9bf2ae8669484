// The seek bar's movements arrive as the trackbar codes, each after the
// position has changed.
#include <gtest/gtest.h>

#include "tests/ui/RecordingDialog.h"
#include "ui/Testing.h"

namespace {

using namespace ui::testing;

std::vector<int> Codes(const std::vector<Scroll>& scrolls) {
    std::vector<int> codes;
    for (const Scroll& scroll : scrolls) codes.push_back(scroll.code);
    return codes;
}

class SeekBar : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.Create();
        dialog.EnableItem(1003, true);
        dialog.SetTrackLineSize(1003, 1);
        dialog.SetTrackPageSize(1003, 1);
        dialog.SetTrackRange(1003, 0, 100, false);
        dialog.SetTrackPos(1003, 10);
    }
    void TearDown() override { dialog.Destroy(); }
    RecordingDialog dialog{102};
};

TEST_F(SeekBar, DragGivesThumbTrackThenPositionThenEndTrack) {
    ASSERT_TRUE(DragSeekBar(dialog, 1003, 42));
    const std::vector<int> codes = Codes(dialog.scrolls);
    ASSERT_GE(codes.size(), 3u);
    for (std::size_t i = 0; i + 2 < codes.size(); ++i) EXPECT_EQ(codes[i], ui::TB_THUMBTRACK) << i;
    EXPECT_EQ(codes[codes.size() - 2], ui::TB_THUMBPOSITION);
    EXPECT_EQ(codes.back(), ui::TB_ENDTRACK);
    EXPECT_EQ(dialog.scrolls.back().position, 42);
    EXPECT_EQ(dialog.scrolls[dialog.scrolls.size() - 2].position, 42);
    for (const Scroll& scroll : dialog.scrolls) EXPECT_EQ(scroll.control_id, 1003);
    EXPECT_EQ(dialog.TrackPos(1003), 42);
}

TEST_F(SeekBar, DragBackwardsToTheStart) {
    ASSERT_TRUE(DragSeekBar(dialog, 1003, 0));
    EXPECT_EQ(dialog.TrackPos(1003), 0);
    EXPECT_EQ(Codes(dialog.scrolls).back(), ui::TB_ENDTRACK);
}

TEST_F(SeekBar, PageStepsGiveTheirCodeAfterTheMoveThenEndTrack) {
    ASSERT_TRUE(StepSeekBar(dialog, 1003, Key::PageDown));
    EXPECT_EQ(dialog.scrolls, (std::vector<Scroll>{{ui::TB_PAGEDOWN, 1003, 11}, {ui::TB_ENDTRACK, 1003, 11}}));
    dialog.scrolls.clear();
    ASSERT_TRUE(StepSeekBar(dialog, 1003, Key::PageUp));
    EXPECT_EQ(dialog.scrolls, (std::vector<Scroll>{{ui::TB_PAGEUP, 1003, 10}, {ui::TB_ENDTRACK, 1003, 10}}));
}

TEST_F(SeekBar, KeysGiveLineTopAndBottomCodes) {
    const struct {
        Key key;
        int code;
        int position;
    } steps[] = {
        {Key::Right, ui::TB_LINEDOWN, 11}, {Key::Down, ui::TB_LINEDOWN, 12}, {Key::Left, ui::TB_LINEUP, 11},
        {Key::Up, ui::TB_LINEUP, 10},      {Key::End, ui::TB_BOTTOM, 100},   {Key::Home, ui::TB_TOP, 0},
    };
    for (const auto& step : steps) {
        dialog.scrolls.clear();
        ASSERT_TRUE(StepSeekBar(dialog, 1003, step.key));
        EXPECT_EQ(dialog.scrolls, (std::vector<Scroll>{{step.code, 1003, step.position},
                                                       {ui::TB_ENDTRACK, 1003, step.position}}));
    }
}

TEST_F(SeekBar, StepAtTheEndStillReportsTheMovement) {
    dialog.SetTrackPos(1003, 100);
    ASSERT_TRUE(StepSeekBar(dialog, 1003, Key::Right));
    EXPECT_EQ(Codes(dialog.scrolls), (std::vector<int>{ui::TB_LINEDOWN, ui::TB_ENDTRACK}));
    EXPECT_EQ(dialog.TrackPos(1003), 100);
}

TEST_F(SeekBar, ClickBesideTheThumbIsAPageStepEndedOnRelease) {
    ASSERT_TRUE(ClickSeekBarGroove(dialog, 1003, true));
    ASSERT_EQ(Codes(dialog.scrolls), (std::vector<int>{ui::TB_PAGEDOWN, ui::TB_ENDTRACK}));
    EXPECT_EQ(dialog.scrolls.front().position, 11);
    dialog.scrolls.clear();
    ASSERT_TRUE(ClickSeekBarGroove(dialog, 1003, false));
    EXPECT_EQ(Codes(dialog.scrolls), (std::vector<int>{ui::TB_PAGEUP, ui::TB_ENDTRACK}));
}

TEST_F(SeekBar, AnEmptyRangeStillTakesTheThumb) {
    dialog.SetTrackRange(1003, 0, 0, false);  // a stream shorter than a second
    ASSERT_TRUE(DragSeekBar(dialog, 1003, 0));
    EXPECT_EQ(dialog.scrolls, (std::vector<Scroll>{{ui::TB_THUMBTRACK, 1003, 0},
                                                   {ui::TB_THUMBPOSITION, 1003, 0},
                                                   {ui::TB_ENDTRACK, 1003, 0}}));
}

TEST_F(SeekBar, DisabledBarTakesNoMovement) {
    dialog.EnableItem(1003, false);
    EXPECT_FALSE(DragSeekBar(dialog, 1003, 50));
    EXPECT_FALSE(StepSeekBar(dialog, 1003, Key::PageDown));
    EXPECT_TRUE(dialog.scrolls.empty());
    EXPECT_EQ(dialog.TrackPos(1003), 10);
}

TEST_F(SeekBar, WholeRangeOfALongStreamIsReachable) {
    dialog.SetTrackRange(1003, 0, 7199, false);  // two hours, more values than pixels
    ASSERT_TRUE(DragSeekBar(dialog, 1003, 3601));
    EXPECT_EQ(dialog.TrackPos(1003), 3601);
    EXPECT_EQ(dialog.scrolls.back().position, 3601);
}

}  // namespace
