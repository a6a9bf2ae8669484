// The position display and seek bar that both player windows share: the
// elapsed label 1004 and the seek bar 1003 follow the play position, and
// moving the bar seeks. There is one implementation; each window passes its
// own dialog, its current handle and its own SeekDragging flag.
//
// How a player window uses it:
//   - when play starts:  SetUpSeekBar(*this, PlayerGetTotalTime(handle) / 1000);
//   - on each tick of its position timer:  RefreshPosition(*this, handle, seek_dragging_);
//   - in OnHScroll(code, control):
//         OnSeekBarScroll(*this, code, control, handle, seek_dragging_, check);
//     where check is HandleCheck::kNone for the main window (its bar is
//     enabled only while a file is open) and HandleCheck::kSkipWithoutHandle
//     for the remote window (it ignores the bar while no stream is open);
//     then the window's default scroll handling.
#pragma once

#include <cstdint>
#include <string>

#include "player/PlayerSdk.h"
#include "ui/Dialog.h"

namespace local {

inline constexpr int kSeekBarId = 1003;
inline constexpr int kElapsedLabelId = 1004;
inline constexpr int kTotalLabelId = 1005;

// A time in milliseconds as "HH:MM:SS"; whole days are dropped, so the
// hours wrap at 24. Always 8 characters.
std::string FormatHms(uint32_t milliseconds);

// Line and page size 1, range 0..largest_seconds, without an immediate redraw.
void SetUpSeekBar(ui::Dialog& window, uint32_t largest_seconds);

// One tick of the position timer: unless the user holds the thumb, asks the
// library for the play time of handle and shows it in the label and the bar;
// a total that has grown (a recording still being written) widens the bar
// and shows in the total label 1005.
void RefreshPosition(ui::Dialog& window, PlayerHandle handle, const int& seek_dragging);

enum class HandleCheck {
    kNone,               // act on the bar's notifications whatever the handle
    kSkipWithoutHandle,  // ignore them while handle is PLAYER_NO_HANDLE
};

// A horizontal-scroll notification (trackbar code, id of the sending
// control). Thumb dragged or released: the label shows the thumb's time and
// seek_dragging becomes 1. Movement ended: seeks to the bar's position (by
// time, or by fraction of the length when the library refuses the time) and
// seek_dragging becomes 0. Other codes and other controls change nothing;
// the caller runs its default scroll handling afterwards in every case.
void OnSeekBarScroll(ui::Dialog& window, int code, int control_id, PlayerHandle handle,
                     int& seek_dragging, HandleCheck check);

}  // namespace local
