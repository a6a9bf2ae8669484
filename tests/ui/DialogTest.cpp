// Dialogs built from templates: placement in dialog units, clicks, toggles,
// edits, keyboard commands, lists, pickers, the frame.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <ctime>

#include "tests/ui/RecordingDialog.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/Testing.h"

namespace {

using namespace ui::testing;

TEST(DialogUnits, RoundToTheNearestPixel) {
    const ui::detail::DialogUnits units(7, 13);
    EXPECT_EQ(units.X(4), 7);
    EXPECT_EQ(units.X(3), 5);   // 5.25
    EXPECT_EQ(units.X(2), 4);   // 3.5 rounds up
    EXPECT_EQ(units.Y(8), 13);
    EXPECT_EQ(units.Y(3), 5);   // 4.875
    EXPECT_EQ(units.Y(1), 2);   // 1.625
    EXPECT_EQ(units.Rect(52, 298, 297, 16), QRect(91, 484, 520, 26));
}

TEST(DialogUnits, ControlsArePlacedFromTheDialogFontMetrics) {
    RecordingDialog dialog(102);
    dialog.Create();
    QWidget* seek_bar = Widget(dialog, 1003);
    ASSERT_NE(seek_bar, nullptr);
    // The base units, computed here independently from the dialog's font.
    const QFontMetrics metrics(seek_bar->window()->font());
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int base_x = (letters / 26 + 1) / 2;
    const int base_y = metrics.height();
    ASSERT_GT(base_x, 0);
    EXPECT_EQ(seek_bar->x(), 52 * base_x / 4);  // 52 dialog units, a whole number of pixels
    EXPECT_EQ(seek_bar->y(), (298 * base_y + 4) / 8);
    EXPECT_EQ(seek_bar->width(), (297 * base_x + 2) / 4);
    EXPECT_EQ(seek_bar->window()->width(), (402 * base_x + 2) / 4);
    EXPECT_EQ(seek_bar->window()->height(), (341 * base_y + 4) / 8);
    dialog.Destroy();
}

TEST(DialogFont, SongFaceStandsInForTheDialogFont) {
    RecordingDialog dialog(129);
    dialog.Create();
    const QFontInfo info(Widget(dialog, 1013)->window()->font());
    EXPECT_EQ(info.family(), QStringLiteral("AR PL UMing CN"));
    dialog.Destroy();
}

TEST(Dialog, DefaultFocusIsTheFirstTabStop) {
    RecordingDialog player(102);
    player.Create();
    EXPECT_EQ(player.FocusedItem(), 1008);
    player.Destroy();
    RecordingDialog remote(129);
    remote.Create();
    EXPECT_EQ(remote.FocusedItem(), 1013);
    remote.Destroy();
}

TEST(Dialog, PushToggleFlipsOnClickAndTheHandlerSeesTheNewState) {
    RecordingDialog dialog(102);
    dialog.Create();
    ASSERT_TRUE(Click(dialog, 1035));
    ASSERT_TRUE(Click(dialog, 1035));
    EXPECT_EQ(dialog.commands, (std::vector<int>{1035, 1035}));
    EXPECT_EQ(dialog.checked_at_command, (std::vector<bool>{true, false}));
    EXPECT_FALSE(dialog.IsChecked(1035));
    dialog.SetCheck(1035, true);
    EXPECT_TRUE(dialog.IsChecked(1035));
    EXPECT_EQ(dialog.commands.size(), 2u) << "setting the state is no click";
    dialog.Destroy();
}

TEST(Dialog, DisabledOrHiddenButtonsCannotBeClicked) {
    RecordingDialog dialog(102);
    dialog.Create();
    EXPECT_FALSE(Click(dialog, 1001));  // disabled
    EXPECT_FALSE(Click(dialog, 1012));  // hidden and disabled
    dialog.EnableItem(1001, true);
    EXPECT_TRUE(Click(dialog, 1001));
    EXPECT_EQ(dialog.commands, std::vector<int>{1001});
    dialog.ShowItem(1001, false);
    EXPECT_FALSE(dialog.IsItemVisible(1001));
    EXPECT_FALSE(Click(dialog, 1001));
    EXPECT_EQ(dialog.commands, std::vector<int>{1001});
    dialog.Destroy();
}

TEST(Dialog, CheckBoxClickReachesOnCommand) {
    RecordingDialog dialog(129);
    dialog.Create();
    ASSERT_TRUE(Click(dialog, 1039));
    EXPECT_TRUE(dialog.IsChecked(1039));
    EXPECT_EQ(dialog.commands, std::vector<int>{1039});
    dialog.Destroy();
}

TEST(Dialog, DigitsOnlyEditRefusesLetters) {
    RecordingDialog dialog(129);
    dialog.Create();
    ASSERT_TRUE(TypeText(dialog, 1014, "12ab3-4 "));
    EXPECT_EQ(dialog.ItemText(1014), "1234");
    ASSERT_TRUE(TypeText(dialog, 1013, "host.example"));
    EXPECT_EQ(dialog.ItemText(1013), "host.example") << "the address box takes any text";
    dialog.Destroy();
}

TEST(Dialog, TextLimitRefusesTheCharacterBeyondIt) {
    RecordingDialog dialog(129);
    dialog.Create();
    dialog.SetTextLimit(1013, 40);
    const std::string forty(40, '7');
    ASSERT_TRUE(TypeText(dialog, 1013, forty + "8"));
    EXPECT_EQ(dialog.ItemText(1013), forty);
    ASSERT_TRUE(TypeText(dialog, 1013, "远程"));
    EXPECT_EQ(dialog.ItemText(1013), "远程") << "typing replaces the whole text";
    dialog.Destroy();
}

TEST(Dialog, ReadOnlyEditTakesNoTyping) {
    RecordingDialog dialog(102);
    dialog.Create();
    dialog.SetItemText(1007, "/videos/a.mp4");
    TypeText(dialog, 1007, "x");
    EXPECT_EQ(dialog.ItemText(1007), "/videos/a.mp4");
    dialog.Destroy();
}

TEST(Dialog, EnterIsTheAcceptCommandAwayFromPushButtons) {
    RecordingDialog dialog(129);
    dialog.Create();
    ASSERT_EQ(dialog.FocusedItem(), 1013);
    ASSERT_TRUE(PressKey(dialog, Key::Enter));
    EXPECT_EQ(dialog.oks, 1);
    EXPECT_TRUE(dialog.IsEnded());
    EXPECT_EQ(dialog.Result(), ui::IDOK);
    dialog.Destroy();
}

TEST(Dialog, EnterOnAPushButtonClicksIt) {
    RecordingDialog dialog(102);
    dialog.Create();
    ASSERT_EQ(dialog.FocusedItem(), 1008);
    ASSERT_TRUE(PressKey(dialog, Key::Enter));
    EXPECT_EQ(dialog.commands, std::vector<int>{1008});
    EXPECT_EQ(dialog.oks, 0);
    EXPECT_FALSE(dialog.IsEnded());
    dialog.Destroy();
}

TEST(Dialog, EscapeAndTheCloseBoxAreTheCancelCommand) {
    RecordingDialog dialog(129);
    dialog.default_ok_cancel = false;  // the window decides to stay open
    dialog.Create();
    ASSERT_TRUE(PressKey(dialog, Key::Escape));
    EXPECT_EQ(dialog.cancels, 1);
    Widget(dialog, 1013)->window()->close();
    EXPECT_EQ(dialog.cancels, 2);
    EXPECT_FALSE(dialog.IsEnded());
    EXPECT_TRUE(Widget(dialog, 1013)->isVisible());
    dialog.default_ok_cancel = true;
    ASSERT_TRUE(PressKey(dialog, Key::Escape));
    EXPECT_TRUE(dialog.IsEnded());
    EXPECT_EQ(dialog.Result(), ui::IDCANCEL);
    dialog.Destroy();
}

TEST(Dialog, AboutBoxButtonIsTheAcceptCommand) {
    RecordingDialog dialog(100);
    dialog.Create();
    ASSERT_TRUE(Click(dialog, ui::IDOK));
    EXPECT_EQ(dialog.oks, 1);
    EXPECT_TRUE(dialog.commands.empty());
    EXPECT_EQ(dialog.Result(), ui::IDOK);
    dialog.Destroy();
}

TEST(Dialog, DestroyRunsOnDestroyWhileTheControlsExist) {
    RecordingDialog dialog(102);
    dialog.Create();
    dialog.Destroy();
    EXPECT_EQ(dialog.destroys, 1);
    EXPECT_EQ(dialog.text_seen_at_destroy, "Open File");
    EXPECT_FALSE(dialog.IsCreated());
    dialog.Destroy();
    EXPECT_EQ(dialog.destroys, 1);
}

TEST(Dialog, ModalRunEndsWithTheResultAndDestroys) {
    // The window is shown in its modal loop; a posted task ends it from there.
    struct Ender : RecordingDialog {
        Ender() : RecordingDialog(100) {}
        bool OnInitDialog() override {
            GetMailbox()->Post([this] { EndDialog(7); });
            return true;
        }
    } modal;
    EXPECT_EQ(modal.DoModal(), 7);
    EXPECT_EQ(modal.destroys, 1);
    EXPECT_FALSE(modal.IsCreated());
}

TEST(Dialog, ReportListColumnsRowsSelectionAndDoubleClick) {
    RecordingDialog dialog(129);
    dialog.Create();
    dialog.ListInsertColumn(1021, 0, "文件名", 138);
    dialog.ListInsertColumn(1021, 1, "文件大小(M)", 80);
    dialog.ListInsertColumn(1021, 2, "起始时间", 100);
    dialog.ListInsertColumn(1021, 3, "结束时间", 100);
    dialog.ListSetFullRowSelect(1021);
    ASSERT_EQ(dialog.ListColumnCount(1021), 4);
    EXPECT_EQ(dialog.ListColumnHeader(1021, 1), "文件大小(M)");
    EXPECT_EQ(dialog.ListColumnWidth(1021, 0), 138);
    EXPECT_EQ(dialog.ListColumnWidth(1021, 3), 100);
    EXPECT_EQ(dialog.ListSelectedRow(1021), -1);

    EXPECT_EQ(dialog.ListInsertRow(1021, 0, "a.mp4"), 0);
    EXPECT_EQ(dialog.ListInsertRow(1021, 5, "b.mp4"), 1) << "an index past the end appends";
    dialog.ListSetCell(1021, 1, 1, "12");
    EXPECT_EQ(dialog.ListCell(1021, 1, 0), "b.mp4");
    EXPECT_EQ(dialog.ListCell(1021, 1, 1), "12");
    EXPECT_EQ(dialog.ListRowCount(1021), 2);

    ASSERT_TRUE(SelectRow(dialog, 1021, 1));
    EXPECT_EQ(dialog.ListSelectedRow(1021), 1);
    EXPECT_TRUE(dialog.double_clicks.empty());
    ASSERT_TRUE(DoubleClickRow(dialog, 1021, 0));
    ASSERT_FALSE(dialog.double_clicks.empty());
    EXPECT_EQ(dialog.double_clicks.back(), 1021);
    EXPECT_EQ(dialog.selected_at_double_click.back(), 0);

    dialog.ListSelectRow(1021, -1);
    EXPECT_EQ(dialog.ListSelectedRow(1021), -1);
    dialog.ListDeleteAllRows(1021);
    EXPECT_EQ(dialog.ListRowCount(1021), 0);
    EXPECT_FALSE(DoubleClickRow(dialog, 1021, 0));
    dialog.Destroy();
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

TEST(Dialog, DatePickerKeepsTheTimeAndTimePickerTheDate) {
    RecordingDialog dialog(129);
    dialog.Create();
    const std::time_t value = LocalTime(2011, 3, 14, 23, 59, 59);
    dialog.SetPickerTime(1017, value);
    dialog.SetPickerTime(1020, value);
    EXPECT_EQ(dialog.PickerTime(1017), value);
    EXPECT_EQ(dialog.PickerTime(1020), value);
    EXPECT_EQ(dialog.ItemText(1017), "2011/3/14");
    EXPECT_EQ(dialog.ItemText(1020), "23:59:59");
    dialog.Destroy();
}

TEST(Dialog, ProgressAndSeekBarValues) {
    RecordingDialog dialog(129);
    dialog.Create();
    dialog.SetProgressRange(1026, 0, 100);
    dialog.SetProgressPos(1026, 42);
    EXPECT_EQ(dialog.ProgressPos(1026), 42);
    dialog.SetProgressPos(1026, 150);
    EXPECT_EQ(dialog.ProgressPos(1026), 100);
    dialog.SetTrackLineSize(1003, 1);
    dialog.SetTrackPageSize(1003, 1);
    dialog.SetTrackRange(1003, 0, 100, false);
    dialog.SetTrackPos(1003, 30);
    EXPECT_EQ(dialog.TrackPos(1003), 30);
    EXPECT_EQ(dialog.TrackLineSize(1003), 1);
    EXPECT_EQ(dialog.TrackPageSize(1003), 1);
    dialog.SetTrackRange(1003, 0, 0, false);
    EXPECT_EQ(dialog.TrackPos(1003), 0) << "a smaller range clamps the position";
    EXPECT_TRUE(dialog.scrolls.empty()) << "setting values sends no notification";
    dialog.Destroy();
}

TEST(Dialog, SystemMenuEntriesAndCommands) {
    RecordingDialog dialog(102);
    dialog.Create();
    dialog.AppendSystemMenuSeparator();
    dialog.AppendSystemMenuItem(16, "关于 Varnel(&A)...");
    EXPECT_EQ(dialog.SystemMenuItems(), (std::vector<std::string>{"", "关于 Varnel(&A)..."}));
    dialog.SendSysCommand(16);
    EXPECT_EQ(dialog.sys_commands, std::vector<unsigned>{16});
    EXPECT_FALSE(dialog.IsEnded()) << "an unknown command is ignored by default";
    dialog.SendSysCommand(ui::SC_CLOSE | 0x2);  // masked, it is the close command
    EXPECT_EQ(dialog.cancels, 1);
    EXPECT_EQ(dialog.Result(), ui::IDCANCEL);
    dialog.Destroy();
}

TEST(Dialog, IconsAndMinimising) {
    RecordingDialog dialog(102);
    dialog.Create();
    EXPECT_EQ(dialog.IconId(true), 0);
    dialog.SetIcon(128, true);
    dialog.SetIcon(128, false);
    EXPECT_EQ(dialog.IconId(true), 128);
    EXPECT_EQ(dialog.IconId(false), 128);
    EXPECT_FALSE(Widget(dialog, 1008)->window()->windowIcon().isNull());
    EXPECT_FALSE(dialog.IsMinimized());
    dialog.SendSysCommand(0xF020);
    EXPECT_TRUE(dialog.IsMinimized());
    dialog.Destroy();
}

TEST(Dialog, UnknownControlIdsAreHarmless) {
    RecordingDialog dialog(102);
    dialog.Create();
    dialog.SetItemText(4242, "x");
    dialog.EnableItem(4242, true);
    EXPECT_FALSE(dialog.IsItemVisible(4242));
    EXPECT_EQ(dialog.ItemText(4242), "");
    EXPECT_EQ(dialog.TrackPos(1008), 0) << "a button is no seek bar";
    EXPECT_EQ(dialog.ItemWindowHandle(4242), nullptr);
    dialog.Destroy();
}

}  // namespace
