// On a real X server a picture area's pictures go straight to its window
// from the thread presenting them, and come back when the window is
// exposed; a server that cannot share memory gets them drawn by the
// toolkit. Run under Xvfb with the xcb platform (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QWidget>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

#include "tests/ui/RecordingDialog.h"
#include "ui/qt/Testing.h"

namespace {

using namespace ui::testing;
using std::chrono::milliseconds;

constexpr int kPictureId = 1027;

// A picture of one colour, 64 x 48, presented from a thread of its own as
// the player library does.
void PresentFromAnotherThread(PlayerWindowHandle area, uint32_t bgr) {
    std::vector<uint32_t> pixels(64 * 48, bgr);
    std::thread library([&] {
        area->present(area->context, reinterpret_cast<const uint8_t*>(pixels.data()), 64, 48, 64 * 4);
    });
    library.join();
}

// What the X server shows at a point of a widget, read back from it.
QRgb OnScreen(QWidget* widget, QPoint at) {
    QWidget* window = widget->window();
    const QPoint in_window = widget->mapTo(window, at);
    const QImage shown = window->screen()->grabWindow(window->winId()).toImage();
    return shown.pixel(in_window) & 0xFFFFFF;
}

// The picture's native window: the area's only child widget.
QWidget* Surface(QWidget* area) {
    const auto children = area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    return children.size() == 1 ? children.front() : nullptr;
}

TEST(PictureSurface, PicturesReachTheScreenWithoutTheWindowThreadAndComeBackWhenExposed) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under an X server";
    RecordingDialog dialog(129);
    dialog.Create();
    ProcessEvents();
    PlayerWindowHandle handle = dialog.ItemWindowHandle(kPictureId);
    QWidget* area = Widget(dialog, kPictureId);
    QWidget* surface = Surface(area);
    ASSERT_NE(surface, nullptr);
    ASSERT_TRUE(surface->isVisible()) << "the server takes pictures through shared memory";
    const QPoint centre = area->contentsRect().center();
    const QPoint corner = area->contentsRect().topLeft() + QPoint(2, 2);

    // The first picture is laid out by the window thread: black around it.
    PresentFromAnotherThread(handle, 0x00FF0000u);
    ASSERT_TRUE(WaitUntil([&] { return OnScreen(area, centre) == 0xFF0000u; }, milliseconds(5000)));
    EXPECT_EQ(OnScreen(area, corner), 0x000000u);

    // The next one reaches the screen with the window thread never let run:
    // nothing here processes its events. The surface's connection is not
    // the toolkit's, so the server may read it a moment after the toolkit's.
    PresentFromAnotherThread(handle, 0x000000FFu);
    bool shown = false;
    for (int look = 0; look < 200 && !shown; ++look) {
        shown = OnScreen(area, centre) == 0x0000FFu;
        if (!shown) std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(shown);

    // Drawn over, then exposed: the window is asked for its contents, and
    // the latest picture is put again.
    auto* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto window = static_cast<xcb_window_t>(surface->winId());
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    const uint32_t green = 0x00FF00;
    xcb_create_gc(connection, gc, window, XCB_GC_FOREGROUND, &green);
    const xcb_rectangle_t whole{0, 0, static_cast<uint16_t>(surface->width()), static_cast<uint16_t>(surface->height())};
    xcb_poly_fill_rectangle(connection, window, gc, 1, &whole);
    xcb_free_gc(connection, gc);
    ASSERT_EQ(OnScreen(area, centre), 0x00FF00u);
    xcb_clear_area(connection, 1, window, 0, 0, 0, 0);
    xcb_flush(connection);
    EXPECT_TRUE(WaitUntil([&] { return OnScreen(area, centre) == 0x0000FFu; }, milliseconds(5000)));
    EXPECT_EQ(OnScreen(area, corner), 0x000000u);

    // A screenshot of the dialog, drawn by the toolkit, has the picture too.
    const QImage drawn = area->grab().toImage();
    EXPECT_EQ(drawn.pixel(centre) & 0xFFFFFF, 0x0000FFu);
    dialog.Destroy();
}

// Run on a server without MIT-SHM (see CMakeLists.txt): the area falls back
// to the toolkit's painting, and the connection survives.
TEST(PictureSurface, WithoutSharedMemoryTheToolkitDrawsThePictures) {
    RecordingDialog dialog(129);
    dialog.Create();
    ProcessEvents();
    QWidget* area = Widget(dialog, kPictureId);
    QWidget* surface = Surface(area);
    ASSERT_NE(surface, nullptr);
    EXPECT_TRUE(surface->isHidden());
    PresentFromAnotherThread(dialog.ItemWindowHandle(kPictureId), 0x00FF0000u);
    EXPECT_TRUE(WaitUntil([&] { return OnScreen(area, area->contentsRect().center()) == 0xFF0000u; },
                          milliseconds(5000)));
    dialog.Destroy();
}

}  // namespace
