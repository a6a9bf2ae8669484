#include "net/RecorderClient.h"

#include <httplib.h>

#include <cstdio>
#include <cstring>

namespace playersdk::net {

bool MakeLogin(const char* address, uint16_t port, const char* user, const char* password,
               RecorderLogin& login) {
    if (address == nullptr || address[0] == '\0' || port == 0) return false;
    login.host = address;
    login.port = port;
    login.user = user != nullptr ? user : "";
    login.password = password != nullptr ? password : "";
    return true;
}

std::unique_ptr<httplib::Client> MakeClient(const RecorderLogin& login,
                                            std::chrono::milliseconds connect,
                                            std::chrono::milliseconds read) {
    auto client = std::make_unique<httplib::Client>(login.host, login.port);
    client->set_basic_auth(login.user.c_str(), login.password.c_str());
    client->set_connection_timeout(connect.count() / 1000, (connect.count() % 1000) * 1000);
    client->set_read_timeout(read.count() / 1000, (read.count() % 1000) * 1000);
    client->set_write_timeout(read.count() / 1000, (read.count() % 1000) * 1000);
    client->set_keep_alive(false);
    client->set_tcp_nodelay(true);
    return client;
}

std::string RecordingPath(const char* kind, const std::string& name) {
    static const char* hex = "0123456789ABCDEF";
    std::string path = std::string("/") + kind + "/";
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            path += static_cast<char>(c);
        } else {
            path += '%';
            path += hex[c >> 4];
            path += hex[c & 15];
        }
    }
    return path;
}

LoginCheck CheckLogin(const RecorderLogin& login, std::chrono::milliseconds budget) {
    auto client = MakeClient(login, budget / 2, budget / 2);
    const auto res = client->Get("/api/login");
    if (!res) return LoginCheck::Unreachable;
    if (res->status == 200) return LoginCheck::Accepted;
    return res->status == 401 ? LoginCheck::Refused : LoginCheck::Unreachable;
}

namespace {

// A date-time of the calendar: no 13th month, 30th of February or hour 99.
bool IsDateTime(const NetTime& t) {
    static const uint8_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 ||
        t.minute > 59 || t.second > 59)
        return false;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    return t.day <= days[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
}

}  // namespace

bool FormatNetTime(const NetTime& t, std::string& compact) {
    if (!IsDateTime(t)) return false;
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    compact = text;
    return true;
}

bool ParseNetTime(const std::string& compact, NetTime& t) {
    if (compact.size() != 14) return false;
    for (char c : compact)
        if (c < '0' || c > '9') return false;
    auto field = [&](size_t at, size_t len) {
        unsigned v = 0;
        for (size_t i = at; i < at + len; ++i) v = v * 10 + static_cast<unsigned>(compact[i] - '0');
        return v;
    };
    std::memset(&t, 0, sizeof t);
    t.year = field(0, 4);
    t.month = static_cast<uint8_t>(field(4, 2));
    t.day = static_cast<uint8_t>(field(6, 2));
    t.hour = static_cast<uint8_t>(field(8, 2));
    t.minute = static_cast<uint8_t>(field(10, 2));
    t.second = static_cast<uint8_t>(field(12, 2));
    return IsDateTime(t);
}

}  // namespace playersdk::net
