// varnel-recorder: serves a folder of recordings over HTTP.
#include "RecorderServer.h"
#include "RecordingIndex.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: varnel-recorder --root DIR [--listen ADDR] [--port N]\n"
                 "                       [--user NAME] [--password TEXT] [--rate X]\n"
                 "  --listen  address to listen on (default 127.0.0.1)\n"
                 "  --port    TCP port, 0 for any free one (default 3000)\n"
                 "  --user, --password  the login clients must give (default 246135)\n"
                 "  --rate    pace streams at X times real time (default: unpaced)\n");
}

bool parseOptions(int argc, char** argv, recorder::RecorderOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return false;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "varnel-recorder: %s needs a value\n", arg.c_str());
            return false;
        }
        const char* value = argv[++i];
        char* end = nullptr;
        if (arg == "--root") {
            o.root = value;
        } else if (arg == "--listen") {
            o.listen = value;
        } else if (arg == "--port") {
            const long port = std::strtol(value, &end, 10);
            if (*value == '\0' || *end != '\0' || port < 0 || port > 65535) {
                std::fprintf(stderr, "varnel-recorder: bad port '%s'\n", value);
                return false;
            }
            o.port = static_cast<int>(port);
        } else if (arg == "--user") {
            o.user = value;
        } else if (arg == "--password") {
            o.password = value;
        } else if (arg == "--rate") {
            o.rate = std::strtod(value, &end);
            if (*value == '\0' || *end != '\0' || !(o.rate > 0) || o.rate > 1e6) {
                std::fprintf(stderr, "varnel-recorder: bad rate '%s'\n", value);
                return false;
            }
        } else {
            std::fprintf(stderr, "varnel-recorder: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    if (o.root.empty()) {
        std::fprintf(stderr, "varnel-recorder: --root is required\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    recorder::RecorderOptions options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(options.root, ec)) {
        std::fprintf(stderr, "varnel-recorder: %s is not a folder\n", options.root.c_str());
        return 1;
    }

    // A client closing its connection must not end the service.
    ::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM are taken by a thread of ours that stops the server.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const auto started = std::chrono::steady_clock::now();
    std::vector<std::string> warnings;
    const auto index = recorder::RecordingIndex::scan(options.root, &warnings);
    for (const auto& w : warnings) std::fprintf(stderr, "varnel-recorder: %s\n", w.c_str());
    const double indexMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();

    recorder::RecorderServer server(index, options);
    const int port = server.bind();
    if (port < 0) {
        std::fprintf(stderr, "varnel-recorder: cannot listen on %s:%d\n", options.listen.c_str(),
                     options.port);
        return 1;
    }
    std::fprintf(stderr, "varnel-recorder: %zu recordings indexed in %.1f ms; listening on http://%s:%d/\n",
                 index.size(), indexMs, options.listen.c_str(), port);
    std::fflush(stderr);

    std::thread signalWatcher([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    const bool ok = server.serve();
    // serve() may also end on its own (a socket error): wake the watcher.
    pthread_kill(signalWatcher.native_handle(), SIGTERM);
    signalWatcher.join();
    std::fprintf(stderr, "varnel-recorder: stopped\n");
    return ok ? 0 : 1;
}
