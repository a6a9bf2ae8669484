#include "app/CmdLine.h"

#include <cstdio>
#include <cstring>

namespace app {

char CmdLinePath[kCmdLinePathSize];

void StoreCommandLine(int argc, const char* const* argv) {
    std::memset(CmdLinePath, 0, sizeof CmdLinePath);
    if (argc > 1 && argv[1] != nullptr)
        std::snprintf(CmdLinePath, sizeof CmdLinePath, "%s", argv[1]);
}

}  // namespace app
