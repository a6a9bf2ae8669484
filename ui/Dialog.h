// The small windowing layer the windows are written against: a modal dialog
// built from a template of res/, its controls addressed by id, keyed timers,
// posted messages, message boxes and the file-open dialog. No toolkit type
// appears here, so the windows never include one.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/PlayerSdk.h"

namespace ui {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Seek bar notification codes, as OnHScroll receives them.
inline constexpr int TB_LINEUP = 0;
inline constexpr int TB_LINEDOWN = 1;
inline constexpr int TB_PAGEUP = 2;
inline constexpr int TB_PAGEDOWN = 3;
inline constexpr int TB_THUMBPOSITION = 4;
inline constexpr int TB_THUMBTRACK = 5;
inline constexpr int TB_TOP = 6;
inline constexpr int TB_BOTTOM = 7;
inline constexpr int TB_ENDTRACK = 8;

// System commands (before masking with 0xFFF0).
inline constexpr unsigned SC_CLOSE = 0xF060;

// Runs a task on a window's own thread. Safe to use from any thread and to
// keep after the window is gone: tasks posted then, or still queued when the
// window goes, are dropped. Tasks from one thread run in the order posted.
class Mailbox {
public:
    virtual ~Mailbox() = default;
    // Returns false when the window is already gone (the task is dropped).
    virtual bool Post(std::function<void()> task) = 0;
};

// The process's application object; construct one before any dialog.
class Application {
public:
    Application(int& argc, char** argv);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class Dialog {
public:
    explicit Dialog(int template_id, Dialog* parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the window from its template, initialises it (OnInitDialog),
    // shows it, runs it modally until EndDialog, then destroys it
    // (OnDestroy). Returns the result given to EndDialog.
    int DoModal();
    // The first and last halves of DoModal, for tests that drive a dialog
    // without a modal loop. Destroy runs OnDestroy, then removes the window.
    void Create();
    void Destroy();
    bool IsCreated() const;
    // Ends the run with this result: hides the window and leaves the modal
    // loop. A dialog driven through Create stays until Destroy is called.
    void EndDialog(int result);
    bool IsEnded() const;  // EndDialog was called since the window was created
    int Result() const;    // the result given to EndDialog, -1 before

    int TemplateId() const;
    std::string Title() const;

    // Controls by id.
    void ShowItem(int id, bool show);
    bool IsItemVisible(int id) const;
    void EnableItem(int id, bool enable);
    bool IsItemEnabled(int id) const;
    void SetItemText(int id, const std::string& text);  // caption, label or edit text
    std::string ItemText(int id) const;
    void SetCheck(int id, bool checked);  // check boxes and push toggles
    bool IsChecked(int id) const;
    void SetFocusItem(int id);
    int FocusedItem() const;  // id of the control with the focus, 0 when none
    void SelectAllText(int id);  // edit boxes
    void SetTextLimit(int id, int characters);  // edit boxes

    // Drop-down lists: selection index, -1 when none.
    int DropDownSelection(int id) const;
    void SetDropDownSelection(int id, int index);
    int DropDownCount(int id) const;

    // Date and time pickers, as seconds since 1970-01-01 00:00:00 UTC shown in
    // the local calendar. A date picker keeps the time of day it was given; a
    // time picker the date.
    std::time_t PickerTime(int id) const;
    void SetPickerTime(int id, std::time_t value);

    // Seek bars.
    void SetTrackRange(int id, int minimum, int maximum, bool redraw);
    int TrackMin(int id) const;
    int TrackMax(int id) const;
    void SetTrackPos(int id, int position);
    int TrackPos(int id) const;
    void SetTrackLineSize(int id, int size);
    void SetTrackPageSize(int id, int size);
    int TrackLineSize(int id) const;
    int TrackPageSize(int id) const;

    // Progress bars.
    void SetProgressRange(int id, int minimum, int maximum);
    void SetProgressPos(int id, int position);
    int ProgressPos(int id) const;

    // Report-view lists.
    void ListInsertColumn(int id, int column, const std::string& header, int width_px);
    int ListColumnCount(int id) const;
    std::string ListColumnHeader(int id, int column) const;
    int ListColumnWidth(int id, int column) const;
    void ListSetFullRowSelect(int id);
    int ListRowCount(int id) const;
    int ListInsertRow(int id, int index, const std::string& text);  // returns the row's index
    void ListSetCell(int id, int row, int column, const std::string& text);
    std::string ListCell(int id, int row, int column) const;
    void ListDeleteAllRows(int id);
    int ListSelectedRow(int id) const;  // -1 when none
    void ListSelectRow(int id, int row);  // -1 clears the selection

    // Timers keyed by id: arming an armed id restarts it; returns the id.
    unsigned SetTimer(unsigned id, unsigned milliseconds);
    void KillTimer(unsigned id);
    bool IsTimerArmed(unsigned id) const;
    std::vector<unsigned> ArmedTimers() const;  // ascending
    // Delivers one tick of an armed timer now, as if it had elapsed (tests).
    // Returns false, delivering nothing, when the timer is not armed.
    bool FireTimer(unsigned id);

    // Window handles for the player library. Posts to either reach this
    // dialog's OnMessage on its thread; pictures presented to a picture
    // area's handle show in that area. Valid while the window exists.
    PlayerWindowHandle WindowHandle();
    PlayerWindowHandle ItemWindowHandle(int id);
    std::shared_ptr<Mailbox> GetMailbox();

    // Frame: the system menu (the window's context menu here), icons.
    void AppendSystemMenuSeparator();
    void AppendSystemMenuItem(unsigned command, const std::string& text);
    // The entries the window appended, in order, "" for a separator; the
    // menu shown also holds the standard Minimise and Close entries above them.
    std::vector<std::string> SystemMenuItems() const;
    void SendSysCommand(unsigned command);  // as if chosen from the menu
    void SetIcon(int icon_id, bool big);
    int IconId(bool big) const;  // 0 when none
    bool IsMinimized() const;

protected:
    // Return true to give the focus to the first control with a tab stop.
    virtual bool OnInitDialog() { return true; }
    // A button was clicked. A button with id IDOK or IDCANCEL runs OnOK or
    // OnCancel instead, as the accept and cancel commands.
    virtual void OnCommand(int /*id*/) {}
    virtual void OnListDoubleClick(int /*id*/) {}  // a list row was double-clicked
    virtual void OnTimer(unsigned /*id*/) {}
    virtual void OnHScroll(int /*code*/, int /*control_id*/) {}
    virtual void OnMessage(uint32_t /*message*/, intptr_t /*wparam*/, intptr_t /*lparam*/) {}
    virtual void OnSysCommand(unsigned command) { DefaultSysCommand(command); }
    virtual void OnOK() { EndDialog(IDOK); }          // Enter, focus not on a push button
    virtual void OnCancel() { EndDialog(IDCANCEL); }  // Escape, the close box
    virtual void OnDestroy() {}
    void DefaultSysCommand(unsigned command);

private:
    friend struct DialogAccess;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Where a minimised window draws its big icon in its client area, where the
// platform paints one: centred, the odd pixel going to the left (top) margin.
struct IconOrigin {
    int x;
    int y;
};
constexpr IconOrigin CentredIconOrigin(int client_width, int client_height, int icon_width, int icon_height) {
    return {(client_width - icon_width + 1) / 2, (client_height - icon_height + 1) / 2};
}

// Whether a window shown now could reach a user: false on a headless run
// (no display, or the offscreen platform that tests use).
bool UserCanSeeWindows();

// Shows a modal message box with the text, one OK button and no icon.
void MessageBox(Dialog* owner, const std::string& text);

struct FileDialogRequest {
    std::string filter;             // e.g. "MPEG4文件|*.mp4||"
    std::string default_extension;  // e.g. "*.*"
    std::string initial_name;
    unsigned flags = 0;
};
// Shows the file-open dialog; the chosen full path, or nothing when cancelled.
std::optional<std::string> ShowFileOpenDialog(const FileDialogRequest& request);

// Replacements that tests install; pass an empty function to restore the real one.
using MessageBoxSink = std::function<void(const std::string& text)>;
void SetMessageBoxSink(MessageBoxSink sink);
using FileDialogAnswer = std::function<std::optional<std::string>(const FileDialogRequest&)>;
void SetFileDialogAnswer(FileDialogAnswer answer);

}  // namespace ui
