// HTTP Digest authentication (MD5, with or without qop=auth) as ONVIF
// devices ask for it on SOAP and on RTSP alike: the answer to a challenge.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace playersdk::net {

struct DigestChallenge {
    std::string realm;
    std::string nonce;
    std::string opaque;
    bool qop_auth = false;
};

// The challenge in a WWW-Authenticate value ("Digest realm=..., nonce=...");
// nothing when it is not a Digest challenge with MD5 (or no algorithm).
std::optional<DigestChallenge> ParseDigestChallenge(std::string_view header);

// The Authorization value for `method` on `uri`. `count` numbers the uses of
// one challenge's nonce (1 for the first).
std::string DigestAuthorization(const DigestChallenge& challenge, std::string_view user,
                                std::string_view password, std::string_view method, std::string_view uri,
                                unsigned count = 1);

// `n` random bytes from OpenSSL.
std::string RandomBytes(size_t n);

}  // namespace playersdk::net
