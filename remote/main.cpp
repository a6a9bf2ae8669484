// varnel-remote: the remote playback window on its own. Loads the player
// library, initialises it once and runs the window until it is closed.
#include <cstdio>
#include <string>
#include <vector>

#include "player/Binding.h"
#include "remote/CommandLine.h"
#include "remote/DlgNetFile.h"
#include "ui/Dialog.h"

int main(int argc, char** argv) {
    // Nothing may call the library before its entry points are bound.
    if (const std::string problem = player::LoadLibrary(); !problem.empty()) {
        std::fprintf(stderr, "varnel-remote: %s\n", problem.c_str());
        // A desktop program has no console to print to: the user sees a box.
        if (ui::UserCanSeeWindows()) {
            ui::Application application(argc, argv);
            ui::MessageBox(nullptr, problem);
        }
        return 1;
    }
    ui::Application application(argc, argv);  // takes out the toolkit's own options
    remote::RemoteOptions options;
    std::string error;
    if (!remote::ParseRemoteCommandLine(std::vector<std::string>(argv + 1, argv + argc), options,
                                        error)) {
        std::fprintf(stderr, "varnel-remote: %s\n%s\n", error.c_str(), remote::kRemoteUsage);
        return 2;
    }
    player::PlayerInit();
    remote::RunRemotePlaybackWindow(options.address, options.search_and_play);
    return 0;
}
