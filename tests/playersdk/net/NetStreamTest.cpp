// NetOpenStream, NetSetBufferTime, NetGetBufferProgress and the player entry
// points on a stream, against a real recorder.
#include "NetFixture.h"
#include "ScriptedServer.h"
#include "TestMedia.h"

#include <algorithm>
#include <set>

using namespace net_test;
using playersdk_test::FakeWindow;

namespace {

const char* const kShort = "ch1_20261209_080000_080002.mp4";  // 2 s
const char* const kLong = "ch1_20261209_090000_090006.mp4";   // 6 s

// The recordings, made once for the whole binary and removed at its exit.
const fs::path& Recordings() {
    static testing_support::TempFolder folder;
    static const bool made = testing_support::makeTestMp4(folder.path() / "ch1" / kShort, 2) &&
                             testing_support::makeTestMp4(folder.path() / "ch1" / kLong, 6);
    EXPECT_TRUE(made);
    return folder.path();
}

class NetStream : public ::testing::Test {
protected:
    void StartRecorder(std::vector<std::string> options = {}) {
        recorder_ = std::make_unique<testing_support::RecorderProcess>(Recordings(), std::move(options));
        ASSERT_GT(recorder_->port(), 0);
    }
    PlayerHandle Open(const char* name, const char* password = kLogin) {
        return NetOpenStream("127.0.0.1", kLogin, password, name, picture_.Handle(),
                             static_cast<uint16_t>(recorder_->port()));
    }
    // What the remote window does right after a successful open.
    void Register(PlayerHandle h, int buffer_seconds) {
        NetSetBufferTime(h, buffer_seconds);
        PlayerSetNotifyWindow(h, window_.Handle(), WM_PLAYER_NOTIFY);
    }
    std::vector<intptr_t> Codes() const {
        std::vector<intptr_t> codes;
        for (const auto& p : window_.Posts()) codes.push_back(p.code);
        return codes;
    }
    void TearDown() override {
        for (PlayerHandle h : opened_) PlayerClose(h);
    }
    PlayerHandle Keep(PlayerHandle h) {
        if (h != -1) opened_.push_back(h);
        return h;
    }

    void ExpectFollowedToItsEnd(const std::string& name, const std::string& container,
                                const std::string& muxer_options, bool restart = false, int buffer_seconds = 1);

    std::unique_ptr<testing_support::RecorderProcess> recorder_;
    FakeWindow picture_{64, 36};
    FakeWindow window_{1, 1};
    std::vector<PlayerHandle> opened_;
};

}  // namespace

TEST_F(NetStream, BuffersStartsPlaysIntoThePictureAndEnds) {
    StartRecorder();
    const PlayerHandle h = Keep(Open(kShort));
    ASSERT_NE(h, -1);
    Register(h, 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    const auto codes = Codes();
    ASSERT_EQ(codes, (std::vector<intptr_t>{PLAYER_EVENT_BUFFERING, PLAYER_EVENT_STARTED,
                                            PLAYER_EVENT_END}));
    for (const auto& p : window_.Posts()) {
        EXPECT_EQ(p.message, static_cast<uint32_t>(WM_PLAYER_NOTIFY));
        EXPECT_EQ(p.handle, h);
    }
    EXPECT_GT(picture_.Presents(), 0);
    EXPECT_EQ(window_.Presents(), 0);  // pictures go to the picture control only
    EXPECT_NEAR(static_cast<double>(PlayerGetTotalTime(h)), 2000, 150);
    EXPECT_NE(PlayerHasAudio(h), 0);
    EXPECT_LT(NetGetBufferProgress(h), 0);
}

TEST_F(NetStream, RefusedLoginMissingRecordingOrNoRecorderIsMinusOne) {
    StartRecorder();
    EXPECT_EQ(Keep(Open(kShort, "wrong")), -1);
    EXPECT_EQ(Keep(Open("ch1_20261209_100000_100002.mp4")), -1);
    EXPECT_EQ(Keep(Open("../ch1/ch1_20261209_080000_080002.mp4")), -1);
    EXPECT_EQ(Keep(Open("")), -1);
    recorder_->kill();
    EXPECT_EQ(Keep(Open(kShort)), -1);
    EXPECT_LT(NetGetBufferProgress(-1), 0);
    NetSetBufferTime(-1, 5);
    NetSetBufferTime(777777, 5);
}

// The window's thread waits for the opening: a recorder that answers and
// then sends nothing more holds it for a few seconds at most.
TEST_F(NetStream, AnOpeningThatStallsGivesUpWithinItsBudget) {
    ScriptedServer server(AnswerThenStall("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(100, '\0')));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Keep(NetOpenStream("127.0.0.1", kLogin, kLogin, kShort, picture_.Handle(), server.port())), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4500ms);
}

TEST_F(NetStream, PacedStreamReportsBufferingProgressBeforeItStarts) {
    StartRecorder({"--rate", "1"});
    const PlayerHandle h = Keep(Open(kLong));
    ASSERT_NE(h, -1);
    Register(h, 3);
    // Three seconds of a stream paced at real time take a while to arrive;
    // meanwhile the fill is reported in percent.
    int32_t seen = -1;
    ASSERT_TRUE(WaitFor([&] {
        const int32_t p = NetGetBufferProgress(h);
        if (p >= 0) {
            EXPECT_LE(p, 100);
            seen = std::max(seen, p);
        }
        return window_.CountEvents(PLAYER_EVENT_STARTED) > 0;
    }));
    EXPECT_GE(seen, 0);
    EXPECT_LT(NetGetBufferProgress(h), 0);  // over once started
    EXPECT_EQ(Codes().front(), PLAYER_EVENT_BUFFERING);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
}

TEST_F(NetStream, RecorderKilledWhilePlayingEnds) {
    StartRecorder({"--rate", "1"});
    const PlayerHandle h = Keep(Open(kLong));
    ASSERT_NE(h, -1);
    Register(h, 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_STARTED, 1));
    recorder_->kill();
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    EXPECT_LT(PlayerGetPlayTime(h), 6000u);  // ended before the recording did
}

TEST_F(NetStream, RecorderKilledAndRestartedResumesWhereItStopped) {
    StartRecorder({"--rate", "1"});
    const std::string port = std::to_string(recorder_->port());
    const PlayerHandle h = Keep(Open(kLong));
    ASSERT_NE(h, -1);
    Register(h, 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_STARTED, 1));
    ASSERT_TRUE(WaitFor([&] { return PlayerGetPlayTime(h) >= 1500; }));
    recorder_->kill();
    // Once what had arrived has played, the stream buffers again.
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_BUFFERING, 2));
    EXPECT_GE(NetGetBufferProgress(h), 0);
    EXPECT_EQ(window_.CountEvents(PLAYER_EVENT_END), 0);
    const int presented = picture_.Presents();
    recorder_ = std::make_unique<testing_support::RecorderProcess>(
        Recordings(), std::vector<std::string>{"--rate", "1", "--port", port});
    ASSERT_EQ(std::to_string(recorder_->port()), port);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    // It played on to the end, from the byte where the connection broke.
    EXPECT_EQ(window_.CountEvents(PLAYER_EVENT_STARTED), 1);
    EXPECT_GT(picture_.Presents(), presented);
    EXPECT_GE(PlayerGetPlayTime(h), 5500u);
    bool resumed_by_range = false;
    for (const std::string& line : recorder_->logLines())
        resumed_by_range |= line.find("/stream/") != std::string::npos &&
                            line.find("bytes=") != std::string::npos &&
                            line.find("bytes=0-") == std::string::npos;
    EXPECT_TRUE(resumed_by_range);
}

TEST_F(NetStream, PlayingFasterThanTheRecorderSendsBuffersAgain) {
    StartRecorder({"--rate", "1"});
    const PlayerHandle h = Keep(Open(kLong));
    ASSERT_NE(h, -1);
    Register(h, 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_STARTED, 1));
    PlayerFast(h);
    PlayerFast(h);  // four times real time against a stream sent at real time
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_BUFFERING, 2));
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    EXPECT_EQ(window_.CountEvents(PLAYER_EVENT_STARTED), 1);
}

TEST_F(NetStream, PlayerEntryPointsWorkOnAStream) {
    StartRecorder();
    const PlayerHandle h = Keep(Open(kLong));
    ASSERT_NE(h, -1);
    Register(h, 1);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_STARTED, 1));
    PlayerPause(h);
    EXPECT_NE(PlayerSetPlayTime(h, 4000), 0);
    ASSERT_TRUE(WaitFor([&] { return PlayerGetPlayTime(h) >= 3500; }));
    const fs::path cut = NetEnvironment::DriveRoot() / "c" / "testcut.mp4";
    EXPECT_NE(PlayerStartCut(h, "c:\\testcut.mp4"), 0);
    PlayerPlay(h, window_.Handle());
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1));
    PlayerStopCut(h);
    EXPECT_GT(fs::file_size(cut), 0u);
}

TEST_F(NetStream, ClosingWhileBufferingPostsNothingMore) {
    StartRecorder({"--rate", "1"});
    const PlayerHandle h = Open(kLong);
    ASSERT_NE(h, -1);
    Register(h, 20);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_BUFFERING, 1));
    PlayerClose(h);
    const size_t posted = window_.Posts().size();
    EXPECT_LT(NetGetBufferProgress(h), 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(window_.Posts().size(), posted);
}

// A recording the recorder is still writing, in bursts of 1.5 s of media,
// streamed from the moment the recorder lists it: the stream plays past what
// there was at the open, its length grows, and it ends once the writer has
// stopped and every picture has been shown. It starts with what there is,
// whatever `buffer_seconds`, and at the end of what has been written it
// waits for the writer rather than buffering again. With `restart`, the recorder is
// killed and started again midway: the stream goes on from where it was.
void NetStream::ExpectFollowedToItsEnd(const std::string& name, const std::string& container,
                                       const std::string& muxer_options, bool restart, int buffer_seconds) {
    playersdk_test::GrowingClip growing("growing-" + container + (restart ? "-restart/" : "/") + name,
                                        playersdk_test::RecordedClip(6, container), muxer_options, 1500ms);
    const fs::path root = fs::path(growing.Path()).parent_path().parent_path();
    recorder_ = std::make_unique<testing_support::RecorderProcess>(root);
    ASSERT_TRUE(WaitForListing(recorder_->port(), name));
    FakeWindow picture(64, 48);
    std::mutex mutex;
    std::set<int> shown;
    picture.OnEachPicture([&](const playersdk_test::Picture& p) {
        std::lock_guard lock(mutex);
        shown.insert(playersdk_test::FrameNumberOf(p));
    });
    const PlayerHandle h = Keep(NetOpenStream("127.0.0.1", kLogin, kLogin, name.c_str(), picture.Handle(),
                                              static_cast<uint16_t>(recorder_->port())));
    ASSERT_NE(h, -1);
    EXPECT_LT(PlayerGetTotalTime(h), 5000u) << "opened while the writer had most of it to write";
    Register(h, buffer_seconds);
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_STARTED, 1, 60s));
    const auto written_at_start = fs::file_size(growing.Path());
    if (restart) {
        ASSERT_TRUE(WaitFor([&] { return PlayerGetPlayTime(h) >= 1500; }));
        const std::string port = std::to_string(recorder_->port());
        recorder_->kill();
        recorder_ = std::make_unique<testing_support::RecorderProcess>(root, std::vector<std::string>{"--port", port});
        ASSERT_EQ(std::to_string(recorder_->port()), port);
    }
    ASSERT_TRUE(window_.WaitForEvents(PLAYER_EVENT_END, 1, 60s));
    picture.OnEachPicture(nullptr);
    EXPECT_TRUE(growing.Finish());
    EXPECT_LT(written_at_start, fs::file_size(growing.Path())) << "started before the writer stopped";
    // What was written while the recorder was away is a backlog to buffer
    // again, as after any reconnection.
    const auto codes = Codes();
    if (!restart) {
        EXPECT_EQ(std::count(codes.begin(), codes.end(), PLAYER_EVENT_BUFFERING), 1);
    }
    std::lock_guard lock(mutex);
    shown.erase(-1);
    // Most of the 150 (a loaded machine leaves some late ones out), the last
    // among them: the pictures written after the open were played, not skipped.
    EXPECT_GE(shown.size(), 110u) << "the pictures written after the open";
    EXPECT_GE(shown.empty() ? -1 : *shown.rbegin(), 145);
    EXPECT_NEAR(PlayerGetTotalTime(h), 6000, 80) << "the length grew with the recording";
}

TEST_F(NetStream, ATransportStreamStillBeingWrittenIsFollowedToItsEnd) {
    ExpectFollowedToItsEnd("cam1/live.ts", "ts", "-f mpegts");
}

// A buffer time far longer than the recording written so far.
TEST_F(NetStream, AStreamStillBeingWrittenStartsWithAllThereIsUnderALongBufferTime) {
    ExpectFollowedToItsEnd("cam1/long-buffer.ts", "ts", "-f mpegts", false, 20);
}

// Listed once it holds a whole fragment, and read fragment by fragment.
TEST_F(NetStream, AFragmentedMp4StillBeingWrittenIsFollowedToItsEnd) {
    ExpectFollowedToItsEnd("cam1/live.mp4", "mp4", "-movflags frag_keyframe+empty_moov+default_base_moof");
}

TEST_F(NetStream, ARecorderRestartedWhileItWritesResumesTheStreamWhereItWas) {
    ExpectFollowedToItsEnd("cam1/live.ts", "ts", "-f mpegts", true);
}
