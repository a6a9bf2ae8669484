// The table of open players shared by local files and network streams: every
// Player* entry point looks its handle up here, so a stream registered by the
// net side is closed, paused, seeked and cut like a local file.
#pragma once

#include <memory>

#include "player/PlayerSdk.h"

namespace playersdk {

class Player;

// Issues a new handle (never -1, never reused) for `player` and tells the
// player its handle.
PlayerHandle RegisterPlayer(std::shared_ptr<Player> player);
// The player behind `handle`, or nullptr for -1, a closed or a never-issued one.
std::shared_ptr<Player> FindPlayer(PlayerHandle handle);
// Removes the handle from the table and returns its player (nullptr if none).
std::shared_ptr<Player> UnregisterPlayer(PlayerHandle handle);

}  // namespace playersdk
