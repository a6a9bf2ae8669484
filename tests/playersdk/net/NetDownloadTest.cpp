// NetStartDownload, NetGetDownloadProgress and NetStopDownload.
#include "NetFixture.h"
#include "ScriptedServer.h"
#include "TestMedia.h"

#include <signal.h>
#include <unistd.h>

#include <vector>

using namespace net_test;

namespace {

const char* const kSmall = "ch1_20261209_080000_080010.mp4";
const char* const kLarge = "ch1_20261209_090000_091000.mp4";
constexpr uint64_t kLargeBytes = 512ull << 20;  // sparse: no disk, fast to serve

class NetDownload : public ::testing::Test {
protected:
    void SetUp() override {
        small_bytes_ = std::string(3 * 1024 * 1024 + 17, '\0');
        for (size_t i = 0; i < small_bytes_.size(); ++i) small_bytes_[i] = static_cast<char>(i * 131 % 251);
        WriteAll(root_.path() / "ch1" / kSmall, small_bytes_);
        const fs::path large = root_.path() / "ch1" / kLarge;
        std::ofstream(large, std::ios::binary).close();
        fs::resize_file(large, kLargeBytes);
        recorder_ = std::make_unique<testing_support::RecorderProcess>(root_.path());
        ASSERT_GT(recorder_->port(), 0);
        destination_ = NetEnvironment::DriveRoot() / "d" / "test.mp4";
        WriteAll(destination_, "previous download");
    }
    int32_t Start(const char* name, const char* password = kLogin) {
        return NetStartDownload("127.0.0.1", kLogin, password, name, "d:\\test.mp4",
                                static_cast<uint16_t>(recorder_->port()), 0, 0, 0);
    }
    // Waits for the download to be over, as the window's poll does.
    static void WaitUntilOver(int32_t h) {
        ASSERT_TRUE(WaitFor([&] { return NetGetDownloadProgress(h) < 0; }));
    }
    // Only the destination is left in its folder: no file aside.
    void ExpectNothingAside() const {
        for (const auto& entry : fs::directory_iterator(destination_.parent_path()))
            EXPECT_EQ(entry.path(), destination_) << "left behind: " << entry.path();
    }

    testing_support::TempFolder root_;
    std::unique_ptr<testing_support::RecorderProcess> recorder_;
    fs::path destination_;
    std::string small_bytes_;
};

}  // namespace

TEST_F(NetDownload, CopiesTheRecordingByteForByteOntoTheDrivePath) {
    const int32_t h = Start(kSmall);
    ASSERT_GE(h, 0);
    int32_t last = 0;
    ASSERT_TRUE(WaitFor([&] {
        const int32_t p = NetGetDownloadProgress(h);
        if (p >= 0) {
            EXPECT_LE(p, 100);
            EXPECT_GE(p, last);  // never goes back
            last = p;
        }
        return p < 0;
    }));
    EXPECT_EQ(last, 100) << "a finished download answers 100 before it is over";
    NetStopDownload(h);  // the window stops a finished download too
    EXPECT_EQ(ReadAll(destination_), small_bytes_);
    ExpectNothingAside();
}

TEST_F(NetDownload, WrongPasswordOrUnknownNameLeavesThePreviousFile) {
    for (const char* name : {kSmall, "ch1_20261209_070000_070010.mp4", "../ch1/ch1_20261209_080000_080010.mp4"}) {
        const int32_t h = Start(name, std::string(name) == kSmall ? "wrong" : kLogin);
        WaitUntilOver(h);
        NetStopDownload(h);
        EXPECT_EQ(ReadAll(destination_), "previous download") << name;
    }
    ExpectNothingAside();
}

TEST_F(NetDownload, StoppedDownloadLeavesThePreviousFile) {
    const int32_t h = Start(kLarge);
    ASSERT_TRUE(WaitFor([&] { return NetGetDownloadProgress(h) > 0 || NetGetDownloadProgress(h) < 0; }));
    NetStopDownload(h);
    EXPECT_LT(NetGetDownloadProgress(h), 0);
    EXPECT_EQ(ReadAll(destination_), "previous download");
    ExpectNothingAside();
}

TEST_F(NetDownload, RecorderKilledMidwayEndsNegativeWithThePreviousFileIntact) {
    const int32_t h = Start(kLarge);
    ASSERT_GE(h, 0);
    // Let some bytes arrive, then take the recorder away.
    ASSERT_TRUE(WaitFor([&] { return NetGetDownloadProgress(h) != 0; }));
    ASSERT_GE(NetGetDownloadProgress(h), 0) << "finished before the recorder could be killed";
    recorder_->kill();
    WaitUntilOver(h);
    NetStopDownload(h);
    EXPECT_EQ(ReadAll(destination_), "previous download");
    ExpectNothingAside();
}

TEST_F(NetDownload, NoRecorderAndBadHandlesAreHarmless) {
    const uint16_t port = static_cast<uint16_t>(recorder_->port());
    recorder_->kill();
    const int32_t h = NetStartDownload("127.0.0.1", kLogin, kLogin, kSmall, "d:\\test.mp4", port, 0, 0, 0);
    WaitUntilOver(h);
    NetStopDownload(h);
    EXPECT_EQ(ReadAll(destination_), "previous download");
    EXPECT_LT(NetStartDownload("127.0.0.1", kLogin, kLogin, "", "d:\\test.mp4", port, 0, 0, 0), 0);
    EXPECT_LT(NetGetDownloadProgress(-1), 0);
    EXPECT_LT(NetGetDownloadProgress(424242), 0);
    NetStopDownload(-1);
    NetStopDownload(424242);
}

TEST_F(NetDownload, BadAnswersEndNegativeWithThePreviousFileIntact) {
    const std::string body(64 * 1024, 'b');
    for (const std::string& answer : std::vector<std::string>{
             std::string("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n") + body,  // no length
             "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body,             // cut short
             "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n" + body,                 // too long
             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n" + body,
             "HTTP/1.1 206 Partial Content\r\nContent-Length: 65536\r\n\r\n" + body,
             "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n",
             "200 OK\r\nContent-Length: 65536\r\n\r\n" + body,                        // no version
             std::string("HTTP/1.1 200 OK\r\nContent-Length: 655"),                      // head cut
         }) {
        ScriptedServer server(Answer(answer));
        const int32_t h = NetStartDownload("127.0.0.1", kLogin, kLogin, kSmall, "d:\\test.mp4", server.port(), 0, 0, 0);
        ASSERT_GE(h, 0);
        WaitUntilOver(h);
        NetStopDownload(h);
        EXPECT_EQ(ReadAll(destination_), "previous download") << answer.substr(0, 60);
        EXPECT_EQ(server.last_request().rfind(std::string("GET /recordings/") + kSmall + " HTTP/1.1\r\n", 0), 0u);
    }
    ExpectNothingAside();
}

TEST_F(NetDownload, StopDuringAStalledAnswerReturnsAndLeavesThePreviousFile) {
    ScriptedServer server(AnswerThenStall("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nabc"));
    const int32_t h = NetStartDownload("127.0.0.1", kLogin, kLogin, kSmall, "d:\\test.mp4", server.port(), 0, 0, 0);
    ASSERT_GE(h, 0);
    ASSERT_TRUE(WaitFor([&] { return !server.last_request().empty(); }));
    NetStopDownload(h);  // must not wait out the read timeout
    EXPECT_LT(NetGetDownloadProgress(h), 0);
    EXPECT_EQ(ReadAll(destination_), "previous download");
    ExpectNothingAside();
}

TEST_F(NetDownload, ProgressCountsTheBytesAsTheyArrive) {
    // A quarter of the body, then silence: the progress shows that quarter.
    ScriptedServer server(AnswerThenStall("HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n" +
                                          std::string(256 * 1024, 'q')));
    const int32_t h = NetStartDownload("127.0.0.1", kLogin, kLogin, kSmall, "d:\\test.mp4", server.port(), 0, 0, 0);
    ASSERT_GE(h, 0);
    EXPECT_TRUE(WaitFor([&] { return NetGetDownloadProgress(h) == 25; }, 10s));
    NetStopDownload(h);
    EXPECT_EQ(ReadAll(destination_), "previous download");
}

// A recording the recorder is still writing arrives as it ends up, not as
// it was when the download began.
TEST_F(NetDownload, ARecordingStillBeingWrittenArrivesWhole) {
    playersdk_test::GrowingClip growing("growing-download/cam1/live.ts", playersdk_test::RecordedClip(6, "ts"),
                                        "-f mpegts", 1500ms);
    recorder_ = std::make_unique<testing_support::RecorderProcess>(fs::path(growing.Path()).parent_path().parent_path());
    ASSERT_TRUE(WaitForListing(recorder_->port(), "cam1/live.ts"));
    const int32_t h = Start("cam1/live.ts");
    ASSERT_GE(h, 0);
    int32_t last = 0;
    ASSERT_TRUE(WaitFor([&] {
        const int32_t p = NetGetDownloadProgress(h);
        EXPECT_GE(p < 0 ? last : p, last) << "never goes back";
        last = std::max(last, p);
        return p < 0;
    }, 60s));
    NetStopDownload(h);
    ASSERT_TRUE(growing.Finish());
    EXPECT_EQ(fs::file_size(destination_), fs::file_size(growing.Path()));
    EXPECT_TRUE(ReadAll(destination_) == ReadAll(growing.Path())) << "byte for byte";
    EXPECT_NEAR(playersdk_test::ProbeDuration(destination_.string()), 6.0, 0.1);
    ExpectNothingAside();
}
