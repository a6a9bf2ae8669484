// One download of a recording into a local file, on its own thread. The
// bytes go to a file beside the destination that is renamed onto it only
// when the whole recording has arrived; a failed or stopped download leaves
// the destination as it was. The transfer itself is the download's job: our
// recorder's file over HTTP, or an ONVIF device's replay (OnvifReplay.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "net/RecorderClient.h"

namespace playersdk::net {

// How far a job has come, in units of its own (bytes, ms of media).
struct DownloadProgress {
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> total{0};  // 0 until known
    // A recording still being written: `total` is what there was when the
    // recorder answered, and grows with what comes after.
    std::atomic<bool> growing{false};
};

// Writes the whole recording at the destination and answers true, or leaves
// the destination as it was and answers false; gives up soon once `stopping`.
using DownloadJob = std::function<bool(const std::atomic<bool>& stopping, DownloadProgress& progress)>;

// Our recorder's file of that name, into `destination` (a local path).
DownloadJob RecorderFileJob(RecorderLogin login, std::string name, std::string destination);

class DownloadTask {
public:
    explicit DownloadTask(DownloadJob job);
    ~DownloadTask();
    DownloadTask(const DownloadTask&) = delete;
    DownloadTask& operator=(const DownloadTask&) = delete;

    void Start();
    // 0 to 100 while running, 100 once more when it has finished; -1 once
    // over, finished or failed.
    int32_t Progress() const;
    bool Succeeded() const { return state_ == State::Done; }
    // Ends a running download (its file aside removed) and waits for the
    // thread. A finished download stays in place.
    void Stop();

private:
    enum class State { Running, Done, Failed };
    void Run();

    DownloadJob job_;
    std::thread thread_;
    std::atomic<State> state_{State::Running};
    mutable std::atomic<bool> completion_reported_{false};
    DownloadProgress progress_;
    std::atomic<bool> stopping_{false};
};

}  // namespace playersdk::net
