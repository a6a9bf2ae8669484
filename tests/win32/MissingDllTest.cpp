// varnel.exe with no PlayerSDK.dll beside it: a message box names the DLL,
// and once it is closed the program exits with 1.
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

}  // namespace
