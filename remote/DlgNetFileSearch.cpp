// The search for recordings: button 1024 starts and stops it, the library
// reports each recording through SearchResultCallback, and TIMER_SEARCH
// polls until the library says the search is over.
#include "player/Binding.h"
#include "remote/DlgNetFile.h"
#include "remote/FormFields.h"

namespace remote {
namespace {

// Year, month and day from the date value; hour, minute and second from
// the time value; both read in the local calendar.
NetTime SearchRecord(int32_t date, int32_t time_of_day) {
    const std::tm day = LocalCalendar(date);
    const std::tm clock = LocalCalendar(time_of_day);
    NetTime record{};  // the padding carries nothing; zeroed so no stack bytes leave
    record.year = static_cast<uint32_t>(day.tm_year + 1900);
    record.month = static_cast<uint8_t>(day.tm_mon + 1);
    record.day = static_cast<uint8_t>(day.tm_mday);
    record.hour = static_cast<uint8_t>(clock.tm_hour);
    record.minute = static_cast<uint8_t>(clock.tm_min);
    record.second = static_cast<uint8_t>(clock.tm_sec);
    return record;
}

}  // namespace

void SearchResultCallback(int32_t /*search*/, int32_t /*unused*/, const char* name,
                          const NetTime* start, const NetTime* end, uint32_t size,
                          int32_t /*unused2*/) {
    // The texts are made here, while the library's name and records are
    // valid; the window appends them on its own thread.
    SearchRowRelay().Push(MakeResultRow(name, start, end, size));
}

void CDlgNetFile::ToggleSearch() {
    if (Searching == 0) StartSearch();
    else StopSearch();
}

void CDlgNetFile::StartSearch() {
    KillArmedTimer(SearchTimerId);
    ExchangeFields(Exchange::FromControls);  // a refusal has shown its message; go on
    const NetTime start = SearchRecord(StartDate, StartTime);
    const NetTime end = SearchRecord(EndDate, EndTime);
    if (SearchHandle != -1) player::NetStopSearch(SearchHandle);
    const std::string address = player::LibraryText(ServerAddress);
    SearchHandle = player::NetSearchFiles(address.c_str(), "", ChannelIndex, kLogin, kPassword,
                                          FileTypeIndex + 1, 1, IsChecked(IDC_TIME_LIMIT) ? 1 : 0,
                                          &start, &end, &SearchResultCallback, WindowHandle(),
                                          static_cast<uint16_t>(ServerPort));
    if (SearchHandle < 0) {
        ui::MessageBox(this, kSearchFailedText);
        return;
    }
    // Rows reported while the search was being started are not kept: the
    // list starts empty, and so do the rows still on their way to it.
    ResultList.DeleteAllRows();
    SearchRowRelay().DiscardPending();
    SetItemText(IDC_SEARCH, kStopSearchCaption);
    Searching = 1;
    ShowItem(IDC_SEARCHING_LABEL, true);
    SearchTimerId = SetTimer(TIMER_SEARCH, kSearchIntervalMs);
}

void CDlgNetFile::StopSearch() {
    Searching = 0;
    KillArmedTimer(SearchTimerId);
    if (SearchHandle != -1) player::NetStopSearch(SearchHandle);
    SearchHandle = -1;
    SetItemText(IDC_SEARCH, kSearchCaption);
    ShowItem(IDC_SEARCHING_LABEL, false);
}

void CDlgNetFile::PollSearch() {
    if (player::NetGetSearchState(SearchHandle) != 1) return;
    Searching = 1;
    ToggleSearch();
}

void CDlgNetFile::AppendResultRow(const ResultRow& row) {
    const int index = ResultList.InsertRow(ResultList.RowCount(), row.name);
    ResultList.SetCell(index, 1, row.size);
    ResultList.SetCell(index, 2, row.start);
    ResultList.SetCell(index, 3, row.end);
}

}  // namespace remote
