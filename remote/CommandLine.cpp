#include "remote/CommandLine.h"

#include "remote/FormFields.h"

namespace remote {

bool ParseRemoteCommandLine(const std::vector<std::string>& args, RemoteOptions& options,
                            std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--search-and-play") {
            options.search_and_play = true;
            continue;
        }
        if (args[i] != "--address") {
            error = "unknown argument: " + args[i];
            return false;
        }
        if (i + 1 == args.size() || args[i + 1].empty()) {
            error = "--address needs an address";
            return false;
        }
        const std::string& address = args[++i];
        if (CharacterCount(address) > kAddressMaxCharacters) {
            error = "the address is longer than " + std::to_string(kAddressMaxCharacters) +
                    " characters";
            return false;
        }
        options.address = address;
    }
    return true;
}

}  // namespace remote
