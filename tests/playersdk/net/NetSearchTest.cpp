// NetSearchFiles, NetGetSearchState and NetStopSearch against a real recorder.
#include "NetFixture.h"
#include "ScriptedServer.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

using namespace net_test;

namespace {

struct Row {
    int32_t search;
    std::string name;
    NetTime start;
    NetTime end;
    uint32_t size;
    bool after_return;  // NetSearchFiles had returned when the row came
};

std::mutex rows_mutex;
std::vector<Row> rows;
std::atomic<bool> search_returned{false};
std::atomic<int> slow_callback_ms{0};
std::atomic<bool> stop_in_callback{false};
std::atomic<bool> throw_in_callback{false};

void Collect(int32_t search, int32_t, const char* name, const NetTime* start, const NetTime* end,
             uint32_t size, int32_t) {
    {
        std::lock_guard lock(rows_mutex);
        rows.push_back({search, name, *start, *end, size, search_returned.load()});
    }
    if (slow_callback_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(slow_callback_ms.load()));
    if (stop_in_callback) NetStopSearch(search);
    if (throw_in_callback) throw std::runtime_error("the host failed");
}

// A recorder that accepts the login and answers searches with `search`.
ScriptedServer::Script Recorder(std::function<void(int fd, const ScriptedServer&)> search) {
    return [search](int fd, const ScriptedServer& server) {
        if (server.last_request().rfind("GET /api/login ", 0) == 0)
            ScriptedServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nok\n");
        else
            search(fd, server);
    };
}

NetTime Time(uint32_t y, int mo, int d, int h, int mi, int s) {
    NetTime t{};
    t.year = y;
    t.month = static_cast<uint8_t>(mo);
    t.day = static_cast<uint8_t>(d);
    t.hour = static_cast<uint8_t>(h);
    t.minute = static_cast<uint8_t>(mi);
    t.second = static_cast<uint8_t>(s);
    return t;
}

class NetSearch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new testing_support::TempFolder;
        const fs::path root = folder->path();
        WriteAll(root / "ch2/20261209/ch2_20261209_080000_080010.mp4", std::string(1572864, 'a'));
        WriteAll(root / "ch2/20261209/ch2_20261209_233000_001000.mp4", "b");  // into the 10th
        WriteAll(root / "ch2/20261208/ch2_20261208_120000_120010.mp4", "cc");
        WriteAll(root / "ch2/20261209/ch2_20261209_081500_081500.jpg", "ddd");
        WriteAll(root / "ch1/20261209/ch1_20261209_090000_090010.mp4", "eeee");
        for (int i = 0; i < 300; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "ch4_20261209_%02d%02d00_%02d%02d10.mp4", i / 60 + 10,
                          i % 60, i / 60 + 10, i % 60);
            WriteAll(root / "ch4" / name, "x");
        }
        recorder = new testing_support::RecorderProcess(root);
    }
    static void TearDownTestSuite() {
        delete recorder;
        delete folder;
    }
    void SetUp() override {
        ASSERT_GT(recorder->port(), 0);
        std::lock_guard lock(rows_mutex);
        rows.clear();
        slow_callback_ms = 0;
        stop_in_callback = false;
        throw_in_callback = false;
    }
    // Starts a search the way the remote window does and notes its return.
    int32_t Search(int32_t channel_index, int32_t type, int32_t limit, NetTime from, NetTime to,
                   const char* password = kLogin, uint16_t port = 0) {
        search_returned = false;
        const int32_t h = NetSearchFiles("127.0.0.1", "", channel_index, kLogin, password, type, 1,
                                         limit, &from, &to, Collect, nullptr,
                                         port ? port : static_cast<uint16_t>(recorder->port()));
        search_returned = true;
        return h;
    }
    static std::vector<Row> Finish(int32_t h) {
        EXPECT_TRUE(WaitFor([&] { return NetGetSearchState(h) == 1; }));
        NetStopSearch(h);
        std::lock_guard lock(rows_mutex);
        return rows;
    }
    static std::vector<std::string> Names(const std::vector<Row>& found) {
        std::vector<std::string> names;
        for (const Row& r : found) names.push_back(r.name);
        return names;
    }

    static testing_support::TempFolder* folder;
    static testing_support::RecorderProcess* recorder;
};
testing_support::TempFolder* NetSearch::folder = nullptr;
testing_support::RecorderProcess* NetSearch::recorder = nullptr;

}  // namespace

TEST_F(NetSearch, RangeFindsOneChannelAndTypeInOrderWithTimesAndSizes) {
    const int32_t h = Search(1, 1, 1, Time(2026, 12, 9, 0, 0, 0), Time(2026, 12, 9, 23, 59, 59));
    ASSERT_GE(h, 0);
    const auto found = Finish(h);
    ASSERT_EQ(Names(found), (std::vector<std::string>{"ch2_20261209_080000_080010.mp4",
                                                      "ch2_20261209_233000_001000.mp4"}));
    for (const Row& r : found) {
        EXPECT_EQ(r.search, h);
        EXPECT_TRUE(r.after_return) << "a row came before NetSearchFiles returned";
    }
    EXPECT_EQ(found[0].size, 1572864u);
    EXPECT_EQ(found[0].start.year, 2026u);
    EXPECT_EQ(found[0].start.month, 12);
    EXPECT_EQ(found[0].start.day, 9);
    EXPECT_EQ(found[0].start.hour, 8);
    EXPECT_EQ(found[0].end.second, 10);
    EXPECT_EQ(found[1].end.day, 10);  // ran past midnight
    EXPECT_EQ(found[1].end.minute, 10);
}

TEST_F(NetSearch, PicturesAndOtherChannelsAreSeparate) {
    auto found = Finish(Search(1, 2, 1, Time(2026, 12, 9, 0, 0, 0), Time(2026, 12, 9, 23, 59, 59)));
    EXPECT_EQ(Names(found), (std::vector<std::string>{"ch2_20261209_081500_081500.jpg"}));
    {
        std::lock_guard lock(rows_mutex);
        rows.clear();
    }
    found = Finish(Search(2, 1, 1, Time(2026, 12, 9, 0, 0, 0), Time(2026, 12, 9, 23, 59, 59)));
    EXPECT_TRUE(found.empty());
}

TEST_F(NetSearch, WithoutTimeLimitEveryRecordingOfTheChannelComes) {
    // The range given is ignored with the flag 0, even a nonsensical one.
    const auto found = Finish(Search(1, 1, 0, Time(0, 0, 0, 0, 0, 0), Time(0, 0, 0, 0, 0, 0)));
    EXPECT_EQ(Names(found), (std::vector<std::string>{"ch2_20261208_120000_120010.mp4",
                                                      "ch2_20261209_080000_080010.mp4",
                                                      "ch2_20261209_233000_001000.mp4"}));
}

TEST_F(NetSearch, WrongPasswordOrNoRecorderIsNegative) {
    EXPECT_LT(Search(1, 1, 0, Time(2026, 1, 1, 0, 0, 0), Time(2026, 1, 1, 0, 0, 0), "wrong"), 0);
    // A port nobody listens on: the recorder that just stopped.
    testing_support::TempFolder empty;
    testing_support::RecorderProcess gone(empty.path());
    const uint16_t port = static_cast<uint16_t>(gone.port());
    gone.kill();
    EXPECT_LT(Search(1, 1, 0, Time(2026, 1, 1, 0, 0, 0), Time(2026, 1, 1, 0, 0, 0), kLogin, port), 0);
    std::lock_guard lock(rows_mutex);
    EXPECT_TRUE(rows.empty());
}

TEST_F(NetSearch, BadArgumentsAreNegative) {
    const NetTime t = Time(2026, 12, 9, 0, 0, 0);
    const uint16_t port = static_cast<uint16_t>(recorder->port());
    EXPECT_LT(NetSearchFiles("127.0.0.1", "", 4, kLogin, kLogin, 1, 1, 0, &t, &t, Collect, nullptr, port), 0);
    EXPECT_LT(NetSearchFiles("127.0.0.1", "", -1, kLogin, kLogin, 1, 1, 0, &t, &t, Collect, nullptr, port), 0);
    EXPECT_LT(NetSearchFiles("127.0.0.1", "", 0, kLogin, kLogin, 3, 1, 0, &t, &t, Collect, nullptr, port), 0);
    EXPECT_LT(NetSearchFiles("", "", 0, kLogin, kLogin, 1, 1, 0, &t, &t, Collect, nullptr, port), 0);
    EXPECT_LT(NetSearchFiles("127.0.0.1", "", 0, kLogin, kLogin, 1, 1, 0, &t, &t, Collect, nullptr, 0), 0);
    const NetTime bad = Time(2026, 13, 9, 0, 0, 0);
    EXPECT_LT(NetSearchFiles("127.0.0.1", "", 0, kLogin, kLogin, 1, 1, 1, &bad, &t, Collect, nullptr, port), 0);
}

TEST_F(NetSearch, StopReturnsOnlyWhenNoCallbackCanFollow) {
    slow_callback_ms = 20;  // 300 rows would take 6 s
    const int32_t h = Search(3, 1, 0, Time(2026, 1, 1, 0, 0, 0), Time(2026, 1, 1, 0, 0, 0));
    ASSERT_GE(h, 0);
    ASSERT_TRUE(WaitFor([] {
        std::lock_guard lock(rows_mutex);
        return rows.size() >= 3;
    }));
    EXPECT_NE(NetGetSearchState(h), 1);
    NetStopSearch(h);
    size_t at_stop;
    {
        std::lock_guard lock(rows_mutex);
        at_stop = rows.size();
    }
    std::this_thread::sleep_for(200ms);
    std::lock_guard lock(rows_mutex);
    EXPECT_EQ(rows.size(), at_stop);
    EXPECT_LT(at_stop, 300u);
    // The rows that came were in order.
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].name, rows[i].name);
}

TEST_F(NetSearch, StoppedNegativeAndUnknownHandlesAreHarmless) {
    const int32_t h = Search(1, 1, 0, Time(2026, 1, 1, 0, 0, 0), Time(2026, 1, 1, 0, 0, 0));
    ASSERT_GE(h, 0);
    Finish(h);
    NetStopSearch(h);  // a second stop
    EXPECT_EQ(NetGetSearchState(h), 1);
    NetStopSearch(-1);
    NetStopSearch(-3);
    NetStopSearch(123456);
    EXPECT_EQ(NetGetSearchState(-1), 1);
    EXPECT_EQ(NetGetSearchState(987654), 1);
}

TEST_F(NetSearch, CallbackMayStopItsOwnSearch) {
    stop_in_callback = true;
    const int32_t h = Search(3, 1, 0, Time(2026, 1, 1, 0, 0, 0), Time(2026, 1, 1, 0, 0, 0));
    ASSERT_GE(h, 0);
    ASSERT_TRUE(WaitFor([] {
        std::lock_guard lock(rows_mutex);
        return !rows.empty();
    }));
    std::this_thread::sleep_for(200ms);
    std::lock_guard lock(rows_mutex);
    EXPECT_EQ(rows.size(), 1u);
}

TEST_F(NetSearch, ACallbackThatThrowsEndsItsSearchAndNotTheProcess) {
    throw_in_callback = true;
    const auto found = Finish(Search(1, 1, 0, Time(0, 0, 0, 0, 0, 0), Time(0, 0, 0, 0, 0, 0)));
    EXPECT_EQ(found.size(), 1u) << "no row after the one whose callback failed";
}

TEST_F(NetSearch, ImpossibleDatesFromTheRecorderAreSkipped) {
    const std::string answer =
        "leap.mp4\t20240229235959\t20240301000009\t5\n"
        "month13.mp4\t20261309080000\t20261309080010\t5\n"
        "hour99.mp4\t20261209990000\t20261209990010\t5\n"
        "feb30.mp4\t20250230080000\t20250230080010\t5\n"
        "minute60.mp4\t20261209080000\t20261209086000\t5\n"
        "day0.mp4\t20261200080000\t20261200080010\t5\n";
    ScriptedServer server(Recorder([&](int fd, const ScriptedServer&) {
        ScriptedServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(answer.size()) +
                                     "\r\n\r\n" + answer);
    }));
    const auto found = Finish(Search(0, 1, 0, Time(2026, 1, 1, 0, 0, 0), Time(2026, 1, 1, 0, 0, 0),
                                     kLogin, server.port()));
    EXPECT_EQ(Names(found), (std::vector<std::string>{"leap.mp4"}));
}

TEST_F(NetSearch, AnswerThatNeverEndsFailsTheSearchWithinABound) {
    std::atomic<size_t> sent{0};
    ScriptedServer server(Recorder([&](int fd, const ScriptedServer& self) {
        std::string block;
        while (block.size() < 65536) block += "x.mp4\t20261209080000\t20261209080010\t5\n";
        if (!ScriptedServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n")) return;
        while (!self.released() && ScriptedServer::Send(fd, block)) sent += block.size();
    }));
    const int32_t h = Search(0, 1, 0, Time(2026, 1, 1, 0, 0, 0), Time(2026, 1, 1, 0, 0, 0), kLogin,
                             server.port());
    ASSERT_GE(h, 0);
    EXPECT_TRUE(WaitFor([&] { return NetGetSearchState(h) == 1; }));
    NetStopSearch(h);
    EXPECT_LT(sent.load(), size_t{64} << 20);
    std::lock_guard lock(rows_mutex);
    EXPECT_TRUE(rows.empty());
}
