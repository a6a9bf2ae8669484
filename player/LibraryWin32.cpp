// The binding on Windows: PlayerSDK.dll beside the program, its entry points
// by number, called through a thunk that is right for stdcall and cdecl, and
// texts in the system's ANSI code page at the boundary.
#include <windows.h>
#undef LoadLibrary  // the binding has a function of that name

#include <atomic>
#include <cstring>
#include <deque>
#include <string>
#include <type_traits>

#include "player/Binding.h"
#include "player/CallThunk.h"

namespace player {
namespace {

std::atomic<Convention> g_convention{Convention::Unknown};
std::atomic<SearchResultCallback> g_search_target{nullptr};

std::wstring Widen(const char* text, UINT code_page) {
    const int length = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT code_page) {
    const int length =
        WideCharToMultiByte(code_page, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(code_page, 0, wide.c_str(), -1, text.data(), length, nullptr, nullptr);
    text.resize(static_cast<size_t>(length - 1));
    return text;
}

std::string Utf8ToAnsi(const char* text) { return Narrow(Widen(text, CP_UTF8), CP_ACP); }
std::string AnsiToUtf8(const char* text) { return Narrow(Widen(text, CP_ACP), CP_UTF8); }

// The library's search callback, passed on to the window's in UTF-8.
void DeliverSearchResult(int32_t search, int32_t unused, const char* name, const NetTime* start,
                         const NetTime* end, uint32_t size, int32_t unused2) {
    const SearchResultCallback target = g_search_target.load();
    if (target == nullptr) return;
    const std::string utf8 = name != nullptr ? AnsiToUtf8(name) : std::string();
    target(search, unused, name != nullptr ? utf8.c_str() : nullptr, start, end, size, unused2);
}

#if defined(__i386__)
void __stdcall SearchResultStdcall(int32_t a, int32_t b, const char* c, const NetTime* d,
                                   const NetTime* e, uint32_t f, int32_t g) {
    DeliverSearchResult(a, b, c, d, e, f, g);
}

#endif

void __cdecl SearchResultCdecl(int32_t a, int32_t b, const char* c, const NetTime* d,
                               const NetTime* e, uint32_t f, int32_t g) {
    DeliverSearchResult(a, b, c, d, e, f, g);
}

#if defined(__i386__)
void NoteConvention(int count, int popped_bytes) {
    if (count == 0 || g_convention.load() != Convention::Unknown) return;
    if (popped_bytes == 0) g_convention = Convention::Cdecl;
    else if (popped_bytes == 4 * count) g_convention = Convention::Stdcall;
}

uint32_t CallWords(const void* function, const uint32_t* words, int count) {
    int popped = 0;
    const uint32_t result = varnel_call_words(function, words, count, &popped);
    NoteConvention(count, popped);
    return result;
}
#endif

// Texts converted for one call, alive until it returns.
using Texts = std::deque<std::string>;

// Each argument as the library takes it: texts in the ANSI code page, the
// window's search callback behind one of this binding's.
template <typename T>
T Pass(Texts&, T value) {
    return value;
}

const char* Pass(Texts& texts, const char* text) {
    if (text == nullptr) return nullptr;
    texts.push_back(Utf8ToAnsi(text));
    return texts.back().c_str();
}

SearchResultCallback Pass(Texts&, SearchResultCallback callback) {
    g_search_target = callback;
    if (callback == nullptr) return nullptr;
#if defined(__i386__)
    // In the library's own convention: told from an earlier call, or, when
    // the search is the first call with arguments, by a harmless poll of no
    // search.
    if (g_convention.load() == Convention::Unknown) {
        const uint32_t no_search = static_cast<uint32_t>(-1);
        CallWords(reinterpret_cast<const void*>(detail::InstalledTable().NetGetSearchState),
                  &no_search, 1);
    }
    if (g_convention.load() == Convention::Stdcall)
        return reinterpret_cast<SearchResultCallback>(reinterpret_cast<void*>(&SearchResultStdcall));
#endif
    return &SearchResultCdecl;
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
    Texts texts;
#if defined(__i386__)
    // Every argument is one 32-bit word (a 16-bit port widened).
    const uint32_t words[] = {Word(Pass(texts, static_cast<Params>(args)))..., 0};
    return static_cast<Result>(CallWords(reinterpret_cast<const void*>(function), words,
                                         static_cast<int>(sizeof...(Args))));
#else
    // One calling convention only.
    return function(Pass(texts, static_cast<Params>(args))...);
#endif
}

std::string ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring folder(path, length);
    const size_t slash = folder.find_last_of(L"\\/");
    folder.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return Narrow(folder, CP_UTF8);
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
    // A bare name is looked for beside the program only, never on the
    // system's search path, so that the DLL that runs is the one put there.
    const bool bare = std::strpbrk(library_name, "\\/:") == nullptr;
    const std::string path = bare ? ProgramFolder() + library_name : std::string(library_name);
    HMODULE library = LoadLibraryW(Widen(path.c_str(), CP_UTF8).c_str());
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

#define PLAYER_FORWARD_DEF(number, name, result, params, args) \
    result name params {                                       \
        return Call(detail::InstalledTable().name PLAYER_UNPACK args);                 \
    }
#define PLAYER_UNPACK(...) __VA_OPT__(, ) __VA_ARGS__
PLAYER_ENTRY_POINTS(PLAYER_FORWARD_DEF)
#undef PLAYER_FORWARD_DEF
#undef PLAYER_UNPACK

}  // namespace player
