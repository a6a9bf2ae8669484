// A plain HTTP/1.1 GET on a socket of its own, for bulk bodies: the body is
// read in large pieces straight into the caller's buffer, with no per-piece
// copy or wait beyond what the socket needs. Used for downloads, where the
// general client's small fixed reads were the limit, and for streams, whose
// reader decides when to read (so a full buffer holds the sender back).
//
// One request per connection ("Connection: close"); the body must come with
// a Content-Length, or in chunks (a recording still being written, whose
// length is not known yet), so that a cut-off answer is told from a whole one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/RecorderClient.h"

namespace playersdk::net {

// The parts of an answer's head a download relies on.
struct HttpHead {
    int status = 0;
    bool has_length = false;
    uint64_t content_length = 0;
    // "Transfer-Encoding: chunked": the body's length is open.
    bool chunked = false;
    // From "Content-Range: bytes FIRST-LAST/TOTAL"; has_range false when
    // absent or not of that form. TOTAL "*" (not known yet) is 0.
    bool has_range = false;
    uint64_t range_first = 0;
    uint64_t range_last = 0;
    uint64_t range_total = 0;
    // The recorder's X-Recording-Duration-Ms; 0 when absent or malformed.
    uint64_t recording_duration_ms = 0;
};

// The longest answer head taken, its blank line included.
constexpr size_t kMaxHttpHeadBytes = 64 * 1024;

// Parses a response head (status line and header lines, up to and without
// the blank line). False when the status line is not "HTTP/1.x NNN ...",
// a header line has no name, Content-Length is not a plain number or comes
// twice with different values, or the body is encoded otherwise than in
// chunks (which go with no Content-Length).
bool ParseHttpHead(std::string_view head, HttpHead& out);

// "Basic " + base64 of "user:password".
std::string BasicAuthorization(const std::string& user, const std::string& password);

// The request text for GET `path` from the recorder in `login`; with
// `range_from` >= 0, of the bytes from there to the end.
std::string HttpGetRequest(const RecorderLogin& login, const std::string& path,
                           int64_t range_from = -1);

enum class HttpGetResult { Ok, Failed, Stopped };

class HttpGet {
public:
    // `stop` is looked at while waiting on the network; once it is true
    // every call ends, answering Stopped.
    HttpGet(const std::atomic<bool>& stop, std::chrono::milliseconds connect_timeout,
            std::chrono::milliseconds read_timeout);
    ~HttpGet();
    HttpGet(const HttpGet&) = delete;
    HttpGet& operator=(const HttpGet&) = delete;

    // Connects, sends the request (of the bytes from `range_from` on, when
    // >= 0) and reads the answer's head.
    HttpGetResult Open(const RecorderLogin& login, const std::string& path, HttpHead& head,
                       int64_t range_from = -1);
    // Fills `buffer` with up to `size` body bytes, reading until it is full
    // or the body is over; `got` is how many arrived. A body that ends
    // before its Content-Length, or goes quiet for the read timeout, fails.
    HttpGetResult ReadBody(char* buffer, size_t size, size_t& got);
    // Like ReadBody, but returns as soon as some bytes have arrived.
    HttpGetResult ReadSome(char* buffer, size_t size, size_t& got);
    // Body bytes still to come, of a body with a Content-Length.
    uint64_t Remaining() const { return chunked_ ? 0 : remaining_; }
    // True once the whole body has arrived.
    bool BodyOver() const { return chunked_ ? chunks_over_ : remaining_ == 0; }

private:
    HttpGetResult Connect(const RecorderLogin& login);
    HttpGetResult SendAll(const std::string& bytes);
    // Waits until the socket can be read (`events` POLLIN) or written
    // (POLLOUT), the timeout passes or `stop_` is set.
    HttpGetResult Wait(short events, std::chrono::milliseconds timeout);
    void Close();
    HttpGetResult Read(char* buffer, size_t size, size_t& got, bool whole);
    // Body bytes as they come off the connection, chunk framing and all.
    HttpGetResult ReadRaw(char* buffer, size_t size, size_t& got);
    // Reads the framing up to the next chunk's data; marks the last chunk.
    HttpGetResult NextChunk();

    const std::atomic<bool>& stop_;
    std::chrono::milliseconds connect_timeout_;
    std::chrono::milliseconds read_timeout_;
    int fd_ = -1;
    std::string early_body_;  // body bytes that came in with the head
    size_t early_used_ = 0;
    uint64_t remaining_ = 0;  // of the body, or of the chunk when chunked
    bool chunked_ = false;
    bool chunks_over_ = false;
    bool chunk_started_ = false;  // a chunk's data has begun: its CRLF follows it
};

}  // namespace playersdk::net
