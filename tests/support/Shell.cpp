#include "tests/support/Shell.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace test_support {

int RunShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Capture(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted(1, '\'');
    for (char c : text) {
        if (c == '\'') quoted.append("'\\''");
        else quoted.push_back(c);
    }
    quoted.push_back('\'');
    return quoted;
}

}  // namespace test_support
