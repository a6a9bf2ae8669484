// varnel-remote's command line and its start without a library.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "remote/CommandLine.h"

namespace {

using remote::ParseRemoteCommandLine;
using remote::RemoteOptions;

TEST(RemoteCommandLine, TakesAnOptionalAddress) {
    RemoteOptions options;
    std::string error;
    ASSERT_TRUE(ParseRemoteCommandLine({}, options, error));
    EXPECT_EQ(options.address, "");
    EXPECT_FALSE(options.search_and_play);
    ASSERT_TRUE(ParseRemoteCommandLine({"--search-and-play", "--address", "127.0.0.1"}, options, error));
    EXPECT_EQ(options.address, "127.0.0.1");
    EXPECT_TRUE(options.search_and_play);
}

TEST(RemoteCommandLine, RefusesWhatTheFormCouldNotHold) {
    RemoteOptions options;
    std::string error;
    EXPECT_FALSE(ParseRemoteCommandLine({"--address"}, options, error));
    EXPECT_EQ(error, "--address needs an address");
    EXPECT_FALSE(ParseRemoteCommandLine({"--address", ""}, options, error));
    EXPECT_FALSE(ParseRemoteCommandLine({"--address", std::string(41, '1')}, options, error));
    EXPECT_NE(error.find("40"), std::string::npos);
    EXPECT_FALSE(ParseRemoteCommandLine({"--port", "3000"}, options, error));
    EXPECT_EQ(error, "unknown argument: --port");
    EXPECT_EQ(options.address, "");
}

// The program alone in a folder, where the loader finds no player library.
TEST(RemoteProgram, WithoutTheLibraryReportsItAndExitsWithOne) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("varnel-remote-alone-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path program = folder / "varnel-remote";
    fs::copy_file(VARNEL_REMOTE_PROGRAM, program, fs::copy_options::overwrite_existing);
    const fs::path errors = folder / "stderr.txt";
    const std::string command = "env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 '" +
                                program.string() + "' --address 127.0.0.1 2>'" + errors.string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(errors);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("varnel-remote: cannot load the player library libPlayerSDK.so"),
              std::string::npos)
        << text.str();
    fs::remove_all(folder);
}

}  // namespace
