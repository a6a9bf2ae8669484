// Search over a synthetic index of 1,000,000 recordings: one channel's day,
// measured in the index itself and as an HTTP round trip to the service.
#include "RecorderServer.h"
#include "RecordingIndex.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

using namespace recorder;
using Clock = std::chrono::steady_clock;

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

}  // namespace

int main() {
    constexpr int kRecordings = 1'000'000;
    // Four channels of back-to-back 10-minute segments (144 a day), plus a
    // picture every hour: about 1,600 days of a busy recorder.
    const auto built = Clock::now();
    RecordingIndex index;
    const CivilSeconds first = *parseCompact("20220101000000");
    int added = 0;
    for (int64_t slot = 0; added < kRecordings; ++slot) {
        for (int channel = 1; channel <= 4 && added < kRecordings; ++channel) {
            RecordingKey key{channel, RecordingType::Mpeg4, first + slot * 600, first + slot * 600 + 599};
            if (slot % 6 == 0 && channel == 4) {
                key.type = RecordingType::Jpeg;
                key.end = key.start;
            }
            index.add("ch" + std::to_string(channel), makeRecordingName(key), 1u << 20);
            ++added;
        }
    }
    index.finish();
    std::printf("index: %zu recordings built in %.0f ms\n", index.size(), MsSince(built));

    // A day in the middle of the recorded span.
    const SearchQuery day{2, RecordingType::Mpeg4, true, *parseCompact("20230615000000"),
                          *parseCompact("20230615235959")};
    std::vector<double> inIndex;
    size_t found = 0;
    for (int i = 0; i < 200; ++i) {
        const auto t = Clock::now();
        found = index.search(day).size();
        inIndex.push_back(MsSince(t));
    }

    RecorderOptions options;
    options.root = std::filesystem::temp_directory_path();
    options.port = 0;
    options.logRequests = false;
    RecorderServer server(index, options);
    const int port = server.bind();
    if (port < 0) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    std::thread serving([&] { server.serve(); });
    httplib::Client client("127.0.0.1", port);
    client.set_basic_auth("246135", "246135");
    client.set_keep_alive(true);
    std::vector<double> overHttp;
    size_t lines = 0;
    for (int i = 0; i < 50; ++i) {
        const auto t = Clock::now();
        const auto res = client.Get(
            "/api/search?channel=2&type=1&limit=1&start=20230615000000&end=20230615235959");
        overHttp.push_back(MsSince(t));
        if (!res || res->status != 200) {
            std::fprintf(stderr, "search over HTTP failed\n");
            break;
        }
        lines = static_cast<size_t>(std::count(res->body.begin(), res->body.end(), '\n'));
    }
    server.stop();
    serving.join();

    std::printf("one-day channel query: %zu recordings found\n", found);
    std::printf("  in the index:      median %.1f us, worst %.1f us (goal < 10 ms)\n",
                Median(inIndex) * 1000, *std::max_element(inIndex.begin(), inIndex.end()) * 1000);
    std::printf("  HTTP round trip:   median %.3f ms (%zu lines)\n", Median(overHttp), lines);
    return 0;
}
