#include "core/HandleTable.h"

#include <map>
#include <mutex>

#include "core/Player.h"

namespace playersdk {
namespace {

struct Table {
    std::mutex mutex;
    std::map<PlayerHandle, std::shared_ptr<Player>> players;
    PlayerHandle next = 1;
};

Table& TheTable() {
    static Table* table = new Table;  // lives as long as the process
    return *table;
}

}  // namespace

PlayerHandle RegisterPlayer(std::shared_ptr<Player> player) {
    if (!player) return PLAYER_NO_HANDLE;
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    PlayerHandle handle = table.next++;
    if (table.next == INT32_MAX) table.next = 1;
    player->SetHandle(handle);
    table.players[handle] = std::move(player);
    return handle;
}

std::shared_ptr<Player> FindPlayer(PlayerHandle handle) {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    auto found = table.players.find(handle);
    return found == table.players.end() ? nullptr : found->second;
}

std::shared_ptr<Player> UnregisterPlayer(PlayerHandle handle) {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    auto found = table.players.find(handle);
    if (found == table.players.end()) return nullptr;
    std::shared_ptr<Player> player = std::move(found->second);
    table.players.erase(found);
    return player;
}

}  // namespace playersdk
