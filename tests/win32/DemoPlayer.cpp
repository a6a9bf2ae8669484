// The scripted behaviour of the demo PlayerSDK.dll, for screenshots of the
// real programs under Wine: a file "plays" a drawn test picture with a
// running clock, a search reports a few recordings from a library thread, a
// stream buffers and then plays the same picture. Nothing is decoded. Built
// in both calling conventions.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "player/Binding.h"

extern "C" void FakeSdkConnect(const player::Table* host);

namespace {

using Clock = std::chrono::steady_clock;

constexpr PlayerHandle kFile = 1;
constexpr PlayerHandle kStream = 2;
constexpr uint32_t kTotalMs = 61000;

struct Picture {
    std::atomic<HWND> window{nullptr};
    Clock::time_point start = Clock::now();
    std::atomic<bool> running{false};
};

Picture g_file, g_stream;
std::atomic<HWND> g_notify{nullptr};
std::atomic<int> g_buffer_percent{-1};
std::atomic<int> g_search_state{0};

uint32_t Elapsed(const Picture& picture) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - picture.start).count();
    return static_cast<uint32_t>(ms) % kTotalMs;
}

// Colour bars, a square that moves with the clock and the clock itself,
// drawn aside and then shown whole.
void Draw(HWND window, uint32_t ms, const char* label) {
    RECT area{};
    GetClientRect(window, &area);
    HDC screen = GetDC(window);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, area.right, area.bottom);
    HGDIOBJ previous = SelectObject(dc, picture);
    static const COLORREF bars[] = {RGB(192, 192, 192), RGB(192, 192, 0), RGB(0, 192, 192), RGB(0, 192, 0),
                                    RGB(192, 0, 192), RGB(192, 0, 0), RGB(0, 0, 192)};
    const int count = sizeof bars / sizeof bars[0];
    for (int i = 0; i < count; ++i) {
        RECT bar{area.right * i / count, 0, area.right * (i + 1) / count, area.bottom};
        HBRUSH brush = CreateSolidBrush(bars[i]);
        FillRect(dc, &bar, brush);
        DeleteObject(brush);
    }
    const int side = area.bottom / 5;
    const int x = static_cast<int>((area.right - side) * static_cast<int64_t>(ms % 10000) / 10000);
    RECT square{x, area.bottom - side * 2, x + side, area.bottom - side};
    FillRect(dc, &square, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    char text[32];
    std::snprintf(text, sizeof text, "%s %02u:%02u:%02u", label, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
    SetBkColor(dc, RGB(0, 0, 0));
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 12, 10, text, static_cast<int>(std::strlen(text)));
    BitBlt(screen, 0, 0, area.right, area.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, previous);
    DeleteObject(picture);
    DeleteDC(dc);
    ReleaseDC(window, screen);
}

void Run(Picture& picture, HWND window, const char* label) {
    picture.window = window;
    picture.start = Clock::now();
    if (picture.running.exchange(true)) return;
    std::thread([&picture, label] {
        while (picture.running) {
            if (HWND w = picture.window; w != nullptr && IsWindow(w)) Draw(w, Elapsed(picture), label);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    }).detach();
}

void Post(int code, PlayerHandle h) {
    if (HWND w = g_notify; w != nullptr) PostMessageW(w, WM_PLAYER_NOTIFY, code, h);
}

player::Table DemoTable() {
    player::Table t;
    t.PlayerOpenFile = [](const char* path, int32_t) -> PlayerHandle {
        // The path's bytes, one line each, where VARNEL_DEMO_OPEN_LOG says.
        char log[MAX_PATH] = {};
        if (GetEnvironmentVariableA("VARNEL_DEMO_OPEN_LOG", log, MAX_PATH) > 0) {
            if (std::FILE* file = std::fopen(log, "ab")) {
                std::fprintf(file, "%s\n", path);
                std::fclose(file);
            }
        }
        return kFile;
    };
    t.PlayerSetNotifyWindow = [](PlayerHandle, PlayerWindowHandle w, uint32_t) -> int32_t {
        g_notify = reinterpret_cast<HWND>(w);
        return 1;
    };
    t.PlayerPlay = [](PlayerHandle h, PlayerWindowHandle w) -> int32_t {
        if (h == kFile) Run(g_file, reinterpret_cast<HWND>(w), "CH1");
        return 1;
    };
    t.PlayerClose = [](PlayerHandle h) -> int32_t {
        (h == kFile ? g_file : g_stream).running = false;
        return 1;
    };
    t.PlayerHasAudio = [](PlayerHandle) -> int32_t { return 1; };
    t.PlayerGetTotalTime = [](PlayerHandle) -> uint32_t { return kTotalMs; };
    t.PlayerGetPlayTime = [](PlayerHandle h) -> uint32_t { return Elapsed(h == kFile ? g_file : g_stream); };
    t.NetSearchFiles = [](const char*, const char*, int32_t, const char*, const char*, int32_t, int32_t, int32_t,
                          const NetTime* from, const NetTime*, SearchResultCallback callback, PlayerWindowHandle,
                          uint16_t) -> int32_t {
        g_search_state = 0;
        const NetTime day = *from;
        std::thread([callback, day] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // after the list is emptied
            for (uint8_t hour = 8; hour < 20; hour += 2) {
                NetTime start = day, end = day;
                start.hour = end.hour = hour;
                start.minute = 5;
                end.minute = 35;
                char name[64];
                std::snprintf(name, sizeof name, "ch1_%04u%02u%02u_%02u0500.mp4", day.year, day.month, day.day, hour);
                callback(1, 0, name, &start, &end, (hour % 3 + 1) * 7340032u, 0);
            }
            g_search_state = 1;
        }).detach();
        return 1;
    };
    t.NetGetSearchState = [](int32_t) -> int32_t { return g_search_state; };
    t.NetOpenStream = [](const char*, const char*, const char*, const char*, PlayerWindowHandle picture,
                         uint16_t) -> PlayerHandle {
        g_stream.window = reinterpret_cast<HWND>(picture);
        g_buffer_percent = 0;
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Post(PLAYER_EVENT_BUFFERING, kStream);
            for (int percent = 0; percent <= 100; percent += 20) {
                g_buffer_percent = percent;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            g_buffer_percent = -1;
            Run(g_stream, g_stream.window, "CH1");
            Post(PLAYER_EVENT_STARTED, kStream);
        }).detach();
        return kStream;
    };
    t.NetGetBufferProgress = [](PlayerHandle) -> int32_t { return g_buffer_percent; };
    return t;
}

// Connected as the DLL loads, as a test connects its scripted fake.
const bool g_connected = [] {
    static const player::Table table = DemoTable();
    FakeSdkConnect(&table);
    return true;
}();

}  // namespace
