#include "Soap.h"

#include <utility>

namespace onvif {

std::string Envelope(std::string_view header_xml, std::string_view body_xml) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<s:Envelope";
    const std::pair<std::string_view, std::string_view> prefixes[] = {
        {"s", kNsSoap},      {"tds", kNsDevice}, {"tse", kNsSearch}, {"trp", kNsReplay},
        {"trc", kNsRecording}, {"tt", kNsSchema}, {"wsse", kNsWsse}, {"wsu", kNsWsu}};
    for (const auto& [prefix, uri] : prefixes) out.append(" xmlns:").append(prefix).append("=\"").append(uri) += '"';
    out += '>';
    if (!header_xml.empty()) out.append("<s:Header>").append(header_xml).append("</s:Header>");
    out.append("<s:Body>").append(body_xml).append("</s:Body></s:Envelope>");
    return out;
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace onvif
