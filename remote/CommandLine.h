// The command line of varnel-remote: an optional recorder address that the
// form shows instead of its default, and whether the window searches at once
// and plays the first recording found (as the demo shows it).
#pragma once

#include <string>
#include <vector>

namespace remote {

struct RemoteOptions {
    std::string address;  // empty: the form's default address
    bool search_and_play = false;
};

// Parses the arguments after the program name. On a bad command line,
// returns nothing and puts the reason into error.
bool ParseRemoteCommandLine(const std::vector<std::string>& args, RemoteOptions& options,
                            std::string& error);

inline constexpr const char* kRemoteUsage = "usage: varnel-remote [--address ADDRESS] [--search-and-play]";

}  // namespace remote
