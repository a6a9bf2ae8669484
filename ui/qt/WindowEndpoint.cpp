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

void PictureSlot::Attach(QObject* receiver) {
    std::scoped_lock lock(receiver_mutex_, mutex_);
    receiver_ = receiver;
    attached_ = true;
}

void PictureSlot::Detach() {
    std::scoped_lock lock(receiver_mutex_, mutex_);
    receiver_ = nullptr;
    attached_ = false;
    latest_ = QImage();
    spare_ = QImage();
}

void PictureSlot::Present(const uint8_t* pixels, int width, int height, int stride) {
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < width * 4) return;
    // The copy goes into the picture painted before the latest one, when
    // nothing holds it any more: no allocation, no page faults per picture.
    QImage copy;
    {
        std::lock_guard lock(mutex_);
        if (!attached_) return;
        copy.swap(spare_);
    }
    // B, G, R, X bytes in memory are QImage::Format_RGB32 on little-endian
    // machines; the copy detaches the picture from the caller's buffer.
    if (copy.width() != width || copy.height() != height || !copy.isDetached())
        copy = QImage(width, height, QImage::Format_RGB32);
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
        if (repaint_pending_) return;
        repaint_pending_ = true;
    }
    std::lock_guard lock(receiver_mutex_);
    if (receiver_ != nullptr) QCoreApplication::postEvent(receiver_, new QEvent(kPictureEvent));
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
