#include "HttpRequest.h"

#include <algorithm>

#include "HttpText.h"

namespace recorder::http {

using http_text::EqualsNoCase;
using http_text::ParseDecimal;
using http_text::Trim;

namespace {

constexpr size_t kMaxHeaders = 100;

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isTokenChar);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decoding; in a query '+' also stands for a space. False for a
// broken escape or a NUL.
bool percentDecode(std::string_view in, bool plusIsSpace, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            if (i + 2 >= in.size()) return false;
            const int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            c = ' ';
        }
        if (c == '\0') return false;
        out.push_back(c);
    }
    return true;
}

bool parseQuery(std::string_view query, Fields& out) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        const size_t eq = pair.find('=');
        std::string name, value;
        if (!percentDecode(pair.substr(0, eq), true, name)) return false;
        if (eq != std::string_view::npos && !percentDecode(pair.substr(eq + 1), true, value))
            return false;
        out.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

// True when the comma-separated list holds `token` (in any case).
bool listHas(std::string_view list, std::string_view token) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (EqualsNoCase(Trim(list.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

HeadResult refuse(int status, std::string reason) {
    HeadResult r;
    r.status = HeadStatus::Refused;
    r.refusal = status;
    r.reason = std::move(reason);
    return r;
}

bool parseRequestLine(std::string_view line, Request& out, int& version, HeadResult& refusal) {
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) {
        refusal = refuse(400, "malformed request line");
        return false;
    }
    const std::string_view method = line.substr(0, sp1);
    const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view proto = line.substr(sp2 + 1);
    if (!isToken(method) || target.empty() || target.front() != '/' ||
        std::any_of(target.begin(), target.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; })) {
        refusal = refuse(400, "malformed request line");
        return false;
    }
    if (proto == "HTTP/1.1") {
        version = 1;
    } else if (proto == "HTTP/1.0") {
        version = 0;
    } else {
        const bool http = proto.size() == 8 && proto.substr(0, 5) == "HTTP/" && proto[6] == '.';
        refusal = http ? refuse(505, "only HTTP/1.0 and 1.1 are spoken")
                       : refuse(400, "malformed request line");
        return false;
    }
    out.method = method;
    out.target = target;
    const size_t question = target.find('?');
    if (!percentDecode(target.substr(0, question), false, out.path) ||
        (question != std::string_view::npos &&
         !parseQuery(target.substr(question + 1), out.query))) {
        refusal = refuse(400, "malformed escape in the target");
        return false;
    }
    return true;
}

}  // namespace

std::string Request::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (EqualsNoCase(n, name)) return v;
    return {};
}

std::string Request::param(std::string_view name) const {
    for (const auto& [n, v] : query)
        if (n == name) return v;
    return {};
}

HeadResult parseHead(std::string_view bytes, Request& out) {
    out = Request{};
    // Empty lines before a request line are tolerated.
    size_t at = 0;
    while (at < bytes.size() && (bytes[at] == '\r' || bytes[at] == '\n')) ++at;
    std::vector<std::string_view> lines;
    size_t end = std::string_view::npos;
    for (size_t pos = at; pos < bytes.size() && pos <= at + kMaxHeadBytes;) {
        const size_t nl = bytes.find('\n', pos);
        if (nl == std::string_view::npos) break;
        std::string_view line = bytes.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = nl + 1;
        if (line.empty()) {
            end = pos;
            break;
        }
        lines.push_back(line);
    }
    if (end == std::string_view::npos || end - at > kMaxHeadBytes) {
        if (bytes.size() - at > kMaxHeadBytes) return refuse(431, "request head too long");
        return HeadResult{};
    }
    if (lines.size() > kMaxHeaders + 1) return refuse(431, "too many header lines");

    HeadResult refusal;
    int version = 1;
    if (!parseRequestLine(lines.front(), out, version, refusal)) return refusal;
    bool lengthSeen = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || !isToken(line.substr(0, colon)))
            return refuse(400, "malformed header line");
        const std::string_view value = Trim(line.substr(colon + 1));
        if (std::any_of(value.begin(), value.end(), [](char c) {
                return (static_cast<unsigned char>(c) < ' ' && c != '\t') || c == 0x7f;
            }))
            return refuse(400, "control character in a header");
        const std::string_view name = line.substr(0, colon);
        if (EqualsNoCase(name, "Content-Length")) {
            uint64_t length = 0;
            if (!ParseDecimal(value, length) || (lengthSeen && length != out.bodyLength))
                return refuse(400, "bad Content-Length");
            lengthSeen = true;
            out.bodyLength = length;
        } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            return refuse(501, "request bodies in a transfer coding are not accepted");
        }
        out.headers.emplace_back(name, value);
    }
    if (out.bodyLength > kMaxRequestBodyBytes) return refuse(413, "request body too large");
    const std::string connection = out.header("Connection");
    out.http10 = version == 0;
    out.keepAlive =
        version == 1 ? !listHas(connection, "close") : listHas(connection, "keep-alive");

    HeadResult done;
    done.status = HeadStatus::Complete;
    done.consumed = end;
    return done;
}

RangeStatus parseRange(std::string_view header, uint64_t size, ByteRange& out) {
    header = Trim(header);
    if (header.empty()) return RangeStatus::Whole;
    const size_t eq = header.find('=');
    if (eq == std::string_view::npos || !EqualsNoCase(Trim(header.substr(0, eq)), "bytes"))
        return RangeStatus::Whole;
    const std::string_view rangeSet = Trim(header.substr(eq + 1));
    if (rangeSet.find(',') != std::string_view::npos) return RangeStatus::Whole;
    const size_t dash = rangeSet.find('-');
    if (dash == std::string_view::npos) return RangeStatus::Unsatisfiable;
    const std::string_view firstText = Trim(rangeSet.substr(0, dash));
    const std::string_view lastText = Trim(rangeSet.substr(dash + 1));
    uint64_t first = 0, last = 0;
    if (firstText.empty()) {  // a suffix: the last N bytes
        if (!ParseDecimal(lastText, last) || last == 0 || size == 0)
            return RangeStatus::Unsatisfiable;
        out.first = size - std::min(last, size);
        out.last = size - 1;
        out.toEnd = false;
        return RangeStatus::Part;
    }
    if (!ParseDecimal(firstText, first) || first >= size) return RangeStatus::Unsatisfiable;
    if (lastText.empty()) {
        last = size - 1;
    } else if (!ParseDecimal(lastText, last) || last < first) {
        return RangeStatus::Unsatisfiable;
    }
    out.first = first;
    out.last = std::min(last, size - 1);
    out.toEnd = lastText.empty() || last >= size - 1;
    return RangeStatus::Part;
}

std::optional<std::string> decodeBase64(std::string_view in) {
    size_t padding = 0;
    while (padding < 2 && !in.empty() && in.back() == '=') {
        in.remove_suffix(1);
        ++padding;
    }
    if (in.size() % 4 == 1 || (padding > 0 && (in.size() + padding) % 4 != 0)) return std::nullopt;
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
        const int v = value(c);
        if (v < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

}  // namespace recorder::http
