// What only the system's controls and the DLL boundary can show, under
// Wine with a fake PlayerSDK.dll (tests/win32/SuiteMain.cpp); the windows'
// own cases are the shared suites of tests/local and tests/remote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "local/PositionDisplay.h"
#include "local/VarnelDlg.h"
#include "player/Binding.h"
#include "remote/DlgNetFile.h"
#include "tests/fake/FakePlayer.h"
#include "tests/win32/FakeSdkHost.h"
#include "ui/Dialog.h"
#include "ui/Testing.h"

// After the interface: the system's macros of the same names then agree.
#include <windows.h>
#undef MessageBox

namespace {

using ::testing::ElementsAre;
namespace t = ui::testing;

// The text in the system's ANSI code page, as the library receives it.
std::string Ansi(const std::string& utf8) {
    wchar_t wide[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide, 255);
    char ansi[512] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, 511, nullptr, nullptr);
    return ansi;
}

// Where a loaded module's file is, lower-cased.
std::string ModulePath(const wchar_t* module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(module), path, MAX_PATH);
    std::string narrow;
    for (const wchar_t* c = path; *c != L'\0'; ++c) narrow.push_back(static_cast<char>(towlower(*c)));
    return narrow;
}

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        lib_.Answer("PlayerGetTotalTime", 61000);
        lib_.Answer("PlayerHasAudio", 1);
        remote::NetFileDlg = nullptr;
        remote::SearchHandle = -1;
        remote::DownloadHandle = -1;
        remote::StreamHandle = PLAYER_NO_HANDLE;
        remote::SearchTimerId = remote::DownloadTimerId = 0;
        remote::PositionTimerId = remote::BufferingTimerId = 0;
    }
    void TearDown() override {
        if (local_.IsCreated()) local_.Destroy();
        if (remote_ && remote_->IsCreated()) remote_->Destroy();
        t::ProcessEvents();
        local::LocalCutFlag = 0;
    }

    void OpenLocal(const std::string& path, PlayerHandle handle) {
        local_.Create();
        files_.Add(path);
        lib_.AnswerOnce("PlayerOpenFile", handle);
        ASSERT_TRUE(t::Click(local_, local::IDC_OPEN_FILE));
    }
    remote::CDlgNetFile& OpenRemote() {
        remote_ = std::make_unique<remote::CDlgNetFile>();
        remote_->Create();
        remote_->SetItemText(remote::IDC_ADDRESS, "127.0.0.1");
        lib_.ClearCalls();
        return *remote_;
    }
    // The library reports one recording.
    void Report(const std::string& ansi_name) {
        const NetTime start{2026, 12, 8, 8, 0, 0, {}};
        const NetTime end{2026, 12, 8, 9, 0, 0, {}};
        lib_.ReportSearchResult(remote::SearchHandle, ansi_name.c_str(), &start, &end, 1048576);
        t::ProcessEvents();
    }

    fake::FakePlayer lib_;
    t::ManualTimers timers_;
    t::MessageBoxes boxes_;
    t::FileDialogScript files_;
    local::CVarnelDlg local_;
    std::unique_ptr<remote::CDlgNetFile> remote_;
};

// A dialog of the main window's template that keeps the scroll codes.
class ScrollRecorder final : public ui::Dialog {
public:
    ScrollRecorder() : Dialog(local::kMainTemplateId) {}
    std::vector<int> codes;

protected:
    void OnHScroll(int code, int) override { codes.push_back(code); }
};

TEST_F(Win32WindowTest, TrackbarDragSendsItsOwnCodesToTheWindow) {
    ScrollRecorder window;
    window.Create();
    window.EnableItem(local::kSeekBarId, true);
    window.SetTrackRange(local::kSeekBarId, 0, 60, true);
    ASSERT_TRUE(t::DragSeekBar(window, local::kSeekBarId, 45));
    // The bar's own codes: thumb track (5) while moving, then thumb position
    // (4) and end track (8) once when let go (Wine's bar sends end track
    // again as it gives up the mouse capture; the window hears one).
    std::vector<int> runs = window.codes;
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(std::count(runs.begin(), runs.end(), ui::TB_ENDTRACK), 1);
    runs.erase(std::unique(runs.begin(), runs.end()), runs.end());
    EXPECT_THAT(runs, ElementsAre(5, 4, 8)) << ::testing::PrintToString(window.codes);
    EXPECT_EQ(window.TrackPos(local::kSeekBarId), 45);
    window.Destroy();
}

TEST_F(Win32WindowTest, EndFromALibraryThreadResetsThePositionDisplay) {
    lib_.Answer("PlayerGetPlayTime", 40000);
    OpenLocal("C:\\media\\a.mp4", 7);
    ASSERT_EQ(local_.TrackPos(local::kSeekBarId), 40);
    test::FakeSdkHost::PostFromThread(PLAYER_EVENT_END, 7);  // a real WM_PLAYER_NOTIFY, posted
    EXPECT_TRUE(t::WaitUntil([&] { return local_.TrackPos(local::kSeekBarId) == 0; }));
    EXPECT_EQ(local_.ItemText(local::kElapsedLabelId), "00:00:00");
    EXPECT_EQ(local_.Handle(), 7);
}

TEST_F(Win32WindowTest, ChinesePathReachesTheDllInTheCodePage) {
    ASSERT_EQ(GetACP(), 936u) << "run under a Chinese locale (LC_ALL=zh_CN.UTF-8)";
    OpenLocal("C:\\录像\\通道1.mp4", 7);
    EXPECT_EQ(lib_.CallsNamed("PlayerOpenFile"),
              std::vector<std::string>{"PlayerOpenFile(\"C:\\\xC2\xBC\xCF\xF1\\\xCD\xA8\xB5\xC0" "1.mp4\", 0)"});
    EXPECT_EQ(local_.ItemText(local::IDC_FILE_NAME), "C:\\录像\\通道1.mp4");
}

TEST_F(Win32WindowTest, TheMainWindowIsDraggedAsItsIcon) {
    local_.Create();
    HWND window = reinterpret_cast<HWND>(local_.WindowHandle());
    const LRESULT icon = SendMessageW(window, WM_GETICON, ICON_BIG, 0);
    ASSERT_NE(icon, 0);
    EXPECT_EQ(SendMessageW(window, WM_QUERYDRAGICON, 0, 0), icon);
}

TEST_F(Win32WindowTest, RemoteWindowSearchesListsAndAnEmptyClickClearsTheSelection) {
    remote::CDlgNetFile& w = OpenRemote();
    lib_.AnswerOnce("NetSearchFiles", 5);
    ASSERT_TRUE(t::Click(w, remote::IDC_SEARCH));
    ASSERT_EQ(lib_.CallsNamed("NetSearchFiles").size(), 1u);
    EXPECT_THAT(lib_.CallsNamed("NetSearchFiles")[0], ::testing::StartsWith("NetSearchFiles(\"127.0.0.1\", \"\", 0"));
    Report(Ansi("ch01_录像.mp4"));
    Report("ch01_b.mp4");
    ASSERT_EQ(w.ListRowCount(remote::IDC_RESULT_LIST), 2);
    // The controls are those of the common controls' side-by-side assembly
    // of version 6, as the manifest asks, not the system folder's version 5.
    EXPECT_THAT(ModulePath(L"comctl32.dll"), ::testing::HasSubstr("common-controls_6595b64144ccf1df_6.0."));
    EXPECT_EQ(w.ListCell(remote::IDC_RESULT_LIST, 0, 0), "ch01_录像.mp4");

    ASSERT_TRUE(t::SelectRow(w, remote::IDC_RESULT_LIST, 1));
    EXPECT_EQ(w.ListSelectedRow(remote::IDC_RESULT_LIST), 1);
    ASSERT_TRUE(t::ClickListBlank(w, remote::IDC_RESULT_LIST));
    EXPECT_EQ(w.ListSelectedRow(remote::IDC_RESULT_LIST), -1);
}

}  // namespace
