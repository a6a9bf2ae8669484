// The process's application object, the icons, the message box and the
// file-open dialog on Win32.
#include "ui/win32/DialogImpl.h"  // before the system headers

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "res/Templates.h"
#include "ui/CommonDialogs.h"
#include "ui/win32/Text.h"

namespace ui {

using detail::Utf8;
using detail::Wide;

namespace {

// An XPM image with one character per pixel ("c #rrggbb" or "c None").
HICON IconFromXpm(const char* const* xpm) {
    int width = 0, height = 0, colours = 0, chars = 0;
    if (std::sscanf(xpm[0], "%d %d %d %d", &width, &height, &colours, &chars) != 4 || chars != 1) return nullptr;
    std::map<char, COLORREF> palette;  // absent: transparent
    for (int i = 1; i <= colours; ++i) {
        const char* line = xpm[i];
        const char* hash = std::strchr(line, '#');
        if (hash != nullptr) {
            const unsigned long rgb = std::strtoul(hash + 1, nullptr, 16);
            palette[line[0]] = static_cast<COLORREF>(rgb);
        }
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        const char* row = xpm[1 + colours + y];
        for (int x = 0; x < width; ++x) {
            const auto found = palette.find(row[x]);
            if (found != palette.end()) pixels[static_cast<size_t>(y) * width + x] = 0xFF000000u | found->second;
        }
    }
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = width;
    header.bV5Height = -height;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (colour == nullptr) return nullptr;
    std::memcpy(bits, pixels.data(), pixels.size() * 4);
    HBITMAP mask = CreateBitmap(width, height, 1, 1, nullptr);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colour);
    DeleteObject(mask);
    return icon;
}

}  // namespace

HICON detail::IconById(int id, int size) {
    // Made once per image and kept for the life of the process.
    static std::map<std::pair<int, int>, HICON> made;
    const auto key = std::make_pair(id, size);
    if (const auto found = made.find(key); found != made.end()) return found->second;
    const char* const* xpm = size <= 16 ? res::SmallIconXpmById(id) : nullptr;
    if (xpm == nullptr) xpm = res::IconXpmById(id);
    HICON icon = xpm != nullptr ? IconFromXpm(xpm) : nullptr;
    made[key] = icon;
    return icon;
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
    const std::wstring extension = Wide(detail::DefaultSuffix(request.default_extension));
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
