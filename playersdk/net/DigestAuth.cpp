#include "net/DigestAuth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "HttpText.h"

namespace playersdk::net {
namespace {

std::string Md5Hex(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

// Reads `name=value` or `name="value"` pairs separated by commas.
template <typename Visit>
void ForEachParameter(std::string_view text, Visit visit) {
    while (!text.empty()) {
        text = http_text::Trim(text);
        while (!text.empty() && text.front() == ',') text = http_text::Trim(text.substr(1));
        const size_t eq = text.find('=');
        if (eq == std::string_view::npos) return;
        const std::string_view name = http_text::Trim(text.substr(0, eq));
        text = http_text::Trim(text.substr(eq + 1));
        std::string value;
        if (!text.empty() && text.front() == '"') {
            size_t i = 1;
            for (; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                value += text[i];
            }
            text = i < text.size() ? text.substr(i + 1) : std::string_view();
        } else {
            const size_t comma = text.find(',');
            value = std::string(http_text::Trim(text.substr(0, comma)));
            text = comma == std::string_view::npos ? std::string_view() : text.substr(comma);
        }
        visit(name, value);
    }
}

}  // namespace

std::optional<DigestChallenge> ParseDigestChallenge(std::string_view header) {
    header = http_text::Trim(header);
    if (header.size() < 7 || !http_text::EqualsNoCase(header.substr(0, 7), "Digest ")) return std::nullopt;
    DigestChallenge challenge;
    bool md5 = true;
    ForEachParameter(header.substr(7), [&](std::string_view name, const std::string& value) {
        if (http_text::EqualsNoCase(name, "realm")) challenge.realm = value;
        else if (http_text::EqualsNoCase(name, "nonce")) challenge.nonce = value;
        else if (http_text::EqualsNoCase(name, "opaque")) challenge.opaque = value;
        else if (http_text::EqualsNoCase(name, "algorithm")) md5 = http_text::EqualsNoCase(value, "MD5");
        else if (http_text::EqualsNoCase(name, "qop")) {
            // A list such as "auth,auth-int": auth is all that is used here.
            for (size_t at = 0; at <= value.size();) {
                const size_t comma = std::min(value.find(',', at), value.size());
                if (http_text::EqualsNoCase(http_text::Trim(std::string_view(value).substr(at, comma - at)), "auth"))
                    challenge.qop_auth = true;
                at = comma + 1;
            }
        }
    });
    if (!md5 || challenge.nonce.empty()) return std::nullopt;
    return challenge;
}

std::string DigestAuthorization(const DigestChallenge& challenge, std::string_view user,
                                std::string_view password, std::string_view method, std::string_view uri,
                                unsigned count) {
    const std::string ha1 =
        Md5Hex(std::string(user) + ":" + challenge.realm + ":" + std::string(password));
    const std::string ha2 = Md5Hex(std::string(method) + ":" + std::string(uri));
    std::string value = "Digest username=\"" + std::string(user) + "\", realm=\"" + challenge.realm +
                        "\", nonce=\"" + challenge.nonce + "\", uri=\"" + std::string(uri) + "\"";
    if (challenge.qop_auth) {
        char nc[9];
        std::snprintf(nc, sizeof nc, "%08x", count);
        std::string cnonce;
        for (unsigned char c : RandomBytes(8)) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", c);
            cnonce += two;
        }
        const std::string response =
            Md5Hex(ha1 + ":" + challenge.nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2);
        value += ", qop=auth, nc=" + std::string(nc) + ", cnonce=\"" + cnonce + "\", response=\"" + response + "\"";
    } else {
        value += ", response=\"" + Md5Hex(ha1 + ":" + challenge.nonce + ":" + ha2) + "\"";
    }
    if (!challenge.opaque.empty()) value += ", opaque=\"" + challenge.opaque + "\"";
    value += ", algorithm=MD5";
    return value;
}

std::string RandomBytes(size_t n) {
    std::string bytes(n, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(n)) != 1) {
        // No entropy to be had: a nonce only needs to differ between uses.
        static std::atomic<unsigned> counter{0};
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(counter++ * 131u + i);
    }
    return bytes;
}

}  // namespace playersdk::net
