#include "ui/qt/Testing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>

#include "ui/qt/Controls.h"
#include "ui/qt/DialogImpl.h"
#include "ui/Screenshot.h"
#include "ui/qt/Text.h"

namespace ui::testing {

namespace {

// A control a user can reach: shown in a shown window, and enabled.
bool Usable(const QWidget* widget) {
    return widget != nullptr && widget->isVisible() && widget->isEnabled();
}

Qt::Key ToQtKey(Key key) {
    switch (key) {
        case Key::Enter: return Qt::Key_Return;
        case Key::Escape: return Qt::Key_Escape;
        case Key::Tab: return Qt::Key_Tab;
        case Key::Space: return Qt::Key_Space;
        case Key::Left: return Qt::Key_Left;
        case Key::Right: return Qt::Key_Right;
        case Key::Up: return Qt::Key_Up;
        case Key::Down: return Qt::Key_Down;
        case Key::PageUp: return Qt::Key_PageUp;
        case Key::PageDown: return Qt::Key_PageDown;
        case Key::Home: return Qt::Key_Home;
        case Key::End: return Qt::Key_End;
    }
    return Qt::Key_unknown;
}

void SendMouse(QWidget* target, QEvent::Type type, const QPoint& at, Qt::MouseButtons held) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Types the text one character at a time, as key events that carry it; the
// toolkit's own helper knows only ASCII keys.
void TypeCharacters(QWidget* target, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        i += length - 1;
        const char16_t unit = character[0].unicode();
        if (length == 1 && unit > 0x20 && unit < 0x7F) {
            QTest::keyClick(target, static_cast<char>(unit));
            continue;
        }
        const int key = unit == u' ' ? Qt::Key_Space : Qt::Key_unknown;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, character);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, character);
        QApplication::sendEvent(target, &release);
    }
}

QTreeWidgetItem* RowItem(Dialog& dialog, int list_id, int row, QTreeWidget** list_out) {
    auto* list = dynamic_cast<QTreeWidget*>(Widget(dialog, list_id));
    if (!Usable(list) || row < 0) return nullptr;
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (item == nullptr) return nullptr;
    list->scrollToItem(item);
    *list_out = list;
    return item;
}

}  // namespace

void EnsureApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "varnel-tests";
    static char* argv[] = {name, nullptr};
    static Application* application = new Application(argc, argv);  // lives as long as the process
    (void)application;
}

QWidget* Widget(Dialog& dialog, int id) {
    const ControlRecord* record = DialogAccess::Impl(dialog).Find(id);
    return record != nullptr ? record->widget : nullptr;
}

bool Click(Dialog& dialog, int id) {
    auto* button = dynamic_cast<QAbstractButton*>(Widget(dialog, id));
    if (!Usable(button)) return false;
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    return true;
}

bool SelectRow(Dialog& dialog, int list_id, int row) {
    QTreeWidget* list = nullptr;
    QTreeWidgetItem* item = RowItem(dialog, list_id, row, &list);
    if (item == nullptr) return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(item).center());
    return true;
}

bool DoubleClickRow(Dialog& dialog, int list_id, int row) {
    QTreeWidget* list = nullptr;
    QTreeWidgetItem* item = RowItem(dialog, list_id, row, &list);
    if (item == nullptr) return false;
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

namespace {

// The point of the list's viewport below its last row, nullopt when rows
// fill it.
std::optional<QPoint> BlankPoint(Dialog& dialog, int list_id, QTreeWidget** list_out) {
    auto* list = dynamic_cast<QTreeWidget*>(Widget(dialog, list_id));
    if (!Usable(list)) return std::nullopt;
    const QPoint below(list->viewport()->width() / 2, list->viewport()->height() - 4);
    if (list->indexAt(below).isValid()) return std::nullopt;
    *list_out = list;
    return below;
}

}  // namespace

bool ClickListBlank(Dialog& dialog, int list_id) {
    QTreeWidget* list = nullptr;
    const std::optional<QPoint> at = BlankPoint(dialog, list_id, &list);
    if (!at) return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, *at);
    return true;
}

bool DoubleClickListBlank(Dialog& dialog, int list_id) {
    QTreeWidget* list = nullptr;
    const std::optional<QPoint> at = BlankPoint(dialog, list_id, &list);
    if (!at) return false;
    // A user's double-click: a click, then the second press.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, *at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, *at);
    return true;
}

bool TypeText(Dialog& dialog, int id, const std::string& text) {
    auto* edit = dynamic_cast<QLineEdit*>(Widget(dialog, id));
    if (!Usable(edit)) return false;
    edit->setFocus(Qt::MouseFocusReason);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    TypeCharacters(edit, detail::ToQt(text));
    return true;
}

std::string SelectedText(Dialog& dialog, int id) {
    auto* edit = dynamic_cast<QLineEdit*>(Widget(dialog, id));
    return edit != nullptr ? detail::FromQt(edit->selectedText()) : std::string();
}

bool PressKey(Dialog& dialog, Key key) {
    QWidget* window = DialogAccess::Impl(dialog).widget;
    if (window == nullptr || !window->isVisible()) return false;
    QWidget* target = window->focusWidget() != nullptr ? window->focusWidget() : window;
    QTest::keyClick(target, ToQtKey(key));
    return true;
}

bool HoldSeekBarThumb(Dialog& dialog, int id, int position) {
    auto* slider = dynamic_cast<detail::SeekSlider*>(Widget(dialog, id));
    if (!Usable(slider)) return false;
    const QPoint start = slider->HandleRect().center();
    const QPoint end(slider->PointForValue(position).x() + (start.x() - slider->HandleRect().center().x()),
                     start.y());
    SendMouse(slider, QEvent::MouseButtonPress, start, Qt::LeftButton);
    if (!slider->isSliderDown()) {
        SendMouse(slider, QEvent::MouseButtonRelease, start, Qt::NoButton);
        return false;
    }
    constexpr int kSteps = 4;
    for (int step = 1; step <= kSteps; ++step) {
        const QPoint at(start.x() + (end.x() - start.x()) * step / kSteps, start.y());
        SendMouse(slider, QEvent::MouseMove, at, Qt::LeftButton);
    }
    // A pixel may stand for several values; the last move lands exactly.
    if (slider->sliderPosition() != position) slider->setSliderPosition(position);
    return true;
}

bool ReleaseSeekBarThumb(Dialog& dialog, int id) {
    auto* slider = dynamic_cast<detail::SeekSlider*>(Widget(dialog, id));
    if (slider == nullptr || !slider->isSliderDown()) return false;
    SendMouse(slider, QEvent::MouseButtonRelease, slider->HandleRect().center(), Qt::NoButton);
    return true;
}

bool DragSeekBar(Dialog& dialog, int id, int position) {
    return HoldSeekBarThumb(dialog, id, position) && ReleaseSeekBarThumb(dialog, id);
}

bool StepSeekBar(Dialog& dialog, int id, Key key) {
    auto* slider = dynamic_cast<QSlider*>(Widget(dialog, id));
    if (!Usable(slider)) return false;
    slider->setFocus(Qt::TabFocusReason);
    QTest::keyClick(slider, ToQtKey(key));
    return true;
}

bool ClickSeekBarGroove(Dialog& dialog, int id, bool after_thumb) {
    auto* slider = dynamic_cast<detail::SeekSlider*>(Widget(dialog, id));
    if (!Usable(slider)) return false;
    const QRect handle = slider->HandleRect();
    const QRect groove = slider->GrooveRect();
    const int x = after_thumb ? (handle.right() + groove.right()) / 2 : (groove.left() + handle.left()) / 2;
    if (after_thumb ? x <= handle.right() : x >= handle.left()) return false;  // no room beside the thumb
    const QPoint at(x, handle.center().y());
    SendMouse(slider, QEvent::MouseButtonPress, at, Qt::LeftButton);
    SendMouse(slider, QEvent::MouseButtonRelease, at, Qt::NoButton);
    return true;
}

void PostToWindow(Dialog& dialog, uint32_t message, intptr_t wparam, intptr_t lparam) {
    PlayerWindowHandle handle = dialog.WindowHandle();
    if (handle != nullptr) handle->post(handle->context, message, wparam, lparam);
    ProcessEvents();
}

void ProcessEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QTest::qWait(5);
    }
    return true;
}

QImage PresentedPicture(Dialog& dialog, int id) {
    auto& pictures = DialogAccess::Impl(dialog).picture_slots;
    const auto found = pictures.find(id);
    return found != pictures.end() ? found->second->Latest() : QImage();
}

bool ScreenshotPng(Dialog& dialog, const std::string& path) {
    ProcessEvents();
    return SaveWindowPng(dialog, path);
}

unsigned TimerInterval(const Dialog& dialog, unsigned id) {
    const auto& timers = DialogAccess::Impl(dialog).timers;
    const auto found = timers.find(id);
    return found != timers.end() ? found->second.milliseconds : 0;
}

ManualTimers::ManualTimers() { detail::SetManualTimers(true); }
ManualTimers::~ManualTimers() { detail::SetManualTimers(false); }

}  // namespace ui::testing
