// A stand-in PlayerSDK.dll that exports the entry points by number only, in
// one calling convention (FAKE_SDK_STDCALL or cdecl). Each entry point hands
// its call to the test's scripted fake, connected with FakeSdkConnect (@100),
// and answers 0 while none is (enough to open the windows for a screenshot);
// FakeSdkPostFromThread (@101) posts the notify message from a thread of the
// library, as a real one reports its events; FakeSdkCallBackNow (@102)
// reports a search row from the DLL's own code, on the caller's thread.
#include <windows.h>

#include <thread>

#include "player/Binding.h"

#if defined(__i386__) && defined(FAKE_SDK_STDCALL)
#define FAKE_SDK_CALL __stdcall
#elif defined(__i386__)
#define FAKE_SDK_CALL __cdecl
#else
#define FAKE_SDK_CALL
#endif

// The symbols are named for their numbers (FakeSdk3 ...), undecorated: the
// .def file exports them by number only.
#if defined(__i386__)
#define FAKE_SDK_SYMBOL(number) "_FakeSdk" #number
#else
#define FAKE_SDK_SYMBOL(number) "FakeSdk" #number
#endif

namespace {

player::Table g_host;
HWND g_notify_window = nullptr;
UINT g_notify_message = 0;

}  // namespace

#define FAKE_SDK_ENTRY(number, name, result, params, args)                             \
    extern "C" result FAKE_SDK_CALL FakeSdk##name params asm(FAKE_SDK_SYMBOL(number)); \
    extern "C" result FAKE_SDK_CALL FakeSdk##name params {                              \
        return g_host.name != nullptr ? g_host.name args : result{};                    \
    }
PLAYER_ENTRY_POINTS(FAKE_SDK_ENTRY)
#undef FAKE_SDK_ENTRY

extern "C" void FakeSdkConnect(const player::Table* host) {
    g_host = *host;
    // Entry 4 also remembers its window for FakeSdkPostFromThread.
    static PlayerSetNotifyWindow_fn forward = nullptr;
    forward = g_host.PlayerSetNotifyWindow;
    g_host.PlayerSetNotifyWindow = [](PlayerHandle h, PlayerWindowHandle window, uint32_t message) {
        g_notify_window = reinterpret_cast<HWND>(window);
        g_notify_message = message;
        return forward(h, window, message);
    };
}

extern "C" void FakeSdkPostFromThread(intptr_t code, intptr_t handle) {
    std::thread([code, handle] { PostMessageW(g_notify_window, g_notify_message, code, handle); }).join();
}

extern "C" void FakeSdkCallBackNow(void* callback, int32_t search, const char* name, const NetTime* time) {
    using LibraryCallback = void(FAKE_SDK_CALL*)(int32_t, int32_t, const char*, const NetTime*, const NetTime*,
                                                 uint32_t, int32_t);
    reinterpret_cast<LibraryCallback>(callback)(search, 0, name, time, time, 1048576, 0);
}
