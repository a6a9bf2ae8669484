// Saves a dialog as it is drawn now, for the screenshot tool and tests.
#pragma once

#include <string>

#include "ui/Dialog.h"

namespace ui {

// Writes the dialog's client area as a PNG file; false when the dialog is
// not created or the file cannot be written.
bool SaveWindowPng(Dialog& dialog, const std::string& path);

}  // namespace ui
