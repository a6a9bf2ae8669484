#include "HttpServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <queue>
#include <unordered_map>
#include <vector>

namespace recorder::http {
namespace {

// Largest piece of a body made at once; the socket usually takes it whole.
constexpr size_t kPieceBytes = 256 * 1024;
constexpr size_t kReadBytes = 64 * 1024;
// Largest piece handed to sendfile at once.
constexpr uint64_t kSendfileBytes = 256 << 10;
// Most bytes one connection sends in one turn of the loop, so that a fast
// client does not keep the others waiting.
constexpr uint64_t kTurnBytes = 256 << 10;
// How often deadlines are looked at.
constexpr auto kSweepPeriod = std::chrono::milliseconds(250);
// After an answer that ends the connection, what the client still sends is
// read and dropped for this long, so that closing does not reset the
// connection before the client has read the answer.
constexpr auto kLingerTime = std::chrono::seconds(2);
// Descriptors kept free of connections: the listening socket, the log, and
// room for the recording each answer opens (counted per connection below).
constexpr rlim_t kSpareDescriptors = 64;

const char* reasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
    }
}

// The request line as received, made safe for a one-line log.
std::string firstLine(std::string_view bytes) {
    std::string line(bytes.substr(0, std::min<size_t>({bytes.find('\r'), bytes.find('\n'), 200})));
    for (char& c : line)
        if (static_cast<unsigned char>(c) < ' ' || c == '"' || c == 0x7f) c = '?';
    return line;
}

std::string peerAddress(const sockaddr_storage& ss, std::string& withPort) {
    char text[INET6_ADDRSTRLEN] = "?";
    char full[INET6_ADDRSTRLEN + 16] = "?";
    if (ss.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&ss);
        ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        std::snprintf(full, sizeof full, "%s:%d", text, ntohs(a->sin_port));
    } else if (ss.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&ss);
        ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        std::snprintf(full, sizeof full, "[%s]:%d", text, ntohs(a->sin6_port));
    }
    withPort = full;
    return text;
}

const char kBusyAnswer[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 21\r\n"
    "Connection: close\r\n\r\ntoo many connections\n";

}  // namespace

Response textResponse(int status, const std::string& text) {
    Response r;
    r.status = status;
    r.headers.emplace_back("Content-Type", "text/plain");
    r.body = text + "\n";
    return r;
}

class HttpServer::Loop {
public:
    Loop(Handler handler, ServerLimits limits, bool logRequests)
        : handler_(std::move(handler)), limits_(limits), logRequests_(logRequests) {}
    ~Loop();

    int bind(const std::string& address, int port);
    bool serve();
    void stop();

private:
    struct Connection {
        int fd = -1;
        uint64_t id = 0;
        std::string address;  // for the per-address bound
        std::string peer;     // address:port, for the log
        std::string in;       // received and not yet used
        std::string out;      // to send, from outSent on
        size_t outSent = 0;
        std::shared_ptr<BodySource> source;  // the rest of the answer's body
        uint64_t sourceAt = 0;
        uint64_t sourceEnd = 0;
        uint64_t bodyToSkip = 0;  // of the last request, still to drop
        bool answering = false;
        bool closeAfter = false;
        bool sayKeepAlive = false;  // an HTTP/1.0 client that asked to keep it
        bool inputClosed = false;
        bool lingering = false;
        bool paced = false;     // waiting for its source to have bytes due
        bool copyBody = false;  // the source's file cannot be sent by sendfile
        bool chunked = false;   // the body goes in chunks, its length open
        Clock::time_point deadline;
        uint32_t events = 0;
    };
    struct Timer {
        Clock::time_point at;
        uint64_t id;
        bool operator>(const Timer& o) const { return at > o.at; }
    };
    enum class Progress { Waiting, Done, Closed };

    void acceptAll();
    void onEvent(Connection& c, uint32_t events);
    // Parses and answers what has arrived, as far as it can go now.
    void process(Connection& c);
    // Reads what the socket has; false when the connection was closed.
    bool readSome(Connection& c);
    void startAnswer(Connection& c, const Response& r, bool headOnly, const std::string& logLine,
                     const std::string& range);
    Progress continueAnswer(Connection& c);
    void finishAnswer(Connection& c);
    void watch(Connection& c);
    void close(Connection& c);
    void sweep(Clock::time_point now);
    void runTimers(Clock::time_point now);
    int waitMs(Clock::time_point now) const;

    Handler handler_;
    ServerLimits limits_;
    bool logRequests_;
    int listenFd_ = -1;
    int epollFd_ = -1;
    int wakeFd_ = -1;
    bool acceptPaused_ = false;
    size_t maxConnections_ = 1000;
    static constexpr uint64_t kListenId = 0;
    static constexpr uint64_t kWakeId = 1;
    uint64_t nextId_ = 2;
    std::unordered_map<uint64_t, Connection> connections_;  // by id
    std::unordered_map<std::string, size_t> perAddress_;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;
    Clock::time_point nextSweep_;
};

HttpServer::Loop::~Loop() {
    for (auto& [id, c] : connections_) ::close(c.fd);
    for (int fd : {listenFd_, epollFd_, wakeFd_})
        if (fd >= 0) ::close(fd);
}

int HttpServer::Loop::bind(const std::string& address, int port) {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        if (files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &files);
            ::getrlimit(RLIMIT_NOFILE, &files);
        }
        if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur > 2 * kSpareDescriptors)
            // Each connection may hold a recording open besides its socket.
            maxConnections_ = static_cast<size_t>((files.rlim_cur - kSpareDescriptors) / 2);
        else if (files.rlim_cur == RLIM_INFINITY)
            maxConnections_ = 100'000;
    }

    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epollFd_ < 0 || wakeFd_ < 0) return -1;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    for (addrinfo* ai = found; ai && listenFd_ < 0; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0)
            listenFd_ = fd;
        else
            ::close(fd);
    }
    ::freeaddrinfo(found);
    if (listenFd_ < 0) return -1;

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return -1;
    const int boundPort = bound.ss_family == AF_INET6
                              ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                              : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kListenId;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &ev) != 0) return -1;
    ev.data.u64 = kWakeId;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev) != 0) return -1;
    return boundPort;
}

void HttpServer::Loop::stop() {
    const uint64_t one = 1;
    if (wakeFd_ >= 0) {
        [[maybe_unused]] const auto ignored = ::write(wakeFd_, &one, sizeof one);
    }
}

bool HttpServer::Loop::serve() {
    if (listenFd_ < 0) return false;
    std::vector<epoll_event> events(256);
    nextSweep_ = Clock::now() + kSweepPeriod;
    for (;;) {
        const int n = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()),
                                   waitMs(Clock::now()));
        if (n < 0 && errno != EINTR) return false;
        for (int i = 0; i < n; ++i) {
            const uint64_t id = events[i].data.u64;
            if (id == kWakeId) return true;
            if (id == kListenId) {
                acceptAll();
                continue;
            }
            const auto it = connections_.find(id);
            if (it != connections_.end()) onEvent(it->second, events[i].events);
        }
        const auto now = Clock::now();
        runTimers(now);
        if (now >= nextSweep_) {
            sweep(now);
            nextSweep_ = now + kSweepPeriod;
        }
    }
}

int HttpServer::Loop::waitMs(Clock::time_point now) const {
    auto until = nextSweep_;
    if (!timers_.empty()) until = std::min(until, timers_.top().at);
    if (until <= now) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
}

void HttpServer::Loop::acceptAll() {
    for (;;) {
        sockaddr_storage ss{};
        socklen_t length = sizeof ss;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&ss), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: listen again when the sweep has freed some.
                ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, listenFd_, nullptr);
                acceptPaused_ = true;
            }
            return;
        }
        std::string peer;
        std::string address = peerAddress(ss, peer);
        size_t& held = perAddress_[address];
        if (held >= limits_.connectionsPerAddress || connections_.size() >= maxConnections_) {
            if (held == 0) perAddress_.erase(address);
            [[maybe_unused]] auto ignored =
                ::send(fd, kBusyAnswer, sizeof kBusyAnswer - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        ++held;
        const int on = 1;
        // Answers go out at once, not after the client's delayed ACK.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const uint64_t id = nextId_++;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = id;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
            --held;
            ::close(fd);
            continue;
        }
        Connection& c = connections_[id];
        c.fd = fd;
        c.id = id;
        c.events = EPOLLIN;
        c.address = std::move(address);
        c.peer = std::move(peer);
        c.deadline = Clock::now() + limits_.requestDeadline;
    }
}

void HttpServer::Loop::onEvent(Connection& c, uint32_t events) {
    if (events & EPOLLERR) return close(c);
    if (c.lingering) {  // one read a turn, however fast the client sends
        char drop[kReadBytes];
        const ssize_t n = ::recv(c.fd, drop, sizeof drop, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            close(c);
        return;
    }
    if (events & EPOLLOUT) {
        const Progress p = continueAnswer(c);
        if (p == Progress::Closed) return;
        if (p == Progress::Waiting) return watch(c);
        finishAnswer(c);
        return;
    }
    if (events & EPOLLIN) {
        if (!readSome(c)) return;
        process(c);
        return;
    }
    if (events & EPOLLHUP) close(c);
}

bool HttpServer::Loop::readSome(Connection& c) {
    char buffer[kReadBytes];
    for (;;) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            c.in.append(buffer, static_cast<size_t>(n));
            return true;
        }
        if (n == 0) {
            c.inputClosed = true;
            return true;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        close(c);
        return false;
    }
}

void HttpServer::Loop::process(Connection& c) {
    while (!c.answering) {
        if (c.bodyToSkip > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(c.bodyToSkip, c.in.size()));
            c.in.erase(0, n);
            c.bodyToSkip -= n;
        }
        Request request;
        const HeadResult head = c.bodyToSkip > 0 ? HeadResult{} : parseHead(c.in, request);
        if (head.status == HeadStatus::Incomplete) {
            if (c.inputClosed) return close(c);
            return watch(c);
        }
        if (head.status == HeadStatus::Refused) {
            c.closeAfter = true;
            c.sayKeepAlive = false;
            startAnswer(c, textResponse(head.refusal, head.reason), false, firstLine(c.in), {});
        } else {
            if (request.method == "POST") {
                // A POST is answered once its body is in, within the head's deadline.
                if (c.in.size() < head.consumed + request.bodyLength) {
                    if (c.inputClosed) return close(c);
                    return watch(c);
                }
                request.body = c.in.substr(head.consumed, request.bodyLength);
                c.in.erase(head.consumed, request.bodyLength);
                request.bodyLength = 0;
            }
            c.in.erase(0, head.consumed);
            c.bodyToSkip = request.bodyLength;
            c.closeAfter = !request.keepAlive;
            c.sayKeepAlive = request.keepAlive && request.http10;
            const Response response = handler_(request);
            startAnswer(c, response, request.method == "HEAD",
                        request.method + " " + firstLine(request.target), request.header("Range"));
        }
        const Progress p = continueAnswer(c);
        if (p == Progress::Closed) return;
        if (p == Progress::Waiting) return watch(c);
        if (c.closeAfter) return finishAnswer(c);
        c.source.reset();
        c.answering = false;
        c.deadline = Clock::now() + limits_.requestDeadline;
    }
}

void HttpServer::Loop::startAnswer(Connection& c, const Response& r, bool headOnly,
                                   const std::string& logLine, const std::string& range) {
    const uint64_t length = r.source ? r.sourceLength : r.body.size();
    std::string& out = c.out;
    out = "HTTP/1.1 " + std::to_string(r.status) + " " + reasonPhrase(r.status) + "\r\n";
    for (const auto& [name, value] : r.headers) out += name + ": " + value + "\r\n";
    const bool chunked = r.source && r.openLength;
    out += chunked ? std::string("Transfer-Encoding: chunked\r\n")
                   : "Content-Length: " + std::to_string(length) + "\r\n";
    if (c.closeAfter)
        out += "Connection: close\r\n";
    else if (c.sayKeepAlive)
        out += "Connection: keep-alive\r\n";
    out += "\r\n";
    c.outSent = 0;
    if (!headOnly) {
        if (r.source) {
            c.source = r.source;
            c.chunked = chunked;
            c.copyBody = chunked;  // each piece is framed
            c.sourceAt = r.sourceOffset;
            c.sourceEnd = chunked ? UINT64_MAX : r.sourceOffset + r.sourceLength;
        } else {
            out += r.body;
        }
    }
    c.answering = true;
    c.deadline = Clock::now() + limits_.sendStall;
    if (logRequests_)
        std::fprintf(stderr, "%s \"%s\" %d %llu%s%s\n", c.peer.c_str(), logLine.c_str(), r.status,
                     static_cast<unsigned long long>(length), range.empty() ? "" : " ",
                     firstLine(range).c_str());
}

HttpServer::Loop::Progress HttpServer::Loop::continueAnswer(Connection& c) {
    for (const uint64_t turnStart = c.sourceAt;;) {
        if (c.sourceAt - turnStart >= kTurnBytes)
            return Progress::Waiting;  // the socket is still writable
        if (c.outSent < c.out.size()) {
            // A chunk of a growing body may be the last for a while: not held back.
            const bool more = c.source && c.sourceAt < c.sourceEnd && !c.chunked;
            const ssize_t n = ::send(c.fd, c.out.data() + c.outSent, c.out.size() - c.outSent,
                                     MSG_NOSIGNAL | (more ? MSG_MORE : 0));
            if (n > 0) {
                c.outSent += static_cast<size_t>(n);
                c.deadline = Clock::now() + limits_.sendStall;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Progress::Waiting;
            close(c);
            return Progress::Closed;
        }
        c.out.clear();
        c.outSent = 0;
        if (!c.source || c.sourceAt >= c.sourceEnd) return Progress::Done;

        if (const int file = c.copyBody ? -1 : c.source->file(); file >= 0) {
            off_t at = static_cast<off_t>(c.sourceAt);
            const ssize_t n = ::sendfile(
                c.fd, file, &at,
                static_cast<size_t>(std::min<uint64_t>(kSendfileBytes, c.sourceEnd - c.sourceAt)));
            if (n > 0) {
                c.sourceAt += static_cast<uint64_t>(n);
                c.deadline = Clock::now() + limits_.sendStall;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Progress::Waiting;
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {  // a file system without it
                c.copyBody = true;
                continue;
            }
            close(c);  // a read error, or the file shrank under the promised length
            return Progress::Closed;
        }

        // The next piece goes straight to the socket; what it does not take
        // waits in `out`.
        uint64_t made = 0;
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(kPieceBytes, c.sourceEnd - c.sourceAt));
        const bool ok = c.source->produce(c.sourceAt, want, [&](const char* data, size_t size) {
            made += size;
            if (c.chunked) {
                if (size == 0) return true;  // a chunk of none would end the body
                char head[24];
                std::snprintf(head, sizeof head, "%zx\r\n", size);
                c.out += head;
                c.out.append(data, size);
                c.out += "\r\n";
                return true;
            }
            size_t taken = 0;
            if (c.out.empty()) {
                const ssize_t n = ::send(c.fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    return false;
                taken = n > 0 ? static_cast<size_t>(n) : 0;
            }
            if (taken > 0) c.deadline = Clock::now() + limits_.sendStall;
            c.out.append(data + taken, size - taken);
            return true;
        });
        if (!ok) {
            close(c);
            return Progress::Closed;
        }
        c.sourceAt += made;
        if (made == 0 && c.chunked && c.source->over()) {
            c.out += "0\r\n\r\n";
            c.sourceEnd = c.sourceAt;
            continue;
        }
        if (made == 0) {
            c.paced = true;
            timers_.push({c.source->dueAt(), c.id});
            return Progress::Waiting;
        }
    }
}

void HttpServer::Loop::finishAnswer(Connection& c) {
    c.source.reset();
    if (!c.closeAfter) {
        c.answering = false;
        c.deadline = Clock::now() + limits_.requestDeadline;
        return process(c);
    }
    if (c.inputClosed) return close(c);
    // Half-close, then drop what the client still sends until it closes.
    ::shutdown(c.fd, SHUT_WR);
    c.lingering = true;
    c.answering = false;
    c.deadline = Clock::now() + kLingerTime;
    watch(c);
}

void HttpServer::Loop::watch(Connection& c) {
    uint32_t events = 0;
    if (c.lingering || !c.answering)
        events = EPOLLIN;
    else if (!c.paced)
        events = EPOLLOUT;
    if (events == c.events) return;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = c.id;
    ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &ev);
    c.events = events;
}

void HttpServer::Loop::close(Connection& c) {
    ::close(c.fd);
    const auto held = perAddress_.find(c.address);
    if (held != perAddress_.end() && --held->second == 0) perAddress_.erase(held);
    connections_.erase(c.id);
    if (acceptPaused_) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kListenId;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &ev) == 0) acceptPaused_ = false;
    }
}

void HttpServer::Loop::runTimers(Clock::time_point now) {
    while (!timers_.empty() && timers_.top().at <= now) {
        const Timer t = timers_.top();
        timers_.pop();
        const auto it = connections_.find(t.id);
        if (it == connections_.end() || it->second.id != t.id || !it->second.paced) continue;
        Connection& c = it->second;
        c.paced = false;
        c.deadline = now + limits_.sendStall;
        const Progress p = continueAnswer(c);
        if (p == Progress::Closed) continue;
        if (p == Progress::Waiting) {
            watch(c);
            continue;
        }
        finishAnswer(c);
    }
}

void HttpServer::Loop::sweep(Clock::time_point now) {
    std::vector<uint64_t> expired;
    for (const auto& [id, c] : connections_)
        if (!c.paced && now >= c.deadline) expired.push_back(id);
    for (uint64_t id : expired) close(connections_.at(id));
}

HttpServer::HttpServer(Handler handler, ServerLimits limits, bool logRequests)
    : loop_(std::make_unique<Loop>(std::move(handler), limits, logRequests)) {}
HttpServer::~HttpServer() = default;
int HttpServer::bind(const std::string& address, int port) { return loop_->bind(address, port); }
bool HttpServer::serve() { return loop_->serve(); }
void HttpServer::stop() { loop_->stop(); }

}  // namespace recorder::http
