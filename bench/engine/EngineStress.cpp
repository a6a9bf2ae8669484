// Stress for race detectors: LOOPS times open a clip with sound, turn sound
// on, play, seek, turn sound off and on, and close, at random short
// intervals, while a second thread polls the play time as a window's timer
// would. Exit status 0 when every open succeeded.
//   engine_stress FILE [LOOPS]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "player/PlayerSdk.h"

#define STRESS_DECLARE(number, name, result, params, args) extern "C" result name params;
PLAYER_ENTRY_POINTS(STRESS_DECLARE)
#undef STRESS_DECLARE

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int loops = argc > 2 ? std::atoi(argv[2]) : 500;
    PlayerInit();
    PlayerWindow window{};
    window.post = [](void*, uint32_t, intptr_t, intptr_t) {};
    window.present = [](void*, const uint8_t*, int, int, int) {};
    window.area_size = [](void*, int* w, int* h) {
        *w = 64;
        *h = 48;
    };
    std::atomic<PlayerHandle> current{PLAYER_NO_HANDLE};
    std::atomic<bool> done{false};
    std::thread poller([&] {
        while (!done) {
            PlayerHandle h = current;
            PlayerGetPlayTime(h);
            PlayerHasAudio(h);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    std::mt19937 random(7);
    auto pause = [&] { std::this_thread::sleep_for(std::chrono::microseconds(random() % 8000)); };
    int failures = 0;
    for (int i = 0; i < loops; ++i) {
        PlayerHandle h = PlayerOpenFile(argv[1], 0);
        if (h == PLAYER_NO_HANDLE) {
            ++failures;
            continue;
        }
        current = h;
        PlayerSetNotifyWindow(h, &window, WM_PLAYER_NOTIFY);
        PlayerSoundOn(h);
        PlayerPlay(h, &window);
        pause();
        if (random() % 2) PlayerSetPlayTime(h, static_cast<uint32_t>(random() % (PlayerGetTotalTime(h) + 1)));
        pause();
        if (random() % 3 == 0) {
            PlayerSoundOff(h);
            PlayerSoundOn(h);
        }
        if (random() % 4 == 0) PlayerPause(h);
        pause();
        PlayerClose(h);
        current = PLAYER_NO_HANDLE;
        if ((i + 1) % 100 == 0) std::fprintf(stderr, "%d loops\n", i + 1);
    }
    done = true;
    poller.join();
    std::printf("engine_stress: %d loops, %d failed opens\n", loops, failures);
    return failures == 0 ? 0 : 1;
}
