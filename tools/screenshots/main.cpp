// varnel-screenshots OUTDIR: saves a PNG of each dialog into OUTDIR.
// Runs on any Qt platform; with no display, QT_QPA_PLATFORM=offscreen.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "tools/screenshots/Scenes.h"
#include "ui/Dialog.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: varnel-screenshots OUTDIR\n");
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(argv[1], error);
    if (error) {
        std::fprintf(stderr, "varnel-screenshots: cannot create %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    int qt_argc = 1;
    ui::Application application(qt_argc, argv);
    return screenshots::SaveScenes(screenshots::TemplateScenes(), argv[1]) == 0 ? 0 : 1;
}
