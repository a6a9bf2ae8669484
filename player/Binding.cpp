#include "player/Binding.h"

#include <dlfcn.h>

namespace player {
namespace {

Table& Installed() {
    static Table table;
    return table;
}

}  // namespace

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

std::string LoadLibrary(const char* library_name) {
    void* library = dlopen(library_name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        return std::string("cannot load the player library ") + library_name + ": " +
               (why != nullptr ? why : "unknown error");
    }
    Table table;
    std::string missing;
    for (const EntryPoint& entry : kEntryPoints) {
        void* address = dlsym(library, entry.name);
        if (address == nullptr) {
            if (!missing.empty()) missing += ", ";
            missing += std::to_string(entry.number) + " " + entry.name;
            continue;
        }
        *SlotByNumber(table, entry.number) = address;
    }
    if (!missing.empty()) {
        dlclose(library);
        return std::string("the player library ") + library_name +
               " lacks the entry points " + missing;
    }
    // The library stays loaded for the life of the process.
    InstallTable(table);
    return {};
}

void InstallTable(const Table& table) { Installed() = table; }

const Table& CurrentTable() { return Installed(); }

#define PLAYER_FORWARD_DEF(number, name, result, params, args) \
    result name params { return Installed().name args; }
PLAYER_ENTRY_POINTS(PLAYER_FORWARD_DEF)
#undef PLAYER_FORWARD_DEF

}  // namespace player
