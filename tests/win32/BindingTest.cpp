// The binding against the fake PlayerSDK.dll of each calling convention:
// entry points found by number, the stack pointer kept, texts crossing in
// the ANSI code page, the search callback in the library's convention.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "player/Binding.h"
#include "player/CallThunk.h"
#include "tests/fake/FakePlayer.h"
#include "tests/win32/FakeSdkHost.h"

namespace {

using ::testing::ElementsAre;

TEST(Win32Binding, MissingDllIsNamed) {
    const std::string message = player::LoadLibrary("C:\\varnel-nowhere\\PlayerSDK.dll");
    EXPECT_NE(message.find("C:\\varnel-nowhere\\PlayerSDK.dll"), std::string::npos) << message;
    EXPECT_EQ(player::CurrentTable().PlayerInit, nullptr);
}

TEST(Win32Binding, DllLackingNumbersNamesEachMissingOne) {
    const std::string message = player::LoadLibrary(test::FakeSdkPath("partial").c_str());
    for (const char* missing : {"4 PlayerSetNotifyWindow", "29 NetSearchFiles", "37 NetGetBufferProgress"})
        EXPECT_NE(message.find(missing), std::string::npos) << missing << " in: " << message;
    EXPECT_EQ(message.find("3 PlayerOpenFile"), std::string::npos) << message;
    EXPECT_EQ(player::CurrentTable().PlayerInit, nullptr);
}

TEST(Win32Binding, ABareNameIsFoundWhereTheSystemLooksForDlls) {
    ASSERT_EQ(GetModuleHandleW(L"PlayerSDK.dll"), nullptr) << "an earlier test left the DLL loaded";
    std::string folder = test::FakeSdkPath("cdecl");
    folder.resize(folder.find_last_of('\\'));
    char path[32767] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    const std::string saved = path;
    SetEnvironmentVariableA("PATH", (folder + ";" + saved).c_str());
    const std::string message = player::LoadLibrary("PlayerSDK.dll");
    SetEnvironmentVariableA("PATH", saved.c_str());
    EXPECT_EQ(message, "");
    player::InstallTable(player::Table{});
}

class Win32Convention : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { ASSERT_TRUE(host_.Load(GetParam())) << host_.Error(); }
    void TearDown() override { player::InstallTable(player::Table{}); }

    bool Stdcall() const { return std::string(GetParam()) == "stdcall"; }

    fake::FakePlayer lib_;
    test::FakeSdkHost host_;
};

#if defined(__i386__)
// The stack pointer as the caller sees it, read right around each call.
#define STACK_POINTER(variable) asm volatile("movl %%esp, %0" : "=r"(variable))

TEST_P(Win32Convention, EveryEntryPointKeepsTheStackPointer) {
    NetTime time{};
    uintptr_t before = 0, after = 0;
    int checked = 0;
#define CHECK_ENTRY(call)                                        \
    STACK_POINTER(before);                                       \
    call;                                                        \
    STACK_POINTER(after);                                        \
    EXPECT_EQ(before, after) << #call;                           \
    ++checked;
    CHECK_ENTRY(player::PlayerInit());
    CHECK_ENTRY(player::PlayerOpenFile("a.mp4", 0));
    CHECK_ENTRY(player::PlayerSetNotifyWindow(1, nullptr, WM_PLAYER_NOTIFY));
    CHECK_ENTRY(player::PlayerPlay(1, nullptr));
    CHECK_ENTRY(player::PlayerClose(1));
    CHECK_ENTRY(player::PlayerPause(1));
    CHECK_ENTRY(player::PlayerFast(1));
    CHECK_ENTRY(player::PlayerSlow(1));
    CHECK_ENTRY(player::PlayerStepFrame(1));
    CHECK_ENTRY(player::PlayerSetPosRatio(1, 0.5f));
    CHECK_ENTRY(player::PlayerHasAudio(1));
    CHECK_ENTRY(player::PlayerSoundOn(1));
    CHECK_ENTRY(player::PlayerSoundOff(1));
    CHECK_ENTRY(player::PlayerGetTotalTime(1));
    CHECK_ENTRY(player::PlayerGetPlayTime(1));
    CHECK_ENTRY(player::PlayerSetPlayTime(1, 1000));
    CHECK_ENTRY(player::PlayerSnapshot(1, "C:\\haha.bmp"));
    CHECK_ENTRY(player::PlayerStartCut(1, "C:\\cut.mp4"));
    CHECK_ENTRY(player::PlayerStopCut(1));
    CHECK_ENTRY(player::NetSearchFiles("127.0.0.1", "", 0, "246135", "246135", 1, 1, 1, &time, &time,
                                       nullptr, nullptr, 3000));
    CHECK_ENTRY(player::NetGetSearchState(1));
    CHECK_ENTRY(player::NetStopSearch(1));
    CHECK_ENTRY(player::NetStartDownload("127.0.0.1", "246135", "246135", "a.mp4", "d:\\test.mp4", 3000, 0, 0, 0));
    CHECK_ENTRY(player::NetStopDownload(1));
    CHECK_ENTRY(player::NetGetDownloadProgress(1));
    CHECK_ENTRY(player::NetOpenStream("127.0.0.1", "246135", "246135", "a.mp4", nullptr, 3000));
    CHECK_ENTRY(player::NetSetBufferTime(1, 5));
    CHECK_ENTRY(player::NetGetBufferProgress(1));
#undef CHECK_ENTRY
    EXPECT_EQ(checked, PLAYER_ENTRY_POINT_COUNT);
    EXPECT_EQ(lib_.Calls().size(), static_cast<size_t>(PLAYER_ENTRY_POINT_COUNT));
    EXPECT_EQ(player::EntryPointConvention(),
              Stdcall() ? player::Convention::Stdcall : player::Convention::Cdecl);
}

// The library calls back as it was built to: seven words; the bytes the
// callback popped.
int CallBack(SearchResultCallback callback, const char* name, const NetTime* time) {
    const auto word = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    const uint32_t words[7] = {1, 0, word(name), word(time), word(time), 1048576, 0};
    int popped = -1;
    varnel_call_words(reinterpret_cast<const void*>(callback), words, 7, &popped);
    return popped;
}

std::string g_received;
std::atomic<int> g_rows{0};
void Receive(int32_t, int32_t, const char* name, const NetTime*, const NetTime*, uint32_t, int32_t) {
    g_received = name;
    ++g_rows;
}

TEST_P(Win32Convention, SearchAloneTellsTheConventionOfItsCallback) {
    g_received.clear();
    const NetTime start{2011, 5, 6, 7, 8, 9, {}};
    player::NetSearchFiles("127.0.0.1", "", 0, "246135", "246135", 1, 1, 1, &start, &start, &Receive, nullptr,
                           3000);
    EXPECT_EQ(lib_.Calls().size(), 1u);  // nothing but the search reaches the library
    EXPECT_EQ(CallBack(lib_.SearchCallback(), "\xB2\xE2\xCA\xD4.mp4", &start), Stdcall() ? 28 : 0);
    EXPECT_EQ(g_received, "\xB2\xE2\xCA\xD4.mp4");  // as the library gave it
}

TEST_P(Win32Convention, ACallbackOnTheCallersThreadInsideTheFirstSearchCallReturnsInTheLibrarysConvention) {
    const NetTime start{2011, 5, 6, 7, 8, 9, {}};
    g_received.clear();
    lib_.AnswerWith("NetSearchFiles", [&](const fake::Call&) -> int64_t {
        host_.CallBackNow(lib_.SearchCallback(), 1, "early.mp4", &start);  // from the DLL's own code
        return 1;
    });
    uintptr_t before = 0, after = 0;
    STACK_POINTER(before);
    player::NetSearchFiles("127.0.0.1", "", 0, "246135", "246135", 1, 1, 1, &start, &start, &Receive, nullptr,
                           3000);
    STACK_POINTER(after);
    EXPECT_EQ(before, after);
    EXPECT_EQ(g_received, "early.mp4");
    EXPECT_EQ(player::EntryPointConvention(), Stdcall() ? player::Convention::Stdcall : player::Convention::Cdecl);
}

TEST_P(Win32Convention, ACallbackFromALibraryThreadDuringTheSearchCallReturnsInTheLibrarysConvention) {
    const NetTime start{2011, 5, 6, 7, 8, 9, {}};
    std::thread library;
    int popped = -1;
    g_rows = 0;
    lib_.AnswerWith("NetSearchFiles", [&](const fake::Call&) -> int64_t {
        library = std::thread([&] { popped = CallBack(lib_.SearchCallback(), "early.mp4", &start); });
        // The search call returns only once the row has arrived.
        for (int waited = 0; g_rows == 0 && waited < 10000; waited += 10) Sleep(10);
        return 1;
    });
    player::NetSearchFiles("127.0.0.1", "", 0, "246135", "246135", 1, 1, 1, &start, &start, &Receive, nullptr,
                           3000);
    library.join();
    EXPECT_EQ(popped, Stdcall() ? 28 : 0);
}
#endif

TEST_P(Win32Convention, APathInTheCodePageCrossesByteForByte) {
    const std::string path = "C:\\\xC2\xBC\xCF\xF1\\\xCD\xA8\xB5\xC0" "1.mp4";  // C:\录像\通道1.mp4 in GBK
    player::PlayerOpenFile(path.c_str(), 0);
    EXPECT_THAT(lib_.Calls(), ElementsAre("PlayerOpenFile(\"" + path + "\", 0)"));
}

TEST(Win32Text, TextsMeetInTheAnsiCodePage) {
    ASSERT_EQ(GetACP(), 936u) << "run under a Chinese locale (LANG=zh_CN.UTF-8)";
    EXPECT_EQ(player::LibraryText("d:\\测试.mp4"), "d:\\\xB2\xE2\xCA\xD4.mp4");
    EXPECT_EQ(player::WindowText("d:\\\xB2\xE2\xCA\xD4.mp4"), "d:\\测试.mp4");
}

TEST_P(Win32Convention, NotifyArrivesFromALibraryThread) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    player::PlayerSetNotifyWindow(7, reinterpret_cast<PlayerWindowHandle>(window), WM_PLAYER_NOTIFY);
    host_.PostFromThread(PLAYER_EVENT_END, 7);
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, window, WM_PLAYER_NOTIFY, WM_PLAYER_NOTIFY, PM_REMOVE));
    EXPECT_EQ(message.wParam, static_cast<WPARAM>(PLAYER_EVENT_END));
    EXPECT_EQ(message.lParam, 7);
    DestroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(Dll, Win32Convention, ::testing::Values("cdecl", "stdcall"));

}  // namespace
