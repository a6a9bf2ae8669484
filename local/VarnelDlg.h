// The main player window, template 102: plays one local file at a time,
// chosen in the file-open dialog or named on the command line.
#pragma once

#include <cstdint>
#include <functional>

#include "player/PlayerSdk.h"
#include "ui/Dialog.h"

namespace local {

inline constexpr int kMainTemplateId = 102;
inline constexpr unsigned TIMER_POSITION = 1;
inline constexpr unsigned kPositionIntervalMs = 1000;

// Control ids of template 102.
inline constexpr int IDC_PICTURE = 1000;
inline constexpr int IDC_PLAY = 1001;
inline constexpr int IDC_STOP = 1002;
inline constexpr int IDC_FILE_NAME = 1007;
inline constexpr int IDC_OPEN_FILE = 1008;
inline constexpr int IDC_PAUSE = 1006;
inline constexpr int IDC_STEP = 1009;
inline constexpr int IDC_FAST = 1010;
inline constexpr int IDC_SLOW = 1011;
inline constexpr int IDC_REMOTE = 1012;
inline constexpr int IDC_AUDIO = 1034;
inline constexpr int IDC_CUT = 1035;
inline constexpr int IDC_SNAPSHOT = 1038;

inline constexpr const char* kSnapshotPath = "C:\\haha.bmp";
inline constexpr const char* kCutPath = "C:\\cut.mp4";
inline constexpr const char* kOpenFailedText = "open file failed!\n";
inline constexpr const char* kCutFailedText = "启动剪切失败!";
inline constexpr unsigned kMaxPathBytes = 259;

// 1 from a successful start of a cut until the next click on Cut. It belongs
// to the process, not to one window.
extern int LocalCutFlag;

// What the application shell lends the main window, set before the window
// is created: the file named on the command line (the shell's CmdLinePath,
// read when the window initialises and when the command-line open runs),
// the about box that the system menu's about entry runs, and the remote
// playback window that the hidden button 1012 runs. Unset, no file is named
// and the about entry and the button open nothing.
struct ApplicationShell {
    const char* command_line_path = nullptr;
    std::function<void(ui::Dialog& owner)> show_about_box;
    std::function<void()> run_remote_playback;
};
void SetApplicationShell(ApplicationShell shell);

class CVarnelDlg : public ui::Dialog {
public:
    explicit CVarnelDlg(ui::Dialog* parent = nullptr);

    // State, for the frame and for tests.
    PlayerHandle Handle() const { return player_handle_; }
    unsigned PositionTimerId() const { return position_timer_id_; }
    int SeekDragging() const { return seek_dragging_; }
    // The picture shown while the minimised window is dragged: the window's icon.
    int OnQueryDragIcon() const { return icon_id_; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id) override;
    void OnTimer(unsigned id) override;
    void OnHScroll(int code, int control_id) override;
    void OnMessage(uint32_t message, intptr_t wparam, intptr_t lparam) override;
    void OnSysCommand(unsigned command) override;
    void OnDestroy() override;

private:
    void OnOpenFile();
    void OnRemotePlayback();
    void OnSoundSwitch();
    void OnSnapshot();
    void OnCutSwitch();
    // Returns whether the timer message goes on to the default handling.
    bool OnOpenCommandLine();
    void OnEndOfStream();

    void StartPlaying();
    void Stop();
    // Opens path into player_handle_; on success registers for the
    // library's notifications, shows the total time and starts playing.
    bool OpenAndPlay(const char* path);
    void KillPositionTimer();
    void ResetPositionDisplay();

    int icon_id_;
    PlayerHandle player_handle_ = PLAYER_NO_HANDLE;
    unsigned position_timer_id_ = 0;
    int seek_dragging_ = 0;
};

}  // namespace local
