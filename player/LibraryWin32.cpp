// The binding on Windows: PlayerSDK.dll where the system's loader finds it,
// its entry points by number, called through a thunk that is right for
// stdcall and cdecl. Texts pass byte for byte: the windows hand over and get
// back the library's own bytes, in the system's ANSI code page.
#include <windows.h>
#undef LoadLibrary  // the binding has a function of that name

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>

#include "player/Binding.h"
#include "player/CallThunk.h"

namespace player {
namespace {

std::atomic<Convention> g_convention{Convention::Unknown};
std::atomic<SearchResultCallback> g_search_target{nullptr};

std::wstring Widen(const std::string& text, UINT code_page) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT code_page) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

// The library's search callback, passed on to the window's as it came.
void DeliverSearchResult(int32_t search, int32_t unused, const char* name, const NetTime* start,
                         const NetTime* end, uint32_t size, int32_t unused2) {
    const SearchResultCallback target = g_search_target.load();
    if (target != nullptr) target(search, unused, name, start, end, size, unused2);
}

#if defined(__i386__)
// The convention is told by the first call that takes arguments: a stdcall
// entry point pops them. Until then the search callback's own return waits
// for it, or, when it is called inside that very call, reads it from its
// caller.
std::mutex g_convention_mutex;
std::condition_variable g_convention_told;
thread_local bool t_in_telling_call = false;

void NoteConvention(int count, int popped_bytes) {
    if (count == 0 || g_convention.load() != Convention::Unknown) return;
    Convention told = Convention::Unknown;
    if (popped_bytes == 0) told = Convention::Cdecl;
    else if (popped_bytes == 4 * count) told = Convention::Stdcall;
    if (told == Convention::Unknown) return;
    {
        std::lock_guard lock(g_convention_mutex);
        g_convention = told;
    }
    g_convention_told.notify_all();
}

uint32_t CallWords(const void* function, const uint32_t* words, int count) {
    const bool telling = count > 0 && g_convention.load() == Convention::Unknown;
    if (telling) t_in_telling_call = true;
    int popped = 0;
    const uint32_t result = varnel_call_words(function, words, count, &popped);
    if (telling) t_in_telling_call = false;
    NoteConvention(count, popped);
    return result;
}

// How the library's code that calls back expects the callback to return.
Convention CallbackConvention(const unsigned char* return_site) {
    if (g_convention.load() == Convention::Unknown && !t_in_telling_call) {
        // Another thread of the library, while the search call runs: the
        // call's return tells. The bound only guards against a library
        // that waits for its callback before it returns.
        std::unique_lock lock(g_convention_mutex);
        g_convention_told.wait_for(lock, std::chrono::seconds(10),
                                   [] { return g_convention.load() != Convention::Unknown; });
    }
    const Convention known = g_convention.load();
    if (known != Convention::Unknown) return known;
    // Called back from within the call that tells: a caller that removes
    // the arguments itself does so right after the call (add esp, imm8).
    return return_site[0] == 0x83 && return_site[1] == 0xC4 ? Convention::Cdecl : Convention::Stdcall;
}

}  // namespace
}  // namespace player

// The callback the library gets on 32-bit Windows: one entry for both
// conventions, returning as the library's code expects (ret or ret 28).
extern "C" int varnel_deliver_search_result(const uint32_t* words, const unsigned char* return_site) {
    // The row first: the library's thread may hold it back until the call
    // that tells the convention has returned.
    player::DeliverSearchResult(static_cast<int32_t>(words[0]), static_cast<int32_t>(words[1]),
                                reinterpret_cast<const char*>(words[2]), reinterpret_cast<const NetTime*>(words[3]),
                                reinterpret_cast<const NetTime*>(words[4]), words[5], static_cast<int32_t>(words[6]));
    return player::CallbackConvention(return_site) == player::Convention::Stdcall ? 28 : 0;
}

extern "C" void varnel_search_result_trampoline();
asm(R"(.text
.globl _varnel_search_result_trampoline
.def _varnel_search_result_trampoline; .scl 2; .type 32; .endef
_varnel_search_result_trampoline:
    pushl %ebp
    movl %esp, %ebp
    andl $-16, %esp
    subl $8, %esp
    pushl 4(%ebp)
    leal 8(%ebp), %eax
    pushl %eax
    call _varnel_deliver_search_result
    movl %ebp, %esp
    popl %ebp
    testl %eax, %eax
    jnz 1f
    ret
1:  ret $28
)");

namespace player {
namespace {
#else
void __cdecl SearchResultCdecl(int32_t a, int32_t b, const char* c, const NetTime* d,
                               const NetTime* e, uint32_t f, int32_t g) {
    DeliverSearchResult(a, b, c, d, e, f, g);
}
#endif

// Each argument as the library takes it: the window's search callback
// behind this binding's, everything else as it is.
template <typename T>
T Pass(T value) {
    return value;
}

SearchResultCallback Pass(SearchResultCallback callback) {
    g_search_target = callback;
    if (callback == nullptr) return nullptr;
#if defined(__i386__)
    return reinterpret_cast<SearchResultCallback>(reinterpret_cast<void*>(&varnel_search_result_trampoline));
#else
    return &SearchResultCdecl;
#endif
}

#if defined(__i386__)
template <typename T>
uint32_t Word(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
    } else if constexpr (std::is_floating_point_v<T>) {
        static_assert(sizeof(T) == sizeof(uint32_t));
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    } else {
        return static_cast<uint32_t>(value);
    }
}
#endif

template <typename Result, typename... Params, typename... Args>
Result Call(Result (*function)(Params...), Args... args) {
#if defined(__i386__)
    // Every argument is one 32-bit word (a 16-bit port widened).
    const uint32_t words[] = {Word(Pass(static_cast<Params>(args)))..., 0};
    return static_cast<Result>(CallWords(reinterpret_cast<const void*>(function), words,
                                         static_cast<int>(sizeof...(Args))));
#else
    // One calling convention only.
    return function(Pass(static_cast<Params>(args))...);
#endif
}

std::string SystemError(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text != nullptr ? Narrow(text, CP_UTF8) : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

}  // namespace

std::string LoadLibrary(const char* library_name) {
    // A bare name is looked for as the system looks for a DLL a program is
    // linked with: beside the program first, then in the system's folders,
    // the working folder and PATH.
    const std::string path = library_name;
    HMODULE library = LoadLibraryW(Widen(path, CP_UTF8).c_str());
    if (library == nullptr) {
        return std::string("cannot load the player library ") + path + ": " +
               SystemError(GetLastError());
    }
    Table table;
    std::string missing;
    for (const EntryPoint& entry : kEntryPoints) {
        FARPROC address = GetProcAddress(library, MAKEINTRESOURCEA(entry.number));
        if (address == nullptr) {
            if (!missing.empty()) missing += ", ";
            missing += std::to_string(entry.number) + " " + entry.name;
            continue;
        }
        *SlotByNumber(table, entry.number) = reinterpret_cast<void*>(address);
    }
    if (!missing.empty()) {
        FreeLibrary(library);
        return std::string("the player library ") + path + " lacks the entry points " + missing;
    }
    // The library stays loaded for the life of the process.
    InstallTable(table);
#if defined(__i386__)
    g_convention = Convention::Unknown;
#endif
    return {};
}

void InstallTable(const Table& table) {
    detail::InstalledTable() = table;
    g_convention = Convention::Cdecl;
    g_search_target = nullptr;
}

Convention EntryPointConvention() { return g_convention.load(); }

std::string LibraryText(const std::string& window_text) { return Narrow(Widen(window_text, CP_UTF8), CP_ACP); }

std::string WindowText(const std::string& library_text) { return Narrow(Widen(library_text, CP_ACP), CP_UTF8); }

#define PLAYER_FORWARD_DEF(number, name, result, params, args) \
    result name params {                                       \
        return Call(detail::InstalledTable().name PLAYER_UNPACK args);                 \
    }
#define PLAYER_UNPACK(...) __VA_OPT__(, ) __VA_ARGS__
PLAYER_ENTRY_POINTS(PLAYER_FORWARD_DEF)
#undef PLAYER_FORWARD_DEF
#undef PLAYER_UNPACK

}  // namespace player
