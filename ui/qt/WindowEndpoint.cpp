#include "ui/qt/WindowEndpoint.h"

#include <QCoreApplication>
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

namespace {

// Where a picture of `picture` size goes in an area of `area` size: centred,
// an odd spare pixel going above and to the left (as the toolkit draws it).
QPoint CentredIn(QSize area, QSize picture) {
    return {(area.width() - picture.width() + 1) / 2, (area.height() - picture.height() + 1) / 2};
}

// The black around a picture at `at` in an area of `area` size.
std::vector<QRect> BlackAround(QSize area, QRect at) {
    if (at.isEmpty()) return {QRect(QPoint(), area)};
    return {QRect(0, 0, area.width(), at.top()), QRect(0, at.bottom() + 1, area.width(), area.height() - at.bottom() - 1),
            QRect(0, at.top(), at.left(), at.height()),
            QRect(at.right() + 1, at.top(), area.width() - at.right() - 1, at.height())};
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
    uint8_t* to = copy.bits();
    const auto row_bytes = static_cast<size_t>(width) * 4;
    const auto to_stride = static_cast<size_t>(copy.bytesPerLine());
    for (int row = 0; row < height; ++row)
        std::memcpy(to + row * to_stride, pixels + static_cast<ptrdiff_t>(row) * stride, row_bytes);
    {
        std::lock_guard lock(mutex_);
        if (!attached_) return;
        latest_.swap(copy);
        spare_.swap(copy);
        const QSize area(width_.load(), height_.load());
        const QPoint at = CentredIn(area, latest_.size());
        if (surface_ && surface_shows_ == SurfaceLayout{latest_.size(), area} && surface_->Put(latest_, at.x(), at.y()))
            return;
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
    const QPoint at = CentredIn(area, shown.size());
    const std::vector<QRect> black = BlackAround(area, shown.isNull() ? QRect() : QRect(at, shown.size()));
    if (surface_->Put(shown, at.x(), at.y(), black)) {
        // The next picture of this size is put where this one is.
        surface_shows_ = shown.isNull() ? SurfaceLayout{} : SurfaceLayout{shown.size(), area};
        return;
    }
    // A picture in memory of its own (scaled, or no memory could be shared
    // when it came): put through a copy the server shares.
    QImage shared = surface_->NewImage(shown.width(), shown.height());
    if (shared.isNull()) {
        surface_->Put(QImage(), 0, 0, BlackAround(area, QRect()));
        surface_shows_ = {};
        return;
    }
    for (int row = 0; row < shown.height(); ++row)
        std::memcpy(shared.scanLine(row), shown.constScanLine(row), static_cast<size_t>(shown.width()) * 4);
    surface_->Put(shared, at.x(), at.y(), black);
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
