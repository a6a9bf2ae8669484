// One search of the recorder, run on its own thread: fetches the list from
// its source (our recorder's protocol or ONVIF) and calls the caller's
// callback once per recording, in order, as the rows come. No call is made
// before Release() (the caller's NetSearchFiles has returned) nor after
// Stop() has returned, and none with a lock held that Stop() takes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/RecorderClient.h"
#include "player/PlayerSdk.h"

namespace playersdk::net {

struct FoundRecording {
    std::string name;
    NetTime start{};
    NetTime end{};
    uint32_t size = 0;
};

// Where a search's rows come from.
class SearchSource {
public:
    virtual ~SearchSource() = default;
    // Answers false once the search is stopped: the fetch then ends soon.
    using Deliver = std::function<bool(const std::vector<FoundRecording>&)>;
    // Fetches the rows, handing on each batch as it arrives.
    virtual void Fetch(const Deliver& deliver) = 0;
    // Cuts a fetch in progress short; called from another thread.
    virtual void Cancel() = 0;
};

// Our recorder's search. An answer too long or too slow to be a list of
// recordings fails the search, with no rows.
struct SearchRequest {
    RecorderLogin login;
    int channel = 1;    // 1 to 4
    int type = 1;       // 1 MPEG-4, 2 JPEG
    bool limit = false;
    std::string from;   // YYYYMMDDHHMMSS, when limit
    std::string to;
};
std::unique_ptr<SearchSource> MakeRecorderSearch(SearchRequest request);

class SearchTask : public std::enable_shared_from_this<SearchTask> {
public:
    SearchTask(std::unique_ptr<SearchSource> source, SearchResultCallback callback);
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
    // Waits for Release(), then calls back once per row; false when stopped.
    bool Deliver(const std::vector<FoundRecording>& rows);

    std::unique_ptr<SearchSource> source_;
    SearchResultCallback callback_;
    int32_t handle_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    bool stopping_ = false;
    bool calling_ = false;   // a callback is under way
    std::atomic<bool> finished_{false};
};

}  // namespace playersdk::net
