#include "ui/qt/WindowEndpoint.h"

#include <QCoreApplication>
#include <QRegion>
#include <cstring>
#include <vector>

namespace ui::detail {

void PostBox::Attach(QObject* receiver) {
    std::lock_guard lock(mutex_);
    receiver_ = receiver;
}

void PostBox::Detach() {
    std::lock_guard lock(mutex_);
    receiver_ = nullptr;
}

bool PostBox::Post(std::function<void()> task) {
    return PostEvent(new TaskEvent(std::move(task)));
}

bool PostBox::PostMessage(uint32_t message, intptr_t wparam, intptr_t lparam) {
    return PostEvent(new MessageEvent(message, wparam, lparam));
}

bool PostBox::PostEvent(QEvent* event) {
    // Held across postEvent: the receiver cannot be deleted in between,
    // because its window detaches (taking this lock) before it goes, and
    // events still queued for a deleted receiver are discarded by Qt.
    std::lock_guard lock(mutex_);
    if (receiver_ == nullptr) {
        delete event;
        return false;
    }
    QCoreApplication::postEvent(receiver_, event);
    return true;
}

QRect FittedRect(const QRect& area, QSize picture, qreal device_ratio) {
    const QSize native = picture / device_ratio;
    if (picture.isEmpty() || area.isEmpty() || native.width() > area.width() || native.height() > area.height() ||
        QSizeF(native) * device_ratio != QSizeF(picture)) {
        return {};
    }
    // Centred, an odd spare pixel going above and to the left.
    return {area.x() + (area.width() - native.width() + 1) / 2, area.y() + (area.height() - native.height() + 1) / 2,
            native.width(), native.height()};
}

namespace {

// Rows of `width` 32-bit pixels from `from` (rows of `stride` bytes) into
// `to`, which is at least that large.
void CopyRows(QImage& to, const uint8_t* from, int stride, int width) {
    for (int row = 0; row < to.height(); ++row)
        std::memcpy(to.scanLine(row), from + static_cast<ptrdiff_t>(row) * stride, static_cast<size_t>(width) * 4);
}

}  // namespace

void PictureSlot::Attach(QObject* receiver) {
    std::scoped_lock lock(receiver_mutex_, mutex_);
    receiver_ = receiver;
    attached_ = true;
}

void PictureSlot::AttachSurface(std::shared_ptr<XShmSurface> surface) {
    std::lock_guard lock(mutex_);
    surface_ = std::move(surface);
    surface_shows_ = {};
    // Pictures from now on live in the surface's shared memory.
    spare_ = QImage();
}

void PictureSlot::Detach() {
    std::scoped_lock lock(receiver_mutex_, mutex_);
    receiver_ = nullptr;
    attached_ = false;
    latest_ = QImage();
    spare_ = QImage();
    surface_.reset();
}

void PictureSlot::Present(const uint8_t* pixels, int width, int height, int stride) {
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < width * 4) return;
    // The copy goes into the picture painted before the latest one, when
    // nothing holds it any more: no allocation, no page faults per picture.
    QImage copy;
    std::shared_ptr<XShmSurface> surface;
    {
        std::lock_guard lock(mutex_);
        if (!attached_) return;
        copy.swap(spare_);
        surface = surface_;
    }
    // The X server may still be reading that picture, put a picture ago.
    if (surface) surface->WaitForPuts();
    // B, G, R, X bytes in memory are QImage::Format_RGB32 on little-endian
    // machines; the copy detaches the picture from the caller's buffer.
    if (copy.width() != width || copy.height() != height || !copy.isDetached()) {
        copy = surface ? surface->NewImage(width, height) : QImage();
        if (copy.isNull()) copy = QImage(width, height, QImage::Format_RGB32);
    }
    if (copy.isNull()) return;
    CopyRows(copy, pixels, stride, width);
    {
        std::lock_guard lock(mutex_);
        if (!attached_) return;
        latest_.swap(copy);
        spare_.swap(copy);
        const QSize area(width_.load(), height_.load());
        if (surface_ && surface_shows_ == SurfaceLayout{latest_.size(), area} &&
            surface_->Put(latest_, FittedRect(QRect(QPoint(), area), latest_.size(), 1.0).topLeft())) {
            return;
        }
        if (repaint_pending_) return;
        repaint_pending_ = true;
    }
    std::lock_guard lock(receiver_mutex_);
    if (receiver_ != nullptr) QCoreApplication::postEvent(receiver_, new QEvent(kPictureEvent));
}

void PictureSlot::PaintSurface() {
    std::lock_guard lock(mutex_);
    if (!surface_) return;
    const QSize area(width_.load(), height_.load());
    if (area.isEmpty()) return;
    QImage shown = latest_;
    if (!shown.isNull() && (shown.width() > area.width() || shown.height() > area.height()))
        shown = shown.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
    // Black around the picture (the whole area when there is none).
    const QRect at = FittedRect(QRect(QPoint(), area), shown.size(), 1.0);
    const QRegion black = QRegion(0, 0, area.width(), area.height()).subtracted(at);
    if (surface_->Put(shown, at.topLeft(), black)) {
        // The next picture of this size is put where this one is.
        surface_shows_ = shown.isNull() ? SurfaceLayout{} : SurfaceLayout{shown.size(), area};
        return;
    }
    // A picture in memory of its own (scaled, or no memory could be shared
    // when it came): put through a copy the server shares.
    QImage shared = surface_->NewImage(shown.width(), shown.height());
    if (shared.isNull()) {
        surface_->Put(QImage(), {}, QRegion(0, 0, area.width(), area.height()));
        surface_shows_ = {};
        return;
    }
    CopyRows(shared, shown.constBits(), static_cast<int>(shown.bytesPerLine()), shown.width());
    surface_->Put(shared, at.topLeft(), black);
    surface_shows_ = shown.size() == latest_.size() ? SurfaceLayout{shown.size(), area} : SurfaceLayout{};
}

QImage PictureSlot::Latest() {
    std::lock_guard lock(mutex_);
    return latest_;  // shares the pixels; no copy under the lock
}

void PictureSlot::RepaintDelivered() {
    std::lock_guard lock(mutex_);
    repaint_pending_ = false;
}

void PictureSlot::SetAreaSize(int width, int height) {
    width_.store(width);
    height_.store(height);
}

void PictureSlot::AreaSize(int* width, int* height) const {
    if (width != nullptr) *width = width_.load();
    if (height != nullptr) *height = height_.load();
}

namespace {

void PostThunk(void* context, uint32_t message, intptr_t wparam, intptr_t lparam) {
    static_cast<Endpoint*>(context)->posts->PostMessage(message, wparam, lparam);
}

void PresentThunk(void* context, const uint8_t* pixels, int width, int height, int stride) {
    static_cast<Endpoint*>(context)->picture->Present(pixels, width, height, stride);
}

void AreaSizeThunk(void* context, int* width, int* height) {
    static_cast<Endpoint*>(context)->picture->AreaSize(width, height);
}

}  // namespace

Endpoint* NewEndpoint(std::shared_ptr<PostBox> posts, std::shared_ptr<PictureSlot> picture,
                      int dialog_id, int control_id) {
    // Reachable from a static for the whole run: a library may keep a handle
    // a little longer than its window, and must still find valid memory.
    static std::mutex mutex;
    static auto* endpoints = new std::vector<std::unique_ptr<Endpoint>>();
    auto endpoint = std::make_unique<Endpoint>();
    endpoint->posts = std::move(posts);
    endpoint->picture = std::move(picture);
    endpoint->window.context = endpoint.get();
    endpoint->window.post = &PostThunk;
    endpoint->window.present = &PresentThunk;
    endpoint->window.area_size = &AreaSizeThunk;
    endpoint->window.dialog_id = dialog_id;
    endpoint->window.control_id = control_id;
    Endpoint* raw = endpoint.get();
    std::lock_guard lock(mutex);
    endpoints->push_back(std::move(endpoint));
    return raw;
}

}  // namespace ui::detail
