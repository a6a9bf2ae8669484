// Inside the windowing layer: the dialog's state and the toolkit window
// that carries it. Only ui/ and its test helpers include this.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "res/Templates.h"
#include "ui/Dialog.h"
#include "ui/DialogAccess.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/WindowEndpoint.h"

namespace ui {

namespace detail {
class DialogWidget;
}

struct ControlRecord {
    int id = res::kNoId;
    res::ControlKind kind = res::ControlKind::Label;
    std::uint32_t style = 0;
    QWidget* widget = nullptr;
    std::string text;  // a label's caption as given, before mnemonics are taken out
};

struct TimerRecord {
    unsigned milliseconds = 0;
    std::unique_ptr<QBasicTimer> timer;  // not running while timers are manual
};

struct SystemMenuItem {
    unsigned command = 0;  // 0 for a separator
    std::string text;
};

struct Dialog::Impl {
    Impl(Dialog& self, int template_id, Dialog* parent);

    const ControlRecord* Find(int id) const;
    // The control's widget as W, or nullptr (and a note on standard error)
    // when the dialog has no such control of that kind: an error of the
    // calling window that must not bring the program down.
    template <typename W>
    W* As(int id) const;
    void ReportMissing(int id, const char* what) const;

    void Build();
    void ApplyFocus(bool default_focus);
    void TearDown();
    void StartTimer(unsigned id, TimerRecord& record);
    void RunTimer(int toolkit_timer_id);
    void Click(int id);  // a button's click notification
    void Enter();
    void ShowSystemMenu(const QPoint& global_position);

    Dialog& self;
    const int template_id;
    Dialog* const parent;
    const res::DialogTemplate& tmpl;
    std::optional<detail::DialogUnits> units;
    detail::DialogWidget* widget = nullptr;
    std::vector<ControlRecord> controls;
    std::map<int, std::size_t> by_id;
    std::map<unsigned, TimerRecord> timers;
    std::shared_ptr<detail::PostBox> posts;
    std::map<int, detail::Endpoint*> endpoints;  // 0 = the dialog itself
    std::map<int, std::shared_ptr<detail::PictureSlot>> picture_slots;
    std::map<int, std::time_t> picker_values;
    std::vector<SystemMenuItem> system_menu;
    int icon_big = 0;
    int icon_small = 0;
    std::optional<int> result;
    QEventLoop* modal_loop = nullptr;
};

namespace detail {

// The toolkit window of a dialog.
class DialogWidget final : public QDialog {
public:
    DialogWidget(Dialog& owner, QWidget* parent);
    bool closing = false;  // set while the layer itself removes the window

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void reject() override;

private:
    Dialog& owner_;
};

// Timers armed from now on run only when FireTimer delivers a tick (tests).
void SetManualTimers(bool manual);
bool ManualTimers();

// Makes "宋体" resolve to an installed Song face.
void InstallFontSubstitutes();

}  // namespace detail

template <typename W>
W* Dialog::Impl::As(int id) const {
    const ControlRecord* record = Find(id);
    W* widget = record != nullptr ? dynamic_cast<W*>(record->widget) : nullptr;
    if (widget == nullptr) ReportMissing(id, typeid(W).name());
    return widget;
}

}  // namespace ui
