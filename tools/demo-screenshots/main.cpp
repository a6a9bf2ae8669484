// varnel-demo-screenshots OUTDIR: saves PNGs of the real windows at work,
// on the real libPlayerSDK.so and a real recorder on 127.0.0.1:
//   main-playing.png      the main window playing a clip, two seconds in
//   remote-streaming.png  the remote window with a search's rows listed and
//                         one of them playing as a stream
// Runs on whatever platform Qt picks (offscreen when there is no display).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "RecorderProcess.h"
#include "local/PositionDisplay.h"
#include "local/VarnelDlg.h"
#include "player/Binding.h"
#include "remote/DlgNetFile.h"
#include "tests/e2e/E2eSupport.h"
#include "ui/qt/Testing.h"

namespace {

namespace fs = std::filesystem;
namespace t = ui::testing;
using namespace std::chrono_literals;

int Fail(const std::string& why) {
    std::fprintf(stderr, "varnel-demo-screenshots: %s\n", why.c_str());
    return 1;
}

bool SaveMainWindowPlaying(const e2e::Scratch& scratch, const fs::path& out) {
    const fs::path clip = scratch.path() / "clip.mp4";
    if (!e2e::MakeClip(clip, 10)) return false;
    t::MessageBoxes boxes;
    t::FileDialogScript files({clip.string()});
    local::CVarnelDlg window;
    window.Create();
    bool saved = t::Click(window, local::IDC_OPEN_FILE) &&
                 t::WaitUntil([&] { return window.ItemText(local::kElapsedLabelId) >= "00:00:02"; }, 60s) &&
                 t::ScreenshotPng(window, (out / "main-playing.png").string());
    window.Destroy();
    for (const auto& text : boxes.Texts()) std::fprintf(stderr, "message box: %s\n", text.c_str());
    return saved;
}

bool SaveRemoteWindowStreaming(const e2e::Scratch& scratch, const fs::path& out) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char day[16];
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    const fs::path root = scratch.path() / "recorder";
    const char* spans[][2] = {{"080000", "080030"}, {"093000", "093012"}, {"110500", "110520"}};
    for (const auto& span : spans) {
        const std::string name = std::string("ch1_") + day + "_" + span[0] + "_" + span[1] + ".mp4";
        if (!e2e::MakeRecording(root / "ch1" / day / name, 12, "640x360")) return false;
    }
    testing_support::RecorderProcess recorder(root, {"--rate", "1"});
    if (recorder.port() <= 0) return false;

    t::MessageBoxes boxes;
    remote::CDlgNetFile window;
    window.Create();
    // The loopback recorder before anything reaches the network.
    bool saved = t::TypeText(window, remote::IDC_ADDRESS, "127.0.0.1") &&
                 t::TypeText(window, remote::IDC_PORT, std::to_string(recorder.port())) &&
                 t::TypeText(window, remote::IDC_BUFFER_SECONDS, "2") &&
                 t::Click(window, remote::IDC_SEARCH) &&
                 t::WaitUntil([&] { return window.Searching == 0; }, 60s);
    t::ProcessEvents();
    saved = saved && window.ListRowCount(remote::IDC_RESULT_LIST) == 3 &&
            t::DoubleClickRow(window, remote::IDC_RESULT_LIST, 1) &&
            t::WaitUntil([&] { return window.ItemText(remote::IDC_ELAPSED) >= "00:00:02"; }, 60s) &&
            t::ScreenshotPng(window, (out / "remote-streaming.png").string());
    window.Destroy();
    for (const auto& text : boxes.Texts()) std::fprintf(stderr, "message box: %s\n", text.c_str());
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: varnel-demo-screenshots OUTDIR\n");
        return 2;
    }
    const fs::path out = argv[1];
    fs::create_directories(out);
    ui::Application application(argc, argv);
    const std::string problem = e2e::BindRealLibrary();
    if (!problem.empty()) return Fail(problem);
    e2e::Scratch scratch;
    if (!SaveMainWindowPlaying(scratch, out)) return Fail("the main window could not be shown playing");
    if (!SaveRemoteWindowStreaming(scratch, out)) return Fail("the remote window could not be shown streaming");
    std::printf("saved %s and %s\n", (out / "main-playing.png").c_str(), (out / "remote-streaming.png").c_str());
    return 0;
}
