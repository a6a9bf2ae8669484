// Test helpers of the Qt backend alone, for the tests of the layer itself
// and of our own library's pictures; the shared helpers are ui/Testing.h.
#pragma once

#include <QImage>
#include <QWidget>
#include <string>

#include "ui/Testing.h"

namespace ui::testing {

// Creates the application object once per process (the offscreen platform
// when no other is set); the test main does this before any test.
void EnsureApplication();

// The control's widget, nullptr when the dialog has none with that id.
QWidget* Widget(Dialog& dialog, int id);

// The picture last presented to a picture area, null when none.
QImage PresentedPicture(Dialog& dialog, int id);
// Saves the dialog as it is drawn now.
bool ScreenshotPng(Dialog& dialog, const std::string& path);

}  // namespace ui::testing
