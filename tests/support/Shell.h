// Shell commands for tests that make media and read it back with the
// ffmpeg tools.
#pragma once

#include <string>

namespace test_support {

// Runs a command through the shell; its exit status, -1 when it did not exit.
int RunShell(const std::string& command);
// Runs a command through the shell; what it printed on standard output.
std::string Capture(const std::string& command);
// The text as one shell word, single quotes inside it included.
std::string ShellQuoted(const std::string& text);

}  // namespace test_support
