// One search of the recorder, run on its own thread: fetches the list and
// calls the caller's callback once per recording, in order. No call is made
// before Release() (the caller's NetSearchFiles has returned) nor after
// Stop() has returned, and none with a lock held that Stop() takes. An
// answer too long or too slow to be a list of recordings fails the search,
// with no rows.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/RecorderClient.h"
#include "player/PlayerSdk.h"

namespace playersdk::net {

struct SearchRequest {
    RecorderLogin login;
    int channel = 1;    // 1 to 4
    int type = 1;       // 1 MPEG-4, 2 JPEG
    bool limit = false;
    std::string from;   // YYYYMMDDHHMMSS, when limit
    std::string to;
    SearchResultCallback callback = nullptr;
};

class SearchTask : public std::enable_shared_from_this<SearchTask> {
public:
    explicit SearchTask(SearchRequest request);
    ~SearchTask();
    SearchTask(const SearchTask&) = delete;
    SearchTask& operator=(const SearchTask&) = delete;

    // Starts the thread, which keeps the task alive while it runs (a
    // callback may stop its own search); results wait for Release().
    void Start(int32_t handle);
    void Release();
    // True once every result has been delivered (or the search failed).
    bool Finished() const { return finished_; }
    // Stops the search and waits for its thread; no callback follows.
    void Stop();

private:
    // The thread's body: searches and delivers, and ends the task even when
    // that failed (the host's callback threw).
    void Run();
    void SearchAndDeliver();
    // Waits for Release(); false when stopped first.
    bool WaitForRelease();

    SearchRequest request_;
    int32_t handle_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    bool stopping_ = false;
    bool calling_ = false;   // a callback is under way
    std::atomic<bool> finished_{false};
    std::unique_ptr<httplib::Client> client_;  // under mutex_, for Stop to cut it short
};

}  // namespace playersdk::net
