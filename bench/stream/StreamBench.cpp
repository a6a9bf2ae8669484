// The library's network streams, timed and weighed from outside as a program
// would use them (pictures go to the harnesses' picture sink, which copies
// each as a window would; sound on, through whatever SDL_AUDIODRIVER says):
//   stream_bench memory PORT NAME SECONDS
//       plays the stream for SECONDS s; prints "PEAK_RSS_MB PLAY_MS"
//   stream_bench restart RECORDER ROOT NAME CYCLES
//       runs RECORDER --root ROOT paced at real time, plays NAME, and CYCLES
//       times kills the recorder, waits for the stream to buffer again,
//       restarts the recorder on its port a second later and times how long
//       after the restart the pictures move on; prints one line per cycle.
//       The buffer length is the remote window's default, 20 s.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/PictureSink.h"

extern char** environ;

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

long PeakRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

PlayerHandle OpenAndStart(uint16_t port, const char* name, int buffer_seconds, bench::PictureSink& sink) {
    const PlayerHandle h = NetOpenStream("127.0.0.1", "246135", "246135", name, &sink.window, port);
    if (h == -1) {
        std::fprintf(stderr, "NetOpenStream failed\n");
        return h;
    }
    NetSetBufferTime(h, buffer_seconds);
    PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
    if (!sink.Wait([&] { return sink.started; }, 30s)) {
        std::fprintf(stderr, "no PLAYER_EVENT_STARTED\n");
        PlayerClose(h);
        return -1;
    }
    PlayerSoundOn(h);
    return h;
}

int Memory(uint16_t port, const char* name, int seconds) {
    bench::PictureSink sink(1280, 720);
    const PlayerHandle h = OpenAndStart(port, name, 1, sink);
    if (h == -1) return 1;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const uint32_t played = PlayerGetPlayTime(h);
    const long peak = PeakRssKb();
    PlayerClose(h);
    std::printf("%.0f %u\n", static_cast<double>(peak) / 1024, played);
    return 0;
}

uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Listening(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

pid_t StartRecorder(const char* recorder, const char* root, uint16_t port) {
    std::vector<std::string> args = {recorder, "--root", root, "--listen", "127.0.0.1",
                                     "--port", std::to_string(port), "--rate", "1"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, recorder, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0 || !WaitUntil([&] { return Listening(port); }, 10s)) return -1;
    return pid;
}

void Kill(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int Restart(const char* recorder, const char* root, const char* name, int cycles) {
    const uint16_t port = FreePort();
    pid_t pid = StartRecorder(recorder, root, port);
    if (pid < 0) {
        std::fprintf(stderr, "recorder did not start\n");
        return 1;
    }
    bench::PictureSink sink(1280, 720);
    // The remote window's default buffer length.
    const PlayerHandle h = OpenAndStart(port, name, 20, sink);
    int status = h == -1 ? 1 : 0;
    for (int cycle = 1; cycle <= cycles && status == 0; ++cycle) {
        const uint32_t at = PlayerGetPlayTime(h);
        WaitUntil([&] { return PlayerGetPlayTime(h) >= at + 3000; }, 30s);
        const int bufferings = sink.Bufferings();
        Kill(pid);
        const auto killed = Clock::now();
        if (!sink.Wait([&] { return sink.bufferings > bufferings; }, 30s)) {
            std::fprintf(stderr, "no re-buffering after the kill\n");
            status = 1;
            break;
        }
        const double rebuffer_ms = MsSince(killed);
        std::this_thread::sleep_for(1s);
        const uint32_t stopped_at = PlayerGetPlayTime(h);
        const int pictures = sink.Presents();
        pid = StartRecorder(recorder, root, port);
        const auto restarted = Clock::now();
        const bool resumed = WaitUntil(
            [&] { return sink.Presents() > pictures && PlayerGetPlayTime(h) > stopped_at; }, 30s);
        const double resume_ms = MsSince(restarted);
        const uint32_t resumed_at = PlayerGetPlayTime(h);
        if (!resumed || pid < 0 || sink.Ended()) {
            std::fprintf(stderr, "playback did not resume\n");
            status = 1;
            break;
        }
        std::printf("cycle %d: buffering again %.0f ms after the kill; stopped at %u ms; pictures "
                    "again %.0f ms after the restart, at %u ms\n",
                    cycle, rebuffer_ms, stopped_at, resume_ms, resumed_at);
        std::fflush(stdout);
    }
    if (h != -1) PlayerClose(h);
    if (pid > 0) Kill(pid);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "memory") == 0) {
        PlayerInit();
        return Memory(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], std::atoi(argv[4]));
    }
    if (argc == 6 && std::strcmp(argv[1], "restart") == 0) {
        PlayerInit();
        return Restart(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    }
    std::fprintf(stderr,
                 "usage: stream_bench memory PORT NAME SECONDS | restart RECORDER ROOT NAME CYCLES\n");
    return 2;
}
