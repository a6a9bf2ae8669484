// A/V offset through a real sound server, for the library and for another
// player in the same way. The sound goes to the default sink of a sound server
// (PulseAudio with a null sink, started by bench/engine/av_server.sh) and is
// captured back from its monitor in this process: SDL capture in buffers of
// 256 samples, each sample dated by the arrival of its buffer. A picture is
// dated when the library presents it (in-process sink), or, for another
// player, when its window on the X server turns white (one pixel of the root
// window read every millisecond). For each flash: beep heard - flash shown.
//   av_offset_bench library FILE SECONDS
//   av_offset_bench screen X Y SECONDS COMMAND...   (COMMAND is started here)
#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/PictureSink.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRate = 48000;
constexpr int kLoud = 300;

// Beep onsets heard at the sound server's monitor.
class Monitor {
public:
    bool Start() {
        SDL_AudioSpec wanted{};
        wanted.freq = kRate;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = 1;
        wanted.samples = 256;
        wanted.callback = [](void* self, Uint8* data, int length) {
            static_cast<Monitor*>(self)->Take(reinterpret_cast<const int16_t*>(data), length / 2);
        };
        wanted.userdata = this;
        device_ = SDL_OpenAudioDevice(nullptr, 1, &wanted, nullptr, 0);
        if (device_ == 0) return false;
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }
    void Stop() {
        if (device_ != 0) SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    std::vector<Clock::time_point> Onsets() {
        std::lock_guard lock(mutex_);
        return onsets_;
    }

private:
    void Take(const int16_t* samples, int count) {
        const auto arrived = Clock::now();
        std::lock_guard lock(mutex_);
        for (int i = 0; i < count; ++i) {
            const bool loud = std::abs(samples[i]) >= kLoud;
            if (loud && quiet_ >= kRate / 10) {
                onsets_.push_back(arrived - std::chrono::microseconds(int64_t{count - i} * 1000000 / kRate));
            }
            quiet_ = loud ? 0 : quiet_ + 1;
        }
    }
    SDL_AudioDeviceID device_ = 0;
    std::mutex mutex_;
    int64_t quiet_ = 0;
    std::vector<Clock::time_point> onsets_;
};

// Rising edges of a grey level: when it turned white.
struct Flashes {
    bool white = false;
    std::vector<Clock::time_point> at;
    void See(double grey, Clock::time_point when) {
        const bool now_white = grey > 128;
        if (now_white && !white) at.push_back(when);
        white = now_white;
    }
};

std::vector<Clock::time_point> LibraryFlashes(const char* file, double seconds) {
    bench::PictureSink sink(320, 240);
    Flashes flashes;
    sink.probe = [&](const bench::PictureSink& s, Clock::time_point at) { flashes.See(s.Grey(s.width / 2, s.height / 2), at); };
    PlayerInit();
    PlayerHandle h = PlayerOpenFile(file, 0);
    if (h == PLAYER_NO_HANDLE) return {};
    PlayerSetNotifyWindow(h, &sink.window, WM_PLAYER_NOTIFY);
    PlayerSoundOn(h);
    PlayerPlay(h, &sink.window);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    PlayerClose(h);
    std::lock_guard lock(sink.mutex);
    return flashes.at;
}

std::vector<Clock::time_point> ScreenFlashes(int x, int y, double seconds, char** command) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return {};
    pid_t pid = -1;
    if (posix_spawnp(&pid, command[0], nullptr, nullptr, command, environ) != 0) return {};
    Flashes flashes;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const Window root = DefaultRootWindow(display);
    while (Clock::now() < end) {
        XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
        const auto now = Clock::now();
        if (image != nullptr) {
            const unsigned long pixel = XGetPixel(image, 0, 0);
            flashes.See(((pixel >> 16 & 0xff) + (pixel >> 8 & 0xff) + (pixel & 0xff)) / 3.0, now);
            XDestroyImage(image);
        }
        std::this_thread::sleep_for(1ms);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(display);
    return flashes.at;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "library" && argc == 4) || (mode == "screen" && argc >= 6))) {
        std::fprintf(stderr, "usage: av_offset_bench library FILE SECONDS | screen X Y SECONDS COMMAND...\n");
        return 2;
    }
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 1;
    Monitor monitor;
    if (!monitor.Start()) {
        std::fprintf(stderr, "no capture device (the sound server's monitor)\n");
        return 1;
    }
    const std::vector<Clock::time_point> flashes =
        mode == "library" ? LibraryFlashes(argv[2], std::atof(argv[3]))
                          : ScreenFlashes(std::atoi(argv[2]), std::atoi(argv[3]), std::atof(argv[4]), argv + 5);
    std::this_thread::sleep_for(300ms);  // the last beep reaches the monitor
    monitor.Stop();
    const std::vector<Clock::time_point> beeps = monitor.Onsets();
    std::vector<double> offsets;
    for (Clock::time_point flash : flashes) {
        double best = NAN;
        for (Clock::time_point beep : beeps) {
            const double offset = std::chrono::duration<double, std::milli>(beep - flash).count();
            if (std::fabs(offset) < 400 && (std::isnan(best) || std::fabs(offset) < std::fabs(best))) best = offset;
        }
        if (!std::isnan(best)) offsets.push_back(best);
    }
    if (offsets.empty()) {
        std::printf("no flash with a beep (%zu flashes, %zu beeps)\n", flashes.size(), beeps.size());
        return 1;
    }
    std::vector<double> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    double worst = 0;
    for (double o : offsets) worst = std::fabs(o) > std::fabs(worst) ? o : worst;
    std::printf("%zu flashes: median %+.1f ms, worst %+.1f ms (beep heard - flash shown)\n", offsets.size(), median, worst);
    return 0;
}
