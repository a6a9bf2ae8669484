#include "ui/qt/Controls.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <cmath>

namespace ui::detail {

SeekSlider::SeekSlider(QWidget* parent, Notify notify)
    : QSlider(Qt::Horizontal, parent), notify_(std::move(notify)) {
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) { OnAction(action); });
    connect(this, &QAbstractSlider::sliderPressed, this, [this] { notify_(TB_THUMBTRACK); });
    connect(this, &QAbstractSlider::sliderReleased, this, [this] {
        notify_(TB_THUMBPOSITION);
        notify_(TB_ENDTRACK);
    });
}

QRect SeekSlider::HandleRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

QRect SeekSlider::GrooveRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
}

QPoint SeekSlider::PointForValue(int value) const {
    const QRect handle = HandleRect();
    const QRect groove = GrooveRect();
    const int span = groove.width() - handle.width();
    const int offset = QStyle::sliderPositionFromValue(minimum(), maximum(), value, span);
    return QPoint(groove.x() + offset + handle.width() / 2, handle.center().y());
}

void SeekSlider::keyPressEvent(QKeyEvent* event) {
    // The trackbar's keys: up and left decrease, down and right increase,
    // page up decreases by a page, page down increases.
    SliderAction action = SliderNoAction;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up: action = SliderSingleStepSub; break;
        case Qt::Key_Right:
        case Qt::Key_Down: action = SliderSingleStepAdd; break;
        case Qt::Key_PageUp: action = SliderPageStepSub; break;
        case Qt::Key_PageDown: action = SliderPageStepAdd; break;
        case Qt::Key_Home: action = SliderToMinimum; break;
        case Qt::Key_End: action = SliderToMaximum; break;
        default: QSlider::keyPressEvent(event); return;
    }
    triggerAction(action);
    event->accept();
}

void SeekSlider::mousePressEvent(QMouseEvent* event) {
    mouse_held_ = true;
    steps_while_held_ = false;
    // The toolkit's slider ignores the mouse while its range is empty (a
    // stream shorter than a second); the trackbar takes the click as its
    // thumb held at the one position there is.
    if (minimum() == maximum() && event->button() == Qt::LeftButton &&
        event->buttons() == Qt::LeftButton) {
        held_on_empty_range_ = true;
        setSliderDown(true);
        event->accept();
        return;
    }
    QSlider::mousePressEvent(event);
}

void SeekSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (held_on_empty_range_) {
        if (event->buttons() != Qt::NoButton) return;
        held_on_empty_range_ = false;
        mouse_held_ = false;
        setSliderDown(false);  // reports the release like a thumb's
        event->accept();
        return;
    }
    QSlider::mouseReleaseEvent(event);  // a thumb release reports itself
    mouse_held_ = false;
    if (steps_while_held_) {
        steps_while_held_ = false;
        notify_(TB_ENDTRACK);
    }
}

void SeekSlider::OnAction(int action) {
    if (action == SliderNoAction) return;
    const int before = value();
    // The toolkit sets the value only after this signal; the handler must
    // already read the new position, as it does on the platform.
    setValue(sliderPosition());
    int code = -1;
    switch (action) {
        case SliderSingleStepSub: code = TB_LINEUP; break;
        case SliderSingleStepAdd: code = TB_LINEDOWN; break;
        case SliderPageStepSub: code = TB_PAGEUP; break;
        case SliderPageStepAdd: code = TB_PAGEDOWN; break;
        case SliderToMinimum: code = TB_TOP; break;
        case SliderToMaximum: code = TB_BOTTOM; break;
        case SliderMove:
            if (isSliderDown()) {
                notify_(TB_THUMBTRACK);
                return;
            }
            // The wheel moves the position without a thumb.
            code = value() < before ? TB_LINEUP : TB_LINEDOWN;
            break;
        default: return;
    }
    notify_(code);
    if (mouse_held_) {
        steps_while_held_ = true;  // ends when the button is released
    } else {
        notify_(TB_ENDTRACK);
    }
}

QRect PaintPicture(QPainter& painter, const QRect& area, const QImage& picture, qreal device_ratio) {
    const QRect target = FittedRect(area, picture.size(), device_ratio);
    if (picture.isNull() || area.isEmpty()) {
        painter.fillRect(area, Qt::black);
    } else if (!target.isNull()) {
        // The library scaled the picture for this area: a plain copy at a
        // whole pixel, and black only where the picture does not reach
        // (clipped away when only the picture is painted again).
        for (const QRect& band : QRegion(area).subtracted(QRegion(target))) painter.fillRect(band, Qt::black);
        painter.drawImage(target, picture);
    } else {
        // A picture made for another size (the area has just changed).
        painter.fillRect(area, Qt::black);
        QSizeF shown = QSizeF(picture.size()) / device_ratio;
        if (shown.width() > area.width() || shown.height() > area.height()) {
            shown.scale(area.size(), Qt::KeepAspectRatio);
        }
        const QRectF placed(area.x() + (area.width() - shown.width()) / 2.0,
                            area.y() + (area.height() - shown.height()) / 2.0, shown.width(), shown.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(placed, picture);
    }
    return target;
}

PictureSurface::PictureSurface(QWidget* parent, std::shared_ptr<PictureSlot> slot)
    : QWidget(parent), slot_(std::move(slot)) {
    // A window of its own when the dialog's is made, and only this one: the
    // area and the other controls stay drawn by the toolkit.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

bool PictureSurface::event(QEvent* event) {
    if (event->type() == QEvent::WinIdChange) {
        auto surface = devicePixelRatioF() == 1.0 ? XShmSurface::Open(static_cast<uint32_t>(internalWinId())) : nullptr;
        const bool usable = surface != nullptr;
        slot_->AttachSurface(std::move(surface));
        if (!usable && internalWinId() != 0) hide();
    }
    return QWidget::event(event);
}

void PictureSurface::paintEvent(QPaintEvent* /*event*/) {
    if (redirected(nullptr) != nullptr) {
        // Drawn into an image (a screenshot of the dialog), not on screen.
        QPainter painter(this);
        PaintPicture(painter, rect(), slot_->Latest(), devicePixelRatioF());
        return;
    }
    slot_->PaintSurface();
}

PictureArea::PictureArea(QWidget* parent, std::shared_ptr<PictureSlot> slot)
    : QFrame(parent), slot_(std::move(slot)) {
    slot_->Attach(this);
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) surface_ = new PictureSurface(this, slot_);
}

PictureArea::~PictureArea() { slot_->Detach(); }

bool PictureArea::event(QEvent* event) {
    if (event->type() == kPictureEvent) {
        slot_->RepaintDelivered();
        if (SurfaceShown()) {
            slot_->PaintSurface();
            return true;
        }
        // A picture where the one on screen is covers all it did: the black
        // around it stays. Otherwise the whole area; the frame stays as it is.
        const QRect target = FittedRect(contentsRect(), slot_->Latest().size(), devicePixelRatioF());
        update(!target.isNull() && target == painted_ ? target : contentsRect());
        return true;
    }
    return QFrame::event(event);
}

void PictureArea::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (!SurfaceShown()) painted_ = PaintPicture(painter, contentsRect(), slot_->Latest(), devicePixelRatioF());
    drawFrame(&painter);
}

void PictureArea::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    const qreal ratio = devicePixelRatioF();
    const QRect area = contentsRect();
    if (surface_ != nullptr) surface_->setGeometry(area);
    slot_->SetAreaSize(static_cast<int>(std::lround(area.width() * ratio)),
                       static_cast<int>(std::lround(area.height() * ratio)));
}

ReportList::ReportList(QWidget* parent, std::function<void()> on_double_click)
    : QTreeWidget(parent), on_double_click_(std::move(on_double_click)) {
    setItemDelegate(new RowDelegate(this));
}

QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), option.fontMetrics.height() + 5));
    return size;
}

void ReportList::ClearSelectionBesideRows(const QMouseEvent& event) {
    // A press on the list's empty part clears the selection, as the
    // platform's report view does; the toolkit keeps it in single selection.
    if (event.button() == Qt::LeftButton && !indexAt(event.position().toPoint()).isValid())
        clearSelection();
}

void ReportList::mousePressEvent(QMouseEvent* event) {
    ClearSelectionBesideRows(*event);
    QTreeWidget::mousePressEvent(event);
}

void ReportList::mouseDoubleClickEvent(QMouseEvent* event) {
    ClearSelectionBesideRows(*event);  // the second press of a double-click
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && on_double_click_) on_double_click_();
}

SizeWatcher::SizeWatcher(QWidget* watched, std::shared_ptr<PictureSlot> slot)
    : QObject(watched), slot_(std::move(slot)) {
    watched->installEventFilter(this);
    Update(watched);
}

bool SizeWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) Update(static_cast<QWidget*>(watched));
    return false;
}

void SizeWatcher::Update(QWidget* widget) {
    const qreal ratio = widget->devicePixelRatioF();
    slot_->SetAreaSize(static_cast<int>(std::lround(widget->width() * ratio)),
                       static_cast<int>(std::lround(widget->height() * ratio)));
}

}  // namespace ui::detail
