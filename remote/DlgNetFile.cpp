// The remote window's object, its query form and the dispatch of its
// messages. The search, the download and the stream each keep their own
// source file.
#include "remote/DlgNetFile.h"

#include <memory>

#include "local/PositionDisplay.h"
#include "player/Binding.h"
#include "remote/FormFields.h"

namespace remote {

CDlgNetFile* NetFileDlg = nullptr;
int32_t SearchHandle = -1;
int32_t DownloadHandle = -1;
PlayerHandle StreamHandle = PLAYER_NO_HANDLE;
unsigned SearchTimerId = 0;
unsigned DownloadTimerId = 0;
unsigned PositionTimerId = 0;
unsigned BufferingTimerId = 0;

namespace {

std::function<std::time_t()>& Clock() {
    static std::function<std::time_t()> now;
    return now;
}

std::time_t Now() { return Clock() ? Clock()() : std::time(nullptr); }

struct ColumnSpec {
    const char* header;
    int width_px;
};
constexpr ColumnSpec kResultColumns[] = {
    {"文件名", 138}, {"文件大小(M)", 80}, {"起始时间", 100}, {"结束时间", 100}};

}  // namespace

void SetClock(std::function<std::time_t()> now) { Clock() = std::move(now); }

void ProgressBarControl::Bind(ui::Dialog* window, int id) {
    window_ = window;
    id_ = id;
}
void ProgressBarControl::SetRange(int minimum, int maximum) {
    window_->SetProgressRange(id_, minimum, maximum);
}
void ProgressBarControl::SetPos(int position) { window_->SetProgressPos(id_, position); }
void ProgressBarControl::Show(bool show) { window_->ShowItem(id_, show); }

void ListControl::Bind(ui::Dialog* window, int id) {
    window_ = window;
    id_ = id;
}
void ListControl::InsertColumn(int column, const std::string& header, int width_px) {
    window_->ListInsertColumn(id_, column, header, width_px);
}
void ListControl::SetFullRowSelect() { window_->ListSetFullRowSelect(id_); }
int ListControl::RowCount() const { return window_->ListRowCount(id_); }
int ListControl::InsertRow(int index, const std::string& text) {
    const int row = window_->ListInsertRow(id_, index, player::WindowText(text));
    if (row >= 0 && static_cast<size_t>(row) <= first_cells_.size())
        first_cells_.insert(first_cells_.begin() + row, text);
    return row;
}
void ListControl::SetCell(int row, int column, const std::string& text) {
    window_->ListSetCell(id_, row, column, column == 0 ? player::WindowText(text) : text);
    if (column == 0 && row >= 0 && static_cast<size_t>(row) < first_cells_.size())
        first_cells_[static_cast<size_t>(row)] = text;
}
std::string ListControl::Cell(int row, int column) const {
    if (column == 0 && row >= 0 && static_cast<size_t>(row) < first_cells_.size())
        return first_cells_[static_cast<size_t>(row)];
    return window_->ListCell(id_, row, column);
}
void ListControl::DeleteAllRows() {
    window_->ListDeleteAllRows(id_);
    first_cells_.clear();
}
int ListControl::SelectedRow() const { return window_->ListSelectedRow(id_); }
void ListControl::Focus() { window_->SetFocusItem(id_); }

CDlgNetFile::CDlgNetFile(ui::Dialog* parent) : ui::Dialog(kRemoteTemplateId, parent) {
    NetFileDlg = this;
}

bool CDlgNetFile::RefuseField(int id, const char* message, bool edit_box) {
    ui::MessageBox(this, message);
    SetFocusItem(id);
    if (edit_box) SelectAllText(id);
    return false;
}

bool CDlgNetFile::ExchangeTime(int id, int32_t& field, Exchange direction) {
    if (direction == Exchange::ToControls) SetPickerTime(id, field);
    else field = ToTimeValue(PickerTime(id));
    return true;
}

bool CDlgNetFile::ExchangeIntegerEdit(int id, int32_t& field, Exchange direction) {
    if (direction == Exchange::ToControls) {
        SetItemText(id, std::to_string(field));
        return true;
    }
    const std::optional<int32_t> value = ParseDecimalInt(ItemText(id));
    if (!value) return RefuseField(id, kNotAnIntegerMessage, true);
    field = *value;
    return true;
}

void CDlgNetFile::ExchangeSelection(int id, int32_t& field, Exchange direction) {
    if (direction == Exchange::ToControls) SetDropDownSelection(id, field);
    else field = DropDownSelection(id);
}

bool CDlgNetFile::ExchangeFields(Exchange direction) {
    const bool from_controls = direction == Exchange::FromControls;
    ProgressBar.Bind(this, IDC_PROGRESS);
    ResultList.Bind(this, IDC_RESULT_LIST);

    ExchangeTime(IDC_START_TIME, StartTime, direction);
    ExchangeTime(IDC_END_TIME, EndTime, direction);
    ExchangeTime(IDC_START_DATE, StartDate, direction);
    ExchangeTime(IDC_END_DATE, EndDate, direction);

    if (from_controls) {
        // A text over the limit is refused before it is taken, so the
        // address never holds more than the library's 40 characters.
        std::string address = ItemText(IDC_ADDRESS);
        if (CharacterCount(address) > kAddressMaxCharacters)
            return RefuseField(IDC_ADDRESS, kAddressTooLongMessage, true);
        ServerAddress = std::move(address);
    } else {
        SetItemText(IDC_ADDRESS, ServerAddress);
        SetTextLimit(IDC_ADDRESS, kAddressMaxCharacters);
    }

    if (!ExchangeIntegerEdit(IDC_PORT, ServerPort, direction)) return false;

    ExchangeSelection(IDC_CHANNEL, ChannelIndex, direction);
    ExchangeSelection(IDC_ALARM_TYPE, AlarmTypeIndex, direction);
    ExchangeSelection(IDC_FILE_TYPE, FileTypeIndex, direction);

    // The buffer length is stored before its range is tested, so a refused
    // length still reaches the stream.
    if (!ExchangeIntegerEdit(IDC_BUFFER_SECONDS, BufferSeconds, direction)) return false;
    if (from_controls && (BufferSeconds < kBufferSecondsMin || BufferSeconds > kBufferSecondsMax))
        return RefuseField(IDC_BUFFER_SECONDS, kBufferRangeMessage, true);
    return true;
}

void CDlgNetFile::SetUpResultList() {
    int column = 0;
    for (const ColumnSpec& entry : kResultColumns)
        ResultList.InsertColumn(column++, entry.header, entry.width_px);
    ResultList.SetFullRowSelect();
}

void CDlgNetFile::FillTodaysRange() {
    const std::time_t now = Now();
    const int32_t day_start = LocalDayAt(now, 0, 0, 0);
    const int32_t day_end = LocalDayAt(now, 23, 59, 59);
    StartDate = day_start;
    StartTime = day_start;
    EndDate = day_start;
    EndTime = day_end;
}

bool CDlgNetFile::OnInitDialog() {
    ExchangeFields(Exchange::ToControls);  // binds the progress bar and the list
    SetUpResultList();
    local::SetUpSeekBar(*this, 100);
    ProgressBar.SetRange(0, 100);
    ProgressBar.SetPos(0);
    FillTodaysRange();
    ExchangeFields(Exchange::ToControls);
    SearchRowRelay().Attach(GetMailbox(), [this](const ResultRow& row) { AppendResultRow(row); });
    return true;  // the focus goes to the address box, first in tab order
}

void CDlgNetFile::OnOK() {
    if (ExchangeFields(Exchange::FromControls)) EndDialog(ui::IDOK);
}

void CDlgNetFile::OnCommand(int id) {
    switch (id) {
        case IDC_SEARCH: ToggleSearch(); break;
        case IDC_DOWNLOAD: ToggleDownload(); break;
        case IDC_PLAY: PlayStream(); break;
        case IDC_STOP: StopStream(); break;
        case IDC_PAUSE: Transport(player::PlayerPause); break;
        case IDC_STEP: Transport(player::PlayerStepFrame); break;
        case IDC_FAST: Transport(player::PlayerFast); break;
        case IDC_SLOW: Transport(player::PlayerSlow); break;
        case IDC_AUDIO: SoundSwitch(); break;
        case IDC_CUT: ToggleCut(); break;
        default: break;
    }
}

void CDlgNetFile::OnListDoubleClick(int id) {
    if (id == IDC_RESULT_LIST) ReopenSelected();
}

void CDlgNetFile::OnTimer(unsigned id) {
    switch (id) {
        case TIMER_SEARCH: PollSearch(); break;
        case TIMER_DOWNLOAD: PollDownload(); break;
        case TIMER_NET_POSITION: local::RefreshPosition(*this, StreamHandle, SeekDragging); break;
        case TIMER_BUFFERING: PollBuffering(); break;
        default: break;
    }
}

void CDlgNetFile::OnHScroll(int code, int control_id) {
    local::OnSeekBarScroll(*this, code, control_id, StreamHandle, SeekDragging,
                           local::HandleCheck::kSkipWithoutHandle);
}

void CDlgNetFile::OnMessage(uint32_t message, intptr_t wparam, intptr_t lparam) {
    if (message != WM_PLAYER_NOTIFY) return;
    if (lparam != StreamHandle) return;  // a late event of a stream already closed
    OnStreamEvent(wparam);
}

void CDlgNetFile::OnDestroy() {
    if (Searching == 1) ToggleSearch();
    if (Downloading == 1) ToggleDownload();
    StopStream();
    SearchRowRelay().Detach();
}

void CDlgNetFile::KillArmedTimer(unsigned& timer_id) {
    if (timer_id == 0) return;
    KillTimer(timer_id);
    timer_id = 0;
}

bool CDlgNetFile::SelectedRecordingName(std::string& name) {
    const int row = ResultList.SelectedRow();
    if (row == -1) {
        ui::MessageBox(this, kSelectFileText);
        ResultList.Focus();
        return false;
    }
    name = ResultList.Cell(row, 0).substr(0, kMaxRecordingNameBytes);
    return true;
}

StreamState CDlgNetFile::CurrentStreamState() const {
    if (StreamHandle == PLAYER_NO_HANDLE) return StreamState::Idle;
    if (Cutting == 1) return StreamState::Cutting;
    // The transport buttons come on with the stream's start.
    return IsItemEnabled(IDC_PAUSE) ? StreamState::Playing : StreamState::Opened;
}

namespace {

// The window as the demo runs it: a user's search, then a user's Play on
// the first row found.
class SearchAndPlayWindow final : public CDlgNetFile {
protected:
    bool OnInitDialog() override {
        const bool result = CDlgNetFile::OnInitDialog();
        GetMailbox()->Post([this] { OnCommand(IDC_SEARCH); });  // once the window shows
        return result;
    }
    void OnTimer(unsigned id) override {
        CDlgNetFile::OnTimer(id);
        if (id != TIMER_SEARCH || Searching == 1 || played_) return;
        played_ = true;
        if (ResultList.RowCount() == 0) return;
        ListSelectRow(IDC_RESULT_LIST, 0);
        OnCommand(IDC_PLAY);
    }

private:
    bool played_ = false;
};

}  // namespace

std::unique_ptr<CDlgNetFile> MakeRemotePlaybackWindow(bool search_and_play) {
    if (search_and_play) return std::make_unique<SearchAndPlayWindow>();
    return std::make_unique<CDlgNetFile>();
}

void RunRemotePlaybackWindow(const std::string& address, bool search_and_play) {
    std::unique_ptr<CDlgNetFile> window = MakeRemotePlaybackWindow(search_and_play);
    if (!address.empty()) window->ServerAddress = address;
    window->DoModal();
}

}  // namespace remote
