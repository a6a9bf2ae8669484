// Runs the real varnel-recorder on loopback for a test: a free port, the
// log on its standard error collected line by line, killed at the end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class RecorderProcess {
public:
    // Starts the recorder on `root` with extra options (e.g. {"--rate", "1"})
    // and waits until it listens. port() is 0 if it did not start.
    explicit RecorderProcess(const std::filesystem::path& root,
                             std::vector<std::string> extraOptions = {});
    ~RecorderProcess();
    RecorderProcess(const RecorderProcess&) = delete;
    RecorderProcess& operator=(const RecorderProcess&) = delete;

    int port() const { return port_; }
    // Kills the process at once (SIGKILL), as a crash or power loss would.
    void kill();
    // Stops it with SIGTERM and returns its exit status.
    int terminate();
    std::vector<std::string> logLines() const;
    // Waits until the log holds a line containing `text`.
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout) const;

private:
    void readLog(int fd);
    int reap();

    int pid_ = -1;
    int port_ = 0;
    std::thread reader_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool logClosed_ = false;
};

// The recorder executable and the test tools, from the build.
std::filesystem::path recorderExecutable();

// Makes a small MPEG-4 recording (H.264 + AAC, moov first) of `seconds`,
// a 440 Hz tone for its sound; `sound` other ffmpeg options for the sound
// and the container (as a camera's "-c:a pcm_alaw -f mov").
bool makeTestMp4(const std::filesystem::path& file, int seconds, const std::string& sound = "-c:a aac -b:a 16k");

// A fresh empty folder under the system's temporary folder, removed by the
// destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs a shell command; returns its exit status.
int runCommand(const std::string& command);

}  // namespace testing_support
