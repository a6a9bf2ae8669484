#include "app/VarnelApp.h"

#include <cstdio>
#include <string>

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

bool CVarnelApp::InitInstance(int argc, const char* const* argv) {
    // The platform's controls and their drawing need no switching on here.
    StoreCommandLine(argc, argv);
#ifdef VARNEL_WITH_REMOTE
    // The main window's (hidden) remote button runs the remote window modally.
    local::SetRemotePlaybackRunner([] { remote::RunRemotePlaybackWindow(); });
#endif
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
    ui::Application platform(argc, argv);  // takes out the toolkit's own options
    TheApp().InitInstance(argc, argv);
    return 0;
}

}  // namespace app
