// The command line of varnel-remote: an optional recorder address that the
// form shows instead of its default.
#pragma once

#include <string>
#include <vector>

namespace remote {

struct RemoteOptions {
    std::string address;  // empty: the form's default address
};

// Parses the arguments after the program name. On a bad command line,
// returns nothing and puts the reason into error.
bool ParseRemoteCommandLine(const std::vector<std::string>& args, RemoteOptions& options,
                            std::string& error);

inline constexpr const char* kRemoteUsage = "usage: varnel-remote [--address ADDRESS]";

}  // namespace remote
