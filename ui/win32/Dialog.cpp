// The dialogs on Win32: a DLGTEMPLATEEX built in memory from the template,
// the system's own controls, dialog units and dialog manager.

#include "ui/win32/DialogImpl.h"  // before the system headers

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "ui/Calendar.h"
#include "ui/win32/Text.h"

namespace ui {

using detail::Utf8;
using detail::Wide;
using res::ControlKind;

namespace {

std::atomic<bool> g_manual_timers{false};

constexpr const wchar_t* kTemplateProperty = L"varnel.template";
// Set on a trackbar while it handles the loss of the mouse capture.
constexpr const wchar_t* kGivingUpCaptureProperty = L"varnel.giving-up-capture";

// The in-memory template: words, aligned as the dialog manager reads them.
class TemplateWriter {
public:
    void Word(WORD value) { bytes_.push_back(value); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Text(const std::string& text) {
        for (wchar_t c : Wide(text)) Word(static_cast<WORD>(c));
        Word(0);
    }
    void AlignDword() {
        if (bytes_.size() % 2 != 0) Word(0);
    }
    const DLGTEMPLATE* Data() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

private:
    std::vector<WORD> bytes_;  // vector storage is suitably aligned for DWORDs
};

struct ControlClass {
    const char* name;
    DWORD style;
};

ControlClass ClassOf(const res::ControlTemplate& control) {
    const std::uint32_t s = control.style;
    switch (control.kind) {
        case ControlKind::PushButton:
            return {"BUTTON", static_cast<DWORD>((s & res::kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON)};
        case ControlKind::PushToggle: return {"BUTTON", BS_AUTOCHECKBOX | BS_PUSHLIKE};
        case ControlKind::CheckBox: return {"BUTTON", BS_AUTOCHECKBOX};
        case ControlKind::GroupBox: return {"BUTTON", BS_GROUPBOX};
        case ControlKind::Label: return {"STATIC", static_cast<DWORD>(SS_LEFT | ((s & res::kNoPrefix) ? SS_NOPREFIX : 0))};
        case ControlKind::Icon: return {"STATIC", SS_ICON | SS_CENTERIMAGE};
        case ControlKind::Edit:
            return {"EDIT", static_cast<DWORD>(((s & res::kReadOnly) ? ES_READONLY : 0) |
                                               ((s & res::kDigitsOnly) ? ES_NUMBER : 0) |
                                               ((s & res::kAutoHScroll) ? ES_AUTOHSCROLL : 0))};
        case ControlKind::DropDown: return {"COMBOBOX", CBS_DROPDOWNLIST};
        case ControlKind::DatePicker:
            return {DATETIMEPICK_CLASSA, static_cast<DWORD>(DTS_SHORTDATEFORMAT |
                                                             ((s & res::kCalendarRight) ? DTS_RIGHTALIGN : 0))};
        case ControlKind::TimePicker: return {DATETIMEPICK_CLASSA, DTS_TIMEFORMAT | DTS_UPDOWN};
        case ControlKind::ReportList:
            return {WC_LISTVIEWA, static_cast<DWORD>(LVS_REPORT | ((s & res::kSingleSel) ? LVS_SINGLESEL : 0) |
                                                      ((s & res::kShowSelAlways) ? LVS_SHOWSELALWAYS : 0) |
                                                      ((s & res::kNoSortHeader) ? LVS_NOSORTHEADER : 0))};
        case ControlKind::Trackbar:
            return {TRACKBAR_CLASSA, static_cast<DWORD>(TBS_HORZ | ((s & res::kAutoTicks) ? TBS_AUTOTICKS : 0))};
        case ControlKind::ProgressBar: return {PROGRESS_CLASSA, 0};
        case ControlKind::Picture: return {"STATIC", SS_BLACKFRAME};
    }
    return {"STATIC", 0};
}

// Window and extended styles every kind shares, from the template's flags.
void CommonStyles(const res::ControlTemplate& control, DWORD& style, DWORD& ex_style) {
    const std::uint32_t s = control.style;
    style |= WS_CHILD;
    if (!(s & res::kHidden)) style |= WS_VISIBLE;
    if (s & res::kDisabled) style |= WS_DISABLED;
    if (s & res::kTabStop) style |= WS_TABSTOP;
    if (s & res::kVScroll) style |= WS_VSCROLL;
    if (s & res::kSunken) ex_style |= WS_EX_CLIENTEDGE;
    if (s & res::kBorder) {
        // Edit boxes and lists draw the sunken edge of three-dimensional dialogs.
        if (control.kind == ControlKind::Edit || control.kind == ControlKind::ReportList) ex_style |= WS_EX_CLIENTEDGE;
        else style |= WS_BORDER;
    }
}

TemplateWriter BuildTemplate(const res::DialogTemplate& tmpl) {
    TemplateWriter w;
    DWORD style = WS_POPUP | DS_SETFONT | DS_3DLOOK;
    if (tmpl.style & res::kCaption) style |= WS_CAPTION;
    if (tmpl.style & res::kSysMenu) style |= WS_SYSMENU;
    if (tmpl.style & res::kMinimizeBox) style |= WS_MINIMIZEBOX;
    if (tmpl.style & res::kModalFrame) style |= DS_MODALFRAME;
    const DWORD ex_style = (tmpl.style & res::kAppWindow) ? WS_EX_APPWINDOW : 0;
    w.Word(1);
    w.Word(0xFFFF);
    w.Dword(0);
    w.Dword(ex_style);
    w.Dword(style);
    w.Word(static_cast<WORD>(tmpl.controls.size()));
    w.Word(0);
    w.Word(0);
    w.Word(static_cast<WORD>(tmpl.cx));
    w.Word(static_cast<WORD>(tmpl.cy));
    w.Word(0);  // no menu
    w.Word(0);  // the standard dialog class
    w.Text(tmpl.title);
    w.Word(static_cast<WORD>(tmpl.point_size));
    w.Word(FW_NORMAL);
    w.Word(MAKEWORD(FALSE, GB2312_CHARSET));
    w.Text(tmpl.font_face);
    for (const res::ControlTemplate& control : tmpl.controls) {
        w.AlignDword();
        ControlClass kind = ClassOf(control);
        DWORD item_style = kind.style;
        DWORD item_ex_style = 0;
        CommonStyles(control, item_style, item_ex_style);
        w.Dword(0);
        w.Dword(item_ex_style);
        w.Dword(item_style);
        w.Word(static_cast<WORD>(control.x));
        w.Word(static_cast<WORD>(control.y));
        w.Word(static_cast<WORD>(control.cx));
        w.Word(static_cast<WORD>(control.cy));
        w.Dword(static_cast<DWORD>(control.id));
        w.Text(kind.name);
        // Icons get their image after creation; their text names no resource.
        w.Text(control.kind == ControlKind::Icon ? std::string() : control.text);
        w.Word(0);
    }
    return w;
}

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* impl = reinterpret_cast<DialogAccess::State*>(lparam);
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        impl->window = window;
    }
    auto* impl = reinterpret_cast<DialogAccess::State*>(GetWindowLongPtrW(window, DWLP_USER));
    if (impl == nullptr || impl->window != window) return FALSE;
    return impl->Handle(message, wparam, lparam);
}

// Marks the trackbar while it gives up the mouse capture: some trackbars end
// a drag once more then, after the end they sent on the button's release.
LRESULT CALLBACK TrackbarProcedure(HWND bar, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
    if (message != WM_CAPTURECHANGED) return DefSubclassProc(bar, message, wparam, lparam);
    SetPropW(bar, kGivingUpCaptureProperty, reinterpret_cast<HANDLE>(1));
    const LRESULT result = DefSubclassProc(bar, message, wparam, lparam);
    RemovePropW(bar, kGivingUpCaptureProperty);
    return result;
}

SYSTEMTIME ToSystemTime(std::time_t value) {
    const std::tm local = LocalCalendar(value);
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(local.tm_year + 1900);
    time.wMonth = static_cast<WORD>(local.tm_mon + 1);
    time.wDay = static_cast<WORD>(local.tm_mday);
    time.wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time.wHour = static_cast<WORD>(local.tm_hour);
    time.wMinute = static_cast<WORD>(local.tm_min);
    time.wSecond = static_cast<WORD>(local.tm_sec);
    return time;
}

// The days a signed 32-bit count of seconds holds, as the date pickers offer them.
constexpr SYSTEMTIME kFirstPickerDay{1970, 1, 4, 1, 0, 0, 0, 0};
constexpr SYSTEMTIME kLastPickerDay{2038, 1, 1, 18, 23, 59, 59, 999};

bool DayBefore(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return std::tie(a.wYear, a.wMonth, a.wDay) < std::tie(b.wYear, b.wMonth, b.wDay);
}

bool IsButton(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::PushToggle || kind == ControlKind::CheckBox;
}

}  // namespace

void detail::SetManualTimers(bool manual) { g_manual_timers = manual; }
bool detail::ManualTimers() { return g_manual_timers; }

// ---------------------------------------------------------------------------
// Mailbox.

void detail::PostBox::Attach(HWND window) {
    std::lock_guard lock(mutex_);
    window_ = window;
}

void detail::PostBox::Detach() {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
    tasks_.clear();
}

bool detail::PostBox::Post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    if (window_ == nullptr) return false;
    tasks_.push_back(std::move(task));
    PostMessageW(window_, kTaskMessage, 0, 0);
    return true;
}

std::function<void()> detail::PostBox::Take() {
    std::lock_guard lock(mutex_);
    if (tasks_.empty()) return {};
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    return task;
}

// ---------------------------------------------------------------------------
// The dialog's state and its messages.

Dialog::Impl::Impl(Dialog& self, int template_id, Dialog* parent)
    : self(self),
      template_id(template_id),
      parent(parent),
      tmpl(res::DialogById(template_id)),
      posts(std::make_shared<detail::PostBox>()) {}

const res::ControlTemplate* Dialog::Impl::Control(int id) const {
    for (const res::ControlTemplate& control : tmpl.controls)
        if (control.id == id) return &control;
    return nullptr;
}

HWND Dialog::Impl::Item(int id, const char* what) const {
    HWND item = window != nullptr && Control(id) != nullptr ? GetDlgItem(window, id) : nullptr;
    // An error of the calling window that must not bring the program down.
    if (item == nullptr) std::fprintf(stderr, "ui: dialog %d has no %s control %d\n", template_id, what, id);
    return item;
}

void Dialog::Impl::StartTimer(unsigned id) {
    if (window == nullptr || detail::ManualTimers()) return;
    ::SetTimer(window, id, std::max(1u, timers[id]), nullptr);
}

INT_PTR Dialog::Impl::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            posts->Attach(window);
            // The template id travels with the handle, for diagnostics and test logs.
            SetPropW(window, kTemplateProperty, reinterpret_cast<HANDLE>(static_cast<intptr_t>(template_id)));
            // Children come in template order; icons have no id to be found by.
            HWND child = GetWindow(window, GW_CHILD);
            for (const res::ControlTemplate& control : tmpl.controls) {
                if (child == nullptr) break;
                if (control.kind == ControlKind::DropDown) {
                    for (const std::string& text : control.items)
                        SendMessageW(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
                } else if (control.kind == ControlKind::DatePicker) {
                    SYSTEMTIME range[2] = {kFirstPickerDay, kLastPickerDay};
                    SendMessageW(child, DTM_SETRANGE, GDTR_MIN | GDTR_MAX, reinterpret_cast<LPARAM>(range));
                } else if (control.kind == ControlKind::Trackbar) {
                    SetWindowSubclass(child, &TrackbarProcedure, 0, 0);
                } else if (control.kind == ControlKind::Icon) {
                    if (HICON icon = detail::IconById(std::atoi(control.text.c_str()), 32))
                        SendMessageW(child, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
                }
                child = GetWindow(child, GW_HWNDNEXT);
            }
            for (const auto& [id, period] : timers) StartTimer(id);
            const bool default_focus = DialogAccess::InitDialog(self);
            return default_focus ? TRUE : FALSE;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wparam);
            const int code = HIWORD(wparam);
            if (id == IDOK || id == IDCANCEL) {
                if (code == BN_CLICKED || code == 1) {
                    if (id == IDOK) DialogAccess::Ok(self);
                    else DialogAccess::Cancel(self);
                }
                return TRUE;
            }
            const res::ControlTemplate* control = Control(id);
            if (control != nullptr && IsButton(control->kind) && code == BN_CLICKED) DialogAccess::Command(self, id);
            return TRUE;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lparam);
            const res::ControlTemplate* control = Control(static_cast<int>(header->idFrom));
            if (control == nullptr || control->kind != ControlKind::ReportList) return FALSE;
            const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(lparam);
            if (header->code == NM_DBLCLK) {
                DialogAccess::ListDoubleClick(self, control->id);
            } else if (header->code == NM_CLICK && activate->iItem < 0) {
                // A click on empty space leaves no row selected.
                self.ListSelectRow(control->id, -1);
            }
            return FALSE;
        }
        case WM_HSCROLL: {
            HWND bar = reinterpret_cast<HWND>(lparam);
            if (bar == nullptr) return FALSE;
            const int code = LOWORD(wparam);
            const int id = GetDlgCtrlID(bar);
            // One end of a drag is all the window hears; an end of its own,
            // such as a key's at the end of the range, always reaches it.
            const bool repeated_end = code == TB_ENDTRACK && last_scroll_code[id] == TB_ENDTRACK &&
                                      GetPropW(bar, kGivingUpCaptureProperty) != nullptr;
            last_scroll_code[id] = code;
            if (!repeated_end) DialogAccess::HScroll(self, code, id);
            return TRUE;
        }
        case WM_PAINT:
            if (!IsIconic(window) || icon_big == 0) return FALSE;
            PaintMinimised();
            return TRUE;
        case WM_QUERYDRAGICON:
            // The picture dragged for the minimised window: its big icon.
            return reinterpret_cast<INT_PTR>(icon_big != 0 ? detail::IconById(icon_big, 32) : nullptr);
        case WM_TIMER: {
            const auto id = static_cast<unsigned>(wparam);
            if (timers.count(id) != 0) DialogAccess::Timer(self, id);
            return TRUE;
        }
        case WM_SYSCOMMAND: {
            default_sys_command = false;
            DialogAccess::SysCommand(self, static_cast<unsigned>(wparam));
            // FALSE hands the command to the dialog manager's own handling.
            const bool handled = !default_sys_command;
            default_sys_command = false;
            return handled ? TRUE : FALSE;
        }
        case detail::kTaskMessage: {
            const std::shared_ptr<detail::PostBox> box = posts;
            if (std::function<void()> task = box->Take()) task();
            return TRUE;
        }
        default:
            if (message >= WM_USER + 100 && message < WM_APP) {
                DialogAccess::Message(self, message, static_cast<intptr_t>(wparam), static_cast<intptr_t>(lparam));
                return TRUE;
            }
            return FALSE;
    }
}

void Dialog::Impl::PaintMinimised() {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    SendMessageW(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT client{};
    GetClientRect(window, &client);
    const IconOrigin at = CentredIconOrigin(client.right - client.left, client.bottom - client.top, cx, cy);
    if (HICON icon = detail::IconById(icon_big, cx)) DrawIcon(dc, at.x, at.y, icon);
    EndPaint(window, &paint);
}

void Dialog::Impl::TearDown() {
    if (window == nullptr) return;
    HWND gone = window;
    for (const auto& [id, period] : timers) ::KillTimer(gone, id);
    timers.clear();
    posts->Detach();
    posts = std::make_shared<detail::PostBox>();
    picker_values.clear();
    last_scroll_code.clear();
    system_menu.clear();
    icon_big = icon_small = 0;
    window = nullptr;
    RemovePropW(gone, kTemplateProperty);
    DestroyWindow(gone);
}

// ---------------------------------------------------------------------------
// Dialog.

Dialog::Dialog(int template_id, Dialog* parent)
    : impl_(std::make_unique<Impl>(*this, template_id, parent)) {}

Dialog::~Dialog() { impl_->TearDown(); }

int Dialog::DoModal() {
    HWND owner = impl_->parent != nullptr ? impl_->parent->impl_->window : nullptr;
    Create();
    if (!impl_->result.has_value() && impl_->window != nullptr) {
        // The owner takes no input while the dialog runs, as with the
        // system's own modal dialogs; its timers and messages still arrive.
        const bool owner_was_enabled = owner != nullptr && IsWindowEnabled(owner);
        if (owner_was_enabled) EnableWindow(owner, FALSE);
        MSG message;
        while (!impl_->result.has_value() && impl_->window != nullptr) {
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got <= 0) {
                if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            if (impl_->window != nullptr && IsDialogMessageW(impl_->window, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (owner_was_enabled) EnableWindow(owner, TRUE);
        if (owner != nullptr) SetActiveWindow(owner);
    }
    Destroy();
    return impl_->result.value_or(-1);
}

void Dialog::Create() {
    if (impl_->window != nullptr) return;
    impl_->result.reset();
    const TemplateWriter data = BuildTemplate(impl_->tmpl);
    HWND owner = impl_->parent != nullptr ? impl_->parent->impl_->window : nullptr;
    HWND window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), data.Data(), owner,
                                             &DialogProcedure, reinterpret_cast<LPARAM>(impl_.get()));
    if (window == nullptr) {
        std::fprintf(stderr, "ui: cannot create dialog %d (error %lu)\n", impl_->template_id,
                     static_cast<unsigned long>(GetLastError()));
        return;
    }
    if (impl_->window != nullptr && !impl_->result.has_value()) ShowWindow(window, SW_SHOW);
}

void Dialog::Destroy() {
    if (impl_->window == nullptr) return;
    OnDestroy();
    impl_->TearDown();
}

bool Dialog::IsCreated() const { return impl_->window != nullptr; }

void Dialog::EndDialog(int result) {
    impl_->result = result;
    if (impl_->window != nullptr) {
        ShowWindow(impl_->window, SW_HIDE);
        PostMessageW(impl_->window, WM_NULL, 0, 0);  // wakes the modal loop
    }
}

bool Dialog::IsEnded() const { return impl_->result.has_value(); }
int Dialog::Result() const { return impl_->result.value_or(-1); }

int Dialog::TemplateId() const { return impl_->template_id; }
std::string Dialog::Title() const { return impl_->tmpl.title; }

// Controls ------------------------------------------------------------------

void Dialog::ShowItem(int id, bool show) {
    if (HWND item = impl_->Item(id, "")) ShowWindow(item, show ? SW_SHOW : SW_HIDE);
}

bool Dialog::IsItemVisible(int id) const {
    HWND item = impl_->Item(id, "");
    return item != nullptr && (GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Dialog::EnableItem(int id, bool enable) {
    if (HWND item = impl_->Item(id, "")) EnableWindow(item, enable ? TRUE : FALSE);
}

bool Dialog::IsItemEnabled(int id) const {
    HWND item = impl_->Item(id, "");
    return item != nullptr && IsWindowEnabled(item);
}

void Dialog::SetItemText(int id, const std::string& text) {
    HWND item = impl_->Item(id, "text");
    if (item == nullptr) return;
    if (impl_->Control(id)->kind == ControlKind::DropDown) {
        const LRESULT found = SendMessageW(item, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(Wide(text).c_str()));
        SendMessageW(item, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
        return;
    }
    SetWindowTextW(item, Wide(text).c_str());
}

std::string Dialog::ItemText(int id) const {
    HWND item = impl_->Item(id, "text");
    if (item == nullptr) return {};
    if (impl_->Control(id)->kind == ControlKind::DropDown) {
        const LRESULT index = SendMessageW(item, CB_GETCURSEL, 0, 0);
        if (index < 0) return {};
        const LRESULT length = SendMessageW(item, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        SendMessageW(item, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<size_t>(std::max<LRESULT>(length, 0)));
        return Utf8(text);
    }
    return detail::WindowText(item);
}

void Dialog::SetCheck(int id, bool checked) {
    if (HWND item = impl_->Item(id, "button")) SendMessageW(item, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Dialog::IsChecked(int id) const {
    HWND item = impl_->Item(id, "button");
    return item != nullptr && SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Dialog::SetFocusItem(int id) {
    if (HWND item = impl_->Item(id, "")) SendMessageW(impl_->window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
}

int Dialog::FocusedItem() const {
    if (impl_->window == nullptr) return 0;
    for (HWND focus = GetFocus(); focus != nullptr && focus != impl_->window; focus = GetParent(focus)) {
        if (GetParent(focus) == impl_->window) {
            const int id = GetDlgCtrlID(focus);
            return impl_->Control(id) != nullptr && id != res::kNoId ? id : 0;
        }
    }
    return 0;
}

void Dialog::SelectAllText(int id) {
    if (HWND item = impl_->Item(id, "edit")) SendMessageW(item, EM_SETSEL, 0, -1);
}

void Dialog::SetTextLimit(int id, int characters) {
    if (HWND item = impl_->Item(id, "edit")) SendMessageW(item, EM_LIMITTEXT, characters > 0 ? characters : 32767, 0);
}

// Drop-down lists -----------------------------------------------------------

int Dialog::DropDownSelection(int id) const {
    HWND item = impl_->Item(id, "drop-down");
    return item != nullptr ? static_cast<int>(SendMessageW(item, CB_GETCURSEL, 0, 0)) : -1;
}

void Dialog::SetDropDownSelection(int id, int index) {
    if (HWND item = impl_->Item(id, "drop-down")) {
        const int count = static_cast<int>(SendMessageW(item, CB_GETCOUNT, 0, 0));
        SendMessageW(item, CB_SETCURSEL, static_cast<WPARAM>(index >= 0 && index < count ? index : -1), 0);
    }
}

int Dialog::DropDownCount(int id) const {
    HWND item = impl_->Item(id, "drop-down");
    return item != nullptr ? static_cast<int>(SendMessageW(item, CB_GETCOUNT, 0, 0)) : 0;
}

// Pickers -------------------------------------------------------------------

std::time_t Dialog::PickerTime(int id) const {
    HWND item = impl_->Item(id, "picker");
    if (item == nullptr) return 0;
    SYSTEMTIME shown{};
    SendMessageW(item, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&shown));
    const auto kept = impl_->picker_values.find(id);
    std::tm value = LocalCalendar(kept != impl_->picker_values.end() ? kept->second : 0);
    if (impl_->Control(id)->kind == ControlKind::DatePicker) {
        value.tm_year = shown.wYear - 1900;
        value.tm_mon = shown.wMonth - 1;
        value.tm_mday = shown.wDay;
    } else {
        value.tm_hour = shown.wHour;
        value.tm_min = shown.wMinute;
        value.tm_sec = shown.wSecond;
    }
    value.tm_isdst = -1;
    return LocalMoment(value);
}

void Dialog::SetPickerTime(int id, std::time_t value) {
    HWND item = impl_->Item(id, "picker");
    if (item == nullptr) return;
    impl_->picker_values[id] = value;
    SYSTEMTIME time = ToSystemTime(value);
    // A day beyond the range is shown as the nearest end of it, the time of day kept.
    if (impl_->Control(id)->kind == ControlKind::DatePicker) {
        const SYSTEMTIME* end = DayBefore(time, kFirstPickerDay)  ? &kFirstPickerDay
                                : DayBefore(kLastPickerDay, time) ? &kLastPickerDay
                                                                  : nullptr;
        if (end != nullptr) {
            time.wYear = end->wYear;
            time.wMonth = end->wMonth;
            time.wDay = end->wDay;
            time.wDayOfWeek = end->wDayOfWeek;
        }
    }
    SendMessageW(item, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&time));
}

// Seek bars -----------------------------------------------------------------

void Dialog::SetTrackRange(int id, int minimum, int maximum, bool redraw) {
    if (HWND item = impl_->Item(id, "trackbar")) {
        SendMessageW(item, TBM_SETRANGEMIN, FALSE, minimum);
        SendMessageW(item, TBM_SETRANGEMAX, redraw ? TRUE : FALSE, maximum);
    }
}

int Dialog::TrackMin(int id) const {
    HWND item = impl_->Item(id, "trackbar");
    return item != nullptr ? static_cast<int>(SendMessageW(item, TBM_GETRANGEMIN, 0, 0)) : 0;
}

int Dialog::TrackMax(int id) const {
    HWND item = impl_->Item(id, "trackbar");
    return item != nullptr ? static_cast<int>(SendMessageW(item, TBM_GETRANGEMAX, 0, 0)) : 0;
}

void Dialog::SetTrackPos(int id, int position) {
    if (HWND item = impl_->Item(id, "trackbar")) SendMessageW(item, TBM_SETPOS, TRUE, position);
}

int Dialog::TrackPos(int id) const {
    HWND item = impl_->Item(id, "trackbar");
    return item != nullptr ? static_cast<int>(SendMessageW(item, TBM_GETPOS, 0, 0)) : 0;
}

void Dialog::SetTrackLineSize(int id, int size) {
    if (HWND item = impl_->Item(id, "trackbar")) SendMessageW(item, TBM_SETLINESIZE, 0, size);
}

void Dialog::SetTrackPageSize(int id, int size) {
    if (HWND item = impl_->Item(id, "trackbar")) SendMessageW(item, TBM_SETPAGESIZE, 0, size);
}

int Dialog::TrackLineSize(int id) const {
    HWND item = impl_->Item(id, "trackbar");
    return item != nullptr ? static_cast<int>(SendMessageW(item, TBM_GETLINESIZE, 0, 0)) : 0;
}

int Dialog::TrackPageSize(int id) const {
    HWND item = impl_->Item(id, "trackbar");
    return item != nullptr ? static_cast<int>(SendMessageW(item, TBM_GETPAGESIZE, 0, 0)) : 0;
}

// Progress bars -------------------------------------------------------------

void Dialog::SetProgressRange(int id, int minimum, int maximum) {
    if (HWND item = impl_->Item(id, "progress")) SendMessageW(item, PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}

void Dialog::SetProgressPos(int id, int position) {
    if (HWND item = impl_->Item(id, "progress")) SendMessageW(item, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int Dialog::ProgressPos(int id) const {
    HWND item = impl_->Item(id, "progress");
    return item != nullptr ? static_cast<int>(SendMessageW(item, PBM_GETPOS, 0, 0)) : 0;
}

// Report-view lists ---------------------------------------------------------

void Dialog::ListInsertColumn(int id, int column, const std::string& header, int width_px) {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr) return;
    std::wstring text = Wide(header);
    LVCOLUMNW entry{};
    entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    entry.fmt = LVCFMT_LEFT;
    entry.cx = width_px;
    entry.pszText = text.data();
    entry.iSubItem = column;
    SendMessageW(item, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&entry));
}

int Dialog::ListColumnCount(int id) const {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr) return 0;
    HWND header = reinterpret_cast<HWND>(SendMessageW(item, LVM_GETHEADER, 0, 0));
    return header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string Dialog::ListColumnHeader(int id, int column) const {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr || column < 0 || column >= ListColumnCount(id)) return {};
    wchar_t text[256] = {};
    LVCOLUMNW entry{};
    entry.mask = LVCF_TEXT;
    entry.pszText = text;
    entry.cchTextMax = 255;
    SendMessageW(item, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&entry));
    return Utf8(text);
}

int Dialog::ListColumnWidth(int id, int column) const {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr || column < 0 || column >= ListColumnCount(id)) return 0;
    return static_cast<int>(SendMessageW(item, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

void Dialog::ListSetFullRowSelect(int id) {
    if (HWND item = impl_->Item(id, "list"))
        SendMessageW(item, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

int Dialog::ListRowCount(int id) const {
    HWND item = impl_->Item(id, "list");
    return item != nullptr ? static_cast<int>(SendMessageW(item, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

int Dialog::ListInsertRow(int id, int index, const std::string& text) {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr) return -1;
    std::wstring value = Wide(text);
    LVITEMW row{};
    row.mask = LVIF_TEXT;
    row.iItem = std::clamp(index, 0, ListRowCount(id));
    row.pszText = value.data();
    return static_cast<int>(SendMessageW(item, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
}

void Dialog::ListSetCell(int id, int row, int column, const std::string& text) {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr || column < 0 || row < 0 || row >= ListRowCount(id)) return;
    std::wstring value = Wide(text);
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = value.data();
    SendMessageW(item, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
}

std::string Dialog::ListCell(int id, int row, int column) const {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr || column < 0 || row < 0 || row >= ListRowCount(id)) return {};
    wchar_t text[1024] = {};
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = text;
    cell.cchTextMax = 1023;
    SendMessageW(item, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
    return Utf8(text);
}

void Dialog::ListDeleteAllRows(int id) {
    if (HWND item = impl_->Item(id, "list")) SendMessageW(item, LVM_DELETEALLITEMS, 0, 0);
}

int Dialog::ListSelectedRow(int id) const {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr) return -1;
    return static_cast<int>(SendMessageW(item, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void Dialog::ListSelectRow(int id, int row) {
    HWND item = impl_->Item(id, "list");
    if (item == nullptr) return;
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    if (row < 0 || row >= ListRowCount(id)) {
        state.stateMask = LVIS_SELECTED;
        SendMessageW(item, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
        return;
    }
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(item, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

// Timers --------------------------------------------------------------------

unsigned Dialog::SetTimer(unsigned id, unsigned milliseconds) {
    impl_->timers[id] = milliseconds;
    impl_->StartTimer(id);
    return id;
}

void Dialog::KillTimer(unsigned id) {
    if (impl_->timers.erase(id) == 0) return;
    if (impl_->window != nullptr) ::KillTimer(impl_->window, id);
}

bool Dialog::IsTimerArmed(unsigned id) const { return impl_->timers.count(id) != 0; }

std::vector<unsigned> Dialog::ArmedTimers() const {
    std::vector<unsigned> ids;
    for (const auto& [id, period] : impl_->timers) ids.push_back(id);
    return ids;
}

bool Dialog::FireTimer(unsigned id) {
    if (!IsTimerArmed(id)) return false;
    OnTimer(id);
    return true;
}

// Window handles ------------------------------------------------------------

PlayerWindowHandle Dialog::WindowHandle() { return reinterpret_cast<PlayerWindowHandle>(impl_->window); }

PlayerWindowHandle Dialog::ItemWindowHandle(int id) {
    return reinterpret_cast<PlayerWindowHandle>(impl_->Item(id, "window"));
}

std::shared_ptr<Mailbox> Dialog::GetMailbox() { return impl_->posts; }

// Frame ---------------------------------------------------------------------

void Dialog::AppendSystemMenuSeparator() {
    impl_->system_menu.push_back({0, {}});
    if (HMENU menu = impl_->window != nullptr ? GetSystemMenu(impl_->window, FALSE) : nullptr)
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

void Dialog::AppendSystemMenuItem(unsigned command, const std::string& text) {
    impl_->system_menu.push_back({command, text});
    if (HMENU menu = impl_->window != nullptr ? GetSystemMenu(impl_->window, FALSE) : nullptr)
        AppendMenuW(menu, MF_STRING, command, Wide(text).c_str());
}

std::vector<std::string> Dialog::SystemMenuItems() const {
    std::vector<std::string> texts;
    for (const SystemMenuItem& item : impl_->system_menu) texts.push_back(item.text);
    return texts;
}

void Dialog::SendSysCommand(unsigned command) {
    if (impl_->window != nullptr) SendMessageW(impl_->window, WM_SYSCOMMAND, command, 0);
}

void Dialog::DefaultSysCommand(unsigned /*command*/) { impl_->default_sys_command = true; }

void Dialog::SetIcon(int icon_id, bool big) {
    (big ? impl_->icon_big : impl_->icon_small) = icon_id;
    if (impl_->window == nullptr) return;
    if (HICON icon = detail::IconById(icon_id, big ? 32 : 16))
        SendMessageW(impl_->window, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

int Dialog::IconId(bool big) const { return big ? impl_->icon_big : impl_->icon_small; }

bool Dialog::IsMinimized() const { return impl_->window != nullptr && IsIconic(impl_->window); }

}  // namespace ui
