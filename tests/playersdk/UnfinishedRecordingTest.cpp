// Recordings as recorders leave them: cut short when the power went, or still
// being written while they play.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "FakeWindow.h"
#include "Sdk.h"
#include "TestMedia.h"

using namespace playersdk_test;
using namespace std::chrono_literals;

namespace {

constexpr double kFrameMs = 40;  // numbered clips run at 25 pictures a second
// A writer's pause between two bursts: longer than the player takes to reach
// the end of what is there, shorter than a file at rest.
constexpr auto kBurst = 1500ms;

// How many of the file's first pictures are stored whole in its first `bytes`.
int WholePictures(const std::string& path, int64_t bytes) {
    std::istringstream lines(Capture("ffprobe -v error -select_streams v -show_entries packet=pos,size -of compact=p=0 '" +
                                     path + "'"));
    int whole = 0;
    for (std::string line; std::getline(lines, line);) {
        const size_t size_at = line.find("size=");
        const size_t pos_at = line.find("pos=");
        if (size_at == std::string::npos || pos_at == std::string::npos) continue;
        if (std::stoll(line.substr(pos_at + 4)) + std::stoll(line.substr(size_at + 5)) > bytes) break;
        ++whole;
    }
    return whole;
}

std::string CopyHead(const std::string& source, const std::string& name, int64_t bytes) {
    std::string path = ScratchDir() + "/" + name;
    RunShell("head -c " + std::to_string(bytes) + " '" + source + "' > '" + path + "'");
    return path;
}

class UnfinishedRecording : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PlayerInit(); }
    void TearDown() override {
        if (handle_ != PLAYER_NO_HANDLE) PlayerClose(handle_);
    }
    PlayerHandle Open(const std::string& path) {
        handle_ = PlayerOpenFile(path.c_str(), 0);
        if (handle_ != PLAYER_NO_HANDLE) PlayerSetNotifyWindow(handle_, window_.Handle(), WM_PLAYER_NOTIFY);
        return handle_;
    }
    // Plays to the end; the highest picture number shown, -1 when END never
    // came. shown_ counts the different pictures shown.
    int PlayToEnd() {
        std::mutex mutex;
        std::set<int> shown;
        window_.OnEachPicture([&](const Picture& p) {
            std::lock_guard lock(mutex);
            shown.insert(FrameNumberOf(p));
        });
        PlayerPlay(handle_, window_.Handle());
        const bool ended = window_.WaitForEvents(PLAYER_EVENT_END, 1, 60s);
        window_.OnEachPicture(nullptr);
        std::lock_guard lock(mutex);
        shown.erase(-1);
        shown_ = static_cast<int>(shown.size());
        return ended && !shown.empty() ? *shown.rbegin() : -1;
    }
    int shown_ = 0;
    void ExpectFollowedToItsEnd(GrowingClip& growing);
    void ExpectSeeksPastWhatWasRead(GrowingClip& growing);
    PlayerHandle handle_ = PLAYER_NO_HANDLE;
    FakeWindow window_{64, 48};
};

}  // namespace

TEST_F(UnfinishedRecording, AnMp4CutShortPlaysUpToItsLastWholeSample) {
    const std::string whole = MakeMedia("index-first.mp4", "-i '" + MakeNumberedClip(RecordedClip(4, "mp4")) +
                                                             "' -c copy -movflags +faststart");
    const int64_t kept = FileSize(whole) / 2;
    const int pictures = WholePictures(whole, kept);
    ASSERT_GT(pictures, 10);
    ASSERT_NE(Open(CopyHead(whole, "index-first-half.mp4", kept)), PLAYER_NO_HANDLE);
    EXPECT_NEAR(PlayerGetTotalTime(handle_), pictures * kFrameMs, kFrameMs) << "the length it holds";
    EXPECT_EQ(PlayToEnd(), pictures - 1);
}

TEST_F(UnfinishedRecording, AFragmentedMp4CutShortPlaysItsWholeFragments) {
    const std::string whole = MakeMedia("fragmented.mp4", "-i '" + MakeNumberedClip(RecordedClip(4, "mp4")) +
                                                            "' -c copy -movflags frag_keyframe+empty_moov+default_base_moof");
    const int64_t kept = FileSize(whole) / 2;
    const int in_whole_fragments = WholePictures(whole, kept) / 25 * 25;
    ASSERT_GE(in_whole_fragments, 25);
    ASSERT_NE(Open(CopyHead(whole, "fragmented-half.mp4", kept)), PLAYER_NO_HANDLE);
    EXPECT_GE(PlayToEnd(), in_whole_fragments - 1);
}

TEST_F(UnfinishedRecording, AMatroskaFileCutShortShowsTheLengthItHolds) {
    const std::string whole = MakeNumberedClip(RecordedClip(4, "mkv"));
    const int64_t kept = FileSize(whole) / 2;
    const int pictures = WholePictures(whole, kept);
    ASSERT_NE(Open(CopyHead(whole, "matroska-half.mkv", kept)), PLAYER_NO_HANDLE);
    EXPECT_NEAR(PlayerGetTotalTime(handle_), pictures * kFrameMs, 2 * kFrameMs) << "not the 4 s its header says";
}

// The recorder is writing in bursts, with pauses longer than the player
// takes to reach the end of what is there: the file is opened once it holds
// a picture and played as it grows, every picture of it, to the end the
// writer gives it.
void UnfinishedRecording::ExpectFollowedToItsEnd(GrowingClip& growing) {
    const auto give_up = std::chrono::steady_clock::now() + 30s;
    while (Open(growing.Path()) == PLAYER_NO_HANDLE && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_NE(handle_, PLAYER_NO_HANDLE);
    ASSERT_LT(PlayerGetTotalTime(handle_), 5000u) << "opened while the writer had most of it to write";
    EXPECT_GE(PlayToEnd(), 145) << "the pictures of the 6 s, those written after the open included";
    EXPECT_GE(shown_, 140) << "pictures that came after a pause were dropped as late";
    EXPECT_TRUE(growing.Finish());
    EXPECT_NEAR(PlayerGetTotalTime(handle_), 6000, 2 * kFrameMs) << "the length grew with the file";
}

TEST_F(UnfinishedRecording, ATransportStreamWrittenInBurstsIsFollowedToItsEnd) {
    GrowingClip growing("growing.ts", RecordedClip(6, "ts"), "-f mpegts", kBurst);
    ExpectFollowedToItsEnd(growing);
}

TEST_F(UnfinishedRecording, AFragmentedMp4WrittenInBurstsIsFollowedToItsEnd) {
    GrowingClip growing("growing.mp4", RecordedClip(6, "mp4"), "-movflags frag_keyframe+empty_moov+default_base_moof",
                        kBurst);
    ExpectFollowedToItsEnd(growing);
}

// Paused, the player reads no further than a little ahead of the picture on
// screen; the total and a seek still reach what was written since.
void UnfinishedRecording::ExpectSeeksPastWhatWasRead(GrowingClip& growing) {
    const auto give_up = std::chrono::steady_clock::now() + 30s;
    while (Open(growing.Path()) == PLAYER_NO_HANDLE && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_NE(handle_, PLAYER_NO_HANDLE);
    PlayerPlay(handle_, window_.Handle());
    PlayerPause(handle_);
    ASSERT_LT(PlayerGetTotalTime(handle_), 4000u) << "opened while the writer had most of it to write";
    while (PlayerGetTotalTime(handle_) < 5000 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_GE(PlayerGetTotalTime(handle_), 5000u) << "the total did not follow what was written";
    ASSERT_EQ(PlayerSetPlayTime(handle_, 4400), 1);
    EXPECT_TRUE(window_.WaitForPicture([](const Picture& p) { return FrameNumberOf(p) == 110; }));
}

TEST_F(UnfinishedRecording, AFragmentedMp4BeingWrittenSeeksPastWhatWasRead) {
    GrowingClip growing("growing-seek.mp4", RecordedClip(6, "mp4"), "-movflags frag_keyframe+empty_moov+default_base_moof",
                        kBurst);
    ExpectSeeksPastWhatWasRead(growing);
}

TEST_F(UnfinishedRecording, ATransportStreamBeingWrittenSeeksPastWhatWasRead) {
    GrowingClip growing("growing-seek.ts", RecordedClip(6, "ts"), "-f mpegts", kBurst);
    ExpectSeeksPastWhatWasRead(growing);
}
