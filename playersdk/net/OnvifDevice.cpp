#include "net/OnvifDevice.h"

#include <httplib.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "HttpText.h"
#include "OnvifTime.h"
#include "Soap.h"
#include "UsernameToken.h"
#include "net/DigestAuth.h"

namespace playersdk::net {
namespace {

constexpr const char* kDeviceServicePath = "/onvif/device_service";
constexpr const char* kSoapContentType = "application/soap+xml; charset=utf-8";

struct KnownRecorder {
    RecorderProtocol protocol;
    int64_t clock_offset_ms;  // device clock minus ours
};

std::mutex& KnownMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<std::string, KnownRecorder>& Known() {
    static std::map<std::string, KnownRecorder> known;
    return known;
}

std::string KeyOf(const std::string& host, uint16_t port) { return host + ":" + std::to_string(port); }

int64_t NowUtcMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<httplib::Client> SoapClient(const RecorderLogin& login, std::chrono::milliseconds timeout) {
    auto client = std::make_unique<httplib::Client>(login.host, login.port);
    const auto s = timeout.count() / 1000, us = (timeout.count() % 1000) * 1000;
    client->set_connection_timeout(s, us);
    client->set_read_timeout(s, us);
    client->set_write_timeout(s, us);
    client->set_keep_alive(false);
    return client;
}

// A SOAP answer longer than this, or still coming after the call's timeout,
// is not taken.
constexpr size_t kMaxAnswerBytes = 8 * 1024 * 1024;

struct PostAnswer {
    bool answered = false;  // a whole answer within the bounds
    int status = 0;
    std::string body;
    std::string challenge;  // WWW-Authenticate
};

PostAnswer PostSoap(httplib::Client& client, const std::string& path, const std::string& message,
                    const std::string& authorization, std::chrono::milliseconds timeout) {
    httplib::Request req;
    req.method = "POST";
    req.path = path;
    req.body = message;
    req.set_header("Content-Type", kSoapContentType);
    if (!authorization.empty()) req.set_header("Authorization", authorization);
    PostAnswer answer;
    bool within = true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    req.content_receiver = [&](const char* data, size_t size, uint64_t, uint64_t) {
        within = answer.body.size() + size <= kMaxAnswerBytes && std::chrono::steady_clock::now() < deadline;
        if (within) answer.body.append(data, size);
        return within;
    };
    httplib::Response res;
    httplib::Error error = httplib::Error::Success;
    const bool sent = client.send(req, res, error);
    answer.answered = sent && within;
    answer.status = res.status;
    answer.challenge = res.get_header_value("WWW-Authenticate");
    return answer;
}

// The answer's first Body element; empty when the text is no SOAP envelope.
pugi::xml_node BodyOf(pugi::xml_document& doc, const std::string& text) {
    if (!doc.load_buffer(text.data(), text.size())) return {};
    return Child(Child(Child(doc, "Envelope"), "Body"), "");
}

// The device's UTC clock from a GetSystemDateAndTime answer.
std::optional<int64_t> DeviceUtcMs(const pugi::xml_node& response) {
    const pugi::xml_node utc = Descendant(response, "UTCDateTime");
    const pugi::xml_node date = Child(utc, "Date"), time = Child(utc, "Time");
    if (!date || !time) return std::nullopt;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", Child(date, "Year").text().as_int(),
                  Child(date, "Month").text().as_int(), Child(date, "Day").text().as_int(),
                  Child(time, "Hour").text().as_int(), Child(time, "Minute").text().as_int(),
                  Child(time, "Second").text().as_int());
    const auto seconds = onvif::ParseXsDateTime(text);
    if (!seconds) return std::nullopt;
    return *seconds * 1000;
}

// A fault whose code says the sender was not authorised.
bool IsNotAuthorized(const pugi::xml_node& fault) {
    return fault.find_node([](const pugi::xml_node& n) {
        return n.type() == pugi::node_pcdata && std::string_view(n.value()).find("NotAuthorized") != std::string_view::npos;
    });
}

std::string PathOf(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? "/" : url.substr(slash);
}

}  // namespace

std::string_view LocalName(const pugi::xml_node& node) {
    const std::string_view name = node.name();
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node Child(const pugi::xml_node& node, std::string_view local_name) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && (local_name.empty() || LocalName(child) == local_name))
            return child;
    return {};
}

pugi::xml_node Descendant(const pugi::xml_node& node, std::string_view local_name) {
    return node.find_node([&](const pugi::xml_node& n) {
        return n.type() == pugi::node_element && LocalName(n) == local_name;
    });
}

RecorderProtocol ProtocolOf(const RecorderLogin& login, std::chrono::milliseconds budget) {
    const std::string key = KeyOf(login.host, login.port);
    {
        std::lock_guard lock(KnownMutex());
        const auto it = Known().find(key);
        if (it != Known().end()) return it->second.protocol;
    }
    auto client = SoapClient(login, budget);
    const int64_t asked_at = NowUtcMs();
    const PostAnswer answer =
        PostSoap(*client, kDeviceServicePath, onvif::Envelope("", "<tds:GetSystemDateAndTime/>"), "", budget);
    if (answer.status == 0) return RecorderProtocol::Unreachable;
    KnownRecorder known{RecorderProtocol::Ours, 0};
    pugi::xml_document doc;
    const pugi::xml_node response = answer.answered ? BodyOf(doc, answer.body) : pugi::xml_node();
    if (response) {
        known.protocol = RecorderProtocol::Onvif;
        if (const auto device_ms = DeviceUtcMs(response))
            known.clock_offset_ms = *device_ms - (asked_at + NowUtcMs()) / 2;
    }
    std::lock_guard lock(KnownMutex());
    Known().emplace(key, known);
    return known.protocol;
}

std::optional<RecorderLogin> ConfiguredLogin(const std::string& host, uint16_t port) {
    std::string path;
    if (const char* named = std::getenv("VARNEL_ONVIF_LOGINS"); named != nullptr && named[0] != '\0') {
        path = named;
    } else if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] != '\0') {
        path = std::string(config) + "/varnel/onvif-logins";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        path = std::string(home) + "/.config/varnel/onvif-logins";
    } else {
        return std::nullopt;
    }
    std::ifstream file(path);
    std::string line;
    const std::string with_port = KeyOf(host, port);
    std::optional<RecorderLogin> any_port;
    while (std::getline(file, line)) {
        const size_t hash = line.find('#');
        std::istringstream words(line.substr(0, hash));
        std::string address, user, password;
        if (!(words >> address >> user)) continue;
        words >> password;
        RecorderLogin login{host, port, user, password};
        if (address == with_port) return login;
        if (address == host && !any_port) any_port = login;
    }
    return any_port;
}

OnvifDevice::OnvifDevice(RecorderLogin login) : login_(std::move(login)) {}

OnvifDevice::~OnvifDevice() = default;

RecorderLogin OnvifDevice::Login() const {
    std::lock_guard lock(mutex_);
    return login_;
}

void OnvifDevice::Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (client_ != nullptr) client_->stop();
}

std::string OnvifDevice::SecurityHeader(const RecorderLogin& login) const {
    int64_t offset_ms = 0;
    {
        std::lock_guard lock(KnownMutex());
        const auto it = Known().find(KeyOf(login.host, login.port));
        if (it != Known().end()) offset_ms = it->second.clock_offset_ms;
    }
    const std::string nonce = RandomBytes(16);
    const std::string created = onvif::FormatXsDateTime((NowUtcMs() + offset_ms) / 1000);
    return "<wsse:Security s:mustUnderstand=\"1\"><wsse:UsernameToken><wsse:Username>" +
           onvif::XmlEscape(login.user) +
           "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
           onvif::PasswordDigest(nonce, created, login.password) +
           "</wsse:Password><wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
           onvif::Base64Encode(nonce) + "</wsse:Nonce><wsu:Created>" + created +
           "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

SoapResult OnvifDevice::CallAs(const RecorderLogin& login, const std::string& path, const std::string& body,
                               pugi::xml_document& answer, pugi::xml_node& response,
                               std::chrono::milliseconds timeout) {
    auto client = SoapClient(login, timeout);
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return SoapResult::Stopped;
        client_ = client.get();
    }
    PostAnswer res = PostSoap(*client, path, onvif::Envelope(SecurityHeader(login), body), "", timeout);
    // A device that also wants HTTP Digest says so in its challenge.
    if (res.status == 401) {
        if (const auto challenge = ParseDigestChallenge(res.challenge)) {
            res = PostSoap(*client, path, onvif::Envelope(SecurityHeader(login), body),
                           DigestAuthorization(*challenge, login.user, login.password, "POST", path), timeout);
        }
    }
    {
        std::lock_guard lock(mutex_);
        client_ = nullptr;
        if (cancelled_) return SoapResult::Stopped;
    }
    if (res.status == 401 || res.status == 403) return SoapResult::Refused;
    if (!res.answered) return SoapResult::Failed;
    response = BodyOf(answer, res.body);
    if (!response) return SoapResult::Failed;
    if (LocalName(response) == "Fault") return IsNotAuthorized(response) ? SoapResult::Refused : SoapResult::Failed;
    return res.status == 200 ? SoapResult::Ok : SoapResult::Failed;
}

SoapResult OnvifDevice::Call(const std::string& path, const std::string& body, pugi::xml_document& answer,
                             pugi::xml_node& response, std::chrono::milliseconds timeout) {
    const RecorderLogin login = Login();
    const SoapResult result = CallAs(login, path, body, answer, response, timeout);
    if (result != SoapResult::Refused) return result;
    bool switched;
    {
        std::lock_guard lock(mutex_);
        switched = switched_;
    }
    if (switched) return result;
    const auto configured = ConfiguredLogin(login.host, login.port);
    if (!configured || (configured->user == login.user && configured->password == login.password)) return result;
    const SoapResult retried = CallAs(*configured, path, body, answer, response, timeout);
    if (retried != SoapResult::Refused) {
        std::lock_guard lock(mutex_);
        login_ = *configured;
        switched_ = true;
    }
    return retried;
}

SoapResult OnvifDevice::FindServices(std::chrono::milliseconds timeout) {
    pugi::xml_document doc;
    pugi::xml_node response;
    const SoapResult result =
        Call(kDeviceServicePath, "<tds:GetServices><tds:IncludeCapability>false</tds:IncludeCapability></tds:GetServices>",
             doc, response, timeout);
    if (result != SoapResult::Ok) return result;
    for (pugi::xml_node service = Child(response, "Service"); service; service = service.next_sibling()) {
        if (LocalName(service) != "Service") continue;
        const std::string_view ns = Child(service, "Namespace").text().get();
        const std::string path = PathOf(Child(service, "XAddr").text().get());
        if (ns == onvif::kNsSearch) search_path_ = path;
        if (ns == onvif::kNsReplay) replay_path_ = path;
    }
    return search_path_.empty() && replay_path_.empty() ? SoapResult::Failed : SoapResult::Ok;
}

}  // namespace playersdk::net
