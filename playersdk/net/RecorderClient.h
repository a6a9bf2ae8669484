// How the library reaches the recorder: HTTP/1.1 with Basic authentication.
// The recorder's calls (see recorder/RecorderServer.h):
//   GET /api/login, GET /api/search?..., GET /recordings/NAME, GET /stream/NAME
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "player/PlayerSdk.h"

namespace httplib {
class Client;
}

namespace playersdk::net {

struct RecorderLogin {
    std::string host;
    uint16_t port = 0;
    std::string user;
    std::string password;
};

// Checks the arguments every Net* call shares; false when one is missing or
// unusable (no address, port 0, no name).
bool MakeLogin(const char* address, uint16_t port, const char* user, const char* password,
               RecorderLogin& login);

// A client for one recorder. Connecting may take up to `connect`; a reply
// (or the next piece of one) up to `read`.
std::unique_ptr<httplib::Client> MakeClient(const RecorderLogin& login,
                                            std::chrono::milliseconds connect,
                                            std::chrono::milliseconds read);

// The path of a recording, its name percent-encoded as one path segment.
std::string RecordingPath(const char* kind, const std::string& name);

enum class LoginCheck { Accepted, Refused, Unreachable };
// Asks the recorder whether it accepts the login, within about `budget`.
LoginCheck CheckLogin(const RecorderLogin& login, std::chrono::milliseconds budget);

// NetTime <-> "YYYYMMDDHHMMSS"; false for fields that make no date-time.
bool FormatNetTime(const NetTime& time, std::string& compact);
bool ParseNetTime(const std::string& compact, NetTime& time);

}  // namespace playersdk::net
