// The remote playback window on our real libPlayerSDK.so and a real
// varnel-recorder serving as an ONVIF device (--rtsp-port) on 127.0.0.1: a
// channel of segments with a gap, searched, downloaded and streamed with a
// seek and a cut switched on and off, as a user drives the window.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>

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

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char day[16];
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    return day;
}

class RemoteOnvifTest : public ::testing::Test {
protected:
    // Channel 1: 8 s at 01:00:00, a gap, 20 s at 01:00:30.
    static void SetUpTestSuite() {
        folder_ = new e2e::Scratch;
        const fs::path root = folder_->path() / "recorder";
        const std::string day = Today();
        ASSERT_TRUE(e2e::MakeRecording(root / "ch1" / day / ("ch1_" + day + "_010000_010008.mp4"), 8));
        ASSERT_TRUE(e2e::MakeRecording(root / "ch1" / day / ("ch1_" + day + "_010030_010050.mp4"), 20));
        recorder_ = new testing_support::RecorderProcess(root, {"--rtsp-port", "0"});
        ASSERT_GT(recorder_->port(), 0) << "the recorder did not start";
    }
    static void TearDownTestSuite() {
        delete recorder_;
        delete folder_;
    }
    void SetUp() override {
        ASSERT_NE(recorder_, nullptr);
        ASSERT_EQ(e2e::BindRealLibrary(), "");
        player::PlayerInit();
        drives_ = std::make_unique<e2e::Scratch>();
        window_ = std::make_unique<CDlgNetFile>();
        window_->Create();
        ASSERT_TRUE(t::TypeText(W(), IDC_ADDRESS, "127.0.0.1"));
        ASSERT_TRUE(t::TypeText(W(), IDC_PORT, std::to_string(recorder_->port())));
        ASSERT_TRUE(t::Click(W(), IDC_SEARCH));
        ASSERT_EQ(W().Searching, 1) << (boxes_.Texts().empty() ? "" : boxes_.Texts()[0]);
        ASSERT_TRUE(t::WaitUntil([&] { return W().Searching == 0; }, 60s));
        t::ProcessEvents();
    }
    void TearDown() override {
        if (window_ && window_->IsCreated()) window_->Destroy();
        window_.reset();
        t::ProcessEvents();
        drives_.reset();
    }
    CDlgNetFile& W() { return *window_; }
    uint32_t StreamMs() { return player::PlayerGetPlayTime(StreamHandle); }

    t::MessageBoxes boxes_;
    std::unique_ptr<e2e::Scratch> drives_;
    std::unique_ptr<CDlgNetFile> window_;
    static e2e::Scratch* folder_;
    static testing_support::RecorderProcess* recorder_;
};
e2e::Scratch* RemoteOnvifTest::folder_ = nullptr;
testing_support::RecorderProcess* RemoteOnvifTest::recorder_ = nullptr;

TEST_F(RemoteOnvifTest, SearchListsOneRowPerSegmentAndARowDownloadsAsAnMp4) {
    ASSERT_EQ(W().ListRowCount(IDC_RESULT_LIST), 2);
    const std::string day = Today();
    EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, 0, 2), day + "010000");
    EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, 0, 3), day + "010008");
    EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, 1, 2), day + "010030");
    EXPECT_EQ(W().ListCell(IDC_RESULT_LIST, 1, 3), day + "010050");

    ASSERT_TRUE(t::SelectRow(W(), IDC_RESULT_LIST, 0));
    ASSERT_TRUE(t::Click(W(), IDC_DOWNLOAD));
    ASSERT_TRUE(t::WaitUntil([&] { return W().Downloading == 0; }, 60s));
    const fs::path downloaded = drives_->DrivePath(kDownloadPath);
    EXPECT_NEAR(e2e::ProbeDuration(downloaded), 8.0, 0.5) << downloaded;
    EXPECT_TRUE(e2e::DecodesCleanly(downloaded));
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(RemoteOnvifTest, ARowStreamsWithASeekToItsEnd) {
    ASSERT_EQ(W().ListRowCount(IDC_RESULT_LIST), 2);
    ASSERT_TRUE(t::TypeText(W(), IDC_BUFFER_SECONDS, "2"));
    ASSERT_TRUE(t::DoubleClickRow(W(), IDC_RESULT_LIST, 0));
    ASSERT_NE(StreamHandle, PLAYER_NO_HANDLE) << (boxes_.Texts().empty() ? "" : boxes_.Texts()[0]);
    ASSERT_TRUE(t::WaitUntil([&] { return W().CurrentStreamState() == StreamState::Playing; }, 60s));
    // The span of the stretch's pictures: 8 s less the last one's length.
    EXPECT_GE(W().TrackMax(IDC_SEEK_BAR), 7);
    EXPECT_LE(W().TrackMax(IDC_SEEK_BAR), 8);

    // A cut of a second of the stream, read ahead whole before it starts,
    // holding the seek bar.
    ASSERT_TRUE(t::Click(W(), IDC_CUT));
    ASSERT_EQ(W().ItemText(IDC_CUT), kStopCutCaption) << (boxes_.Texts().empty() ? "" : boxes_.Texts()[0]);
    EXPECT_FALSE(W().IsItemEnabled(IDC_SEEK_BAR));
    const uint32_t cut_from = StreamMs();
    ASSERT_TRUE(t::WaitUntil([&] { return StreamMs() >= cut_from + 1000; }, 60s));
    ASSERT_TRUE(t::Click(W(), IDC_CUT));
    EXPECT_EQ(W().ItemText(IDC_CUT), kStartCutCaption);
    const fs::path cut = drives_->DrivePath(kCutPath);
    EXPECT_GT(e2e::ProbeDuration(cut), 0.5) << cut;
    EXPECT_TRUE(e2e::DecodesCleanly(cut));

    ASSERT_TRUE(t::DragSeekBar(W(), IDC_SEEK_BAR, 5));
    ASSERT_TRUE(t::WaitUntil([&] { return StreamMs() >= 4500 && StreamMs() < 8000; }, 60s))
        << "play time " << StreamMs();
    ASSERT_TRUE(t::WaitUntil([&] { return StreamHandle == PLAYER_NO_HANDLE; }, 60s));
    EXPECT_TRUE(boxes_.Texts().empty());
}

}  // namespace
