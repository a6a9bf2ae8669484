// Where a snapshot's file goes when its path is already taken: through a
// link to a regular file, never over a link, a device or a FIFO.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "TestMedia.h"
#include "core/BmpWriter.h"

using namespace playersdk;
using namespace playersdk_test;

namespace {

const std::vector<uint8_t> kPicture = {'B', 'M', 1, 2, 3};

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool IsLink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// Nothing beside the file but what the test put there: no leftovers.
int EntriesIn(const std::string& folder) {
    return std::stoi(Capture("ls -A '" + folder + "' | wc -l"));
}

class SnapshotFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = ScratchDir() + "/snapshot-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(RunShell("mkdir -p '" + folder_ + "/real'"), 0);
    }
    std::string folder_;
};

TEST_F(SnapshotFile, ThroughALinkToARegularFileTheLinkStays) {
    const std::string target = folder_ + "/real/shot.bmp";
    const std::string link = folder_ + "/shot.bmp";
    std::ofstream(target) << "old";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(SaveBmpFile(link, kPicture));
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(Contents(target), std::string(kPicture.begin(), kPicture.end()));
    EXPECT_EQ(EntriesIn(folder_ + "/real"), 1);
    EXPECT_EQ(EntriesIn(folder_), 2);
}

TEST_F(SnapshotFile, ALinkToADeviceIsRefusedAndKept) {
    const std::string link = folder_ + "/null.bmp";
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    EXPECT_FALSE(SaveBmpFile(link, kPicture));
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(EntriesIn(folder_), 2);
}

TEST_F(SnapshotFile, AFifoIsRefusedAndKept) {
    const std::string fifo = folder_ + "/fifo.bmp";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(SaveBmpFile(fifo, kPicture));
    struct stat info;
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(SnapshotFile, ADanglingLinkIsRefusedAndKept) {
    const std::string link = folder_ + "/dangling.bmp";
    ASSERT_EQ(symlink((folder_ + "/real/none.bmp").c_str(), link.c_str()), 0);
    EXPECT_FALSE(SaveBmpFile(link, kPicture));
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(EntriesIn(folder_ + "/real"), 0);
}

TEST_F(SnapshotFile, AnAbsentFileIsCreatedWhole) {
    const std::string path = folder_ + "/new/shot.bmp";
    ASSERT_TRUE(SaveBmpFile(path, kPicture));
    EXPECT_EQ(Contents(path), std::string(kPicture.begin(), kPicture.end()));
    EXPECT_EQ(EntriesIn(folder_ + "/new"), 1);
}

}  // namespace
