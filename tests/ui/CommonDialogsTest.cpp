// The message box and file-open dialog replacements, and the conversions of
// the file dialog's filter and default extension.
#include <gtest/gtest.h>

#include "tests/ui/RecordingDialog.h"
#include "ui/CommonDialogs.h"
#include "ui/qt/CommonDialogs.h"
#include "ui/Testing.h"

namespace {

using namespace ui::testing;

TEST(MessageBox, SinkGetsTheTextAndNothingBlocks) {
    MessageBoxes boxes;
    RecordingDialog dialog(102);
    dialog.Create();
    ui::MessageBox(&dialog, "open file failed");
    ui::MessageBox(nullptr, "net play failed\n");
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"open file failed", "net play failed\n"}));
    dialog.Destroy();
}

TEST(FileDialog, ScriptAnswersInOrderAndKeepsTheRequests) {
    FileDialogScript files({"/videos/a.mp4", std::nullopt});
    ui::FileDialogRequest request;
    request.filter = "MPEG4文件|*.mp4||";
    request.default_extension = "*.*";
    EXPECT_EQ(ui::ShowFileOpenDialog(request), std::optional<std::string>("/videos/a.mp4"));
    EXPECT_EQ(ui::ShowFileOpenDialog(request), std::nullopt);
    EXPECT_EQ(ui::ShowFileOpenDialog(request), std::nullopt) << "cancelled once the answers run out";
    ASSERT_EQ(files.Requests().size(), 3u);
    EXPECT_EQ(files.Requests()[0].filter, "MPEG4文件|*.mp4||");
    EXPECT_EQ(files.Requests()[0].initial_name, "");
}

TEST(FileDialog, FilterAndSuffixConversions) {
    using ui::detail::DefaultSuffix;
    using ui::detail::FileDialogFilter;
    EXPECT_EQ(FileDialogFilter("MPEG4文件|*.mp4||"), QStringLiteral("MPEG4文件 (*.mp4)"));
    EXPECT_EQ(FileDialogFilter("Video|*.mp4;*.avi|All|*.*||"),
              QStringLiteral("Video (*.mp4 *.avi);;All (*.*)"));
    EXPECT_EQ(FileDialogFilter(""), QString());
    EXPECT_EQ(FileDialogFilter("dangling|"), QStringLiteral("dangling ()"));
    EXPECT_EQ(DefaultSuffix("*.*"), "");
    EXPECT_EQ(DefaultSuffix("*.mp4"), "mp4");
    EXPECT_EQ(DefaultSuffix("mp4"), "mp4");
    EXPECT_EQ(DefaultSuffix(""), "");
}

}  // namespace
