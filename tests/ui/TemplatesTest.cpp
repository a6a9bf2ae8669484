// The templates hold every control of the three dialogs with its id, kind,
// caption, position and initial state, in template order; the dialogs built
// from them show that state.
#include <gtest/gtest.h>

#include <QPixmap>
#include <string>
#include <vector>

#include "res/Templates.h"
#include "tests/ui/RecordingDialog.h"
#include "ui/Testing.h"

namespace {

using res::ControlKind;
using K = res::ControlKind;

struct Expected {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;
    bool hidden;
    bool disabled;
};

const std::vector<Expected> kAboutBox = {
    {res::kNoId, K::Icon, "128", 11, 17, 20, 20, false, false},
    {res::kNoId, K::Label, "Varnel 1.0 版", 40, 10, 119, 8, false, false},
    {1, K::PushButton, "确定", 178, 7, 50, 14, false, false},
};

const std::vector<Expected> kPlayerWindow = {
    {1008, K::PushButton, "Open File", 351, 280, 44, 15, false, false},
    {1001, K::PushButton, "Play", 47, 318, 28, 16, false, true},
    {1002, K::PushButton, "Stop", 229, 318, 28, 16, false, true},
    {1003, K::Trackbar, "", 52, 298, 297, 16, false, true},
    {1004, K::Label, "00:00:00", 14, 301, 33, 8, false, false},
    {1005, K::Label, "00:00:00", 353, 301, 33, 8, false, false},
    {1000, K::Picture, "", 18, 7, 370, 270, false, false},
    {1007, K::Edit, "", 57, 282, 287, 12, false, false},
    {res::kNoId, K::Label, "File Name:", 13, 284, 41, 8, false, false},
    {1006, K::PushButton, "Paus", 82, 318, 28, 16, false, true},
    {1009, K::PushButton, "Step", 119, 318, 28, 16, false, true},
    {1010, K::PushButton, "Fast", 156, 318, 28, 16, false, true},
    {1011, K::PushButton, "Slow", 193, 318, 28, 16, false, true},
    {1012, K::PushButton, "远程回放", 355, 319, 40, 15, true, true},
    {1034, K::PushToggle, "Audio", 268, 318, 28, 16, false, true},
    {1038, K::PushButton, "Button1", 7, 313, 22, 21, false, false},
    {1035, K::PushToggle, "Cut", 306, 318, 28, 16, false, false},
};

const std::vector<Expected> kRemoteWindow = {
    {res::kNoId, K::Label, "服务器地址:", 80, 19, 45, 8, false, false},
    {1013, K::Edit, "", 129, 18, 94, 14, false, false},
    {res::kNoId, K::Label, "服务器端口:", 228, 19, 45, 8, false, false},
    {1014, K::Edit, "", 277, 18, 38, 14, false, false},
    {res::kNoId, K::Label, "通道:", 326, 20, 21, 8, false, false},
    {1015, K::DropDown, "", 347, 17, 40, 61, false, false},
    {res::kNoId, K::Label, "报警类型:", 428, 20, 45, 8, false, false},
    {1016, K::DropDown, "", 476, 17, 93, 61, false, false},
    {res::kNoId, K::Label, "开始时间:", 80, 41, 37, 8, false, false},
    {res::kNoId, K::Label, "结束时间:", 265, 42, 37, 8, false, false},
    {1017, K::DatePicker, "", 129, 40, 58, 13, false, false},
    {1018, K::TimePicker, "", 197, 40, 50, 13, false, false},
    {1019, K::DatePicker, "", 305, 40, 58, 13, false, false},
    {1020, K::TimePicker, "", 373, 40, 50, 13, false, false},
    {res::kNoId, K::GroupBox, "", 7, 7, 626, 50, false, false},
    {1021, K::ReportList, "", 7, 69, 298, 220, false, false},
    {res::kNoId, K::GroupBox, "", 7, 303, 299, 39, false, false},
    {1022, K::Label, "正在查找文件...", 13, 313, 86, 8, true, false},
    {1023, K::Label, "正在下载文件...", 13, 329, 148, 8, true, false},
    {1024, K::PushButton, "查找", 203, 317, 41, 16, false, false},
    {1025, K::PushButton, "下载", 256, 317, 41, 16, false, false},
    {1026, K::ProgressBar, "", 7, 349, 298, 10, true, false},
    {1027, K::Picture, "", 309, 69, 324, 219, false, false},
    {1003, K::Trackbar, "", 344, 298, 253, 16, false, true},
    {1004, K::Label, "00:00:00", 312, 301, 33, 8, true, false},
    {1005, K::Label, "00:00:00", 599, 301, 33, 8, true, false},
    {1028, K::PushButton, "Play", 319, 317, 28, 16, false, false},
    {1029, K::PushButton, "Stop", 501, 317, 28, 16, false, true},
    {1030, K::PushButton, "Paus", 354, 317, 28, 16, false, true},
    {1031, K::PushButton, "Step", 391, 317, 28, 16, false, true},
    {1032, K::PushButton, "Fast", 428, 317, 28, 16, false, true},
    {1033, K::PushButton, "Slow", 465, 317, 28, 16, false, true},
    {res::kNoId, K::Label, "文件类型:", 428, 40, 45, 8, false, false},
    {1034, K::DropDown, "", 476, 37, 93, 61, false, false},
    {1035, K::PushToggle, "Audio", 537, 317, 28, 16, false, true},
    {1036, K::Label, "正在建立缓冲", 319, 344, 158, 10, true, false},
    {res::kNoId, K::Label, "缓冲时间(1-20秒):", 492, 340, 69, 8, false, false},
    {1037, K::Edit, "", 563, 338, 34, 12, false, false},
    {1039, K::CheckBox, "时间限制", 15, 40, 48, 10, false, false},
    {1040, K::PushButton, "开始剪切", 574, 317, 46, 16, false, true},
};

struct Case {
    int template_id;
    const char* title;
    int cx, cy;
    const std::vector<Expected>* controls;
};

const Case kCases[] = {
    {100, "关于 Varnel", 235, 55, &kAboutBox},
    {102, "播放器测试", 402, 341, &kPlayerWindow},
    {129, "远程回放", 640, 399, &kRemoteWindow},
};

class TemplateTable : public ::testing::TestWithParam<Case> {};

TEST_P(TemplateTable, HoldsEveryControlInTemplateOrder) {
    const Case& c = GetParam();
    const res::DialogTemplate& t = res::DialogById(c.template_id);
    EXPECT_EQ(t.id, c.template_id);
    EXPECT_EQ(t.title, c.title);
    EXPECT_EQ(t.cx, c.cx);
    EXPECT_EQ(t.cy, c.cy);
    EXPECT_EQ(t.font_face, "宋体");
    EXPECT_EQ(t.point_size, 9);
    ASSERT_EQ(t.controls.size(), c.controls->size());
    for (std::size_t i = 0; i < t.controls.size(); ++i) {
        const res::ControlTemplate& got = t.controls[i];
        const Expected& want = (*c.controls)[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ((got.style & res::kHidden) != 0, want.hidden);
        EXPECT_EQ((got.style & res::kDisabled) != 0, want.disabled);
        EXPECT_EQ(got.style & res::kChecked, 0u) << "every check box and toggle starts unchecked";
    }
}

TEST_P(TemplateTable, BuiltDialogShowsTheInitialState) {
    const Case& c = GetParam();
    RecordingDialog dialog(c.template_id);
    dialog.Create();
    EXPECT_EQ(dialog.Title(), c.title);
    for (const Expected& want : *c.controls) {
        if (want.id == res::kNoId) continue;
        SCOPED_TRACE("id " + std::to_string(want.id));
        EXPECT_EQ(dialog.IsItemVisible(want.id), !want.hidden);
        EXPECT_EQ(dialog.IsItemEnabled(want.id), !want.disabled);
        if (want.kind == K::Label || want.kind == K::PushButton || want.kind == K::PushToggle ||
            want.kind == K::CheckBox || want.kind == K::Edit) {
            EXPECT_EQ(dialog.ItemText(want.id), want.text);
        }
        if (want.kind == K::PushToggle || want.kind == K::CheckBox) {
            EXPECT_FALSE(dialog.IsChecked(want.id));
        }
    }
    dialog.Destroy();
}

INSTANTIATE_TEST_SUITE_P(Dialogs, TemplateTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return "Template" + std::to_string(info.param.template_id); });

TEST(Templates, StylesThatTheWindowsRelyOn) {
    const auto style_of = [](int template_id, int id) {
        for (const auto& control : res::DialogById(template_id).controls) {
            if (control.id == id) return control.style;
        }
        ADD_FAILURE() << "no control " << id;
        return 0u;
    };
    EXPECT_TRUE(style_of(100, 1) & res::kDefaultButton);
    EXPECT_TRUE(style_of(102, 1007) & res::kReadOnly);
    EXPECT_TRUE(style_of(102, 1003) & res::kAutoTicks);
    EXPECT_TRUE(style_of(129, 1003) & res::kAutoTicks);
    EXPECT_TRUE(style_of(129, 1014) & res::kDigitsOnly);
    EXPECT_TRUE(style_of(129, 1037) & res::kDigitsOnly);
    EXPECT_FALSE(style_of(129, 1013) & res::kDigitsOnly);
    EXPECT_TRUE(style_of(129, 1021) & res::kSingleSel);
    EXPECT_TRUE(style_of(129, 1021) & res::kShowSelAlways);
    EXPECT_TRUE(style_of(129, 1021) & res::kNoSortHeader);
    EXPECT_TRUE(style_of(129, 1017) & res::kCalendarRight);
    EXPECT_TRUE(style_of(129, 1027) & res::kSunken);
    EXPECT_TRUE(style_of(102, 1000) & res::kBorder);
    EXPECT_TRUE(res::DialogById(102).style & res::kMinimizeBox);
    EXPECT_FALSE(res::DialogById(129).style & res::kMinimizeBox);
    for (const auto& control : res::DialogById(100).controls) {
        if (control.kind == K::Label) {
            EXPECT_TRUE(control.style & res::kNoPrefix);
        }
    }
}

TEST(Templates, RemoteWindowHasNoAcceptOrCancelButton) {
    for (const auto& control : res::DialogById(129).controls) {
        EXPECT_NE(control.id, ui::IDOK);
        EXPECT_NE(control.id, ui::IDCANCEL);
    }
}

TEST(Templates, DropDownItemsInOrderAndNoSelection) {
    RecordingDialog dialog(129);
    dialog.Create();
    const std::vector<std::pair<int, std::vector<std::string>>> lists = {
        {1015, {"1", "2", "3", "4"}},
        {1016, {"全部", "定时录像", "移动侦测", "报警触发"}},
        {1034, {"MPEG4文件", "JPEG文件"}},
    };
    for (const auto& [id, items] : lists) {
        SCOPED_TRACE(id);
        ASSERT_EQ(dialog.DropDownCount(id), static_cast<int>(items.size()));
        EXPECT_EQ(dialog.DropDownSelection(id), -1);
        for (int i = 0; i < static_cast<int>(items.size()); ++i) {
            dialog.SetDropDownSelection(id, i);
            EXPECT_EQ(dialog.DropDownSelection(id), i);
            EXPECT_EQ(dialog.ItemText(id), items[static_cast<std::size_t>(i)]);
        }
    }
    dialog.Destroy();
}

TEST(Templates, StringTableAndIcon) {
    EXPECT_EQ(res::StringById(101), "关于 Varnel(&A)...");
    EXPECT_EQ(res::StringById(102), "");
    ASSERT_NE(res::IconXpmById(128), nullptr);
    EXPECT_EQ(res::IconXpmById(129), nullptr);
    const QPixmap big(res::IconXpmById(128));
    EXPECT_EQ(big.size(), QSize(32, 32));
    const QPixmap small(res::SmallIconXpmById(128));
    EXPECT_EQ(small.size(), QSize(16, 16));
}

}  // namespace
