// The dialog templates, string table and icons of the program, in dialog
// units, exactly as the windows expect to find them.
#include "res/Templates.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "res/Icons.h"

namespace res {
namespace {

using K = ControlKind;

// Styles shared by many controls.
constexpr std::uint32_t kButton = kTabStop;
constexpr std::uint32_t kDropDown = kTabStop | kVScroll;
constexpr std::uint32_t kSeekBar = kTabStop | kAutoTicks;

DialogTemplate AboutBox() {
    DialogTemplate t;
    t.id = 100;
    t.title = "关于 Varnel";
    t.cx = 235;
    t.cy = 55;
    t.font_face = "宋体";
    t.point_size = 9;
    t.style = kCaption | kSysMenu | kModalFrame;
    t.controls = {
        {kNoId, K::Icon, "128", 11, 17, 20, 20, 0, {}},
        {kNoId, K::Label, "Varnel 1.0 版", 40, 10, 119, 8, kNoPrefix, {}},
        {1, K::PushButton, "确定", 178, 7, 50, 14, kButton | kDefaultButton, {}},
    };
    return t;
}

DialogTemplate PlayerWindow() {
    DialogTemplate t;
    t.id = 102;
    t.title = "播放器测试";
    t.cx = 402;
    t.cy = 341;
    t.font_face = "宋体";
    t.point_size = 9;
    t.style = kCaption | kSysMenu | kMinimizeBox | kModalFrame | kVisible | kAppWindow;
    t.controls = {
        {1008, K::PushButton, "Open File", 351, 280, 44, 15, kButton, {}},
        {1001, K::PushButton, "Play", 47, 318, 28, 16, kButton | kDisabled, {}},
        {1002, K::PushButton, "Stop", 229, 318, 28, 16, kButton | kDisabled, {}},
        {1003, K::Trackbar, "", 52, 298, 297, 16, kSeekBar | kDisabled, {}},
        {1004, K::Label, "00:00:00", 14, 301, 33, 8, 0, {}},
        {1005, K::Label, "00:00:00", 353, 301, 33, 8, 0, {}},
        {1000, K::Picture, "", 18, 7, 370, 270, kBorder, {}},
        {1007, K::Edit, "", 57, 282, 287, 12, kTabStop | kReadOnly | kAutoHScroll | kBorder, {}},
        {kNoId, K::Label, "File Name:", 13, 284, 41, 8, 0, {}},
        {1006, K::PushButton, "Paus", 82, 318, 28, 16, kButton | kDisabled, {}},
        {1009, K::PushButton, "Step", 119, 318, 28, 16, kButton | kDisabled, {}},
        {1010, K::PushButton, "Fast", 156, 318, 28, 16, kButton | kDisabled, {}},
        {1011, K::PushButton, "Slow", 193, 318, 28, 16, kButton | kDisabled, {}},
        {1012, K::PushButton, "远程回放", 355, 319, 40, 15, kButton | kHidden | kDisabled, {}},
        {1034, K::PushToggle, "Audio", 268, 318, 28, 16, kButton | kDisabled, {}},
        {1038, K::PushButton, "Button1", 7, 313, 22, 21, kButton, {}},
        {1035, K::PushToggle, "Cut", 306, 318, 28, 16, kButton, {}},
    };
    return t;
}

DialogTemplate RemotePlaybackWindow() {
    DialogTemplate t;
    t.id = 129;
    t.title = "远程回放";
    t.cx = 640;
    t.cy = 399;
    t.font_face = "宋体";
    t.point_size = 9;
    t.style = kCaption | kSysMenu | kModalFrame;
    const std::uint32_t edit = kTabStop | kBorder;
    const std::uint32_t picker = kTabStop;
    t.controls = {
        {kNoId, K::Label, "服务器地址:", 80, 19, 45, 8, 0, {}},
        {1013, K::Edit, "", 129, 18, 94, 14, edit | kAutoHScroll, {}},
        {kNoId, K::Label, "服务器端口:", 228, 19, 45, 8, 0, {}},
        {1014, K::Edit, "", 277, 18, 38, 14, edit | kDigitsOnly, {}},
        {kNoId, K::Label, "通道:", 326, 20, 21, 8, 0, {}},
        {1015, K::DropDown, "", 347, 17, 40, 61, kDropDown, {"1", "2", "3", "4"}},
        {kNoId, K::Label, "报警类型:", 428, 20, 45, 8, 0, {}},
        {1016, K::DropDown, "", 476, 17, 93, 61, kDropDown, {"全部", "定时录像", "移动侦测", "报警触发"}},
        {kNoId, K::Label, "开始时间:", 80, 41, 37, 8, 0, {}},
        {kNoId, K::Label, "结束时间:", 265, 42, 37, 8, 0, {}},
        {1017, K::DatePicker, "", 129, 40, 58, 13, picker | kCalendarRight, {}},
        {1018, K::TimePicker, "", 197, 40, 50, 13, picker, {}},
        {1019, K::DatePicker, "", 305, 40, 58, 13, picker | kCalendarRight, {}},
        {1020, K::TimePicker, "", 373, 40, 50, 13, picker, {}},
        {kNoId, K::GroupBox, "", 7, 7, 626, 50, 0, {}},
        {1021, K::ReportList, "", 7, 69, 298, 220,
         kTabStop | kSingleSel | kShowSelAlways | kNoSortHeader | kBorder, {}},
        {kNoId, K::GroupBox, "", 7, 303, 299, 39, 0, {}},
        {1022, K::Label, "正在查找文件...", 13, 313, 86, 8, kHidden, {}},
        {1023, K::Label, "正在下载文件...", 13, 329, 148, 8, kHidden, {}},
        {1024, K::PushButton, "查找", 203, 317, 41, 16, kButton, {}},
        {1025, K::PushButton, "下载", 256, 317, 41, 16, kButton, {}},
        {1026, K::ProgressBar, "", 7, 349, 298, 10, kHidden | kBorder, {}},
        {1027, K::Picture, "", 309, 69, 324, 219, kSunken, {}},
        {1003, K::Trackbar, "", 344, 298, 253, 16, kSeekBar | kDisabled, {}},
        {1004, K::Label, "00:00:00", 312, 301, 33, 8, kHidden, {}},
        {1005, K::Label, "00:00:00", 599, 301, 33, 8, kHidden, {}},
        {1028, K::PushButton, "Play", 319, 317, 28, 16, kButton, {}},
        {1029, K::PushButton, "Stop", 501, 317, 28, 16, kButton | kDisabled, {}},
        {1030, K::PushButton, "Paus", 354, 317, 28, 16, kButton | kDisabled, {}},
        {1031, K::PushButton, "Step", 391, 317, 28, 16, kButton | kDisabled, {}},
        {1032, K::PushButton, "Fast", 428, 317, 28, 16, kButton | kDisabled, {}},
        {1033, K::PushButton, "Slow", 465, 317, 28, 16, kButton | kDisabled, {}},
        {kNoId, K::Label, "文件类型:", 428, 40, 45, 8, 0, {}},
        {1034, K::DropDown, "", 476, 37, 93, 61, kDropDown, {"MPEG4文件", "JPEG文件"}},
        {1035, K::PushToggle, "Audio", 537, 317, 28, 16, kButton | kDisabled, {}},
        {1036, K::Label, "正在建立缓冲", 319, 344, 158, 10, kHidden, {}},
        {kNoId, K::Label, "缓冲时间(1-20秒):", 492, 340, 69, 8, 0, {}},
        {1037, K::Edit, "", 563, 338, 34, 12, edit | kDigitsOnly, {}},
        {1039, K::CheckBox, "时间限制", 15, 40, 48, 10, kTabStop, {}},
        {1040, K::PushButton, "开始剪切", 574, 317, 46, 16, kButton | kDisabled, {}},
    };
    return t;
}

const std::map<int, DialogTemplate>& Templates() {
    static const std::map<int, DialogTemplate> templates = {
        {100, AboutBox()},
        {102, PlayerWindow()},
        {129, RemotePlaybackWindow()},
    };
    return templates;
}

}  // namespace

const DialogTemplate& DialogById(int id) {
    const auto& templates = Templates();
    const auto found = templates.find(id);
    if (found == templates.end()) {
        std::fprintf(stderr, "varnel: no dialog template %d\n", id);
        std::abort();
    }
    return found->second;
}

std::string StringById(int id) {
    if (id == 101) return "关于 Varnel(&A)...";
    return {};
}

const char* const* IconXpmById(int id) {
    if (id == 128) return kFilmCameraIcon32;
    return nullptr;
}

const char* const* SmallIconXpmById(int id) {
    if (id == 128) return kFilmCameraIcon16;
    return nullptr;
}

}  // namespace res
