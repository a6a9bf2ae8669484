// The process's application object, the icons, the message box and the
// file-open dialog on Win32.
#include "ui/win32/DialogImpl.h"  // before the system headers

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

#include "res/Templates.h"
#include "ui/CommonDialogs.h"
#include "ui/win32/Text.h"

namespace ui {

using detail::Utf8;
using detail::Wide;

HICON detail::IconById(int id, int size) {
    // The program's own icon resource, at the size asked; shared, so kept by the system.
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size,
                                         LR_SHARED));
}

struct Application::Impl {
    std::vector<std::string> arguments;
};

Application::Application(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES |
                     ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
    // The windows' text is UTF-8; the runtime's arguments are in the ANSI
    // code page, so they are taken again from the wide command line.
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        if (count == argc) {
            for (int i = 0; i < count; ++i) impl_->arguments.push_back(Utf8(wide[i]));
            for (int i = 0; i < count; ++i) argv[i] = impl_->arguments[static_cast<size_t>(i)].data();
        }
        LocalFree(wide);
    }
}

Application::~Application() = default;

// A Windows program always runs on a desktop.
bool UserCanSeeWindows() { return true; }

void MessageBox(Dialog* owner, const std::string& text) {
    if (const MessageBoxSink sink = detail::InstalledMessageBoxSink()) {
        sink(text);
        return;
    }
    HWND window = owner != nullptr ? reinterpret_cast<HWND>(owner->WindowHandle()) : GetActiveWindow();
    const std::string title = owner != nullptr ? owner->Title() : std::string("varnel");
    MessageBoxW(window, Wide(text).c_str(), Wide(title).c_str(), MB_OK);
}

std::optional<std::string> ShowFileOpenDialog(const FileDialogRequest& request) {
    if (const FileDialogAnswer answer = detail::InstalledFileDialogAnswer()) return answer(request);
    // "desc|pattern||" is the system's "desc\0pattern\0\0".
    std::wstring filter = Wide(request.filter);
    for (wchar_t& c : filter)
        if (c == L'|') c = L'\0';
    filter.push_back(L'\0');
    // The default extension goes to the system's dialog as the window gives it.
    const std::wstring extension = Wide(request.default_extension);
    wchar_t name[MAX_PATH] = {};
    const std::wstring initial = Wide(request.initial_name);
    wcsncpy(name, initial.c_str(), MAX_PATH - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetActiveWindow();
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = name;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    dialog.Flags = request.flags | OFN_EXPLORER;
    if (!GetOpenFileNameW(&dialog)) return std::nullopt;
    return Utf8(name);
}

}  // namespace ui
