// A remote window driven on the offscreen platform against the scripted
// fake library, with the message boxes it shows collected instead of shown.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "remote/DlgNetFile.h"
#include "tests/fake/FakePlayer.h"
#include "ui/Dialog.h"
#include "ui/Testing.h"

namespace remote_test {

// A moment of the local calendar, as seconds since the epoch.
std::time_t LocalMoment(int year, int month, int day, int hour, int minute, int second);
// The local calendar fields of a picker or field value.
std::tm Local(std::time_t value);

class RemoteWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Constructs and creates a window (initialised, not run modally).
    remote::CDlgNetFile& Open();
    // Opens a window and points it at the loopback recorder before anything
    // reaches the library.
    remote::CDlgNetFile& OpenOnLoopback();
    // As varnel-remote --address 127.0.0.1 --search-and-play creates it.
    remote::CDlgNetFile& OpenSearchingAndPlaying();
    void Close();  // destroys the window as closing it does, then deletes it
    remote::CDlgNetFile& Window() { return *window_; }

    // User actions, through the real controls.
    void Click(int id);
    void TypeText(int id, const std::string& text);  // replaces the box's text
    void SelectRow(int row);
    void DoubleClickRow(int row);
    void ClearSelection();
    void DragSeekBar(int position);
    void PressEnter();
    void PressEscape();
    // Lets queued tasks and posted messages run.
    void ProcessEvents();
    // Processes events until the condition holds or a generous time passes.
    bool WaitFor(const std::function<bool()>& condition);

    // The library's side.
    void Notify(int code, PlayerHandle handle);  // posts WM_PLAYER_NOTIFY, then processes events
    void Report(const char* name, NetTime start, NetTime end, uint32_t bytes);  // one search row
    // Starts a search whose handle is given, reports the rows and selects
    // the first one (if any).
    void SearchWithRows(int32_t handle, const std::vector<std::string>& names);
    // Opens a stream on row 0 with the given handle and delivers its start.
    void OpenAndStartStream(PlayerHandle handle, uint32_t total_ms = 61000);

    std::vector<std::string> ListNames();
    std::vector<std::string> Row(int row);

    fake::FakePlayer lib_;
    ui::testing::ManualTimers timers_;
    ui::testing::MessageBoxes boxes_;
    std::time_t now_ = 0;  // the window's clock; 0 means the fixture's default day

private:
    std::unique_ptr<remote::CDlgNetFile> window_;
};

}  // namespace remote_test
