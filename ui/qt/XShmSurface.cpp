#include "ui/qt/XShmSurface.h"

#include <QGuiApplication>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

namespace ui::detail {
namespace {

template <typename Reply>
struct ReplyDeleter {
    void operator()(Reply* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, ReplyDeleter<Reply>>;

// Whether the server takes `window`'s pixels as 32-bit B, G, R, X words,
// the layout of QImage::Format_RGB32 on this machine.
bool TakesRgb32(xcb_connection_t* connection, uint32_t window) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
    bool word_per_pixel = false;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem != 0; xcb_format_next(&formats))
        word_per_pixel |= formats.data->depth == 24 && formats.data->bits_per_pixel == 32;
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr));
    if (!word_per_pixel || !geometry || !attributes || geometry->depth != 24) return false;
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem != 0; xcb_screen_next(&screens)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem != 0;
             xcb_depth_next(&depths)) {
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem != 0;
                 xcb_visualtype_next(&visuals)) {
                const xcb_visualtype_t* visual = visuals.data;
                if (visual->visual_id != attributes->visual) continue;
                return visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR && visual->red_mask == 0xFF0000 &&
                       visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
            }
        }
    }
    return false;
}

// What a picture's memory needs when the picture goes: the surface that
// shares it, if it is still there, and the address to unmap.
struct ImageRelease {
    std::weak_ptr<XShmSurface> surface;
    void* address = nullptr;
};

// The root window of `window`'s screen as `connection` sees it; 0 when the
// window is not there.
uint32_t RootOf(xcb_connection_t* connection, uint32_t window) {
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
    return geometry ? geometry->root : 0;
}

// A connection of our own to the toolkit's X server, or null. The toolkit
// was given its display by DISPLAY or its -display argument: the window's
// root seen from both connections tells that they reach the same server.
xcb_connection_t* ConnectBeside(xcb_connection_t* toolkits, uint32_t window) {
    const uint32_t root = RootOf(toolkits, window);
    if (root == 0) return nullptr;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) == 0 && RootOf(connection, window) == root) return connection;
    xcb_disconnect(connection);
    return nullptr;
}

}  // namespace

std::shared_ptr<XShmSurface> XShmSurface::Open(uint32_t window) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* toolkits = x11 != nullptr ? x11->connection() : nullptr;
    if (toolkits == nullptr || window == 0 || xcb_connection_has_error(toolkits) != 0) return nullptr;
    xcb_connection_t* connection = ConnectBeside(toolkits, window);
    if (connection == nullptr) return nullptr;
    // Owned from here: the connection goes with the surface.
    std::shared_ptr<XShmSurface> surface(new XShmSurface(connection, window));
    // A request of an extension the server lacks breaks the connection.
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
    if (shm == nullptr || shm->present == 0) return nullptr;
    const ReplyPtr<xcb_shm_query_version_reply_t> version(
        xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection), nullptr));
    if (!version || !TakesRgb32(connection, window)) return nullptr;
    const uint32_t values[] = {0 /* black, in true colour */, 0 /* no exposure events for puts */};
    xcb_create_gc(connection, surface->gc_, window, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values);
    // A server on another machine cannot attach this process's memory.
    if (surface->NewImage(16, 16).isNull()) return nullptr;
    return surface;
}

XShmSurface::XShmSurface(xcb_connection_t* connection, uint32_t window)
    : connection_(connection), window_(window), gc_(xcb_generate_id(connection)) {}

// The server lets go of the shared memory and the graphics context with the
// connection; pictures still alive keep their memory until they go.
XShmSurface::~XShmSurface() { xcb_disconnect(connection_); }

QImage XShmSurface::NewImage(int width, int height) {
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return {};
    const auto stride = static_cast<qsizetype>(width) * 4;
    const int id = shmget(IPC_PRIVATE, static_cast<size_t>(stride) * static_cast<size_t>(height), IPC_CREAT | 0600);
    if (id < 0) return {};
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return {};
    }
    const uint32_t segment = xcb_generate_id(connection_);
    xcb_generic_error_t* error = xcb_request_check(connection_, xcb_shm_attach_checked(connection_, segment, id, 1));
    // Marked for removal at once: the memory goes when both sides have let go,
    // even if this process ends without letting go.
    shmctl(id, IPC_RMID, nullptr);
    if (error != nullptr) {
        std::free(error);
        shmdt(address);
        return {};
    }
    {
        std::lock_guard lock(mutex_);
        segments_[address] = segment;
    }
    auto* release = new ImageRelease{weak_from_this(), address};
    return QImage(static_cast<uchar*>(address), width, height, stride, QImage::Format_RGB32, &ReleaseImage, release);
}

void XShmSurface::ReleaseImage(void* info) {
    auto* release = static_cast<ImageRelease*>(info);
    if (auto surface = release->surface.lock()) surface->Forget(release->address);
    shmdt(release->address);
    delete release;
}

void XShmSurface::Forget(const void* address) {
    std::lock_guard lock(mutex_);
    const auto found = segments_.find(address);
    if (found == segments_.end()) return;
    // Requests are carried out in order: a put of this memory sent before
    // has been read by the time the server lets go of it.
    xcb_shm_detach(connection_, found->second);
    xcb_flush(connection_);
    segments_.erase(found);
}

void XShmSurface::WaitForPuts() {
    std::lock_guard lock(mutex_);
    if (!put_pending_) return;
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus_cookie_t{put_sequence_}, nullptr));
    put_pending_ = false;
    // What the server sent unasked and was queued while reading the reply:
    // errors of puts into a window already gone.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) std::free(event);
}

bool XShmSurface::Put(const QImage& image, QPoint at, const QRegion& black) {
    std::lock_guard lock(mutex_);
    const auto found = image.isNull() ? segments_.end() : segments_.find(image.constBits());
    if (!image.isNull() && found == segments_.end()) return false;
    std::vector<xcb_rectangle_t> rectangles;
    for (const QRect& rect : black) {
        rectangles.push_back({static_cast<int16_t>(rect.x()), static_cast<int16_t>(rect.y()),
                              static_cast<uint16_t>(rect.width()), static_cast<uint16_t>(rect.height())});
    }
    if (!rectangles.empty()) {
        xcb_poly_fill_rectangle(connection_, window_, gc_, static_cast<uint32_t>(rectangles.size()),
                                rectangles.data());
    }
    if (found == segments_.end()) {
        xcb_flush(connection_);
        return true;
    }
    xcb_shm_put_image(connection_, window_, gc_, static_cast<uint16_t>(image.bytesPerLine() / 4),
                      static_cast<uint16_t>(image.height()), 0, 0, static_cast<uint16_t>(image.width()),
                      static_cast<uint16_t>(image.height()), static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y()), 24,
                      XCB_IMAGE_FORMAT_Z_PIXMAP, 0, found->second, 0);
    // The reply to a request sent after the put tells that the server has
    // read the picture: it answers requests in order. Asked now, waited for
    // only before the memory is written again, a picture later.
    if (put_pending_) xcb_discard_reply(connection_, put_sequence_);
    put_sequence_ = xcb_get_input_focus(connection_).sequence;
    put_pending_ = true;
    xcb_flush(connection_);
    return true;
}

}  // namespace ui::detail
