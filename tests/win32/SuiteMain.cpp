// The main of the window suites under Wine: every scripted fake the tests
// construct is reached through a fake PlayerSDK.dll of the calling
// convention named first on the command line ("cdecl" or "stdcall"), bound
// by number as the programs bind the maker's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fake/FakePlayer.h"
#include "tests/win32/FakeSdkHost.h"
#include "ui/Dialog.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::string kind = argc > 1 ? argv[1] : "cdecl";
    fake::FakePlayer::SetInstaller([kind] {
        test::FakeSdkHost host;
        if (!host.Load(kind)) {
            std::fprintf(stderr, "the fake DLL: %s\n", host.Error().c_str());
            std::abort();
        }
    });
    ui::Application application(argc, argv);
    return RUN_ALL_TESTS();
}
