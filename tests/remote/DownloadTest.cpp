// The download of a listed recording to its fixed file.
#include <string>
#include <vector>

#include "tests/remote/RemoteWindowFixture.h"

namespace remote_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace remote;

TEST_F(RemoteWindowTest, DownloadWithNoRowSelectedAsksForOne) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    ClearSelection();
    lib_.ClearCalls();
    Click(IDC_DOWNLOAD);
    EXPECT_THAT(boxes_.Texts(), ElementsAre(kSelectFileText));
    EXPECT_EQ(w.FocusedItem(), IDC_RESULT_LIST);
    EXPECT_THAT(lib_.Calls(), IsEmpty());
    EXPECT_EQ(w.Downloading, 0);
    EXPECT_EQ(w.ItemText(IDC_DOWNLOAD), kDownloadCaption);
    EXPECT_FALSE(w.IsTimerArmed(TIMER_DOWNLOAD));
}

TEST_F(RemoteWindowTest, DownloadStartsWithTheFixedPathAndShowsItsProgress) {
    CDlgNetFile& w = OpenOnLoopback();
    TypeText(IDC_PORT, "68536");
    SearchWithRows(1, {"a.mp4", "b.mp4"});
    SelectRow(1);
    lib_.ClearCalls();
    lib_.AnswerOnce("NetStartDownload", 5);
    Click(IDC_DOWNLOAD);
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetStartDownload(\"127.0.0.1\", \"246135\", \"246135\", "
                                          "\"b.mp4\", \"d:\\test.mp4\", 3000, 0, 0, 0)"));
    EXPECT_EQ(DownloadHandle, 5);
    EXPECT_EQ(w.Downloading, 1);
    EXPECT_EQ(w.ItemText(IDC_DOWNLOAD), kStopDownloadCaption);
    EXPECT_TRUE(w.IsItemVisible(IDC_PROGRESS));
    EXPECT_EQ(w.ProgressPos(IDC_PROGRESS), 0);
    EXPECT_TRUE(w.IsItemVisible(IDC_DOWNLOADING_LABEL));
    EXPECT_EQ(w.ItemText(IDC_DOWNLOADING_LABEL), "正在下载文件...");  // until the first tick
    EXPECT_EQ(DownloadTimerId, TIMER_DOWNLOAD);

    lib_.AnswerOnce("NetGetDownloadProgress", 42);
    ASSERT_TRUE(w.FireTimer(TIMER_DOWNLOAD));
    EXPECT_EQ(w.ItemText(IDC_DOWNLOADING_LABEL), "正在下载文件...42%");
    EXPECT_EQ(w.ProgressPos(IDC_PROGRESS), 42);

    // Above 100: the label says so, the bar shows full.
    lib_.AnswerOnce("NetGetDownloadProgress", 150);
    ASSERT_TRUE(w.FireTimer(TIMER_DOWNLOAD));
    EXPECT_EQ(w.ItemText(IDC_DOWNLOADING_LABEL), "正在下载文件...150%");
    EXPECT_EQ(w.ProgressPos(IDC_PROGRESS), 100);
    EXPECT_EQ(w.Downloading, 1);
}

TEST_F(RemoteWindowTest, NegativeProgressEndsTheDownloadSilently) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.AnswerOnce("NetStartDownload", 5);
    Click(IDC_DOWNLOAD);
    lib_.ClearCalls();
    lib_.AnswerOnce("NetGetDownloadProgress", -1);
    ASSERT_TRUE(w.FireTimer(TIMER_DOWNLOAD));
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetGetDownloadProgress(5)", "NetStopDownload(5)"));
    EXPECT_THAT(boxes_.Texts(), IsEmpty());
    EXPECT_EQ(w.Downloading, 0);
    EXPECT_EQ(DownloadHandle, -1);
    EXPECT_EQ(DownloadTimerId, 0u);
    EXPECT_FALSE(w.IsTimerArmed(TIMER_DOWNLOAD));
    EXPECT_EQ(w.ItemText(IDC_DOWNLOAD), kDownloadCaption);
    EXPECT_FALSE(w.IsItemVisible(IDC_PROGRESS));
    EXPECT_FALSE(w.IsItemVisible(IDC_DOWNLOADING_LABEL));
}

TEST_F(RemoteWindowTest, FailedStartIsShownRunningUntilTheFirstNegativeProgress) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.AnswerOnce("NetStartDownload", -1);
    Click(IDC_DOWNLOAD);
    EXPECT_EQ(w.Downloading, 1);
    lib_.ClearCalls();
    lib_.AnswerOnce("NetGetDownloadProgress", -3);
    ASSERT_TRUE(w.FireTimer(TIMER_DOWNLOAD));
    // With the handle at -1 there is nothing to stop.
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetGetDownloadProgress(-1)"));
    EXPECT_EQ(w.Downloading, 0);
    EXPECT_THAT(boxes_.Texts(), IsEmpty());
}

TEST_F(RemoteWindowTest, UserStopsARunningDownload) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    lib_.AnswerOnce("NetStartDownload", 8);
    Click(IDC_DOWNLOAD);
    lib_.ClearCalls();
    Click(IDC_DOWNLOAD);
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetStopDownload(8)"));
    EXPECT_EQ(w.ItemText(IDC_DOWNLOAD), kDownloadCaption);
    EXPECT_FALSE(w.IsItemVisible(IDC_PROGRESS));
    EXPECT_FALSE(w.IsItemVisible(IDC_DOWNLOADING_LABEL));
    EXPECT_FALSE(w.IsTimerArmed(TIMER_DOWNLOAD));
    EXPECT_EQ(DownloadHandle, -1);
}

TEST_F(RemoteWindowTest, NextDownloadShowsThePreviousLabelTextUntilItsFirstTick) {
    CDlgNetFile& w = OpenOnLoopback();
    SearchWithRows(1, {"a.mp4", "b.mp4"});
    lib_.AnswerOnce("NetStartDownload", 1);
    Click(IDC_DOWNLOAD);
    lib_.AnswerOnce("NetGetDownloadProgress", 73);
    ASSERT_TRUE(w.FireTimer(TIMER_DOWNLOAD));
    Click(IDC_DOWNLOAD);  // stop
    SelectRow(1);
    lib_.AnswerOnce("NetStartDownload", 2);
    Click(IDC_DOWNLOAD);
    EXPECT_EQ(w.ItemText(IDC_DOWNLOADING_LABEL), "正在下载文件...73%");
    EXPECT_EQ(w.ProgressPos(IDC_PROGRESS), 0);
    lib_.AnswerOnce("NetGetDownloadProgress", 4);
    ASSERT_TRUE(w.FireTimer(TIMER_DOWNLOAD));
    EXPECT_EQ(w.ItemText(IDC_DOWNLOADING_LABEL), "正在下载文件...4%");
}

TEST_F(RemoteWindowTest, LongRecordingNameReachesTheLibraryCutToNinetyNineBytes) {
    OpenOnLoopback();
    std::string name;
    for (int i = 0; i < 120; ++i) name += static_cast<char>('a' + i % 26);
    SearchWithRows(1, {name});
    EXPECT_EQ(Row(0)[0], name);  // the list keeps the whole name
    lib_.ClearCalls();
    Click(IDC_DOWNLOAD);
    Click(IDC_PLAY);
    const std::string cut = name.substr(0, 99);
    EXPECT_THAT(lib_.CallsNamed("NetStartDownload"),
                ElementsAre("NetStartDownload(\"127.0.0.1\", \"246135\", \"246135\", \"" + cut +
                            "\", \"d:\\test.mp4\", 3000, 0, 0, 0)"));
    EXPECT_THAT(lib_.CallsNamed("NetOpenStream"),
                ElementsAre("NetOpenStream(\"127.0.0.1\", \"246135\", \"246135\", \"" + cut +
                            "\", hwnd(129:1027), 3000)"));
}

TEST_F(RemoteWindowTest, ANameCutToNinetyNineBytesCountsTheBytesTheLibraryGave) {
    OpenOnLoopback();
    std::string name = "ch01_";
    for (int i = 0; i < 40; ++i) name += "测";
    name = player::LibraryText(name + ".mp4");  // 89 bytes in GBK, 129 in UTF-8
    SearchWithRows(1, {name});
    lib_.ClearCalls();
    Click(IDC_DOWNLOAD);
    EXPECT_THAT(lib_.CallsNamed("NetStartDownload"),
                ElementsAre("NetStartDownload(\"127.0.0.1\", \"246135\", \"246135\", \"" + name.substr(0, 99) +
                            "\", \"d:\\test.mp4\", 3000, 0, 0, 0)"));
}

TEST_F(RemoteWindowTest, ANameThatIsNotValidTextGoesBackToTheLibraryByteForByte) {
    OpenOnLoopback();
    // GBK (not UTF-8); a GBK lead byte before a space; a lone lead byte at the end.
    const std::vector<std::string> names = {"\xb2\xe2\xca\xd4.mp4", "\x81\x20.mp4", "a.mp4\xb2"};
    SearchWithRows(1, names);
    for (size_t row = 0; row < names.size(); ++row) {
        SelectRow(static_cast<int>(row));
        lib_.ClearCalls();
        Click(IDC_DOWNLOAD);
        Click(IDC_DOWNLOAD);  // stop
        Click(IDC_PLAY);
        Click(IDC_STOP);
        EXPECT_THAT(lib_.CallsNamed("NetStartDownload"),
                    ElementsAre("NetStartDownload(\"127.0.0.1\", \"246135\", \"246135\", \"" + names[row] +
                                "\", \"d:\\test.mp4\", 3000, 0, 0, 0)"));
        EXPECT_THAT(lib_.CallsNamed("NetOpenStream"),
                    ElementsAre("NetOpenStream(\"127.0.0.1\", \"246135\", \"246135\", \"" + names[row] +
                                "\", hwnd(129:1027), 3000)"));
    }
}

TEST_F(RemoteWindowTest, ClosingDuringADownloadStopsIt) {
    OpenOnLoopback();
    SearchWithRows(1, {"a.mp4"});
    Click(IDC_SEARCH);  // the search is over; only the download runs
    lib_.AnswerOnce("NetStartDownload", 3);
    Click(IDC_DOWNLOAD);
    lib_.ClearCalls();
    Close();
    EXPECT_THAT(lib_.Calls(), ElementsAre("NetStopDownload(3)"));
    EXPECT_EQ(DownloadHandle, -1);
    EXPECT_EQ(DownloadTimerId, 0u);
}

}  // namespace
}  // namespace remote_test
