#include "tests/win32/FakeSdkHost.h"

#include <windows.h>

#include "player/Binding.h"
#include "tests/fake/FakePlayer.h"

namespace test {

std::string FakeSdkPath(const std::string& kind) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    std::string narrow;
    for (wchar_t c : folder) narrow.push_back(static_cast<char>(c));  // an ASCII build path
    return narrow + kind + "\\PlayerSDK.dll";
}

bool FakeSdkHost::Load(const std::string& kind) {
    const std::string path = FakeSdkPath(kind);
    // The fake's entry points, taken before the binding replaces them.
    static player::Table host;
    host = fake::FakePlayer::Table();
    error_ = player::LoadLibrary(path.c_str());
    if (!error_.empty()) return false;
    using Connect = void (*)(const player::Table*);
    auto connect = reinterpret_cast<Connect>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(path.c_str()), MAKEINTRESOURCEA(100))));
    if (connect == nullptr) {
        error_ = "the fake has no entry 100";
        return false;
    }
    connect(&host);
    return true;
}

void FakeSdkHost::PostFromThread(intptr_t code, intptr_t handle) {
    using Post = void (*)(intptr_t, intptr_t);
    auto post = reinterpret_cast<Post>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"PlayerSDK.dll"), MAKEINTRESOURCEA(101))));
    if (post != nullptr) post(code, handle);
}

void FakeSdkHost::CallBackNow(SearchResultCallback callback, int32_t search, const char* name, const NetTime* time) {
    using CallBack = void (*)(void*, int32_t, const char*, const NetTime*);
    auto call_back = reinterpret_cast<CallBack>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"PlayerSDK.dll"), MAKEINTRESOURCEA(102))));
    if (call_back != nullptr) call_back(reinterpret_cast<void*>(callback), search, name, time);
}

}  // namespace test
