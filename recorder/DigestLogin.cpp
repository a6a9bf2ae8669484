#include "DigestLogin.h"

#include "HttpRequest.h"
#include "HttpText.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <map>

namespace recorder {
namespace {

std::string hex(const unsigned char* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string randomHex(size_t bytes) {
    unsigned char buffer[32] = {};
    RAND_bytes(buffer, static_cast<int>(bytes));
    return hex(buffer, bytes);
}

// The name=value and name="value" pairs of a Digest header, names lower-cased.
std::map<std::string, std::string> digestParams(std::string_view text) {
    std::map<std::string, std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == ',')) ++at;
        const size_t eq = text.find('=', at);
        if (eq == std::string_view::npos) break;
        std::string name(text.substr(at, eq - at));
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        at = eq + 1;
        std::string value;
        if (at < text.size() && text[at] == '"') {
            const size_t close = text.find('"', at + 1);
            if (close == std::string_view::npos) break;
            value = text.substr(at + 1, close - at - 1);
            at = close + 1;
        } else {
            const size_t comma = text.find(',', at);
            value = text.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at);
            while (!value.empty() && value.back() == ' ') value.pop_back();
            at = comma == std::string_view::npos ? text.size() : comma;
        }
        out[name] = value;
    }
    return out;
}

}  // namespace

std::string md5Hex(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    return hex(digest, size);
}

DigestLogin::DigestLogin(std::string user, std::string password, std::string realm)
    : user_(std::move(user)), password_(std::move(password)), realm_(std::move(realm)),
      secret_(randomHex(16)) {}

std::string DigestLogin::sign(std::string_view random) const {
    return std::string(random) + md5Hex(secret_ + ":" + std::string(random)).substr(0, 16);
}

std::string DigestLogin::challenge() const {
    return "Digest realm=\"" + realm_ + "\", nonce=\"" + sign(randomHex(8)) + "\", qop=\"auth\", algorithm=MD5";
}

bool DigestLogin::acceptsDigest(std::string_view method, std::string_view text) const {
    auto p = digestParams(text);
    const std::string& nonce = p["nonce"];
    if (nonce.size() != 32 || sign(nonce.substr(0, 16)) != nonce) return false;
    if (p["username"] != user_ || p["realm"] != realm_) return false;
    if (!p["algorithm"].empty() && !http_text::EqualsNoCase(p["algorithm"], "MD5")) return false;
    const std::string ha1 = md5Hex(user_ + ":" + realm_ + ":" + password_);
    const std::string ha2 = md5Hex(std::string(method) + ":" + p["uri"]);
    const std::string expected =
        p["qop"].empty() ? md5Hex(ha1 + ":" + nonce + ":" + ha2)
                         : md5Hex(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] + ":" + p["qop"] + ":" + ha2);
    return p["response"] == expected;
}

bool DigestLogin::accepts(std::string_view method, std::string_view authorization) const {
    const size_t space = authorization.find(' ');
    if (space == std::string_view::npos) return false;
    const std::string_view scheme = authorization.substr(0, space);
    const std::string_view rest = authorization.substr(space + 1);
    if (http_text::EqualsNoCase(scheme, "Digest")) return acceptsDigest(method, rest);
    if (!http_text::EqualsNoCase(scheme, "Basic")) return false;
    const auto credentials = http::decodeBase64(rest);
    return credentials && *credentials == user_ + ":" + password_;
}

}  // namespace recorder
