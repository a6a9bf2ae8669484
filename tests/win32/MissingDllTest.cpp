// varnel.exe with no PlayerSDK.dll beside it: a message box names the DLL,
// and once it is closed the program exits with 1. Both programs carry the
// manifest that asks for version 6 of the common controls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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

// The first message box of the process: its text, after pressing its OK. The box
// is listed as soon as it is created, before its dialog procedure has filled in the
// text, so the text is awaited too.
std::wstring AnswerMessageBox(DWORD process, DWORD timeout_ms) {
    Search search{process, nullptr};
    wchar_t text[1024] = {};
    for (DWORD waited = 0; waited < timeout_ms && text[0] == L'\0'; waited += 100) {
        Sleep(100);
        if (search.box == nullptr) EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box != nullptr && IsWindowVisible(search.box))
            GetDlgItemTextW(search.box, 0xFFFF, text, 1024);  // the box's static text
    }
    if (search.box != nullptr) PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    return text;
}

TEST(Win32Program, MissingDllIsNamedInAMessageBoxAndTheExitCodeIs1) {
    std::wstring command = L"\"" + Beside(L"varnel.exe") + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    const std::wstring text = AnswerMessageBox(process.dwProcessId, 60000);
    EXPECT_NE(text.find(L"PlayerSDK.dll"), std::wstring::npos);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The program's resource 1 of type RT_MANIFEST.
std::string Manifest(const wchar_t* program) {
    HMODULE image = LoadLibraryExW(Beside(program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (image == nullptr) return {};
    std::string text;
    if (HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        const char* data = static_cast<const char*>(LockResource(LoadResource(image, found)));
        if (data != nullptr) text.assign(data, SizeofResource(image, found));
    }
    FreeLibrary(image);
    return text;
}

TEST(Win32Program, BothProgramsAskForCommonControls6AndTheSystemCodePage) {
    for (const wchar_t* program : {L"varnel.exe", L"varnel-remote.exe"}) {
        const std::string manifest = Manifest(program);
        EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"), std::string::npos);
        EXPECT_NE(manifest.find(">Legacy</activeCodePage>"), std::string::npos);
    }
}

}  // namespace
