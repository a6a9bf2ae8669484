// SOAP 1.2 envelopes for the ONVIF services, with every namespace prefix the
// two sides write declared once on the envelope, so bodies use the prefixes.
#pragma once

#include <string>
#include <string_view>

namespace onvif {

inline constexpr std::string_view kNsSoap = "http://www.w3.org/2003/05/soap-envelope";            // s
inline constexpr std::string_view kNsDevice = "http://www.onvif.org/ver10/device/wsdl";           // tds
inline constexpr std::string_view kNsSearch = "http://www.onvif.org/ver10/search/wsdl";           // tse
inline constexpr std::string_view kNsReplay = "http://www.onvif.org/ver10/replay/wsdl";           // trp
inline constexpr std::string_view kNsRecording = "http://www.onvif.org/ver10/recording/wsdl";     // trc
inline constexpr std::string_view kNsSchema = "http://www.onvif.org/ver10/schema";                // tt
inline constexpr std::string_view kNsWsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";          // wsse
inline constexpr std::string_view kNsWsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";         // wsu

// A whole SOAP 1.2 message: the XML declaration, then an s:Envelope declaring
// s, tds, tse, trp, trc, tt, wsse and wsu, with an s:Header holding
// `header_xml` (left out when it is empty) and an s:Body holding `body_xml`.
std::string Envelope(std::string_view header_xml, std::string_view body_xml);

// Text safe inside an element or a quoted attribute: & < > " ' escaped.
std::string XmlEscape(std::string_view text);

}  // namespace onvif
