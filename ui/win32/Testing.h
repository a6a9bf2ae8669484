// Test helpers that drive the real Win32 controls through their own window
// procedures: the messages a mouse click, a drag or a key would bring.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/Dialog.h"

namespace ui::testing {

// A button's click (BM_CLICK: pressed and released; toggles flip).
bool Click(Dialog& dialog, int id);
// The left button pressed on the seek bar's thumb, moved to the position
// and let go; the bar itself sends its scroll codes to the dialog.
bool DragSeekBar(Dialog& dialog, int id, int position);
// A click on a list row, a double-click on it, a click below the last row.
bool SelectRow(Dialog& dialog, int list_id, int row);
bool DoubleClickRow(Dialog& dialog, int list_id, int row);
bool ClickListBlank(Dialog& dialog, int list_id);
// Delivers the posted messages that are due, once.
void ProcessEvents();
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

class ManualTimers {
public:
    ManualTimers();
    ~ManualTimers();
    ManualTimers(const ManualTimers&) = delete;
    ManualTimers& operator=(const ManualTimers&) = delete;
};

class MessageBoxes {
public:
    MessageBoxes();
    ~MessageBoxes();
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;
    const std::vector<std::string>& Texts() const { return texts_; }

private:
    std::vector<std::string> texts_;
};

class FileDialogScript {
public:
    FileDialogScript();
    ~FileDialogScript();
    FileDialogScript(const FileDialogScript&) = delete;
    FileDialogScript& operator=(const FileDialogScript&) = delete;
    void Add(std::optional<std::string> answer) { answers_.push_back(std::move(answer)); }

private:
    std::deque<std::optional<std::string>> answers_;
};

}  // namespace ui::testing
