#include "player/Binding.h"

namespace player {

Table& detail::InstalledTable() {
    static Table table;
    return table;
}

void** SlotByNumber(Table& table, int number) {
    switch (number) {
#define PLAYER_SLOT_CASE(n, name, result, params, args) \
    case n:                                             \
        return reinterpret_cast<void**>(&table.name);
        PLAYER_ENTRY_POINTS(PLAYER_SLOT_CASE)
#undef PLAYER_SLOT_CASE
        default:
            return nullptr;
    }
}

const Table& CurrentTable() { return detail::InstalledTable(); }

}  // namespace player
