// The WS-Security UsernameToken password digest that ONVIF devices check,
// and the Base64 it is written in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace onvif {

// Base64(SHA1(nonce + created + password)), with the nonce as raw bytes (not
// its Base64 form) and `created` as the xs:dateTime text sent beside it.
std::string PasswordDigest(std::string_view nonce_raw, std::string_view created, std::string_view password);

// Standard Base64 with '=' padding.
std::string Base64Encode(std::string_view bytes);

// Nothing for text that is not padded standard Base64; blanks and line breaks
// between the characters are skipped, as XML text may wrap them.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace onvif
