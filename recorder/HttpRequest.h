// The pieces of HTTP/1.1 the recorder's service reads: a request's head,
// parsed from the bytes received so far, its query, byte ranges and Basic
// credentials. Strict: what a sound client never sends is refused, not
// guessed at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace recorder::http {

// A head longer than this is refused (431) before it is complete.
inline constexpr size_t kMaxHeadBytes = 16 * 1024;
// A request may carry a body up to this size, which is read and dropped.
inline constexpr uint64_t kMaxRequestBodyBytes = 64 * 1024;

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method;
    std::string target;  // as sent, for the log
    std::string path;    // percent-decoded, without the query
    Fields query;        // percent-decoded, '+' as space, in the order sent
    Fields headers;
    uint64_t bodyLength = 0;
    std::string body;  // a POST's body; other requests' bodies are dropped unread
    bool http10 = false;
    bool keepAlive = true;  // HTTP/1.1 unless "close", HTTP/1.0 only if "keep-alive"

    // The first header or query field of that name (header names in any
    // case); empty when there is none.
    std::string header(std::string_view name) const;
    std::string param(std::string_view name) const;
};

enum class HeadStatus { Incomplete, Complete, Refused };

struct HeadResult {
    HeadStatus status = HeadStatus::Incomplete;
    size_t consumed = 0;  // bytes of the head, blank line included (Complete)
    int refusal = 0;      // the answer's status (Refused): 400, 431, 501 or 505
    std::string reason;   // why, for the answer's text (Refused)
};

// Parses the head at the start of `bytes` into `out`.
HeadResult parseHead(std::string_view bytes, Request& out);

// One byte range of a representation of `size` bytes, first and last
// included.
struct ByteRange {
    uint64_t first = 0;
    uint64_t last = 0;
    bool toEnd = false;  // asked up to the end, or past it (a suffix is not)
};
enum class RangeStatus { Whole, Part, Unsatisfiable };

// Reads a Range header: Whole when there is none, when its unit is not
// bytes, or when it asks for several ranges (answered as the whole);
// Unsatisfiable when it is malformed, starts at or past the end, or is an
// empty suffix; otherwise Part, its last byte cut to the end.
RangeStatus parseRange(std::string_view header, uint64_t size, ByteRange& out);

// Standard base64 with optional '=' padding; nullopt for any byte outside
// the alphabet, padding that is not at the very end, or a length no encoder
// writes.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace recorder::http
