// Load and soak of the whole product: the real windows, libPlayerSDK.so and
// a varnel-recorder process on 127.0.0.1.
//   varnel-e2e-bench search   a search answering 10,000 recordings: rows per
//                             second, and the longest pause of the GUI
//                             thread's event loop meanwhile
//   varnel-e2e-bench soak [LOCAL STREAMS]  open/play/close cycles of local
//                             files and streams: resident memory and file
//                             descriptors
//   varnel-e2e-bench clients [N]  N downloads at once through the library,
//                             each checked byte for byte, beside curl
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RecorderProcess.h"
#include "local/PositionDisplay.h"
#include "local/VarnelDlg.h"
#include "player/Binding.h"
#include "remote/DlgNetFile.h"
#include "tests/e2e/E2eSupport.h"
#include "ui/Testing.h"

namespace {

namespace fs = std::filesystem;
namespace t = ui::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The open descriptors of this process, each as "number -> what it is".
std::set<std::string> Descriptors() {
    std::set<std::string> named;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(entry.path(), unreadable);
        // The listing's own descriptor is not one of the process's.
        if (unreadable || target.filename() == "fd") continue;
        named.insert(entry.path().filename().string() + " -> " + target.string());
    }
    return named;
}

// Descriptors in `now` that `before` did not have, for the report.
std::string Added(const std::set<std::string>& before, const std::set<std::string>& now) {
    std::string added;
    for (const std::string& d : now) {
        if (before.count(d)) continue;
        if (!added.empty()) added.append(", ");
        added.append(d);
    }
    return added.empty() ? "none" : added;
}

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char day[16];
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    return day;
}

std::string Hms(int seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d%02d%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

// Records the longest time between two turns of the event loop: a zero
// timer runs once per turn.
class LoopGapMeter {
public:
    LoopGapMeter() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    void Start() {
        last_ = Clock::now();
        longest_ = {};
        timer_.start(0);
    }
    double LongestMs() const { return std::chrono::duration<double, std::milli>(longest_).count(); }

private:
    QTimer timer_;
    Clock::time_point last_;
    Clock::duration longest_{};
};

std::unique_ptr<remote::CDlgNetFile> OpenRemoteOnLoopback(int port) {
    auto window = std::make_unique<remote::CDlgNetFile>();
    window->Create();
    t::TypeText(*window, remote::IDC_ADDRESS, "127.0.0.1");
    t::TypeText(*window, remote::IDC_PORT, std::to_string(port));
    t::TypeText(*window, remote::IDC_BUFFER_SECONDS, "1");
    return window;
}

int Search(const e2e::Scratch& scratch) {
    constexpr int kRecordings = 10000;
    const std::string day = Today();
    const fs::path dir = scratch.path() / "recorder" / "ch1" / day;
    const fs::path sample = scratch.path() / "sample.mp4";
    if (!e2e::MakeRecording(sample, 1)) return 1;
    fs::create_directories(dir);
    // Hard links: 10,000 names, one small file's bytes.
    for (int i = 0; i < kRecordings; ++i) {
        const int start = i * 8;
        fs::create_hard_link(sample, dir / ("ch1_" + day + "_" + Hms(start) + "_" + Hms(start + 7) + ".mp4"));
    }
    testing_support::RecorderProcess recorder(scratch.path() / "recorder");
    if (recorder.port() <= 0) return 1;
    t::MessageBoxes boxes;
    auto window = OpenRemoteOnLoopback(recorder.port());
    // The window's first paint (fonts loaded, controls laid out) is over
    // before anyone can press its button; it is no part of the search.
    t::ProcessEvents();
    LoopGapMeter meter;
    meter.Start();
    const auto started = Clock::now();
    t::Click(*window, remote::IDC_SEARCH);
    const bool listed = t::WaitUntil([&] {
        return window->Searching == 0 && window->ListRowCount(remote::IDC_RESULT_LIST) == kRecordings;
    }, 300s);
    const double seconds = Seconds(Clock::now() - started);
    std::printf("search of %d recordings: %s in %.3f s = %.0f rows/s (goal >= 20000); longest event-loop pause "
                "%.1f ms (goal <= 50)\n",
                kRecordings, listed ? "listed" : "NOT all listed", seconds, kRecordings / seconds,
                meter.LongestMs());
    window->Destroy();
    return listed ? 0 : 1;
}

int Soak(const e2e::Scratch& scratch, int local_cycles, int stream_cycles) {
    t::MessageBoxes boxes;
    const fs::path clip = scratch.path() / "clip.mp4";
    if (!e2e::MakeClip(clip, 3)) return 1;
    const std::string day = Today();
    const fs::path root = scratch.path() / "recorder";
    const std::string name = "ch1_" + day + "_100000_100004.mp4";
    if (!e2e::MakeRecording(root / "ch1" / day / name, 4)) return 1;
    testing_support::RecorderProcess recorder(root, {"--rate", "4"});
    if (recorder.port() <= 0) return 1;

    const int fds_before = e2e::OpenFileDescriptors();
    long rss_at_20 = 0;
    int failures = 0;
    {
        t::FileDialogScript files;
        local::CVarnelDlg window;
        window.Create();
        for (int cycle = 1; cycle <= local_cycles; ++cycle) {
            files.Add(clip.string());
            t::Click(window, local::IDC_OPEN_FILE);
            const bool played = window.Handle() != PLAYER_NO_HANDLE && t::WaitUntil([&] {
                return player::PlayerGetPlayTime(window.Handle()) >= 200;
            }, 30s);
            if (!played) ++failures;
            t::Click(window, local::IDC_STOP);
            t::ProcessEvents();
            if (cycle == 20) rss_at_20 = e2e::ResidentKb();
        }
        window.Destroy();
    }
    const long rss_local_end = e2e::ResidentKb();
    const int fds_after_local = e2e::OpenFileDescriptors();
    std::printf("local: %d open/play/close cycles, %d failed; RSS %ld kB at cycle 20, %ld kB at the end "
                "(growth %+ld kB, goal < 5120); fds %d before, %d after\n",
                local_cycles, failures, rss_at_20, rss_local_end, rss_local_end - rss_at_20, fds_before,
                fds_after_local);

    // Descriptors opened on the first streams and kept are not growth: the
    // toolkit's two pooled threads (one per core) each keep a wake-up
    // eventfd until they have been idle for 30 s. As for memory, growth is
    // counted from cycle 20.
    int stream_failures = 0;
    long stream_rss_at_20 = 0;
    int stream_fds_at_20 = 0;
    const std::set<std::string> named_before_streams = Descriptors();
    std::set<std::string> named_at_20;
    {
        auto window = OpenRemoteOnLoopback(recorder.port());
        t::Click(*window, remote::IDC_SEARCH);
        t::WaitUntil([&] { return window->Searching == 0; }, 60s);
        t::ProcessEvents();
        for (int cycle = 1; cycle <= stream_cycles; ++cycle) {
            const bool played = t::DoubleClickRow(*window, remote::IDC_RESULT_LIST, 0) && t::WaitUntil([&] {
                return window->CurrentStreamState() == remote::StreamState::Playing &&
                       player::PlayerGetPlayTime(remote::StreamHandle) >= 200;
            }, 60s);
            if (!played) ++stream_failures;
            t::Click(*window, remote::IDC_STOP);
            t::ProcessEvents();
            if (cycle == 20) {
                stream_rss_at_20 = e2e::ResidentKb();
                stream_fds_at_20 = e2e::OpenFileDescriptors();
                named_at_20 = Descriptors();
            }
        }
        window->Destroy();
    }
    t::WaitUntil([&] { return e2e::OpenConnectionsOnPort(recorder.port()) == 0; }, 30s);
    const long rss_end = e2e::ResidentKb();
    const int fds_end = e2e::OpenFileDescriptors();
    const std::set<std::string> named_end = Descriptors();
    std::printf("streams: %d open/play/close cycles, %d failed; RSS %ld kB at cycle 20, %ld kB at the end "
                "(growth %+ld kB, goal < 5120); fds %d after local, %d at cycle 20, %d at the end (growth from "
                "cycle 20 %+d, goal 0); loopback connections left %d\n",
                stream_cycles, stream_failures, stream_rss_at_20, rss_end, rss_end - stream_rss_at_20,
                fds_after_local, stream_fds_at_20, fds_end, fds_end - stream_fds_at_20,
                e2e::OpenConnectionsOnPort(recorder.port()));
    std::printf("  descriptors opened by the first stream cycles and kept: %s\n"
                "  descriptors opened after cycle 20 and kept: %s\n",
                Added(named_before_streams, named_at_20).c_str(), Added(named_at_20, named_end).c_str());
    const bool memory_held = rss_local_end - rss_at_20 < 5120 && rss_end - stream_rss_at_20 < 5120;
    return failures + stream_failures == 0 && fds_after_local == fds_before && fds_end == stream_fds_at_20 &&
                   memory_held
               ? 0
               : 1;
}

int Clients(const e2e::Scratch& scratch, int clients) {
    const std::string day = Today();
    const fs::path root = scratch.path() / "recorder";
    const std::string name = "ch1_" + day + "_120000_120030.mp4";
    const fs::path source = root / "ch1" / day / name;
    if (!e2e::MakeRecording(source, 30, "640x360")) return 1;
    const std::string original = e2e::ReadWholeFile(source);
    testing_support::RecorderProcess recorder(root);
    if (recorder.port() <= 0) return 1;

    std::vector<int32_t> downloads;
    const auto started = Clock::now();
    for (int i = 0; i < clients; ++i) {
        const std::string destination = "d:\\load\\client" + std::to_string(i) + ".mp4";
        downloads.push_back(player::NetStartDownload("127.0.0.1", "246135", "246135", name.c_str(),
                                                     destination.c_str(),
                                                     static_cast<uint16_t>(recorder.port()), 0, 0, 0));
    }
    const auto give_up = Clock::now() + 300s;
    while (Clock::now() < give_up &&
           std::any_of(downloads.begin(), downloads.end(),
                       [](int32_t d) { return player::NetGetDownloadProgress(d) >= 0; }))
        std::this_thread::sleep_for(5ms);
    const double ours = Seconds(Clock::now() - started);
    int identical = 0;
    for (int i = 0; i < clients; ++i) {
        player::NetStopDownload(downloads[i]);
        if (e2e::ReadWholeFile(scratch.DrivePath("d:\\load\\client" + std::to_string(i) + ".mp4")) == original)
            ++identical;
    }

    // The same load from curl, side by side.
    const fs::path curl_out = scratch.path() / "curl";
    fs::create_directories(curl_out);
    std::string command = "cd '" + curl_out.string() + "' && for i in $(seq 1 " + std::to_string(clients) +
                          "); do curl -s -u 246135:246135 -o c$i.mp4 http://127.0.0.1:" +
                          std::to_string(recorder.port()) + "/recordings/" + name + " & done; wait";
    const auto curl_started = Clock::now();
    const int curl_status = std::system(command.c_str());
    const double curl_seconds = Seconds(Clock::now() - curl_started);
    int curl_identical = 0;
    for (int i = 1; i <= clients; ++i)
        if (e2e::ReadWholeFile(curl_out / ("c" + std::to_string(i) + ".mp4")) == original) ++curl_identical;

    const double megabytes = clients * double(original.size()) / (1024.0 * 1024.0);
    std::printf("%d clients at once, %.2f MB each: library %d/%d identical in %.2f s (%.1f MB/s); "
                "curl %d/%d identical in %.2f s (%.1f MB/s)%s\n",
                clients, original.size() / (1024.0 * 1024.0), identical, clients, ours, megabytes / ours,
                curl_identical, clients, curl_seconds, megabytes / curl_seconds,
                curl_status == 0 ? "" : " (curl reported an error)");
    return identical == clients ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string mode = argc > 1 ? argv[1] : "";
    ui::Application application(argc, argv);
    const std::string problem = e2e::BindRealLibrary();
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    player::PlayerInit();
    e2e::Scratch scratch;
    if (mode == "search") return Search(scratch);
    if (mode == "soak")
        return Soak(scratch, argc > 2 ? std::atoi(argv[2]) : 200, argc > 3 ? std::atoi(argv[3]) : 50);
    if (mode == "clients") return Clients(scratch, argc > 2 ? std::atoi(argv[2]) : 32);
    std::fprintf(stderr, "usage: varnel-e2e-bench search | soak [LOCAL STREAMS] | clients [N]\n");
    return 2;
}
