// Files the library must refuse, and handles it never issued: every entry
// point answers failure and nothing is written or crashes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <future>

#include "FakeWindow.h"
#include "Sdk.h"
#include "TestMedia.h"

using namespace playersdk_test;

namespace {

std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = ScratchDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string CopyHead(const std::string& source, const std::string& name, int64_t bytes) {
    std::string path = ScratchDir() + "/" + name;
    RunShell("head -c " + std::to_string(bytes) + " '" + source + "' > '" + path + "'");
    return path;
}

class BadInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PlayerInit(); }
};

TEST_F(BadInput, FilesThatAreNotPlayableMediaAnswerMinusOne) {
    NumberedClip clip;
    clip.seconds = 2;
    clip.audio = "aac";
    std::string good = MakeNumberedClip(clip);
    ASSERT_FALSE(good.empty());
    std::string faststart = MakeMedia("faststart.mp4", "-i '" + good + "' -c copy -movflags +faststart");
    ASSERT_FALSE(faststart.empty());
    int64_t size = FileSize(good);

    std::string random_bytes;
    for (int i = 0; i < 20000; ++i) random_bytes.push_back(static_cast<char>((i * 7919 + 13) % 251));
    // A sound-only file has no picture to show.
    std::string sound_only = MakeMedia("sound-only.mp4", "-f lavfi -i sine=d=1 -c:a aac");
    ASSERT_FALSE(sound_only.empty());
    // The picture data of a fast-start file replaced by noise.
    std::string scrambled = ScratchDir() + "/scrambled.mp4";
    RunShell("cp '" + faststart + "' '" + scrambled + "' && dd if=/dev/urandom of='" + scrambled +
        "' bs=1 seek=" + std::to_string(FileSize(faststart) / 2) + " count=" +
        std::to_string(FileSize(faststart) / 2) + " conv=notrunc status=none");

    const std::string cases[] = {
        ScratchDir() + "/missing.mp4",
        WriteFile("empty.mp4", ""),
        ScratchDir(),  // a folder
        WriteFile("text.mp4", "just some words, not a recording\n"),
        WriteFile("noise.mp4", random_bytes),
        // Cut short before its index (written last) was: nothing tells what it holds.
        CopyHead(good, "cut-before-index.mp4", size / 2),
        CopyHead(good, "header-only.mp4", 40),
        sound_only,
    };
    for (const std::string& path : cases) {
        EXPECT_EQ(PlayerOpenFile(path.c_str(), 0), PLAYER_NO_HANDLE) << path;
    }
    EXPECT_EQ(PlayerOpenFile(nullptr, 0), PLAYER_NO_HANDLE);
    EXPECT_EQ(PlayerOpenFile("", 0), PLAYER_NO_HANDLE);
    // Whatever the noise did to the pictures, the open answers and the library survives.
    PlayerHandle h = PlayerOpenFile(scrambled.c_str(), 0);
    if (h != PLAYER_NO_HANDLE) {
        FakeWindow window(64, 48);
        PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY);
        PlayerPlay(h, window.Handle());
        EXPECT_TRUE(window.WaitForEvents(PLAYER_EVENT_END, 1));
        PlayerClose(h);
    }
    // The good file still opens.
    h = PlayerOpenFile(good.c_str(), 0);
    EXPECT_NE(h, PLAYER_NO_HANDLE);
    PlayerClose(h);
}

TEST_F(BadInput, AFifoIsRefusedAtOnceWithoutWaitingForAWriter) {
    std::string fifo = ScratchDir() + "/pipe.mp4";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto opened = std::async(std::launch::async, [&] { return PlayerOpenFile(fifo.c_str(), 0); });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Release the open blocked on the FIFO, then fail.
        int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
        ADD_FAILURE() << "the open waited for a writer";
    }
    EXPECT_EQ(opened.get(), PLAYER_NO_HANDLE);
    EXPECT_EQ(PlayerOpenFile("/dev/zero", 0), PLAYER_NO_HANDLE);
}

TEST_F(BadInput, HandlesNeverIssuedDoNothingAndAnswerFailure) {
    FakeWindow window(64, 48);
    std::string snapshot = ScratchDir() + "/never.bmp";
    std::string cut = ScratchDir() + "/never.mp4";
    for (PlayerHandle h : {PLAYER_NO_HANDLE, 0, 424242, INT32_MIN}) {
        EXPECT_EQ(PlayerSetNotifyWindow(h, window.Handle(), WM_PLAYER_NOTIFY), 0);
        EXPECT_EQ(PlayerPlay(h, window.Handle()), 0);
        EXPECT_EQ(PlayerPause(h), 0);
        EXPECT_EQ(PlayerFast(h), 0);
        EXPECT_EQ(PlayerSlow(h), 0);
        EXPECT_EQ(PlayerStepFrame(h), 0);
        EXPECT_EQ(PlayerSetPosRatio(h, 0.5f), 0);
        EXPECT_EQ(PlayerHasAudio(h), 0);
        EXPECT_EQ(PlayerSoundOn(h), 0);
        EXPECT_EQ(PlayerSoundOff(h), 0);
        EXPECT_EQ(PlayerGetTotalTime(h), 0u);
        EXPECT_EQ(PlayerGetPlayTime(h), 0u);
        EXPECT_EQ(PlayerSetPlayTime(h, 0), 0);
        EXPECT_EQ(PlayerSnapshot(h, snapshot.c_str()), 0);
        EXPECT_EQ(PlayerStartCut(h, cut.c_str()), 0);
        EXPECT_EQ(PlayerStopCut(h), 0);
        EXPECT_EQ(PlayerClose(h), 0);
    }
    EXPECT_FALSE(FileExists(snapshot));
    EXPECT_FALSE(FileExists(cut));
    EXPECT_EQ(window.Presents(), 0);
    EXPECT_TRUE(window.Posts().empty());
}

TEST_F(BadInput, OpenHandleRefusesMissingArguments) {
    NumberedClip clip;
    clip.seconds = 1;
    PlayerHandle h = PlayerOpenFile(MakeNumberedClip(clip).c_str(), 0);
    ASSERT_NE(h, PLAYER_NO_HANDLE);
    EXPECT_EQ(PlayerPlay(h, nullptr), 0);
    EXPECT_EQ(PlayerSnapshot(h, nullptr), 0);
    EXPECT_EQ(PlayerStartCut(h, nullptr), 0);
    EXPECT_EQ(PlayerStartCut(h, ""), 0);
    EXPECT_EQ(PlayerStopCut(h), 0) << "no cut is running";
    EXPECT_EQ(PlayerClose(h), 1);
}

}  // namespace
