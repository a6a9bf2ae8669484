// The local-playback entry points of the contract (every one but the Net*).
// Each looks its handle up in the shared table; -1, a closed handle or one
// never issued does nothing and answers failure (0, or -1 for an open).
#include <cstdlib>
#include <string>

#include "core/AudioOutput.h"
#include "core/Barrier.h"
#include "core/DrivePath.h"
#include "core/Exports.h"
#include "core/HandleTable.h"
#include "core/Player.h"

extern "C" {
#include <libavutil/log.h>
}

using playersdk::FindPlayer;
using playersdk::Player;

namespace {

// Runs `action` on the player behind `h`, answering `failure` when there is
// none or the action failed.
template <typename Result, typename Action>
Result WithPlayer(PlayerHandle h, Result failure, Action action) {
    return playersdk::Shielded(failure, [&]() -> Result {
        std::shared_ptr<Player> player = FindPlayer(h);
        if (!player) return failure;
        return action(*player);
    });
}

int32_t Flag(bool value) { return value ? 1 : 0; }

}  // namespace

PLAYERSDK_EXPORT int32_t PlayerInit(void) {
    return playersdk::Shielded(0, [] {
        // FFmpeg stays quiet unless asked: a bad file is an answer, not a log.
        const char* level = std::getenv("PLAYERSDK_FFMPEG_LOG");
        av_log_set_level(level != nullptr ? std::atoi(level) : AV_LOG_QUIET);
        playersdk::SoundDeviceAvailable();
        return 1;
    });
}

PLAYERSDK_EXPORT PlayerHandle PlayerOpenFile(const char* path, int32_t) {
    return playersdk::Shielded(PLAYER_NO_HANDLE, [&] {
        if (path == nullptr || path[0] == '\0') return PLAYER_NO_HANDLE;
        auto input = playersdk::FileInput::Open(playersdk::MapDrivePath(path));
        if (!input) return PLAYER_NO_HANDLE;
        std::shared_ptr<Player> player = Player::Open(std::move(input));
        if (!player) return PLAYER_NO_HANDLE;
        return playersdk::RegisterPlayer(std::move(player));
    });
}

PLAYERSDK_EXPORT int32_t PlayerSetNotifyWindow(PlayerHandle h, PlayerWindowHandle window, uint32_t message) {
    return WithPlayer(h, 0, [&](Player& p) {
        p.SetNotifyWindow(window, message);
        return 1;
    });
}

PLAYERSDK_EXPORT int32_t PlayerPlay(PlayerHandle h, PlayerWindowHandle window) {
    return WithPlayer(h, 0, [&](Player& p) { return Flag(p.Play(window)); });
}

PLAYERSDK_EXPORT int32_t PlayerClose(PlayerHandle h) {
    return playersdk::Shielded(0, [&] {
        std::shared_ptr<Player> player = playersdk::UnregisterPlayer(h);
        if (!player) return 0;
        player->Close();
        return 1;
    });
}

PLAYERSDK_EXPORT int32_t PlayerPause(PlayerHandle h) {
    return WithPlayer(h, 0, [](Player& p) { return Flag(p.Pause()); });
}

PLAYERSDK_EXPORT int32_t PlayerFast(PlayerHandle h) {
    return WithPlayer(h, 0, [](Player& p) { return Flag(p.Faster()); });
}

PLAYERSDK_EXPORT int32_t PlayerSlow(PlayerHandle h) {
    return WithPlayer(h, 0, [](Player& p) { return Flag(p.Slower()); });
}

PLAYERSDK_EXPORT int32_t PlayerStepFrame(PlayerHandle h) {
    return WithPlayer(h, 0, [](Player& p) { return Flag(p.StepFrame()); });
}

PLAYERSDK_EXPORT int32_t PlayerSetPosRatio(PlayerHandle h, float ratio) {
    return WithPlayer(h, 0, [&](Player& p) { return Flag(p.SeekToRatio(ratio)); });
}

PLAYERSDK_EXPORT int32_t PlayerHasAudio(PlayerHandle h) {
    return WithPlayer(h, 0, [](Player& p) { return Flag(p.HasAudio()); });
}

PLAYERSDK_EXPORT int32_t PlayerSoundOn(PlayerHandle h) {
    return WithPlayer(h, 0, [](Player& p) { return Flag(p.SoundOn()); });
}

PLAYERSDK_EXPORT int32_t PlayerSoundOff(PlayerHandle h) {
    return WithPlayer(h, 0, [](Player& p) { return Flag(p.SoundOff()); });
}

PLAYERSDK_EXPORT uint32_t PlayerGetTotalTime(PlayerHandle h) {
    return WithPlayer(h, 0u, [](Player& p) { return p.TotalMs(); });
}

PLAYERSDK_EXPORT uint32_t PlayerGetPlayTime(PlayerHandle h) {
    return WithPlayer(h, 0u, [](Player& p) { return p.PlayMs(); });
}

PLAYERSDK_EXPORT int32_t PlayerSetPlayTime(PlayerHandle h, uint32_t ms) {
    return WithPlayer(h, 0, [&](Player& p) { return Flag(p.SeekToMs(ms)); });
}

PLAYERSDK_EXPORT int32_t PlayerSnapshot(PlayerHandle h, const char* path) {
    if (path == nullptr || path[0] == '\0') return 0;
    return WithPlayer(h, 0, [&](Player& p) { return Flag(p.Snapshot(path)); });
}

PLAYERSDK_EXPORT int32_t PlayerStartCut(PlayerHandle h, const char* path) {
    if (path == nullptr || path[0] == '\0') return 0;
    return WithPlayer(h, 0, [&](Player& p) { return Flag(p.StartCut(path)); });
}

PLAYERSDK_EXPORT int32_t PlayerStopCut(PlayerHandle h) {
    return WithPlayer(h, 0, [](Player& p) { return Flag(p.StopCut()); });
}
