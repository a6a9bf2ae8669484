#include "net/StreamSupervisor.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "core/Barrier.h"
#include "core/HandleTable.h"
#include "core/Player.h"

namespace playersdk::net {
namespace {

constexpr auto kTick = std::chrono::milliseconds(20);
// A reader starved this long while playing is a stall, not a passing gap.
constexpr int64_t kStallMs = 150;
// After a stall, playing resumes once this much is held again: the picture
// should not wait out the first buffering again after a short gap or a
// reconnection (players commonly wait about a second).
constexpr int kRebufferSeconds = 1;
constexpr int kLeastBufferSeconds = 1;
constexpr int kMostBufferSeconds = 20;

}  // namespace

StreamSupervisor& StreamSupervisor::Instance() {
    static StreamSupervisor supervisor;
    return supervisor;
}

StreamSupervisor::~StreamSupervisor() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

void StreamSupervisor::Add(PlayerHandle handle, const std::shared_ptr<Player>& player,
                           std::shared_ptr<StreamSource> buffer) {
    std::lock_guard lock(mutex_);
    Stream stream;
    stream.player = player;
    stream.buffer = std::move(buffer);
    streams_[handle] = std::move(stream);
    if (!thread_.joinable()) thread_ = std::thread([this] { Shielded([this] { Run(); }); });
    wake_.notify_all();
}

bool StreamSupervisor::SetBufferSeconds(PlayerHandle handle, int32_t seconds) {
    std::lock_guard lock(mutex_);
    const auto it = streams_.find(handle);
    if (it == streams_.end()) return false;
    it->second.buffer_seconds = std::clamp<int32_t>(seconds, kLeastBufferSeconds, kMostBufferSeconds);
    wake_.notify_all();
    return true;
}

int32_t StreamSupervisor::BufferProgress(PlayerHandle handle) const {
    std::lock_guard lock(mutex_);
    const auto it = streams_.find(handle);
    if (it == streams_.end() || !it->second.buffering) return -1;
    // Closed but not yet seen by the thread: over all the same.
    if (!FindPlayer(handle)) return -1;
    return it->second.progress;
}

void StreamSupervisor::Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        // What the streams' players are told is done with no lock of ours
        // held: the window's post may run then, and NetGetBufferProgress or
        // NetSetBufferTime called from it would wait for this lock. Players
        // and buffers released here are destroyed unlocked too: their
        // destruction joins threads of theirs and of their input.
        std::vector<std::function<void()>> actions;
        std::vector<std::shared_ptr<Player>> released;
        std::vector<std::shared_ptr<StreamSource>> released_buffers;
        for (auto it = streams_.begin(); it != streams_.end();) {
            if (Supervise(it->first, it->second, actions)) {
                ++it;
            } else {
                if (auto player = it->second.player.lock()) released.push_back(std::move(player));
                released_buffers.push_back(std::move(it->second.buffer));
                it = streams_.erase(it);
            }
        }
        if (!actions.empty() || !released.empty() || !released_buffers.empty()) {
            lock.unlock();
            for (auto& action : actions) action();
            actions.clear();
            released.clear();
            released_buffers.clear();
            lock.lock();
        }
        wake_.wait_for(lock, kTick);
    }
}

bool StreamSupervisor::Supervise(PlayerHandle handle, Stream& stream,
                                 std::vector<std::function<void()>>& actions) {
    std::shared_ptr<Player> player = stream.player.lock();
    if (!player || FindPlayer(handle) != player) return false;
    StreamSource& buffer = *stream.buffer;
    buffer.SetDurationIfUnknown(player->TotalMs());
    const int64_t play_ms = player->PlayMs();
    buffer.NotePlayMs(play_ms);
    buffer.NotePace(player->Speed(), player->Paused());
    if (const Player::ReadMark read = player->LastRead(); read.pos >= 0) {
        buffer.NoteRead(static_cast<uint64_t>(read.pos), read.ms);
    }
    const bool over = buffer.FetchOver();
    if (stream.buffering) {
        const int seconds = stream.started ? kRebufferSeconds : stream.buffer_seconds;
        const int64_t target = int64_t{seconds} * 1000;
        // The player reads ahead into its own queues: that media is held too.
        const int64_t held = buffer.BufferedMs() + player->QueuedAheadMs();
        // A window full before the target (media of a high bit rate) is as
        // much as there will be, and so is all a recording still being
        // written holds so far: the rest comes at the pace of its writer.
        if (held < target && !over && !buffer.Full() && !buffer.CaughtUpWithWriter()) {
            stream.progress = static_cast<int32_t>(std::clamp<int64_t>(held * 100 / target, 0, 99));
            return true;
        }
        stream.buffering = false;
        stream.progress = -1;
        buffer.ResetStarved();
        if (!stream.started) {
            stream.started = true;
            actions.emplace_back([player] {
                player->Start();
                player->PostEvent(PLAYER_EVENT_STARTED);
            });
        } else {
            actions.emplace_back([player] { player->SetBuffering(false); });
        }
        return true;
    }
    // A starved input stalls playing only once the player's own queues have
    // run down too. One waiting for its writer at the end of a recording
    // still being written does not: the player holds its clock until more
    // is written, as for a local file being written.
    if (!over && !buffer.CaughtUpWithWriter() && buffer.StarvedMs() >= kStallMs &&
        player->QueuedAheadMs() < kStallMs) {
        stream.buffering = true;
        stream.progress = 0;
        actions.emplace_back([player] {
            player->SetBuffering(true);
            player->PostEvent(PLAYER_EVENT_BUFFERING);
        });
    }
    return true;
}

}  // namespace playersdk::net
