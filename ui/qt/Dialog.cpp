#include "ui/Dialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QFontMetrics>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSlider>
#include <QTimerEvent>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "ui/qt/Controls.h"
#include "ui/qt/DialogImpl.h"
#include "ui/qt/Text.h"

namespace ui {

using detail::FromQt;
using detail::ToQt;
using res::ControlKind;

namespace {

constexpr unsigned kScMinimize = 0xF020;
constexpr unsigned kScRestore = 0xF120;

std::atomic<bool> g_manual_timers{false};

// Counts handler calls in progress, so that a window removed from inside
// one of its own handlers is deleted only once the handler has returned.
std::atomic<int> g_dispatch_depth{0};

template <typename F>
void Dispatch(F&& handler) {
    ++g_dispatch_depth;
    handler();
    --g_dispatch_depth;
}

QIcon IconFor(int big_id, int small_id) {
    QIcon icon;
    if (const char* const* xpm = res::IconXpmById(big_id)) icon.addPixmap(QPixmap(xpm));
    if (const char* const* xpm = res::SmallIconXpmById(small_id)) icon.addPixmap(QPixmap(xpm));
    else if (const char* const* big = res::IconXpmById(small_id)) icon.addPixmap(QPixmap(big));
    return icon;
}

bool TakesFocus(ControlKind kind) {
    switch (kind) {
        case ControlKind::Label:
        case ControlKind::Icon:
        case ControlKind::GroupBox:
        case ControlKind::ProgressBar:
        case ControlKind::Picture: return false;
        default: return true;
    }
}

// A caption wider than its button is clipped on both sides ("Button1" on the
// narrow snapshot button); a smaller size of the same face keeps it whole.
void FitCaption(QPushButton* button) {
    constexpr int kSmallestPoint = 6;
    const int room = button->width() - 6;
    QFont font = button->font();
    while (font.pointSize() > kSmallestPoint &&
           QFontMetrics(font).horizontalAdvance(button->text()) > room) {
        font.setPointSize(font.pointSize() - 1);
    }
    if (font != button->font()) button->setFont(font);
}

void KeepSelectionVisibleUnfocused(QWidget* widget) {
    QPalette palette = widget->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    widget->setPalette(palette);
}

// Picker values are kept whole; a date picker shows and edits the date of
// its value, a time picker the time of day.
constexpr const char* kDateFormat = "yyyy/M/d";
constexpr const char* kTimeFormat = "H:mm:ss";

}  // namespace

QString detail::StripMnemonics(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                shown += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        shown += text[i];
    }
    return shown;
}

void detail::SetManualTimers(bool manual) { g_manual_timers = manual; }
bool detail::ManualTimers() { return g_manual_timers; }

// ---------------------------------------------------------------------------
// The toolkit window.

detail::DialogWidget::DialogWidget(Dialog& owner, QWidget* parent) : QDialog(parent), owner_(owner) {
    auto* system_menu_key = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(system_menu_key, &QShortcut::activated, this, [this] {
        if (!closing) DialogAccess::Impl(owner_).ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
    });
}

bool detail::DialogWidget::event(QEvent* event) {
    if (event->type() == kTaskEvent) {
        if (!closing) Dispatch([&] { static_cast<TaskEvent*>(event)->Run(); });
        return true;
    }
    if (event->type() == kMessageEvent) {
        if (!closing) {
            const auto* message = static_cast<MessageEvent*>(event);
            Dispatch([&] {
                DialogAccess::Message(owner_, message->message, message->wparam, message->lparam);
            });
        }
        return true;
    }
    return QDialog::event(event);
}

void detail::DialogWidget::keyPressEvent(QKeyEvent* event) {
    if (closing) return;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && event->key() == Qt::Key_Escape) {
        Dispatch([&] { DialogAccess::Cancel(owner_); });
        return;
    }
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        DialogAccess::Impl(owner_).Enter();
        return;
    }
    QDialog::keyPressEvent(event);
}

void detail::DialogWidget::closeEvent(QCloseEvent* event) {
    if (closing) {
        event->accept();
        return;
    }
    // The close box is the cancel command; the window decides whether it ends.
    event->ignore();
    Dispatch([&] { DialogAccess::Cancel(owner_); });
}

void detail::DialogWidget::timerEvent(QTimerEvent* event) {
    if (closing) return;
    DialogAccess::Impl(owner_).RunTimer(event->timerId());
}

void detail::DialogWidget::contextMenuEvent(QContextMenuEvent* event) {
    if (closing) return;
    DialogAccess::Impl(owner_).ShowSystemMenu(event->globalPos());
}

void detail::DialogWidget::reject() {
    if (closing) return;
    Dispatch([&] { DialogAccess::Cancel(owner_); });
}

// ---------------------------------------------------------------------------
// The dialog's state.

Dialog::Impl::Impl(Dialog& self, int template_id, Dialog* parent)
    : self(self),
      template_id(template_id),
      parent(parent),
      tmpl(res::DialogById(template_id)),
      posts(std::make_shared<detail::PostBox>()) {}

const ControlRecord* Dialog::Impl::Find(int id) const {
    const auto found = by_id.find(id);
    return found == by_id.end() ? nullptr : &controls[found->second];
}

void Dialog::Impl::ReportMissing(int id, const char* what) const {
    std::fprintf(stderr, "varnel: dialog %d %s no control %d of the kind asked for (%s)\n",
                 template_id, widget == nullptr ? "is not created and has" : "has", id, what);
}

void Dialog::Impl::Build() {
    QWidget* owner_widget = parent != nullptr ? DialogAccess::Impl(*parent).widget : nullptr;
    widget = new detail::DialogWidget(self, owner_widget);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (tmpl.style & res::kCaption) flags |= Qt::WindowTitleHint;
    if (tmpl.style & res::kSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tmpl.style & res::kMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
    widget->setWindowFlags(flags);
    widget->setWindowTitle(ToQt(tmpl.title));
    widget->setFont(QFont(ToQt(tmpl.font_face), tmpl.point_size));
    units = detail::DialogUnits::FromFont(widget->font());
    widget->setFixedSize(units->X(tmpl.cx), units->Y(tmpl.cy));
    posts->Attach(widget);

    controls.reserve(tmpl.controls.size());
    for (const res::ControlTemplate& control : tmpl.controls) {
        ControlRecord record;
        record.id = control.id;
        record.kind = control.kind;
        record.style = control.style;
        record.text = control.text;
        const QString text = ToQt(control.text);
        const int id = control.id;
        QRect geometry = units->Rect(control.x, control.y, control.cx, control.cy);
        QWidget* item = nullptr;
        switch (control.kind) {
            case ControlKind::PushButton:
            case ControlKind::PushToggle: {
                auto* button = new QPushButton(text, widget);
                button->setAutoDefault(false);
                button->setDefault((control.style & res::kDefaultButton) != 0);
                button->setCheckable(control.kind == ControlKind::PushToggle);
                QObject::connect(button, &QAbstractButton::clicked, widget, [this, id] { Click(id); });
                item = button;
                break;
            }
            case ControlKind::CheckBox: {
                auto* box = new QCheckBox(text, widget);
                QObject::connect(box, &QAbstractButton::clicked, widget, [this, id] { Click(id); });
                item = box;
                break;
            }
            case ControlKind::GroupBox: {
                auto* group = new QGroupBox(text, widget);
                // A frame only: clicks fall through to the controls it frames.
                group->setAttribute(Qt::WA_TransparentForMouseEvents);
                item = group;
                break;
            }
            case ControlKind::Label: {
                auto* label = new QLabel(widget);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap(true);
                label->setText((control.style & res::kNoPrefix) ? text : detail::StripMnemonics(text));
                item = label;
                break;
            }
            case ControlKind::Icon: {
                auto* label = new QLabel(widget);
                if (const char* const* xpm = res::IconXpmById(std::atoi(control.text.c_str()))) {
                    const QPixmap pixmap(xpm);
                    label->setPixmap(pixmap);
                    geometry.setSize(pixmap.size());  // an icon control takes its icon's size
                }
                item = label;
                break;
            }
            case ControlKind::Edit: {
                auto* edit = new QLineEdit(text, widget);
                edit->setFrame((control.style & (res::kBorder | res::kSunken)) != 0);
                edit->setReadOnly((control.style & res::kReadOnly) != 0);
                if (control.style & res::kReadOnly) {
                    QPalette palette = edit->palette();
                    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
                    edit->setPalette(palette);
                }
                if (control.style & res::kDigitsOnly) {
                    edit->setValidator(new QRegularExpressionValidator(
                        QRegularExpression(QStringLiteral("[0-9]*")), edit));
                }
                item = edit;
                break;
            }
            case ControlKind::DropDown: {
                auto* combo = new QComboBox(widget);
                combo->setEditable(false);
                for (const std::string& entry : control.items) combo->addItem(ToQt(entry));
                combo->setCurrentIndex(-1);  // no selection until the window makes one
                // The template's height is the dropped-down list's; the box
                // itself is as high as its font needs.
                geometry.setHeight(std::min(geometry.height(), combo->sizeHint().height()));
                item = combo;
                break;
            }
            case ControlKind::DatePicker:
            case ControlKind::TimePicker: {
                auto* picker = new QDateTimeEdit(widget);
                const bool date = control.kind == ControlKind::DatePicker;
                picker->setDisplayFormat(QLatin1String(date ? kDateFormat : kTimeFormat));
                if (date) {
                    picker->setCalendarPopup(true);
                    // The range a signed 32-bit count of seconds can hold.
                    picker->setDateRange(QDate(1970, 1, 1), QDate(2038, 1, 18));
                }
                const std::time_t now = std::time(nullptr);
                picker_values[id] = now;
                picker->setDateTime(QDateTime::fromSecsSinceEpoch(now));
                item = picker;
                break;
            }
            case ControlKind::ReportList: {
                auto* list = new detail::ReportList(widget, [this, id] {
                    Dispatch([&] { DialogAccess::ListDoubleClick(self, id); });
                });
                list->setColumnCount(0);
                list->setRootIsDecorated(false);
                list->setItemsExpandable(false);
                list->setUniformRowHeights(true);
                list->setAllColumnsShowFocus(true);
                list->setEditTriggers(QAbstractItemView::NoEditTriggers);
                list->setSelectionMode((control.style & res::kSingleSel)
                                           ? QAbstractItemView::SingleSelection
                                           : QAbstractItemView::ExtendedSelection);
                list->setSelectionBehavior(QAbstractItemView::SelectRows);
                list->header()->setStretchLastSection(false);
                list->header()->setSectionsMovable(false);
                list->header()->setSectionsClickable((control.style & res::kNoSortHeader) == 0);
                list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                if (control.style & res::kShowSelAlways) KeepSelectionVisibleUnfocused(list);
                if ((control.style & (res::kBorder | res::kSunken)) == 0) list->setFrameShape(QFrame::NoFrame);
                item = list;
                break;
            }
            case ControlKind::Trackbar: {
                auto* slider = new detail::SeekSlider(widget, [this, id](int code) {
                    Dispatch([&] { DialogAccess::HScroll(self, code, id); });
                });
                slider->setRange(0, 100);
                slider->setSingleStep(1);
                slider->setPageStep(20);
                if (control.style & res::kAutoTicks) {
                    slider->setTickPosition(QSlider::TicksBelow);
                    slider->setTickInterval(1);
                }
                item = slider;
                break;
            }
            case ControlKind::ProgressBar: {
                auto* bar = new QProgressBar(widget);
                bar->setTextVisible(false);
                bar->setRange(0, 100);
                bar->setValue(0);
                item = bar;
                break;
            }
            case ControlKind::Picture: {
                auto slot = std::make_shared<detail::PictureSlot>();
                auto* area = new detail::PictureArea(widget, slot);
                if (control.style & res::kSunken) {
                    area->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                } else if (control.style & res::kBorder) {
                    area->setFrameStyle(QFrame::Box | QFrame::Plain);
                }
                area->setLineWidth(1);
                if (id != res::kNoId) picture_slots[id] = slot;
                item = area;
                break;
            }
        }
        item->setGeometry(geometry);
        if (auto* button = qobject_cast<QPushButton*>(item)) FitCaption(button);
        if (!TakesFocus(control.kind)) {
            item->setFocusPolicy(Qt::NoFocus);
        } else if ((control.style & res::kTabStop) == 0) {
            item->setFocusPolicy(Qt::ClickFocus);
        }
        if (control.style & res::kChecked) {
            if (auto* button = dynamic_cast<QAbstractButton*>(item)) button->setChecked(true);
        }
        if (control.style & res::kDisabled) item->setEnabled(false);
        if (control.style & res::kHidden) item->setVisible(false);
        record.widget = item;
        if (control.id != res::kNoId) by_id[control.id] = controls.size();
        controls.push_back(std::move(record));
    }
    // Frames sit below everything they frame, whatever their template order.
    for (const ControlRecord& record : controls) {
        if (record.kind == ControlKind::GroupBox) record.widget->lower();
    }
    for (auto& [id, record] : timers) StartTimer(id, record);
}

void Dialog::Impl::ApplyFocus(bool default_focus) {
    if (!default_focus) return;
    for (const ControlRecord& record : controls) {
        QWidget* item = record.widget;
        if ((record.style & res::kTabStop) && !item->isHidden() && item->isEnabled() &&
            item->focusPolicy() != Qt::NoFocus) {
            item->setFocus(Qt::TabFocusReason);
            if (auto* edit = dynamic_cast<QLineEdit*>(item)) edit->selectAll();
            return;
        }
    }
}

void Dialog::Impl::TearDown() {
    if (widget == nullptr) return;
    widget->closing = true;
    for (auto& [id, record] : timers) record.timer->stop();
    timers.clear();
    posts->Detach();
    posts = std::make_shared<detail::PostBox>();
    for (auto& [id, slot] : picture_slots) slot->Detach();
    picture_slots.clear();
    endpoints.clear();
    controls.clear();
    by_id.clear();
    picker_values.clear();
    system_menu.clear();
    icon_big = icon_small = 0;
    units.reset();
    if (modal_loop != nullptr) modal_loop->quit();
    detail::DialogWidget* gone = widget;
    widget = nullptr;
    if (g_dispatch_depth > 0) {
        gone->hide();
        gone->deleteLater();  // a handler of this window may still be running
    } else {
        delete gone;
    }
}

void Dialog::Impl::StartTimer(unsigned id, TimerRecord& record) {
    (void)id;
    if (!record.timer) record.timer = std::make_unique<QBasicTimer>();
    if (widget == nullptr || detail::ManualTimers()) {
        record.timer->stop();
        return;
    }
    record.timer->start(static_cast<int>(std::max(1u, record.milliseconds)), Qt::PreciseTimer, widget);
}

void Dialog::Impl::RunTimer(int toolkit_timer_id) {
    for (const auto& [id, record] : timers) {
        if (record.timer && record.timer->timerId() == toolkit_timer_id) {
            const unsigned timer_id = id;
            Dispatch([&] { DialogAccess::Timer(self, timer_id); });
            return;
        }
    }
}

void Dialog::Impl::Click(int id) {
    Dispatch([&] {
        if (id == IDOK) {
            DialogAccess::Ok(self);
        } else if (id == IDCANCEL) {
            DialogAccess::Cancel(self);
        } else {
            DialogAccess::Command(self, id);
        }
    });
}

void Dialog::Impl::Enter() {
    // Enter on a push button clicks it; elsewhere it is the default
    // button's command, or the accept command when there is none.
    const QWidget* focus = widget->focusWidget();
    const ControlRecord* default_button = nullptr;
    for (const ControlRecord& record : controls) {
        if (record.kind == ControlKind::PushButton && record.widget == focus && focus->isEnabled()) {
            static_cast<QPushButton*>(record.widget)->click();
            return;
        }
        if (record.kind == ControlKind::PushButton && (record.style & res::kDefaultButton)) {
            default_button = &record;
        }
    }
    if (default_button != nullptr) {
        if (default_button->widget->isEnabled()) Click(default_button->id);
        return;
    }
    Dispatch([&] { DialogAccess::Ok(self); });
}

void Dialog::Impl::ShowSystemMenu(const QPoint& global_position) {
    QMenu menu(widget);
    if (tmpl.style & res::kMinimizeBox) {
        menu.addAction(QStringLiteral("最小化(&N)"))->setData(kScMinimize);
    }
    menu.addAction(QStringLiteral("关闭(&C)"))->setData(SC_CLOSE);
    for (const SystemMenuItem& item : system_menu) {
        if (item.command == 0) {
            menu.addSeparator();
        } else {
            menu.addAction(ToQt(item.text))->setData(item.command);
        }
    }
    // Taken from the signal rather than exec's result, so that an entry
    // chosen by any means (mouse, mnemonic, trigger) counts.
    std::optional<unsigned> chosen;
    QObject::connect(&menu, &QMenu::triggered, &menu,
                     [&chosen](QAction* action) { chosen = action->data().toUInt(); });
    menu.exec(global_position);
    if (chosen.has_value() && widget != nullptr) self.SendSysCommand(*chosen);
}

// ---------------------------------------------------------------------------
// Dialog.

Dialog::Dialog(int template_id, Dialog* parent)
    : impl_(std::make_unique<Impl>(*this, template_id, parent)) {}

Dialog::~Dialog() { impl_->TearDown(); }

int Dialog::DoModal() {
    Create();
    if (!impl_->result.has_value() && impl_->widget != nullptr) {
        QEventLoop loop;
        impl_->modal_loop = &loop;
        impl_->widget->setWindowModality(Qt::ApplicationModal);
        impl_->widget->show();
        loop.exec(QEventLoop::DialogExec);
        impl_->modal_loop = nullptr;
    }
    Destroy();
    return impl_->result.value_or(-1);
}

void Dialog::Create() {
    if (impl_->widget != nullptr) return;
    impl_->result.reset();
    impl_->Build();
    bool default_focus = true;
    Dispatch([&] { default_focus = DialogAccess::InitDialog(*this); });
    if (impl_->widget == nullptr) return;
    impl_->ApplyFocus(default_focus);
    if (!impl_->result.has_value()) impl_->widget->show();
}

void Dialog::Destroy() {
    if (impl_->widget == nullptr) return;
    Dispatch([&] { DialogAccess::Destroyed(*this); });
    impl_->TearDown();
}

bool Dialog::IsCreated() const { return impl_->widget != nullptr; }

void Dialog::EndDialog(int result) {
    impl_->result = result;
    if (impl_->widget != nullptr) impl_->widget->hide();
    if (impl_->modal_loop != nullptr) impl_->modal_loop->quit();
}

bool Dialog::IsEnded() const { return impl_->result.has_value(); }
int Dialog::Result() const { return impl_->result.value_or(-1); }

int Dialog::TemplateId() const { return impl_->template_id; }
std::string Dialog::Title() const { return impl_->tmpl.title; }

// Controls ------------------------------------------------------------------

void Dialog::ShowItem(int id, bool show) {
    if (auto* item = impl_->As<QWidget>(id)) item->setVisible(show);
}

bool Dialog::IsItemVisible(int id) const {
    const auto* item = impl_->As<QWidget>(id);
    return item != nullptr && !item->isHidden();
}

void Dialog::EnableItem(int id, bool enable) {
    if (auto* item = impl_->As<QWidget>(id)) item->setEnabled(enable);
}

bool Dialog::IsItemEnabled(int id) const {
    const auto* item = impl_->As<QWidget>(id);
    return item != nullptr && item->isEnabled();
}

void Dialog::SetItemText(int id, const std::string& text) {
    auto* record = const_cast<ControlRecord*>(impl_->Find(id));
    if (record == nullptr) {
        impl_->ReportMissing(id, "with a text");
        return;
    }
    const QString value = ToQt(text);
    QWidget* item = record->widget;
    record->text = text;
    if (auto* button = dynamic_cast<QAbstractButton*>(item)) {
        button->setText(value);
    } else if (auto* label = dynamic_cast<QLabel*>(item)) {
        label->setText((record->style & res::kNoPrefix) ? value : detail::StripMnemonics(value));
    } else if (auto* edit = dynamic_cast<QLineEdit*>(item)) {
        edit->setText(value);
    } else if (auto* group = dynamic_cast<QGroupBox*>(item)) {
        group->setTitle(value);
    } else if (auto* combo = dynamic_cast<QComboBox*>(item)) {
        combo->setCurrentIndex(combo->findText(value));
    }
}

std::string Dialog::ItemText(int id) const {
    const ControlRecord* record = impl_->Find(id);
    if (record == nullptr) {
        impl_->ReportMissing(id, "with a text");
        return {};
    }
    const QWidget* item = record->widget;
    if (const auto* button = dynamic_cast<const QAbstractButton*>(item)) return FromQt(button->text());
    if (const auto* edit = dynamic_cast<const QLineEdit*>(item)) return FromQt(edit->text());
    if (const auto* combo = dynamic_cast<const QComboBox*>(item)) return FromQt(combo->currentText());
    if (const auto* picker = dynamic_cast<const QDateTimeEdit*>(item)) return FromQt(picker->text());
    if (dynamic_cast<const QLabel*>(item) != nullptr || dynamic_cast<const QGroupBox*>(item) != nullptr) {
        return record->text;
    }
    return {};
}

void Dialog::SetCheck(int id, bool checked) {
    if (auto* button = impl_->As<QAbstractButton>(id)) {
        if (button->isCheckable()) button->setChecked(checked);
    }
}

bool Dialog::IsChecked(int id) const {
    const auto* button = impl_->As<QAbstractButton>(id);
    return button != nullptr && button->isChecked();
}

void Dialog::SetFocusItem(int id) {
    if (auto* item = impl_->As<QWidget>(id)) item->setFocus(Qt::OtherFocusReason);
}

int Dialog::FocusedItem() const {
    if (impl_->widget == nullptr) return 0;
    for (const QWidget* focus = impl_->widget->focusWidget(); focus != nullptr;
         focus = focus->parentWidget()) {
        for (const ControlRecord& record : impl_->controls) {
            if (record.widget == focus) return record.id == res::kNoId ? 0 : record.id;
        }
    }
    return 0;
}

void Dialog::SelectAllText(int id) {
    const ControlRecord* record = impl_->Find(id);
    if (record == nullptr) return impl_->ReportMissing(id, "edit box");
    if (auto* edit = dynamic_cast<QLineEdit*>(record->widget)) edit->selectAll();
    else if (auto* spin = dynamic_cast<QAbstractSpinBox*>(record->widget)) spin->selectAll();
}

void Dialog::SetTextLimit(int id, int characters) {
    if (auto* edit = impl_->As<QLineEdit>(id)) edit->setMaxLength(characters > 0 ? characters : 32767);
}

// Drop-down lists -----------------------------------------------------------

int Dialog::DropDownSelection(int id) const {
    const auto* combo = impl_->As<QComboBox>(id);
    return combo != nullptr ? combo->currentIndex() : -1;
}

void Dialog::SetDropDownSelection(int id, int index) {
    if (auto* combo = impl_->As<QComboBox>(id)) {
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    }
}

int Dialog::DropDownCount(int id) const {
    const auto* combo = impl_->As<QComboBox>(id);
    return combo != nullptr ? combo->count() : 0;
}

// Pickers -------------------------------------------------------------------

std::time_t Dialog::PickerTime(int id) const {
    const auto* picker = impl_->As<QDateTimeEdit>(id);
    if (picker == nullptr) return 0;
    const auto kept = impl_->picker_values.find(id);
    const QDateTime base = QDateTime::fromSecsSinceEpoch(
        kept != impl_->picker_values.end() ? static_cast<qint64>(kept->second) : 0);
    const bool date = impl_->Find(id)->kind == ControlKind::DatePicker;
    const QDateTime shown = date ? QDateTime(picker->date(), base.time())
                                 : QDateTime(base.date(), picker->time());
    return static_cast<std::time_t>(shown.toSecsSinceEpoch());
}

void Dialog::SetPickerTime(int id, std::time_t value) {
    auto* picker = impl_->As<QDateTimeEdit>(id);
    if (picker == nullptr) return;
    impl_->picker_values[id] = value;
    picker->setDateTime(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(value)));
}

// Seek bars -----------------------------------------------------------------

void Dialog::SetTrackRange(int id, int minimum, int maximum, bool redraw) {
    if (auto* slider = impl_->As<QSlider>(id)) {
        slider->setRange(minimum, maximum);
        if (redraw) slider->update();
    }
}

int Dialog::TrackMin(int id) const {
    const auto* slider = impl_->As<QSlider>(id);
    return slider != nullptr ? slider->minimum() : 0;
}

int Dialog::TrackMax(int id) const {
    const auto* slider = impl_->As<QSlider>(id);
    return slider != nullptr ? slider->maximum() : 0;
}

void Dialog::SetTrackPos(int id, int position) {
    if (auto* slider = impl_->As<QSlider>(id)) slider->setValue(position);
}

int Dialog::TrackPos(int id) const {
    const auto* slider = impl_->As<QSlider>(id);
    return slider != nullptr ? slider->value() : 0;
}

void Dialog::SetTrackLineSize(int id, int size) {
    if (auto* slider = impl_->As<QSlider>(id)) slider->setSingleStep(size);
}

void Dialog::SetTrackPageSize(int id, int size) {
    if (auto* slider = impl_->As<QSlider>(id)) slider->setPageStep(size);
}

int Dialog::TrackLineSize(int id) const {
    const auto* slider = impl_->As<QSlider>(id);
    return slider != nullptr ? slider->singleStep() : 0;
}

int Dialog::TrackPageSize(int id) const {
    const auto* slider = impl_->As<QSlider>(id);
    return slider != nullptr ? slider->pageStep() : 0;
}

// Progress bars -------------------------------------------------------------

void Dialog::SetProgressRange(int id, int minimum, int maximum) {
    if (auto* bar = impl_->As<QProgressBar>(id)) bar->setRange(minimum, maximum);
}

void Dialog::SetProgressPos(int id, int position) {
    if (auto* bar = impl_->As<QProgressBar>(id)) {
        bar->setValue(std::clamp(position, bar->minimum(), std::max(bar->minimum(), bar->maximum())));
    }
}

int Dialog::ProgressPos(int id) const {
    const auto* bar = impl_->As<QProgressBar>(id);
    return bar != nullptr ? bar->value() : 0;
}

// Report-view lists ---------------------------------------------------------

void Dialog::ListInsertColumn(int id, int column, const std::string& header, int width_px) {
    auto* list = impl_->As<QTreeWidget>(id);
    if (list == nullptr) return;
    const int count = list->columnCount();
    const int at = std::clamp(column, 0, count);
    if (at == count) {
        list->setColumnCount(count + 1);
    } else {
        list->model()->insertColumn(at);
    }
    list->headerItem()->setText(at, ToQt(header));
    list->headerItem()->setTextAlignment(at, Qt::AlignLeft | Qt::AlignVCenter);
    list->header()->resizeSection(at, width_px);
}

int Dialog::ListColumnCount(int id) const {
    const auto* list = impl_->As<QTreeWidget>(id);
    return list != nullptr ? list->columnCount() : 0;
}

std::string Dialog::ListColumnHeader(int id, int column) const {
    const auto* list = impl_->As<QTreeWidget>(id);
    if (list == nullptr || column < 0 || column >= list->columnCount()) return {};
    return FromQt(list->headerItem()->text(column));
}

int Dialog::ListColumnWidth(int id, int column) const {
    const auto* list = impl_->As<QTreeWidget>(id);
    if (list == nullptr || column < 0 || column >= list->columnCount()) return 0;
    return list->header()->sectionSize(column);
}

void Dialog::ListSetFullRowSelect(int id) {
    if (auto* list = impl_->As<QTreeWidget>(id)) {
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setAllColumnsShowFocus(true);
    }
}

int Dialog::ListRowCount(int id) const {
    const auto* list = impl_->As<QTreeWidget>(id);
    return list != nullptr ? list->topLevelItemCount() : 0;
}

int Dialog::ListInsertRow(int id, int index, const std::string& text) {
    auto* list = impl_->As<QTreeWidget>(id);
    if (list == nullptr) return -1;
    const int at = std::clamp(index, 0, list->topLevelItemCount());
    auto* row = new QTreeWidgetItem();
    row->setText(0, ToQt(text));
    list->insertTopLevelItem(at, row);
    return at;
}

void Dialog::ListSetCell(int id, int row, int column, const std::string& text) {
    auto* list = impl_->As<QTreeWidget>(id);
    if (list == nullptr || column < 0) return;
    if (QTreeWidgetItem* item = list->topLevelItem(row)) item->setText(column, ToQt(text));
}

std::string Dialog::ListCell(int id, int row, int column) const {
    const auto* list = impl_->As<QTreeWidget>(id);
    if (list == nullptr || column < 0) return {};
    const QTreeWidgetItem* item = list->topLevelItem(row);
    return item != nullptr ? FromQt(item->text(column)) : std::string();
}

void Dialog::ListDeleteAllRows(int id) {
    if (auto* list = impl_->As<QTreeWidget>(id)) list->clear();
}

int Dialog::ListSelectedRow(int id) const {
    const auto* list = impl_->As<QTreeWidget>(id);
    if (list == nullptr) return -1;
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
}

void Dialog::ListSelectRow(int id, int row) {
    auto* list = impl_->As<QTreeWidget>(id);
    if (list == nullptr) return;
    QTreeWidgetItem* item = row >= 0 ? list->topLevelItem(row) : nullptr;
    if (item == nullptr) {
        list->clearSelection();
        return;
    }
    list->setCurrentItem(item);
    item->setSelected(true);
}

// Timers --------------------------------------------------------------------

unsigned Dialog::SetTimer(unsigned id, unsigned milliseconds) {
    TimerRecord& record = impl_->timers[id];
    record.milliseconds = milliseconds;
    impl_->StartTimer(id, record);
    return id;
}

void Dialog::KillTimer(unsigned id) {
    const auto found = impl_->timers.find(id);
    if (found == impl_->timers.end()) return;
    if (found->second.timer) found->second.timer->stop();
    impl_->timers.erase(found);
}

bool Dialog::IsTimerArmed(unsigned id) const { return impl_->timers.count(id) != 0; }

std::vector<unsigned> Dialog::ArmedTimers() const {
    std::vector<unsigned> ids;
    for (const auto& [id, record] : impl_->timers) ids.push_back(id);
    return ids;
}

bool Dialog::FireTimer(unsigned id) {
    if (!IsTimerArmed(id)) return false;
    Dispatch([&] { OnTimer(id); });
    return true;
}

// Window handles ------------------------------------------------------------

PlayerWindowHandle Dialog::WindowHandle() {
    Impl& impl = *impl_;
    auto& endpoint = impl.endpoints[0];
    if (endpoint == nullptr) {
        auto& slot = impl.picture_slots[0];
        if (!slot) {
            slot = std::make_shared<detail::PictureSlot>();
            if (impl.widget != nullptr) new detail::SizeWatcher(impl.widget, slot);
        }
        endpoint = detail::NewEndpoint(impl.posts, slot, impl.template_id, 0);
    }
    return &endpoint->window;
}

PlayerWindowHandle Dialog::ItemWindowHandle(int id) {
    Impl& impl = *impl_;
    const ControlRecord* record = impl.Find(id);
    if (record == nullptr || id == 0) {
        impl.ReportMissing(id, "window");
        return nullptr;
    }
    auto& endpoint = impl.endpoints[id];
    if (endpoint == nullptr) {
        auto& slot = impl.picture_slots[id];
        if (!slot) {
            slot = std::make_shared<detail::PictureSlot>();
            new detail::SizeWatcher(record->widget, slot);
        }
        endpoint = detail::NewEndpoint(impl.posts, slot, impl.template_id, id);
    }
    return &endpoint->window;
}

std::shared_ptr<Mailbox> Dialog::GetMailbox() { return impl_->posts; }

// Frame ---------------------------------------------------------------------

void Dialog::AppendSystemMenuSeparator() { impl_->system_menu.push_back({0, {}}); }

void Dialog::AppendSystemMenuItem(unsigned command, const std::string& text) {
    impl_->system_menu.push_back({command, text});
}

std::vector<std::string> Dialog::SystemMenuItems() const {
    std::vector<std::string> texts;
    for (const SystemMenuItem& item : impl_->system_menu) texts.push_back(item.text);
    return texts;
}

void Dialog::SendSysCommand(unsigned command) {
    Dispatch([&] { OnSysCommand(command); });
}

void Dialog::DefaultSysCommand(unsigned command) {
    if (impl_->widget == nullptr) return;
    switch (command & 0xFFF0u) {
        case SC_CLOSE: Dispatch([&] { OnCancel(); }); break;  // as the close box
        case kScMinimize: impl_->widget->showMinimized(); break;
        case kScRestore: impl_->widget->showNormal(); break;
        default: break;
    }
}

void Dialog::SetIcon(int icon_id, bool big) {
    (big ? impl_->icon_big : impl_->icon_small) = icon_id;
    if (impl_->widget != nullptr) {
        impl_->widget->setWindowIcon(IconFor(impl_->icon_big, impl_->icon_small));
    }
}

int Dialog::IconId(bool big) const { return big ? impl_->icon_big : impl_->icon_small; }

bool Dialog::IsMinimized() const { return impl_->widget != nullptr && impl_->widget->isMinimized(); }

}  // namespace ui
