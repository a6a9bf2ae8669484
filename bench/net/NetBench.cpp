// The library's network side, timed from outside as a program would use it:
//   net_bench download PORT NAME DESTINATION   -> MB/s of NetStartDownload
//   net_bench downloads PORT NAME COUNT FOLDER -> MB/s of COUNT downloads at
//                                                 once, all bytes over all time
//   net_bench stream PORT NAME RUNS            -> ms from NetOpenStream to
//                                                 PLAYER_EVENT_STARTED, 1 s buffer
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/PlayerSdk.h"

#define NET_BENCH_DECLARE(number, name, result, params, args) extern "C" result name params;
PLAYER_ENTRY_POINTS(NET_BENCH_DECLARE)
#undef NET_BENCH_DECLARE

using Clock = std::chrono::steady_clock;

namespace {

// A window that notes the events posted to it and drops the pictures.
struct EventWindow {
    PlayerWindow window{};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<intptr_t> codes;

    EventWindow() {
        window.context = this;
        window.post = [](void* self, uint32_t, intptr_t code, intptr_t) {
            auto* me = static_cast<EventWindow*>(self);
            std::lock_guard lock(me->mutex);
            me->codes.push_back(code);
            me->changed.notify_all();
        };
        window.present = [](void*, const uint8_t*, int, int, int) {};
        window.area_size = [](void*, int* w, int* h) {
            *w = 320;
            *h = 180;
        };
    }
    bool WaitFor(intptr_t code, std::chrono::seconds timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] {
            return std::find(codes.begin(), codes.end(), code) != codes.end();
        });
    }
};

int Download(uint16_t port, const char* name, const char* destination) {
    const auto started = Clock::now();
    const int32_t h = NetStartDownload("127.0.0.1", "246135", "246135", name, destination, port, 0, 0, 0);
    while (NetGetDownloadProgress(h) >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    NetStopDownload(h);
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(destination, ec);
    if (ec) {
        std::fprintf(stderr, "download failed\n");
        return 1;
    }
    std::printf("%.0f\n", static_cast<double>(bytes) / seconds / 1048576);
    return 0;
}

int Downloads(uint16_t port, const char* name, int count, const std::string& folder) {
    std::vector<int32_t> handles;
    const auto started = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string destination = folder + "/" + std::to_string(i) + ".mp4";
        handles.push_back(
            NetStartDownload("127.0.0.1", "246135", "246135", name, destination.c_str(), port, 0, 0, 0));
    }
    for (int32_t h : handles)
        while (NetGetDownloadProgress(h) >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    uintmax_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        NetStopDownload(handles[i]);
        std::error_code ec;
        const auto size = std::filesystem::file_size(folder + "/" + std::to_string(i) + ".mp4", ec);
        if (ec) {
            std::fprintf(stderr, "download %d failed\n", i);
            return 1;
        }
        bytes += size;
    }
    std::printf("%.0f\n", static_cast<double>(bytes) / seconds / 1048576);
    return 0;
}

int Stream(uint16_t port, const char* name, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        EventWindow window, picture;
        const auto started = Clock::now();
        const PlayerHandle h = NetOpenStream("127.0.0.1", "246135", "246135", name, &picture.window, port);
        if (h == -1) {
            std::fprintf(stderr, "NetOpenStream failed\n");
            return 1;
        }
        NetSetBufferTime(h, 1);
        PlayerSetNotifyWindow(h, &window.window, WM_PLAYER_NOTIFY);
        const bool ok = window.WaitFor(PLAYER_EVENT_STARTED, std::chrono::seconds(30));
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        PlayerClose(h);
        if (!ok) {
            std::fprintf(stderr, "no PLAYER_EVENT_STARTED\n");
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("median %.0f ms, best %.0f ms, worst %.0f ms over %d runs\n", ms[ms.size() / 2],
                ms.front(), ms.back(), runs);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "download") == 0) {
        PlayerInit();
        return Download(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], argv[4]);
    }
    if (argc == 6 && std::strcmp(argv[1], "downloads") == 0) {
        PlayerInit();
        return Downloads(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], std::atoi(argv[4]), argv[5]);
    }
    if (argc == 5 && std::strcmp(argv[1], "stream") == 0) {
        PlayerInit();
        return Stream(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], std::atoi(argv[4]));
    }
    std::fprintf(stderr, "usage: net_bench download PORT NAME DESTINATION | downloads PORT NAME COUNT FOLDER | "
                         "stream PORT NAME RUNS\n");
    return 2;
}
