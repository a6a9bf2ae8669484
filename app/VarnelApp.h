// The application object and the process entry.
#pragma once

#include "player/Binding.h"

namespace local {
class CVarnelDlg;
}

namespace app {

// The one application object of the process. It keeps nothing but a pointer
// to the main window while that window runs.
class CVarnelApp {
public:
    // Keeps the command-line file, then creates the main window and runs it
    // modally; returns when it has closed. Returns false: the application
    // runs no message loop of its own afterwards.
    bool InitInstance(int argc, const char* const* argv);
    local::CVarnelDlg* MainWindow() const { return main_window_; }

private:
    local::CVarnelDlg* main_window_ = nullptr;
};

CVarnelApp& TheApp();

// Lends the main window what it takes from the shell: CmdLinePath, the
// about box and the remote window. InitInstance does this before it creates
// the window.
void InstallApplicationShell();

// The process entry: binds the player library, then runs the application.
// When the library cannot be loaded or lacks an entry point, prints the
// message on standard error, shows it in a message box when a display is
// there to show it, and returns 1. Otherwise returns 0 once the main window
// has closed.
int RunVarnel(int argc, char** argv, const char* library_name = player::kLibraryName);

}  // namespace app
