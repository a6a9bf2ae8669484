// What only the system's controls and the DLL boundary can show, under
// Wine with a fake PlayerSDK.dll (tests/win32/SuiteMain.cpp); the windows'
// own cases are the shared suites of tests/local and tests/remote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AboutDlg.h"
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

#include <commctrl.h>
#include <commdlg.h>

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

// The window of a control, and its styles.
HWND ItemWindow(ui::Dialog& dialog, int id) { return reinterpret_cast<HWND>(dialog.ItemWindowHandle(id)); }
DWORD Style(ui::Dialog& dialog, int id) { return GetWindowLongW(ItemWindow(dialog, id), GWL_STYLE); }
bool HasStyle(ui::Dialog& dialog, int id, DWORD style) { return (Style(dialog, id) & style) == style; }

// Points this program's import of a system function elsewhere while it lives.
class ImportHook {
public:
    ImportHook(const wchar_t* dll, const char* function, void* replacement) {
        void* real = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(dll), function));
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             real != nullptr && slot_ == nullptr && entry->Name != 0; ++entry) {
            for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); slot->u1.Function != 0; ++slot)
                if (reinterpret_cast<void*>(slot->u1.Function) == real) slot_ = reinterpret_cast<void**>(&slot->u1.Function);
        }
        if (slot_ != nullptr) original_ = Swap(replacement);
    }
    ~ImportHook() {
        if (slot_ != nullptr) Swap(original_);
    }
    bool Installed() const { return slot_ != nullptr; }

private:
    void* Swap(void* value) {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        void* old = *slot_;
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
        return old;
    }
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// What the system's file-open dialog was asked for; it answers as cancelled.
struct OpenRequest {
    std::wstring filter;  // up to and with its closing pair of NULs
    DWORD flags = 0;
    std::wstring default_extension;
};
OpenRequest g_open_request;
BOOL WINAPI RecordOpenRequest(OPENFILENAMEW* dialog) {
    size_t length = 0;
    while (dialog->lpstrFilter[length] != L'\0' || dialog->lpstrFilter[length + 1] != L'\0') ++length;
    g_open_request.filter.assign(dialog->lpstrFilter, length + 2);
    g_open_request.flags = dialog->Flags;
    g_open_request.default_extension = dialog->lpstrDefExt != nullptr ? dialog->lpstrDefExt : L"(none)";
    return FALSE;
}

// The template ids of the dialogs that open while `show` runs, each closed
// with OK once it shows.
std::vector<intptr_t> g_dialogs_seen;
BOOL CALLBACK CloseShownDialog(HWND window, LPARAM) {
    const auto id = reinterpret_cast<intptr_t>(GetPropW(window, L"varnel.template"));
    if (IsWindowVisible(window) && IsWindowEnabled(window) && id != 0) {
        g_dialogs_seen.push_back(id);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return TRUE;
}
void CALLBACK LookForDialogs(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), &CloseShownDialog, 0);
}
std::vector<intptr_t> DialogsShownBy(const std::function<void()>& show) {
    g_dialogs_seen.clear();
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &LookForDialogs);
    show();
    KillTimer(nullptr, timer);
    return g_dialogs_seen;
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
    EXPECT_EQ(std::count(runs.begin(), runs.end(), TB_ENDTRACK), 1);
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

TEST_F(Win32WindowTest, TheMainWindowIsDraggedAsItsIconResource) {
    local_.Create();
    HWND window = reinterpret_cast<HWND>(local_.WindowHandle());
    const LRESULT icon = SendMessageW(window, WM_GETICON, ICON_BIG, 0);
    EXPECT_EQ(icon, reinterpret_cast<LRESULT>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128), IMAGE_ICON,
                                                         32, 32, LR_SHARED)));
    ASSERT_NE(icon, 0);
    EXPECT_EQ(SendMessageW(window, WM_QUERYDRAGICON, 0, 0), icon);
}

// Notes the device context the window's own request to erase its icon's
// background carries.
LRESULT CALLBACK NoteIconErase(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
    if (message == WM_ICONERASEBKGND) *reinterpret_cast<WPARAM*>(data) = wparam;
    return DefSubclassProc(window, message, wparam, lparam);
}

// Where the window drew an icon.
struct IconDrawn {
    HDC dc = nullptr;
    int x = 0, y = 0;
    HICON icon = nullptr;
};
IconDrawn g_icon_drawn;
BOOL WINAPI RecordDrawIcon(HDC dc, int x, int y, HICON icon) {
    g_icon_drawn = {dc, x, y, icon};
    return TRUE;
}

TEST_F(Win32WindowTest, TheMinimisedMainWindowPaintsItsIconCentred) {
    ImportHook draw(L"user32.dll", "DrawIcon", reinterpret_cast<void*>(&RecordDrawIcon));
    ASSERT_TRUE(draw.Installed());
    g_icon_drawn = {};
    local_.Create();
    HWND window = reinterpret_cast<HWND>(local_.WindowHandle());
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(local_.IsMinimized());
    WPARAM erased_with = 0;
    SetWindowSubclass(window, &NoteIconErase, 1, reinterpret_cast<DWORD_PTR>(&erased_with));
    // Sent, not awaited: the system here shows no client area of a minimised window.
    SendMessageW(window, WM_PAINT, 0, 0);
    RemoveWindowSubclass(window, &NoteIconErase, 1);
    ASSERT_NE(g_icon_drawn.dc, nullptr);
    EXPECT_EQ(erased_with, reinterpret_cast<WPARAM>(g_icon_drawn.dc));
    RECT client{};
    GetClientRect(window, &client);
    const ui::IconOrigin at = ui::CentredIconOrigin(client.right, client.bottom, GetSystemMetrics(SM_CXICON),
                                                    GetSystemMetrics(SM_CYICON));
    EXPECT_EQ(g_icon_drawn.x, at.x);
    EXPECT_EQ(g_icon_drawn.y, at.y);
    EXPECT_EQ(reinterpret_cast<LRESULT>(g_icon_drawn.icon), SendMessageW(window, WM_GETICON, ICON_BIG, 0));
}

TEST_F(Win32WindowTest, ControlsCarryTheSystemStylesOfTheirRoles) {
    local_.Create();
    remote::CDlgNetFile& r = OpenRemote();
    EXPECT_TRUE(HasStyle(local_, local::IDC_FILE_NAME, ES_READONLY | ES_AUTOHSCROLL));
    for (int id : {local::IDC_AUDIO, local::IDC_CUT})
        EXPECT_TRUE(HasStyle(local_, id, BS_AUTOCHECKBOX | BS_PUSHLIKE | WS_TABSTOP)) << id;
    EXPECT_TRUE(HasStyle(local_, local::kSeekBarId, TBS_AUTOTICKS));
    for (int id : {remote::IDC_PORT, remote::IDC_BUFFER_SECONDS}) EXPECT_TRUE(HasStyle(r, id, ES_NUMBER)) << id;
    EXPECT_FALSE(HasStyle(r, remote::IDC_ADDRESS, ES_NUMBER));
    EXPECT_TRUE(HasStyle(r, remote::IDC_AUDIO, BS_AUTOCHECKBOX | BS_PUSHLIKE));
    EXPECT_EQ(Style(r, remote::IDC_CHANNEL) & CBS_DROPDOWNLIST, static_cast<DWORD>(CBS_DROPDOWNLIST));
    EXPECT_TRUE(HasStyle(r, remote::IDC_START_DATE, DTS_SHORTDATEFORMAT | DTS_RIGHTALIGN));
    EXPECT_TRUE(HasStyle(r, remote::IDC_START_TIME, DTS_TIMEFORMAT | DTS_UPDOWN));
    EXPECT_TRUE(HasStyle(r, remote::IDC_RESULT_LIST, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER));
    EXPECT_EQ(SendMessageW(ItemWindow(r, remote::IDC_RESULT_LIST), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0),
              LVS_EX_FULLROWSELECT);
    // Only the main window has a button of its own on the task bar.
    const auto ex_style = [](ui::Dialog& dialog) {
        return GetWindowLongW(reinterpret_cast<HWND>(dialog.WindowHandle()), GWL_EXSTYLE) & WS_EX_APPWINDOW;
    };
    EXPECT_EQ(ex_style(local_), WS_EX_APPWINDOW);
    EXPECT_EQ(ex_style(r), 0);
    // The date pickers offer the days a signed 32-bit count of seconds holds.
    SYSTEMTIME range[2] = {};
    EXPECT_EQ(SendMessageW(ItemWindow(r, remote::IDC_START_DATE), DTM_GETRANGE, 0, reinterpret_cast<LPARAM>(range)),
              GDTR_MIN | GDTR_MAX);
    EXPECT_EQ(range[0].wYear * 10000 + range[0].wMonth * 100 + range[0].wDay, 19700101);
    EXPECT_EQ(range[1].wYear * 10000 + range[1].wMonth * 100 + range[1].wDay, 20380118);
}

TEST_F(Win32WindowTest, TheSystemMenuEntryAndCommandSixteenOpenTheAboutBox) {
    local::SetApplicationShell({nullptr, [](ui::Dialog& owner) { app::ShowAboutBox(&owner); }, {}});
    local_.Create();
    HWND window = reinterpret_cast<HWND>(local_.WindowHandle());
    HMENU menu = GetSystemMenu(window, FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_TRUE(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), 16u);
    wchar_t text[64] = {};
    GetMenuStringW(menu, count - 1, text, 64, MF_BYPOSITION);
    EXPECT_EQ(text, std::wstring(L"关于 Varnel(&A)..."));
    // The command as the menu sends it, and with low bits set.
    for (WPARAM command : {16u, 16u | 3u}) {
        EXPECT_THAT(DialogsShownBy([&] { SendMessageW(window, WM_SYSCOMMAND, command, 0); }),
                    ElementsAre(app::kAboutTemplateId))
            << command;
    }
    local::SetApplicationShell({});
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

TEST(Win32FileDialog, OpenFileAsksTheSystemsDialogForTheRequestAsTheWindowGivesIt) {
    fake::FakePlayer lib;
    t::ManualTimers timers;
    ImportHook hook(L"comdlg32.dll", "GetOpenFileNameW", reinterpret_cast<void*>(&RecordOpenRequest));
    ASSERT_TRUE(hook.Installed());
    g_open_request = {};
    local::CVarnelDlg window;
    window.Create();
    ASSERT_TRUE(t::Click(window, local::IDC_OPEN_FILE));
    EXPECT_EQ(g_open_request.filter, std::wstring(L"MPEG4文件\0*.mp4\0\0", 15));
    EXPECT_EQ(g_open_request.flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_EXPLORER));
    EXPECT_EQ(g_open_request.default_extension, L"*.*");
    EXPECT_THAT(lib.CallsNamed("PlayerOpenFile"), ::testing::IsEmpty());  // cancelled
    window.Destroy();
}

}  // namespace
