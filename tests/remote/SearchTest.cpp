// The recording search: the call, its outcome, the rows and the poll.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "remote/SearchRows.h"
#include "tests/remote/RemoteWindowFixture.h"

namespace remote_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace remote;

TEST(SearchRows, SizeColumnInMegabytes) {
    EXPECT_EQ(FormatSizeMb(0), "0.00");
    EXPECT_EQ(FormatSizeMb(1572864), "1.50");
    EXPECT_EQ(FormatSizeMb(4294967295u), "4096.00");
}

TEST(SearchRows, TimeColumnsPrintEveryFieldAsTheFormatGives) {
    EXPECT_EQ(FormatNetTime(NetTime{2011, 3, 5, 14, 7, 9, {}}), "20110305140709");
    EXPECT_EQ(FormatNetTime(NetTime{0, 1, 2, 3, 4, 5, {}}), "00000102030405");
    EXPECT_EQ(FormatNetTime(NetTime{2026, 123, 1, 1, 1, 255, {}}), "2026123010101255");
    EXPECT_EQ(FormatNetTime(NetTime{4294967295u, 12, 31, 23, 59, 59, {}}), "4294967295123123" "5959");
}

// Runs the relay's posted tasks when the test says, one at a time.
class QueuedMailbox final : public ui::Mailbox {
public:
    bool Post(std::function<void()> task) override {
        tasks.push_back(std::move(task));
        return true;
    }
    void RunOne() {
        auto task = std::move(tasks.front());
        tasks.erase(tasks.begin());
        task();
    }
    std::vector<std::function<void()>> tasks;
};

TEST(SearchRows, ALongAnswerIsAppendedInSlicesInPushOrder) {
    auto mailbox = std::make_shared<QueuedMailbox>();
    std::vector<std::string> appended;
    ResultRowRelay relay;
    relay.Attach(mailbox, [&](const ResultRow& row) {
        appended.push_back(row.name);
        // A slow list. Waited out on the clock the relay reads: a sleep this
        // short may not sleep at all on some systems.
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
        while (std::chrono::steady_clock::now() < until) {
        }
    });
    // From a library thread: rows pushed on the window's own go in at once.
    const auto push = [&](int from, int to) {
        std::thread([&] {
            for (int i = from; i < to; ++i) relay.Push(ResultRow{std::to_string(i), "", "", ""});
        }).join();
    };
    push(0, 500);
    ASSERT_EQ(mailbox->tasks.size(), 1u);
    mailbox->RunOne();
    EXPECT_LT(appended.size(), 500u);  // the window got its turn before the end
    push(500, 600);                     // rows still arriving meanwhile
    while (!mailbox->tasks.empty()) mailbox->RunOne();
    ASSERT_EQ(appended.size(), 600u);
    for (int i = 0; i < 600; ++i) EXPECT_EQ(appended[static_cast<size_t>(i)], std::to_string(i));
    relay.Detach();
}

TEST_F(RemoteWindowTest, SearchPassesTheThirteenArguments) {
    CDlgNetFile& w = OpenOnLoopback();
    TypeText(IDC_PORT, "68536");  // 65536 + 3000: the library gets the low 16 bits
    w.SetDropDownSelection(IDC_CHANNEL, 2);
    w.SetDropDownSelection(IDC_FILE_TYPE, 1);
    Click(IDC_TIME_LIMIT);
    // An end before the start goes as it is.
    w.SetPickerTime(IDC_START_DATE, LocalMoment(2011, 3, 5, 12, 0, 0));
    w.SetPickerTime(IDC_START_TIME, LocalMoment(2011, 3, 5, 14, 7, 9));
    w.SetPickerTime(IDC_END_DATE, LocalMoment(2010, 1, 2, 12, 0, 0));
    w.SetPickerTime(IDC_END_TIME, LocalMoment(2010, 1, 2, 3, 4, 5));
    Click(IDC_SEARCH);
    EXPECT_THAT(lib_.Calls(),
                ElementsAre("NetSearchFiles(\"127.0.0.1\", \"\", 2, \"246135\", \"246135\", 2, 1, 1, "
                            "{2011,3,5,14,7,9}, {2010,1,2,3,4,5}, callback, hwnd(129), 3000)"));
#ifndef _WIN32  // there the library gets the binding's callback in its own convention
    EXPECT_EQ(lib_.SearchCallback(), &remote::SearchResultCallback);
#endif
}

TEST_F(RemoteWindowTest, DatePickersHoldTheDaysOfATimeValueAndPlace1970EastOfUtc) {
    CDlgNetFile& w = OpenOnLoopback();  // the fixture's zone is an hour east of UTC
    Click(IDC_TIME_LIMIT);
    w.SetPickerTime(IDC_START_DATE, LocalMoment(1969, 12, 31, 12, 0, 0));  // shown as the first day
    w.SetPickerTime(IDC_START_TIME, LocalMoment(1970, 1, 1, 0, 0, 0));     // before 1970 in UTC
    w.SetPickerTime(IDC_END_DATE, LocalMoment(2038, 1, 19, 0, 30, 0));     // shown as the last day
    w.SetPickerTime(IDC_END_TIME, LocalMoment(2026, 12, 8, 1, 2, 3));
    Click(IDC_SEARCH);
    ASSERT_EQ(lib_.CallsNamed("NetSearchFiles").size(), 1u);
    EXPECT_THAT(lib_.CallsNamed("NetSearchFiles")[0], ::testing::HasSubstr("{1970,1,1,0,0,0}, {2038,1,18,1,2,3}"));
}

TEST_F(RemoteWindowTest, HandleZeroIsASuccessfulStart) {
    CDlgNetFile& w = OpenOnLoopback();
    lib_.AnswerOnce("NetSearchFiles", 0);
    Click(IDC_SEARCH);
    EXPECT_THAT(boxes_.Texts(), IsEmpty());
    EXPECT_EQ(SearchHandle, 0);
    EXPECT_EQ(w.Searching, 1);
    EXPECT_EQ(w.ItemText(IDC_SEARCH), kStopSearchCaption);
    EXPECT_TRUE(w.IsItemVisible(IDC_SEARCHING_LABEL));
    EXPECT_EQ(SearchTimerId, TIMER_SEARCH);
    EXPECT_TRUE(w.IsTimerArmed(TIMER_SEARCH));
}

TEST_F(RemoteWindowTest, RefusedSearchKeepsTheOldRowsAndTheNegativeHandle) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(3, {"old1.mp4", "old2.mp4"});
    Click(IDC_SEARCH);  // stop
    lib_.ClearCalls();
    lib_.AnswerOnce("NetSearchFiles", -5);
    Click(IDC_SEARCH);
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kSearchFailedText));
    EXPECT_THAT(ListNames(), ElementsAre("old1.mp4", "old2.mp4"));
    EXPECT_EQ(SearchHandle, -5);
    EXPECT_EQ(w.Searching, 0);
    EXPECT_EQ(w.ItemText(IDC_SEARCH), kSearchCaption);
    EXPECT_FALSE(w.IsItemVisible(IDC_SEARCHING_LABEL));
    EXPECT_FALSE(w.IsTimerArmed(TIMER_SEARCH));
    EXPECT_EQ(SearchTimerId, 0u);
    // The next start hands the negative handle to the library's stop first.
    lib_.ClearCalls();
    Click(IDC_SEARCH);
    ASSERT_FALSE(lib_.Calls().empty());
    EXPECT_EQ(lib_.Calls()[0], "NetStopSearch(-5)");
}

TEST_F(RemoteWindowTest, RowsKeepCallOrderAndAllFourColumns) {
    OpenOnLoopback();
    SearchWithRows(1, {});
    Report("a.mp4", NetTime{2011, 3, 5, 14, 7, 9, {}}, NetTime{2011, 3, 5, 15, 0, 0, {}}, 1572864);
    Report("b.mp4", NetTime{0, 1, 1, 0, 0, 0, {}}, NetTime{2026, 200, 1, 1, 1, 1, {}}, 0);
    Report("a.mp4", NetTime{2020, 1, 1, 0, 0, 0, {}}, NetTime{2020, 1, 1, 0, 0, 1, {}}, 4294967295u);
    ProcessEvents();
    ASSERT_EQ(Window().ListRowCount(IDC_RESULT_LIST), 3);
    EXPECT_THAT(Row(0), ElementsAre("a.mp4", "1.50", "20110305140709", "20110305150000"));
    EXPECT_THAT(Row(1), ElementsAre("b.mp4", "0.00", "00000101000000", "20262000101" "0101"));
    EXPECT_THAT(Row(2), ElementsAre("a.mp4", "4096.00", "20200101000000", "20200101000001"));
}

TEST_F(RemoteWindowTest, RowsFromLibraryThreadsArriveInCallOrder) {
    OpenOnLoopback();
    SearchWithRows(1, {});
    constexpr int kRows = 200;
    std::thread library([] {
        for (int i = 0; i < kRows; ++i) {
            const std::string name = "rec" + std::to_string(i) + ".mp4";
            const NetTime t{2026, 12, 8, 1, 2, 3, {}};
            remote::SearchResultCallback(1, 0, name.c_str(), &t, &t, static_cast<uint32_t>(i), 0);
        }
    });
    // The window keeps handling its messages meanwhile.
    ASSERT_TRUE(WaitFor([&] { return Window().ListRowCount(IDC_RESULT_LIST) == kRows; }));
    library.join();
    ProcessEvents();
    const auto names = ListNames();
    ASSERT_EQ(names.size(), static_cast<size_t>(kRows));
    for (int i = 0; i < kRows; ++i) EXPECT_EQ(names[i], "rec" + std::to_string(i) + ".mp4");
}

TEST_F(RemoteWindowTest, RowsReportedWhileTheSearchStartsAreNotKept) {
    OpenOnLoopback();
    SearchWithRows(1, {"previous.mp4"});
    Click(IDC_SEARCH);  // stop
    lib_.AnswerWith("NetSearchFiles", [](const fake::Call&) -> int64_t {
        const NetTime t{2026, 12, 8, 0, 0, 0, {}};
        remote::SearchResultCallback(2, 0, "early.mp4", &t, &t, 1, 0);
        return 2;
    });
    Click(IDC_SEARCH);
    ProcessEvents();
    EXPECT_THAT(ListNames(), IsEmpty());
    Report("late.mp4", NetTime{2026, 12, 8, 0, 0, 0, {}}, NetTime{2026, 12, 8, 0, 0, 0, {}}, 1);
    ProcessEvents();
    EXPECT_THAT(ListNames(), ElementsAre("late.mp4"));
}

TEST_F(RemoteWindowTest, ARowReportedOnTheWindowsThreadIsListedBeforeTheCallbackReturns) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(6, {});
    lib_.AnswerWith("NetGetSearchState", [this](const fake::Call&) -> int64_t {
        const NetTime t{2026, 12, 8, 0, 0, 0, {}};
        lib_.ReportSearchResult(remote::SearchHandle, "last.mp4", &t, &t, 1);
        return 1;
    });
    ASSERT_TRUE(w.FireTimer(TIMER_SEARCH));
    EXPECT_THAT(ListNames(), ElementsAre("last.mp4"));  // no events run in between
}

TEST_F(RemoteWindowTest, SearchThatFindsNothingEndsAtTheFirstPollReadingOne) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(6, {"previous.mp4"});
    Click(IDC_SEARCH);
    SearchWithRows(6, {});
    EXPECT_THAT(ListNames(), IsEmpty());
    lib_.ClearCalls();
    lib_.AnswerOnce("NetGetSearchState", 0);
    lib_.AnswerOnce("NetGetSearchState", 2);
    lib_.AnswerOnce("NetGetSearchState", 1);
    ASSERT_TRUE(w.FireTimer(TIMER_SEARCH));
    ASSERT_TRUE(w.FireTimer(TIMER_SEARCH));
    EXPECT_EQ(w.Searching, 1);
    EXPECT_EQ(lib_.CountOf("NetStopSearch"), 0u);
    ASSERT_TRUE(w.FireTimer(TIMER_SEARCH));
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetGetSearchState(6)", "NetGetSearchState(6)",
                                          "NetGetSearchState(6)", "NetStopSearch(6)"));
    EXPECT_EQ(w.Searching, 0);
    EXPECT_EQ(SearchHandle, -1);
    EXPECT_EQ(SearchTimerId, 0u);
    EXPECT_FALSE(w.IsTimerArmed(TIMER_SEARCH));
    EXPECT_EQ(w.ItemText(IDC_SEARCH), kSearchCaption);
    EXPECT_FALSE(w.IsItemVisible(IDC_SEARCHING_LABEL));
}

TEST_F(RemoteWindowTest, SecondClickStopsTheSearchAndKeepsItsRows) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(9, {"x.mp4", "x.mp4"});
    lib_.ClearCalls();
    Click(IDC_SEARCH);
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetStopSearch(9)"));
    EXPECT_THAT(ListNames(), ElementsAre("x.mp4", "x.mp4"));
    EXPECT_EQ(w.Searching, 0);
    EXPECT_EQ(SearchHandle, -1);
    EXPECT_FALSE(w.IsTimerArmed(TIMER_SEARCH));
}

TEST_F(RemoteWindowTest, ClosingDuringASearchStopsItAndDropsLaterRows) {
    OpenOnLoopback();
    SearchWithRows(11, {"first.mp4"});
    // A row on its way when the window goes, and one after it has gone.
    Report("queued.mp4", NetTime{}, NetTime{}, 1);
    Close();
    EXPECT_THAT(lib_.CallsNamed("NetStopSearch"), ElementsAre("NetStopSearch(11)"));
    EXPECT_EQ(SearchHandle, -1);
    EXPECT_EQ(SearchTimerId, 0u);
    Report("late.mp4", NetTime{}, NetTime{}, 1);
    std::thread library([] {
        const NetTime t{};
        remote::SearchResultCallback(11, 0, "late-thread.mp4", &t, &t, 1, 0);
    });
    library.join();
    ProcessEvents();
    // The next window starts with an empty list: nothing of the old search arrives.
    Open();
    ProcessEvents();
    EXPECT_THAT(ListNames(), IsEmpty());
}

}  // namespace
}  // namespace remote_test
