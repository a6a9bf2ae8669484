// The real varnel and varnel-remote programs as processes, with the real
// libPlayerSDK.so beside them, on the offscreen platform: started as a user
// starts them, ended by a signal as a session's end would, and started where
// no library can be found.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/E2eSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

// One run of a program: its environment extended, standard error to a file.
class Program {
public:
    Program(const fs::path& program, std::vector<std::string> args, std::vector<std::string> env,
            const fs::path& error_file, const fs::path& working_folder = {}) {
        std::vector<std::string> all_env = std::move(env);
        for (char** e = environ; *e != nullptr; ++e) all_env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : all_env) envp.push_back(e.data());
        envp.push_back(nullptr);
        args.insert(args.begin(), program.string());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!working_folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait(60s);
        }
    }
    pid_t pid() const { return pid_; }
    bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    // Waits for the end; the raw wait status, or -1 on a timeout.
    int Wait(std::chrono::seconds timeout) {
        const auto give_up = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0 && std::chrono::steady_clock::now() < give_up) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    // Whether one of the process's open files is `file`.
    bool HasOpen(const fs::path& file) const {
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec)) {
            std::error_code link_ec;
            if (fs::read_symlink(fd.path(), link_ec) == file) return true;
        }
        return false;
    }
    bool HasMapped(const std::string& library) const {
        return e2e::ReadWholeFile("/proc/" + std::to_string(pid_) + "/maps").find(library) != std::string::npos;
    }

private:
    pid_t pid_ = -1;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds timeout) {
    const auto give_up = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < give_up) {
        if (condition()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

const std::vector<std::string> kHeadless = {"QT_QPA_PLATFORM=offscreen", "SDL_AUDIODRIVER=dummy"};

std::vector<std::string> With(std::vector<std::string> env, const std::string& more) {
    env.push_back(more);
    return env;
}

TEST(Programs, VarnelPlaysTheFileOfItsCommandLineUntilItIsEnded) {
    e2e::Scratch scratch;
    const fs::path clip = scratch.path() / "clip.mp4";
    ASSERT_TRUE(e2e::MakeClip(clip, 30));
    const fs::path errors = scratch.path() / "stderr.txt";
    Program varnel(VARNEL_PATH, {clip.string()},
                   With(kHeadless, "PLAYERSDK_DRIVE_ROOT=" + scratch.drives().string()), errors);
    ASSERT_GT(varnel.pid(), 0);
    // The file is opened from the message loop shortly after the window shows.
    ASSERT_TRUE(WaitFor([&] { return varnel.HasOpen(clip) || !varnel.Running(); }, 60s));
    ASSERT_TRUE(varnel.Running()) << e2e::ReadWholeFile(errors);
    EXPECT_TRUE(varnel.HasMapped("libPlayerSDK.so"));
    // Still playing a moment later, not stuck in a message box.
    EXPECT_FALSE(WaitFor([&] { return !varnel.Running(); }, 2s));

    ASSERT_EQ(::kill(varnel.pid(), SIGTERM), 0);
    const int status = varnel.Wait(60s);
    ASSERT_NE(status, -1) << "did not end on SIGTERM";
    // Ended by the signal itself, not by a crash on the way out.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    const std::string log = e2e::ReadWholeFile(errors);
    EXPECT_THAT(log, Not(HasSubstr("AddressSanitizer")));
    EXPECT_THAT(log, Not(HasSubstr("runtime error")));
}

// The toolkit knows "-reverse" as an option of its own; to varnel it is the
// file to play, as its first argument always is.
TEST(Programs, VarnelOpensItsFirstArgumentEvenWhenTheToolkitTakesItForAnOption) {
    e2e::Scratch scratch;
    const fs::path clip = scratch.path() / "-reverse";
    ASSERT_TRUE(e2e::MakeClip(scratch.path() / "clip.mp4", 30, false));
    fs::rename(scratch.path() / "clip.mp4", clip);
    const fs::path errors = scratch.path() / "stderr.txt";
    Program varnel(VARNEL_PATH, {"-reverse"},
                   With(kHeadless, "PLAYERSDK_DRIVE_ROOT=" + scratch.drives().string()), errors,
                   scratch.path());
    ASSERT_GT(varnel.pid(), 0);
    EXPECT_TRUE(WaitFor([&] { return varnel.HasOpen(clip) || !varnel.Running(); }, 60s) &&
                varnel.Running())
        << e2e::ReadWholeFile(errors);
}

TEST(Programs, VarnelRemoteShowsItsWindowOnTheLoopbackAddressUntilItIsEnded) {
    e2e::Scratch scratch;
    const fs::path errors = scratch.path() / "stderr.txt";
    Program remote(VARNEL_REMOTE_PATH, {"--address", "127.0.0.1"},
                   With(kHeadless, "PLAYERSDK_DRIVE_ROOT=" + scratch.drives().string()), errors);
    ASSERT_GT(remote.pid(), 0);
    ASSERT_TRUE(WaitFor([&] { return remote.HasMapped("libPlayerSDK.so") || !remote.Running(); }, 60s));
    EXPECT_FALSE(WaitFor([&] { return !remote.Running(); }, 3s)) << e2e::ReadWholeFile(errors);

    ASSERT_EQ(::kill(remote.pid(), SIGTERM), 0);
    const int status = remote.Wait(60s);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_THAT(e2e::ReadWholeFile(errors), Not(HasSubstr("AddressSanitizer")));
}

TEST(Programs, BothProgramsSayWhichLibraryIsMissingAndExitWithStatusOne) {
    e2e::Scratch scratch;
    for (const char* built : {VARNEL_PATH, VARNEL_REMOTE_PATH}) {
        SCOPED_TRACE(built);
        // A copy in a folder of its own: the library beside the build's copy
        // is out of reach.
        const fs::path copy = scratch.path() / fs::path(built).filename();
        fs::copy_file(built, copy, fs::copy_options::overwrite_existing);
        const fs::path errors = scratch.path() / "stderr.txt";
        const bool remote = fs::path(built).filename() == "varnel-remote";
        const std::vector<std::string> args =
            remote ? std::vector<std::string>{"--address", "127.0.0.1"} : std::vector<std::string>{"some.mp4"};
        Program program(copy, args,
                        With(With(kHeadless, "LD_LIBRARY_PATH=/nonexistent"), "ASAN_OPTIONS=detect_leaks=0"),
                        errors);
        const int status = program.Wait(120s);
        ASSERT_NE(status, -1);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_THAT(e2e::ReadWholeFile(errors), HasSubstr("libPlayerSDK.so"));
    }
}

}  // namespace
