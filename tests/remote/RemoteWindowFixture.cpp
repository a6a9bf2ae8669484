#include "tests/remote/RemoteWindowFixture.h"

#include <cstdlib>

#include "ui/Calendar.h"

namespace remote_test {
namespace {

// The window reads the calendar in the local zone; fix one with daylight
// saving (last Sunday of March at 02:00, last Sunday of October at 03:00)
// before anything reads the time, so that the tests mean the same anywhere.
const bool kZoneFixed = [] {
#ifdef _WIN32
    _putenv_s("TZ", "CET-1CEST");  // the runtime knows no rules: its own cover the days tested
    _tzset();
#else
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
#endif
    return true;
}();

}  // namespace

std::time_t LocalMoment(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return ui::LocalMoment(fields);
}

std::tm Local(std::time_t value) { return ui::LocalCalendar(value); }

void RemoteWindowTest::SetUp() {
    ASSERT_TRUE(kZoneFixed);
    // Each test starts the process-wide state from its values at start.
    remote::NetFileDlg = nullptr;
    remote::SearchHandle = -1;
    remote::DownloadHandle = -1;
    remote::StreamHandle = PLAYER_NO_HANDLE;
    remote::SearchTimerId = 0;
    remote::DownloadTimerId = 0;
    remote::PositionTimerId = 0;
    remote::BufferingTimerId = 0;
    remote::SetClock([this] { return now_ != 0 ? now_ : LocalMoment(2026, 12, 8, 10, 30, 0); });
}

void RemoteWindowTest::TearDown() {
    if (window_ && window_->IsCreated()) window_->Destroy();
    window_.reset();
    ProcessEvents();
    remote::SetClock(nullptr);
}

remote::CDlgNetFile& RemoteWindowTest::Open() {
    if (window_ && window_->IsCreated()) window_->Destroy();
    window_ = std::make_unique<remote::CDlgNetFile>();
    window_->Create();
    ProcessEvents();
    return *window_;
}

remote::CDlgNetFile& RemoteWindowTest::OpenOnLoopback() {
    remote::CDlgNetFile& window = Open();
    TypeText(remote::IDC_ADDRESS, "127.0.0.1");
    return window;
}

remote::CDlgNetFile& RemoteWindowTest::OpenSearchingAndPlaying() {
    if (window_ && window_->IsCreated()) window_->Destroy();
    window_ = remote::MakeRemotePlaybackWindow(true);
    window_->ServerAddress = "127.0.0.1";
    window_->Create();
    ProcessEvents();
    return *window_;
}

void RemoteWindowTest::Close() {
    ASSERT_TRUE(window_);
    if (window_->IsCreated()) window_->Destroy();
    window_.reset();
}

void RemoteWindowTest::Click(int id) { EXPECT_TRUE(ui::testing::Click(*window_, id)) << id; }

void RemoteWindowTest::TypeText(int id, const std::string& text) {
    EXPECT_TRUE(ui::testing::TypeText(*window_, id, text)) << id;
}

void RemoteWindowTest::SelectRow(int row) {
    EXPECT_TRUE(ui::testing::SelectRow(*window_, remote::IDC_RESULT_LIST, row)) << row;
}

void RemoteWindowTest::DoubleClickRow(int row) {
    if (row >= 0) {
        EXPECT_TRUE(ui::testing::DoubleClickRow(*window_, remote::IDC_RESULT_LIST, row)) << row;
        return;
    }
    // A double-click on the empty part of the list, below its rows.
    EXPECT_TRUE(ui::testing::DoubleClickListBlank(*window_, remote::IDC_RESULT_LIST));
}

void RemoteWindowTest::ClearSelection() {
    window_->ListSelectRow(remote::IDC_RESULT_LIST, -1);
    ASSERT_EQ(window_->ListSelectedRow(remote::IDC_RESULT_LIST), -1);
}

void RemoteWindowTest::DragSeekBar(int position) {
    EXPECT_TRUE(ui::testing::DragSeekBar(*window_, remote::IDC_SEEK_BAR, position));
}

void RemoteWindowTest::PressEnter() {
    EXPECT_TRUE(ui::testing::PressKey(*window_, ui::testing::Key::Enter));
}

void RemoteWindowTest::PressEscape() {
    EXPECT_TRUE(ui::testing::PressKey(*window_, ui::testing::Key::Escape));
}

void RemoteWindowTest::ProcessEvents() { ui::testing::ProcessEvents(); }

bool RemoteWindowTest::WaitFor(const std::function<bool()>& condition) {
    return ui::testing::WaitUntil(condition);
}

void RemoteWindowTest::Notify(int code, PlayerHandle handle) {
    ui::testing::PostToWindow(*window_, WM_PLAYER_NOTIFY, code, handle);
}

void RemoteWindowTest::Report(const char* name, NetTime start, NetTime end, uint32_t bytes) {
    ASSERT_NE(lib_.SearchCallback(), nullptr) << "no search has been started";
    lib_.ReportSearchResult(remote::SearchHandle, name, &start, &end, bytes);
}

void RemoteWindowTest::SearchWithRows(int32_t handle, const std::vector<std::string>& names) {
    lib_.AnswerOnce("NetSearchFiles", handle);
    Click(remote::IDC_SEARCH);
    ASSERT_EQ(remote::SearchHandle, handle);
    const NetTime start{2026, 12, 8, 8, 0, 0, {}};
    const NetTime end{2026, 12, 8, 9, 0, 0, {}};
    for (const std::string& name : names) Report(name.c_str(), start, end, 1048576);
    ProcessEvents();
    ASSERT_EQ(window_->ListRowCount(remote::IDC_RESULT_LIST), static_cast<int>(names.size()));
    if (!names.empty()) SelectRow(0);
}

void RemoteWindowTest::OpenAndStartStream(PlayerHandle handle, uint32_t total_ms) {
    lib_.AnswerOnce("NetOpenStream", handle);
    lib_.Answer("PlayerGetTotalTime", total_ms);
    Click(remote::IDC_PLAY);
    ASSERT_EQ(remote::StreamHandle, handle);
    Notify(PLAYER_EVENT_STARTED, handle);
    ASSERT_EQ(window_->CurrentStreamState(), remote::StreamState::Playing);
}

std::vector<std::string> RemoteWindowTest::ListNames() {
    std::vector<std::string> names;
    for (int row = 0; row < window_->ListRowCount(remote::IDC_RESULT_LIST); ++row)
        names.push_back(window_->ListCell(remote::IDC_RESULT_LIST, row, 0));
    return names;
}

std::vector<std::string> RemoteWindowTest::Row(int row) {
    std::vector<std::string> cells;
    for (int column = 0; column < 4; ++column)
        cells.push_back(window_->ListCell(remote::IDC_RESULT_LIST, row, column));
    return cells;
}

}  // namespace remote_test
