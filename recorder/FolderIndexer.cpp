#include "FolderIndexer.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>

namespace recorder {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Changes are looked at once the folder has been quiet this long, or at the
// latest this long after the first one, so a file written continuously
// still shows up.
constexpr auto kQuiet = 200ms;
constexpr auto kLatest = 1s;
// While probing in the background, what is known is republished this often.
constexpr auto kPublishEvery = 1s;
// The background probing looks at the events between slices of this long,
// each of at most this many files, probed on every core (a few at most).
constexpr auto kProbeSlice = 50ms;
constexpr size_t kProbeBatch = 4096;
constexpr unsigned kMostProbeThreads = 8;
constexpr auto kSaveEvery = 30s;
// A video file modified this recently that is empty or does not open is
// taken as still being written (a segment writer creates it empty) rather
// than as broken.
constexpr int64_t kWritingSeconds = 60;

constexpr uint32_t kWatchMask = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_DELETE | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR;

bool hidden(const std::string& name) { return !name.empty() && name.front() == '.'; }

CivilSeconds roundedSeconds(int64_t ms) { return (ms + 500) / 1000; }

int64_t nowUnixSeconds() { return static_cast<int64_t>(::time(nullptr)); }

bool seemsBeingWritten(const std::string& relativePath, const FileStamp& stamp) {
    return nowUnixSeconds() - stamp.mtimeNs / 1'000'000'000 < kWritingSeconds &&
           typeFromExtension(relativePath) == RecordingType::Mpeg4;
}

std::string beingWritten(const std::string& why) {
    return "not served yet: still being written (" + why + "); looked at again when it changes";
}

}  // namespace

struct FolderIndexer::Entry {
    enum class State { Listed, Waiting, Skipped };
    FileStamp stamp;
    State state = State::Waiting;
    bool fromName = false;
    bool lengthKnown = false;
    Recording recording;  // when Listed; the end may be provisional
    std::string note;     // the reason last logged for it
};

FolderIndexer::FolderIndexer(RecordingIndex& index, IndexerOptions options, Log log)
    : index_(index), options_(std::move(options)), log_(std::move(log)) {}

FolderIndexer::~FolderIndexer() {
    stop();
    if (inotify_ >= 0) ::close(inotify_);
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

bool FolderIndexer::start() {
    std::error_code ec;
    if (!std::filesystem::is_directory(options_.root, ec)) {
        log_(options_.root.string() + ": not a folder");
        return false;
    }
    std::string root = options_.root.lexically_normal().string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    options_.root = root;
    rootName_ = std::filesystem::weakly_canonical(options_.root, ec).filename().string();
    if (!options_.answersFile.empty()) {
        const auto inside = options_.answersFile.lexically_normal().lexically_relative(options_.root);
        if (!inside.empty() && *inside.begin() != "..") answersRelative_ = inside.string();
    }
    if (!options_.answersFile.empty()) answers_ = loadProbeAnswers(options_.answersFile);
    if (options_.watch) {
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ < 0)
            log_(std::string("cannot watch the folder (") + std::strerror(errno) +
                 "); new files appear after a restart");
    }
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        log_(std::string("cannot start the indexer: ") + std::strerror(errno));
        return false;
    }
    probeThreads_ = std::clamp(std::thread::hardware_concurrency(), 1u, kMostProbeThreads);
    startedAt_ = Clock::now();
    walk("");
    // Answers for files that are gone are not kept.
    if (std::erase_if(answers_, [this](const auto& a) { return !entries_.contains(a.first); }) > 0)
        answersChanged_ = true;
    publish();
    walkCounts_.toProbe = toProbe_.size();
    started_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void FolderIndexer::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(wake_[1], &byte, 1);
    thread_.join();
    saveAnswers();
}

bool FolderIndexer::waitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(idleLock_);
    return idleChanged_.wait_for(guard, timeout, [this] { return idle_; });
}

void FolderIndexer::setIdle(bool idle) {
    std::lock_guard<std::mutex> guard(idleLock_);
    if (idle_ == idle) return;
    idle_ = idle;
    idleChanged_.notify_all();
}

void FolderIndexer::note(Entry& e, const std::string& relativePath, const std::string& text) {
    if (e.note == text) return;
    e.note = text;
    if (!text.empty()) log_(relativePath + ": " + text);
}

void FolderIndexer::watchFolder(const std::string& relativeFolder) {
    if (inotify_ < 0) return;
    const std::string full =
        relativeFolder.empty() ? options_.root.string() : (options_.root / relativeFolder).string();
    const int wd = ::inotify_add_watch(inotify_, full.c_str(), kWatchMask);
    if (wd < 0) {
        if (!watchFailureTold_)  // one line, not one per folder
            log_(full + ": cannot watch (" + std::strerror(errno) +
                 "); files added there and below appear after a restart");
        watchFailureTold_ = true;
        return;
    }
    watches_[wd] = relativeFolder;
}

void FolderIndexer::walk(const std::string& relativeFolder) {
    const std::string full =
        relativeFolder.empty() ? options_.root.string() : (options_.root / relativeFolder).string();
    const int fd = ::open(full.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        log_(full + ": " + std::strerror(errno));
        return;
    }
    walkFolder(fd, relativeFolder);
}

void FolderIndexer::walkFolder(int fd, const std::string& relativeFolder) {
    // By descriptor, name by name: no path is looked up twice.
    watchFolder(relativeFolder);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    std::vector<std::pair<std::string, std::string>> folders;  // name, relative path
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (hidden(name)) continue;  // also . and ..
        std::string relative = relativeFolder.empty() ? name : relativeFolder + "/" + name;
        if (d->d_type == DT_DIR) {
            folders.emplace_back(name, std::move(relative));
            continue;
        }
        if (d->d_type != DT_REG && d->d_type != DT_LNK && d->d_type != DT_UNKNOWN) continue;
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, 0) != 0) continue;
        // A link to a folder is not followed (it could lead back up).
        if (S_ISDIR(st.st_mode) && d->d_type == DT_UNKNOWN) folders.emplace_back(name, std::move(relative));
        if (!S_ISREG(st.st_mode) || relative == answersRelative_) continue;
        if (!started_) ++walkCounts_.files;
        look(relative, &st);
    }
    for (const auto& [name, relative] : folders) {
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (sub < 0)
            log_((options_.root / relative).string() + ": " + std::strerror(errno));
        else
            walkFolder(sub, relative);
    }
    ::closedir(dir);
}

namespace {

bool sameListing(const Recording& a, const Recording& b) {
    return a.name == b.name && a.size == b.size && a.key.channel == b.key.channel &&
           a.key.type == b.key.type && a.key.start == b.key.start && a.key.end == b.key.end;
}

}  // namespace

void FolderIndexer::look(const std::string& relativePath, const struct stat* known) {
    // Republished only when what searches see changes: a file being written
    // is looked at again and again while it is not listed.
    const auto before = entries_.find(relativePath);
    const bool wasListed = before != entries_.end() && before->second.state == Entry::State::Listed;
    const Recording was = wasListed ? before->second.recording : Recording{};
    classify(relativePath, known);
    const auto after = entries_.find(relativePath);
    const bool isListed = after != entries_.end() && after->second.state == Entry::State::Listed;
    if (wasListed != isListed || (isListed && !sameListing(was, after->second.recording)))
        dirty_ = true;
}

void FolderIndexer::classify(const std::string& relativePath, const struct stat* known) {
    struct stat st {};
    if (known)
        st = *known;
    else if (::stat((options_.root / relativePath).c_str(), &st) != 0)
        st.st_mode = 0;
    if (!S_ISREG(st.st_mode)) {
        forget(relativePath);
        return;
    }
    const FileStamp stamp{static_cast<uint64_t>(st.st_size),
                          static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
    auto [it, isNew] = entries_.try_emplace(relativePath);
    Entry& e = it->second;
    if (!isNew && e.stamp == stamp) return;
    e.stamp = stamp;
    e.state = Entry::State::Waiting;
    e.lengthKnown = false;
    if (stamp.size == 0) {
        e.state = Entry::State::Skipped;
        note(e, relativePath,
             seemsBeingWritten(relativePath, stamp) ? beingWritten("empty so far") : "skipped: empty file");
        return;
    }
    NamedRecording named;
    std::string why;
    const NameVerdict verdict = readName(options_.layout, relativePath, named, why);
    if (verdict == NameVerdict::Skipped) {
        e.state = Entry::State::Skipped;
        note(e, relativePath, "skipped: " + why);
        return;
    }
    e.fromName = verdict == NameVerdict::Named;
    if (e.fromName) {
        if (!started_) ++walkCounts_.named;
        e.recording = {named.wireName, relativePath,
                       {named.channel, named.type, named.start, named.end.value_or(named.start)},
                       stamp.size};
        e.state = Entry::State::Listed;
        // The own layout names the end; a picture has no length.
        e.lengthKnown = named.end.has_value() || named.type == RecordingType::Jpeg;
        if (e.lengthKnown) {
            note(e, relativePath, "");
            return;
        }
    }
    const auto cached = answers_.find(relativePath);
    if (cached != answers_.end() && cached->second.stamp == stamp) {
        if (!started_) ++walkCounts_.answered;
        applyProbe(e, relativePath, cached->second.result);
        return;
    }
    // The first walk leaves probing to the thread; a file that came later
    // is probed at once, so it appears with its real length.
    if (started_)
        probeOne(relativePath);
    else
        toProbe_.push_back(relativePath);
}

void FolderIndexer::applyProbe(Entry& e, const std::string& relativePath, const ProbeResult& result) {
    const int64_t mtimeSeconds = e.stamp.mtimeNs / 1'000'000'000;
    if (!result.ok) {
        e.state = Entry::State::Skipped;
        note(e, relativePath,
             seemsBeingWritten(relativePath, e.stamp) ? beingWritten(result.error) : "skipped: " + result.error);
        return;
    }
    const CivilSeconds length = roundedSeconds(result.durationMs);
    if (e.fromName) {
        if (e.recording.key.type != RecordingType::Jpeg) e.recording.key.end = e.recording.key.start + length;
    } else {
        std::string why;
        const auto channel = channelFromFolders(options_.layout.channels, relativePath, rootName_);
        const std::string name = wireName(relativePath, false, why);
        if (!channel || name.empty()) {
            e.state = Entry::State::Skipped;
            note(e, relativePath,
                 "skipped: " + (channel ? why
                                        : std::string("no channel: no folder on its path is named "
                                                      "for one (cam1, ch2) or mapped with "
                                                      "--channel NAME=N")));
            return;
        }
        // A recording written live was last modified when it ended.
        const CivilSeconds start =
            result.created ? *result.created : localCivilTime(mtimeSeconds) - length;
        e.recording = {name, relativePath, {*channel, result.type, start, start + length}, e.stamp.size};
    }
    e.state = Entry::State::Listed;
    e.lengthKnown = true;
    note(e, relativePath, "");
}

bool FolderIndexer::needsProbe(const std::string& relativePath) const {
    const auto it = entries_.find(relativePath);
    return it != entries_.end() && !it->second.lengthKnown && it->second.state != Entry::State::Skipped;
}

void FolderIndexer::probeOne(const std::string& relativePath) {
    if (needsProbe(relativePath)) takeProbe(relativePath, probeMedia(options_.root / relativePath));
}

void FolderIndexer::probeSlice() {
    std::vector<std::string> paths;
    std::vector<std::filesystem::path> files;
    while (!toProbe_.empty() && paths.size() < kProbeBatch) {
        std::string path = std::move(toProbe_.front());
        toProbe_.pop_front();
        if (!needsProbe(path)) continue;
        files.push_back(options_.root / path);
        paths.push_back(std::move(path));
    }
    // What is known is republished while the other threads go on probing.
    const bool due = publishDue();
    const auto results = probeMediaFor(files, probeThreads_, kProbeSlice, [&] {
        if (due) publish();
    });
    for (size_t i = 0; i < results.size(); ++i) takeProbe(paths[i], results[i]);
    // Those the slice left are probed next.
    toProbe_.insert(toProbe_.begin(), std::make_move_iterator(paths.begin() + results.size()),
                    std::make_move_iterator(paths.end()));
    if (!results.empty()) dirty_ = true;
}

void FolderIndexer::takeProbe(const std::string& relativePath, const ProbeResult& result) {
    Entry& e = entries_.at(relativePath);
    answers_[relativePath] = {e.stamp, result};
    answersChanged_ = true;
    applyProbe(e, relativePath, result);
}

void FolderIndexer::forget(const std::string& relativePath) {
    if (entries_.erase(relativePath) > 0) {
        answers_.erase(relativePath);
        dirty_ = true;
        return;
    }
    // A folder: everything under it.
    const std::string prefix = relativePath + "/";
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->first.compare(0, prefix.size(), prefix) == 0) {
            answers_.erase(it->first);
            it = entries_.erase(it);
            dirty_ = true;
        } else {
            ++it;
        }
    }
}

bool FolderIndexer::publishDue() const { return dirty_ && Clock::now() >= lastPublish_ + kPublishEvery; }

void FolderIndexer::publish() {
    std::vector<Recording> all;
    std::vector<bool> provisional;
    all.reserve(entries_.size());
    for (const auto& [path, e] : entries_) {
        if (e.state != Entry::State::Listed) continue;
        all.push_back(e.recording);
        provisional.push_back(!e.lengthKnown);
    }
    estimateEnds(all, provisional);
    std::vector<std::pair<std::string, std::string>> dropped;
    index_.replace(std::move(all), &dropped);
    index_.setStillProbing(!toProbe_.empty());
    for (const auto& [path, kept] : dropped)
        if (const auto it = entries_.find(path); it != entries_.end())
            note(it->second, path, "skipped: same name as " + kept);
    dirty_ = false;
    lastPublish_ = Clock::now();
}

void FolderIndexer::saveAnswers() {
    if (!answersChanged_ || options_.answersFile.empty()) return;
    std::string error;
    if (saveProbeAnswers(options_.answersFile, answers_, error)) {
        answersChanged_ = false;
        answersSaveFailed_ = false;
    } else if (!answersSaveFailed_) {
        answersSaveFailed_ = true;
        log_(options_.answersFile.string() + ": cannot keep the probe answers (" + error +
             "); files are probed again at the next start");
    }
}

void FolderIndexer::readEvents() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                // Events were lost: look at everything again.
                for (const auto& [path, e] : entries_) changed_.insert(path);
                walk("");
                continue;
            }
            if (ev->mask & IN_IGNORED) {
                watches_.erase(ev->wd);
                continue;
            }
            const auto w = watches_.find(ev->wd);
            if (w == watches_.end() || ev->len == 0) continue;
            const std::string name = ev->name;
            if (hidden(name)) continue;
            const std::string path = w->second.empty() ? name : w->second + "/" + name;
            if (ev->mask & IN_ISDIR) {
                if (ev->mask & (IN_CREATE | IN_MOVED_TO)) walk(path);
                if (ev->mask & (IN_DELETE | IN_MOVED_FROM)) forget(path);
                continue;
            }
            const auto now = Clock::now();
            if (changed_.empty()) firstChange_ = now;
            lastChange_ = now;
            changed_.insert(path);
        }
    }
}

void FolderIndexer::run() {
    auto lastSave = Clock::now();
    while (!stopping_) {
        const auto now = Clock::now();
        int timeoutMs = -1;
        if (!toProbe_.empty() || dirty_) {
            timeoutMs = 0;
        } else if (!changed_.empty()) {
            const auto due = std::min(lastChange_ + kQuiet, firstChange_ + kLatest);
            timeoutMs = static_cast<int>(std::max<int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1));
        } else if (answersChanged_) {
            timeoutMs = 1000;
        }
        setIdle(toProbe_.empty() && changed_.empty() && !dirty_);
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {inotify_, POLLIN, 0}};
        const int ready = ::poll(fds, inotify_ >= 0 ? 2 : 1, timeoutMs);
        if (stopping_) break;
        if (ready > 0 && (fds[1].revents & POLLIN)) readEvents();

        const auto then = Clock::now();
        if (!changed_.empty() && (then >= lastChange_ + kQuiet || then >= firstChange_ + kLatest)) {
            for (const auto& path : changed_) look(path);
            changed_.clear();
            publish();
        }
        // Probe for a slice of time, then go back to the events.
        const bool probing = !toProbe_.empty();
        if (probing && !stopping_) probeSlice();
        if (probing && toProbe_.empty())
            log_("background probing done: " + std::to_string(walkCounts_.toProbe) + " files in " +
                 std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                                    startedAt_)
                                    .count()) +
                 " ms");
        if ((dirty_ && toProbe_.empty()) || publishDue()) publish();
        if (answersChanged_ && (toProbe_.empty() || Clock::now() >= lastSave + kSaveEvery)) {
            saveAnswers();
            lastSave = Clock::now();
        }
    }
}

}  // namespace recorder
