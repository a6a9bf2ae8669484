// varnel.exe with no PlayerSDK.dll beside it: a message box names the DLL,
// and once it is closed the program exits with 1. With the demo DLL of each
// calling convention, a path named on the command line reaches the library
// byte for byte. Both programs carry the manifest that asks for version 6 of
// the common controls.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring Beside(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

struct Search {
    DWORD process;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t kind[16] = {};
    GetClassNameW(window, kind, 16);
    if (owner != search->process || std::wstring(kind) != L"#32770") return TRUE;
    search->box = window;
    return FALSE;
}

struct MessageBoxSeen {
    std::wstring text;
    std::vector<int> buttons;  // the ids of the buttons shown
    int icons = 0;             // icon images shown
};

BOOL CALLBACK NoteControl(HWND control, LPARAM data) {
    auto* seen = reinterpret_cast<MessageBoxSeen*>(data);
    if (!IsWindowVisible(control)) return TRUE;
    wchar_t kind[16] = {};
    GetClassNameW(control, kind, 16);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (_wcsicmp(kind, L"Button") == 0) seen->buttons.push_back(GetDlgCtrlID(control));
    if (_wcsicmp(kind, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && SendMessageW(control, STM_GETICON, 0, 0) != 0)
        ++seen->icons;
    return TRUE;
}

// The first message box of the process, after pressing its OK. The box is listed
// as soon as it is created, before its dialog procedure has filled in the text,
// so the text is awaited too.
MessageBoxSeen AnswerMessageBox(DWORD process, DWORD timeout_ms) {
    Search search{process, nullptr};
    MessageBoxSeen seen;
    wchar_t text[1024] = {};
    for (DWORD waited = 0; waited < timeout_ms && text[0] == L'\0'; waited += 100) {
        Sleep(100);
        if (search.box == nullptr) EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box != nullptr && IsWindowVisible(search.box))
            GetDlgItemTextW(search.box, 0xFFFF, text, 1024);  // the box's static text
    }
    seen.text = text;
    if (search.box != nullptr) {
        EnumChildWindows(search.box, &NoteControl, reinterpret_cast<LPARAM>(&seen));
        PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    }
    return seen;
}

TEST(Win32Program, MissingDllIsNamedInAMessageBoxAndTheExitCodeIs1) {
    std::wstring command = L"\"" + Beside(L"varnel.exe") + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    const MessageBoxSeen box = AnswerMessageBox(process.dwProcessId, 60000);
    EXPECT_NE(box.text.find(L"PlayerSDK.dll"), std::wstring::npos);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});  // one OK button
    EXPECT_EQ(box.icons, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// A resource of the program; empty when it has none.
std::string Resource(const wchar_t* program, int id, const wchar_t* type) {
    HMODULE image = LoadLibraryExW(Beside(program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (image == nullptr) return {};
    std::string bytes;
    if (HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(id), type)) {
        const char* data = static_cast<const char*>(LockResource(LoadResource(image, found)));
        if (data != nullptr) bytes.assign(data, SizeofResource(image, found));
    }
    FreeLibrary(image);
    return bytes;
}

TEST(Win32Program, BothProgramsAskForCommonControls6AndTheSystemCodePageAndCarryIcon128) {
    for (const wchar_t* program : {L"varnel.exe", L"varnel-remote.exe"}) {
        const std::string manifest = Resource(program, 1, MAKEINTRESOURCEW(24));
        EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"), std::string::npos);
        EXPECT_NE(manifest.find(">Legacy</activeCodePage>"), std::string::npos);
        // The icon shells show for the program file: a group of two images.
        const std::string icons = Resource(program, 128, RT_GROUP_ICON);
        ASSERT_GE(icons.size(), 6u);
        EXPECT_EQ(icons[4], 2) << "images in icon 128";
    }
}

// varnel.exe and a demo DLL of the kind, in a folder of their own.
std::wstring StageProgram(const std::wstring& kind) {
    const std::wstring folder = Beside(L"staged-") + kind + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(Beside(L"varnel.exe").c_str(), (folder + L"varnel.exe").c_str(), FALSE);
    CopyFileW(Beside((kind + L"\\PlayerSDK.dll").c_str()).c_str(), (folder + L"PlayerSDK.dll").c_str(), FALSE);
    return folder;
}

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    if (std::FILE* file = _wfopen(path.c_str(), L"rb")) {
        char chunk[512];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
        std::fclose(file);
    }
    return bytes;
}

class Win32ProgramWithDll : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(Win32ProgramWithDll, AChinesePathOnTheCommandLineReachesTheLibraryByteForByte) {
    ASSERT_EQ(GetACP(), 936u) << "run under a Chinese locale (LANG=zh_CN.UTF-8)";
    const std::wstring folder = StageProgram(GetParam());
    const std::wstring log = folder + L"opened.txt";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"VARNEL_DEMO_OPEN_LOG", log.c_str());
    const std::string path = "C:\\\xC2\xBC\xCF\xF1\\\xCD\xA8\xB5\xC0" "1.mp4";  // C:\录像\通道1.mp4 in GBK
    std::string command = "\"";
    for (wchar_t c : folder) command.push_back(static_cast<char>(c));  // an ASCII build path
    command += "varnel.exe\" " + path;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    std::string opened;
    for (DWORD waited = 0; waited < 120000 && opened.empty(); waited += 100) {
        Sleep(100);
        opened = FileBytes(log);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    SetEnvironmentVariableW(L"VARNEL_DEMO_OPEN_LOG", nullptr);
    EXPECT_EQ(opened, path + "\n");
}

INSTANTIATE_TEST_SUITE_P(Conventions, Win32ProgramWithDll, ::testing::Values(L"demo", L"demo-stdcall"));

}  // namespace
