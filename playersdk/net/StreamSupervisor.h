// Drives every open network stream through buffering and playing: posts
// PLAYER_EVENT_BUFFERING, starts the player once the buffer holds the
// requested seconds of media or all a recording still being written holds
// so far (PLAYER_EVENT_STARTED), and buffers again when the player runs out
// of data while playing, short of the end of what has been written. One thread serves all streams;
// a stream leaves it when its handle is closed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/StreamSource.h"
#include "player/PlayerSdk.h"

namespace playersdk {
class Player;
}

namespace playersdk::net {

class StreamSupervisor {
public:
    static StreamSupervisor& Instance();
    ~StreamSupervisor();

    // Takes on a stream just registered as `handle`, in its buffering phase.
    void Add(PlayerHandle handle, const std::shared_ptr<Player>& player,
             std::shared_ptr<StreamSource> buffer);
    // Seconds of media to buffer, taken into 1..20. False for no such stream.
    bool SetBufferSeconds(PlayerHandle handle, int32_t seconds);
    // Fill percent while buffering; negative otherwise or for no such stream.
    int32_t BufferProgress(PlayerHandle handle) const;

private:
    struct Stream {
        std::weak_ptr<Player> player;
        std::shared_ptr<StreamSource> buffer;
        int buffer_seconds = 20;  // until the caller sets it
        bool buffering = true;
        bool started = false;
        int32_t progress = 0;
    };
    StreamSupervisor() = default;
    void Run();
    // One look at a stream; false when it is gone. What its player is to be
    // told is added to `actions`, for the caller to run unlocked.
    bool Supervise(PlayerHandle handle, Stream& stream, std::vector<std::function<void()>>& actions);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::map<PlayerHandle, Stream> streams_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace playersdk::net
