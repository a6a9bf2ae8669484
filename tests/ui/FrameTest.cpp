// The real message box, file dialog and system menu, and what lies under
// the mouse where group boxes frame other controls.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>

#include "tests/ui/RecordingDialog.h"
#include "tools/screenshots/Scenes.h"
#include "ui/qt/Testing.h"

namespace {

using namespace ui::testing;

// Runs the check on the modal window or pop-up that the next call opens.
template <typename W>
void InspectWhenOpen(std::function<void(W*)> check) {
    QTimer::singleShot(0, [check] {
        W* open = nullptr;
        WaitUntil([&] {
            QWidget* candidate = QApplication::activeModalWidget();
            if (candidate == nullptr) candidate = QApplication::activePopupWidget();
            open = qobject_cast<W*>(candidate);
            return open != nullptr;
        }, std::chrono::seconds(20));
        ASSERT_NE(open, nullptr);
        check(open);
    });
}

TEST(Frame, MessageBoxHasTheTextOneOkButtonNoIconAndTheOwnersTitle) {
    RecordingDialog dialog(102);
    dialog.Create();
    bool inspected = false;
    InspectWhenOpen<QMessageBox>([&](QMessageBox* box) {
        inspected = true;
        EXPECT_EQ(box->text(), QStringLiteral("open file failed"));
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->windowTitle(), QStringLiteral("播放器测试"));
        EXPECT_EQ(box->buttons().size(), 1);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
    ui::MessageBox(&dialog, "open file failed");
    EXPECT_TRUE(inspected);
    dialog.Destroy();
}

TEST(Frame, FileDialogTakesTheFilterAndAnswersNothingWhenCancelled) {
    bool inspected = false;
    InspectWhenOpen<QFileDialog>([&](QFileDialog* files) {
        inspected = true;
        EXPECT_EQ(files->nameFilters(), QStringList{QStringLiteral("MPEG4文件 (*.mp4)")});
        EXPECT_EQ(files->defaultSuffix(), QString());
        EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFile);
        files->reject();
    });
    ui::FileDialogRequest request;
    request.filter = "MPEG4文件|*.mp4||";
    request.default_extension = "*.*";
    EXPECT_EQ(ui::ShowFileOpenDialog(request), std::nullopt);
    EXPECT_TRUE(inspected);
}

TEST(Frame, SystemMenuShowsTheAppendedEntriesAndSendsTheirCommand) {
    RecordingDialog dialog(102);
    dialog.Create();
    dialog.AppendSystemMenuSeparator();
    dialog.AppendSystemMenuItem(16, "关于 Varnel(&A)...");
    QWidget* window = Widget(dialog, 1008)->window();
    bool inspected = false;
    InspectWhenOpen<QMenu>([&](QMenu* menu) {
        inspected = true;
        const QList<QAction*> actions = menu->actions();
        ASSERT_GE(actions.size(), 2);
        EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
        EXPECT_EQ(actions.back()->text(), QStringLiteral("关于 Varnel(&A)..."));
        actions.back()->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), window->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(window, &event);
    EXPECT_TRUE(inspected);
    EXPECT_EQ(dialog.sys_commands, std::vector<unsigned>{16});
    dialog.Destroy();
}

TEST(Frame, ControlsInsideAGroupBoxAreWhatTheMouseReaches) {
    RecordingDialog dialog(129);
    dialog.Create();
    for (int id : {1013, 1014, 1015, 1017, 1020, 1039, 1024, 1025}) {
        QWidget* control = Widget(dialog, id);
        QWidget* hit = control->window()->childAt(control->geometry().center());
        while (hit != nullptr && hit->parentWidget() != control->window()) hit = hit->parentWidget();
        EXPECT_EQ(hit, control) << id;
    }
    dialog.Destroy();
}

TEST(Screenshots, SavesEveryDialogAtItsSize) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("varnel-shots-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto scenes = screenshots::TemplateScenes();
    EXPECT_EQ(screenshots::SaveScenes(scenes, folder.string()), 0);
    for (const auto& scene : scenes) {
        const QImage image(QString::fromStdString((folder / scene.file_name).string()));
        EXPECT_FALSE(image.isNull()) << scene.file_name;
        RecordingDialog dialog(std::stoi(scene.file_name.substr(7, 3)));
        dialog.Create();
        EXPECT_EQ(image.size(), Widget(dialog, dialog.TemplateId() == 100 ? 1 : 1003)->window()->size());
        dialog.Destroy();
    }
    EXPECT_NE(screenshots::SaveScenes(scenes, (folder / "missing" / "deeper").string()), 0)
        << "a folder that does not exist is an error";
    std::filesystem::remove_all(folder);
}

}  // namespace
