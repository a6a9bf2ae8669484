// The toolkit widgets that stand in for the dialog controls whose behaviour
// needs more than a stock widget: the seek bar's notifications, the picture
// area, the report list's double-click.
#pragma once

#include <QFrame>
#include <QSlider>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "ui/qt/WindowEndpoint.h"

namespace ui::detail {

// A horizontal trackbar that reports its movements as the trackbar codes:
// thumb pressed or dragged -> TB_THUMBTRACK, released -> TB_THUMBPOSITION
// then TB_ENDTRACK; a key or a click beside the thumb -> the line, page,
// top or bottom code once the position has changed, then TB_ENDTRACK (for
// a click held down, when the button is released).
class SeekSlider final : public QSlider {
public:
    using Notify = std::function<void(int code)>;
    SeekSlider(QWidget* parent, Notify notify);

    // Where the thumb and the groove are drawn, and the point of the groove
    // that the thumb's centre takes at a value (for tests that drag it).
    QRect HandleRect() const;
    QRect GrooveRect() const;
    QPoint PointForValue(int value) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void OnAction(int action);

    Notify notify_;
    bool mouse_held_ = false;
    bool steps_while_held_ = false;
    bool held_on_empty_range_ = false;
};

// The native X window over a picture area's inside, which the pictures are
// put into by the thread presenting them (see XShmSurface). The toolkit
// neither paints it nor keeps its contents: when it is exposed the slot
// puts the latest picture again. Hidden for good, and the area painted by
// the toolkit, when the window cannot take pictures that way.
class PictureSurface final : public QWidget {
public:
    PictureSurface(QWidget* parent, std::shared_ptr<PictureSlot> slot);
    QPaintEngine* paintEngine() const override { return nullptr; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<PictureSlot> slot_;
};

// The area the player library draws into: black, showing the latest
// picture handed over, centred and scaled down to fit when larger.
class PictureArea final : public QFrame {
public:
    PictureArea(QWidget* parent, std::shared_ptr<PictureSlot> slot);
    ~PictureArea() override;
    const std::shared_ptr<PictureSlot>& Slot() const { return slot_; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool SurfaceShown() const { return surface_ != nullptr && !surface_->isHidden(); }

    std::shared_ptr<PictureSlot> slot_;
    PictureSurface* surface_ = nullptr;  // on X only
    QRect painted_;  // where the picture on screen was drawn by a plain copy
};

// Paints `picture` into `area` as a picture area shows it: centred at a
// whole pixel when it fits (scaled down when it does not), black around.
// Returns where a picture that fits was drawn; a null rectangle otherwise.
QRect PaintPicture(QPainter& painter, const QRect& area, const QImage& picture, qreal device_ratio);

// A report-view list that reports a double-click anywhere in its rows area,
// on a row or not, as the list's double-click notification does, and whose
// selection a click beside the rows clears.
class ReportList final : public QTreeWidget {
public:
    ReportList(QWidget* parent, std::function<void()> on_double_click);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void ClearSelectionBesideRows(const QMouseEvent& event);
    std::function<void()> on_double_click_;
};

// Rows a little higher than the font, so that descenders and underscores
// are not cut off, as the platform's report view spaces them.
class RowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Keeps a slot's area size in step with a widget that has no pictures of
// its own (the dialog, or a control that is not a picture area).
class SizeWatcher final : public QObject {
public:
    SizeWatcher(QWidget* watched, std::shared_ptr<PictureSlot> slot);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Update(QWidget* widget);
    std::shared_ptr<PictureSlot> slot_;
};

}  // namespace ui::detail
