#include "RecorderServer.h"

#include "HttpText.h"
#include "RecordingFile.h"

#include <algorithm>
#include <string_view>

namespace recorder {
namespace {

// A paced stream runs this far ahead of real time, so that a player can fill
// a short buffer without waiting for the wall clock second by second.
constexpr double kStreamLeadSeconds = 0.5;

// A recording's bytes, read as the connection takes them; unpaced ones go
// straight from the file to the socket.
class RecordingBody : public http::BodySource {
public:
    RecordingBody(std::shared_ptr<RecordingFile> file, bool paced)
        : file_(std::move(file)), paced_(paced) {}
    bool produce(uint64_t offset, size_t length, const Writer& write) override {
        return file_->send(offset, length, write);
    }
    http::Clock::time_point dueAt() const override { return file_->dueAt(); }
    int file() const override { return paced_ ? -1 : file_->descriptor(); }
    bool over() const override { return file_->over(); }

private:
    std::shared_ptr<RecordingFile> file_;
    bool paced_;
};

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

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

RecorderServer::RecorderServer(const RecordingIndex& index, RecorderOptions options)
    : index_(index),
      options_(std::move(options)),
      http_([this](const http::Request& request) { return answer(request); }, http::ServerLimits{},
            options_.logRequests) {
    std::error_code ec;
    canonicalRoot_ = std::filesystem::canonical(options_.root, ec);
}

RecorderServer::~RecorderServer() = default;

int RecorderServer::bind() { return http_.bind(options_.listen, options_.port); }

bool RecorderServer::serve() { return http_.serve(); }

void RecorderServer::stop() { http_.stop(); }

bool RecorderServer::authorized(const std::string& header) const {
    const size_t space = header.find(' ');
    if (space == std::string::npos || !http_text::EqualsNoCase(header.substr(0, space), "Basic"))
        return false;
    const auto credentials = http::decodeBase64(std::string_view(header).substr(space + 1));
    return credentials && *credentials == options_.user + ":" + options_.password;
}

http::Response RecorderServer::answer(const http::Request& request) const {
    if (onvif_ && OnvifService::handles(request)) return onvif_->answer(request);
    if (!authorized(request.header("Authorization"))) {
        auto r = http::textResponse(401, "login refused");
        r.headers.emplace_back("WWW-Authenticate", "Basic realm=\"recorder\"");
        return r;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        auto r = http::textResponse(405, "only GET and HEAD are answered");
        r.headers.emplace_back("Allow", "GET, HEAD");
        return r;
    }
    const std::string& path = request.path;
    if (path == "/api/login") return http::textResponse(200, "ok");
    if (path == "/api/search") return search(request);
    struct Route {
        std::string_view prefix;
        bool paced;
    };
    for (const Route route : {Route{"/recordings/", false}, Route{"/stream/", true}}) {
        if (startsWith(path, route.prefix) && path.size() > route.prefix.size())
            return recording(request, path.substr(route.prefix.size()), route.paced);
    }
    return http::textResponse(404, "no such call");
}

http::Response RecorderServer::search(const http::Request& request) const {
    SearchQuery q;
    int type = 0, limit = 0;
    if (!parseInt(request.param("channel"), 1, 4, q.channel) ||
        !parseInt(request.param("type"), 1, 2, type) ||
        !parseInt(request.param("limit"), 0, 1, limit))
        return http::textResponse(400, "channel 1-4, type 1-2 and limit 0-1 are required");
    q.type = static_cast<RecordingType>(type);
    q.limitToRange = limit == 1;
    if (q.limitToRange) {
        const auto from = parseCompact(request.param("start"));
        const auto to = parseCompact(request.param("end"));
        if (!from || !to) return http::textResponse(400, "start and end must be YYYYMMDDHHMMSS");
        q.from = *from;
        q.to = *to;
    }
    http::Response r;
    r.headers.emplace_back("Content-Type", "text/plain");
    const auto found = index_.search(q);
    r.body.reserve(found.size() * 72);
    for (const Recording* each : found) {
        r.body += each->name;
        r.body += '\t';
        r.body += formatCompact(each->key.start);
        r.body += '\t';
        r.body += formatCompact(each->key.end);
        r.body += '\t';
        r.body += std::to_string(each->size);
        r.body += '\n';
    }
    return r;
}

std::optional<std::filesystem::path> RecorderServer::insideRoot(
    const std::filesystem::path& file) const {
    std::error_code ec;
    const auto resolved = std::filesystem::canonical(file, ec);
    if (ec || canonicalRoot_.empty()) return std::nullopt;
    const std::string root = canonicalRoot_.string();
    const std::string& at = resolved.native();
    if (at.size() <= root.size() || at.compare(0, root.size(), root) != 0 ||
        (root.back() != '/' && at[root.size()] != '/'))
        return std::nullopt;
    return resolved;
}

http::Response RecorderServer::recording(const http::Request& request, const std::string& name,
                                         bool paced) const {
    const auto r = index_.find(name);
    if (!r && index_.stillProbing()) {
        auto later = http::textResponse(503, "recordings still being looked at; try again");
        later.headers.emplace_back("Retry-After", "1");
        return later;
    }
    if (!r) return http::textResponse(404, "no such recording");
    const auto path = insideRoot(options_.root / index_.relativePath(*r));
    auto file = path ? RecordingFile::open(*path) : nullptr;
    if (!file) return http::textResponse(404, "recording unreadable");

    const uint64_t size = file->size();
    http::ByteRange range;
    const http::RangeStatus ranged = http::parseRange(request.header("Range"), size, range);
    // A video still being written goes on as it grows, when asked up to its
    // end: its length is not known yet ("*" in a range answer).
    const bool follow = file->beingWritten() && r->key.type == RecordingType::Mpeg4 && file->readableAsItGrows() &&
                        (ranged == http::RangeStatus::Whole || (ranged == http::RangeStatus::Part && range.toEnd));
    if (follow) file->followGrowth();
    if (ranged == http::RangeStatus::Unsatisfiable) {
        auto refused = http::textResponse(416, "range not satisfiable");
        refused.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return refused;
    }
    const double seconds =
        static_cast<double>(std::max<CivilSeconds>(1, r->key.end - r->key.start));
    paced = paced && options_.rate > 0;
    if (paced)
        file->pace(static_cast<double>(size) / seconds * options_.rate,
                   kStreamLeadSeconds * options_.rate);

    http::Response answer;
    answer.headers = {
        {"Content-Type", std::string(mediaType(*r))},
        {"Accept-Ranges", "bytes"},
        {"X-Recording-Start", formatCompact(r->key.start)},
        {"X-Recording-End", formatCompact(r->key.end)},
        {"X-Recording-Duration-Ms", std::to_string(static_cast<int64_t>(seconds * 1000))},
    };
    answer.source = std::make_shared<RecordingBody>(std::move(file), paced);
    answer.openLength = follow;
    if (ranged == http::RangeStatus::Part) {
        answer.status = 206;
        answer.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                         std::to_string(range.last) + "/" +
                                                         (follow ? "*" : std::to_string(size)));
        answer.sourceOffset = range.first;
        answer.sourceLength = range.last - range.first + 1;
    } else {
        answer.sourceLength = size;
    }
    return answer;
}

}  // namespace recorder
