// Inside the Win32 backend: the dialog's state and the window that carries
// it. Only ui/win32 and its test helpers include this.
#pragma once

// The interface first: the system headers then define the same names
// (IDOK, SC_CLOSE, TB_THUMBTRACK ...) as macros of the same values.
#include "ui/Dialog.h"
#include "ui/DialogAccess.h"

#include <windows.h>
#undef MessageBox

#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "res/Templates.h"

namespace ui {

namespace detail {

// The message that tells a window a task is waiting in its mailbox.
inline constexpr UINT kTaskMessage = WM_APP + 1;

// Posts to one window, from any thread, in order. Attached to the window
// while it exists; once detached every post is dropped.
class PostBox final : public Mailbox {
public:
    void Attach(HWND window);
    void Detach();
    bool Post(std::function<void()> task) override;
    // The window's thread: the oldest task, or an empty one.
    std::function<void()> Take();

private:
    std::mutex mutex_;
    HWND window_ = nullptr;
    std::deque<std::function<void()>> tasks_;
};

// Timers armed from now on run only when FireTimer delivers a tick (tests).
void SetManualTimers(bool manual);
bool ManualTimers();

// The icon resource as a system icon of the size (32 or 16); null when none.
HICON IconById(int id, int size);

}  // namespace detail

struct SystemMenuItem {
    unsigned command = 0;  // 0 for a separator
    std::string text;
};

struct Dialog::Impl {
    Impl(Dialog& self, int template_id, Dialog* parent);

    HWND Item(int id, const char* what) const;
    const res::ControlTemplate* Control(int id) const;
    void StartTimer(unsigned id);
    INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
    // Painted while minimised where the system paints such a window: the big icon, centred.
    void PaintMinimised();
    void TearDown();

    Dialog& self;
    const int template_id;
    Dialog* const parent;
    const res::DialogTemplate& tmpl;
    HWND window = nullptr;
    std::map<unsigned, unsigned> timers;  // id -> period in ms
    std::shared_ptr<detail::PostBox> posts;
    std::map<int, std::time_t> picker_values;
    std::map<int, int> last_scroll_code;  // trackbar id -> the last scroll code it sent
    std::vector<SystemMenuItem> system_menu;
    int icon_big = 0;
    int icon_small = 0;
    std::optional<int> result;
    bool default_sys_command = false;  // the handler asked for the default handling
};

}  // namespace ui
