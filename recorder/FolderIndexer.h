// Keeps a RecordingIndex in step with a folder of recordings.
//
// start() walks the folder once and publishes every recording its name
// describes (the own layout, a pattern) at once; a pattern names only the
// start, so until the file has been probed its end is the next segment's
// start, at most the channel's usual segment length. A thread then probes,
// on every core, what the names leave open (the real lengths, the
// files no name describes) and watches the folder with inotify: files that
// come, change or go are looked at again and the index is republished.
// Probe answers are kept in a small index file, so that a restart probes
// only new or changed files.
//
// Each file that is not served gets one line in the log saying why (not
// media, empty, still being written, no channel), again only when the
// reason changes.
#pragma once

#include "ProbeCache.h"
#include "RecordingIndex.h"
#include "RecordingLayout.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>

struct stat;

namespace recorder {

struct IndexerOptions {
    std::filesystem::path root;
    LayoutOptions layout;
    std::filesystem::path answersFile;  // probe answers; empty keeps none
    bool watch = true;
};

class FolderIndexer {
public:
    using Log = std::function<void(const std::string& line)>;

    FolderIndexer(RecordingIndex& index, IndexerOptions options, Log log);
    ~FolderIndexer();
    FolderIndexer(const FolderIndexer&) = delete;
    FolderIndexer& operator=(const FolderIndexer&) = delete;

    // Walks the folder and publishes; then starts the probing and watching
    // thread. False when the folder cannot be read.
    bool start();
    void stop();

    // Waits until nothing is left to probe and no change waits to be
    // looked at; false on timeout.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

    struct Counts {
        size_t files = 0;    // regular files seen
        size_t named = 0;    // indexed from their names alone
        size_t answered = 0; // probe answers taken from the index file
        size_t toProbe = 0;  // waiting for a probe after the walk
    };
    Counts countsAfterWalk() const { return walkCounts_; }

private:
    struct Entry;
    void walk(const std::string& relativeFolder);
    void walkFolder(int fd, const std::string& relativeFolder);
    // `known` is the file's stat when the caller has it.
    void look(const std::string& relativePath, const struct stat* known = nullptr);
    void classify(const std::string& relativePath, const struct stat* known);
    void forget(const std::string& relativePathOrFolder);
    bool needsProbe(const std::string& relativePath) const;
    void probeOne(const std::string& relativePath);
    void probeSlice();
    void takeProbe(const std::string& relativePath, const ProbeResult& result);
    void applyProbe(Entry& e, const std::string& relativePath, const ProbeResult& result);
    void publish();
    bool publishDue() const;  // while probing: what is known is republished now and then
    void note(Entry& e, const std::string& relativePath, const std::string& text);
    void run();
    void readEvents();
    void watchFolder(const std::string& relativeFolder);
    void saveAnswers();
    void setIdle(bool idle);

    RecordingIndex& index_;
    IndexerOptions options_;
    Log log_;
    std::string rootName_;
    std::string answersRelative_;  // the answers file, when it lies in the folder
    std::unordered_map<std::string, Entry> entries_;  // by relative path; the thread's own
    ProbeAnswers answers_;
    bool answersChanged_ = false;
    bool answersSaveFailed_ = false;
    bool watchFailureTold_ = false;
    std::deque<std::string> toProbe_;
    unsigned probeThreads_ = 1;
    std::unordered_set<std::string> changed_;  // paths events named, not yet looked at
    std::chrono::steady_clock::time_point firstChange_;
    std::chrono::steady_clock::time_point lastChange_;
    std::chrono::steady_clock::time_point startedAt_;
    std::chrono::steady_clock::time_point lastPublish_;
    bool dirty_ = false;  // entries changed since the last publish
    bool started_ = false;  // the first walk is over
    Counts walkCounts_;

    int inotify_ = -1;
    int wake_[2] = {-1, -1};
    std::unordered_map<int, std::string> watches_;  // descriptor -> relative folder
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex idleLock_;
    std::condition_variable idleChanged_;
    bool idle_ = false;
};

}  // namespace recorder
