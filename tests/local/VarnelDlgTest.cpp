// The main player window driven like a user would, against the scripted
// library: clicks, timer ticks, library messages, file-dialog answers and
// message boxes; checks controls and the exact calls in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "local/PositionDisplay.h"
#include "local/VarnelDlg.h"
#include "res/Templates.h"
#include "tests/fake/FakePlayer.h"
#include "ui/Dialog.h"
#include "ui/Testing.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace local;

constexpr int kTransport[] = {IDC_PLAY, IDC_STOP, IDC_PAUSE, IDC_STEP, IDC_FAST, IDC_SLOW};

// Everything a user can see of the window's controls, for "nothing changed".
struct ControlState {
    bool visible, enabled, checked;
    std::string text;
    int track_min, track_max, track_pos;
    bool operator==(const ControlState&) const = default;
};
struct WindowState {
    std::map<int, ControlState> controls;
    std::vector<unsigned> timers;
    bool operator==(const WindowState&) const = default;
};

WindowState Capture(const CVarnelDlg& window) {
    WindowState state;
    for (const res::ControlTemplate& control : res::DialogById(kMainTemplateId).controls) {
        if (control.id == res::kNoId) continue;
        const bool toggle = control.kind == res::ControlKind::PushToggle;
        const bool bar = control.kind == res::ControlKind::Trackbar;
        const bool texted = control.kind != res::ControlKind::Picture && !bar;
        state.controls[control.id] = {
            window.IsItemVisible(control.id),
            window.IsItemEnabled(control.id),
            toggle && window.IsChecked(control.id),
            texted ? window.ItemText(control.id) : "",
            bar ? window.TrackMin(control.id) : 0,
            bar ? window.TrackMax(control.id) : 0,
            bar ? window.TrackPos(control.id) : 0,
        };
    }
    state.timers = window.ArmedTimers();
    return state;
}

using ui::testing::PostToWindow;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The shell's buffer of the file named on the command line: empty.
        SetApplicationShell({command_line, {}, {}});
        LocalCutFlag = 0;
        lib.Answer("PlayerGetTotalTime", 61000);
        lib.Answer("PlayerHasAudio", 1);
    }
    void TearDown() override {
        if (window.IsCreated()) window.Destroy();
        LocalCutFlag = 0;
        SetApplicationShell({});
    }

    void Create() {
        window.Create();
        lib.ClearCalls();
    }
    void Click(int id) { ASSERT_TRUE(ui::testing::Click(window, id)) << id; }
    // Opens a file through the dialog; the library answers handle.
    void OpenThroughDialog(const std::string& path, PlayerHandle handle) {
        files.Add(path);
        lib.AnswerOnce("PlayerOpenFile", handle);
        Click(IDC_OPEN_FILE);
    }
    void ExpectNoStream() {
        for (int id : kTransport) EXPECT_FALSE(window.IsItemEnabled(id)) << id;
        EXPECT_FALSE(window.IsItemEnabled(IDC_AUDIO));
        EXPECT_FALSE(window.IsItemEnabled(kSeekBarId));
        EXPECT_EQ(window.Handle(), PLAYER_NO_HANDLE);
    }
    const std::vector<std::string>& Messages() const { return boxes.Texts(); }

    char command_line[260] = {};
    fake::FakePlayer lib;
    ui::testing::ManualTimers manual_timers;
    ui::testing::MessageBoxes boxes;
    ui::testing::FileDialogScript files;
    CVarnelDlg window;
};

TEST_F(MainWindowTest, StartsWithNoStreamAndTheFrameSetUp) {
    window.Create();
    EXPECT_EQ(window.Title(), "播放器测试");
    ExpectNoStream();
    EXPECT_FALSE(window.IsChecked(IDC_AUDIO));
    for (int id : {IDC_OPEN_FILE, IDC_SNAPSHOT, IDC_CUT}) EXPECT_TRUE(window.IsItemEnabled(id)) << id;
    EXPECT_FALSE(window.IsItemVisible(IDC_REMOTE));
    EXPECT_FALSE(window.IsItemEnabled(IDC_REMOTE));
    int remote_runs = 0;
    SetApplicationShell({command_line, {}, [&remote_runs] { ++remote_runs; }});
    EXPECT_FALSE(ui::testing::Click(window, IDC_REMOTE));  // no user can reach it
    EXPECT_EQ(remote_runs, 0);
    EXPECT_THAT(window.ArmedTimers(), IsEmpty());  // no file named: no command-line open
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerInit()"));
    EXPECT_THAT(window.SystemMenuItems(), ElementsAre("", "关于 Varnel(&A)..."));
    EXPECT_EQ(window.IconId(true), 128);
    EXPECT_EQ(window.IconId(false), 128);
    EXPECT_EQ(window.OnQueryDragIcon(), 128);
    EXPECT_EQ(window.FocusedItem(), IDC_OPEN_FILE);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(MainWindowTest, ANamedFileArmsTheCommandLineOpen) {
    std::strcpy(command_line, "/media/a b.mp4");
    window.Create();
    EXPECT_THAT(window.ArmedTimers(), ElementsAre(2u));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerInit()"));  // nothing opened before the tick
}

TEST_F(MainWindowTest, OpenFileAsksTheDialogThenOpensAndPlays) {
    Create();
    lib.Answer("PlayerGetPlayTime", 2500);
    OpenThroughDialog("/media/a.mp4", 7);

    ASSERT_EQ(files.Requests().size(), 1u);
    const ui::FileDialogRequest& request = files.Requests()[0];
    EXPECT_EQ(request.filter, "MPEG4文件|*.mp4||");
    EXPECT_EQ(request.default_extension, "*.*");
    EXPECT_EQ(request.initial_name, "");
    EXPECT_EQ(request.flags, 6u);

    EXPECT_THAT(lib.Calls(),
                ElementsAre("PlayerOpenFile(\"/media/a.mp4\", 0)",
                            "PlayerSetNotifyWindow(7, hwnd(102), 1224)", "PlayerGetTotalTime(7)",
                            "PlayerGetTotalTime(7)", "PlayerPlay(7, hwnd(102:1000))",
                            "PlayerHasAudio(7)", "PlayerGetPlayTime(7)"));
    EXPECT_EQ(window.ItemText(IDC_FILE_NAME), "/media/a.mp4");
    EXPECT_EQ(window.ItemText(kTotalLabelId), "00:01:01");
    EXPECT_EQ(window.ItemText(kElapsedLabelId), "00:00:00");
    for (int id : kTransport) EXPECT_TRUE(window.IsItemEnabled(id)) << id;
    EXPECT_TRUE(window.IsItemEnabled(IDC_AUDIO));
    EXPECT_TRUE(window.IsItemEnabled(kSeekBarId));
    EXPECT_EQ(window.TrackMax(kSeekBarId), 61);
    EXPECT_EQ(window.TrackLineSize(kSeekBarId), 1);
    EXPECT_EQ(window.TrackPageSize(kSeekBarId), 1);
    EXPECT_EQ(window.TrackPos(kSeekBarId), 2);
    EXPECT_THAT(window.ArmedTimers(), ElementsAre(TIMER_POSITION));
    EXPECT_EQ(ui::testing::TimerInterval(window, TIMER_POSITION), 1000u);
    EXPECT_EQ(window.PositionTimerId(), TIMER_POSITION);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(MainWindowTest, OnlyMinusOneFromTheOpenIsAFailure) {
    Create();
    for (PlayerHandle handle : {0, -2}) {
        OpenThroughDialog("/media/a.mp4", handle);
        EXPECT_EQ(window.Handle(), handle);
        EXPECT_TRUE(window.IsItemEnabled(IDC_STOP)) << handle;
        EXPECT_EQ(lib.CallsNamed("PlayerPlay").back(),
                  "PlayerPlay(" + std::to_string(handle) + ", hwnd(102:1000))");
    }
    EXPECT_TRUE(Messages().empty());
    lib.ClearCalls();
    Click(IDC_STOP);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerClose(-2)"));
}

TEST_F(MainWindowTest, AStreamWithoutSoundLeavesAudioDisabled) {
    Create();
    lib.Answer("PlayerHasAudio", 0);
    OpenThroughDialog("/media/silent.mp4", 7);
    EXPECT_FALSE(window.IsItemEnabled(IDC_AUDIO));
    EXPECT_TRUE(window.IsItemEnabled(IDC_PLAY));
}

TEST_F(MainWindowTest, FailedOpenKeepsTheNameAndThePreviousTotal) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.Answer("PlayerGetTotalTime", 5000);  // would show if the failed open asked for it

    OpenThroughDialog("/media/broken.mp4", PLAYER_NO_HANDLE);
    EXPECT_THAT(Messages(), ElementsAre("open file failed!\n"));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerClose(7)", "PlayerOpenFile(\"/media/broken.mp4\", 0)"));
    EXPECT_EQ(window.ItemText(IDC_FILE_NAME), "/media/broken.mp4");
    EXPECT_EQ(window.ItemText(kTotalLabelId), "00:01:01");
    ExpectNoStream();
    EXPECT_THAT(window.ArmedTimers(), IsEmpty());
}

TEST_F(MainWindowTest, CancelledDialogLeavesAPlayingStreamAlone) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    const WindowState before = Capture(window);
    lib.ClearCalls();

    files.Add(std::nullopt);
    Click(IDC_OPEN_FILE);
    EXPECT_EQ(files.Requests().size(), 2u);
    EXPECT_THAT(lib.Calls(), IsEmpty());
    EXPECT_EQ(Capture(window), before);
    EXPECT_EQ(window.Handle(), 7);
}

TEST_F(MainWindowTest, OpenFileCutsALongPathTo259BytesOfTheLibrarysText) {
    Create();
    std::string path = "/";
    for (int i = 0; i < 100; ++i) path += "测";  // 300 bytes in UTF-8, 200 in GBK
    OpenThroughDialog(path, 7);
    EXPECT_EQ(lib.CallsNamed("PlayerOpenFile")[0],
              "PlayerOpenFile(\"" + player::LibraryText(path).substr(0, 259) + "\", 0)");
}

TEST_F(MainWindowTest, CommandLineOpenPlaysOnceAndIsNotShown) {
    std::strcpy(command_line, "/media/cmd.mp4");
    Create();
    lib.AnswerOnce("PlayerOpenFile", 7);
    ASSERT_TRUE(window.FireTimer(2));
    EXPECT_THAT(lib.Calls(),
                ElementsAre("PlayerOpenFile(\"/media/cmd.mp4\", 0)",
                            "PlayerSetNotifyWindow(7, hwnd(102), 1224)", "PlayerGetTotalTime(7)",
                            "PlayerGetTotalTime(7)", "PlayerPlay(7, hwnd(102:1000))",
                            "PlayerHasAudio(7)", "PlayerGetPlayTime(7)"));
    EXPECT_EQ(window.ItemText(IDC_FILE_NAME), "");
    EXPECT_EQ(window.ItemText(kTotalLabelId), "00:01:01");
    EXPECT_THAT(window.ArmedTimers(), ElementsAre(TIMER_POSITION));
    EXPECT_FALSE(window.FireTimer(2));  // killed: it never comes again
    EXPECT_TRUE(Messages().empty());
}

TEST_F(MainWindowTest, FailedCommandLineOpenLeavesTheWindowAsAtStart) {
    std::strcpy(command_line, "/media/missing.mp4");
    Create();
    WindowState at_start = Capture(window);
    at_start.timers.clear();  // only the command-line timer itself goes
    lib.Answer("PlayerOpenFile", PLAYER_NO_HANDLE);

    ASSERT_TRUE(window.FireTimer(2));
    EXPECT_THAT(Messages(), ElementsAre("open file failed!\n"));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerOpenFile(\"/media/missing.mp4\", 0)"));
    EXPECT_EQ(Capture(window), at_start);
    ExpectNoStream();
    EXPECT_FALSE(window.FireTimer(2));  // no retry
}

TEST_F(MainWindowTest, CommandLineOpenClosesAFileOpenedMeanwhile) {
    std::strcpy(command_line, "/media/cmd.mp4");
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.AnswerOnce("PlayerOpenFile", 8);
    ASSERT_TRUE(window.FireTimer(2));
    const std::vector<std::string> calls = lib.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "PlayerClose(7)");
    EXPECT_EQ(calls[1], "PlayerOpenFile(\"/media/cmd.mp4\", 0)");
    EXPECT_EQ(window.Handle(), 8);
}

TEST_F(MainWindowTest, StopClosesTheStreamAndResetsTheControls) {
    Create();
    lib.Answer("PlayerGetPlayTime", 33000);
    OpenThroughDialog("/media/a.mp4", 7);
    Click(IDC_AUDIO);
    ASSERT_TRUE(window.IsChecked(IDC_AUDIO));
    window.FireTimer(TIMER_POSITION);
    ASSERT_EQ(window.ItemText(kElapsedLabelId), "00:00:33");
    lib.ClearCalls();

    Click(IDC_STOP);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerClose(7)"));
    ExpectNoStream();
    EXPECT_FALSE(window.IsChecked(IDC_AUDIO));
    EXPECT_EQ(window.TrackPos(kSeekBarId), 0);
    EXPECT_EQ(window.ItemText(kElapsedLabelId), "00:00:00");
    EXPECT_EQ(window.ItemText(kTotalLabelId), "00:01:01");  // kept
    EXPECT_EQ(window.ItemText(IDC_FILE_NAME), "/media/a.mp4");  // kept
    EXPECT_THAT(window.ArmedTimers(), IsEmpty());
}

TEST_F(MainWindowTest, PlayTwiceLeavesOnePositionTimer) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    Click(IDC_PLAY);
    Click(IDC_PLAY);
    EXPECT_THAT(window.ArmedTimers(), ElementsAre(TIMER_POSITION));
    EXPECT_EQ(lib.CountOf("PlayerPlay"), 2u);
    EXPECT_THAT(lib.CallsNamed("PlayerPlay"), ElementsAre("PlayerPlay(7, hwnd(102:1000))",
                                                          "PlayerPlay(7, hwnd(102:1000))"));
}

TEST_F(MainWindowTest, PositionTickFollowsThePlayTime) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.Answer("PlayerGetPlayTime", 59999);
    ASSERT_TRUE(window.FireTimer(TIMER_POSITION));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerGetPlayTime(7)", "PlayerGetTotalTime(7)"));
    EXPECT_EQ(window.ItemText(kElapsedLabelId), "00:00:59");
    EXPECT_EQ(window.TrackPos(kSeekBarId), 59);
}

TEST_F(MainWindowTest, HeldThumbFreezesTicksAndReleaseSeeks) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.Answer("PlayerGetPlayTime", 5000);
    lib.Answer("PlayerSetPlayTime", 0);  // refused: the fraction seek follows

    ASSERT_TRUE(ui::testing::HoldSeekBarThumb(window, kSeekBarId, 20));
    EXPECT_EQ(window.SeekDragging(), 1);
    EXPECT_EQ(window.ItemText(kElapsedLabelId), "00:00:20");
    window.FireTimer(TIMER_POSITION);
    window.FireTimer(TIMER_POSITION);
    EXPECT_EQ(window.ItemText(kElapsedLabelId), "00:00:20");
    EXPECT_EQ(window.TrackPos(kSeekBarId), 20);
    EXPECT_EQ(lib.CountOf("PlayerGetPlayTime"), 0u);

    ASSERT_TRUE(ui::testing::ReleaseSeekBarThumb(window, kSeekBarId));
    EXPECT_EQ(window.SeekDragging(), 0);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(7, 20000)", "PlayerGetTotalTime(7)",
                                         "PlayerSetPosRatio(7, 0.327869)"));
    window.FireTimer(TIMER_POSITION);
    EXPECT_EQ(window.ItemText(kElapsedLabelId), "00:00:05");
}

TEST_F(MainWindowTest, DraggingTheThumbSeeksOnceWhenLetGo) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.Answer("PlayerSetPlayTime", 1);
    ASSERT_TRUE(ui::testing::DragSeekBar(window, kSeekBarId, 30));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(7, 30000)"));
    EXPECT_EQ(window.SeekDragging(), 0);
    EXPECT_EQ(window.ItemText(kElapsedLabelId), "00:00:30");
}

TEST_F(MainWindowTest, AClickOnTheBarOfAStreamUnderASecondSeeksToItsStart) {
    lib.Answer("PlayerGetTotalTime", 999);
    Create();
    OpenThroughDialog("/media/short.mp4", 7);
    lib.ClearCalls();
    lib.Answer("PlayerSetPlayTime", 0);  // refused: with a total of 0 s nothing follows
    ASSERT_TRUE(ui::testing::DragSeekBar(window, kSeekBarId, 0));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(7, 0)", "PlayerGetTotalTime(7)"));
    EXPECT_EQ(window.SeekDragging(), 0);
}

TEST_F(MainWindowTest, AKeyStepOnTheBarSeeksToTheNewPosition) {
    Create();
    lib.Answer("PlayerGetPlayTime", 10000);
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.Answer("PlayerSetPlayTime", 1);
    ASSERT_TRUE(ui::testing::StepSeekBar(window, kSeekBarId, ui::testing::Key::Right));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(7, 11000)"));
    EXPECT_EQ(window.SeekDragging(), 0);
}

TEST_F(MainWindowTest, HomePressedTwiceAtTheStartSeeksTwice) {
    Create();
    lib.Answer("PlayerGetPlayTime", 0);
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.Answer("PlayerSetPlayTime", 1);
    ASSERT_TRUE(ui::testing::StepSeekBar(window, kSeekBarId, ui::testing::Key::Home));
    ASSERT_TRUE(ui::testing::StepSeekBar(window, kSeekBarId, ui::testing::Key::Home));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSetPlayTime(7, 0)", "PlayerSetPlayTime(7, 0)"));
}

TEST_F(MainWindowTest, EndOfStreamResetsThePositionButKeepsTheStream) {
    Create();
    lib.Answer("PlayerGetPlayTime", 40000);
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();

    PostToWindow(window, WM_PLAYER_NOTIFY, PLAYER_EVENT_END, 7);
    EXPECT_THAT(lib.Calls(), IsEmpty());
    EXPECT_EQ(window.Handle(), 7);
    EXPECT_THAT(window.ArmedTimers(), IsEmpty());
    EXPECT_EQ(window.TrackPos(kSeekBarId), 0);
    EXPECT_EQ(window.ItemText(kElapsedLabelId), "00:00:00");
    EXPECT_EQ(window.ItemText(kTotalLabelId), "00:01:01");
    for (int id : kTransport) EXPECT_TRUE(window.IsItemEnabled(id)) << id;
    EXPECT_TRUE(window.IsItemEnabled(IDC_AUDIO));
    EXPECT_TRUE(window.IsItemEnabled(kSeekBarId));

    // Play starts it again.
    Click(IDC_PLAY);
    EXPECT_THAT(lib.CallsNamed("PlayerPlay"), ElementsAre("PlayerPlay(7, hwnd(102:1000))"));
    EXPECT_THAT(window.ArmedTimers(), ElementsAre(TIMER_POSITION));
    EXPECT_EQ(window.TrackPos(kSeekBarId), 40);
}

TEST_F(MainWindowTest, OtherEventsAndOtherHandlesChangeNothing) {
    Create();
    lib.Answer("PlayerGetPlayTime", 40000);
    OpenThroughDialog("/media/a.mp4", 7);
    const WindowState before = Capture(window);
    lib.ClearCalls();

    PostToWindow(window, WM_PLAYER_NOTIFY, PLAYER_EVENT_STARTED, 7);
    PostToWindow(window, WM_PLAYER_NOTIFY, PLAYER_EVENT_BUFFERING, 7);
    PostToWindow(window, WM_PLAYER_NOTIFY, 4, 7);
    PostToWindow(window, WM_PLAYER_NOTIFY, PLAYER_EVENT_END, 6);  // a stream closed before
    // A handle in the upper half of a 64-bit parameter is not handle 7.
    if (sizeof(intptr_t) > 4)
        PostToWindow(window, WM_PLAYER_NOTIFY, PLAYER_EVENT_END, static_cast<intptr_t>(int64_t{7} + (int64_t{1} << 32)));
    EXPECT_THAT(lib.Calls(), IsEmpty());
    EXPECT_EQ(Capture(window), before);
}

TEST_F(MainWindowTest, TransportButtonsPassTheHandle) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    for (int id : {IDC_PAUSE, IDC_STEP, IDC_FAST, IDC_SLOW}) Click(id);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerPause(7)", "PlayerStepFrame(7)", "PlayerFast(7)",
                                         "PlayerSlow(7)"));
}

TEST_F(MainWindowTest, SoundSwitchFollowsTheBox) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    Click(IDC_AUDIO);
    Click(IDC_AUDIO);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSoundOn(7)", "PlayerSoundOff(7)"));
    EXPECT_FALSE(window.IsChecked(IDC_AUDIO));
}

TEST_F(MainWindowTest, PlayLeavesTheAudioBoxAsItIsAndStopUnchecksIt) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    Click(IDC_AUDIO);
    lib.ClearCalls();
    Click(IDC_PLAY);
    EXPECT_TRUE(window.IsChecked(IDC_AUDIO));
    EXPECT_EQ(lib.CountOf("PlayerSoundOn") + lib.CountOf("PlayerSoundOff"), 0u);
    Click(IDC_STOP);
    EXPECT_FALSE(window.IsChecked(IDC_AUDIO));
    OpenThroughDialog("/media/b.mp4", 8);
    EXPECT_FALSE(window.IsChecked(IDC_AUDIO));
    EXPECT_EQ(lib.CountOf("PlayerSoundOn") + lib.CountOf("PlayerSoundOff"), 0u);
}

TEST_F(MainWindowTest, SnapshotWithoutAStreamPassesNoneAndShowsNothing) {
    Create();
    Click(IDC_SNAPSHOT);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerSnapshot(-1, \"C:\\haha.bmp\")"));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(MainWindowTest, CutStartsAndStopsOnTheOpenStream) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    EXPECT_EQ(LocalCutFlag, 1);
    EXPECT_TRUE(window.IsChecked(IDC_CUT));
    Click(IDC_CUT);
    EXPECT_EQ(LocalCutFlag, 0);
    EXPECT_FALSE(window.IsChecked(IDC_CUT));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerStartCut(7, \"C:\\cut.mp4\")", "PlayerStopCut(7)"));
}

TEST_F(MainWindowTest, RefusedCutIsReportedAndNotShownAsRunning) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.ClearCalls();
    lib.AnswerOnce("PlayerStartCut", 0);
    Click(IDC_CUT);
    EXPECT_THAT(Messages(), ElementsAre("启动剪切失败!"));
    EXPECT_EQ(LocalCutFlag, 0);
    EXPECT_FALSE(window.IsChecked(IDC_CUT));
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerStartCut(7, \"C:\\cut.mp4\")"));
}

TEST_F(MainWindowTest, CutWithoutAStreamDoesNothing) {
    Create();
    Click(IDC_CUT);
    EXPECT_THAT(lib.Calls(), IsEmpty());
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(LocalCutFlag, 0);
    EXPECT_FALSE(window.IsChecked(IDC_CUT));
}

TEST_F(MainWindowTest, StopDuringACutLeavesTheCutSwitchOn) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    lib.ClearCalls();

    Click(IDC_STOP);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerClose(7)"));  // no PlayerStopCut
    EXPECT_EQ(LocalCutFlag, 1);
    EXPECT_TRUE(window.IsChecked(IDC_CUT));
    EXPECT_TRUE(window.IsItemEnabled(IDC_CUT));

    // The next click only clears the switch: there is no stream to tell.
    lib.ClearCalls();
    Click(IDC_CUT);
    EXPECT_THAT(lib.Calls(), IsEmpty());
    EXPECT_EQ(LocalCutFlag, 0);
    EXPECT_FALSE(window.IsChecked(IDC_CUT));
}

TEST_F(MainWindowTest, TheCutIsStoppedOnWhateverStreamIsOpenAtTheClick) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    Click(IDC_STOP);
    OpenThroughDialog("/media/b.mp4", 8);
    lib.ClearCalls();
    Click(IDC_CUT);
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerStopCut(8)"));
    EXPECT_EQ(LocalCutFlag, 0);
}

TEST_F(MainWindowTest, EscapeAndTheSystemMenuCloseTheWindowEndingInPlayerClose) {
    for (const bool by_escape : {true, false}) {
        SCOPED_TRACE(by_escape ? "Escape" : "system menu");
        Create();
        OpenThroughDialog("/media/a.mp4", 7);
        if (by_escape) {
            ASSERT_TRUE(ui::testing::PressKey(window, ui::testing::Key::Escape));
        } else {
            window.SendSysCommand(ui::SC_CLOSE);
            ui::testing::ProcessEvents();  // the system's dialog manager posts the cancel
        }
        EXPECT_TRUE(window.IsEnded());
        window.Destroy();  // as the modal run does once the window has ended
        EXPECT_EQ(lib.Calls().back(), "PlayerClose(7)");
        lib.ClearCalls();
    }
}

TEST_F(MainWindowTest, TheCutFlagOutlivesTheWindow) {
    Create();
    OpenThroughDialog("/media/a.mp4", 7);
    lib.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    lib.ClearCalls();
    window.Destroy();
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerClose(7)"));  // the last call for the stream
    EXPECT_EQ(LocalCutFlag, 1);
}

TEST_F(MainWindowTest, StopWithoutAStreamCallsNothing) {
    Create();
    window.EnableItem(IDC_STOP, true);  // as if it had been left enabled
    Click(IDC_STOP);
    EXPECT_THAT(lib.Calls(), IsEmpty());
    ExpectNoStream();
}

}  // namespace
