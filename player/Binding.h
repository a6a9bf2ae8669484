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

// Loads the library by name (beside the program first; on Windows then
// where the system looks for DLLs), and resolves every
// entry point (by name on Linux, by number on Windows). On success installs
// the table and returns an empty string; otherwise returns a message that
// names what is missing and installs nothing.
std::string LoadLibrary(const char* library_name = kLibraryName);

// Replaces the table the windows call through (tests install a fake).
void InstallTable(const Table& table);
const Table& CurrentTable();

#ifdef _WIN32
// How the installed entry points return. A table a test installs holds this
// program's own (cdecl) functions; a loaded DLL's convention is told by the
// first call the windows make that takes arguments, since a stdcall entry
// point pops them. Nothing is called to find it out.
enum class Convention { Unknown, Cdecl, Stdcall };
Convention EntryPointConvention();
#endif

// The library's texts are 8-bit: on Windows in the system's ANSI code page,
// elsewhere UTF-8. They go to the entry points and come back from them byte
// for byte, so that a name the library gave goes back to it unchanged and
// the byte limits count what the library receives. These two are the one
// place where a text of the windows (UTF-8) and one of the library meet:
// what the user typed or chose becomes the library's with LibraryText, and
// a text of the library is shown with WindowText.
std::string LibraryText(const std::string& window_text);
std::string WindowText(const std::string& library_text);

// The entry points as plain functions, forwarding to the installed table.
// On 32-bit Windows they call through a thunk that keeps the stack pointer
// whatever the convention.
#define PLAYER_FORWARD_DECL(number, name, result, params, args) result name params;
PLAYER_ENTRY_POINTS(PLAYER_FORWARD_DECL)
#undef PLAYER_FORWARD_DECL

namespace detail {
Table& InstalledTable();
}

}  // namespace player
