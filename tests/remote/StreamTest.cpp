// Streamed playback: opening, the library's events, the timers, transport,
// sound, cut, stop and the window's teardown.
#include <string>
#include <vector>

#include "remote/FormFields.h"
#include "tests/remote/RemoteWindowFixture.h"

namespace remote_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace remote;

constexpr int kTransportButtons[] = {IDC_PAUSE, IDC_STEP, IDC_FAST, IDC_SLOW};

TEST_F(RemoteWindowTest, PlayOpensTheSelectedRecordingWithoutPlayingIt) {
    CDlgNetFile& w = OpenOnLoopback();
    TypeText(IDC_PORT, "68536");
    SearchWithRows(1, {"a.mp4", "b.mp4"});
    SelectRow(1);
    w.SeekDragging = 1;  // as a drag of the previous stream could have left it
    lib_.ClearCalls();
    lib_.AnswerOnce("NetOpenStream", 4);
    Click(IDC_PLAY);
    EXPECT_THAT(lib_.Calls(),
                ElementsAre("NetOpenStream(\"127.0.0.1\", \"246135\", \"246135\", \"b.mp4\", "
                            "hwnd(129:1027), 3000)",
                            "NetSetBufferTime(4, 20)", "PlayerSetNotifyWindow(4, hwnd(129), 1224)"));
    EXPECT_EQ(StreamHandle, 4);
    EXPECT_EQ(w.SeekDragging, 0);
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Opened);
    EXPECT_TRUE(w.IsItemEnabled(IDC_STOP));
    for (int id : kTransportButtons) EXPECT_FALSE(w.IsItemEnabled(id)) << id;
    EXPECT_FALSE(w.IsItemEnabled(IDC_CUT));
    EXPECT_FALSE(w.IsItemEnabled(IDC_SEEK_BAR));
}

TEST_F(RemoteWindowTest, PlayWhileAStreamIsOpenOnlyPlaysItInTheWindowItself) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4", "b.mp4"});
    lib_.AnswerOnce("NetOpenStream", 4);
    Click(IDC_PLAY);
    SelectRow(1);
    const auto play_again = [&](StreamState state, const char* when) {
        lib_.ClearCalls();
        Click(IDC_PLAY);
        EXPECT_THAT(lib_.Calls(), ElementsAre("PlayerPlay(4, hwnd(129))")) << when;
        EXPECT_EQ(StreamHandle, 4) << when;
        EXPECT_EQ(w.CurrentStreamState(), state) << when;
    };
    play_again(StreamState::Opened, "opened");
    Notify(PLAYER_EVENT_STARTED, 4);
    play_again(StreamState::Playing, "playing");
    Click(IDC_PAUSE);
    play_again(StreamState::Playing, "paused");
    lib_.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    play_again(StreamState::Cutting, "cutting");
    EXPECT_EQ(w.Cutting, 1);
}

TEST_F(RemoteWindowTest, OnlyMinusOneFromTheOpenIsAFailure) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.AnswerOnce("NetOpenStream", -1);
    Click(IDC_PLAY);
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kOpenStreamFailedText));
    EXPECT_EQ(StreamHandle, -1);
    EXPECT_FALSE(w.IsItemEnabled(IDC_STOP));
    EXPECT_EQ(lib_.CountOf("NetSetBufferTime"), 0u);

    boxes_.Clear();
    lib_.AnswerOnce("NetOpenStream", -2);
    Click(IDC_PLAY);
    EXPECT_THAT(boxes_.Texts(), IsEmpty());
    EXPECT_EQ(StreamHandle, -2);
    EXPECT_THAT(lib_.CallsNamed("PlayerSetNotifyWindow"),
                ElementsAre("PlayerSetNotifyWindow(-2, hwnd(129), 1224)"));
    Notify(PLAYER_EVENT_STARTED, -2);
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Playing);
}

TEST_F(RemoteWindowTest, PlayWithNoRowSelectedAsksForOne) {
    CDlgNetFile& w = OpenOnLoopback();
    lib_.ClearCalls();
    Click(IDC_PLAY);
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kSelectFileText));
    EXPECT_EQ(w.FocusedItem(), IDC_RESULT_LIST);
    EXPECT_THAT(lib_.Calls(), IsEmpty());
}

TEST_F(RemoteWindowTest, RefusedBufferLengthStillReachesTheStreamAfterItsMessage) {
    OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    TypeText(IDC_BUFFER_SECONDS, "25");
    lib_.AnswerOnce("NetOpenStream", 6);
    Click(IDC_PLAY);
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kBufferRangeMessage));
    EXPECT_THAT(lib_.CallsNamed("NetSetBufferTime"), ElementsAre("NetSetBufferTime(6, 25)"));
}

TEST_F(RemoteWindowTest, StartedEventEnablesTheControlsAndStartsThePositionDisplay) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.AnswerOnce("NetOpenStream", 4);
    Click(IDC_PLAY);
    lib_.Answer("PlayerHasAudio", 1);
    lib_.Answer("PlayerGetTotalTime", 3723999);  // 01:02:03.999
    lib_.ClearCalls();
    Notify(PLAYER_EVENT_STARTED, 4);
    EXPECT_THAT(lib_.Calls(), ElementsAre("PlayerHasAudio(4)", "PlayerGetTotalTime(4)",
                                          "PlayerGetTotalTime(4)"));
    for (int id : kTransportButtons) EXPECT_TRUE(w.IsItemEnabled(id)) << id;
    EXPECT_TRUE(w.IsItemEnabled(IDC_AUDIO));
    EXPECT_TRUE(w.IsItemEnabled(IDC_CUT));
    EXPECT_TRUE(w.IsItemEnabled(IDC_SEEK_BAR));
    EXPECT_TRUE(w.IsItemVisible(IDC_ELAPSED));
    EXPECT_TRUE(w.IsItemVisible(IDC_TOTAL));
    EXPECT_EQ(w.ItemText(IDC_ELAPSED), "00:00:00");
    EXPECT_EQ(w.ItemText(IDC_TOTAL), "01:02:03");
    EXPECT_EQ(w.TrackMax(IDC_SEEK_BAR), 3723);
    EXPECT_EQ(w.TrackPos(IDC_SEEK_BAR), 0);
    EXPECT_EQ(PositionTimerId, TIMER_NET_POSITION);
    EXPECT_TRUE(w.IsTimerArmed(TIMER_NET_POSITION));
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Playing);

    lib_.AnswerOnce("PlayerGetPlayTime", 61500);
    ASSERT_TRUE(w.FireTimer(TIMER_NET_POSITION));
    EXPECT_EQ(w.ItemText(IDC_ELAPSED), "00:01:01");
    EXPECT_EQ(w.TrackPos(IDC_SEEK_BAR), 61);
}

TEST_F(RemoteWindowTest, StreamWithoutSoundLeavesAudioDisabled) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.Answer("PlayerHasAudio", 0);
    OpenAndStartStream(4);
    EXPECT_FALSE(w.IsItemEnabled(IDC_AUDIO));
    EXPECT_TRUE(w.IsItemEnabled(IDC_PAUSE));
}

TEST_F(RemoteWindowTest, EventsForAnotherHandleAreIgnored) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.AnswerOnce("NetOpenStream", 4);
    Click(IDC_PLAY);
    lib_.ClearCalls();
    Notify(PLAYER_EVENT_STARTED, 5);
    Notify(PLAYER_EVENT_BUFFERING, 5);
    Notify(PLAYER_EVENT_END, 5);
    EXPECT_THAT(lib_.Calls(), IsEmpty());
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Opened);
    EXPECT_EQ(StreamHandle, 4);
}

TEST_F(RemoteWindowTest, EventCodesOtherThanTheThreeAreIgnored) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    OpenAndStartStream(4);
    const std::vector<unsigned> timers = w.ArmedTimers();
    lib_.ClearCalls();
    for (int code : {0, 4, -1, 0x10002}) Notify(code, 4);
    EXPECT_THAT(lib_.Calls(), IsEmpty());
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Playing);
    EXPECT_EQ(w.ArmedTimers(), timers);
    EXPECT_FALSE(w.IsItemVisible(IDC_BUFFERING_LABEL));
}

TEST_F(RemoteWindowTest, SecondStartedEventRepeatsItsWholeSetUpEvenWhileCutting) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.Answer("PlayerHasAudio", 1);
    OpenAndStartStream(4, 10000);
    lib_.AnswerOnce("PlayerGetPlayTime", 7000);
    ASSERT_TRUE(w.FireTimer(TIMER_NET_POSITION));
    lib_.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    ASSERT_EQ(w.CurrentStreamState(), StreamState::Cutting);
    EXPECT_FALSE(w.IsItemEnabled(IDC_SEEK_BAR));

    lib_.Answer("PlayerGetTotalTime", 20000);
    Notify(PLAYER_EVENT_STARTED, 4);
    EXPECT_EQ(w.ItemText(IDC_ELAPSED), "00:00:00");
    EXPECT_EQ(w.ItemText(IDC_TOTAL), "00:00:20");
    EXPECT_EQ(w.TrackMax(IDC_SEEK_BAR), 20);
    EXPECT_EQ(w.TrackPos(IDC_SEEK_BAR), 0);
    EXPECT_TRUE(w.IsItemEnabled(IDC_SEEK_BAR));
    EXPECT_TRUE(w.IsTimerArmed(TIMER_NET_POSITION));
    EXPECT_EQ(w.Cutting, 1);
    EXPECT_EQ(w.ItemText(IDC_CUT), kStopCutCaption);
}

TEST_F(RemoteWindowTest, BufferingTwiceShowsTheNewerPercentageWithOneTimer) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    Click(IDC_SEARCH);  // stop the search, so that only the stream's timers run
    lib_.AnswerOnce("NetOpenStream", 4);
    Click(IDC_PLAY);
    lib_.AnswerOnce("NetGetBufferProgress", 30);
    Notify(PLAYER_EVENT_BUFFERING, 4);
    EXPECT_EQ(w.ItemText(IDC_BUFFERING_LABEL), "正在建立缓冲:30%");
    EXPECT_TRUE(w.IsItemVisible(IDC_BUFFERING_LABEL));
    lib_.AnswerOnce("NetGetBufferProgress", 60);
    Notify(PLAYER_EVENT_BUFFERING, 4);
    EXPECT_EQ(w.ItemText(IDC_BUFFERING_LABEL), "正在建立缓冲:60%");
    EXPECT_THAT(w.ArmedTimers(), ElementsAre(TIMER_BUFFERING));
    EXPECT_EQ(BufferingTimerId, TIMER_BUFFERING);
    // The stream's start leaves the buffering display and its timer as they are.
    Notify(PLAYER_EVENT_STARTED, 4);
    EXPECT_EQ(w.ItemText(IDC_BUFFERING_LABEL), "正在建立缓冲:60%");
    EXPECT_TRUE(w.IsItemVisible(IDC_BUFFERING_LABEL));
    EXPECT_EQ(BufferingTimerId, TIMER_BUFFERING);
    EXPECT_EQ(ui::testing::TimerInterval(w, TIMER_BUFFERING), 500u);

    // Ticks update the percentage until the first negative reading.
    lib_.AnswerOnce("NetGetBufferProgress", 85);
    ASSERT_TRUE(w.FireTimer(TIMER_BUFFERING));
    EXPECT_EQ(w.ItemText(IDC_BUFFERING_LABEL), "正在建立缓冲:85%");
    lib_.AnswerOnce("NetGetBufferProgress", -1);
    ASSERT_TRUE(w.FireTimer(TIMER_BUFFERING));
    EXPECT_FALSE(w.IsItemVisible(IDC_BUFFERING_LABEL));
    EXPECT_FALSE(w.IsTimerArmed(TIMER_BUFFERING));
    EXPECT_EQ(BufferingTimerId, 0u);
}

TEST_F(RemoteWindowTest, NegativeBufferingProgressArmsNothing) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.AnswerOnce("NetOpenStream", 4);
    Click(IDC_PLAY);
    lib_.AnswerOnce("NetGetBufferProgress", -1);
    Notify(PLAYER_EVENT_BUFFERING, 4);
    EXPECT_FALSE(w.IsItemVisible(IDC_BUFFERING_LABEL));
    EXPECT_FALSE(w.IsTimerArmed(TIMER_BUFFERING));
    EXPECT_EQ(BufferingTimerId, 0u);
}

TEST_F(RemoteWindowTest, TransportButtonsCallTheLibraryOnlyWithAStreamOpen) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.Answer("PlayerHasAudio", 1);
    lib_.ClearCalls();
    // Disabled controls take no clicks; the handlers are reached directly
    // too, as a stale click would reach them.
    for (int id : {IDC_PAUSE, IDC_STEP, IDC_FAST, IDC_SLOW, IDC_AUDIO, IDC_CUT}) {
        w.EnableItem(id, true);
        Click(id);
        w.EnableItem(id, false);
    }
    EXPECT_THAT(lib_.Calls(), IsEmpty());

    OpenAndStartStream(4);
    lib_.ClearCalls();
    for (int id : kTransportButtons) Click(id);
    EXPECT_THAT(lib_.Calls(), ElementsAre("PlayerPause(4)", "PlayerStepFrame(4)", "PlayerFast(4)",
                                          "PlayerSlow(4)"));
}

TEST_F(RemoteWindowTest, StopWithNothingOpenMakesNoLibraryCall) {
    CDlgNetFile& w = OpenOnLoopback();
    w.ShowItem(IDC_BUFFERING_LABEL, true);
    w.ShowItem(IDC_ELAPSED, true);
    w.SetTrackPos(IDC_SEEK_BAR, 40);
    w.EnableItem(IDC_STOP, true);
    lib_.ClearCalls();
    Click(IDC_STOP);
    EXPECT_THAT(lib_.Calls(), IsEmpty());
    EXPECT_FALSE(w.IsItemVisible(IDC_BUFFERING_LABEL));
    EXPECT_FALSE(w.IsItemVisible(IDC_ELAPSED));
    EXPECT_EQ(w.TrackPos(IDC_SEEK_BAR), 0);
    EXPECT_FALSE(w.IsItemEnabled(IDC_STOP));
}

TEST_F(RemoteWindowTest, StopClosesTheStreamAndReturnsToIdle) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.Answer("PlayerHasAudio", 1);
    OpenAndStartStream(4);
    lib_.AnswerOnce("NetGetBufferProgress", 10);
    Notify(PLAYER_EVENT_BUFFERING, 4);
    lib_.ClearCalls();
    Click(IDC_STOP);
    EXPECT_THAT(lib_.Calls(), ElementsAre("PlayerClose(4)"));
    EXPECT_EQ(StreamHandle, -1);
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Idle);
    EXPECT_EQ(PositionTimerId, 0u);
    EXPECT_EQ(BufferingTimerId, 0u);
    EXPECT_FALSE(w.IsTimerArmed(TIMER_NET_POSITION));
    EXPECT_FALSE(w.IsTimerArmed(TIMER_BUFFERING));
    for (int id : {IDC_STOP, IDC_PAUSE, IDC_STEP, IDC_FAST, IDC_SLOW, IDC_AUDIO, IDC_CUT,
                   IDC_SEEK_BAR})
        EXPECT_FALSE(w.IsItemEnabled(id)) << id;
    for (int id : {IDC_ELAPSED, IDC_TOTAL, IDC_BUFFERING_LABEL}) EXPECT_FALSE(w.IsItemVisible(id)) << id;
    EXPECT_TRUE(w.IsItemEnabled(IDC_PLAY));
    EXPECT_EQ(w.ItemText(IDC_TOTAL), "00:01:01");  // texts stay for the next start
}

TEST_F(RemoteWindowTest, CutStartsStopsAndReportsARefusal) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    OpenAndStartStream(4);
    lib_.ClearCalls();
    lib_.AnswerOnce("PlayerStartCut", 0);
    Click(IDC_CUT);
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kCutFailedText));
    EXPECT_EQ(w.Cutting, 0);
    EXPECT_EQ(w.ItemText(IDC_CUT), kStartCutCaption);
    EXPECT_TRUE(w.IsItemEnabled(IDC_SEEK_BAR));

    lib_.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    EXPECT_EQ(w.Cutting, 1);
    EXPECT_EQ(w.ItemText(IDC_CUT), kStopCutCaption);
    EXPECT_FALSE(w.IsItemEnabled(IDC_SEEK_BAR));
    Click(IDC_CUT);
    EXPECT_THAT(lib_.Calls(), ElementsAre("PlayerStartCut(4, \"c:\\testcut.mp4\")",
                                          "PlayerStartCut(4, \"c:\\testcut.mp4\")",
                                          "PlayerStopCut(4)"));
    EXPECT_EQ(w.Cutting, 0);
    EXPECT_EQ(w.ItemText(IDC_CUT), kStartCutCaption);
    EXPECT_TRUE(w.IsItemEnabled(IDC_SEEK_BAR));
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Playing);
}

TEST_F(RemoteWindowTest, EndEventDuringACutEndsTheCutBeforeClosing) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    OpenAndStartStream(4);
    lib_.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    lib_.ClearCalls();
    Notify(PLAYER_EVENT_END, 4);
    EXPECT_THAT(lib_.Calls(), ElementsAre("PlayerStopCut(4)", "PlayerClose(4)"));
    EXPECT_EQ(w.Cutting, 0);
    EXPECT_EQ(w.ItemText(IDC_CUT), kStartCutCaption);
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Idle);
    EXPECT_FALSE(w.IsItemEnabled(IDC_SEEK_BAR));
}

TEST_F(RemoteWindowTest, DoubleClickWhileCuttingEndsTheCutAndOpensTheNewRow) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4", "b.mp4"});
    OpenAndStartStream(4);
    lib_.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    lib_.ClearCalls();
    lib_.AnswerOnce("NetOpenStream", 9);
    DoubleClickRow(1);
    EXPECT_THAT(lib_.Calls(),
                ElementsAre("PlayerStopCut(4)", "PlayerClose(4)",
                            "NetOpenStream(\"127.0.0.1\", \"246135\", \"246135\", \"b.mp4\", "
                            "hwnd(129:1027), 3000)",
                            "NetSetBufferTime(9, 20)", "PlayerSetNotifyWindow(9, hwnd(129), 1224)"));
    EXPECT_EQ(w.ItemText(IDC_CUT), kStartCutCaption);
    EXPECT_EQ(StreamHandle, 9);
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Opened);
    for (int id : kTransportButtons) EXPECT_FALSE(w.IsItemEnabled(id)) << id;
    EXPECT_FALSE(w.IsItemEnabled(IDC_CUT));
    Notify(PLAYER_EVENT_STARTED, 9);
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Playing);
}

TEST_F(RemoteWindowTest, DoubleClickBelowTheRowsClearsTheSelectionAndDoesNothingElse) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    OpenAndStartStream(4);
    lib_.ClearCalls();
    DoubleClickRow(-1);  // below the last row, row 0 selected until then
    EXPECT_THAT(lib_.Calls(), IsEmpty());
    EXPECT_THAT(boxes_.Texts(), IsEmpty());
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Playing);
    EXPECT_EQ(w.ListSelectedRow(IDC_RESULT_LIST), -1);
    Click(IDC_DOWNLOAD);  // acts on no old row
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kSelectFileText));
    EXPECT_EQ(lib_.CountOf("NetStartDownload"), 0u);
}

TEST_F(RemoteWindowTest, SearchingAndPlayingWindowStreamsTheFirstRowOnceItsSearchHasEnded) {
    lib_.AnswerOnce("NetSearchFiles", 1);
    CDlgNetFile& w = OpenSearchingAndPlaying();
    ASSERT_EQ(lib_.CountOf("NetSearchFiles"), 1u);
    EXPECT_EQ(lib_.CallsNamed("NetSearchFiles").front().rfind("NetSearchFiles(\"127.0.0.1\"", 0), 0u);
    const NetTime t{2026, 12, 8, 8, 0, 0, {}};
    Report("a.mp4", t, t, 1);
    Report("b.mp4", t, t, 1);
    ProcessEvents();
    lib_.AnswerOnce("NetGetSearchState", 0);
    ASSERT_TRUE(w.FireTimer(TIMER_SEARCH));
    EXPECT_EQ(lib_.CountOf("NetOpenStream"), 0u);  // not before the search has ended
    lib_.AnswerOnce("NetGetSearchState", 1);
    lib_.AnswerOnce("NetOpenStream", 4);
    ASSERT_TRUE(w.FireTimer(TIMER_SEARCH));
    EXPECT_THAT(lib_.CallsNamed("NetOpenStream"),
                ElementsAre("NetOpenStream(\"127.0.0.1\", \"246135\", \"246135\", \"a.mp4\", "
                            "hwnd(129:1027), 3000)"));
    EXPECT_EQ(StreamHandle, 4);
}

TEST_F(RemoteWindowTest, AudioStateCarriesOverToTheNextStream) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.Answer("PlayerHasAudio", 1);
    OpenAndStartStream(4);
    lib_.ClearCalls();
    Click(IDC_AUDIO);
    EXPECT_TRUE(w.IsChecked(IDC_AUDIO));
    Click(IDC_AUDIO);
    Click(IDC_AUDIO);
    EXPECT_THAT(lib_.Calls(),
                ElementsAre("PlayerSoundOn(4)", "PlayerSoundOff(4)", "PlayerSoundOn(4)"));
    Click(IDC_STOP);
    EXPECT_TRUE(w.IsChecked(IDC_AUDIO));
    EXPECT_FALSE(w.IsItemEnabled(IDC_AUDIO));

    lib_.ClearCalls();
    OpenAndStartStream(5);
    EXPECT_TRUE(w.IsChecked(IDC_AUDIO));
    EXPECT_EQ(lib_.CountOf("PlayerSoundOn"), 0u);  // applied only when the user clicks
    EXPECT_EQ(lib_.CountOf("PlayerSoundOff"), 0u);
}

TEST_F(RemoteWindowTest, SeekBarSeeksTheStreamAndIsIgnoredWithoutOne) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.ClearCalls();
    w.EnableItem(IDC_SEEK_BAR, true);
    DragSeekBar(30);
    EXPECT_THAT(lib_.Calls(), IsEmpty());
    EXPECT_EQ(w.SeekDragging, 0);
    EXPECT_EQ(w.ItemText(IDC_ELAPSED), "00:00:00");  // the thumb's time is not shown either

    OpenAndStartStream(4, 100000);
    lib_.ClearCalls();
    lib_.AnswerOnce("PlayerSetPlayTime", 1);
    DragSeekBar(30);
    EXPECT_THAT(lib_.Calls(), ElementsAre("PlayerSetPlayTime(4, 30000)"));
    EXPECT_EQ(w.ItemText(IDC_ELAPSED), "00:00:30");
    EXPECT_EQ(w.SeekDragging, 0);
}

TEST_F(RemoteWindowTest, EachTimerRunsAtItsOwnPeriod) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    Click(IDC_DOWNLOAD);
    OpenAndStartStream(4);
    lib_.Answer("NetGetBufferProgress", 10);
    Notify(PLAYER_EVENT_BUFFERING, 4);
    using ui::testing::TimerInterval;
    EXPECT_EQ(TimerInterval(w, TIMER_SEARCH), 200u);
    EXPECT_EQ(TimerInterval(w, TIMER_DOWNLOAD), 200u);
    EXPECT_EQ(TimerInterval(w, TIMER_NET_POSITION), 1000u);
    EXPECT_EQ(TimerInterval(w, TIMER_BUFFERING), 500u);
}

TEST_F(RemoteWindowTest, SearchDownloadAndStreamRunSideBySide) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(2, {"a.mp4"});
    lib_.AnswerOnce("NetStartDownload", 3);
    Click(IDC_DOWNLOAD);
    OpenAndStartStream(4);
    EXPECT_EQ(w.Searching, 1);
    EXPECT_EQ(w.Downloading, 1);
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Playing);
    EXPECT_THAT(w.ArmedTimers(), ElementsAre(TIMER_SEARCH, TIMER_DOWNLOAD, TIMER_NET_POSITION));

    // Each goes on by itself, and ends without touching the others.
    lib_.ClearCalls();
    lib_.AnswerOnce("NetGetDownloadProgress", 50);
    ASSERT_TRUE(w.FireTimer(TIMER_DOWNLOAD));
    lib_.AnswerOnce("NetGetSearchState", 1);
    ASSERT_TRUE(w.FireTimer(TIMER_SEARCH));
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetGetDownloadProgress(3)", "NetGetSearchState(2)",
                                          "NetStopSearch(2)"));
    EXPECT_EQ(w.Downloading, 1);
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Playing);
    Click(IDC_STOP);
    EXPECT_EQ(w.Downloading, 1);
    EXPECT_TRUE(w.IsTimerArmed(TIMER_DOWNLOAD));
}

TEST_F(RemoteWindowTest, ClosingStopsSearchThenDownloadThenStream) {
    OpenOnLoopback();
    SearchWithRows(2, {"a.mp4"});
    lib_.AnswerOnce("NetStartDownload", 3);
    Click(IDC_DOWNLOAD);
    OpenAndStartStream(4);
    lib_.AnswerOnce("PlayerStartCut", 1);
    Click(IDC_CUT);
    lib_.ClearCalls();
    Close();
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetStopSearch(2)", "NetStopDownload(3)",
                                          "PlayerStopCut(4)", "PlayerClose(4)"));
    EXPECT_EQ(SearchHandle, -1);
    EXPECT_EQ(DownloadHandle, -1);
    EXPECT_EQ(StreamHandle, -1);
    EXPECT_EQ(SearchTimerId, 0u);
    EXPECT_EQ(DownloadTimerId, 0u);
    EXPECT_EQ(PositionTimerId, 0u);
    EXPECT_EQ(BufferingTimerId, 0u);
    // A late event for the closed stream reaches nothing.
    Open();
    lib_.ClearCalls();
    Notify(PLAYER_EVENT_END, 4);
    EXPECT_THAT(lib_.Calls(), IsEmpty());
}

}  // namespace
}  // namespace remote_test
