#include "ui/win32/Testing.h"

#include "ui/win32/DialogImpl.h"  // before the system headers

#include <windows.h>

#include <commctrl.h>
#include <thread>

namespace ui::testing {
namespace {

HWND Item(Dialog& dialog, int id) {
    HWND item = reinterpret_cast<HWND>(dialog.ItemWindowHandle(id));
    return item != nullptr && IsWindowVisible(item) && IsWindowEnabled(item) ? item : nullptr;
}

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

// Button down and up at a point of the control; the release is queued
// first, so that a control that waits for it in a loop of its own finds it.
void PressAndRelease(HWND control, int x, int y) {
    PostMessageW(control, WM_LBUTTONUP, 0, At(x, y));
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
    ProcessEvents();
}

POINT RowCentre(HWND list, int row) {
    RECT bounds{};
    bounds.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
    return {(bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2};
}

}  // namespace

bool Click(Dialog& dialog, int id) {
    HWND button = Item(dialog, id);
    if (button == nullptr) return false;
    SendMessageW(button, BM_CLICK, 0, 0);
    ProcessEvents();
    return true;
}

bool DragSeekBar(Dialog& dialog, int id, int position) {
    HWND bar = Item(dialog, id);
    if (bar == nullptr) return false;
    RECT thumb{}, channel{};
    SendMessageW(bar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageW(bar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    const int minimum = static_cast<int>(SendMessageW(bar, TBM_GETRANGEMIN, 0, 0));
    const int maximum = static_cast<int>(SendMessageW(bar, TBM_GETRANGEMAX, 0, 0));
    if (maximum <= minimum) return false;
    const int y = (thumb.top + thumb.bottom) / 2;
    const int from = (thumb.left + thumb.right) / 2;
    const int width = channel.right - channel.left - (thumb.right - thumb.left);
    const int to = channel.left + (thumb.right - thumb.left) / 2 +
                   MulDiv(position - minimum, width, maximum - minimum);
    SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, At(from, y));
    SendMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, At((from + to) / 2, y));
    SendMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, At(to, y));
    SendMessageW(bar, WM_LBUTTONUP, 0, At(to, y));
    ProcessEvents();
    return true;
}

bool SelectRow(Dialog& dialog, int list_id, int row) {
    HWND list = Item(dialog, list_id);
    if (list == nullptr || row < 0 || row >= dialog.ListRowCount(list_id)) return false;
    const POINT centre = RowCentre(list, row);
    PressAndRelease(list, centre.x, centre.y);
    return true;
}

bool DoubleClickRow(Dialog& dialog, int list_id, int row) {
    if (!SelectRow(dialog, list_id, row)) return false;
    HWND list = Item(dialog, list_id);
    const POINT centre = RowCentre(list, row);
    PostMessageW(list, WM_LBUTTONUP, 0, At(centre.x, centre.y));
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, At(centre.x, centre.y));
    ProcessEvents();
    return true;
}

bool ClickListBlank(Dialog& dialog, int list_id) {
    HWND list = Item(dialog, list_id);
    if (list == nullptr) return false;
    RECT client{};
    GetClientRect(list, &client);
    PressAndRelease(list, client.right / 2, client.bottom - 4);
    return true;
}

void ProcessEvents() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (root != nullptr && IsDialogMessageW(root, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        ProcessEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

ManualTimers::ManualTimers() { detail::SetManualTimers(true); }
ManualTimers::~ManualTimers() { detail::SetManualTimers(false); }

MessageBoxes::MessageBoxes() {
    SetMessageBoxSink([this](const std::string& text) { texts_.push_back(text); });
}
MessageBoxes::~MessageBoxes() { SetMessageBoxSink(nullptr); }

FileDialogScript::FileDialogScript() {
    SetFileDialogAnswer([this](const FileDialogRequest&) -> std::optional<std::string> {
        if (answers_.empty()) return std::nullopt;
        std::optional<std::string> answer = answers_.front();
        answers_.pop_front();
        return answer;
    });
}
FileDialogScript::~FileDialogScript() { SetFileDialogAnswer(nullptr); }

}  // namespace ui::testing
