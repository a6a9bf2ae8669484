#include "net/DownloadTask.h"

#include <httplib.h>

#include <vector>

#include "core/DrivePath.h"

namespace playersdk::net {
namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(2);
constexpr auto kReadTimeout = std::chrono::seconds(10);
// Bytes gathered before one write to the file.
constexpr size_t kWriteBytes = 1 << 20;

}  // namespace

DownloadTask::DownloadTask(RecorderLogin login, std::string name, std::string destination)
    : login_(std::move(login)), name_(std::move(name)), destination_(std::move(destination)) {}

DownloadTask::~DownloadTask() { Stop(); }

void DownloadTask::Start() { thread_ = std::thread([this] { Run(); }); }

int32_t DownloadTask::Progress() const {
    if (state_ != State::Running) return -1;
    const uint64_t total = total_;
    if (total == 0) return 0;
    return static_cast<int32_t>(received_ * 100 / total);
}

void DownloadTask::Stop() {
    stopping_ = true;
    {
        std::lock_guard lock(client_mutex_);
        if (client_) client_->stop();
    }
    if (thread_.joinable()) thread_.join();
}

void DownloadTask::Run() {
    AsideFile file;
    if (!file.Open(destination_)) {
        state_ = State::Failed;
        return;
    }
    {
        std::lock_guard lock(client_mutex_);
        if (stopping_) {
            state_ = State::Failed;
            return;
        }
        client_ = MakeClient(login_, kConnectTimeout, kReadTimeout);
    }
    std::vector<char> pending;
    pending.reserve(kWriteBytes);
    bool written = true;
    auto flush = [&] {
        written = written && file.Write(pending.data(), pending.size());
        pending.clear();
        return written;
    };
    bool complete_status = false;
    const auto res = client_->Get(
        RecordingPath("recordings", name_),
        [&](const httplib::Response& head) {
            if (head.status != 200) return false;
            complete_status = true;
            const std::string length = head.get_header_value("Content-Length");
            if (length.empty() || length.find_first_not_of("0123456789") != std::string::npos)
                return false;  // the size must be known to know the file is whole
            total_ = std::stoull(length);
            return !stopping_;
        },
        [&](const char* data, size_t size) {
            if (stopping_) return false;
            pending.insert(pending.end(), data, data + size);
            received_ += size;
            if (pending.size() >= kWriteBytes && !flush()) return false;
            return true;
        });
    const bool whole = res && complete_status && !stopping_ && received_ == total_ && flush();
    if (whole && file.Commit()) {
        state_ = State::Done;
    } else {
        file.Discard();
        state_ = State::Failed;
    }
}

}  // namespace playersdk::net
