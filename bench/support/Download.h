// Downloads through the library's entry points, timed from outside as a
// program runs them: NetStartDownload of one recording into each destination
// at once, then NetGetDownloadProgress polled until each has ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The library's entry points are declared there.
#include "support/PictureSink.h"

namespace bench {

// The login of the recorders the benches start.
inline constexpr const char* kLogin = "246135";

struct Downloaded {
    uintmax_t bytes = 0;  // written over all destinations
    double seconds = 0;   // from the first start to the last end
    double MbPerSecond() const { return static_cast<double>(bytes) / seconds / 1048576; }
};

// Downloads `name` from the recorder on 127.0.0.1:`port` into each of
// `destinations` at once; nothing (after saying why on stderr) when one was
// refused or left no file.
inline std::optional<Downloaded> Download(uint16_t port, const char* name,
                                          const std::vector<std::string>& destinations) {
    using Clock = std::chrono::steady_clock;
    std::vector<int32_t> handles;
    const auto started = Clock::now();
    for (const std::string& destination : destinations)
        handles.push_back(NetStartDownload("127.0.0.1", kLogin, kLogin, name, destination.c_str(), port, 0, 0, 0));
    for (const int32_t h : handles)
        while (h >= 0 && NetGetDownloadProgress(h) >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Downloaded done;
    done.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    bool ok = true;
    for (size_t i = 0; i < handles.size(); ++i) {
        if (handles[i] < 0) {
            std::fprintf(stderr, "NetStartDownload refused %s\n", destinations[i].c_str());
            ok = false;
            continue;
        }
        NetStopDownload(handles[i]);
        std::error_code ec;
        const auto size = std::filesystem::file_size(destinations[i], ec);
        if (ec) {
            std::fprintf(stderr, "download into %s failed\n", destinations[i].c_str());
            ok = false;
        } else {
            done.bytes += size;
        }
    }
    if (!ok) return std::nullopt;
    return done;
}

}  // namespace bench
