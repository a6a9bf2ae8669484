#include "app/VarnelApp.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/AboutDlg.h"
#include "app/CmdLine.h"
#include "local/VarnelDlg.h"
#include "player/Binding.h"
#include "ui/Dialog.h"

#ifdef VARNEL_WITH_REMOTE
#include "remote/DlgNetFile.h"
#endif

namespace app {
namespace {

void ReportBindingFailure(int argc, char** argv, const std::string& message) {
    std::fprintf(stderr, "varnel: %s\n", message.c_str());
    if (!ui::UserCanSeeWindows()) return;
    ui::Application platform(argc, argv);
    ui::MessageBox(nullptr, message);
}

}  // namespace

CVarnelApp& TheApp() {
    static CVarnelApp the_app;
    return the_app;
}

void InstallApplicationShell() {
    local::ApplicationShell shell;
    shell.command_line_path = CmdLinePath;
    shell.show_about_box = [](ui::Dialog& owner) { ShowAboutBox(&owner); };
#ifdef VARNEL_WITH_REMOTE
    // The main window's (hidden) remote button runs the remote window modally.
    shell.run_remote_playback = [] { remote::RunRemotePlaybackWindow(); };
#endif
    local::SetApplicationShell(std::move(shell));
}

bool CVarnelApp::InitInstance(int argc, const char* const* argv) {
    // The platform's controls and their drawing need no switching on here.
    StoreCommandLine(argc, argv);
    InstallApplicationShell();
    {
        local::CVarnelDlg dialog;
        main_window_ = &dialog;
        dialog.DoModal();  // how it was closed does not matter
        main_window_ = nullptr;
    }
    return false;
}

int RunVarnel(int argc, char** argv, const char* library_name) {
    // Nothing may call the library before its entry points are bound.
    const std::string failure = player::LoadLibrary(library_name);
    if (!failure.empty()) {
        ReportBindingFailure(argc, argv, failure);
        return 1;
    }
    // The toolkit takes the options it knows (-reverse, -style NAME...) out
    // of the list it is given; the window's file is argument 1 as the
    // process received it, so the start-up reads a copy made before.
    const std::vector<char*> arguments(argv, argv + argc);
    ui::Application platform(argc, argv);
    TheApp().InitInstance(static_cast<int>(arguments.size()), arguments.data());
    return 0;
}

}  // namespace app
