// One download of a recording into a local file, on its own thread. The
// bytes go to a file beside the destination that is renamed onto it only
// when the whole recording has arrived; a failed or stopped download leaves
// the destination as it was.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "net/RecorderClient.h"

namespace playersdk {
class AsideFile;
}

namespace playersdk::net {

class DownloadTask {
public:
    DownloadTask(RecorderLogin login, std::string name, std::string destination);
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
    // Fetches the recording into `file`; true when all of it arrived.
    bool Transfer(AsideFile& file);

    RecorderLogin login_;
    std::string name_;
    std::string destination_;  // already mapped to a local path
    std::thread thread_;
    std::atomic<State> state_{State::Running};
    mutable std::atomic<bool> completion_reported_{false};
    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> total_{0};
    std::atomic<bool> stopping_{false};
};

}  // namespace playersdk::net
