// The ONVIF replay peer that no one here wrote (shared/peers/
// onvif-replay-server.py, made of Debian's GStreamer packages), started on
// loopback for one test binary. Found beside the checkout, or where
// VARNEL_ONVIF_REPLAY_PEER points; tests skip when it is absent.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace net_test {

class ReplayPeer {
public:
    // Serves `mp4` (H.264); running() false when the peer is not to be had.
    explicit ReplayPeer(const std::string& mp4) {
        const std::string script = Script();
        if (script.empty()) {
            why_ = "the ONVIF replay peer (shared/peers/onvif-replay-server.py) is not beside this checkout";
            return;
        }
        port_ = FreePort();
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            const std::string port = std::to_string(port_);
            // Debian's own interpreter, which has the GStreamer bindings.
            const char* python = ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
            ::execlp(python, python, script.c_str(), mp4.c_str(), port.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* said = ::fdopen(out[0], "r");
        char line[256] = {};
        running_ = said != nullptr && std::fgets(line, sizeof line, said) != nullptr &&
                   std::string(line).rfind("ready", 0) == 0;
        if (said != nullptr) std::fclose(said);
        if (!running_) why_ = "the ONVIF replay peer did not start (python3-gi, gir1.2-gst-rtsp-server-1.0 missing?)";
    }
    ~ReplayPeer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ReplayPeer(const ReplayPeer&) = delete;
    ReplayPeer& operator=(const ReplayPeer&) = delete;

    bool running() const { return running_; }
    const std::string& why() const { return why_; }
    std::string url() const { return "rtsp://127.0.0.1:" + std::to_string(port_) + "/test"; }

private:
    static std::string Script() {
        namespace fs = std::filesystem;
        if (const char* named = std::getenv("VARNEL_ONVIF_REPLAY_PEER"); named != nullptr && fs::exists(named))
            return named;
        for (fs::path dir = fs::path(PROJECT_SOURCE_DIR); !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
            const fs::path script = dir / "shared" / "peers" / "onvif-replay-server.py";
            if (fs::exists(script)) return script;
        }
        return {};
    }
    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        ::close(fd);
        return ntohs(address.sin_port);
    }

    pid_t pid_ = -1;
    int port_ = 0;
    bool running_ = false;
    std::string why_;
};

}  // namespace net_test
