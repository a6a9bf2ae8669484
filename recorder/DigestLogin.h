// The recorder's login as RTSP and HTTP clients give it: HTTP Digest (MD5,
// with or without qop=auth) answering a nonce of ours, or Basic.
#pragma once

#include <string>
#include <string_view>

namespace recorder {

class DigestLogin {
public:
    DigestLogin(std::string user, std::string password, std::string realm);

    // A WWW-Authenticate value with a fresh nonce.
    std::string challenge() const;
    // True when `authorization` (the header's value) carries the login for a
    // request of `method`.
    bool accepts(std::string_view method, std::string_view authorization) const;
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }

private:
    // A nonce is random bytes and their signature with our secret, so that
    // no list of issued nonces is kept.
    std::string sign(std::string_view random) const;
    bool acceptsDigest(std::string_view method, std::string_view params) const;

    std::string user_;
    std::string password_;
    std::string realm_;
    std::string secret_;
};

std::string md5Hex(std::string_view text);

}  // namespace recorder
