// Inside the windowing layer: how a backend's own code and its test helpers
// reach a dialog's protected handlers and its state.
#pragma once

#include <cstdint>

#include "ui/Dialog.h"

namespace ui {

struct DialogAccess {
    using State = Dialog::Impl;
    static Dialog::Impl& Impl(Dialog& dialog) { return *dialog.impl_; }
    static const Dialog::Impl& Impl(const Dialog& dialog) { return *dialog.impl_; }
    static bool InitDialog(Dialog& d) { return d.OnInitDialog(); }
    static void Command(Dialog& d, int id) { d.OnCommand(id); }
    static void ListDoubleClick(Dialog& d, int id) { d.OnListDoubleClick(id); }
    static void Timer(Dialog& d, unsigned id) { d.OnTimer(id); }
    static void HScroll(Dialog& d, int code, int id) { d.OnHScroll(code, id); }
    static void Message(Dialog& d, uint32_t m, intptr_t w, intptr_t l) { d.OnMessage(m, w, l); }
    static void SysCommand(Dialog& d, unsigned command) { d.OnSysCommand(command); }
    static void Ok(Dialog& d) { d.OnOK(); }
    static void Cancel(Dialog& d) { d.OnCancel(); }
    static void Destroyed(Dialog& d) { d.OnDestroy(); }
};

}  // namespace ui
