// Runs a player as a user does, on the X server of $DISPLAY, and watches its
// window from outside: no part of the player is replaced or instrumented.
//
//   window_probe play SECONDS -- COMMAND...
//       Time from launch to the first picture (a coloured pixel in the
//       window), then the CPU seconds (user + system, all threads) and peak
//       resident memory of the whole process, which is ended SECONDS after its
//       first picture unless it has ended by itself; and the same CPU split
//       into start-up (launch to 5 s after the first picture) and steady
//       state (per second after that), with the pictures shown per second
//       in the steady state: a player short of CPU shows fewer and spends
//       less, so its CPU figure stands only beside a full picture rate.
//   window_probe seek PAUSE SEEK... -- COMMAND...
//       After the first picture, sends the PAUSE input, then each SEEK input
//       in turn and times it until the picture changes (the median is printed).
//
//   window_probe av SECONDS SOUND_FILE [START_INPUT] -- COMMAND...
//       Pictures and sound against each other, for a clip whose pictures
//       carry their number as a bar code of 10 bits across the middle (bit
//       0 on the left) and whose sound is a 440 Hz tone with a 50 ms beep of
//       1000 + 100 k Hz at each whole second k, played through SDL's disk
//       driver into SOUND_FILE (16-bit mono, 48 kHz). Sends START_INPUT
//       after the first picture (the sound switch of a window), then watches
//       until the player ends or SECONDS have passed, and prints pictures
//       shown per second, the worst lag of the picture behind the sound, the
//       pace of the picture's time against the wall clock, and the seconds
//       of sound missing.
// Inputs are real X events (the XTest extension), at a place given in units
// of the window's size, so a dialog laid out in dialog units can be aimed at:
//   key:NAME                      a key (an X keysym name), pointer in the window
//   click:BUTTON:X:Y:UNITS_X:UNITS_Y  a press and release of a mouse button at
//                                 (X / UNITS_X, Y / UNITS_Y) of the window's size
// --watch X:Y:W:H:UNITS_X:UNITS_Y (before --) names the part of the window
// that shows the picture; the whole window by default.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Box {
    double x = 0, y = 0, w = 1, h = 1, units_x = 1, units_y = 1;
};

std::vector<std::string> Split(const std::string& text, char by) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(by, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

class Screen {
public:
    Screen() : display_(XOpenDisplay(nullptr)) {
        // A window that goes away between two requests is not an error here.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~Screen() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool Ok() const { return display_ != nullptr; }

    // The largest viewable top-level window of process `pid`.
    Window FindWindowOf(pid_t pid) {
        const Atom pid_atom = XInternAtom(display_, "_NET_WM_PID", True);
        if (pid_atom == None) return 0;
        Window root_back, parent, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, DefaultRootWindow(display_), &root_back, &parent, &children, &count)) return 0;
        Window best = 0;
        long best_area = 0;
        for (unsigned i = 0; i < count; ++i) {
            Atom type;
            int format;
            unsigned long items, after;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display_, children[i], pid_atom, 0, 1, False, XA_CARDINAL, &type, &format,
                                   &items, &after, &data) != Success || data == nullptr)
                continue;
            const long owner = items == 1 ? *reinterpret_cast<long*>(data) : -1;
            XFree(data);
            XWindowAttributes attributes;
            if (owner != pid || !XGetWindowAttributes(display_, children[i], &attributes) ||
                attributes.map_state != IsViewable)
                continue;
            const long area = static_cast<long>(attributes.width) * attributes.height;
            if (area > best_area) {
                best = children[i];
                best_area = area;
            }
        }
        if (children != nullptr) XFree(children);
        return best;
    }

    void Size(Window window, int* width, int* height) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window, &attributes);
        *width = attributes.width;
        *height = attributes.height;
    }

    // Three rows across the watched part, as B,G,R bytes: enough to see a
    // picture arrive or change, cheap enough to poll every few milliseconds.
    std::vector<uint8_t> Sample(Window window, const Box& box) {
        int width, height;
        Size(window, &width, &height);
        const int x = static_cast<int>(box.x / box.units_x * width);
        const int w = std::max(1, static_cast<int>(box.w / box.units_x * width));
        const int top = static_cast<int>(box.y / box.units_y * height);
        const int h = std::max(1, static_cast<int>(box.h / box.units_y * height));
        std::vector<uint8_t> pixels;
        for (double row : {0.3, 0.5, 0.7}) {
            const int y = top + static_cast<int>(row * h);
            XImage* image = XGetImage(display_, window, x, y, static_cast<unsigned>(w), 1, AllPlanes, ZPixmap);
            if (image == nullptr) return {};
            for (int i = 0; i < w; ++i) {
                const unsigned long pixel = XGetPixel(image, i, 0);
                pixels.push_back(static_cast<uint8_t>(pixel));
                pixels.push_back(static_cast<uint8_t>(pixel >> 8));
                pixels.push_back(static_cast<uint8_t>(pixel >> 16));
            }
            XDestroyImage(image);
        }
        return pixels;
    }

    // The middle row of the watched part, as grey levels.
    std::vector<uint8_t> MiddleRow(Window window, const Box& box) {
        int width, height;
        Size(window, &width, &height);
        const int x = static_cast<int>(box.x / box.units_x * width);
        const int w = std::max(1, static_cast<int>(box.w / box.units_x * width));
        const int y = static_cast<int>((box.y + box.h / 2) / box.units_y * height);
        XImage* image = XGetImage(display_, window, x, y, static_cast<unsigned>(w), 1, AllPlanes, ZPixmap);
        if (image == nullptr) return {};
        std::vector<uint8_t> grey;
        for (int i = 0; i < w; ++i) grey.push_back(static_cast<uint8_t>(XGetPixel(image, i, 0) >> 8));
        XDestroyImage(image);
        return grey;
    }

    bool Send(Window window, const std::string& input) {
        const std::vector<std::string> parts = Split(input, ':');
        int width, height;
        Size(window, &width, &height);
        int root_x = 0, root_y = 0;
        Window child;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &root_x, &root_y, &child);
        if (parts[0] == "key" && parts.size() == 2) {
            const KeySym symbol = XStringToKeysym(parts[1].c_str());
            const KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display_, symbol);
            if (code == 0) return false;
            XTestFakeMotionEvent(display_, -1, root_x + width / 2, root_y + height / 2, 0);
            XTestFakeKeyEvent(display_, code, True, 0);
            XTestFakeKeyEvent(display_, code, False, 0);
        } else if (parts[0] == "click" && parts.size() == 6) {
            const unsigned button = static_cast<unsigned>(std::atoi(parts[1].c_str()));
            const double x = std::atof(parts[2].c_str()) / std::atof(parts[4].c_str()) * width;
            const double y = std::atof(parts[3].c_str()) / std::atof(parts[5].c_str()) * height;
            XTestFakeMotionEvent(display_, -1, root_x + static_cast<int>(x), root_y + static_cast<int>(y), 0);
            XTestFakeButtonEvent(display_, button, True, 0);
            XTestFakeButtonEvent(display_, button, False, 0);
        } else {
            return false;
        }
        XSync(display_, False);
        return true;
    }

private:
    Display* display_;
};

bool Coloured(const std::vector<uint8_t>& pixels) {
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) {
        const auto [low, high] = std::minmax({pixels[i], pixels[i + 1], pixels[i + 2]});
        if (high - low > 60) return true;
    }
    return false;
}

struct Child {
    pid_t pid = -1;
    Clock::time_point launched;
    bool reaped = false;
    rusage usage{};

    explicit Child(char** command) {
        launched = Clock::now();
        pid = fork();
        if (pid == 0) {
            execvp(command[0], command);
            _exit(127);
        }
    }
    ~Child() { End(); }
    bool Exited() {
        if (reaped) return true;
        int status;
        if (wait4(pid, &status, WNOHANG, &usage) == pid) reaped = true;
        return reaped;
    }
    void End() {
        if (pid <= 0 || reaped) return;
        kill(pid, SIGTERM);
        int status;
        const auto give_up = Clock::now() + 5s;
        while (wait4(pid, &status, WNOHANG, &usage) != pid) {
            if (Clock::now() > give_up) kill(pid, SIGKILL);
            std::this_thread::sleep_for(5ms);
        }
        reaped = true;
    }
};

// Start-up: from launch to this long after the first picture.
constexpr auto kStartUp = 5s;

// CPU seconds (user + system, every thread) a live process has used; < 0 when
// it cannot be read.
double CpuOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t after_name = stat.rfind(')');
    if (after_name == std::string::npos) return -1;
    std::vector<std::string> fields = Split(stat.substr(after_name + 2), ' ');
    if (fields.size() < 13) return -1;  // utime and stime are fields 14 and 15 of the line
    return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / sysconf(_SC_CLK_TCK);
}

// Waits for the child's window and its first picture; the time since launch.
std::optional<double> FirstPicture(Screen& screen, Child& child, const Box& watch, Window* window) {
    const auto give_up = child.launched + 30s;
    while (Clock::now() < give_up && !child.Exited()) {
        if (*window == 0) *window = screen.FindWindowOf(child.pid);
        if (*window != 0 && Coloured(screen.Sample(*window, watch))) return Ms(Clock::now() - child.launched);
        std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
}

int Play(double seconds, const Box& watch, char** command) {
    Screen screen;
    if (!screen.Ok()) return 2;
    Child child(command);
    Window window = 0;
    const std::optional<double> first = FirstPicture(screen, child, watch, &window);
    if (!first) {
        std::fprintf(stderr, "window_probe: no picture from %s\n", command[0]);
        return 1;
    }
    const auto shown = Clock::now();
    const auto stop_at = shown + std::chrono::duration<double>(seconds);
    const auto steady_from = shown + kStartUp;
    double startup_cpu = -1, last_cpu = -1;
    Clock::time_point last_at;
    std::vector<uint8_t> on_screen;
    int changes = 0;
    while (Clock::now() < stop_at && !child.Exited()) {
        std::this_thread::sleep_for(10ms);
        const double cpu = CpuOf(child.pid);
        if (cpu < 0) continue;
        std::vector<uint8_t> picture = screen.Sample(window, watch);
        if (Clock::now() < steady_from) {
            startup_cpu = cpu;
        } else {
            last_cpu = cpu;
            last_at = Clock::now();
            if (picture != on_screen) ++changes;
        }
        on_screen = std::move(picture);
    }
    child.End();
    const rusage& u = child.usage;
    const double cpu = u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    const double steady_s = std::chrono::duration<double>(last_at - steady_from).count();
    std::printf(
        "first_picture_ms=%.0f cpu_s=%.3f peak_rss_mb=%.1f startup_cpu_s=%.3f steady_cpu_per_s=%.4f "
        "steady_shown_per_s=%.1f\n",
        *first, cpu, u.ru_maxrss / 1024.0, startup_cpu,
        last_cpu >= 0 && steady_s > 1 ? (last_cpu - startup_cpu) / steady_s : -1,
        steady_s > 1 ? changes / steady_s : -1);
    return 0;
}

// Waits until the picture has not changed for `quiet`; false on timeout.
bool Settle(Screen& screen, Window window, const Box& watch, Clock::duration quiet) {
    std::vector<uint8_t> last = screen.Sample(window, watch);
    auto since = Clock::now();
    const auto give_up = since + 10s;
    while (Clock::now() < give_up) {
        std::this_thread::sleep_for(10ms);
        std::vector<uint8_t> now = screen.Sample(window, watch);
        if (now != last) {
            last = std::move(now);
            since = Clock::now();
        } else if (Clock::now() - since >= quiet) {
            return true;
        }
    }
    return false;
}

int Seek(const std::string& pause, const std::vector<std::string>& seeks, const Box& watch, char** command) {
    Screen screen;
    if (!screen.Ok()) return 2;
    Child child(command);
    Window window = 0;
    if (!FirstPicture(screen, child, watch, &window)) {
        std::fprintf(stderr, "window_probe: no picture from %s\n", command[0]);
        return 1;
    }
    std::this_thread::sleep_for(300ms);
    if (!screen.Send(window, pause) || !Settle(screen, window, watch, 500ms)) {
        std::fprintf(stderr, "window_probe: %s did not pause\n", command[0]);
        return 1;
    }
    std::vector<double> times;
    for (const std::string& seek : seeks) {
        const std::vector<uint8_t> before = screen.Sample(window, watch);
        const auto sent = Clock::now();
        if (!screen.Send(window, seek)) return 2;
        bool changed = false;
        while (!changed && Clock::now() - sent < 5s) {
            std::this_thread::sleep_for(2ms);
            changed = screen.Sample(window, watch) != before;
        }
        if (!changed) {
            std::fprintf(stderr, "window_probe: %s: no new picture after %s\n", command[0], seek.c_str());
            return 1;
        }
        times.push_back(Ms(Clock::now() - sent));
        Settle(screen, window, watch, 400ms);
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("seek_ms=%.0f (median of %zu; runs", sorted[sorted.size() / 2], times.size());
    for (double t : times) std::printf(" %.0f", t);
    std::printf(")\n");
    return 0;
}


// --- pictures against sound ---------------------------------------------------

constexpr int kBarBits = 10;
constexpr double kFrameS = 0.04;
constexpr int kSoundRate = 48000;

// The number a bar-coded picture carries; -1 when the row is not a bar code:
// the middle half of every bar must be all black or all white, so that a row
// through the rest of the picture (a window being laid out, a picture drawn
// at another size) is not read as a number.
int BarCode(const std::vector<uint8_t>& row) {
    if (row.size() < 4 * kBarBits) return -1;
    int number = 0;
    for (int bit = 0; bit < kBarBits; ++bit) {
        const size_t from = static_cast<size_t>((bit + 0.25) * row.size() / kBarBits);
        const size_t to = static_cast<size_t>((bit + 0.75) * row.size() / kBarBits);
        const auto [low, high] = std::minmax_element(row.begin() + static_cast<long>(from),
                                                     row.begin() + static_cast<long>(to));
        if (*high <= 80) continue;
        if (*low < 176) return -1;
        number |= 1 << bit;
    }
    return number;
}

double Goertzel(const int16_t* samples, size_t count, double hz) {
    const double coefficient = 2 * std::cos(2 * M_PI * hz / kSoundRate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < count; ++i) {
        const double s0 = samples[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

struct SoundHeard {
    double loud_s = 0;
    // (sample index, media second) of each beep found, in the order heard.
    std::vector<std::pair<size_t, int>> beeps;
};

SoundHeard Listen(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(raw.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    SoundHeard heard;
    constexpr size_t kWindow = kSoundRate / 50, kHop = kSoundRate / 100;
    int last_second = -1;
    for (size_t at = 0; at + kWindow <= samples.size(); at += kHop) {
        double energy = 0;
        for (size_t i = at; i < at + kHop; ++i) energy += double(samples[i]) * samples[i];
        if (std::sqrt(energy / kHop) > 300) heard.loud_s += double(kHop) / kSoundRate;
        const double tone = Goertzel(&samples[at], kWindow, 440);
        int best = -1;
        double best_power = 0;
        for (int k = 0; k < 40; ++k) {
            const double power = Goertzel(&samples[at], kWindow, 1000 + 100 * k);
            if (power > best_power) best_power = power, best = k;
        }
        if (best >= 0 && best_power > tone * 0.1 && best != last_second) heard.beeps.emplace_back(at, best);
        if (best_power <= tone * 0.1) last_second = -1;
        else last_second = best;
    }
    return heard;
}

int PicturesAgainstSound(double seconds, const std::string& sound_file, const std::string& start_input,
                         const Box& watch, char** command) {
    Screen screen;
    if (!screen.Ok()) return 2;
    unlink(sound_file.c_str());
    Child child(command);
    Window window = 0;
    if (!FirstPicture(screen, child, watch, &window)) {
        std::fprintf(stderr, "window_probe: no picture from %s\n", command[0]);
        return 1;
    }
    const auto first = Clock::now();
    if (!start_input.empty()) screen.Send(window, start_input);
    std::vector<std::pair<double, int>> samples;   // (s since the first picture, number on screen)
    std::vector<std::pair<double, int64_t>> sizes;  // (s, bytes in the sound file)
    const auto stop_at = first + std::chrono::duration<double>(seconds);
    while (Clock::now() < stop_at && !child.Exited()) {
        const int number = BarCode(screen.MiddleRow(window, watch));
        const double now = std::chrono::duration<double>(Clock::now() - first).count();
        if (number >= 0) samples.emplace_back(now, number);
        struct stat info {};
        if (stat(sound_file.c_str(), &info) == 0 && (sizes.empty() || sizes.back().second != info.st_size))
            sizes.emplace_back(now, info.st_size);
        std::this_thread::sleep_for(3ms);
    }
    child.End();
    const SoundHeard heard = Listen(sound_file);
    // When a sample reached the file.
    auto written = [&](size_t sample) {
        for (const auto& [at, size] : sizes)
            if (size >= static_cast<int64_t>(sample + 1) * 2) return at;
        return -1.0;
    };
    std::vector<std::pair<double, double>> marks;  // (s, media time heard)
    for (const auto& [sample, second] : heard.beeps) {
        const double at = written(sample);
        if (at >= 0) marks.emplace_back(at, second);
    }
    // The media time heard at `at`: between two beeps in line, interpolated.
    auto clock = [&](double at) -> double {
        if (marks.empty()) return NAN;
        auto next = std::lower_bound(marks.begin(), marks.end(), std::make_pair(at, -1e9));
        if (next == marks.begin()) return marks.front().second - (marks.front().first - at);
        if (next == marks.end()) return marks.back().second + (at - marks.back().first);
        const auto& before = *(next - 1);
        return before.second + (next->second - before.second) * (at - before.first) / (next->first - before.first);
    };
    int shown = 0;
    double worst_lag = 0, first_change = -1, last_change = 0;
    int first_number = -1, last_number = -1, on_screen = -1;
    for (const auto& [at, number] : samples) {
        if (number != on_screen) {
            ++shown;
            if (first_change < 0) first_change = at, first_number = number;
            last_change = at;
            last_number = number;
            on_screen = number;
        }
        if (!marks.empty() && at >= marks.front().first && at <= marks.back().first)
            worst_lag = std::max(worst_lag, clock(at) - on_screen * kFrameS);
    }
    const double span = last_change - first_change;
    std::printf("shown_per_s=%.1f worst_lag_s=%.2f pace=%.2f sound_heard_s=%.1f beeps=%zu pictures=%d wall_s=%.1f\n",
                span > 0 ? (shown - 1) / span : 0, worst_lag,
                span > 0 ? (last_number - first_number) * kFrameS / span : 0, heard.loud_s, marks.size(), shown,
                span);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int dash = 1;
    while (dash < argc && std::strcmp(argv[dash], "--") != 0) ++dash;
    if (argc < 3 || dash >= argc - 1) {
        std::fprintf(stderr, "usage: window_probe play SECONDS | av SECONDS SOUND_FILE [START] | seek PAUSE SEEK... [--watch BOX] -- COMMAND...\n");
        return 2;
    }
    Box watch;
    std::vector<std::string> words(argv + 2, argv + dash);
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] != "--watch") continue;
        const std::vector<std::string> p = Split(words[i + 1], ':');
        if (p.size() != 6) return 2;
        watch = {std::atof(p[0].c_str()), std::atof(p[1].c_str()), std::atof(p[2].c_str()),
                 std::atof(p[3].c_str()), std::atof(p[4].c_str()), std::atof(p[5].c_str())};
        words.erase(words.begin() + static_cast<long>(i), words.begin() + static_cast<long>(i) + 2);
        break;
    }
    signal(SIGPIPE, SIG_IGN);
    char** command = argv + dash + 1;
    const std::string mode = argv[1];
    if (mode == "play" && words.size() == 1) return Play(std::atof(words[0].c_str()), watch, command);
    if (mode == "av" && (words.size() == 2 || words.size() == 3))
        return PicturesAgainstSound(std::atof(words[0].c_str()), words[1], words.size() == 3 ? words[2] : "", watch,
                                    command);
    if (mode == "seek" && words.size() >= 2)
        return Seek(words[0], std::vector<std::string>(words.begin() + 1, words.end()), watch, command);
    std::fprintf(stderr, "window_probe: bad arguments\n");
    return 2;
}
