// Loads a fake PlayerSDK.dll through the binding and connects it to the
// test's scripted fake (construct a fake::FakePlayer first).
#pragma once

#include <string>

#include "player/PlayerSdk.h"

namespace test {

// The fake DLL of a kind ("cdecl", "stdcall", "partial"), in the folder of
// that name beside the test program.
std::string FakeSdkPath(const std::string& kind);

class FakeSdkHost {
public:
    // Binds the DLL and hands its calls to the installed fake's entry points.
    bool Load(const std::string& kind);
    const std::string& Error() const { return error_; }
    // The loaded DLL posts its notify message from a thread of its own, and
    // waits for it.
    static void PostFromThread(intptr_t code, intptr_t handle);
    // The loaded DLL's own code calls the search callback it was given, now.
    static void CallBackNow(SearchResultCallback callback, int32_t search, const char* name, const NetTime* time);

private:
    std::string error_;
};

}  // namespace test
