// The ONVIF replay client against a real replay peer on loopback: a jump to a
// clock time, key frames only, real time and as fast as the link goes, the
// 0xABAC times honoured, and a stretch downloaded as an MP4.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "ReplayPeer.h"
#include "TestMedia.h"
#include "net/OnvifReplay.h"
#include "net/ReplaySession.h"

using namespace playersdk::net;
using namespace std::chrono_literals;

namespace {

// The peer's clock starts at 1900-01-01T00:00:00Z; its clip has a key frame
// every second and a picture every 40 ms.
constexpr int64_t kClipStartMs = -2208988800000LL;

class Replay : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        playersdk_test::NumberedClip clip;
        clip.seconds = 6;
        clip.gop = 25;
        clip.video = "libx264 -qp 0 -bf 0";
        peer = new net_test::ReplayPeer(playersdk_test::MakeNumberedClip(clip));
    }
    static void TearDownTestSuite() { delete peer; }
    void SetUp() override {
        if (!peer->running()) GTEST_SKIP() << peer->why();
    }

    struct Played {
        std::vector<ReplayFrame> frames;
        std::chrono::steady_clock::duration took{};
        bool ended = false;
    };
    // Plays from..to (ms into the clip) and reads every frame to the end.
    static Played Play(int64_t from, int64_t to, bool rate_control, bool intra_only = false) {
        Played played;
        std::atomic<bool> stop{false};
        ReplaySession replay(stop, 2s, 10s);
        EXPECT_EQ(replay.Open(peer->url(), RecorderLogin{}), RtspSession::Result::Ok);
        RtspPlay play;
        play.from_ms = kClipStartMs + from;
        play.to_ms = kClipStartMs + to;
        play.rate_control = rate_control;
        play.intra_only = intra_only;
        const auto began = std::chrono::steady_clock::now();
        EXPECT_EQ(replay.Play(play), RtspSession::Result::Ok);
        size_t track = 0;
        ReplayFrame frame;
        ReplaySession::Next next;
        while ((next = replay.NextFrame(track, frame)) == ReplaySession::Next::Frame) played.frames.push_back(frame);
        played.took = std::chrono::steady_clock::now() - began;
        played.ended = next == ReplaySession::Next::End;
        replay.Close();
        return played;
    }
    static int64_t ClipMs(const ReplayFrame& frame) { return *frame.utc_ms - kClipStartMs; }
    // A PLAY at real time from..to (ms into the clip), or on from where the
    // replay was paused without `from`.
    static RtspSession::Result PlayAtRealTime(ReplaySession& replay, std::optional<int64_t> from, int64_t to) {
        RtspPlay play;
        if (from) play.from_ms = kClipStartMs + *from;
        if (from) play.to_ms = kClipStartMs + to;
        return replay.Play(play);
    }
    // The clip time of the next frame; -1 when the replay has none.
    static int64_t NextMs(ReplaySession& replay) {
        size_t track = 0;
        ReplayFrame frame;
        return replay.NextFrame(track, frame) == ReplaySession::Next::Frame ? ClipMs(frame) : -1;
    }

    static net_test::ReplayPeer* peer;
};
net_test::ReplayPeer* Replay::peer = nullptr;

TEST_F(Replay, AJumpStartsAtTheKeyFrameBeforeTheTimeWithTheDevicesTimes) {
    const Played played = Play(3500, 4500, false);
    EXPECT_TRUE(played.ended);
    ASSERT_FALSE(played.frames.empty());
    EXPECT_TRUE(played.frames.front().key);
    // The device's times, not the time asked: the key frame is at 3 s.
    EXPECT_EQ(ClipMs(played.frames.front()), 3000);
    for (size_t i = 1; i < played.frames.size(); ++i)
        EXPECT_EQ(ClipMs(played.frames[i]) - ClipMs(played.frames[i - 1]), 40) << i;
    EXPECT_GE(ClipMs(played.frames.back()), 4400);
    EXPECT_LE(ClipMs(played.frames.back()), 4500);
}

TEST_F(Replay, KeyFramesOnly) {
    const Played played = Play(0, 5000, false, true);
    ASSERT_GE(played.frames.size(), 4u);
    for (const auto& frame : played.frames) {
        EXPECT_TRUE(frame.key);
        EXPECT_EQ(ClipMs(frame) % 1000, 0);
    }
}

TEST_F(Replay, RealTimeOrAsFastAsTheLinkGoes) {
    const Played real_time = Play(1000, 3000, true);
    EXPECT_GE(real_time.took, 1500ms);
    const Played fast = Play(0, 5000, false);
    EXPECT_LT(fast.took, 2500ms);
    EXPECT_GE(fast.frames.size(), 120u);
}

TEST_F(Replay, AStretchIsDownloadedAsAnMp4) {
    const std::string file = playersdk_test::ScratchDir() + "/stretch.mp4";
    std::atomic<bool> stop{false};
    DownloadProgress progress;
    ASSERT_TRUE(ReplayStretchToFile(peer->url(), RecorderLogin{}, {"test", kClipStartMs + 1000, kClipStartMs + 4000},
                                    file, stop, progress));
    EXPECT_EQ(playersdk_test::ProbeCodecs(file), "h264");
    EXPECT_NEAR(playersdk_test::ProbeDuration(file), 3.0, 0.1);
    EXPECT_EQ(progress.total, 3000u);
}

TEST_F(Replay, APauseIsResumedByAPlayWhereItStopped) {
    std::atomic<bool> stop{false};
    ReplaySession replay(stop, 2s, 10s);
    ASSERT_EQ(replay.Open(peer->url(), RecorderLogin{}), RtspSession::Result::Ok);
    ASSERT_EQ(PlayAtRealTime(replay, 0, 6000), RtspSession::Result::Ok);
    int64_t last = 0;
    while (last >= 0 && last < 1000) last = NextMs(replay);
    ASSERT_EQ(replay.Pause(), RtspSession::Result::Ok);
    ASSERT_EQ(PlayAtRealTime(replay, std::nullopt, 0), RtspSession::Result::Ok);
    // On from where it was, neither from the start nor skipping ahead.
    const int64_t resumed = NextMs(replay);
    EXPECT_GT(resumed, last);
    EXPECT_LE(resumed, last + 1000);
    replay.Close();
}

TEST_F(Replay, ASecondPlayDuringPlaybackJumpsWithNothingOfTheFirst) {
    std::atomic<bool> stop{false};
    ReplaySession replay(stop, 2s, 10s);
    ASSERT_EQ(replay.Open(peer->url(), RecorderLogin{}), RtspSession::Result::Ok);
    ASSERT_EQ(PlayAtRealTime(replay, 0, 6000), RtspSession::Result::Ok);
    for (int64_t at = 0; at >= 0 && at < 500;) at = NextMs(replay);
    ASSERT_EQ(PlayAtRealTime(replay, 4000, 5000), RtspSession::Result::Ok);
    std::vector<int64_t> times;
    for (int64_t at; (at = NextMs(replay)) >= 0;) times.push_back(at);
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), 4000);
    EXPECT_GE(times.back(), 4900);
    for (const int64_t at : times) EXPECT_TRUE(at >= 4000 && at <= 5000) << at;
    replay.Close();
}

}  // namespace
