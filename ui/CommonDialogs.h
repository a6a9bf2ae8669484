// Inside the windowing layer: what its backends' message box and file-open
// dialog share, with no toolkit in it.
#pragma once

#include <string>

#include "ui/Dialog.h"

namespace ui::detail {

// The replacement a test has installed; empty when none is.
MessageBoxSink InstalledMessageBoxSink();
FileDialogAnswer InstalledFileDialogAnswer();

// The suffix the file-open dialog appends to a name typed without one:
// "*.mp4", ".mp4" and "mp4" give "mp4"; "*.*", "*" and "" give none.
std::string DefaultSuffix(const std::string& extension);

}  // namespace ui::detail
