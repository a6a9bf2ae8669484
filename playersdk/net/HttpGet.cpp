#include "net/HttpGet.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "HttpText.h"

namespace playersdk::net {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a wait looks at the stop flag.
constexpr milliseconds kStopSlice(50);
constexpr size_t kHeadReadBytes = 16 * 1024;

using http_text::EqualsNoCase;
using http_text::Trim;

// "bytes FIRST-LAST/TOTAL" with FIRST <= LAST < TOTAL, or TOTAL "*" (0).
bool ParseContentRange(std::string_view value, uint64_t& first, uint64_t& last, uint64_t& total) {
    if (value.substr(0, 6) != "bytes ") return false;
    value.remove_prefix(6);
    const size_t dash = value.find('-');
    const size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return false;
    if (!http_text::ParseDecimal(value.substr(0, dash), first) ||
        !http_text::ParseDecimal(value.substr(dash + 1, slash - dash - 1), last) || first > last)
        return false;
    total = 0;
    if (value.substr(slash + 1) == "*") return true;
    return http_text::ParseDecimal(value.substr(slash + 1), total) && last < total;
}

bool ParseStatusLine(std::string_view line, int& status) {
    // "HTTP/1.1 200 OK"; the reason phrase may be empty or missing.
    if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[7] < '0' || line[7] > '9' ||
        line[8] != ' ')
        return false;
    status = 0;
    for (size_t i = 9; i < 12; ++i) {
        if (line[i] < '0' || line[i] > '9') return false;
        status = status * 10 + (line[i] - '0');
    }
    return status >= 100 && (line.size() == 12 || line[12] == ' ');
}

}  // namespace

bool ParseHttpHead(std::string_view head, HttpHead& out) {
    out = HttpHead{};
    size_t end = head.find("\r\n");
    if (!ParseStatusLine(head.substr(0, end), out.status)) return false;
    while (end != std::string_view::npos) {
        const size_t start = end + 2;
        end = head.find("\r\n", start);
        const std::string_view line = head.substr(start, end == std::string_view::npos ? end : end - start);
        if (line.empty()) continue;  // a trailing line break
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos || line.front() == ' ' || line.front() == '\t')
            return false;  // no name, or a folded continuation line
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = Trim(line.substr(colon + 1));
        if (EqualsNoCase(name, "Content-Length")) {
            uint64_t length = 0;
            if (!http_text::ParseDecimal(value, length)) return false;
            if (out.has_length && length != out.content_length) return false;
            out.has_length = true;
            out.content_length = length;
        } else if (EqualsNoCase(name, "Content-Range")) {
            out.has_range = ParseContentRange(value, out.range_first, out.range_last, out.range_total);
        } else if (EqualsNoCase(name, "X-Recording-Duration-Ms")) {
            if (!http_text::ParseDecimal(value, out.recording_duration_ms)) out.recording_duration_ms = 0;
        } else if (EqualsNoCase(name, "Transfer-Encoding") && EqualsNoCase(value, "chunked")) {
            out.chunked = true;
        } else if (EqualsNoCase(name, "Transfer-Encoding") || EqualsNoCase(name, "Content-Encoding")) {
            if (!EqualsNoCase(value, "identity")) return false;
        }
    }
    // Both would leave the body's end in doubt.
    return !(out.chunked && out.has_length);
}

std::string BasicAuthorization(const std::string& user, const std::string& password) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string plain = user + ":" + password;
    std::string coded = "Basic ";
    for (size_t i = 0; i < plain.size(); i += 3) {
        const size_t n = std::min<size_t>(3, plain.size() - i);
        uint32_t bits = 0;
        for (size_t k = 0; k < 3; ++k)
            bits = (bits << 8) | (k < n ? static_cast<unsigned char>(plain[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            coded += k <= n ? digits[(bits >> (18 - 6 * k)) & 63] : '=';
    }
    return coded;
}

std::string HttpGetRequest(const RecorderLogin& login, const std::string& path, int64_t range_from) {
    const bool ipv6 = login.host.find(':') != std::string::npos;
    const std::string host = ipv6 ? "[" + login.host + "]" : login.host;
    const std::string range =
        range_from >= 0 ? "\r\nRange: bytes=" + std::to_string(range_from) + "-" : std::string();
    return "GET " + path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(login.port) +
           "\r\nAuthorization: " + BasicAuthorization(login.user, login.password) + range +
           "\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n";
}

HttpGet::HttpGet(const std::atomic<bool>& stop, milliseconds connect_timeout, milliseconds read_timeout)
    : stop_(stop), connect_timeout_(connect_timeout), read_timeout_(read_timeout) {}

HttpGet::~HttpGet() { Close(); }

void HttpGet::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

HttpGetResult HttpGet::Wait(short events, milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    for (;;) {
        if (stop_) return HttpGetResult::Stopped;
        const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
        if (left.count() <= 0) return HttpGetResult::Failed;
        pollfd p{fd_, events, 0};
        const int n = poll(&p, 1, static_cast<int>(std::min(left, kStopSlice).count()));
        if (n < 0 && errno != EINTR) return HttpGetResult::Failed;
        // An error or hang-up is seen by the read or write that follows.
        if (n > 0) return HttpGetResult::Ok;
    }
}

HttpGetResult HttpGet::Connect(const RecorderLogin& login) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(login.host.c_str(), std::to_string(login.port).c_str(), &hints, &found) != 0)
        return HttpGetResult::Failed;
    const auto until = Clock::now() + connect_timeout_;
    HttpGetResult result = HttpGetResult::Failed;
    for (addrinfo* a = found; a != nullptr && result == HttpGetResult::Failed; a = a->ai_next) {
        fd_ = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd_ < 0) continue;
        if (connect(fd_, a->ai_addr, a->ai_addrlen) == 0) {
            result = HttpGetResult::Ok;
        } else if (errno == EINPROGRESS) {
            result = Wait(POLLOUT, std::chrono::duration_cast<milliseconds>(until - Clock::now()));
            int error = 0;
            socklen_t length = sizeof error;
            if (result == HttpGetResult::Ok &&
                (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0))
                result = HttpGetResult::Failed;
        }
        if (result != HttpGetResult::Ok) Close();
    }
    freeaddrinfo(found);
    if (result == HttpGetResult::Ok) {
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return result;
}

HttpGetResult HttpGet::SendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (const auto r = Wait(POLLOUT, read_timeout_); r != HttpGetResult::Ok) return r;
        } else {
            return HttpGetResult::Failed;
        }
    }
    return HttpGetResult::Ok;
}

HttpGetResult HttpGet::Open(const RecorderLogin& login, const std::string& path, HttpHead& head,
                            int64_t range_from) {
    Close();
    early_body_.clear();
    early_used_ = 0;
    remaining_ = 0;
    chunked_ = false;
    chunks_over_ = false;
    chunk_started_ = false;
    if (auto r = Connect(login); r != HttpGetResult::Ok) return r;
    if (auto r = SendAll(HttpGetRequest(login, path, range_from)); r != HttpGetResult::Ok) return r;
    // Never more than the longest head is taken in, so a head is refused
    // the moment it has grown past it.
    std::string received;
    size_t head_end = std::string::npos;
    while (head_end == std::string::npos) {
        if (received.size() >= kMaxHttpHeadBytes) return HttpGetResult::Failed;
        const size_t had = received.size();
        const size_t want = std::min(kHeadReadBytes, kMaxHttpHeadBytes - had);
        received.resize(had + want);
        const ssize_t n = recv(fd_, received.data() + had, want, 0);
        received.resize(had + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n == 0) return HttpGetResult::Failed;  // closed before the head was whole
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return HttpGetResult::Failed;
            if (auto r = Wait(POLLIN, read_timeout_); r != HttpGetResult::Ok) return r;
            continue;
        }
        head_end = received.find("\r\n\r\n", had >= 3 ? had - 3 : 0);
    }
    if (!ParseHttpHead(std::string_view(received).substr(0, head_end), head)) return HttpGetResult::Failed;
    early_body_ = received.substr(head_end + 4);
    remaining_ = head.content_length;
    chunked_ = head.chunked;
    if (chunked_) return HttpGetResult::Ok;
    // More bytes than the announced body: not an answer to trust.
    if (head.has_length && early_body_.size() > head.content_length) return HttpGetResult::Failed;
    return HttpGetResult::Ok;
}

HttpGetResult HttpGet::ReadBody(char* buffer, size_t size, size_t& got) {
    return Read(buffer, size, got, true);
}

HttpGetResult HttpGet::ReadSome(char* buffer, size_t size, size_t& got) {
    return Read(buffer, size, got, false);
}

HttpGetResult HttpGet::ReadRaw(char* buffer, size_t size, size_t& got) {
    got = 0;
    if (early_used_ < early_body_.size()) {
        got = std::min(size, early_body_.size() - early_used_);
        std::memcpy(buffer, early_body_.data() + early_used_, got);
        early_used_ += got;
        return HttpGetResult::Ok;
    }
    for (;;) {
        const ssize_t n = recv(fd_, buffer, size, 0);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return HttpGetResult::Ok;
        }
        if (n == 0) return HttpGetResult::Failed;  // closed before the whole body came
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return HttpGetResult::Failed;
        if (auto r = Wait(POLLIN, read_timeout_); r != HttpGetResult::Ok) return r;
    }
}

HttpGetResult HttpGet::NextChunk() {
    // The CRLF after the last chunk's data, then "SIZE[;ext]" CRLF. Read
    // byte by byte: the lines are short, and what follows them is data.
    std::string line;
    bool skipped_end = !chunk_started_;
    for (;;) {
        char c = 0;
        size_t got = 0;
        if (auto r = ReadRaw(&c, 1, got); r != HttpGetResult::Ok) return r;
        if (c != '\n') {
            if (line.size() > 1024) return HttpGetResult::Failed;
            line += c;
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!skipped_end) {  // the empty line that ends the data before
            if (!line.empty()) return HttpGetResult::Failed;
            skipped_end = true;
            continue;
        }
        break;
    }
    const std::string_view digits = Trim(std::string_view(line).substr(0, line.find(';')));
    if (digits.empty() || digits.size() > 15) return HttpGetResult::Failed;
    uint64_t size = 0;
    for (char c : digits) {
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) return HttpGetResult::Failed;
        size = size * 16 + static_cast<uint64_t>(v);
    }
    remaining_ = size;
    chunk_started_ = true;
    // The last chunk: the body is whole (trailers, if any, are not read; the
    // connection closes after this answer).
    if (size == 0) chunks_over_ = true;
    return HttpGetResult::Ok;
}

HttpGetResult HttpGet::Read(char* buffer, size_t size, size_t& got, bool whole) {
    got = 0;
    if (fd_ < 0) return HttpGetResult::Failed;
    if (stop_) return HttpGetResult::Stopped;
    while (got < size && !BodyOver() && (whole || got == 0)) {
        if (chunked_ && remaining_ == 0) {
            if (auto r = NextChunk(); r != HttpGetResult::Ok) return r;
            continue;
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size - got, remaining_));
        size_t n = 0;
        if (auto r = ReadRaw(buffer + got, want, n); r != HttpGetResult::Ok) return r;
        got += n;
        remaining_ -= n;
    }
    return HttpGetResult::Ok;
}

}  // namespace playersdk::net
