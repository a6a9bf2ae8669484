// The library's network side, timed from outside as a program would use it:
//   net_bench download PORT NAME DESTINATION   -> MB/s of NetStartDownload
//   net_bench downloads PORT NAME COUNT FOLDER -> MB/s of COUNT downloads at
//                                                 once, all bytes over all time
//   net_bench stream PORT NAME RUNS            -> ms from NetOpenStream to
//                                                 PLAYER_EVENT_STARTED, 1 s buffer
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/Download.h"

using Clock = std::chrono::steady_clock;

namespace {

// MB/s over all the destinations, downloaded at once.
int Download(uint16_t port, const char* name, const std::vector<std::string>& destinations) {
    const auto done = bench::Download(port, name, destinations);
    if (!done) return 1;
    std::printf("%.0f\n", done->MbPerSecond());
    return 0;
}

std::vector<std::string> NumberedFiles(int count, const std::string& folder) {
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) files.push_back(folder + "/" + std::to_string(i) + ".mp4");
    return files;
}

int Stream(uint16_t port, const char* name, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        bench::PictureSink sink(320, 180);
        const auto started = Clock::now();
        const PlayerHandle h = NetOpenStream("127.0.0.1", bench::kLogin, bench::kLogin, name, &sink.window, port);
        if (h == -1) {
            std::fprintf(stderr, "NetOpenStream failed\n");
            return 1;
        }
        NetSetBufferTime(h, 1);
        PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
        const bool ok = sink.Wait([&] { return sink.started; }, std::chrono::seconds(30));
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
        return Download(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], {argv[4]});
    }
    if (argc == 6 && std::strcmp(argv[1], "downloads") == 0) {
        PlayerInit();
        return Download(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], NumberedFiles(std::atoi(argv[4]), argv[5]));
    }
    if (argc == 5 && std::strcmp(argv[1], "stream") == 0) {
        PlayerInit();
        return Stream(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], std::atoi(argv[4]));
    }
    std::fprintf(stderr, "usage: net_bench download PORT NAME DESTINATION | downloads PORT NAME COUNT FOLDER | "
                         "stream PORT NAME RUNS\n");
    return 2;
}
