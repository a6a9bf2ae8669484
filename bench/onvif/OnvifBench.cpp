// The library's network entry points called as the remote window calls them,
// timed from outside; the same calls serve our recorder's protocol and ONVIF
// (the library asks the address which it speaks). Pictures go to the
// harnesses' picture sink, which counts them.
//   onvif_bench search PORT CHANNEL YYYYMMDD
//       one day's search of channel CHANNEL (1-4), video recordings, with the
//       window's time limit; prints "ROWS MS ROWS_PER_S", then one line per
//       row: "NAME TAB SIZE"
//   onvif_bench download PORT NAME DESTINATION
//       prints "MB/S SECONDS BYTES" of NetStartDownload until its end
//   onvif_bench stream PORT NAME SEEK_MS RUNS
//       the window's 20 s buffer; per run the ms from NetOpenStream to
//       PLAYER_EVENT_STARTED and to the first picture, then from
//       PlayerSetPlayTime(SEEK_MS) to the first picture at that time;
//       prints the medians "STARTED_MS PICTURE_MS SEEK_MS"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Download.h"
#include "support/PictureSink.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// The remote window's buffer length.
constexpr int kWindowBufferSeconds = 20;

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double MsSince(Clock::time_point start) { return MsBetween(start, Clock::now()); }

Clock::time_point LastPresent(const bench::PictureSink& sink) {
    std::lock_guard lock(sink.mutex);
    return sink.last_present;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Row {
    std::string name;
    uint32_t size;
};
std::mutex rows_mutex;
std::vector<Row> rows;

void Collect(int32_t, int32_t, const char* name, const NetTime*, const NetTime*, uint32_t size, int32_t) {
    std::lock_guard lock(rows_mutex);
    rows.push_back({name, size});
}

int Search(uint16_t port, int channel, const char* day) {
    NetTime from{}, to{};
    if (std::strlen(day) != 8) return 2;
    const int ymd = std::atoi(day);
    from.year = to.year = static_cast<uint32_t>(ymd / 10000);
    from.month = to.month = static_cast<uint8_t>(ymd / 100 % 100);
    from.day = to.day = static_cast<uint8_t>(ymd % 100);
    to.hour = 23;
    to.minute = to.second = 59;
    const auto started = Clock::now();
    const int32_t s = NetSearchFiles("127.0.0.1", "", channel - 1, bench::kLogin, bench::kLogin, 1, 0, 1, &from,
                                     &to, Collect, nullptr, port);
    if (s < 0 || !WaitUntil([&] { return NetGetSearchState(s) != 0; }, 600s) || NetGetSearchState(s) != 1) {
        std::fprintf(stderr, "search failed (%d)\n", s < 0 ? s : NetGetSearchState(s));
        if (s >= 0) NetStopSearch(s);
        return 1;
    }
    const double ms = MsSince(started);
    NetStopSearch(s);
    std::lock_guard lock(rows_mutex);
    std::printf("%zu %.0f %.0f\n", rows.size(), ms, static_cast<double>(rows.size()) * 1000 / ms);
    for (const Row& row : rows) std::printf("%s\t%u\n", row.name.c_str(), row.size);
    return 0;
}

int Download(uint16_t port, const char* name, const char* destination) {
    const auto done = bench::Download(port, name, {destination});
    if (!done) return 1;
    std::printf("%.1f %.2f %ju\n", done->MbPerSecond(), done->seconds, done->bytes);
    return 0;
}

int Stream(uint16_t port, const char* name, uint32_t seek_ms, int runs) {
    std::vector<double> started_ms, picture_ms, seek_picture_ms;
    for (int i = 0; i < runs; ++i) {
        bench::PictureSink sink(704, 576);
        const auto opened = Clock::now();
        const PlayerHandle h = NetOpenStream("127.0.0.1", bench::kLogin, bench::kLogin, name, &sink.window, port);
        if (h == -1) {
            std::fprintf(stderr, "NetOpenStream failed\n");
            return 1;
        }
        NetSetBufferTime(h, kWindowBufferSeconds);
        PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
        const bool started = sink.Wait([&] { return sink.started; }, 60s);
        started_ms.push_back(MsSince(opened));
        const bool shown = started && sink.Wait([&] { return sink.presents > 0; }, 30s);
        if (!shown) {
            std::fprintf(stderr, started ? "no picture\n" : "no PLAYER_EVENT_STARTED\n");
            PlayerClose(h);
            return 1;
        }
        picture_ms.push_back(MsBetween(opened, LastPresent(sink)));
        // The picture after the seek: the first shown once the play time
        // is at the target.
        const auto seeking = Clock::now();
        const int before = sink.Presents();
        PlayerSetPlayTime(h, seek_ms);
        const bool landed = WaitUntil(
            [&] {
                const uint32_t at = PlayerGetPlayTime(h);
                return sink.Presents() > before && at + 500 >= seek_ms && at <= seek_ms + 3000;
            },
            30s);
        const double seek_ms_taken = MsBetween(seeking, LastPresent(sink));
        PlayerClose(h);
        if (!landed) {
            std::fprintf(stderr, "no picture after the seek\n");
            return 1;
        }
        seek_picture_ms.push_back(seek_ms_taken);
    }
    std::printf("%.0f %.0f %.0f\n", Median(started_ms), Median(picture_ms), Median(seek_picture_ms));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "search") == 0) {
        PlayerInit();
        return Search(static_cast<uint16_t>(std::atoi(argv[2])), std::atoi(argv[3]), argv[4]);
    }
    if (argc == 5 && std::strcmp(argv[1], "download") == 0) {
        PlayerInit();
        return Download(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], argv[4]);
    }
    if (argc == 6 && std::strcmp(argv[1], "stream") == 0) {
        PlayerInit();
        return Stream(static_cast<uint16_t>(std::atoi(argv[2])), argv[3], static_cast<uint32_t>(std::atoi(argv[4])),
                      std::atoi(argv[5]));
    }
    std::fprintf(stderr, "usage: onvif_bench search PORT CHANNEL YYYYMMDD | download PORT NAME DESTINATION | "
                         "stream PORT NAME SEEK_MS RUNS\n");
    return 2;
}
