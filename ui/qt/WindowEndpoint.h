// What a window hands to other threads: a mailbox for posts and, for a
// picture area, a slot for the latest picture. Both are shared and outlive
// the window, so a library thread racing with the window's destruction
// finds them detached and drops what it brings.
#pragma once

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QRect>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "player/PlayerSdk.h"
#include "ui/Dialog.h"
#include "ui/qt/XShmSurface.h"

namespace ui::detail {

// Event types of this layer, delivered through the toolkit's posted-event queue.
inline constexpr QEvent::Type kTaskEvent = static_cast<QEvent::Type>(QEvent::User + 101);
inline constexpr QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::User + 102);
inline constexpr QEvent::Type kPictureEvent = static_cast<QEvent::Type>(QEvent::User + 103);

class TaskEvent final : public QEvent {
public:
    explicit TaskEvent(std::function<void()> task) : QEvent(kTaskEvent), task_(std::move(task)) {}
    void Run() const { if (task_) task_(); }

private:
    std::function<void()> task_;
};

class MessageEvent final : public QEvent {
public:
    MessageEvent(uint32_t message, intptr_t wparam, intptr_t lparam)
        : QEvent(kMessageEvent), message(message), wparam(wparam), lparam(lparam) {}
    const uint32_t message;
    const intptr_t wparam;
    const intptr_t lparam;
};

// Posts to one window, from any thread, in order. Attached to the window's
// receiver while the window exists; once detached every post is dropped.
class PostBox final : public Mailbox {
public:
    void Attach(QObject* receiver);
    void Detach();
    bool Post(std::function<void()> task) override;
    bool PostMessage(uint32_t message, intptr_t wparam, intptr_t lparam);

private:
    bool PostEvent(QEvent* event);

    std::mutex mutex_;
    QObject* receiver_ = nullptr;
};

// Where a picture of `picture` size (device pixels) is shown in `area`
// without scaling: centred at a whole pixel; a null rectangle when it does
// not fit (then it is scaled).
QRect FittedRect(const QRect& area, QSize picture, qreal device_ratio);

// The latest picture handed over for one area (latest wins) and the area's
// size in device pixels. Present copies outside the lock and only swaps
// under it, so the GUI thread never waits for a copy; two pictures take
// turns, so a steady stream of them allocates nothing.
//
// With a surface (an X window of the area's size, see XShmSurface) the
// pictures live in memory the X server shares, and a picture of the size
// and place of the one on screen is put there by the thread that presents
// it; the GUI thread is asked to paint only when the black around it
// changes, or the window is exposed.
class PictureSlot {
public:
    void Attach(QObject* receiver);
    void AttachSurface(std::shared_ptr<XShmSurface> surface);
    void Detach();
    void Present(const uint8_t* pixels, int width, int height, int stride);
    // GUI thread: the picture to paint, and the end of a repaint request.
    QImage Latest();
    void RepaintDelivered();
    // GUI thread: draws the whole surface, black with the latest picture
    // centred (scaled down when the area has just changed under it).
    void PaintSurface();
    void SetAreaSize(int width, int height);
    void AreaSize(int* width, int* height) const;

private:
    // Two locks, so that the GUI thread, woken by the post, does not find
    // the pictures still locked by the thread that posts (a context switch
    // each way for every picture): receiver_mutex_ is held across the post
    // (the receiver cannot go in between), mutex_ only around the swaps.
    std::mutex receiver_mutex_;
    QObject* receiver_ = nullptr;
    std::mutex mutex_;
    bool attached_ = false;
    QImage latest_;
    QImage spare_;  // the picture before latest_, reused for the next copy
    bool repaint_pending_ = false;
    // What the surface shows: a picture of this size centred in an area of
    // this size, with black around it.
    struct SurfaceLayout {
        QSize picture;
        QSize area;
        bool operator==(const SurfaceLayout&) const = default;
    };
    std::shared_ptr<XShmSurface> surface_;
    SurfaceLayout surface_shows_;
    std::atomic<int> width_{0};
    std::atomic<int> height_{0};
};

// The structure a window handle points at. Endpoints are never freed while
// the process runs, so a handle kept by the library stays valid memory;
// after its window is gone it leads to detached boxes that drop everything.
struct Endpoint {
    PlayerWindow window{};
    std::shared_ptr<PostBox> posts;
    std::shared_ptr<PictureSlot> picture;
};

Endpoint* NewEndpoint(std::shared_ptr<PostBox> posts, std::shared_ptr<PictureSlot> picture,
                      int dialog_id, int control_id);

}  // namespace ui::detail
