// The query form: defaults, today's range, validation and the exchange order.
#include <limits>
#include <string>

#include "remote/FormFields.h"
#include "tests/remote/RemoteWindowFixture.h"

namespace remote_test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace remote;

TEST(ParseDecimalInt, TakesSigned32BitDecimalsAndRefusesTheRest) {
    EXPECT_EQ(ParseDecimalInt("3000"), 3000);
    EXPECT_EQ(ParseDecimalInt(" 42 "), 42);
    EXPECT_EQ(ParseDecimalInt("0"), 0);
    EXPECT_EQ(ParseDecimalInt("2147483647"), 2147483647);
    EXPECT_EQ(ParseDecimalInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimalInt("2147483648"), std::nullopt);
    EXPECT_EQ(ParseDecimalInt("99999999999999999999"), std::nullopt);
    EXPECT_EQ(ParseDecimalInt(""), std::nullopt);
    EXPECT_EQ(ParseDecimalInt("   "), std::nullopt);
    EXPECT_EQ(ParseDecimalInt("12a"), std::nullopt);
    EXPECT_EQ(ParseDecimalInt("1 2"), std::nullopt);
}

TEST(FormFields, CountsCharactersNotBytesAndHoldsPickerValuesInRange) {
    EXPECT_EQ(CharacterCount("127.0.0.1"), 9);
    EXPECT_EQ(CharacterCount("录像机"), 3);
    EXPECT_EQ(ToTimeValue(std::numeric_limits<std::time_t>::max()), 2147483647);
    EXPECT_EQ(ToTimeValue(std::numeric_limits<std::time_t>::min()), -2147483647 - 1);
    EXPECT_EQ(ToTimeValue(1000), 1000);
}

struct Moment {
    const char* name;
    int year, month, day, hour, minute, second;
};
void PrintTo(const Moment& moment, std::ostream* out) { *out << moment.name; }

class DefaultsAtOpen : public RemoteWindowTest, public ::testing::WithParamInterface<Moment> {};

TEST_P(DefaultsAtOpen, ShowTodaysRangeAndTheConstructionValues) {
    const Moment m = GetParam();
    now_ = LocalMoment(m.year, m.month, m.day, m.hour, m.minute, m.second);
    CDlgNetFile& w = Open();

    EXPECT_EQ(w.Title(), "远程回放");
    EXPECT_EQ(w.ItemText(IDC_ADDRESS), kDefaultServerAddress);
    EXPECT_EQ(w.ItemText(IDC_PORT), "3000");
    EXPECT_EQ(w.DropDownSelection(IDC_CHANNEL), 0);
    EXPECT_EQ(w.DropDownSelection(IDC_ALARM_TYPE), 0);
    EXPECT_EQ(w.DropDownSelection(IDC_FILE_TYPE), 0);
    EXPECT_EQ(w.ItemText(IDC_BUFFER_SECONDS), "20");
    EXPECT_FALSE(w.IsChecked(IDC_TIME_LIMIT));

    for (int id : {IDC_START_DATE, IDC_END_DATE}) {
        const std::tm date = Local(w.PickerTime(id));
        EXPECT_EQ(date.tm_year + 1900, m.year) << id;
        EXPECT_EQ(date.tm_mon + 1, m.month) << id;
        EXPECT_EQ(date.tm_mday, m.day) << id;
    }
    const std::tm start = Local(w.PickerTime(IDC_START_TIME));
    EXPECT_EQ(start.tm_hour * 3600 + start.tm_min * 60 + start.tm_sec, 0);
    const std::tm end = Local(w.PickerTime(IDC_END_TIME));
    EXPECT_EQ(end.tm_hour * 3600 + end.tm_min * 60 + end.tm_sec, 23 * 3600 + 59 * 60 + 59);

    // The records the library receives say the same.
    TypeText(IDC_ADDRESS, "127.0.0.1");
    Click(IDC_SEARCH);
    const std::string day = std::to_string(m.year) + "," + std::to_string(m.month) + "," +
                            std::to_string(m.day);
    EXPECT_THAT(lib_.CallsNamed("NetSearchFiles"),
                ElementsAre("NetSearchFiles(\"127.0.0.1\", \"\", 0, \"246135\", \"246135\", 1, 1, 0, {" +
                            day + ",0,0,0}, {" + day + ",23,59,59}, callback, hwnd(129), 3000)"));
}

INSTANTIATE_TEST_SUITE_P(
    AnyTimeOfDay, DefaultsAtOpen,
    ::testing::Values(Moment{"JustBeforeMidnight", 2026, 12, 8, 23, 59, 59},
                      Moment{"AtMidnight", 2026, 12, 9, 0, 0, 0},
                      Moment{"JustAfterMidnight", 2026, 12, 9, 0, 0, 1},
                      Moment{"Noon", 2026, 7, 1, 12, 0, 0},
                      // Daylight saving starts during this day: the day is
                      // 23 hours long, and 23:59:59 is still on it.
                      Moment{"DaylightSavingStarts", 2026, 3, 29, 18, 30, 0},
                      Moment{"DaylightSavingEnds", 2026, 10, 25, 1, 0, 0}),
    [](const ::testing::TestParamInfo<Moment>& info) { return std::string(info.param.name); });

TEST_F(RemoteWindowTest, InitialisedControlsMatchTheIdleWindow) {
    CDlgNetFile& w = Open();
    EXPECT_EQ(w.ListColumnCount(IDC_RESULT_LIST), 4);
    const char* headers[] = {"文件名", "文件大小(M)", "起始时间", "结束时间"};
    const int widths[] = {138, 80, 100, 100};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(w.ListColumnHeader(IDC_RESULT_LIST, c), headers[c]);
        EXPECT_EQ(w.ListColumnWidth(IDC_RESULT_LIST, c), widths[c]);
    }
    EXPECT_EQ(w.ListRowCount(IDC_RESULT_LIST), 0);
    EXPECT_EQ(w.TrackMin(IDC_SEEK_BAR), 0);
    EXPECT_EQ(w.TrackMax(IDC_SEEK_BAR), 100);
    EXPECT_EQ(w.TrackLineSize(IDC_SEEK_BAR), 1);
    EXPECT_EQ(w.TrackPageSize(IDC_SEEK_BAR), 1);
    EXPECT_FALSE(w.IsItemEnabled(IDC_SEEK_BAR));
    EXPECT_FALSE(w.IsItemVisible(IDC_PROGRESS));
    EXPECT_EQ(w.ProgressPos(IDC_PROGRESS), 0);
    for (int id : {IDC_SEARCHING_LABEL, IDC_DOWNLOADING_LABEL, IDC_ELAPSED, IDC_TOTAL,
                   IDC_BUFFERING_LABEL})
        EXPECT_FALSE(w.IsItemVisible(id)) << id;
    EXPECT_TRUE(w.IsItemEnabled(IDC_PLAY));
    for (int id : {IDC_STOP, IDC_PAUSE, IDC_STEP, IDC_FAST, IDC_SLOW, IDC_AUDIO, IDC_CUT})
        EXPECT_FALSE(w.IsItemEnabled(id)) << id;
    EXPECT_EQ(w.CurrentStreamState(), StreamState::Idle);
    EXPECT_EQ(w.FocusedItem(), IDC_ADDRESS);
    EXPECT_EQ(NetFileDlg, &w);
    EXPECT_TRUE(lib_.Calls().empty());  // opening the form asks nothing of the library
}

TEST_F(RemoteWindowTest, AddressBoxTakesNoFortyFirstCharacter) {
    CDlgNetFile& w = Open();
    const std::string forty(40, '7');
    TypeText(IDC_ADDRESS, forty + "8");
    EXPECT_EQ(w.ItemText(IDC_ADDRESS), forty);
    EXPECT_TRUE(w.ExchangeFields(CDlgNetFile::Exchange::FromControls));
    EXPECT_EQ(w.ServerAddress, forty);
}

class BufferOutOfRange : public RemoteWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(BufferOutOfRange, IsRefusedWithTheRangeMessageAfterBeingStored) {
    CDlgNetFile& w = Open();
    TypeText(IDC_BUFFER_SECONDS, std::to_string(GetParam()));
    EXPECT_FALSE(w.ExchangeFields(CDlgNetFile::Exchange::FromControls));
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kBufferRangeMessage));
    EXPECT_EQ(w.BufferSeconds, GetParam());
    EXPECT_EQ(w.FocusedItem(), IDC_BUFFER_SECONDS);
    EXPECT_EQ(ui::testing::SelectedText(w, IDC_BUFFER_SECONDS), std::to_string(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(ZeroAndTwentyOne, BufferOutOfRange, ::testing::Values(0, 21));

TEST_F(RemoteWindowTest, BufferLimitsOneAndTwentyAreAccepted) {
    CDlgNetFile& w = Open();
    for (int seconds : {1, 20}) {
        TypeText(IDC_BUFFER_SECONDS, std::to_string(seconds));
        EXPECT_TRUE(w.ExchangeFields(CDlgNetFile::Exchange::FromControls));
        EXPECT_EQ(w.BufferSeconds, seconds);
    }
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(RemoteWindowTest, EmptyPortIsRefusedAndLaterFieldsAreNotTakenOver) {
    CDlgNetFile& w = Open();
    const std::time_t new_start = LocalMoment(2025, 1, 2, 3, 4, 5);
    w.SetPickerTime(IDC_START_DATE, new_start);
    TypeText(IDC_ADDRESS, "127.0.0.1");
    TypeText(IDC_PORT, "");
    w.SetDropDownSelection(IDC_CHANNEL, 2);
    w.SetDropDownSelection(IDC_ALARM_TYPE, 3);
    w.SetDropDownSelection(IDC_FILE_TYPE, 1);
    TypeText(IDC_BUFFER_SECONDS, "7");

    EXPECT_FALSE(w.ExchangeFields(CDlgNetFile::Exchange::FromControls));
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kNotAnIntegerMessage));
    EXPECT_EQ(w.FocusedItem(), IDC_PORT);
    // Taken before the port: the dates, times and address.
    EXPECT_EQ(Local(w.StartDate).tm_year + 1900, 2025);
    EXPECT_EQ(w.ServerAddress, "127.0.0.1");
    // The port and everything after it keep their old values.
    EXPECT_EQ(w.ServerPort, 3000);
    EXPECT_EQ(w.ChannelIndex, 0);
    EXPECT_EQ(w.AlarmTypeIndex, 0);
    EXPECT_EQ(w.FileTypeIndex, 0);
    EXPECT_EQ(w.BufferSeconds, 20);
}

TEST_F(RemoteWindowTest, PortBeyondThirtyTwoBitsIsRefusedNotWrapped) {
    CDlgNetFile& w = Open();
    // 2^32 + 3000, set as it stands: the system's box, which does not
    // scroll, takes by typing only the digits that fit its width.
    w.SetItemText(IDC_PORT, "4294970296");
    EXPECT_FALSE(w.ExchangeFields(CDlgNetFile::Exchange::FromControls));
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kNotAnIntegerMessage));
    EXPECT_EQ(w.ServerPort, 3000);
}

TEST_F(RemoteWindowTest, AllFieldsTakenOverWhenValid) {
    CDlgNetFile& w = Open();
    TypeText(IDC_ADDRESS, "127.0.0.1");
    TypeText(IDC_PORT, "68536");
    w.SetDropDownSelection(IDC_CHANNEL, 3);
    w.SetDropDownSelection(IDC_ALARM_TYPE, 2);
    w.SetDropDownSelection(IDC_FILE_TYPE, 1);
    TypeText(IDC_BUFFER_SECONDS, "5");
    EXPECT_TRUE(w.ExchangeFields(CDlgNetFile::Exchange::FromControls));
    EXPECT_TRUE(boxes_.Texts().empty());
    EXPECT_EQ(w.ServerPort, 68536);  // any integer: the requests take its low 16 bits
    EXPECT_EQ(w.ChannelIndex, 3);
    EXPECT_EQ(w.AlarmTypeIndex, 2);
    EXPECT_EQ(w.FileTypeIndex, 1);
    EXPECT_EQ(w.BufferSeconds, 5);
}

TEST_F(RemoteWindowTest, AlarmTypeChangesNoRequest) {
    CDlgNetFile& w = OpenOnLoopback();
    Click(IDC_SEARCH);
    Click(IDC_SEARCH);
    w.SetDropDownSelection(IDC_ALARM_TYPE, 3);
    Click(IDC_SEARCH);
    const auto searches = lib_.CallsNamed("NetSearchFiles");
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[0], searches[1]);
}

TEST_F(RemoteWindowTest, EnterWithValidFieldsClosesAndStopsEverything) {
    OpenOnLoopback();
    SearchWithRows(4, {"a.mp4"});
    lib_.AnswerOnce("NetStartDownload", 5);
    Click(IDC_DOWNLOAD);
    OpenAndStartStream(6);
    Window().SetFocusItem(IDC_PORT);  // Enter on a push button would click it
    lib_.ClearCalls();
    PressEnter();
    EXPECT_TRUE(Window().IsEnded());
    EXPECT_EQ(Window().Result(), ui::IDOK);
    Close();  // the modal run destroys the window once it has ended
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetStopSearch(4)", "NetStopDownload(5)", "PlayerClose(6)"));
    EXPECT_EQ(SearchHandle, -1);
    EXPECT_EQ(DownloadHandle, -1);
    EXPECT_EQ(StreamHandle, -1);
}

TEST_F(RemoteWindowTest, ARefusedFieldStillLetsDownloadAndSearchGoAhead) {
    OpenOnLoopback();
    SearchWithRows(4, {"a.mp4"});
    Click(IDC_SEARCH);  // stopped
    TypeText(IDC_PORT, "");
    lib_.ClearCalls();
    lib_.AnswerOnce("NetStartDownload", 5);
    Click(IDC_DOWNLOAD);
    Click(IDC_SEARCH);
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kNotAnIntegerMessage, kNotAnIntegerMessage));
    EXPECT_THAT(lib_.CallsNamed("NetStartDownload"),
                ElementsAre("NetStartDownload(\"127.0.0.1\", \"246135\", \"246135\", \"a.mp4\", \"d:\\test.mp4\", "
                            "3000, 0, 0, 0)"));
    ASSERT_EQ(lib_.CallsNamed("NetSearchFiles").size(), 1u);
    EXPECT_THAT(lib_.CallsNamed("NetSearchFiles")[0], ::testing::EndsWith(", 3000)"));
}

TEST_F(RemoteWindowTest, EnterWithARefusedValueKeepsTheWindowOpen) {
    OpenOnLoopback();
    TypeText(IDC_BUFFER_SECONDS, "0");
    Window().SetFocusItem(IDC_PORT);
    PressEnter();
    EXPECT_FALSE(Window().IsEnded());
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kBufferRangeMessage));
}

TEST_F(RemoteWindowTest, EscapeClosesWithoutAnExchange) {
    CDlgNetFile& w = Open();
    TypeText(IDC_PORT, "");  // would be refused by an exchange
    PressEscape();
    EXPECT_TRUE(w.IsEnded());
    EXPECT_EQ(w.Result(), ui::IDCANCEL);
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(RemoteWindowTest, ReopeningShowsDefaultsWhileProcessWideStateCarriesOver) {
    OpenOnLoopback();
    TypeText(IDC_PORT, "4000");
    lib_.AnswerOnce("NetSearchFiles", -7);
    Click(IDC_SEARCH);
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kSearchFailedText));
    Close();
    EXPECT_EQ(SearchHandle, -7);  // a failed search is not running, so closing keeps it
    EXPECT_EQ(SearchTimerId, 0u);
    EXPECT_EQ(DownloadHandle, -1);
    EXPECT_EQ(StreamHandle, -1);

    CDlgNetFile& again = Open();
    EXPECT_EQ(again.ItemText(IDC_PORT), "3000");
    EXPECT_EQ(again.ItemText(IDC_ADDRESS), kDefaultServerAddress);
    EXPECT_EQ(again.ServerPort, 3000);
    TypeText(IDC_ADDRESS, "127.0.0.1");
    lib_.ClearCalls();
    lib_.AnswerOnce("NetSearchFiles", 8);
    Click(IDC_SEARCH);
    const auto calls = lib_.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "NetStopSearch(-7)");  // the old handle reached the new opening
    EXPECT_THAT(calls[1], HasSubstr("NetSearchFiles(\"127.0.0.1\""));
    EXPECT_EQ(SearchHandle, 8);
    EXPECT_EQ(SearchTimerId, TIMER_SEARCH);
}

}  // namespace
}  // namespace remote_test
