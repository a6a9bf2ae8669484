// The recorder's HTTP/1.1 service over a RecordingIndex.
//
//   GET /api/login                      200 when the login is accepted
//   GET /api/search?channel=C&type=T&limit=L&start=S&end=E
//       C 1..4, T 1 (MPEG-4) or 2 (JPEG), L 1 to keep only recordings that
//       overlap [S, E] (YYYYMMDDHHMMSS, local calendar) or 0 for all; answers
//       one line per recording, ordered by start:
//       name TAB start TAB end TAB size-in-bytes
//   GET /recordings/NAME                the recording, as fast as it goes
//   GET /stream/NAME                    the recording, paced at --rate
//
// Recording answers honour one byte range (206 with Content-Range; 416 with
// "Content-Range: bytes */SIZE" for a range that starts at or past the end)
// and carry X-Recording-Start, X-Recording-End and X-Recording-Duration-Ms.
// Every request needs Basic authentication (401 otherwise); unknown names,
// and links that lead out of the root, are 404; malformed requests 400.
// With serveOnvif(), POSTs to /onvif/ are the ONVIF device's (OnvifService),
// which takes the login its own ways. Each request is logged as one line on stderr. The HTTP side is
// http::HttpServer: one event loop, with deadlines and per-address bounds
// (503 to an address past its share); it refuses what it cannot take with
// 405 (a method other than GET and HEAD), 413, 431, 501 (a request body in a
// transfer coding) and 505.
#pragma once

#include "HttpServer.h"
#include "OnvifService.h"
#include "RecordingIndex.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace recorder {

struct RecorderOptions {
    std::filesystem::path root;
    std::string listen = "127.0.0.1";
    int port = 3000;  // 0 picks a free port
    std::string user = "246135";
    std::string password = "246135";
    double rate = 0;  // streams paced at this many times real time; 0 = unpaced
    bool logRequests = true;  // one line per request on stderr
};

class RecorderServer {
public:
    RecorderServer(const RecordingIndex& index, RecorderOptions options);
    ~RecorderServer();

    // Binds the listening socket; returns the port bound, or -1.
    int bind();
    // Serves until stop() is called; call after bind().
    bool serve();
    void stop();
    // Answers the ONVIF services at /onvif/ too; before serve().
    void serveOnvif(OnvifService* onvif) { onvif_ = onvif; }

private:
    http::Response answer(const http::Request& request) const;
    http::Response search(const http::Request& request) const;
    http::Response recording(const http::Request& request, const std::string& name,
                             bool paced) const;
    bool authorized(const std::string& header) const;
    // The file's path with every link resolved, when it stays in the root.
    std::optional<std::filesystem::path> insideRoot(const std::filesystem::path& file) const;

    const RecordingIndex& index_;
    RecorderOptions options_;
    std::filesystem::path canonicalRoot_;
    http::HttpServer http_;
    OnvifService* onvif_ = nullptr;
};

}  // namespace recorder
