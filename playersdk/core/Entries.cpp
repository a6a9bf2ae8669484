// The local-playback entry points of the contract (every one but the Net*).
#include "core/Exports.h"

PLAYERSDK_EXPORT int32_t PlayerInit(void) { return 1; }
PLAYERSDK_EXPORT PlayerHandle PlayerOpenFile(const char*, int32_t) { return PLAYER_NO_HANDLE; }
PLAYERSDK_EXPORT int32_t PlayerSetNotifyWindow(PlayerHandle, PlayerWindowHandle, uint32_t) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerPlay(PlayerHandle, PlayerWindowHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerClose(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerPause(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerFast(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerSlow(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerStepFrame(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerSetPosRatio(PlayerHandle, float) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerHasAudio(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerSoundOn(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerSoundOff(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT uint32_t PlayerGetTotalTime(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT uint32_t PlayerGetPlayTime(PlayerHandle) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerSetPlayTime(PlayerHandle, uint32_t) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerSnapshot(PlayerHandle, const char*) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerStartCut(PlayerHandle, const char*) { return 0; }
PLAYERSDK_EXPORT int32_t PlayerStopCut(PlayerHandle) { return 0; }
