// The stream buffer on its own, against scripted answers: the bound on what
// it holds, resuming a lost connection by range, giving up, and seeking.
#include "net/StreamBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "ScriptedServer.h"

extern "C" {
#include <libavutil/error.h>
}

using namespace net_test;
using namespace playersdk::net;
using namespace std::chrono_literals;

namespace {

std::string Pattern(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 31 + i / 4093) % 251);
    return body;
}

// The first byte of "Range: bytes=N-" in a request head; 0 when absent.
size_t RangeFrom(const std::string& request) {
    const size_t at = request.find("Range: bytes=");
    return at == std::string::npos ? 0 : std::stoull(request.substr(at + 13));
}

// Answers a range request for `body` as the recorder does, ending the
// connection after `cut_after` body bytes when that comes first. Counts
// what the socket took into `sent`.
void SendRange(int fd, const std::string& request, const std::string& body, size_t cut_after,
               std::atomic<size_t>* sent = nullptr) {
    const size_t from = RangeFrom(request);
    ScriptedServer::Send(fd, "HTTP/1.1 206 Partial Content\r\nContent-Length: " +
                                 std::to_string(body.size() - from) + "\r\nContent-Range: bytes " +
                                 std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
                                 std::to_string(body.size()) + "\r\n\r\n");
    const size_t end = std::min(body.size(), from + cut_after);
    for (size_t at = from; at < end; at += 16384) {
        if (!ScriptedServer::Send(fd, body.substr(at, std::min<size_t>(16384, end - at)))) return;
        if (sent) *sent += std::min<size_t>(16384, end - at);
    }
}

StreamLimits Quick() {
    StreamLimits limits;
    limits.retry_delays = {10ms, 20ms, 40ms};
    return limits;
}

std::unique_ptr<StreamBuffer> Open(uint16_t port, StreamLimits limits = Quick()) {
    auto buffer = std::make_unique<StreamBuffer>(RecorderLogin{"127.0.0.1", port, "246135", "246135"},
                                                 "x.mp4", std::move(limits));
    EXPECT_EQ(buffer->Connect(5s), StreamOpen::Ready);
    return buffer;
}

// Reads to the end in pieces of `piece`; the last result is in `last`.
std::string ReadToEnd(StreamBuffer& buffer, int& last, int piece = 100000) {
    std::string got;
    std::vector<uint8_t> bytes(static_cast<size_t>(piece));
    while ((last = buffer.Read(bytes.data(), piece)) > 0)
        got.append(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(last));
    return got;
}

}  // namespace

TEST(StreamBuffer, HoldsABoundedWindowAndTheSenderWaits) {
    const std::string body = Pattern(24 << 20);
    std::atomic<size_t> sent{0};
    ScriptedServer server([&](int fd, const ScriptedServer&) {
        SendRange(fd, server.last_request(), body, body.size(), &sent);
    });
    StreamLimits limits = Quick();
    limits.ahead_bytes = 1 << 20;
    limits.behind_bytes = 256 << 10;
    auto buffer = Open(server.port(), limits);
    uint8_t first[1000];
    ASSERT_EQ(buffer->Read(first, sizeof first), 1000);
    // Let the sender run until it can go no further.
    size_t before = 0;
    do {
        before = sent;
        std::this_thread::sleep_for(300ms);
    } while (sent != before);
    // One window and the socket's buffers on both sides (about 6 MB here).
    EXPECT_LT(sent.load(), size_t{16} << 20);

    int last = 0;
    const std::string rest = ReadToEnd(*buffer, last, 77777);  // pieces that cross the ring's end
    EXPECT_EQ(last, AVERROR_EOF);
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(first), sizeof first) + rest == body);
    EXPECT_EQ(buffer->Reconnections(), 0);
}

TEST(StreamBuffer, LostConnectionResumesWithARangeFromTheLastByte) {
    const std::string body = Pattern(300000);
    std::mutex mutex;
    std::vector<size_t> ranges;
    ScriptedServer server([&](int fd, const ScriptedServer&) {
        const std::string request = server.last_request();
        {
            std::lock_guard lock(mutex);
            ranges.push_back(RangeFrom(request));
        }
        SendRange(fd, request, body, RangeFrom(request) == 0 ? 123457 : body.size());
    });
    auto buffer = Open(server.port());
    int last = 0;
    EXPECT_TRUE(ReadToEnd(*buffer, last) == body);
    EXPECT_EQ(last, AVERROR_EOF);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ranges, (std::vector<size_t>{0, 123457}));
    EXPECT_EQ(buffer->Reconnections(), 1);
}

TEST(StreamBuffer, EndsWhereTheBytesEndOnlyAfterEveryRetryFailed) {
    const std::string body = Pattern(300000);
    std::atomic<int> later{0};
    ScriptedServer server([&](int fd, const ScriptedServer&) {
        const std::string request = server.last_request();
        if (RangeFrom(request) == 0)
            SendRange(fd, request, body, 100000);
        else
            ++later;  // the recorder is gone: no answer
    });
    auto buffer = Open(server.port());
    int last = 0;
    const std::string got = ReadToEnd(*buffer, last);
    EXPECT_EQ(last, AVERROR_EOF);
    EXPECT_TRUE(got == body.substr(0, 100000));
    EXPECT_GE(later.load(), 3);  // one per back-off step at least
    EXPECT_TRUE(buffer->FetchOver());
}

TEST(StreamBuffer, RefusalOnReconnectionEndsAtOnce) {
    const std::string body = Pattern(300000);
    std::atomic<int> later{0};
    ScriptedServer server([&](int fd, const ScriptedServer&) {
        const std::string request = server.last_request();
        if (RangeFrom(request) == 0) return SendRange(fd, request, body, 100000);
        ++later;
        ScriptedServer::Send(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    });
    auto buffer = Open(server.port());
    int last = 0;
    EXPECT_EQ(ReadToEnd(*buffer, last).size(), 100000u);
    EXPECT_EQ(last, AVERROR_EOF);
    EXPECT_EQ(later.load(), 1);
}

TEST(StreamBuffer, ReadFarOutsideTheWindowFetchesByRange) {
    const std::string body = Pattern(8 << 20);
    std::mutex mutex;
    std::vector<size_t> ranges;
    ScriptedServer server([&](int fd, const ScriptedServer&) {
        const std::string request = server.last_request();
        {
            std::lock_guard lock(mutex);
            ranges.push_back(RangeFrom(request));
        }
        SendRange(fd, request, body, body.size());
    });
    StreamLimits limits = Quick();
    limits.ahead_bytes = 256 << 10;
    auto buffer = Open(server.port(), limits);
    uint8_t piece[4096];
    ASSERT_EQ(buffer->Read(piece, sizeof piece), 4096);
    for (const size_t at : {size_t{6} << 20, size_t{4096}}) {  // ahead, then back
        ASSERT_EQ(buffer->Seek(static_cast<int64_t>(at), SEEK_SET), static_cast<int64_t>(at));
        ASSERT_EQ(buffer->Read(piece, sizeof piece), 4096);
        EXPECT_TRUE(std::string(reinterpret_cast<const char*>(piece), sizeof piece) == body.substr(at, 4096));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(ranges, (std::vector<size_t>{0, size_t{6} << 20, 4096}));
}

TEST(StreamBuffer, InterruptEndsAReadWaitingOnASilentRecorder) {
    ScriptedServer server(AnswerThenStall(
        "HTTP/1.1 206 Partial Content\r\nContent-Length: 1000\r\nContent-Range: bytes 0-999/1000\r\n\r\n"));
    auto buffer = Open(server.port());
    std::thread interrupter([&] {
        std::this_thread::sleep_for(100ms);
        buffer->Interrupt();
    });
    uint8_t piece[16];
    EXPECT_EQ(buffer->Read(piece, sizeof piece), AVERROR_EXIT);
    interrupter.join();
}

// A recording whose first half has four times the bit rate of its second
// (busy day, quiet night): in the quiet half the window still holds its
// seconds, counted at the rate of what the player read there.
TEST(StreamBuffer, WindowInSecondsFollowsTheBitRateOfWhatWasRead) {
    // 100 s: 16 MB in the first 50 s, then 80 bytes per ms.
    const std::string body = Pattern(20'000'000);
    ScriptedServer server([&](int fd, const ScriptedServer&) {
        SendRange(fd, server.last_request(), body, body.size());
    });
    auto buffer = Open(server.port());  // 30 s ahead at most
    buffer->SetDurationIfUnknown(100000);
    constexpr uint64_t kPlayAt = 16'800'000;  // 60 s
    buffer->NoteRead(16'000'000, 50000);
    buffer->NoteRead(kPlayAt, 60000);
    buffer->NotePlayMs(60000);
    ASSERT_EQ(buffer->Seek(kPlayAt, SEEK_SET), static_cast<int64_t>(kPlayAt));
    uint8_t piece[65536];
    ASSERT_GT(buffer->Read(piece, 1), 0);
    for (int i = 0; i < 500 && !buffer->Full(); ++i) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(buffer->Full());
    // Held ahead of the reader: 30 s of the quiet half are 2.4 MB (at the
    // recording's average rate, 12 s).
    EXPECT_GE(buffer->BufferedMs(), 29000) << "the window stopped short";
    EXPECT_LE(buffer->BufferedMs(), 32000);
}
