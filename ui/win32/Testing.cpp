// The test helpers on Win32: the messages a mouse click, a drag or a key
// would bring, sent to the real controls' own window procedures.
#include "ui/Testing.h"

#include "ui/win32/DialogImpl.h"  // before the system headers

#include <windows.h>

#include <commctrl.h>
#include <thread>

#include "ui/win32/Text.h"

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

void DoubleClickAt(HWND control, int x, int y) {
    PressAndRelease(control, x, y);
    PostMessageW(control, WM_LBUTTONUP, 0, At(x, y));
    SendMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, At(x, y));
    ProcessEvents();
}

POINT RowCentre(HWND list, int row) {
    RECT bounds{};
    bounds.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
    return {(bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2};
}

// Scrolls the row into view: the list and the row's centre; false for no such row.
bool ShowRow(Dialog& dialog, int list_id, int row, HWND* list, POINT* centre) {
    *list = Item(dialog, list_id);
    if (*list == nullptr || row < 0 || row >= dialog.ListRowCount(list_id)) return false;
    SendMessageW(*list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    *centre = RowCentre(*list, row);
    return true;
}

// A point of the list below its rows; false when rows fill it.
bool BlankPoint(HWND list, POINT* at) {
    RECT client{};
    GetClientRect(list, &client);
    LVHITTESTINFO hit{};
    hit.pt = {client.right / 2, client.bottom - 4};
    if (SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) >= 0) return false;
    *at = hit.pt;
    return true;
}

UINT VirtualKey(Key key) {
    switch (key) {
        case Key::Enter: return VK_RETURN;
        case Key::Escape: return VK_ESCAPE;
        case Key::Tab: return VK_TAB;
        case Key::Space: return VK_SPACE;
        case Key::Left: return VK_LEFT;
        case Key::Right: return VK_RIGHT;
        case Key::Up: return VK_UP;
        case Key::Down: return VK_DOWN;
        case Key::PageUp: return VK_PRIOR;
        case Key::PageDown: return VK_NEXT;
        case Key::Home: return VK_HOME;
        case Key::End: return VK_END;
    }
    return 0;
}

// Key down and up as the system queues them: one press, then the release.
void QueueKey(HWND target, UINT key) {
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scan << 16)));
    PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
}

struct Thumb {
    RECT rect{}, channel{};
    int minimum = 0, maximum = 0;
    POINT Centre() const { return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }
    // The thumb's centre when the bar shows the position.
    int XFor(int position) const {
        const int width = channel.right - channel.left - (rect.right - rect.left);
        const int offset = maximum > minimum ? MulDiv(position - minimum, width, maximum - minimum) : 0;
        return channel.left + (rect.right - rect.left) / 2 + offset;
    }
};

Thumb ThumbOf(HWND bar) {
    Thumb thumb;
    SendMessageW(bar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb.rect));
    SendMessageW(bar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&thumb.channel));
    thumb.minimum = static_cast<int>(SendMessageW(bar, TBM_GETRANGEMIN, 0, 0));
    thumb.maximum = static_cast<int>(SendMessageW(bar, TBM_GETRANGEMAX, 0, 0));
    return thumb;
}

}  // namespace

bool Click(Dialog& dialog, int id) {
    HWND button = Item(dialog, id);
    if (button == nullptr) return false;
    SendMessageW(button, BM_CLICK, 0, 0);
    ProcessEvents();
    return true;
}

bool SelectRow(Dialog& dialog, int list_id, int row) {
    HWND list = nullptr;
    POINT centre{};
    if (!ShowRow(dialog, list_id, row, &list, &centre)) return false;
    PressAndRelease(list, centre.x, centre.y);
    return true;
}

bool DoubleClickRow(Dialog& dialog, int list_id, int row) {
    HWND list = nullptr;
    POINT centre{};
    if (!ShowRow(dialog, list_id, row, &list, &centre)) return false;
    DoubleClickAt(list, centre.x, centre.y);
    return true;
}

bool ClickListBlank(Dialog& dialog, int list_id) {
    HWND list = Item(dialog, list_id);
    POINT at{};
    if (list == nullptr || !BlankPoint(list, &at)) return false;
    PressAndRelease(list, at.x, at.y);
    return true;
}

bool DoubleClickListBlank(Dialog& dialog, int list_id) {
    HWND list = Item(dialog, list_id);
    POINT at{};
    if (list == nullptr || !BlankPoint(list, &at)) return false;
    DoubleClickAt(list, at.x, at.y);
    return true;
}

bool TypeText(Dialog& dialog, int id, const std::string& text) {
    HWND edit = Item(dialog, id);
    if (edit == nullptr) return false;
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, WM_CHAR, VK_BACK, 1);
    // The box's own procedure refuses what ES_NUMBER or its limit refuses.
    for (wchar_t unit : detail::Wide(text)) SendMessageW(edit, WM_CHAR, unit, 1);
    ProcessEvents();
    return true;
}

std::string SelectedText(Dialog& dialog, int id) {
    HWND edit = reinterpret_cast<HWND>(dialog.ItemWindowHandle(id));
    if (edit == nullptr) return {};
    DWORD first = 0, last = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&first), reinterpret_cast<LPARAM>(&last));
    const std::wstring text = detail::Wide(detail::WindowText(edit));
    return detail::Utf8(text.substr(std::min<size_t>(first, text.size()), last > first ? last - first : 0));
}

bool PressKey(Dialog& dialog, Key key) {
    HWND window = reinterpret_cast<HWND>(dialog.WindowHandle());
    if (window == nullptr || !IsWindowVisible(window)) return false;
    HWND focus = GetFocus();
    QueueKey(focus != nullptr && IsChild(window, focus) ? focus : window, VirtualKey(key));
    ProcessEvents();
    return true;
}

bool HoldSeekBarThumb(Dialog& dialog, int id, int position) {
    HWND bar = Item(dialog, id);
    if (bar == nullptr) return false;
    const Thumb thumb = ThumbOf(bar);
    const POINT from = thumb.Centre();
    int to = thumb.XFor(position);
    SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, At(from.x, from.y));
    if (GetCapture() != bar) return false;
    SendMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, At((from.x + to) / 2, from.y));
    SendMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, At(to, from.y));
    // A pixel may stand for several values or none: a few more pixels land
    // on the position when one does.
    for (int nudge = 0; nudge < 4; ++nudge) {
        const int shown = static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0));
        if (shown == position) break;
        to += shown < position ? 1 : -1;
        SendMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, At(to, from.y));
    }
    ProcessEvents();
    return true;
}

bool ReleaseSeekBarThumb(Dialog& dialog, int id) {
    // The window the thumb was held in, even if it has been disabled since.
    HWND bar = reinterpret_cast<HWND>(dialog.ItemWindowHandle(id));
    if (bar == nullptr || GetCapture() != bar) return false;
    const POINT at = ThumbOf(bar).Centre();
    SendMessageW(bar, WM_LBUTTONUP, 0, At(at.x, at.y));
    ProcessEvents();
    return true;
}

bool DragSeekBar(Dialog& dialog, int id, int position) {
    return HoldSeekBarThumb(dialog, id, position) && ReleaseSeekBarThumb(dialog, id);
}

bool StepSeekBar(Dialog& dialog, int id, Key key) {
    HWND bar = Item(dialog, id);
    if (bar == nullptr) return false;
    SetFocus(bar);
    QueueKey(bar, VirtualKey(key));
    ProcessEvents();
    return true;
}

bool ClickSeekBarGroove(Dialog& dialog, int id, bool after_thumb) {
    HWND bar = Item(dialog, id);
    if (bar == nullptr) return false;
    const Thumb thumb = ThumbOf(bar);
    const int x = after_thumb ? (thumb.rect.right + thumb.channel.right) / 2
                              : (thumb.channel.left + thumb.rect.left) / 2;
    if (after_thumb ? x <= thumb.rect.right : x >= thumb.rect.left) return false;  // no room beside the thumb
    const int y = thumb.Centre().y;
    SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
    SendMessageW(bar, WM_LBUTTONUP, 0, At(x, y));
    ProcessEvents();
    return true;
}

void PostToWindow(Dialog& dialog, uint32_t message, intptr_t wparam, intptr_t lparam) {
    PostMessageW(reinterpret_cast<HWND>(dialog.WindowHandle()), message, static_cast<WPARAM>(wparam), lparam);
    ProcessEvents();
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

unsigned TimerInterval(const Dialog& dialog, unsigned id) {
    const auto& timers = DialogAccess::Impl(dialog).timers;
    const auto found = timers.find(id);
    return found != timers.end() ? found->second : 0;
}

ManualTimers::ManualTimers() { detail::SetManualTimers(true); }
ManualTimers::~ManualTimers() { detail::SetManualTimers(false); }

}  // namespace ui::testing
