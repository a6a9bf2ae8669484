#include "local/VarnelDlg.h"

#include <string>
#include <utility>

#include "local/MainFrame.h"
#include "local/PositionDisplay.h"
#include "player/Binding.h"

namespace local {

int LocalCutFlag = 0;

namespace {

ApplicationShell& Shell() {
    static ApplicationShell shell;
    return shell;
}

const char* CommandLinePath() {
    return Shell().command_line_path != nullptr ? Shell().command_line_path : "";
}

// The transport controls that start playing enables and Stop disables, in
// that order (Stop also disables Audio and the seek bar after them).
constexpr int kTransportIds[] = {IDC_PLAY, IDC_STOP, IDC_PAUSE, IDC_STEP, IDC_FAST, IDC_SLOW};

}  // namespace

void SetApplicationShell(ApplicationShell shell) { Shell() = std::move(shell); }

CVarnelDlg::CVarnelDlg(ui::Dialog* parent)
    : ui::Dialog(kMainTemplateId, parent), icon_id_(kMainIconId) {}

bool CVarnelDlg::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    InitMainFrame(*this, icon_id_, CommandLinePath());
    return true;  // the first tab stop, Open File, takes the focus
}

void CVarnelDlg::OnSysCommand(unsigned command) {
    if (!IsAboutCommand(command)) DefaultSysCommand(command);
    else if (Shell().show_about_box) Shell().show_about_box(*this);
}

void CVarnelDlg::OnCommand(int id) {
    switch (id) {
        case IDC_OPEN_FILE: OnOpenFile(); break;
        case IDC_PLAY: StartPlaying(); break;
        case IDC_STOP: Stop(); break;
        // The transport buttons are enabled only while a file is open, so
        // they pass the handle as it is.
        case IDC_PAUSE: player::PlayerPause(player_handle_); break;
        case IDC_STEP: player::PlayerStepFrame(player_handle_); break;
        case IDC_FAST: player::PlayerFast(player_handle_); break;
        case IDC_SLOW: player::PlayerSlow(player_handle_); break;
        case IDC_AUDIO: OnSoundSwitch(); break;
        case IDC_CUT: OnCutSwitch(); break;
        case IDC_SNAPSHOT: OnSnapshot(); break;
        case IDC_REMOTE: OnRemotePlayback(); break;
        default: ui::Dialog::OnCommand(id); break;
    }
}

void CVarnelDlg::OnTimer(unsigned id) {
    if (id == TIMER_POSITION) {
        // Armed only while a file is open.
        RefreshPosition(*this, player_handle_, seek_dragging_);
    } else if (id == TIMER_OPEN_CMDLINE) {
        if (!OnOpenCommandLine()) return;
    }
    ui::Dialog::OnTimer(id);
}

void CVarnelDlg::OnHScroll(int code, int control_id) {
    // The bar is enabled only while a file is open: no handle test here.
    OnSeekBarScroll(*this, code, control_id, player_handle_, seek_dragging_, HandleCheck::kNone);
    ui::Dialog::OnHScroll(code, control_id);
}

void CVarnelDlg::OnMessage(uint32_t message, intptr_t wparam, intptr_t lparam) {
    if (message == WM_PLAYER_NOTIFY) {
        // Events about another handle (a stream closed since) are stale.
        if (wparam == PLAYER_EVENT_END && lparam == static_cast<intptr_t>(player_handle_))
            OnEndOfStream();
        return;
    }
    ui::Dialog::OnMessage(message, wparam, lparam);
}

void CVarnelDlg::OnDestroy() {
    Stop();
    ui::Dialog::OnDestroy();
}

void CVarnelDlg::StartPlaying() {
    if (player_handle_ == PLAYER_NO_HANDLE) return;
    SetUpSeekBar(*this, player::PlayerGetTotalTime(player_handle_) / 1000);
    KillPositionTimer();
    position_timer_id_ = SetTimer(TIMER_POSITION, kPositionIntervalMs);
    player::PlayerPlay(player_handle_, ItemWindowHandle(IDC_PICTURE));
    for (int id : kTransportIds) EnableItem(id, true);
    EnableItem(IDC_AUDIO, player::PlayerHasAudio(player_handle_) != 0);
    EnableItem(kSeekBarId, true);
    SetTrackPos(kSeekBarId, static_cast<int>(player::PlayerGetPlayTime(player_handle_) / 1000));
}

void CVarnelDlg::Stop() {
    KillPositionTimer();
    ResetPositionDisplay();
    if (player_handle_ != PLAYER_NO_HANDLE) {
        player::PlayerClose(player_handle_);
        player_handle_ = PLAYER_NO_HANDLE;
    }
    for (int id : kTransportIds) EnableItem(id, false);
    EnableItem(IDC_AUDIO, false);
    EnableItem(kSeekBarId, false);
    SetCheck(IDC_AUDIO, false);
}

void CVarnelDlg::OnOpenFile() {
    ui::FileDialogRequest request;
    request.filter = "MPEG4文件|*.mp4||";
    request.default_extension = "*.*";
    request.initial_name = "";
    request.flags = 6;  // overwrite prompt, read-only box hidden
    const std::optional<std::string> chosen = ui::ShowFileOpenDialog(request);
    if (!chosen) return;  // cancelled: a stream that plays goes on
    SetItemText(IDC_FILE_NAME, *chosen);
    Stop();
    // At most 259 bytes of the text the library receives.
    const std::string path = player::LibraryText(ItemText(IDC_FILE_NAME)).substr(0, kMaxPathBytes);
    OpenAndPlay(path.c_str());
}

bool CVarnelDlg::OnOpenCommandLine() {
    const char* path = CommandLinePath();
    if (path[0] == '\0') return true;
    KillTimer(TIMER_OPEN_CMDLINE);  // runs once, whatever follows
    // A file opened meanwhile through Open File would otherwise be left
    // open and playing with no way to close it.
    if (player_handle_ != PLAYER_NO_HANDLE) Stop();
    return OpenAndPlay(path);
}

bool CVarnelDlg::OpenAndPlay(const char* path) {
    player_handle_ = player::PlayerOpenFile(path, 0);
    if (player_handle_ == PLAYER_NO_HANDLE) {
        ui::MessageBox(this, kOpenFailedText);
        return false;
    }
    player::PlayerSetNotifyWindow(player_handle_, WindowHandle(), WM_PLAYER_NOTIFY);
    SetItemText(kTotalLabelId, FormatHms(player::PlayerGetTotalTime(player_handle_)));
    StartPlaying();
    return true;
}

void CVarnelDlg::OnEndOfStream() {
    // The file stays open and the controls enabled: Play starts it again.
    KillPositionTimer();
    ResetPositionDisplay();
}

void CVarnelDlg::OnSoundSwitch() {
    if (player_handle_ == PLAYER_NO_HANDLE) return;
    // The box has already flipped its own state.
    if (IsChecked(IDC_AUDIO)) player::PlayerSoundOn(player_handle_);
    else player::PlayerSoundOff(player_handle_);
}

void CVarnelDlg::OnSnapshot() { player::PlayerSnapshot(player_handle_, kSnapshotPath); }

void CVarnelDlg::OnCutSwitch() {
    if (LocalCutFlag == 1) {
        LocalCutFlag = 0;
        SetCheck(IDC_CUT, false);
        if (player_handle_ != PLAYER_NO_HANDLE) player::PlayerStopCut(player_handle_);
        return;
    }
    // The box flipped itself on the click; it shows checked only while a cut runs.
    if (player_handle_ != PLAYER_NO_HANDLE && player::PlayerStartCut(player_handle_, kCutPath) != 0) {
        LocalCutFlag = 1;
        SetCheck(IDC_CUT, true);
        return;
    }
    SetCheck(IDC_CUT, false);
    if (player_handle_ != PLAYER_NO_HANDLE) ui::MessageBox(this, kCutFailedText);
}

void CVarnelDlg::OnRemotePlayback() {
    // The button is hidden and disabled; the handler stays for completeness.
    if (Shell().run_remote_playback) Shell().run_remote_playback();
}

void CVarnelDlg::KillPositionTimer() {
    if (position_timer_id_ == 0) return;
    KillTimer(position_timer_id_);
    position_timer_id_ = 0;
}

void CVarnelDlg::ResetPositionDisplay() {
    SetTrackPos(kSeekBarId, 0);
    SetItemText(kElapsedLabelId, FormatHms(0));
}

}  // namespace local
