#include "net/DownloadTask.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "core/Barrier.h"
#include "core/DrivePath.h"
#include "net/HttpGet.h"

namespace playersdk::net {
namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(2);
constexpr auto kReadTimeout = std::chrono::seconds(10);
// The bytes go from the socket into pieces that a thread of their own
// writes to the file, so that the socket keeps flowing while a write waits
// for the disk. Every piece but the last is full, and aligned, so that it
// can go to the disk straight from here.
constexpr size_t kPieceBytes = 1 << 20;
// Pieces in flight: a disk that lags holds the network back by this much.
constexpr size_t kPieces = 4;
// Every this many bytes the new part of the file starts going to disk when
// it goes through the page cache, so that the flush before the rename is
// short. Only the new range is handed over each time.
constexpr uint64_t kWriteBackBytes = 8ull << 20;

// Full pieces go from the network thread to the writer thread and come back
// empty.
class PieceLine {
public:
    explicit PieceLine(AsideFile& file) : file_(file) {
        for (auto& piece : pieces_) {
            piece.reset(static_cast<char*>(::operator new(kPieceBytes, std::align_val_t{kDirectWriteAlignment})));
            empty_.push_back(piece.get());
        }
        writer_ = std::thread([this] { WriteAll(); });
    }
    ~PieceLine() { Finish(); }
    PieceLine(const PieceLine&) = delete;
    PieceLine& operator=(const PieceLine&) = delete;

    // An empty piece of kPieceBytes, once there is one; nullptr once a write
    // has failed.
    char* Empty() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !empty_.empty() || failed_; });
        if (failed_) return nullptr;
        char* piece = empty_.back();
        empty_.pop_back();
        return piece;
    }
    // Hands the first `size` bytes of `piece` to the writer.
    void Fill(char* piece, size_t size) {
        std::lock_guard lock(mutex_);
        full_.push_back({piece, size});
        changed_.notify_all();
    }
    // Waits until every piece handed over is written; true when all were.
    bool Finish() {
        {
            std::lock_guard lock(mutex_);
            over_ = true;
            changed_.notify_all();
        }
        if (writer_.joinable()) writer_.join();
        return !failed_;
    }

private:
    struct Full {
        char* bytes;
        size_t size;
    };
    struct AlignedDelete {
        void operator()(char* bytes) const { ::operator delete(bytes, std::align_val_t{kDirectWriteAlignment}); }
    };

    void WriteAll() {
        uint64_t since_write_back = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return !full_.empty() || over_; });
            if (full_.empty()) return;
            const Full piece = full_.front();
            full_.pop_front();
            lock.unlock();
            const bool written = !failed_ && file_.Write(piece.bytes, piece.size);
            since_write_back += piece.size;
            if (written && since_write_back >= kWriteBackBytes) {
                file_.StartWriteBack();
                since_write_back = 0;
            }
            lock.lock();
            if (!written) failed_ = true;
            empty_.push_back(piece.bytes);
            changed_.notify_all();
        }
    }

    AsideFile& file_;
    std::unique_ptr<char, AlignedDelete> pieces_[kPieces];
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char*> empty_;
    std::deque<Full> full_;
    bool over_ = false;
    std::atomic<bool> failed_{false};
    std::thread writer_;
};

// Fetches the recording into `file`; true when all of it arrived. One still
// being written comes in chunks until its writer has left it at rest; its
// total then grows with what has come.
bool Transfer(const RecorderLogin& login, const std::string& name, AsideFile& file,
              const std::atomic<bool>& stopping, DownloadProgress& progress) {
    HttpGet get(stopping, kConnectTimeout, kReadTimeout);
    HttpHead head;
    // Asked as a range from the start, so that one still being written says
    // how much there is so far.
    if (get.Open(login, RecordingPath("recordings", name), head, 0) != HttpGetResult::Ok) return false;
    const bool from_start = head.status == 200 || (head.status == 206 && head.has_range && head.range_first == 0);
    // The end must be known to know the file is whole: a length that covers
    // all of it, or the last chunk.
    if (!from_start) return false;
    if (head.chunked) {
        progress.growing = true;
        progress.total = head.has_range ? head.range_last + 1 : 0;
    } else if (head.has_length && (head.status == 200 || head.range_total == head.content_length)) {
        progress.total = head.content_length;
    } else {
        return false;
    }
    file.PreferDirectWrites();
    PieceLine line(file);
    while (!get.BodyOver()) {
        char* piece = line.Empty();
        if (piece == nullptr) return false;
        size_t filled = 0;
        while (filled < kPieceBytes && !get.BodyOver()) {
            size_t got = 0;
            if (get.ReadSome(piece + filled, kPieceBytes - filled, got) != HttpGetResult::Ok) return false;
            filled += got;
            progress.done += got;
            if (progress.growing && progress.done > progress.total) progress.total = progress.done.load();
        }
        line.Fill(piece, filled);
    }
    return line.Finish() && !stopping;
}

}  // namespace

DownloadJob RecorderFileJob(RecorderLogin login, std::string name, std::string destination) {
    return [login = std::move(login), name = std::move(name), destination = std::move(destination)](
               const std::atomic<bool>& stopping, DownloadProgress& progress) {
        AsideFile file;
        if (file.Open(destination) && Transfer(login, name, file, stopping, progress) && file.Commit()) return true;
        file.Discard();
        return false;
    };
}

DownloadTask::DownloadTask(DownloadJob job) : job_(std::move(job)) {}

DownloadTask::~DownloadTask() { Stop(); }

void DownloadTask::Start() { thread_ = std::thread([this] { Run(); }); }

int32_t DownloadTask::Progress() const {
    // A finished download answers 100 to the first poll after it finished,
    // so a window that polls shows it complete before it goes idle.
    if (state_ == State::Done && !completion_reported_.exchange(true)) return 100;
    if (state_ != State::Running) return -1;
    const uint64_t total = progress_.total;
    if (total == 0) return 0;
    const auto percent = static_cast<int32_t>(std::min<uint64_t>(progress_.done, total) * 100 / total);
    // Still being written: never whole before the recorder says so.
    return progress_.growing ? std::min(percent, 99) : percent;
}

void DownloadTask::Stop() {
    stopping_ = true;  // the job looks at it while it waits on the network
    if (thread_.joinable()) thread_.join();
}

void DownloadTask::Run() {
    state_ = Shielded(false, [&] { return job_(stopping_, progress_); }) ? State::Done : State::Failed;
}

}  // namespace playersdk::net
