// Plays one file with libPlayerSDK.so through its entry points, as the
// program does but into an in-process picture sink (nothing is drawn on
// screen), and prints what was shown:
//   recorded_play FILE SOUND_FILE [LIMIT_S]
// SOUND_FILE is where SDL's disk driver writes the sound (SDL_AUDIODRIVER=disk,
// SDL_DISKAUDIOFILE): sound counts as present when some of it is not silent.
// A file that does not open yet (a recording still being written) is tried
// again for a few seconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "support/PictureSink.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool SoundHeard(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    int16_t sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) {
        if (std::abs(sample) > 64) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: recorded_play FILE SOUND_FILE [LIMIT_S]\n");
        return 2;
    }
    const double limit_s = argc > 3 ? std::atof(argv[3]) : 30;
    PlayerInit();
    const auto started = Clock::now();
    PlayerHandle h = PLAYER_NO_HANDLE;
    while ((h = PlayerOpenFile(argv[1], 0)) == PLAYER_NO_HANDLE && Clock::now() - started < 5s) {
        std::this_thread::sleep_for(200ms);
    }
    if (h == PLAYER_NO_HANDLE) {
        std::printf("refused (-1)\n");
        return 0;
    }
    bench::PictureSink sink(640, 480);
    const uint32_t total_at_open = PlayerGetTotalTime(h);
    PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
    PlayerSoundOn(h);
    PlayerPlay(h, &sink.window);
    uint32_t reached = 0;
    const auto playing = Clock::now();
    while (!sink.Ended() && Clock::now() - playing < std::chrono::duration<double>(limit_s)) {
        reached = std::max(reached, PlayerGetPlayTime(h));
        std::this_thread::sleep_for(50ms);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - playing).count();
    const uint32_t total_at_end = PlayerGetTotalTime(h);
    const bool has_audio = PlayerHasAudio(h) == 1;
    PlayerClose(h);
    std::printf("pictures=%-4d reached=%6.2fs total=%.2f->%.2fs end=%-3s wall=%5.1fs sound=%s\n", sink.Presents(),
                reached / 1000.0, total_at_open / 1000.0, total_at_end / 1000.0, sink.Ended() ? "yes" : "no", wall,
                has_audio && SoundHeard(argv[2]) ? "yes" : (has_audio ? "declared, silent" : "no"));
    return 0;
}
