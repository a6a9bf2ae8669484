// An HTTP/1.1 server on one event loop (epoll): every connection is a small
// state machine, so that slow or idle clients cost a few bytes each and hold
// no one up. What keeps hostile clients in bounds:
//   - a request's head must be complete a fixed time after the connection
//     is ready for it, however slowly its bytes trickle in;
//   - an answer whose client takes no byte for a while is dropped;
//   - one address holds a bounded number of connections (503 beyond it),
//     and the process a bounded number in all, sized to its descriptors.
// Requests on a connection are answered one after the other, in order,
// pipelined ones included. Large bodies are made piece by piece as the
// socket takes them, and may be paced; a body whose length is not known yet
// (a recording still being written) goes in chunks until its source is over.
#pragma once

#include "HttpRequest.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace recorder::http {

using Clock = std::chrono::steady_clock;

// A body made piece by piece while the connection takes it.
class BodySource {
public:
    using Writer = std::function<bool(const char* data, size_t size)>;
    virtual ~BodySource() = default;
    // Writes up to `length` bytes from `offset` through `write`; false when
    // it cannot. Writing nothing means nothing is due yet: the server calls
    // again at dueAt().
    virtual bool produce(uint64_t offset, size_t length, const Writer& write) = 0;
    virtual Clock::time_point dueAt() const = 0;
    // A file whose bytes at the same offsets can go to the socket without a
    // copy (sendfile) instead of through produce(); -1 when there is none.
    virtual int file() const { return -1; }
    // For a body of open length: true once no more bytes will come (asked
    // when produce() made nothing).
    virtual bool over() const { return true; }
};

struct Response {
    int status = 200;
    Fields headers;  // Content-Length and Connection are the server's
    std::string body;
    // Instead of `body`: bytes [sourceOffset, sourceOffset + sourceLength).
    std::shared_ptr<BodySource> source;
    uint64_t sourceOffset = 0;
    uint64_t sourceLength = 0;
    // The source's bytes from sourceOffset on until it is over(), however
    // many there turn out to be: sent in chunks (sourceLength is then only
    // what there is now, for the log).
    bool openLength = false;
};

// A plain-text answer with that status.
Response textResponse(int status, const std::string& text);

struct ServerLimits {
    std::chrono::milliseconds requestDeadline{10'000};
    std::chrono::milliseconds sendStall{10'000};
    // Enough for a host running dozens of players with a download or a
    // stream each, far below the connections the process can hold.
    size_t connectionsPerAddress = 128;
};

class HttpServer {
public:
    using Handler = std::function<Response(const Request&)>;

    HttpServer(Handler handler, ServerLimits limits, bool logRequests);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Raises the descriptor limit as far as allowed and binds the listening
    // socket; returns the port bound, or -1.
    int bind(const std::string& address, int port);
    // Serves on the calling thread until stop(); false on a failure of the
    // loop itself.
    bool serve();
    // From any thread.
    void stop();

private:
    class Loop;
    std::unique_ptr<Loop> loop_;
};

}  // namespace recorder::http
