// An ONVIF device reached over SOAP 1.2 on HTTP: which protocol a recorder
// speaks (asked once per address and port, kept for the process), and calls
// to its services signed with a WS-UsernameToken digest, answering an HTTP
// Digest challenge when the device sends one. A login the device refuses is
// replaced, once, by the one configured for that address (ConfiguredLogin).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "net/RecorderClient.h"

namespace httplib {
class Client;
}

namespace playersdk::net {

enum class RecorderProtocol { Ours, Onvif, Unreachable };

// Asks the recorder once whether it answers SOAP at /onvif/device_service;
// the answer (not Unreachable) is kept for the process.
RecorderProtocol ProtocolOf(const RecorderLogin& login, std::chrono::milliseconds budget);

// The login configured for a recorder: the file named by VARNEL_ONVIF_LOGINS,
// else $XDG_CONFIG_HOME/varnel/onvif-logins (~/.config/varnel/onvif-logins),
// with lines "HOST:PORT USER PASSWORD" or "HOST USER PASSWORD" ('#' starts a
// comment). Nothing when no line names the recorder.
std::optional<RecorderLogin> ConfiguredLogin(const std::string& host, uint16_t port);

// The element's name without its namespace prefix.
std::string_view LocalName(const pugi::xml_node& node);
// The first child, or the first element anywhere below, with that local name.
pugi::xml_node Child(const pugi::xml_node& node, std::string_view local_name);
pugi::xml_node Descendant(const pugi::xml_node& node, std::string_view local_name);

enum class SoapResult { Ok, Refused, Failed, Stopped };

class OnvifDevice {
public:
    explicit OnvifDevice(RecorderLogin login);
    ~OnvifDevice();
    OnvifDevice(const OnvifDevice&) = delete;
    OnvifDevice& operator=(const OnvifDevice&) = delete;

    // Sends `body` to the service at `path` and keeps the answer's first
    // Body element in `answer`. A SOAP fault is Failed, or Refused when it
    // or the HTTP status says the login was not accepted.
    SoapResult Call(const std::string& path, const std::string& body, pugi::xml_document& answer,
                    pugi::xml_node& response, std::chrono::milliseconds timeout);
    // Finds the search and replay services (GetServices); false when the
    // device lists neither or does not answer.
    SoapResult FindServices(std::chrono::milliseconds timeout);
    const std::string& SearchPath() const { return search_path_; }
    const std::string& ReplayPath() const { return replay_path_; }
    // The login in use (the configured one once the given one was refused).
    RecorderLogin Login() const;
    // Ends a call in progress on another thread and every later one.
    void Cancel();

private:
    SoapResult CallAs(const RecorderLogin& login, const std::string& path, const std::string& body,
                      pugi::xml_document& answer, pugi::xml_node& response, std::chrono::milliseconds timeout);
    std::string SecurityHeader(const RecorderLogin& login) const;

    mutable std::mutex mutex_;
    RecorderLogin login_;
    bool switched_ = false;  // to the configured login
    bool cancelled_ = false;
    httplib::Client* client_ = nullptr;  // the call in progress, for Cancel
    std::string search_path_;
    std::string replay_path_;
};

}  // namespace playersdk::net
