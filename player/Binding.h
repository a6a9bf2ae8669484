// The program's side of the player library: the table of entry points that
// the windows call through, filled from libPlayerSDK.so (on Windows from
// PlayerSDK.dll, by number) at start or by a test, and the plain functions
// that the windows call.
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

#ifdef _WIN32
// windows.h names its own function so; include it before this header.
#undef LoadLibrary
inline constexpr const char* kLibraryName = "PlayerSDK.dll";
#else
inline constexpr const char* kLibraryName = "libPlayerSDK.so";
#endif

// Loads the library by name, beside the program first, and resolves every
// entry point (by name on Linux, by number on Windows). On success installs
// the table and returns an empty string; otherwise returns a message that
// names what is missing and installs nothing.
std::string LoadLibrary(const char* library_name = kLibraryName);

// Replaces the table the windows call through (tests install a fake).
void InstallTable(const Table& table);
const Table& CurrentTable();

#ifdef _WIN32
// How the installed entry points return. A table a test installs holds this
// program's own (cdecl) functions; a loaded DLL's convention is told by its
// first call that takes arguments, since a stdcall entry point pops them.
enum class Convention { Unknown, Cdecl, Stdcall };
Convention EntryPointConvention();
#endif

// The entry points as plain functions, forwarding to the installed table.
// On Windows they convert texts between UTF-8 and the system's ANSI code
// page and call through a thunk that keeps the stack pointer whatever the
// convention.
#define PLAYER_FORWARD_DECL(number, name, result, params, args) result name params;
PLAYER_ENTRY_POINTS(PLAYER_FORWARD_DECL)
#undef PLAYER_FORWARD_DECL

namespace detail {
Table& InstalledTable();
}

}  // namespace player
