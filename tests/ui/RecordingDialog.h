// A dialog that records every notification it receives, for the tests of
// the windowing layer itself.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ui/Dialog.h"

struct Scroll {
    int code;
    int control_id;
    int position;  // the seek bar's position when the handler ran
    bool operator==(const Scroll&) const = default;
};

struct Message {
    uint32_t message;
    intptr_t wparam;
    intptr_t lparam;
    std::thread::id thread;
};

class RecordingDialog : public ui::Dialog {
public:
    explicit RecordingDialog(int template_id) : ui::Dialog(template_id) {}

    std::vector<int> commands;
    std::vector<bool> checked_at_command;  // IsChecked(id) seen by OnCommand
    std::vector<int> double_clicks;
    std::vector<int> selected_at_double_click;
    std::vector<unsigned> ticks;
    std::vector<Scroll> scrolls;
    std::vector<Message> messages;
    std::vector<unsigned> sys_commands;
    int oks = 0;
    int cancels = 0;
    int destroys = 0;
    std::string text_seen_at_destroy;
    std::function<void(unsigned)> on_timer;
    bool default_ok_cancel = true;

protected:
    void OnCommand(int id) override {
        commands.push_back(id);
        checked_at_command.push_back(IsChecked(id));
    }
    void OnListDoubleClick(int id) override {
        double_clicks.push_back(id);
        selected_at_double_click.push_back(ListSelectedRow(id));
    }
    void OnTimer(unsigned id) override {
        ticks.push_back(id);
        if (on_timer) on_timer(id);
    }
    void OnHScroll(int code, int control_id) override {
        scrolls.push_back({code, control_id, TrackPos(control_id)});
    }
    void OnMessage(uint32_t message, intptr_t wparam, intptr_t lparam) override {
        messages.push_back({message, wparam, lparam, std::this_thread::get_id()});
    }
    void OnSysCommand(unsigned command) override {
        sys_commands.push_back(command);
        DefaultSysCommand(command);
    }
    void OnOK() override {
        ++oks;
        if (default_ok_cancel) ui::Dialog::OnOK();
    }
    void OnCancel() override {
        ++cancels;
        if (default_ok_cancel) ui::Dialog::OnCancel();
    }
    void OnDestroy() override {
        ++destroys;
        if (TemplateId() == 102) text_seen_at_destroy = ItemText(1008);
    }
};
