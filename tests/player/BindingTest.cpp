// The binding against real shared libraries: one that is not there, one that
// lacks entry points, one that has them all.
#include <gtest/gtest.h>

#include <string>

#include "player/Binding.h"

namespace {

class BindingTest : public ::testing::Test {
protected:
    void TearDown() override { player::InstallTable(player::Table{}); }
};

TEST_F(BindingTest, MissingLibraryIsNamedAndInstallsNothing) {
    const std::string message = player::LoadLibrary("libVarnelNoSuchPlayer.so");
    EXPECT_NE(message.find("libVarnelNoSuchPlayer.so"), std::string::npos) << message;
    EXPECT_EQ(player::CurrentTable().PlayerInit, nullptr);
}

TEST_F(BindingTest, LibraryLackingEntryPointsNamesEachMissingOne) {
    const std::string message = player::LoadLibrary(PARTIAL_SDK_PATH);
    ASSERT_FALSE(message.empty());
    EXPECT_NE(message.find(PARTIAL_SDK_PATH), std::string::npos) << message;
    // Every entry point the library lacks is named with its number ...
    for (const char* missing : {"4 PlayerSetNotifyWindow", "18 PlayerGetTotalTime",
                                "23 PlayerSnapshot", "29 NetSearchFiles", "37 NetGetBufferProgress"})
        EXPECT_NE(message.find(missing), std::string::npos) << missing << " in: " << message;
    // ... and those it has are not.
    EXPECT_EQ(message.find("PlayerInit"), std::string::npos) << message;
    EXPECT_EQ(message.find("PlayerOpenFile"), std::string::npos) << message;
    EXPECT_EQ(message.find("5 PlayerPlay"), std::string::npos) << message;
    // Half a table is never installed.
    EXPECT_EQ(player::CurrentTable().PlayerInit, nullptr);
}

TEST_F(BindingTest, CompleteLibraryBindsEveryNameToItsNumberedSlot) {
    ASSERT_EQ(player::LoadLibrary(COMPLETE_SDK_PATH), "");
    // The stand-in answers each entry point's own number.
    EXPECT_EQ(player::PlayerInit(), 1);
    EXPECT_EQ(player::PlayerOpenFile("a.mp4", 0), 3);
    EXPECT_EQ(player::PlayerSetNotifyWindow(1, nullptr, WM_PLAYER_NOTIFY), 4);
    EXPECT_EQ(player::PlayerPlay(1, nullptr), 5);
    EXPECT_EQ(player::PlayerClose(1), 6);
    EXPECT_EQ(player::PlayerPause(1), 7);
    EXPECT_EQ(player::PlayerFast(1), 8);
    EXPECT_EQ(player::PlayerSlow(1), 9);
    EXPECT_EQ(player::PlayerStepFrame(1), 10);
    EXPECT_EQ(player::PlayerSetPosRatio(1, 0.5f), 11);
    EXPECT_EQ(player::PlayerHasAudio(1), 14);
    EXPECT_EQ(player::PlayerSoundOn(1), 16);
    EXPECT_EQ(player::PlayerSoundOff(1), 17);
    EXPECT_EQ(player::PlayerGetTotalTime(1), 18u);
    EXPECT_EQ(player::PlayerGetPlayTime(1), 19u);
    EXPECT_EQ(player::PlayerSetPlayTime(1, 0), 20);
    EXPECT_EQ(player::PlayerSnapshot(1, "x"), 23);
    EXPECT_EQ(player::PlayerStartCut(1, "x"), 27);
    EXPECT_EQ(player::PlayerStopCut(1), 28);
    NetTime start{}, end{};
    EXPECT_EQ(player::NetSearchFiles("a", "", 0, "l", "p", 1, 1, 0, &start, &end, nullptr,
                                     nullptr, 3000),
              29);
    EXPECT_EQ(player::NetGetSearchState(1), 30);
    EXPECT_EQ(player::NetStopSearch(1), 31);
    EXPECT_EQ(player::NetStartDownload("a", "l", "p", "n", "d", 3000, 0, 0, 0), 32);
    EXPECT_EQ(player::NetStopDownload(1), 33);
    EXPECT_EQ(player::NetGetDownloadProgress(1), 34);
    EXPECT_EQ(player::NetOpenStream("a", "l", "p", "n", nullptr, 3000), 35);
    EXPECT_EQ(player::NetSetBufferTime(1, 20), 36);
    EXPECT_EQ(player::NetGetBufferProgress(1), 37);
}

TEST_F(BindingTest, BareNameIsFoundBesideTheProgram) {
    // The test program and the stand-in libraries share the build's bin folder.
    ASSERT_EQ(player::LoadLibrary("libtest_sdk_complete.so"), "");
    EXPECT_EQ(player::PlayerGetTotalTime(1), 18u);
}

TEST_F(BindingTest, SlotByNumberCoversExactlyTheContractsNumbers) {
    player::Table table;
    int slots = 0;
    for (int number = 0; number <= 40; ++number)
        if (player::SlotByNumber(table, number) != nullptr) ++slots;
    EXPECT_EQ(slots, PLAYER_ENTRY_POINT_COUNT);
    for (int unused : {0, 2, 12, 13, 15, 21, 22, 24, 25, 26, 38})
        EXPECT_EQ(player::SlotByNumber(table, unused), nullptr) << unused;
}

}  // namespace
