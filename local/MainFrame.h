// The main window's frame duties that have nothing to do with playback: its
// system-menu entry for the about box, its icons, the single initialisation
// of the player library and the arming of the command-line open.
#pragma once

#include "ui/Dialog.h"

namespace local {

inline constexpr int kMainIconId = 128;
inline constexpr int kAboutMenuStringId = 101;
inline constexpr unsigned kAboutCommand = 0x10;
inline constexpr unsigned TIMER_OPEN_CMDLINE = 2;
inline constexpr unsigned kOpenCmdLineDelayMs = 200;

// Run by the main window when it initialises, after the dialog's default
// initialisation, in this order: the about entry (after a separator) in the
// system menu when string 101 is not empty; the big and then the small
// icon; PlayerInit; TIMER_OPEN_CMDLINE when command_line_path is not empty.
void InitMainFrame(ui::Dialog& window, int icon_id, const char* command_line_path);

// Whether a system command is the about entry: its low four bits carry no
// meaning and are masked off first.
constexpr bool IsAboutCommand(unsigned command) { return (command & 0xFFF0u) == kAboutCommand; }

}  // namespace local
