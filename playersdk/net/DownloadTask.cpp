#include "net/DownloadTask.h"

#include <algorithm>
#include <memory>

#include "core/DrivePath.h"
#include "net/HttpGet.h"

namespace playersdk::net {
namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(2);
constexpr auto kReadTimeout = std::chrono::seconds(10);
// Bytes gathered from the socket into one write to the file, and the most
// taken in one read: the progress moves as the bytes arrive, not per write.
constexpr size_t kPieceBytes = 1 << 20;
constexpr size_t kReadBytes = 64 << 10;
// Every this many bytes the new part of the file starts going to disk, so
// the disk works while the network does and the flush before the rename is
// short. Only the new range is handed over each time.
constexpr uint64_t kWriteBackBytes = 8ull << 20;

}  // namespace

DownloadTask::DownloadTask(RecorderLogin login, std::string name, std::string destination)
    : login_(std::move(login)), name_(std::move(name)), destination_(std::move(destination)) {}

DownloadTask::~DownloadTask() { Stop(); }

void DownloadTask::Start() { thread_ = std::thread([this] { Run(); }); }

int32_t DownloadTask::Progress() const {
    // A finished download answers 100 to the first poll after it finished,
    // so a window that polls shows it complete before it goes idle.
    if (state_ == State::Done && !completion_reported_.exchange(true)) return 100;
    if (state_ != State::Running) return -1;
    const uint64_t total = total_;
    if (total == 0) return 0;
    return static_cast<int32_t>(received_ * 100 / total);
}

void DownloadTask::Stop() {
    stopping_ = true;  // the transfer looks at it while it waits on the network
    if (thread_.joinable()) thread_.join();
}

bool DownloadTask::Transfer(AsideFile& file) {
    HttpGet get(stopping_, kConnectTimeout, kReadTimeout);
    HttpHead head;
    if (get.Open(login_, RecordingPath("recordings", name_), head) != HttpGetResult::Ok) return false;
    // The size must be known to know the file is whole.
    if (head.status != 200 || !head.has_length) return false;
    total_ = head.content_length;
    const auto piece = std::make_unique<char[]>(kPieceBytes);
    uint64_t since_write_back = 0;
    while (get.Remaining() > 0) {
        size_t filled = 0;
        while (filled < kPieceBytes && get.Remaining() > 0) {
            size_t got = 0;
            if (get.ReadBody(piece.get() + filled, std::min(kReadBytes, kPieceBytes - filled), got) !=
                HttpGetResult::Ok)
                return false;
            filled += got;
            received_ += got;
        }
        if (!file.Write(piece.get(), filled)) return false;
        since_write_back += filled;
        if (since_write_back >= kWriteBackBytes) {
            file.StartWriteBack();
            since_write_back = 0;
        }
    }
    return !stopping_;
}

void DownloadTask::Run() {
    AsideFile file;
    if (file.Open(destination_) && Transfer(file) && file.Commit()) {
        state_ = State::Done;
    } else {
        file.Discard();
        state_ = State::Failed;
    }
}

}  // namespace playersdk::net
