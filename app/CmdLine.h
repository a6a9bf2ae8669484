// The file named on the command line, kept for the main window.
#pragma once

#include <cstddef>

namespace app {

inline constexpr std::size_t kCmdLinePathSize = 260;  // 259 bytes and the terminator

// Written once at start-up, before the main window exists; read by the main
// window when it initialises and when it opens the file. Empty when no file
// was named.
extern char CmdLinePath[kCmdLinePathSize];

// Zero-fills CmdLinePath, then copies argv[1] into it when there is one.
// Further arguments are ignored. An argument longer than 259 bytes is cut to
// its first 259 bytes; the buffer is never overrun.
void StoreCommandLine(int argc, const char* const* argv);

}  // namespace app
