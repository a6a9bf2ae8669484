// Posted messages and presented pictures cross threads safely: in order,
// once, on the window's thread, and never into a window that is gone.
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "tests/ui/RecordingDialog.h"
#include "ui/qt/Testing.h"

namespace {

using namespace ui::testing;
using std::chrono::milliseconds;

TEST(Posts, MessagesFromAnotherThreadArriveOnceInOrderOnTheWindowThread) {
    RecordingDialog dialog(102);
    dialog.Create();
    PlayerWindowHandle window = dialog.WindowHandle();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->dialog_id, 102);
    EXPECT_EQ(window->control_id, 0);
    constexpr int kCount = 2000;
    std::thread poster([window] {
        for (int i = 0; i < kCount; ++i) window->post(window->context, WM_PLAYER_NOTIFY, i, -i);
    });
    poster.join();
    ASSERT_TRUE(WaitUntil([&] { return dialog.messages.size() >= kCount; }));
    ProcessEvents();
    ASSERT_EQ(dialog.messages.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        const Message& m = dialog.messages[static_cast<std::size_t>(i)];
        EXPECT_EQ(m.message, static_cast<uint32_t>(WM_PLAYER_NOTIFY));
        EXPECT_EQ(m.wparam, i);
        EXPECT_EQ(m.lparam, -i);
        EXPECT_EQ(m.thread, std::this_thread::get_id());
    }
    dialog.Destroy();
}

TEST(Posts, EachThreadKeepsItsOrderAndItemHandlesReachTheSameWindow) {
    RecordingDialog dialog(129);
    dialog.Create();
    PlayerWindowHandle own = dialog.WindowHandle();
    PlayerWindowHandle picture = dialog.ItemWindowHandle(1027);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->control_id, 1027);
    EXPECT_EQ(dialog.ItemWindowHandle(1027), picture) << "one handle per control";
    constexpr int kEach = 500;
    auto post_from = [](PlayerWindowHandle window, intptr_t thread_tag) {
        return std::thread([window, thread_tag] {
            for (int i = 0; i < kEach; ++i) window->post(window->context, 1, thread_tag, i);
        });
    };
    std::thread a = post_from(own, 1);
    std::thread b = post_from(picture, 2);
    a.join();
    b.join();
    ASSERT_TRUE(WaitUntil([&] { return dialog.messages.size() >= 2 * kEach; }));
    intptr_t next[3] = {0, 0, 0};
    for (const Message& m : dialog.messages) {
        ASSERT_TRUE(m.wparam == 1 || m.wparam == 2);
        EXPECT_EQ(m.lparam, next[m.wparam]++);
    }
    EXPECT_EQ(next[1], kEach);
    EXPECT_EQ(next[2], kEach);
    dialog.Destroy();
}

TEST(Posts, MailboxTasksAndMessagesShareOneOrder) {
    RecordingDialog dialog(102);
    dialog.Create();
    PlayerWindowHandle window = dialog.WindowHandle();
    std::shared_ptr<ui::Mailbox> mailbox = dialog.GetMailbox();
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            if (i % 2 == 0) {
                window->post(window->context, 5, i, 0);
            } else {
                EXPECT_TRUE(mailbox->Post([&order, i] { order.push_back(i); }));
            }
        }
    });
    poster.join();
    ASSERT_TRUE(WaitUntil([&] { return dialog.messages.size() + order.size() >= 100; }));
    // Tasks ran between the messages posted before and after them.
    std::size_t message_index = 0;
    for (int odd : order) {
        while (message_index < dialog.messages.size() && dialog.messages[message_index].wparam < odd) ++message_index;
        EXPECT_EQ(message_index, static_cast<std::size_t>((odd + 1) / 2));
    }
    dialog.Destroy();
}

TEST(Posts, QueuedAndLaterPostsToADestroyedWindowAreDropped) {
    auto dialog = std::make_unique<RecordingDialog>(102);
    dialog->Create();
    PlayerWindowHandle window = dialog->WindowHandle();
    std::shared_ptr<ui::Mailbox> mailbox = dialog->GetMailbox();
    for (int i = 0; i < 10; ++i) window->post(window->context, 1, i, 0);
    dialog->Destroy();
    ProcessEvents();
    EXPECT_TRUE(dialog->messages.empty());
    window->post(window->context, 1, 99, 0);
    EXPECT_FALSE(mailbox->Post([] { FAIL() << "ran after the window was gone"; }));
    dialog.reset();
    // The handle stays valid memory after the dialog object is gone.
    window->post(window->context, 1, 100, 0);
    int width = -1, height = -1;
    window->area_size(window->context, &width, &height);
    const uint32_t pixel = 0;
    window->present(window->context, reinterpret_cast<const uint8_t*>(&pixel), 1, 1, 4);
    ProcessEvents();
}

TEST(Posts, LibraryThreadRacingWithDestructionIsSafe) {
    for (int round = 0; round < 5; ++round) {
        auto dialog = std::make_unique<RecordingDialog>(129);
        dialog->Create();
        PlayerWindowHandle window = dialog->WindowHandle();
        PlayerWindowHandle picture = dialog->ItemWindowHandle(1027);
        std::atomic<bool> stop{false};
        std::atomic<int> posted{0};
        std::thread library([&] {
            std::vector<uint32_t> frame(64 * 48, 0x00FF8000u);
            while (!stop) {
                window->post(window->context, WM_PLAYER_NOTIFY, 1, 2);
                picture->present(picture->context, reinterpret_cast<const uint8_t*>(frame.data()), 64, 48, 64 * 4);
                ++posted;
            }
        });
        WaitUntil([&] { return posted > 200 && !dialog->messages.empty(); });
        dialog->Destroy();
        dialog.reset();
        const int at_destruction = posted;
        WaitUntil([&] { return posted > at_destruction + 200; }, milliseconds(5000));
        stop = true;
        library.join();
        ProcessEvents();
    }
}

TEST(Posts, PresentedPictureIsCopiedAndShownInItsArea) {
    RecordingDialog dialog(129);
    dialog.Create();
    PlayerWindowHandle picture = dialog.ItemWindowHandle(1027);
    ProcessEvents();
    int width = 0, height = 0;
    picture->area_size(picture->context, &width, &height);
    QWidget* area = Widget(dialog, 1027);
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_LE(width, area->width());
    EXPECT_LE(height, area->height());

    // Two rows of four pixels with a padded stride; bytes B, G, R, X.
    std::vector<uint8_t> pixels(2 * 20, 0xEE);
    for (int x = 0; x < 4; ++x) {
        uint8_t* p = &pixels[static_cast<std::size_t>(x * 4)];
        p[0] = 0x10; p[1] = 0x20; p[2] = 0x30; p[3] = 0;
        uint8_t* q = &pixels[static_cast<std::size_t>(20 + x * 4)];
        q[0] = 0xFF; q[1] = 0; q[2] = 0; q[3] = 0;
    }
    std::thread library([&] { picture->present(picture->context, pixels.data(), 4, 2, 20); });
    library.join();
    std::fill(pixels.begin(), pixels.end(), 0);  // the picture was copied before present returned
    ASSERT_TRUE(WaitUntil([&] { return !PresentedPicture(dialog, 1027).isNull(); }));
    const QImage shown = PresentedPicture(dialog, 1027);
    EXPECT_EQ(shown.size(), QSize(4, 2));
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFF, 0x302010u);
    EXPECT_EQ(shown.pixel(3, 1) & 0xFFFFFF, 0x0000FFu);

    const QImage drawn = area->grab().toImage();
    EXPECT_EQ(drawn.pixelColor(drawn.width() / 2, drawn.height() / 2), QColor(0x30, 0x20, 0x10))
        << "a small picture is drawn at the centre of the area";
    EXPECT_EQ(drawn.pixelColor(drawn.width() / 4, drawn.height() / 4), QColor(Qt::black));

    picture->present(picture->context, nullptr, 4, 2, 16);
    picture->present(picture->context, pixels.data(), 4, 2, 8);  // stride shorter than a row
    EXPECT_EQ(PresentedPicture(dialog, 1027).pixel(0, 0) & 0xFFFFFF, 0x302010u);
    dialog.Destroy();
}

}  // namespace
