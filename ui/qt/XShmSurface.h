// A native X window that pictures are put into through MIT-SHM, from any
// thread. A picture is written once into memory the X server shares and the
// server copies it to the screen: no wake-up of the GUI thread, no copy into
// the toolkit's backing store and no round trip before each picture, which
// the toolkit's painting costs for every one of 25 or more a second.
#pragma once

#include <QImage>
#include <QRegion>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

struct xcb_connection_t;

namespace ui::detail {

class XShmSurface : public std::enable_shared_from_this<XShmSurface> {
public:
    // Null unless the toolkit runs on X, `window` is a 24-bit true-colour
    // window whose pixels are B, G, R, X bytes in memory, and the server can
    // share memory with this process (not a remote display). The surface
    // talks to the server on a connection of its own: the server's answer to
    // each picture comes back to the thread that waits for it, rather than
    // waking the toolkit's reader 25 or more times a second.
    static std::shared_ptr<XShmSurface> Open(uint32_t window);
    ~XShmSurface();
    XShmSurface(const XShmSurface&) = delete;
    XShmSurface& operator=(const XShmSurface&) = delete;

    // A picture of width x height in QImage::Format_RGB32 whose pixels the
    // server shares; null when no memory can be shared.
    QImage NewImage(int width, int height);
    // Blocks until the server has read every picture put so far, so that
    // their memory may be written again.
    void WaitForPuts();
    // Puts `image` at `at` in the window, and black over `black` (in the
    // window's pixels); a null `image` puts only the black. False when
    // `image` was not made by NewImage.
    bool Put(const QImage& image, QPoint at, const QRegion& black = {});

private:
    XShmSurface(xcb_connection_t* connection, uint32_t window);
    static void ReleaseImage(void* info);
    void Forget(const void* address);

    xcb_connection_t* const connection_;  // its own; usable from any thread
    const uint32_t window_;
    const uint32_t gc_;
    std::mutex mutex_;
    std::map<const void*, uint32_t> segments_;  // the server's names, by the address of their pixels
    bool put_pending_ = false;  // a put whose reading is not yet confirmed
    unsigned int put_sequence_ = 0;  // the round trip that confirms it
};

}  // namespace ui::detail
