// Measures libPlayerSDK.so playing a clip into an in-process picture sink of
// 553x403, the inside of the main window's picture area (the sink copies each
// picture, as a window would; nothing is drawn on screen). Modes:
//   playback_bench cpu FILE      CPU seconds per second of media, peak RSS
//   playback_bench latency FILE  open->first picture, seek->target picture,
//                                step->next picture (medians, ms)
//   playback_bench seek FILE MS  one exact seek while paused, on a clip whose
//                                pictures carry their number as 10 bars
//                                across the middle (bench/heavy): ms to each
//                                picture shown after it, with its number
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "player/PlayerSdk.h"

#define BENCH_DECLARE(number, name, result, params, args) extern "C" result name params;
PLAYER_ENTRY_POINTS(BENCH_DECLARE)
#undef BENCH_DECLARE

namespace {

using Clock = std::chrono::steady_clock;

struct Sink {
    PlayerWindow window{};
    std::mutex mutex;
    std::condition_variable changed;
    int presents = 0;
    int ends = 0;
    std::vector<uint8_t> pixels;
    int stride = 0;
    std::vector<std::pair<Clock::time_point, int>> numbers;  // bar-coded number of each picture

    Sink() {
        window.context = this;
        window.post = [](void* self, uint32_t, intptr_t code, intptr_t) {
            auto* sink = static_cast<Sink*>(self);
            std::lock_guard lock(sink->mutex);
            if (code == PLAYER_EVENT_END) ++sink->ends;
            sink->changed.notify_all();
        };
        window.present = [](void* self, const uint8_t* pixels, int width, int height, int stride) {
            auto* sink = static_cast<Sink*>(self);
            std::lock_guard lock(sink->mutex);
            sink->pixels.assign(pixels, pixels + static_cast<size_t>(stride) * height);
            sink->stride = stride;
            sink->numbers.emplace_back(Clock::now(), sink->BarCodeLocked(width, height));
            ++sink->presents;
            sink->changed.notify_all();
        };
        window.area_size = [](void*, int* w, int* h) {
            *w = 553;
            *h = 403;
        };
    }
    // Bit i is white or black at the middle of bar i of 10, on the middle row.
    int BarCodeLocked(int width, int height) const {
        int number = 0;
        for (int bit = 0; bit < 10; ++bit) {
            const size_t at = static_cast<size_t>(height / 2) * stride + static_cast<size_t>((bit + 0.5) * width / 10) * 4;
            if (pixels[at + 1] > 128) number |= 1 << bit;
        }
        return number;
    }
    int Presents() {
        std::lock_guard lock(mutex);
        return presents;
    }
    bool WaitPresents(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return presents >= count; });
    }
    bool WaitEnd() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::minutes(5), [&] { return ends > 0; });
    }
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

int Cpu(const char* path) {
    Sink sink;
    double cpu_before = CpuSeconds();
    PlayerHandle h = PlayerOpenFile(path, 0);
    if (h == PLAYER_NO_HANDLE) return 1;
    double media_seconds = PlayerGetTotalTime(h) / 1000.0;
    PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
    PlayerPlay(h, &sink.window);
    if (!sink.WaitEnd()) return 1;
    double cpu = CpuSeconds() - cpu_before;
    int presents = sink.Presents();
    PlayerClose(h);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("libPlayerSDK  cpu_s_per_media_s=%.3f  peak_rss_mb=%.1f  pictures=%d  media_s=%.1f\n",
                cpu / media_seconds, usage.ru_maxrss / 1024.0, presents, media_seconds);
    return 0;
}

int Latency(const char* path) {
    std::vector<double> open, first, seek, step;
    for (int i = 0; i < 11; ++i) {
        Sink sink;
        auto start = Clock::now();
        PlayerHandle h = PlayerOpenFile(path, 0);
        if (h == PLAYER_NO_HANDLE) return 1;
        open.push_back(Ms(Clock::now() - start));
        PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
        PlayerPlay(h, &sink.window);
        sink.WaitPresents(1);
        first.push_back(Ms(Clock::now() - start));
        PlayerClose(h);
    }
    Sink sink;
    PlayerHandle h = PlayerOpenFile(path, 0);
    PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
    PlayerPlay(h, &sink.window);
    sink.WaitPresents(1);
    PlayerPause(h);
    uint32_t total = PlayerGetTotalTime(h);
    std::mt19937 random(7);
    for (int i = 0; i < 21; ++i) {
        uint32_t target = static_cast<uint32_t>(random() % std::max<uint32_t>(1, total - 500));
        int before = sink.Presents();
        auto start = Clock::now();
        PlayerSetPlayTime(h, target);
        sink.WaitPresents(before + 1);
        seek.push_back(Ms(Clock::now() - start));
        for (int s = 0; s < 2; ++s) {
            before = sink.Presents();
            start = Clock::now();
            PlayerStepFrame(h);
            sink.WaitPresents(before + 1);
            step.push_back(Ms(Clock::now() - start));
        }
    }
    PlayerClose(h);
    std::printf("libPlayerSDK  open_ms=%.1f  first_picture_ms=%.1f  seek_ms=%.1f  step_ms=%.1f  (medians of %zu, %zu, %zu)\n",
                Median(open), Median(first), Median(seek), Median(step), first.size(), seek.size(), step.size());
    return 0;
}

int Seek(const char* path, uint32_t target_ms) {
    Sink sink;
    PlayerHandle h = PlayerOpenFile(path, 0);
    if (h == PLAYER_NO_HANDLE) return 1;
    PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
    PlayerPlay(h, &sink.window);
    sink.WaitPresents(1);
    PlayerPause(h);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    size_t before;
    {
        std::lock_guard lock(sink.mutex);
        before = sink.numbers.size();
    }
    const auto start = Clock::now();
    PlayerSetPlayTime(h, target_ms);
    // Until the picture at the target, or nothing new for 10 s.
    const int target = static_cast<int>(target_ms / 40);
    for (;;) {
        std::unique_lock lock(sink.mutex);
        const size_t seen = sink.numbers.size();
        const bool at_target = seen > before && sink.numbers.back().second >= target;
        if (at_target || !sink.changed.wait_for(lock, std::chrono::seconds(10), [&] { return sink.numbers.size() > seen; }))
            break;
    }
    const uint32_t play_ms = PlayerGetPlayTime(h);
    PlayerClose(h);
    std::printf("libPlayerSDK  seek to %u ms (picture %d):", target_ms, target);
    for (size_t i = before; i < sink.numbers.size(); ++i)
        std::printf("  picture %d at %.0f ms", sink.numbers[i].second, Ms(sink.numbers[i].first - start));
    std::printf(";  play time then %u ms\n", play_ms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "seek") == 0) {
        PlayerInit();
        return Seek(argv[2], static_cast<uint32_t>(std::atol(argv[3])));
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: playback_bench cpu|latency FILE | seek FILE MS\n");
        return 2;
    }
    PlayerInit();
    if (std::strcmp(argv[1], "cpu") == 0) return Cpu(argv[2]);
    if (std::strcmp(argv[1], "latency") == 0) return Latency(argv[2]);
    return 2;
}
