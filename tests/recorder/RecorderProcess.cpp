#include "RecorderProcess.h"

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <regex>

extern char** environ;

namespace testing_support {

std::filesystem::path recorderExecutable() { return VARNEL_RECORDER_EXECUTABLE; }

RecorderProcess::RecorderProcess(const std::filesystem::path& root,
                                 std::vector<std::string> extraOptions) {
    std::vector<std::string> args = {recorderExecutable().string(), "--root", root.string(),
                                     "--listen", "127.0.0.1", "--port", "0"};
    args.insert(args.end(), extraOptions.begin(), extraOptions.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(pipeFds[0]);
        return;
    }
    reader_ = std::thread([this, fd = pipeFds[0]] { readLog(fd); });

    const std::regex listening("listening on http://[^:]+:([0-9]+)/");
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, std::chrono::seconds(30), [&] {
        for (const auto& line : lines_) {
            std::smatch m;
            if (std::regex_search(line, m, listening)) {
                port_ = std::stoi(m[1].str());
                return true;
            }
        }
        return logClosed_;
    });
}

RecorderProcess::~RecorderProcess() {
    kill();
    if (reader_.joinable()) reader_.join();
}

void RecorderProcess::readLog(int fd) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            std::lock_guard<std::mutex> guard(lock_);
            lines_.push_back(pending.substr(0, eol));
            pending.erase(0, eol + 1);
            changed_.notify_all();
        }
    }
    ::close(fd);
    std::lock_guard<std::mutex> guard(lock_);
    logClosed_ = true;
    changed_.notify_all();
}

int RecorderProcess::reap() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

void RecorderProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    reap();
}

int RecorderProcess::terminate() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    const int status = reap();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> RecorderProcess::logLines() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

bool RecorderProcess::waitForLog(const std::string& text, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [&] {
        for (const auto& line : lines_)
            if (line.find(text) != std::string::npos) return true;
        return logClosed_;
    }) && !logClosed_;
}

bool makeTestMp4(const std::filesystem::path& file, int seconds, const std::string& sound) {
    std::filesystem::create_directories(file.parent_path());
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=160x90:rate=10 "
        "-f lavfi -i sine=frequency=440:sample_rate=8000 -t " +
        std::to_string(seconds) +
        " -map 0:v -map 1:a -c:v libx264 -preset ultrafast -g 10 -pix_fmt yuv420p " + sound +
        " -ac 1 -threads 1 -movflags +faststart '" + file.string() + "'";
    return runCommand(command) == 0;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support
