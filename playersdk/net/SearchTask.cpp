#include "net/SearchTask.h"

#include <httplib.h>

#include <limits>
#include <sstream>
#include <vector>

#include "core/Barrier.h"

namespace playersdk::net {
namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(2);
constexpr auto kReadTimeout = std::chrono::seconds(10);
// An answer longer than this (some 200 000 rows), or still coming after
// this long, is not a list of recordings: the search fails.
constexpr size_t kMaxAnswerBytes = 16 * 1024 * 1024;
constexpr auto kAnswerDeadline = std::chrono::seconds(60);

struct FoundRecording {
    std::string name;
    NetTime start{};
    NetTime end{};
    uint32_t size = 0;
};

// One line of the recorder's answer: name TAB start TAB end TAB size.
bool ParseLine(const std::string& line, FoundRecording& found) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        const size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
        if (tab == std::string::npos) break;
        at = tab + 1;
    }
    if (fields.size() != 4 || fields[0].empty() || fields[3].empty() ||
        fields[3].find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (!ParseNetTime(fields[1], found.start) || !ParseNetTime(fields[2], found.end)) return false;
    found.name = fields[0];
    const unsigned long long size = fields[3].size() > 19 ? std::numeric_limits<uint32_t>::max()
                                                           : std::stoull(fields[3]);
    found.size = static_cast<uint32_t>(std::min<unsigned long long>(size, std::numeric_limits<uint32_t>::max()));
    return true;
}

}  // namespace

SearchTask::SearchTask(SearchRequest request) : request_(std::move(request)) {}

SearchTask::~SearchTask() {
    Stop();
    // The last owner was the thread itself, ending.
    if (thread_.joinable()) thread_.detach();
}

void SearchTask::Start(int32_t handle) {
    handle_ = handle;
    thread_ = std::thread([self = shared_from_this()] { self->Run(); });
}

void SearchTask::Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

void SearchTask::Stop() {
    const bool own_thread = thread_.get_id() == std::this_thread::get_id();
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        if (client_) client_->stop();
        changed_.notify_all();
        // A callback under way finishes before this returns; one that
        // stops its own search cannot wait for itself.
        if (!own_thread) changed_.wait(lock, [this] { return !calling_; });
    }
    if (thread_.joinable() && !own_thread) thread_.join();
}

bool SearchTask::WaitForRelease() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return released_ || stopping_; });
    return !stopping_;
}

void SearchTask::Run() {
    Shielded([this] { SearchAndDeliver(); });
    {
        std::lock_guard lock(mutex_);
        calling_ = false;
        changed_.notify_all();
    }
    finished_ = true;
}

void SearchTask::SearchAndDeliver() {
    std::string path = "/api/search?channel=" + std::to_string(request_.channel) +
                       "&type=" + std::to_string(request_.type) +
                       "&limit=" + (request_.limit ? "1" : "0");
    if (request_.limit) path += "&start=" + request_.from + "&end=" + request_.to;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        client_ = MakeClient(request_.login, kConnectTimeout, kReadTimeout);
    }
    httplib::Client* client = client_.get();
    std::string body;
    const auto deadline = std::chrono::steady_clock::now() + kAnswerDeadline;
    const auto res = client->Get(path, [&](const char* data, size_t size) {
        if (body.size() + size > kMaxAnswerBytes || std::chrono::steady_clock::now() > deadline)
            return false;
        body.append(data, size);
        return true;
    });

    std::vector<FoundRecording> found;
    if (res && res->status == 200) {
        std::istringstream lines(body);
        std::string line;
        FoundRecording one;
        while (std::getline(lines, line))
            if (ParseLine(line, one)) found.push_back(one);
    }
    body.clear();
    if (WaitForRelease()) {
        for (const auto& r : found) {
            // Called with no lock held; Stop() waits for it to return, and
            // none starts after Stop() has begun.
            {
                std::lock_guard lock(mutex_);
                if (stopping_) break;
                calling_ = true;
            }
            request_.callback(handle_, 0, r.name.c_str(), &r.start, &r.end, r.size, 0);
            std::lock_guard lock(mutex_);
            calling_ = false;
            changed_.notify_all();
        }
    }
}

}  // namespace playersdk::net
