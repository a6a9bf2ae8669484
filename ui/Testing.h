// Test helpers that drive the real dialog controls as a user would, the
// same on every backend (ui/qt/Testing.cpp, ui/win32/Testing.cpp).
//
//   #include "ui/Testing.h"          // link a test main that creates the
//   using namespace ui::testing;     // application object (ui_testing_main;
//                                    // tests/win32/SuiteMain.cpp under Wine)
//
//   ManualTimers manual;             // timers tick only through FireTimer
//   MessageBoxes boxes;              // message boxes are recorded, not shown
//   FileDialogScript files({"/tmp/a.mp4"});  // answers the file-open dialog
//   MyWindow window;
//   window.Create();                 // built, initialised and shown
//   Click(window, 1008);             // a real mouse click; toggles flip
//   TypeText(window, 1014, "3000");  // through the validator and length limit
//   DragSeekBar(window, 1003, 42);   // codes 5..., 4, 8 reach OnHScroll
//   window.FireTimer(1);             // one tick of an armed timer
//   PostToWindow(window, 1224, 1, 7);  // a library message, delivered
//   EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"open file failed"});
//   window.Destroy();                // OnDestroy, then the controls go
//
// Every helper returns false (or nothing useful) when a user could not have
// done it: a hidden or disabled control, a window not shown.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/Dialog.h"

namespace ui::testing {

// Mouse clicks at the centre of a button, check box or toggle.
bool Click(Dialog& dialog, int id);
// A click on a list row (selects it) and a double-click on it.
bool SelectRow(Dialog& dialog, int list_id, int row);
bool DoubleClickRow(Dialog& dialog, int list_id, int row);
// A click and a double-click on the list's empty part, below its rows.
bool ClickListBlank(Dialog& dialog, int list_id);
bool DoubleClickListBlank(Dialog& dialog, int list_id);

// Replaces the text of an edit box by typing: selects all, deletes, then
// types each character; the box refuses what its validator or its length
// limit refuses. Returns false when the box cannot take the focus.
bool TypeText(Dialog& dialog, int id, const std::string& text);

// The part of an edit box's text that is selected, as typing would replace it.
std::string SelectedText(Dialog& dialog, int id);

enum class Key { Enter, Escape, Tab, Space, Left, Right, Up, Down, PageUp, PageDown, Home, End };
// A key pressed and released on the control with the focus (or the dialog).
bool PressKey(Dialog& dialog, Key key);

// Drags the seek bar's thumb to the position and lets it go.
bool DragSeekBar(Dialog& dialog, int id, int position);
// The two halves of a drag: the thumb pressed and moved to the position and
// held there, then let go where it is.
bool HoldSeekBarThumb(Dialog& dialog, int id, int position);
bool ReleaseSeekBarThumb(Dialog& dialog, int id);
// A key pressed on the seek bar: arrows, page keys, Home, End.
bool StepSeekBar(Dialog& dialog, int id, Key key);
// A click on the seek bar's groove beside the thumb (a page step).
bool ClickSeekBarGroove(Dialog& dialog, int id, bool after_thumb);

// Posts a message to the dialog as the player library does (through the
// handle it was given), then delivers it.
void PostToWindow(Dialog& dialog, uint32_t message, intptr_t wparam, intptr_t lparam);
// Delivers the posted events and timers that are due, once.
void ProcessEvents();
// Processes events until the condition holds; false after the timeout.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

// The interval an armed timer was last armed with; 0 when it is not armed.
unsigned TimerInterval(const Dialog& dialog, unsigned id);

// While one lives, timers armed are recorded but tick only via FireTimer.
class ManualTimers {
public:
    ManualTimers();
    ~ManualTimers();
    ManualTimers(const ManualTimers&) = delete;
    ManualTimers& operator=(const ManualTimers&) = delete;
};

// While one lives, message boxes are recorded instead of shown.
class MessageBoxes {
public:
    MessageBoxes();
    ~MessageBoxes();
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;
    const std::vector<std::string>& Texts() const { return texts_; }
    void Clear() { texts_.clear(); }

private:
    std::vector<std::string> texts_;
};

// While one lives, the file-open dialog answers from the list, in order
// (std::nullopt = cancelled; cancelled when the list runs out), and keeps
// every request it was given.
class FileDialogScript {
public:
    explicit FileDialogScript(std::vector<std::optional<std::string>> answers = {});
    ~FileDialogScript();
    FileDialogScript(const FileDialogScript&) = delete;
    FileDialogScript& operator=(const FileDialogScript&) = delete;
    void Add(std::optional<std::string> answer) { answers_.push_back(std::move(answer)); }
    const std::vector<FileDialogRequest>& Requests() const { return requests_; }

private:
    std::deque<std::optional<std::string>> answers_;
    std::vector<FileDialogRequest> requests_;
};

}  // namespace ui::testing
