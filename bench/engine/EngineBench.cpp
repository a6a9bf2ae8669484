// Measures the playback engine of libPlayerSDK.so through its entry points,
// into an in-process picture sink of 740x540 (each picture is copied as a
// window would; nothing is drawn on screen). Modes:
//   engine_bench avsync FILE   sound through SDL's disk driver: for a clip with
//                              a white flash and a beep at every whole second,
//                              beep heard minus flash presented, at the start
//                              and after 20 random seeks (ms)
//   engine_bench seeks FILE    a clip whose pictures carry their numbers (left
//                              half), paused: ten seeks 50 ms apart, time from
//                              the last one to the key frame shown and to the
//                              landing, and how many pictures short of the
//                              target it landed (a seek lands on the picture
//                              decoding on reached in its time); the same for
//                              one exact seek 9 s past a key frame, for a
//                              seek 1 s ahead of a landed one, still paused,
//                              and for one 1 s ahead after playing, then pausing
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/PictureSink.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kWidth = 740;
constexpr int kHeight = 540;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

using Sink = bench::PictureSink;

double Median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double WorstAbs(const std::vector<double>& values) {
    double worst = 0;
    for (double v : values) worst = std::max(worst, std::fabs(v));
    return worst;
}

// --- A/V offset -------------------------------------------------------------

// Polls the size of the disk driver's output file: when each piece was written.
struct DiskPoller {
    std::string path;
    std::vector<std::pair<Clock::time_point, int64_t>> sizes;
    std::atomic<bool> stop{false};
    std::thread thread;
    void Start() {
        thread = std::thread([this] {
            int64_t last = -1;
            while (!stop) {
                struct stat info;
                int64_t size = stat(path.c_str(), &info) == 0 ? info.st_size : -1;
                if (size != last) {
                    sizes.emplace_back(Clock::now(), size);
                    last = size;
                }
                std::this_thread::sleep_for(500us);
            }
        });
    }
    void Stop() {
        stop = true;
        thread.join();
    }
    // When byte `offset` was heard. The driver hands each device buffer to a
    // buffered file (stdio, 4 KB): a write reaches the file when the buffer
    // after it is handed over, so the last byte the file shows at a poll was
    // heard up to that moment, and the bytes before it one after the other.
    bool HeardAt(int64_t offset, int64_t bytes_per_second, Clock::time_point* at) const {
        for (size_t i = 1; i < sizes.size(); ++i) {
            if (sizes[i].second > offset) {
                *at = sizes[i].first - std::chrono::microseconds((sizes[i].second - offset) * 1000000 / bytes_per_second);
                return true;
            }
        }
        return false;
    }
};

int AvSync(const char* file) {
    const char* sound_file = std::getenv("SDL_DISKAUDIOFILE");
    if (sound_file == nullptr || std::string(std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "") != "disk") {
        std::fprintf(stderr, "set SDL_AUDIODRIVER=disk and SDL_DISKAUDIOFILE\n");
        return 2;
    }
    std::remove(sound_file);
    PlayerInit();
    Sink sink(kWidth, kHeight);
    std::vector<Clock::time_point> flashes;
    bool white = false;
    sink.probe = [&](const Sink& s, Clock::time_point at) {
        bool now_white = s.Grey(kWidth / 2, kHeight / 2) > 128;
        if (now_white && !white) flashes.push_back(at);
        white = now_white;
    };
    PlayerHandle h = PlayerOpenFile(file, 0);
    if (h == PLAYER_NO_HANDLE || !PlayerHasAudio(h)) {
        std::fprintf(stderr, "cannot open %s with sound\n", file);
        return 1;
    }
    DiskPoller poller;
    poller.path = sound_file;
    poller.Start();
    PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
    PlayerSoundOn(h);
    std::vector<Clock::time_point> marks{Clock::now()};
    PlayerPlay(h, &sink.window);
    std::this_thread::sleep_for(2s);
    std::mt19937 random(12345);
    const uint32_t total = PlayerGetTotalTime(h);
    // Targets between flashes, so that the picture a seek lands on is dark;
    // the key frame a seek shows first may be a flash, so flashes within
    // 250 ms of a seek are not counted.
    std::uniform_int_distribution<uint32_t> second(1, total > 5000 ? total / 1000 - 3 : 1);
    std::uniform_int_distribution<uint32_t> within(200, 700);
    for (int i = 0; i < 20; ++i) {
        marks.push_back(Clock::now());
        PlayerSetPlayTime(h, second(random) * 1000 + within(random));
        std::this_thread::sleep_for(1700ms);
    }
    marks.push_back(Clock::now());
    PlayerClose(h);
    poller.Stop();

    // Beeps: 48 kHz mono, sound after at least 100 ms of quiet.
    std::ifstream in(sound_file, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(raw.size() / 2);
    std::copy_n(reinterpret_cast<const int16_t*>(raw.data()), samples.size(), samples.data());
    const int64_t rate = 48000;
    std::vector<Clock::time_point> beeps;
    size_t quiet = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        bool sound = std::abs(samples[i]) >= 300;
        if (sound && quiet >= rate / 10) {
            Clock::time_point at;
            if (poller.HeardAt(static_cast<int64_t>(i) * 2, rate * 2, &at)) beeps.push_back(at);
        }
        quiet = std::abs(samples[i]) < 300 ? quiet + 1 : 0;
    }
    // The first flash of each stretch between seeks, with the beep nearest it.
    std::vector<double> offsets;
    double at_start = NAN;
    for (size_t k = 0; k + 1 < marks.size(); ++k) {
        for (Clock::time_point flash : flashes) {
            if (flash < marks[k] + 250ms || flash >= marks[k + 1]) continue;
            double best = NAN;
            for (Clock::time_point beep : beeps) {
                double offset = Ms(beep - flash);
                if (std::fabs(offset) < 400 && (std::isnan(best) || std::fabs(offset) < std::fabs(best))) best = offset;
            }
            if (std::isnan(best)) continue;
            if (k == 0) at_start = best;
            else offsets.push_back(best);
            break;
        }
    }
    std::printf("%-24s start=%+.1f  after %zu of 20 seeks: median=%+.1f  worst=%.1f  (ms, beep heard - flash presented)\n",
                "libPlayerSDK", at_start, offsets.size(), Median(offsets), WorstAbs(offsets));
    std::printf("%-24s", "  each seek:");
    for (double offset : offsets) std::printf(" %+.0f", offset);
    std::printf("\n");
    return offsets.size() >= 18 ? 0 : 1;
}

// --- seek latency -----------------------------------------------------------

// The number carried by the left half of a 16:9 picture in the 740x540 sink:
// quarter one grey (n % 32) * 6 + 24, quarter two (n / 32) * 6 + 24 (luma).
int NumberOf(const Sink& s) {
    auto level = [&](int x) {
        double luma = 16 + s.Grey(x, kHeight / 2) * 219.0 / 255.0;
        return (luma - 24) / 6;
    };
    double low = level(kWidth / 8), high = level(kWidth * 3 / 8);
    if (std::fabs(low - std::round(low)) > 0.35 || std::fabs(high - std::round(high)) > 0.35) return -1;
    return static_cast<int>(std::lround(high)) * 32 + static_cast<int>(std::lround(low));
}

int Seeks(const char* file) {
    PlayerInit();
    Sink sink(kWidth, kHeight);
    // The numbers of the pictures shown since the latest seek, and when.
    std::vector<std::pair<int, Clock::time_point>> seen;
    sink.probe = [&](const Sink& s, Clock::time_point at) { seen.emplace_back(NumberOf(s), at); };
    PlayerHandle h = PlayerOpenFile(file, 0);
    if (h == PLAYER_NO_HANDLE) return 1;
    PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
    PlayerPlay(h, &sink.window);
    std::this_thread::sleep_for(1s);
    // A seek from a pause shows the key frame it starts from, then lands: on
    // the target, or on the picture decoding on reached within its time.
    struct Landing {
        double first_ms = NAN;    // the key frame or the target, whichever first
        double landed_ms = NAN;
        int short_by = -1;        // pictures before the target (past it: a key frame after it)
    };
    auto seek_and_land = [&](const std::vector<uint32_t>& targets, bool then_play = true) {
        PlayerPause(h);
        std::this_thread::sleep_for(200ms);
        Clock::time_point last;
        for (size_t i = 0; i < targets.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(50ms);
            {
                std::lock_guard lock(sink.mutex);
                seen.clear();
                last = Clock::now();
            }
            PlayerSetPlayTime(h, targets[i]);
        }
        const int wanted = static_cast<int>(targets.back() / 40);
        const int key = wanted / 250 * 250;
        Landing landing;
        std::unique_lock lock(sink.mutex);
        sink.changed.wait_for(lock, 10s, [&] {
            for (const auto& [number, at] : seen) {
                if (number < 0) continue;
                if (std::isnan(landing.first_ms)) landing.first_ms = Ms(at - last);
                if (number != key) {
                    landing.landed_ms = Ms(at - last);
                    landing.short_by = wanted - number;
                    return true;
                }
            }
            return false;
        });
        lock.unlock();
        if (then_play) {
            PlayerPlay(h, &sink.window);
            std::this_thread::sleep_for(500ms);
        }
        return landing;
    };
    std::vector<double> first, landed, short_by;
    for (int round = 0; round < 5; ++round) {
        // Targets 9 s past the key frames at 0 s and 10 s, as a seek bar dragged.
        std::vector<uint32_t> targets;
        for (int i = 0; i < 10; ++i) targets.push_back((round % 2 ? 19000 : 9000) + static_cast<uint32_t>(i * 80 + round * 40));
        const Landing landing = seek_and_land(targets);
        first.push_back(landing.first_ms);
        landed.push_back(landing.landed_ms);
        short_by.push_back(landing.short_by);
    }
    std::vector<double> single, single_short;
    for (int round = 0; round < 3; ++round) {
        const Landing landing = seek_and_land({9000 + static_cast<uint32_t>(round * 10000)});
        single.push_back(landing.landed_ms);
        single_short.push_back(landing.short_by);
    }
    // A click 1 s further along the bar once a seek has landed, paused.
    std::vector<double> ahead, ahead_short;
    for (int round = 0; round < 3; ++round) {
        const uint32_t from = 4000 + static_cast<uint32_t>(round * 10000);
        seek_and_land({from}, false);
        const Landing landing = seek_and_land({from + 1000});
        ahead.push_back(landing.landed_ms);
        ahead_short.push_back(landing.short_by);
    }
    // Played 0.5 s from a landed seek, paused, then a click 1 s further along.
    std::vector<double> played_ahead, played_ahead_short;
    for (int round = 0; round < 3; ++round) {
        seek_and_land({4000 + static_cast<uint32_t>(round * 10000)});
        const Landing landing = seek_and_land({PlayerGetPlayTime(h) / 40 * 40 + 1000});
        played_ahead.push_back(landing.landed_ms);
        played_ahead_short.push_back(landing.short_by);
    }
    PlayerClose(h);
    std::printf("%-24s ten seeks 50 ms apart: key frame shown at %+.0f, landed at %.0f, %.0f pictures short of the "
                "target (median of 5; worst %.0f ms)  one exact seek 9 s past a key frame: landed at %.0f, %.0f "
                "short (median of 3)  a seek 1 s ahead of a landed one, paused: landed at %.0f, %.0f short (median "
                "of 3)  played, paused, a seek 1 s ahead: landed at %.0f, %.0f short (median of 3) (ms)\n",
                "libPlayerSDK", Median(first), Median(landed), Median(short_by), WorstAbs(landed), Median(single),
                Median(single_short), Median(ahead), Median(ahead_short), Median(played_ahead),
                Median(played_ahead_short));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "avsync") return AvSync(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "seeks") return Seeks(argv[2]);
    std::fprintf(stderr, "usage: engine_bench avsync|seeks FILE\n");
    return 2;
}
