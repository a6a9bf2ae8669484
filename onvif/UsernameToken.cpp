#include "UsernameToken.h"

#include <openssl/sha.h>

#include <cstdint>

namespace onvif {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string PasswordDigest(std::string_view nonce_raw, std::string_view created, std::string_view password) {
    std::string joined;
    joined.reserve(nonce_raw.size() + created.size() + password.size());
    joined.append(nonce_raw).append(created).append(password);
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), digest);
    return Base64Encode(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (n > 1) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (n > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += n > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        out += n > 2 ? kAlphabet[group & 63] : '=';
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    std::string symbols;
    symbols.reserve(text.size());
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') symbols += c;
    if (symbols.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(symbols.size() / 4 * 3);
    for (size_t i = 0; i < symbols.size(); i += 4) {
        const bool last = i + 4 == symbols.size();
        const int padding = (symbols[i + 3] == '=') + (symbols[i + 2] == '=');
        if (padding > 0 && (!last || (padding == 1 && symbols[i + 2] == '='))) return std::nullopt;
        uint32_t group = 0;
        for (int k = 0; k < 4 - padding; ++k) {
            const int v = Base64Value(symbols[i + static_cast<size_t>(k)]);
            if (v < 0) return std::nullopt;
            group |= static_cast<uint32_t>(v) << (18 - 6 * k);
        }
        out += static_cast<char>((group >> 16) & 0xFF);
        if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
        if (padding < 1) out += static_cast<char>(group & 0xFF);
    }
    return out;
}

}  // namespace onvif
