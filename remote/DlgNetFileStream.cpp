// Playback of the selected recording as a network stream: opening and
// stopping, the library's stream events, the buffering and position timers,
// the transport buttons, the sound switch and the cut to file.
#include <cstdio>

#include "local/PositionDisplay.h"
#include "player/Binding.h"
#include "remote/DlgNetFile.h"

namespace remote {
namespace {

// The controls that come on with the stream's start and go off with its stop.
constexpr int kStreamControls[] = {IDC_PAUSE, IDC_STEP, IDC_AUDIO, IDC_FAST,
                                   IDC_SLOW,  IDC_STOP, IDC_CUT,   IDC_SEEK_BAR};

}  // namespace

void CDlgNetFile::PlayStream() {
    if (StreamHandle != PLAYER_NO_HANDLE) {
        player::PlayerPlay(StreamHandle, WindowHandle());
        return;
    }
    ExchangeFields(Exchange::FromControls);  // a refusal has shown its message; go on
    std::string name;
    if (!SelectedRecordingName(name)) return;
    StreamHandle = player::NetOpenStream(player::LibraryText(ServerAddress).c_str(), kLogin, kPassword, name.c_str(),
                                         ItemWindowHandle(IDC_PICTURE),
                                         static_cast<uint16_t>(ServerPort));
    if (StreamHandle == PLAYER_NO_HANDLE) {
        ui::MessageBox(this, kOpenStreamFailedText);
        return;
    }
    player::NetSetBufferTime(StreamHandle, BufferSeconds);
    player::PlayerSetNotifyWindow(StreamHandle, WindowHandle(), WM_PLAYER_NOTIFY);
    SeekDragging = 0;
    EnableItem(IDC_STOP, true);
    // The library's events take the window on from here.
}

void CDlgNetFile::StopStream() {
    KillArmedTimer(PositionTimerId);
    KillArmedTimer(BufferingTimerId);
    ShowItem(IDC_BUFFERING_LABEL, false);
    if (StreamHandle != PLAYER_NO_HANDLE) {
        if (Cutting == 1) ToggleCut();  // the cut ends before its stream closes
        player::PlayerClose(StreamHandle);
        StreamHandle = PLAYER_NO_HANDLE;
    }
    for (int id : kStreamControls) EnableItem(id, false);
    SetTrackPos(IDC_SEEK_BAR, 0);
    ShowItem(IDC_ELAPSED, false);
    ShowItem(IDC_TOTAL, false);
}

void CDlgNetFile::ReopenSelected() {
    if (ResultList.SelectedRow() == -1) return;
    if (StreamHandle != PLAYER_NO_HANDLE) StopStream();
    PlayStream();
}

void CDlgNetFile::Transport(StreamCall call) {
    if (StreamHandle != PLAYER_NO_HANDLE) call(StreamHandle);
}

void CDlgNetFile::OnStreamEvent(intptr_t code) {
    switch (code) {
        case PLAYER_EVENT_END: StopStream(); break;
        case PLAYER_EVENT_STARTED: OnStreamStarted(); break;
        case PLAYER_EVENT_BUFFERING: OnStreamBuffering(); break;
        default: break;
    }
}

void CDlgNetFile::OnStreamStarted() {
    EnableItem(IDC_PAUSE, true);
    EnableItem(IDC_STEP, true);
    EnableItem(IDC_AUDIO, player::PlayerHasAudio(StreamHandle) != 0);
    EnableItem(IDC_FAST, true);
    EnableItem(IDC_SLOW, true);
    EnableItem(IDC_CUT, true);
    EnableItem(IDC_SEEK_BAR, true);
    SetItemText(IDC_ELAPSED, "00:00:00");
    ShowItem(IDC_ELAPSED, true);
    ShowItem(IDC_TOTAL, true);
    local::SetUpSeekBar(*this, player::PlayerGetTotalTime(StreamHandle) / 1000);
    SetTrackPos(IDC_SEEK_BAR, 0);
    // Armed without a kill: a second start restarts the running timer.
    PositionTimerId = SetTimer(TIMER_NET_POSITION, kNetPositionIntervalMs);
    SetItemText(IDC_TOTAL, local::FormatHms(player::PlayerGetTotalTime(StreamHandle)));
}

void CDlgNetFile::ShowBufferProgress(int32_t progress) {
    char text[64];
    std::snprintf(text, sizeof text, "正在建立缓冲:%d%%", static_cast<int>(progress));
    SetItemText(IDC_BUFFERING_LABEL, text);
}

void CDlgNetFile::OnStreamBuffering() {
    const int32_t progress = player::NetGetBufferProgress(StreamHandle);
    if (progress < 0) return;
    ShowBufferProgress(progress);
    ShowItem(IDC_BUFFERING_LABEL, true);
    // Armed without a kill: a second report restarts the running timer.
    BufferingTimerId = SetTimer(TIMER_BUFFERING, kBufferingIntervalMs);
}

void CDlgNetFile::PollBuffering() {
    const int32_t progress = player::NetGetBufferProgress(StreamHandle);
    if (progress < 0) {
        KillArmedTimer(BufferingTimerId);
        ShowItem(IDC_BUFFERING_LABEL, false);
        return;
    }
    ShowBufferProgress(progress);
}

void CDlgNetFile::SoundSwitch() {
    if (StreamHandle == PLAYER_NO_HANDLE) return;
    // The button has already flipped its own pressed state.
    if (IsChecked(IDC_AUDIO)) player::PlayerSoundOn(StreamHandle);
    else player::PlayerSoundOff(StreamHandle);
}

void CDlgNetFile::ToggleCut() {
    if (StreamHandle == PLAYER_NO_HANDLE) return;
    if (Cutting == 1) {
        player::PlayerStopCut(StreamHandle);
        SetItemText(IDC_CUT, kStartCutCaption);
        Cutting = 0;
        EnableItem(IDC_SEEK_BAR, true);
        return;
    }
    if (player::PlayerStartCut(StreamHandle, kCutPath) == 0) {
        ui::MessageBox(this, kCutFailedText);
        return;
    }
    SetItemText(IDC_CUT, kStopCutCaption);
    Cutting = 1;
    EnableItem(IDC_SEEK_BAR, false);
}

}  // namespace remote
