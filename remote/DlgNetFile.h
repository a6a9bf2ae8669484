// The remote playback window, template 129: a query form for a recorder,
// the search for its recordings, the download of one recording to a fixed
// file, and its playback as a buffered network stream. The library handles
// and timer identifiers live in process-wide variables, so that they outlive
// one opening of the window.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/PlayerSdk.h"
#include "remote/SearchRows.h"
#include "ui/Dialog.h"

namespace remote {

inline constexpr int kRemoteTemplateId = 129;

// Control ids of template 129.
inline constexpr int IDC_SEEK_BAR = 1003;
inline constexpr int IDC_ELAPSED = 1004;
inline constexpr int IDC_TOTAL = 1005;
inline constexpr int IDC_ADDRESS = 1013;
inline constexpr int IDC_PORT = 1014;
inline constexpr int IDC_CHANNEL = 1015;
inline constexpr int IDC_ALARM_TYPE = 1016;
inline constexpr int IDC_START_DATE = 1017;
inline constexpr int IDC_START_TIME = 1018;
inline constexpr int IDC_END_DATE = 1019;
inline constexpr int IDC_END_TIME = 1020;
inline constexpr int IDC_RESULT_LIST = 1021;
inline constexpr int IDC_SEARCHING_LABEL = 1022;
inline constexpr int IDC_DOWNLOADING_LABEL = 1023;
inline constexpr int IDC_SEARCH = 1024;
inline constexpr int IDC_DOWNLOAD = 1025;
inline constexpr int IDC_PROGRESS = 1026;
inline constexpr int IDC_PICTURE = 1027;
inline constexpr int IDC_PLAY = 1028;
inline constexpr int IDC_STOP = 1029;
inline constexpr int IDC_PAUSE = 1030;
inline constexpr int IDC_STEP = 1031;
inline constexpr int IDC_FAST = 1032;
inline constexpr int IDC_SLOW = 1033;
inline constexpr int IDC_FILE_TYPE = 1034;
inline constexpr int IDC_AUDIO = 1035;
inline constexpr int IDC_BUFFERING_LABEL = 1036;
inline constexpr int IDC_BUFFER_SECONDS = 1037;
inline constexpr int IDC_TIME_LIMIT = 1039;
inline constexpr int IDC_CUT = 1040;

inline constexpr unsigned TIMER_SEARCH = 10;
inline constexpr unsigned TIMER_DOWNLOAD = 11;
inline constexpr unsigned TIMER_NET_POSITION = 12;
inline constexpr unsigned TIMER_BUFFERING = 13;
inline constexpr unsigned kSearchIntervalMs = 200;
inline constexpr unsigned kDownloadIntervalMs = 200;
inline constexpr unsigned kNetPositionIntervalMs = 1000;
inline constexpr unsigned kBufferingIntervalMs = 500;

// The address the form shows until the user types the recorder's own. It is
// a private-network address: nothing may connect to it unasked.
inline constexpr const char* kDefaultServerAddress = "192.168.1.64";
inline constexpr int32_t kDefaultServerPort = 3000;
inline constexpr int32_t kDefaultBufferSeconds = 20;

inline constexpr const char* kLogin = "246135";
inline constexpr const char* kPassword = "246135";
inline constexpr const char* kDownloadPath = "d:\\test.mp4";
inline constexpr const char* kCutPath = "c:\\testcut.mp4";
// Longest recording name handed to the library, in bytes.
inline constexpr size_t kMaxRecordingNameBytes = 99;

inline constexpr const char* kSearchFailedText = "获取文件列表失败!";
inline constexpr const char* kSelectFileText = "请选择文件!";
inline constexpr const char* kOpenStreamFailedText = "net play failed\n";
inline constexpr const char* kCutFailedText = "启动剪切失败!";
inline constexpr const char* kSearchCaption = "查找";
inline constexpr const char* kStopSearchCaption = "停止查找";
inline constexpr const char* kDownloadCaption = "下载";
inline constexpr const char* kStopDownloadCaption = "停止下载";
inline constexpr const char* kStartCutCaption = "开始剪切";
inline constexpr const char* kStopCutCaption = "停止剪切";

class CDlgNetFile;

// Process-wide state of the window's module, initialised once at start.
extern CDlgNetFile* NetFileDlg;  // the window last constructed; never cleared
extern int32_t SearchHandle;     // running search, -1 = none
extern int32_t DownloadHandle;   // running download, -1 = none
extern PlayerHandle StreamHandle;  // open stream, -1 = none
extern unsigned SearchTimerId;     // armed TIMER_SEARCH, 0 = none
extern unsigned DownloadTimerId;   // armed TIMER_DOWNLOAD, 0 = none
extern unsigned PositionTimerId;   // armed TIMER_NET_POSITION, 0 = none
extern unsigned BufferingTimerId;  // armed TIMER_BUFFERING, 0 = none

// Where the window reads the current time when it fills in today's range;
// tests replace it. An empty function restores the system clock.
void SetClock(std::function<std::time_t()> now);

// The library's search callback: one call per recording found, on any
// thread. The row reaches the open remote window's list on its own thread,
// in call order; a row for a window that is gone is dropped.
void SearchResultCallback(int32_t search, int32_t unused, const char* name, const NetTime* start,
                          const NetTime* end, uint32_t size, int32_t unused2);

// The progress bar 1026 and the result list 1021 as objects of the window,
// bound to their controls by the first exchange.
class ProgressBarControl {
public:
    void Bind(ui::Dialog* window, int id);
    void SetRange(int minimum, int maximum);
    void SetPos(int position);
    void Show(bool show);

private:
    ui::Dialog* window_ = nullptr;
    int id_ = 0;
};

// Column 0 holds the recording's name as the library gave it: kept byte for
// byte and read back so, and shown as the library's text reads (a byte that
// is not valid there shows as a replacement mark but goes back unchanged).
class ListControl {
public:
    void Bind(ui::Dialog* window, int id);
    void InsertColumn(int column, const std::string& header, int width_px);
    void SetFullRowSelect();
    int RowCount() const;
    int InsertRow(int index, const std::string& text);
    void SetCell(int row, int column, const std::string& text);
    std::string Cell(int row, int column) const;
    void DeleteAllRows();
    int SelectedRow() const;  // -1 when none
    void Focus();

private:
    ui::Dialog* window_ = nullptr;
    int id_ = 0;
    std::vector<std::string> first_cells_;  // one per row, in row order
};

// The stream side of the window, as its handle, cut flag and controls show it.
enum class StreamState { Idle, Opened, Playing, Cutting };

class CDlgNetFile : public ui::Dialog {
public:
    explicit CDlgNetFile(ui::Dialog* parent = nullptr);

    enum class Exchange { ToControls, FromControls };
    // Shows every field in its control, or takes every field from its
    // control with validation. From the controls, a refused value shows its
    // message, gets the focus and ends the exchange there; the result says
    // whether every value was accepted.
    bool ExchangeFields(Exchange direction);

    StreamState CurrentStreamState() const;

    // The fields, in the order they are declared and exchanged.
    ProgressBarControl ProgressBar;
    ListControl ResultList;
    int32_t StartTime = 0;
    int32_t EndTime = 0;
    int32_t StartDate = 0;
    int32_t EndDate = 0;
    std::string ServerAddress = kDefaultServerAddress;
    int32_t ServerPort = kDefaultServerPort;
    int32_t ChannelIndex = 0;
    int32_t AlarmTypeIndex = 0;
    int32_t FileTypeIndex = 0;
    int32_t BufferSeconds = kDefaultBufferSeconds;
    int Searching = 0;
    int Downloading = 0;
    // Set to 0 whenever a stream is opened; it starts at 0 too, so that it
    // never holds an indeterminate value.
    int SeekDragging = 0;
    int Cutting = 0;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCommand(int id) override;
    void OnListDoubleClick(int id) override;
    void OnTimer(unsigned id) override;
    void OnHScroll(int code, int control_id) override;
    void OnMessage(uint32_t message, intptr_t wparam, intptr_t lparam) override;
    void OnDestroy() override;

private:
    // Form.
    void SetUpResultList();
    void FillTodaysRange();
    bool RefuseField(int id, const char* message, bool edit_box);
    // Kills the timer whose id the variable holds, if any, and clears it.
    void KillArmedTimer(unsigned& timer_id);
    bool ExchangeTime(int id, int32_t& field, Exchange direction);
    bool ExchangeIntegerEdit(int id, int32_t& field, Exchange direction);
    void ExchangeSelection(int id, int32_t& field, Exchange direction);
    // Copies column 0 of the selected row into name, cut to the longest name
    // the library takes; false (after the message) when no row is selected.
    bool SelectedRecordingName(std::string& name);

    // Search.
    void ToggleSearch();
    void StartSearch();
    void StopSearch();
    void PollSearch();
    void AppendResultRow(const ResultRow& row);

    // Download.
    void ToggleDownload();
    void StartDownload();
    void StopDownload();
    void PollDownload();

    // Stream.
    void PlayStream();
    void StopStream();
    void ReopenSelected();
    using StreamCall = int32_t (*)(PlayerHandle);
    void Transport(StreamCall call);
    void OnStreamEvent(intptr_t code);
    void OnStreamStarted();
    void OnStreamBuffering();
    void PollBuffering();
    void SoundSwitch();
    void ToggleCut();
    void ShowBufferProgress(int32_t progress);
};

// The remote playback window, not yet created. With search_and_play the
// window presses "查找" once it is shown and, when that search has ended
// with rows, selects the first and presses "Play".
std::unique_ptr<CDlgNetFile> MakeRemotePlaybackWindow(bool search_and_play);

// Runs the remote playback window modally (the main window's remote
// button, and the varnel-remote program). A non-empty address replaces the
// window's default address before it is shown.
void RunRemotePlaybackWindow(const std::string& address = {}, bool search_and_play = false);

}  // namespace remote
