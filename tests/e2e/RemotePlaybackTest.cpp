// The remote playback window on our real libPlayerSDK.so and a real
// varnel-recorder process on 127.0.0.1, driven as a user drives it: the
// recorder's address typed in first, clicks on "查找" and "下载", a
// double-click on a row, the seek bar dragged, real window timers.
//
// In-process: the test binds the library as varnel-remote does and shows
// CDlgNetFile itself instead of running it modally. The recorder is a
// separate process serving a folder made here; the connections it holds are
// read from the kernel's socket table.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "RecorderProcess.h"
#include "player/Binding.h"
#include "remote/DlgNetFile.h"
#include "tests/e2e/E2eSupport.h"
#include "ui/qt/Testing.h"

namespace {

using namespace std::chrono_literals;
using namespace remote;
namespace t = ui::testing;
namespace fs = std::filesystem;

struct Recording {
    std::string name;
    double seconds;
    fs::path file;
};

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char day[16];
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    return day;
}

// "%.2f" of the size in MB, worked out here rather than by the window's helper.
std::string Megabytes(const fs::path& file) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(fs::file_size(file)) / (1024.0 * 1024.0));
    return text;
}

class RemotePlaybackTest : public ::testing::Test {
protected:
    // One recorder folder and one recorder for the whole suite: channel 1
    // holds three recordings of today, channel 2 one more. Streams are paced
    // at real time, so that buffering takes a moment a user can see.
    static void SetUpTestSuite() {
        folder_ = new e2e::Scratch;
        const std::string day = Today();
        const fs::path root = folder_->path() / "recorder";
        recordings_ = new std::vector<Recording>{
            {"ch1_" + day + "_010000_010006.mp4", 6, {}},
            {"ch1_" + day + "_020000_020020.mp4", 20, {}},
            {"ch1_" + day + "_030000_030004.mp4", 4, {}},
        };
        for (Recording& r : *recordings_) {
            r.file = root / "ch1" / day / r.name;
            ASSERT_TRUE(e2e::MakeRecording(r.file, r.seconds));
        }
        ASSERT_TRUE(e2e::MakeRecording(root / "ch2" / day / ("ch2_" + day + "_010000_010005.mp4"), 5));
        recorder_ = new testing_support::RecorderProcess(root, {"--rate", "1"});
        ASSERT_GT(recorder_->port(), 0) << "the recorder did not start";
    }
    static void TearDownTestSuite() {
        delete recorder_;
        delete recordings_;
        delete folder_;
    }

    void SetUp() override {
        ASSERT_NE(recorder_, nullptr);
        ASSERT_GT(recorder_->port(), 0);
        ASSERT_EQ(e2e::BindRealLibrary(), "");
        player::PlayerInit();  // the main window does this once in the program
        drives_ = std::make_unique<e2e::Scratch>();
        window_ = std::make_unique<CDlgNetFile>();
        window_->Create();
        // Before anything can reach the network: the loopback recorder.
        ASSERT_TRUE(t::TypeText(W(), IDC_ADDRESS, "127.0.0.1"));
        ASSERT_TRUE(t::TypeText(W(), IDC_PORT, std::to_string(recorder_->port())));
    }
    void TearDown() override {
        CloseWindow();
        drives_.reset();
    }

    CDlgNetFile& W() { return *window_; }
    static const Recording& Rec(int i) { return (*recordings_)[i]; }
    void CloseWindow() {
        if (window_ && window_->IsCreated()) window_->Destroy();
        window_.reset();
        t::ProcessEvents();
    }

    int RowOf(const std::string& name) {
        for (int row = 0; row < W().ListRowCount(IDC_RESULT_LIST); ++row)
            if (W().ListCell(IDC_RESULT_LIST, row, 0) == name) return row;
        return -1;
    }
    void SearchAndWait() {
        ASSERT_TRUE(t::Click(W(), IDC_SEARCH));
        ASSERT_EQ(W().Searching, 1) << (boxes_.Texts().empty() ? "" : boxes_.Texts()[0]);
        EXPECT_EQ(W().ItemText(IDC_SEARCH), kStopSearchCaption);
        ASSERT_TRUE(t::WaitUntil([&] { return W().Searching == 0; }, 60s));
        EXPECT_EQ(W().ItemText(IDC_SEARCH), kSearchCaption);
        t::ProcessEvents();  // rows still on their way
    }
    // Downloads the recording and waits until the window is idle again;
    // returns the highest progress the bar showed.
    int DownloadAndWait(const Recording& r) {
        const int row = RowOf(r.name);
        EXPECT_GE(row, 0);
        EXPECT_TRUE(t::SelectRow(W(), IDC_RESULT_LIST, row));
        EXPECT_TRUE(t::Click(W(), IDC_DOWNLOAD));
        EXPECT_EQ(W().Downloading, 1);
        EXPECT_EQ(W().ItemText(IDC_DOWNLOAD), kStopDownloadCaption);
        int highest = 0, previous = 0;
        bool decreased = false;
        EXPECT_TRUE(t::WaitUntil([&] {
            const int shown = W().ProgressPos(IDC_PROGRESS);
            decreased = decreased || shown < previous;
            previous = shown;
            highest = std::max(highest, shown);
            return W().Downloading == 0;
        }, 60s));
        EXPECT_FALSE(decreased) << "the bar went backwards";
        EXPECT_LE(highest, 100);
        EXPECT_EQ(W().ItemText(IDC_DOWNLOAD), kDownloadCaption);
        return highest;
    }
    uint32_t StreamMs() { return player::PlayerGetPlayTime(StreamHandle); }
    // Double-clicks the recording and waits until it plays; says whether the
    // buffering label was seen on the way.
    bool StreamAndWait(const Recording& r) {
        const int row = RowOf(r.name);
        EXPECT_GE(row, 0);
        EXPECT_TRUE(t::DoubleClickRow(W(), IDC_RESULT_LIST, row));
        EXPECT_NE(StreamHandle, PLAYER_NO_HANDLE) << (boxes_.Texts().empty() ? "" : boxes_.Texts()[0]);
        bool buffering_seen = false;
        EXPECT_TRUE(t::WaitUntil([&] {
            if (W().IsItemVisible(IDC_BUFFERING_LABEL) &&
                W().ItemText(IDC_BUFFERING_LABEL).rfind("正在建立缓冲:", 0) == 0)
                buffering_seen = true;
            return W().CurrentStreamState() == StreamState::Playing && W().IsItemEnabled(IDC_PAUSE);
        }, 60s));
        return buffering_seen;
    }

    t::MessageBoxes boxes_;
    std::unique_ptr<e2e::Scratch> drives_;
    std::unique_ptr<CDlgNetFile> window_;
    static e2e::Scratch* folder_;
    static std::vector<Recording>* recordings_;
    static testing_support::RecorderProcess* recorder_;
};
e2e::Scratch* RemotePlaybackTest::folder_ = nullptr;
std::vector<Recording>* RemotePlaybackTest::recordings_ = nullptr;
testing_support::RecorderProcess* RemotePlaybackTest::recorder_ = nullptr;

TEST_F(RemotePlaybackTest, SearchListsTheChannelsRecordingsAndADownloadIsByteIdentical) {
    SearchAndWait();
    ASSERT_TRUE(boxes_.Texts().empty()) << boxes_.Texts()[0];
    // Channel 1 only, ordered by start, with the sizes in MB and the times
    // the recorder's folder gives.
    ASSERT_EQ(W().ListRowCount(IDC_RESULT_LIST), 3);
    const std::string day = Today();
    const char* times[][2] = {{"010000", "010006"}, {"020000", "020020"}, {"030000", "030004"}};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, row, 0), Rec(row).name);
        EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, row, 1), Megabytes(Rec(row).file));
        EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, row, 2), day + times[row][0]);
        EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, row, 3), day + times[row][1]);
    }

    // Channel 2, chosen with the keyboard, lists its one recording instead.
    W().SetFocusItem(IDC_CHANNEL);
    ASSERT_TRUE(t::PressKey(W(), t::Key::Down));
    ASSERT_EQ(W().DropDownSelection(IDC_CHANNEL), 1);
    SearchAndWait();
    ASSERT_EQ(W().ListRowCount(IDC_RESULT_LIST), 1);
    EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, 0, 0), "ch2_" + day + "_010000_010005.mp4");
    W().SetFocusItem(IDC_CHANNEL);
    ASSERT_TRUE(t::PressKey(W(), t::Key::Up));
    SearchAndWait();
    ASSERT_EQ(W().ListRowCount(IDC_RESULT_LIST), 3);

    const int highest = DownloadAndWait(Rec(0));
    EXPECT_EQ(highest, 100) << "the progress bar shows the download complete before it hides";
    const fs::path downloaded = drives_->DrivePath(kDownloadPath);
    ASSERT_TRUE(fs::exists(downloaded)) << downloaded;
    EXPECT_TRUE(e2e::ReadWholeFile(downloaded) == e2e::ReadWholeFile(Rec(0).file))
        << "the download differs from the recording";
    EXPECT_FALSE(W().IsItemVisible(IDC_PROGRESS));
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(RemotePlaybackTest, AStreamBuffersPlaysSeeksAndCutsWhileSearchAndDownloadGoOn) {
    SearchAndWait();
    ASSERT_EQ(W().ListRowCount(IDC_RESULT_LIST), 3);
    ASSERT_TRUE(t::TypeText(W(), IDC_BUFFER_SECONDS, "2"));

    EXPECT_TRUE(StreamAndWait(Rec(1))) << "the buffering percentage never showed";
    ASSERT_TRUE(boxes_.Texts().empty()) << boxes_.Texts()[0];
    EXPECT_EQ(W().ItemText(IDC_TOTAL), "00:00:20");
    EXPECT_TRUE(W().IsItemVisible(IDC_TOTAL));
    EXPECT_EQ(W().TrackMax(IDC_SEEK_BAR), 20);
    // The start leaves the buffering label to the buffering poll, which hides
    // it at its first tick after the buffer has filled.
    EXPECT_TRUE(t::WaitUntil([&] { return !W().IsItemVisible(IDC_BUFFERING_LABEL); }, 10s));
    ASSERT_TRUE(t::WaitUntil([&] { return !t::PresentedPicture(W(), IDC_PICTURE).isNull(); }, 30s));
    ASSERT_TRUE(t::WaitUntil([&] { return W().ItemText(IDC_ELAPSED) >= "00:00:01"; }, 30s));

    // A cut of about two seconds of the stream.
    ASSERT_TRUE(t::Click(W(), IDC_CUT));
    ASSERT_TRUE(boxes_.Texts().empty()) << boxes_.Texts()[0];
    EXPECT_EQ(W().ItemText(IDC_CUT), kStopCutCaption);
    EXPECT_FALSE(W().IsItemEnabled(IDC_SEEK_BAR)) << "no seeking while a cut runs";
    const uint32_t cut_from = StreamMs();
    ASSERT_TRUE(t::WaitUntil([&] { return StreamMs() >= cut_from + 2000; }, 60s));
    ASSERT_TRUE(t::Click(W(), IDC_CUT));
    const uint32_t cut_to = StreamMs();
    EXPECT_EQ(W().ItemText(IDC_CUT), kStartCutCaption);
    const fs::path cut = drives_->DrivePath(kCutPath);
    ASSERT_TRUE(t::WaitUntil([&] { return e2e::ProbeDuration(cut) > 0; }, 30s)) << cut;
    EXPECT_NEAR(e2e::ProbeDuration(cut), (cut_to - cut_from) / 1000.0, 1.2);
    EXPECT_TRUE(e2e::DecodesCleanly(cut));

    // Dragging the bar to 12 s seeks the stream there.
    ASSERT_TRUE(W().IsItemEnabled(IDC_SEEK_BAR));
    ASSERT_TRUE(t::DragSeekBar(W(), IDC_SEEK_BAR, 12));
    EXPECT_EQ(W().SeekDragging, 0);
    ASSERT_TRUE(t::WaitUntil([&] { return StreamMs() >= 11500 && StreamMs() < 20000; }, 60s))
        << "play time " << StreamMs();
    ASSERT_TRUE(t::WaitUntil([&] { return W().ItemText(IDC_ELAPSED) >= "00:00:12"; }, 30s));

    // Meanwhile a new search and a download, while the stream plays on.
    SearchAndWait();
    ASSERT_EQ(W().ListRowCount(IDC_RESULT_LIST), 3);
    DownloadAndWait(Rec(2));
    EXPECT_TRUE(e2e::ReadWholeFile(drives_->DrivePath(kDownloadPath)) == e2e::ReadWholeFile(Rec(2).file));
    EXPECT_NE(StreamHandle, PLAYER_NO_HANDLE);

    // The stream's end stops it and turns its controls off.
    ASSERT_TRUE(t::WaitUntil([&] { return StreamHandle == PLAYER_NO_HANDLE; }, 60s));
    EXPECT_FALSE(W().IsItemEnabled(IDC_PAUSE));
    EXPECT_FALSE(W().IsItemEnabled(IDC_SEEK_BAR));
    EXPECT_FALSE(W().IsItemVisible(IDC_TOTAL));
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(RemotePlaybackTest, ClosingWithSearchDownloadAndStreamRunningClosesEveryConnection) {
    const int port = recorder_->port();
    ASSERT_TRUE(t::WaitUntil([&] { return e2e::OpenConnectionsOnPort(port) == 0; }, 30s))
        << "connections left over from before";
    SearchAndWait();
    ASSERT_TRUE(t::TypeText(W(), IDC_BUFFER_SECONDS, "2"));
    StreamAndWait(Rec(1));
    ASSERT_NE(StreamHandle, PLAYER_NO_HANDLE);

    // A download and a search started, and the window closed at once, all
    // three still running.
    ASSERT_TRUE(t::SelectRow(W(), IDC_RESULT_LIST, RowOf(Rec(0).name)));
    ASSERT_TRUE(t::Click(W(), IDC_DOWNLOAD));
    ASSERT_TRUE(t::Click(W(), IDC_SEARCH));
    ASSERT_EQ(W().Searching, 1);
    ASSERT_EQ(W().Downloading, 1);
    EXPECT_GE(e2e::OpenConnectionsOnPort(port), 1);
    CloseWindow();
    EXPECT_EQ(StreamHandle, PLAYER_NO_HANDLE);
    EXPECT_EQ(SearchHandle, -1);
    EXPECT_EQ(DownloadHandle, -1);

    // Both ends of every connection go away: the recorder sees them closed.
    EXPECT_TRUE(t::WaitUntil([&] { return e2e::OpenConnectionsOnPort(port) == 0; }, 30s))
        << "still open: " << e2e::DescribeConnectionsOnPort(port) << " (recorder port " << port << ")";
    // The stopped download left either the whole file or none.
    const fs::path downloaded = drives_->DrivePath(kDownloadPath);
    if (fs::exists(downloaded)) {
        EXPECT_TRUE(e2e::ReadWholeFile(downloaded) == e2e::ReadWholeFile(Rec(0).file));
    }
    // And the recorder goes on serving the next window.
    window_ = std::make_unique<CDlgNetFile>();
    window_->Create();
    ASSERT_TRUE(t::TypeText(W(), IDC_ADDRESS, "127.0.0.1"));
    ASSERT_TRUE(t::TypeText(W(), IDC_PORT, std::to_string(port)));
    SearchAndWait();
    EXPECT_EQ(W().ListRowCount(IDC_RESULT_LIST), 3);
}

}  // namespace
