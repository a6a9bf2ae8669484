// Start-up: the command-line file, the main window's frame duties, the about
// box, the whole application run, and the process entry when the player
// library is missing or incomplete.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/AboutDlg.h"
#include "app/CmdLine.h"
#include "app/VarnelApp.h"
#include "local/MainFrame.h"
#include "local/VarnelDlg.h"
#include "tests/fake/FakePlayer.h"
#include "ui/Dialog.h"
#include "ui/Testing.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Argument lists as the runtime passes them.
void Store(std::vector<std::string> arguments) {
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    app::StoreCommandLine(static_cast<int>(arguments.size()), argv.data());
}

bool AllZero(const char* bytes, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (bytes[i] != '\0') return false;
    return true;
}

class CommandLineTest : public ::testing::Test {
protected:
    // Left-overs that the start-up must wipe.
    void SetUp() override { std::memset(app::CmdLinePath, 'x', sizeof app::CmdLinePath); }
};

TEST_F(CommandLineTest, NoArgumentLeavesTheBufferZeroFilled) {
    Store({"varnel"});
    EXPECT_TRUE(AllZero(app::CmdLinePath, 0, app::kCmdLinePathSize));
}

TEST_F(CommandLineTest, OnlyTheFirstArgumentIsKeptUnchanged) {
    Store({"/usr/bin/varnel", "/Media/My Clip.MP4", "second.mp4", "third.mp4"});
    EXPECT_STREQ(app::CmdLinePath, "/Media/My Clip.MP4");
    EXPECT_TRUE(AllZero(app::CmdLinePath, std::strlen("/Media/My Clip.MP4"), app::kCmdLinePathSize));
}

TEST_F(CommandLineTest, AnEmptyFirstArgumentNamesNothing) {
    Store({"varnel", "", "b.mp4"});
    EXPECT_TRUE(AllZero(app::CmdLinePath, 0, app::kCmdLinePathSize));
}

TEST_F(CommandLineTest, ALongArgumentIsCutTo259Bytes) {
    const std::string long_path = "/" + std::string(299, 'a');  // 300 bytes
    Store({"varnel", long_path});
    EXPECT_EQ(std::strlen(app::CmdLinePath), 259u);
    EXPECT_EQ(std::string(app::CmdLinePath), long_path.substr(0, 259));
    EXPECT_EQ(app::CmdLinePath[259], '\0');

    const std::string exact = std::string(259, 'b');  // fits exactly
    Store({"varnel", exact});
    EXPECT_EQ(std::string(app::CmdLinePath), exact);
}

TEST(MinimisedIcon, IsCentredWithTheOddPixelToTheLeftAndTop) {
    EXPECT_EQ(ui::CentredIconOrigin(101, 101, 32, 32).x, 35);
    EXPECT_EQ(ui::CentredIconOrigin(101, 101, 32, 32).y, 35);
    EXPECT_EQ(ui::CentredIconOrigin(100, 77, 32, 32).x, 34);
    EXPECT_EQ(ui::CentredIconOrigin(100, 77, 32, 32).y, 23);
    // A client area smaller than the icon: the division truncates toward zero.
    EXPECT_EQ(ui::CentredIconOrigin(20, 21, 32, 32).x, -5);
    EXPECT_EQ(ui::CentredIconOrigin(20, 21, 32, 32).y, -5);
}

TEST(SystemCommand, TheAboutEntryIsRecognisedWhateverItsLowBits) {
    EXPECT_TRUE(local::IsAboutCommand(16));
    EXPECT_TRUE(local::IsAboutCommand(16 | 3));
    EXPECT_TRUE(local::IsAboutCommand(0x1F));
    EXPECT_FALSE(local::IsAboutCommand(0x20));
    EXPECT_FALSE(local::IsAboutCommand(0));
    EXPECT_FALSE(local::IsAboutCommand(ui::SC_CLOSE));
}

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(app::CmdLinePath, 0, sizeof app::CmdLinePath);
        app::InstallApplicationShell();
        app::SetAboutBoxRunner([this](app::CAboutDlg& box) {
            box.Create();
            about_titles.push_back(box.Title());
            about_button.push_back(box.ItemText(ui::IDOK));
            box.Destroy();
        });
    }
    void TearDown() override {
        if (window.IsCreated()) window.Destroy();
        app::SetAboutBoxRunner({});
        local::SetApplicationShell({});
    }

    fake::FakePlayer lib;
    ui::testing::ManualTimers manual_timers;
    local::CVarnelDlg window;
    std::vector<std::string> about_titles;
    std::vector<std::string> about_button;
};

TEST_F(MainFrameTest, MaskedAboutCommandOpensTheAboutBox) {
    window.Create();
    window.SendSysCommand(16 | 3);
    EXPECT_THAT(about_titles, ElementsAre("关于 Varnel"));
    EXPECT_THAT(about_button, ElementsAre("确定"));
    window.SendSysCommand(16);
    EXPECT_EQ(about_titles.size(), 2u);
    EXPECT_TRUE(window.IsCreated());
}

TEST_F(MainFrameTest, OtherSystemCommandsDoNotOpenIt) {
    window.Create();
    window.SendSysCommand(0x20);
    EXPECT_THAT(about_titles, IsEmpty());
}

TEST_F(MainFrameTest, PlayerInitIsTheFirstAndOnlyCallOfTheInitialisation) {
    std::strcpy(app::CmdLinePath, "a.mp4");
    window.Create();
    EXPECT_THAT(lib.Calls(), ElementsAre("PlayerInit()"));
    EXPECT_THAT(window.ArmedTimers(), ElementsAre(local::TIMER_OPEN_CMDLINE));
    EXPECT_EQ(ui::testing::TimerInterval(window, local::TIMER_OPEN_CMDLINE), 200u);
}

// The whole application run: the main window is shown modally with the
// first argument kept, and the run returns when the window closes.
TEST(Application, RunsTheMainWindowModallyWithTheFirstArgument) {
    fake::FakePlayer lib;
    ui::testing::ManualTimers manual_timers;  // the command-line open stays armed
    struct Seen {
        std::string title, path;
        std::vector<unsigned> timers;
        bool posted = false;
    } seen;
    // The window's initialisation calls PlayerInit inside the modal run:
    // from there, queue a look at the running window and its close.
    lib.AnswerWith("PlayerInit", [&seen](const fake::Call&) -> int64_t {
        local::CVarnelDlg* window = app::TheApp().MainWindow();
        if (window == nullptr) return 0;
        seen.posted = window->GetMailbox()->Post([window, &seen] {
            seen.title = window->Title();
            seen.path = app::CmdLinePath;
            seen.timers = window->ArmedTimers();
            window->EndDialog(ui::IDCANCEL);
        });
        return 0;
    });
    const char* argv[] = {"varnel", "/media/first.mp4", "/media/second.mp4", "/media/third.mp4",
                          nullptr};
    EXPECT_FALSE(app::TheApp().InitInstance(4, argv));
    EXPECT_TRUE(seen.posted);
    EXPECT_EQ(seen.title, "播放器测试");
    EXPECT_EQ(seen.path, "/media/first.mp4");
    EXPECT_THAT(seen.timers, ElementsAre(2u));
    EXPECT_EQ(app::TheApp().MainWindow(), nullptr);
    EXPECT_EQ(lib.Calls().front(), "PlayerInit()");
    EXPECT_EQ(lib.CountOf("PlayerInit"), 1u);
}

// The process entry, in this process: a library that cannot be bound is a
// message on standard error and status 1, and no window is made.
TEST(ProcessEntry, MissingLibraryIsReportedWithStatusOne) {
    char name[] = "varnel";
    char* argv[] = {name, nullptr};
    ::testing::internal::CaptureStderr();
    const int status = app::RunVarnel(1, argv, "libVarnelNoSuchPlayer.so");
    const std::string error = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_THAT(error, HasSubstr("libVarnelNoSuchPlayer.so"));
    EXPECT_EQ(app::TheApp().MainWindow(), nullptr);
}

TEST(ProcessEntry, LibraryLackingEntryPointsIsReportedWithStatusOne) {
    char name[] = "varnel";
    char* argv[] = {name, nullptr};
    ::testing::internal::CaptureStderr();
    const int status = app::RunVarnel(1, argv, PARTIAL_SDK_PATH);
    const std::string error = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_THAT(error, HasSubstr("PlayerSetNotifyWindow"));
    EXPECT_THAT(error, HasSubstr("NetGetBufferProgress"));
}

}  // namespace
