// The program's side of the player library: the table of entry points that
// the windows call through, filled from libPlayerSDK.so at start (or by a
// test), and the plain functions that the windows call.
#pragma once

#include <array>
#include <string>

#include "player/PlayerSdk.h"

namespace player {

struct EntryPoint {
    int number;
    const char* name;
};

// Every entry point with its number, in the order of the numbers.
inline constexpr std::array<EntryPoint, PLAYER_ENTRY_POINT_COUNT> kEntryPoints = {{
#define PLAYER_ENTRY(number, name, result, params, args) {number, #name},
    PLAYER_ENTRY_POINTS(PLAYER_ENTRY)
#undef PLAYER_ENTRY
}};

// One function pointer per entry point, named as the entry point.
struct Table {
#define PLAYER_SLOT(number, name, result, params, args) name##_fn name = nullptr;
    PLAYER_ENTRY_POINTS(PLAYER_SLOT)
#undef PLAYER_SLOT
};

// The slot of the entry point with this number, or nullptr for a number the
// contract does not use.
void** SlotByNumber(Table& table, int number);

// Loads the library by name through the usual loader search and resolves
// every entry point. On success installs the table and returns an empty
// string; otherwise returns a message that names what is missing and
// installs nothing.
std::string LoadLibrary(const char* library_name = "libPlayerSDK.so");

// Replaces the table the windows call through (tests install a fake).
void InstallTable(const Table& table);
const Table& CurrentTable();

// The entry points as plain functions, forwarding to the installed table.
#define PLAYER_FORWARD_DECL(number, name, result, params, args) result name params;
PLAYER_ENTRY_POINTS(PLAYER_FORWARD_DECL)
#undef PLAYER_FORWARD_DECL

}  // namespace player
