// The remote window against our real player library and a real recorder on
// loopback: search rows cross from the library's threads, a download lands
// in its fixed file, a stream reaches its start and the window's teardown
// ends it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "player/Binding.h"
#include "tests/remote/RemoteWindowFixture.h"

extern char** environ;

namespace remote_test {
namespace {

namespace fs = std::filesystem;
using namespace remote;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A recorder folder with one short recording of today and the recorder
// serving it on a free port of 127.0.0.1.
class LoopbackRecorder {
public:
    explicit LoopbackRecorder(const fs::path& folder) : folder_(folder) {}
    ~LoopbackRecorder() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }

    // Makes the recording; returns its name, or an empty one on failure.
    std::string MakeRecording(const std::string& day) {
        const fs::path dir = folder_ / "root" / "ch1" / day;
        fs::create_directories(dir);
        const std::string name = "ch1_" + day + "_100000_100004.mp4";
        recording_ = dir / name;
        const std::string command =
            "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x90:rate=10 -f lavfi -i "
            "sine=frequency=440:sample_rate=22050 -t 4 -c:v libx264 -preset ultrafast -pix_fmt "
            "yuv420p -c:a aac -movflags +faststart '" + recording_.string() + "'";
        return std::system(command.c_str()) == 0 ? name : std::string();
    }
    const fs::path& Recording() const { return recording_; }

    // Starts the recorder; returns its port, or 0 when it did not come up.
    int Start(const std::string& program) {
        const fs::path log = folder_ / "recorder.log";
        const std::string root = (folder_ / "root").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const char* argv[] = {program.c_str(), "--root", root.c_str(), "--listen", "127.0.0.1",
                              "--port", "0", nullptr};
        const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr,
                                       const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            pid_ = 0;
            return 0;
        }
        const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)/");
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < give_up) {
            std::smatch match;
            const std::string text = ReadFile(log);
            if (std::regex_search(text, match, listening)) return std::stoi(match[1]);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }

private:
    fs::path folder_;
    fs::path recording_;
    pid_t pid_ = 0;
};

class RealLibraryTest : public RemoteWindowTest {
protected:
    void SetUp() override {
        RemoteWindowTest::SetUp();
        folder_ = fs::temp_directory_path() / ("varnel-remote-real-" + std::to_string(getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "drives");
        setenv("PLAYERSDK_DRIVE_ROOT", (folder_ / "drives").c_str(), 1);
        // The real table replaces the scripted one for this test; the fake
        // installed by the fixture records nothing meanwhile.
        const std::string problem = player::LoadLibrary(VARNEL_PLAYER_LIBRARY);
        ASSERT_EQ(problem, "");
        player::PlayerInit();
    }
    void TearDown() override {
        RemoteWindowTest::TearDown();  // the window's teardown runs on the real library
        fs::remove_all(folder_);
    }

    // Runs the window's timer id (if armed) and its messages until done.
    bool PollUntil(unsigned timer_id, const std::function<bool()>& done) {
        return WaitFor([&] {
            if (Window().IsTimerArmed(timer_id)) Window().FireTimer(timer_id);
            return done();
        });
    }

    fs::path folder_;
};

TEST_F(RealLibraryTest, SearchDownloadAndStreamAgainstALoopbackRecorder) {
    const std::time_t today = std::time(nullptr);
    now_ = today;
    char day[16];
    std::tm local = Local(today);
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    LoopbackRecorder recorder(folder_);
    const std::string name = recorder.MakeRecording(day);
    ASSERT_NE(name, "") << "ffmpeg could not make the recording";
    const int port = recorder.Start(VARNEL_RECORDER_PROGRAM);
    ASSERT_GT(port, 0) << ReadFile(folder_ / "recorder.log");

    CDlgNetFile& w = OpenOnLoopback();
    TypeText(IDC_PORT, std::to_string(port));
    Click(IDC_SEARCH);
    ASSERT_THAT(boxes_.Texts(), ::testing::IsEmpty());
    ASSERT_EQ(w.Searching, 1);
    ASSERT_TRUE(PollUntil(TIMER_SEARCH, [&] { return w.Searching == 0; }));
    ProcessEvents();
    ASSERT_EQ(w.ListRowCount(IDC_RESULT_LIST), 1);
    EXPECT_EQ(w.ListCell(IDC_RESULT_LIST, 0, 0), name);
    EXPECT_EQ(w.ListCell(IDC_RESULT_LIST, 0, 1),
              FormatSizeMb(static_cast<uint32_t>(fs::file_size(recorder.Recording()))));

    SelectRow(0);
    Click(IDC_DOWNLOAD);
    ASSERT_EQ(w.Downloading, 1);
    ASSERT_TRUE(PollUntil(TIMER_DOWNLOAD, [&] { return w.Downloading == 0; }));
    const fs::path downloaded = folder_ / "drives" / "d" / "test.mp4";
    ASSERT_TRUE(fs::exists(downloaded));
    EXPECT_EQ(ReadFile(downloaded), ReadFile(recorder.Recording()));

    Click(IDC_PLAY);
    ASSERT_THAT(boxes_.Texts(), ::testing::IsEmpty());
    ASSERT_NE(StreamHandle, PLAYER_NO_HANDLE);
    ASSERT_TRUE(PollUntil(TIMER_BUFFERING, [&] { return w.CurrentStreamState() == StreamState::Playing; }));
    EXPECT_EQ(w.ItemText(IDC_TOTAL), "00:00:04");
    EXPECT_EQ(w.TrackMax(IDC_SEEK_BAR), 4);
    Close();
    EXPECT_EQ(StreamHandle, PLAYER_NO_HANDLE);
}

}  // namespace
}  // namespace remote_test
