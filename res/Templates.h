// Declarative dialog templates, in dialog units, as plain data. The windowing
// layer builds real dialogs from them; nothing here knows about any toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace res {

// Id of a control that is never addressed (labels, group boxes, icons).
inline constexpr int kNoId = -1;

enum class ControlKind {
    PushButton,   // a plain push button
    PushToggle,   // a check box drawn as a push button; flips its own state on a click
    CheckBox,     // an ordinary check box
    GroupBox,     // a frame with no title
    Label,        // static text
    Icon,         // an icon resource (the text holds its id, e.g. "128")
    Edit,         // single-line edit box
    DropDown,     // drop-down list, not editable; items below
    DatePicker,   // short date with a drop-down calendar
    TimePicker,   // time of day with spin buttons
    ReportList,   // report-view list with columns
    Trackbar,     // horizontal slider with tick marks
    ProgressBar,  // horizontal progress bar
    Picture,      // a framed area the player library draws into
};

// Control styles and initial states; combine with |.
enum Style : std::uint32_t {
    kHidden = 1u << 0,
    kDisabled = 1u << 1,
    kChecked = 1u << 2,
    kDefaultButton = 1u << 3,
    kTabStop = 1u << 4,
    kReadOnly = 1u << 5,
    kDigitsOnly = 1u << 6,
    kAutoHScroll = 1u << 7,
    kBorder = 1u << 8,
    kSunken = 1u << 9,
    kAutoTicks = 1u << 10,
    kNoPrefix = 1u << 11,       // a label's '&' is shown literally
    kVScroll = 1u << 12,
    kShowSelAlways = 1u << 13,  // a list keeps showing its selection without the focus
    kNoSortHeader = 1u << 14,   // list column headers do not react to clicks
    kSingleSel = 1u << 15,
    kCalendarRight = 1u << 16,  // a date picker's calendar is aligned to its right edge
};

struct ControlTemplate {
    int id = kNoId;
    ControlKind kind = ControlKind::Label;
    std::string text;  // UTF-8
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::uint32_t style = 0;
    std::vector<std::string> items;  // a drop-down's initial items, in order
};

enum DialogStyle : std::uint32_t {
    kCaption = 1u << 0,
    kSysMenu = 1u << 1,
    kMinimizeBox = 1u << 2,
    kModalFrame = 1u << 3,
    kVisible = 1u << 4,
    kAppWindow = 1u << 5,  // shown in the task bar
};

struct DialogTemplate {
    int id = 0;
    std::string title;  // UTF-8
    int cx = 0, cy = 0;  // dialog units
    std::string font_face;  // UTF-8, e.g. "宋体"
    int point_size = 9;
    std::uint32_t style = 0;
    std::vector<ControlTemplate> controls;  // template order, which is the tab order
};

// The dialog template with this id; aborts on an id that does not exist,
// since templates are compiled in.
const DialogTemplate& DialogById(int id);

// String table entry; empty when there is none.
std::string StringById(int id);

// Icon resource as XPM text lines (the format Qt and X read natively);
// nullptr when there is none.
const char* const* IconXpmById(int id);
// The same icon drawn for 16 x 16 pixels (title bars, task bars); nullptr
// when the icon has no small image.
const char* const* SmallIconXpmById(int id);

}  // namespace res
