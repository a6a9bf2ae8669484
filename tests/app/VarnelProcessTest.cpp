// The real program, started as a process where no player library can be
// found: it reports the library by name on standard error and exits with
// status 1, without a crash.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(VarnelProcess, MissingPlayerLibraryExitsWithStatusOneAndTheMessage) {
    // A copy of the program in a folder of its own, so that its own folder
    // (where the build puts the library) is not searched.
    const fs::path folder = fs::temp_directory_path() / ("varnel-nolib-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path program = folder / "varnel";
    fs::copy_file(VARNEL_PATH, program, fs::copy_options::overwrite_existing);
    const fs::path error_file = folder / "stderr.txt";

    const std::string command = "cd '" + folder.string() +
                                "' && env LD_LIBRARY_PATH=/nonexistent QT_QPA_PLATFORM=offscreen "
                                "timeout 120 ./varnel some.mp4 >/dev/null 2>'" +
                                error_file.string() + "'";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    const std::string error = ReadFile(error_file);
    EXPECT_THAT(error, HasSubstr("libPlayerSDK.so"));
    EXPECT_THAT(error, ::testing::Not(HasSubstr("AddressSanitizer")));
    fs::remove_all(folder);
}

}  // namespace
