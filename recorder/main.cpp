// varnel-recorder: serves a folder of recordings over HTTP, and with
// --rtsp-port as an ONVIF device too.
#include "FolderIndexer.h"
#include "RecorderServer.h"
#include "RecordingIndex.h"
#include "RtspServer.h"

#include <memory>
#include <optional>

#include <signal.h>
#include <sys/resource.h>

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
                 "                       [--layout auto|own|pattern|probe] [--pattern P]...\n"
                 "                       [--channel NAME=N]... [--index-file FILE] [--rtsp-port N]\n"
                 "  --listen  address to listen on (default 127.0.0.1)\n"
                 "  --port    TCP port, 0 for any free one (default 3000)\n"
                 "  --user, --password  the login clients must give (default 246135)\n"
                 "  --rate    pace streams at X times real time (default: unpaced)\n"
                 "  --layout  how the files are named (default auto: own names, then the\n"
                 "            patterns, then common segment names, then any media file)\n"
                 "  --pattern names relative to DIR, e.g. '%%{channel}/%%Y-%%m-%%d/%%H/%%M.%%S.mp4';\n"
                 "            fields %%Y %%m %%d %%H %%M %%S %%{channel}, * for any text\n"
                 "  --channel folder or pattern name of channel N (1-4), e.g. cam1=1\n"
                 "  --index-file  where probe answers are kept (default DIR/.varnel-recorder-index)\n"
                 "  --rtsp-port   be an ONVIF device as well: SOAP at /onvif/device_service on the\n"
                 "                HTTP port, RTSP replay on port N (0 for any free one)\n");
}

bool parsePort(const char* value, int& port) {
    char* end = nullptr;
    const long parsed = std::strtol(value, &end, 10);
    if (*value == '\0' || *end != '\0' || parsed < 0 || parsed > 65535) {
        std::fprintf(stderr, "varnel-recorder: bad port '%s'\n", value);
        return false;
    }
    port = static_cast<int>(parsed);
    return true;
}

bool parseOptions(int argc, char** argv, recorder::RecorderOptions& o,
                  recorder::IndexerOptions& indexing, std::optional<int>& rtspPort) {
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
            if (!parsePort(value, o.port)) return false;
        } else if (arg == "--rtsp-port") {
            int port = 0;
            if (!parsePort(value, port)) return false;
            rtspPort = port;
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
        } else if (arg == "--layout") {
            const auto layout = recorder::parseLayout(value);
            if (!layout) {
                std::fprintf(stderr, "varnel-recorder: bad layout '%s' (auto, own, pattern or probe)\n", value);
                return false;
            }
            indexing.layout.layout = *layout;
        } else if (arg == "--pattern") {
            std::string error;
            auto pattern = recorder::NamePattern::compile(value, &error);
            if (!pattern) {
                std::fprintf(stderr, "varnel-recorder: %s\n", error.c_str());
                return false;
            }
            indexing.layout.patterns.push_back(std::move(*pattern));
        } else if (arg == "--channel") {
            if (!indexing.layout.channels.add(value)) {
                std::fprintf(stderr, "varnel-recorder: bad channel '%s' (NAME=N, N 1-4)\n", value);
                return false;
            }
        } else if (arg == "--index-file") {
            indexing.answersFile = value;
        } else {
            std::fprintf(stderr, "varnel-recorder: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    if (o.root.empty()) {
        std::fprintf(stderr, "varnel-recorder: --root is required\n");
        return false;
    }
    if (indexing.layout.layout == recorder::Layout::Pattern && indexing.layout.patterns.empty()) {
        std::fprintf(stderr, "varnel-recorder: --layout pattern needs a --pattern\n");
        return false;
    }
    indexing.root = o.root;
    if (indexing.answersFile.empty()) indexing.answersFile = o.root / ".varnel-recorder-index";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    recorder::RecorderOptions options;
    recorder::IndexerOptions indexing;
    std::optional<int> rtspPort;
    if (!parseOptions(argc, argv, options, indexing, rtspPort)) {
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
    recorder::RecordingIndex index;
    recorder::FolderIndexer indexer(index, indexing, [](const std::string& line) {
        std::fprintf(stderr, "varnel-recorder: %s\n", line.c_str());
    });
    if (!indexer.start()) return 1;
    const double indexMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    const auto counts = indexer.countsAfterWalk();
    rusage used {};
    ::getrusage(RUSAGE_SELF, &used);
    const double cpuMs = (static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) * 1e3 +
                          static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e3);
    std::fprintf(stderr,
                 "varnel-recorder: %zu files: %zu named, %zu probe answers kept, %zu to probe "
                 "in the background; %.0f ms of CPU so far\n",
                 counts.files, counts.named, counts.answered, counts.toProbe, cpuMs);

    recorder::RecorderServer server(index, options);
    const int port = server.bind();
    if (port < 0) {
        std::fprintf(stderr, "varnel-recorder: cannot listen on %s:%d\n", options.listen.c_str(),
                     options.port);
        return 1;
    }
    auto log = [](const std::string& line) { std::fprintf(stderr, "varnel-recorder: %s\n", line.c_str()); };
    std::unique_ptr<recorder::RtspServer> rtsp;
    std::unique_ptr<recorder::OnvifService> onvif;
    if (rtspPort) {
        rtsp = std::make_unique<recorder::RtspServer>(
            index, recorder::RtspOptions{options.root, options.listen, *rtspPort, options.user, options.password}, log);
        const int bound = rtsp->start();
        if (bound < 0) {
            std::fprintf(stderr, "varnel-recorder: cannot listen for RTSP on %s:%d\n", options.listen.c_str(),
                         *rtspPort);
            return 1;
        }
        onvif = std::make_unique<recorder::OnvifService>(index, options.root, options.user, options.password,
                                                          bound);
        server.serveOnvif(onvif.get());
        std::fprintf(stderr,
                     "varnel-recorder: ONVIF device at http://%s:%d/onvif/device_service; replay at rtsp://%s:%d/\n",
                     options.listen.c_str(), port, options.listen.c_str(), bound);
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
    if (rtsp) rtsp->stop();
    indexer.stop();
    std::fprintf(stderr, "varnel-recorder: stopped\n");
    return ok ? 0 : 1;
}
