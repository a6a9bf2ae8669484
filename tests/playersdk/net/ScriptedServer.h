// A one-connection-at-a-time HTTP "server" on loopback that answers every
// request with whatever its script writes to the socket: bad status lines,
// missing lengths, bodies cut short, answers that stall.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace net_test {

class ScriptedServer {
public:
    // The script gets the connected socket; the connection is closed when
    // it returns. `released()` turns true when the server is going away, so
    // a stalling script knows when to give up.
    using Script = std::function<void(int fd, const ScriptedServer& server)>;

    explicit ScriptedServer(Script script) : script_(std::move(script)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        released_ = true;
        if (thread_.joinable()) thread_.join();
        close(listener_);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t port() const { return port_; }
    bool released() const { return released_; }
    // The head of the last request received.
    std::string last_request() const {
        std::lock_guard lock(mutex_);
        return request_;
    }
    // Writes all of `bytes`; false once the peer has gone.
    static bool Send(int fd, const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

private:
    void Serve() {
        while (!released_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::string request;
            char piece[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = recv(fd, piece, sizeof piece, 0);
                if (n <= 0) break;
                request.append(piece, static_cast<size_t>(n));
            }
            {
                std::lock_guard lock(mutex_);
                request_ = request;
            }
            script_(fd, *this);
            close(fd);
        }
    }

    Script script_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> released_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string request_;
};

// A script that sends `answer` and closes.
inline ScriptedServer::Script Answer(std::string answer) {
    return [answer](int fd, const ScriptedServer&) { ScriptedServer::Send(fd, answer); };
}

// A script that sends `answer`, then keeps the connection open and silent
// until the server is released.
inline ScriptedServer::Script AnswerThenStall(std::string answer) {
    return [answer](int fd, const ScriptedServer& server) {
        ScriptedServer::Send(fd, answer);
        while (!server.released()) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 20);
            if (p.revents & (POLLHUP | POLLERR)) return;
            char sink[256];
            if ((p.revents & POLLIN) && recv(fd, sink, sizeof sink, 0) <= 0) return;  // client gone
        }
    };
}

}  // namespace net_test
