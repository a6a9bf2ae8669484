#include "RecorderServer.h"

#include "RecordingFile.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace recorder {
namespace {

// Worker threads: each open connection holds one, so enough that idle
// keep-alive clients and slow paced streams never starve the others.
constexpr size_t kWorkerThreads = 32;
// Largest piece handed to the socket in one write.
constexpr size_t kChunkBytes = 1 << 20;
// A paced stream runs this far ahead of real time, so that a player can fill
// a short buffer without waiting for the wall clock second by second.
constexpr double kStreamLeadSeconds = 0.5;

std::string decodeBase64(std::string_view in) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : in) {
        if (c == '=') break;
        const int v = value(c);
        if (v < 0) return {};
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

void sendError(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain");
}

bool parseInt(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 6) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    out = v;
    return true;
}

void logRequest(const httplib::Request& req, const httplib::Response& res) {
    const std::string range = req.get_header_value("Range");
    static std::mutex lock;  // one whole line at a time
    std::lock_guard<std::mutex> guard(lock);
    std::fprintf(stderr, "%s:%d \"%s %s\" %d %zu%s%s\n", req.remote_addr.c_str(), req.remote_port,
                 req.method.c_str(), req.target.c_str(), res.status,
                 res.content_length_ ? res.content_length_ : res.body.size(),
                 range.empty() ? "" : " ", range.c_str());
}

}  // namespace

RecorderServer::RecorderServer(const RecordingIndex& index, RecorderOptions options)
    : index_(index), options_(std::move(options)), http_(std::make_unique<httplib::Server>()) {
    http_->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    http_->set_keep_alive_timeout(5);
    http_->set_read_timeout(10);
    http_->set_write_timeout(10);
    // Answers go out at once: no waiting on the client's delayed ACK
    // between the head and the body of a small answer.
    http_->set_tcp_nodelay(true);
    if (options_.logRequests) http_->set_logger(logRequest);
    installRoutes();
}

RecorderServer::~RecorderServer() = default;

bool RecorderServer::authorized(const std::string& header) const {
    static const std::string scheme = "Basic ";
    if (header.size() <= scheme.size() || header.compare(0, scheme.size(), scheme) != 0)
        return false;
    return decodeBase64(std::string_view(header).substr(scheme.size())) ==
           options_.user + ":" + options_.password;
}

void RecorderServer::installRoutes() {
    http_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (authorized(req.get_header_value("Authorization")))
            return httplib::Server::HandlerResponse::Unhandled;
        res.set_header("WWW-Authenticate", "Basic realm=\"recorder\"");
        sendError(res, 401, "login refused");
        return httplib::Server::HandlerResponse::Handled;
    });

    http_->Get("/api/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok\n", "text/plain");
    });

    http_->Get("/api/search", [this](const httplib::Request& req, httplib::Response& res) {
        SearchQuery q;
        int type = 0, limit = 0;
        if (!parseInt(req.get_param_value("channel"), 1, 4, q.channel) ||
            !parseInt(req.get_param_value("type"), 1, 2, type) ||
            !parseInt(req.get_param_value("limit"), 0, 1, limit))
            return sendError(res, 400, "channel 1-4, type 1-2 and limit 0-1 are required");
        q.type = static_cast<RecordingType>(type);
        q.limitToRange = limit == 1;
        if (q.limitToRange) {
            const auto from = parseCompact(req.get_param_value("start"));
            const auto to = parseCompact(req.get_param_value("end"));
            if (!from || !to) return sendError(res, 400, "start and end must be YYYYMMDDHHMMSS");
            q.from = *from;
            q.to = *to;
        }
        std::string body;
        const auto found = index_.search(q);
        body.reserve(found.size() * 72);
        for (const Recording* r : found) {
            body += r->name;
            body += '\t';
            body += formatCompact(r->key.start);
            body += '\t';
            body += formatCompact(r->key.end);
            body += '\t';
            body += std::to_string(r->size);
            body += '\n';
        }
        res.set_content(body, "text/plain");
    });

    auto serveRecording = [this](bool paced) {
        return [this, paced](const httplib::Request& req, httplib::Response& res) {
            const auto r = index_.find(req.matches[1].str());
            if (!r) return sendError(res, 404, "no such recording");
            auto file = RecordingFile::open(options_.root / index_.relativePath(*r));
            if (!file) return sendError(res, 404, "recording unreadable");
            const double seconds =
                static_cast<double>(std::max<CivilSeconds>(1, r->key.end - r->key.start));
            if (paced && options_.rate > 0)
                file->pace(static_cast<double>(file->size()) / seconds * options_.rate,
                           kStreamLeadSeconds * options_.rate);
            res.set_header("Accept-Ranges", "bytes");
            res.set_header("X-Recording-Start", formatCompact(r->key.start));
            res.set_header("X-Recording-End", formatCompact(r->key.end));
            res.set_header("X-Recording-Duration-Ms",
                           std::to_string(static_cast<int64_t>(seconds * 1000)));
            const size_t size = static_cast<size_t>(file->size());
            res.set_content_provider(
                size, std::string(mediaType(*r)),
                [file](size_t offset, size_t length, httplib::DataSink& sink) {
                    return file->send(offset, std::min(length, kChunkBytes),
                                      [&sink](const char* data, size_t n) {
                                          return sink.write(data, n);
                                      });
                });
        };
    };
    http_->Get("/recordings/(.+)", serveRecording(false));
    http_->Get("/stream/(.+)", serveRecording(true));

    http_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content("error " + std::to_string(res.status) + "\n", "text/plain");
    });
}

int RecorderServer::bind() {
    if (options_.port == 0) return http_->bind_to_any_port(options_.listen);
    return http_->bind_to_port(options_.listen, options_.port) ? options_.port : -1;
}

bool RecorderServer::serve() { return http_->listen_after_bind(); }

void RecorderServer::stop() { http_->stop(); }

}  // namespace recorder
