// Stress for race detectors. Each of LOOPS loops
//  - opens a clip with sound as a local file, turns sound on, plays, seeks,
//    turns sound off and on, pauses and closes, at random short intervals;
//  - opens it as a network stream from a recorder stand-in on loopback that
//    drops the connection partway and answers the resuming range request
//    late, so that the stream re-buffers (PLAYER_EVENT_BUFFERING); sound on
//    at 2x, and closes while it re-buffers or just after it resumed;
// while a second thread polls the play time and the buffer as a window's
// timers would. Exit status 0 when every open succeeded and most streams
// re-buffered.
//   engine_stress FILE [LOOPS]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "ScriptedServer.h"
#include "player/PlayerSdk.h"

#define STRESS_DECLARE(number, name, result, params, args) extern "C" result name params;
PLAYER_ENTRY_POINTS(STRESS_DECLARE)
#undef STRESS_DECLARE

namespace {

using namespace std::chrono_literals;

// Waits up to `wait`; false when the client has gone or the server is going away.
bool ClientStays(int fd, const net_test::ScriptedServer& server, std::chrono::milliseconds wait) {
    for (auto until = std::chrono::steady_clock::now() + wait; std::chrono::steady_clock::now() < until;) {
        if (server.released()) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            char sink[256];
            if ((p.revents & (POLLHUP | POLLERR)) || recv(fd, sink, sizeof sink, 0) <= 0) return false;
        }
    }
    return !server.released();
}

// Serves one recording under any name. An answer from the first byte is cut
// off after `drop_after` bytes; an answer from further on waits `hold`
// first (a recorder slow to come back), unless the client goes away.
net_test::ScriptedServer::Script DroppingRecorder(const std::string& bytes, size_t drop_after,
                                                  std::chrono::milliseconds hold) {
    return [&bytes, drop_after, hold](int fd, const net_test::ScriptedServer& server) {
        const std::string request = server.last_request();
        size_t from = 0;
        const size_t range = request.find("Range: bytes=");
        if (range != std::string::npos) from = std::strtoull(request.c_str() + range + 13, nullptr, 10);
        if (from >= bytes.size()) return;
        if (from > 0 && !ClientStays(fd, server, hold)) return;
        const size_t size = bytes.size();
        std::string head = range == std::string::npos
                               ? "HTTP/1.1 200 OK\r\n"
                               : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                                     std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n";
        head += "Content-Length: " + std::to_string(size - from) + "\r\n\r\n";
        const size_t end = from == 0 ? drop_after : size;
        net_test::ScriptedServer::Send(fd, head + bytes.substr(from, end - from));
    };
}

// A window that counts the stream events of the handle it is told about.
struct CountingWindow {
    PlayerWindow window{};
    std::atomic<PlayerHandle> handle{PLAYER_NO_HANDLE};
    std::atomic<int> buffering{0};
    CountingWindow() {
        window.context = this;
        window.post = [](void* self, uint32_t, intptr_t code, intptr_t handle) {
            auto* me = static_cast<CountingWindow*>(self);
            if (code == PLAYER_EVENT_BUFFERING && handle == me->handle) ++me->buffering;
        };
        window.present = [](void*, const uint8_t*, int, int, int) {};
        window.area_size = [](void*, int* w, int* h) {
            *w = 64;
            *h = 48;
        };
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int loops = argc > 2 ? std::atoi(argv[2]) : 500;
    std::ifstream in(argv[1], std::ios::binary);
    std::string clip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (clip.empty()) return 2;
    // The clip is 3 s: the stream drops after about 1.8 s of it, which plays
    // at 2x in 0.9 s, and comes back 1.2 s after the drop.
    net_test::ScriptedServer recorder(DroppingRecorder(clip, clip.size() * 3 / 5, 1200ms));
    PlayerInit();
    CountingWindow window;
    std::atomic<PlayerHandle> current{PLAYER_NO_HANDLE};
    std::atomic<bool> done{false};
    std::thread poller([&] {
        while (!done) {
            PlayerHandle h = current;
            PlayerGetPlayTime(h);
            PlayerHasAudio(h);
            NetGetBufferProgress(h);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    std::mt19937 random(7);
    auto pause = [&](int most_us) { std::this_thread::sleep_for(std::chrono::microseconds(random() % most_us)); };
    int failures = 0, rebuffered = 0;
    for (int i = 0; i < loops; ++i) {
        PlayerHandle h = PlayerOpenFile(argv[1], 0);
        if (h == PLAYER_NO_HANDLE) {
            ++failures;
        } else {
            current = h;
            PlayerSetNotifyWindow(h, &window.window, WM_PLAYER_NOTIFY);
            PlayerSoundOn(h);
            PlayerPlay(h, &window.window);
            pause(8000);
            if (random() % 2) PlayerSetPlayTime(h, static_cast<uint32_t>(random() % (PlayerGetTotalTime(h) + 1)));
            pause(8000);
            if (random() % 3 == 0) {
                PlayerSoundOff(h);
                PlayerSoundOn(h);
            }
            if (random() % 4 == 0) PlayerPause(h);
            pause(8000);
            PlayerClose(h);
        }

        h = NetOpenStream("127.0.0.1", "246135", "246135", "ch1_stress.mp4", &window.window, recorder.port());
        if (h == PLAYER_NO_HANDLE) {
            ++failures;
        } else {
            current = h;
            window.handle = h;
            window.buffering = 0;
            NetSetBufferTime(h, 1);
            PlayerSetNotifyWindow(h, &window.window, WM_PLAYER_NOTIFY);
            PlayerSoundOn(h);
            PlayerFast(h);  // time-stretched sound, and the re-buffering comes sooner
            // The first event is the opening's buffering; the second, the re-buffering.
            for (int wait = 0; wait < 400 && window.buffering < 2; ++wait) std::this_thread::sleep_for(10ms);
            if (window.buffering >= 2) ++rebuffered;
            pause(600000);  // closed while re-buffering or after it resumed
            PlayerClose(h);
        }
        current = PLAYER_NO_HANDLE;
        if ((i + 1) % 50 == 0) std::fprintf(stderr, "%d loops, %d re-buffered\n", i + 1, rebuffered);
    }
    done = true;
    poller.join();
    std::printf("engine_stress: %d loops, %d streams re-buffered, %d failed opens\n", loops, rebuffered, failures);
    return failures == 0 && rebuffered * 10 >= loops * 9 ? 0 : 1;
}
