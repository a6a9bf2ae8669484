// Keyed timers: arming an armed id restarts it, one tick per interval.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/ui/RecordingDialog.h"
#include "ui/Testing.h"

namespace {

using namespace ui::testing;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(Timers, ArmingReturnsTheIdAndKeysTheTimer) {
    ManualTimers manual;
    RecordingDialog dialog(129);
    dialog.Create();
    EXPECT_EQ(dialog.SetTimer(13, 500), 13u);
    EXPECT_EQ(dialog.SetTimer(10, 200), 10u);
    EXPECT_EQ(dialog.SetTimer(13, 500), 13u);
    EXPECT_EQ(dialog.ArmedTimers(), (std::vector<unsigned>{10, 13}));
    dialog.KillTimer(10);
    dialog.KillTimer(11);  // not armed: nothing happens
    EXPECT_EQ(dialog.ArmedTimers(), std::vector<unsigned>{13});
    EXPECT_TRUE(dialog.IsTimerArmed(13));
    EXPECT_FALSE(dialog.IsTimerArmed(10));
    dialog.Destroy();
}

TEST(Timers, FireTimerDeliversOneTickOnlyWhenArmed) {
    ManualTimers manual;
    RecordingDialog dialog(102);
    dialog.Create();
    EXPECT_FALSE(dialog.FireTimer(1));
    EXPECT_TRUE(dialog.ticks.empty());
    dialog.SetTimer(1, 1000);
    EXPECT_TRUE(dialog.FireTimer(1));
    EXPECT_EQ(dialog.ticks, std::vector<unsigned>{1});
    dialog.KillTimer(1);
    EXPECT_FALSE(dialog.FireTimer(1));
    EXPECT_EQ(dialog.ticks, std::vector<unsigned>{1});
    dialog.Destroy();
}

TEST(Timers, ManualTimersNeverTickByThemselves) {
    ManualTimers manual;
    RecordingDialog dialog(102);
    dialog.Create();
    dialog.SetTimer(2, 1);
    const auto until = Clock::now() + milliseconds(100);
    WaitUntil([&] { return Clock::now() >= until; });
    EXPECT_TRUE(dialog.ticks.empty());
    dialog.Destroy();
}

TEST(Timers, RearmedTimerRunsOnceAtItsInterval) {
    RecordingDialog dialog(102);
    dialog.Create();
    const milliseconds interval(40);
    const auto armed = Clock::now();
    dialog.SetTimer(7, interval.count());
    dialog.SetTimer(7, interval.count());
    ASSERT_TRUE(WaitUntil([&] { return dialog.ticks.size() >= 3; }));
    // Two timers under one id would have ticked three times in two intervals.
    EXPECT_GE(Clock::now() - armed, 3 * interval);
    for (unsigned id : dialog.ticks) EXPECT_EQ(id, 7u);
    dialog.Destroy();
}

TEST(Timers, RearmingRestartsTheInterval) {
    RecordingDialog dialog(102);
    dialog.Create();
    dialog.SetTimer(12, 60000);
    dialog.SetTimer(12, 20);  // the new interval replaces the old one
    ASSERT_TRUE(WaitUntil([&] { return !dialog.ticks.empty(); }));

    dialog.ticks.clear();
    dialog.SetTimer(13, 300);
    const auto half = Clock::now() + milliseconds(150);
    WaitUntil([&] { return Clock::now() >= half || !dialog.ticks.empty(); });
    const auto rearmed = Clock::now();
    dialog.SetTimer(13, 300);
    dialog.KillTimer(12);
    dialog.ticks.clear();
    ASSERT_TRUE(WaitUntil([&] { return !dialog.ticks.empty(); }));
    EXPECT_GE(Clock::now() - rearmed, milliseconds(300));
    EXPECT_EQ(dialog.ticks.front(), 13u);
    dialog.Destroy();
}

TEST(Timers, KilledInItsOwnTickAndGoneWithTheWindow) {
    RecordingDialog dialog(102);
    dialog.Create();
    dialog.on_timer = [&](unsigned id) { dialog.KillTimer(id); };
    dialog.SetTimer(1, 5);
    ASSERT_TRUE(WaitUntil([&] { return !dialog.ticks.empty(); }));
    dialog.SetTimer(2, 5);
    dialog.on_timer = nullptr;
    dialog.Destroy();
    EXPECT_TRUE(dialog.ArmedTimers().empty());
    const auto until = Clock::now() + milliseconds(50);
    WaitUntil([&] { return Clock::now() >= until; });
    EXPECT_EQ(dialog.ticks, std::vector<unsigned>{1});
}

}  // namespace
