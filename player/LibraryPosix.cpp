// The binding on Linux: libPlayerSDK.so through the dynamic loader, called
// directly.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "player/Binding.h"

namespace player {
namespace {

// A bare library name beside the running program, "" when that cannot be
// told. Tried before the loader's own search: a sanitizer's dlopen wrapper
// makes the loader look at its own run path instead of the program's.
std::string BesideTheProgram(const char* library_name) {
    if (std::strchr(library_name, '/') != nullptr) return {};
    char program[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0) return {};
    program[length] = '\0';
    const char* slash = std::strrchr(program, '/');
    if (slash == nullptr) return {};
    return std::string(program, static_cast<size_t>(slash - program) + 1) + library_name;
}

void* OpenLibrary(const char* library_name) {
    const std::string beside = BesideTheProgram(library_name);
    if (!beside.empty() && access(beside.c_str(), F_OK) == 0) {
        if (void* library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
    }
    return dlopen(library_name, RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

std::string LoadLibrary(const char* library_name) {
    void* library = OpenLibrary(library_name);
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

void InstallTable(const Table& table) { detail::InstalledTable() = table; }

// The library's texts are UTF-8, as the windows' are.
std::string LibraryText(const std::string& window_text) { return window_text; }
std::string WindowText(const std::string& library_text) { return library_text; }

#define PLAYER_FORWARD_DEF(number, name, result, params, args) \
    result name params { return detail::InstalledTable().name args; }
PLAYER_ENTRY_POINTS(PLAYER_FORWARD_DEF)
#undef PLAYER_FORWARD_DEF

}  // namespace player
