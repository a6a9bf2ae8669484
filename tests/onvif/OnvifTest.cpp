#include "OnvifTime.h"
#include "Soap.h"
#include "UsernameToken.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

namespace {

// 2023-11-14T22:13:20Z, as `date -u -d @1700000000` prints it.
constexpr int64_t kAnchor = 1700000000;

TEST(OnvifTime, ParsesEveryZoneForm) {
    EXPECT_EQ(onvif::ParseXsDateTime("2023-11-14T22:13:20Z"), kAnchor);
    EXPECT_EQ(onvif::ParseXsDateTime("2023-11-14T22:13:20"), kAnchor);
    EXPECT_EQ(onvif::ParseXsDateTime("2023-11-14T22:13:20.999Z"), kAnchor);
    EXPECT_EQ(onvif::ParseXsDateTime("2023-11-14T23:43:20+01:30"), kAnchor);
    EXPECT_EQ(onvif::ParseXsDateTime("2023-11-14T17:13:20.5-05:00"), kAnchor);
    EXPECT_EQ(onvif::ParseXsDateTime("2024-02-29T00:00:00Z"), 1709164800);
}

TEST(OnvifTime, RejectsWhatIsNotATime) {
    for (const char* text : {"", "2023-11-14", "2023-11-14 22:13:20Z", "2023-13-01T00:00:00Z", "2023-02-29T00:00:00Z",
                             "2023-11-14T24:00:00Z", "2023-11-14T22:13:20.Z", "2023-11-14T22:13:20Zjunk",
                             "2023-11-14T22:13:20+0100", "20231114T221320Z"})
        EXPECT_FALSE(onvif::ParseXsDateTime(text)) << text;
}

TEST(OnvifTime, FormatsWhatItParses) {
    EXPECT_EQ(onvif::FormatXsDateTime(kAnchor), "2023-11-14T22:13:20Z");
    EXPECT_EQ(onvif::FormatXsDateTime(0), "1970-01-01T00:00:00Z");
    for (int64_t t : {int64_t{951782400}, int64_t{4102444799}, kAnchor + 86399})
        EXPECT_EQ(onvif::ParseXsDateTime(onvif::FormatXsDateTime(t)), t);
}

TEST(OnvifTime, RtspClockKeepsMilliseconds) {
    EXPECT_EQ(onvif::FormatRtspClock(kAnchor * 1000 + 250), "20231114T221320.250Z");
    EXPECT_EQ(onvif::ParseRtspClock("20231114T221320.250Z"), kAnchor * 1000 + 250);
    EXPECT_EQ(onvif::ParseRtspClock("20231114T221320.25"), kAnchor * 1000 + 250);
    EXPECT_EQ(onvif::ParseRtspClock("20231114T221320Z"), kAnchor * 1000);
    EXPECT_FALSE(onvif::ParseRtspClock("2023-11-14T22:13:20Z"));
    EXPECT_FALSE(onvif::ParseRtspClock("20231114T221320.250Z-"));
}

// The nonce and time of the WS-Security UsernameToken profile's example; the
// digest as `openssl sha1 -binary | base64` makes it.
TEST(UsernameToken, DigestOfNonceCreatedAndPassword) {
    const auto nonce = onvif::Base64Decode("LKqI6G/AikKCQrN0zqZFuIS3wJA=");
    ASSERT_TRUE(nonce);
    EXPECT_EQ(nonce->size(), 20u);
    EXPECT_EQ(onvif::PasswordDigest(*nonce, "2003-07-16T01:24:32Z", "password"), "Pr2LaPazkCOpnp1LOurl0oFoK5I=");
}

TEST(UsernameToken, Base64RoundTripsEveryPaddingAndRejectsTheRest) {
    const std::string bytes("\x00\xff\x10 a\xfe", 6);
    for (size_t n = 0; n <= bytes.size(); ++n) {
        const std::string part = bytes.substr(0, n);
        EXPECT_EQ(onvif::Base64Decode(onvif::Base64Encode(part)), part) << n;
    }
    EXPECT_EQ(onvif::Base64Encode("ab"), "YWI=");
    EXPECT_EQ(onvif::Base64Decode("YW\nI="), "ab");
    for (const char* text : {"YWI", "YW=I", "YWI=YWI=", "YW*=", "Y==="}) EXPECT_FALSE(onvif::Base64Decode(text)) << text;
}

TEST(Soap, EnvelopeDeclaresThePrefixesAndEscapesText) {
    const std::string odd = "a<b>&\"c'";
    const std::string message = onvif::Envelope(
        "<wsse:Security/>", "<tse:GetRecordingSummary><tt:Name a=\"" + onvif::XmlEscape(odd) + "\">" +
                                onvif::XmlEscape(odd) + "</tt:Name></tse:GetRecordingSummary>");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(message.c_str())) << message;
    const pugi::xml_node envelope = doc.child("s:Envelope");
    EXPECT_EQ(std::string_view(envelope.attribute("xmlns:tt").value()), onvif::kNsSchema);
    EXPECT_EQ(std::string_view(envelope.attribute("xmlns:wsse").value()), onvif::kNsWsse);
    EXPECT_TRUE(envelope.child("s:Header").child("wsse:Security"));
    const pugi::xml_node name = envelope.child("s:Body").child("tse:GetRecordingSummary").child("tt:Name");
    EXPECT_EQ(name.text().get(), odd);
    EXPECT_EQ(name.attribute("a").value(), odd);

    pugi::xml_document bare;
    ASSERT_TRUE(bare.load_string(onvif::Envelope("", "<x/>").c_str()));
    EXPECT_FALSE(bare.child("s:Envelope").child("s:Header"));
    EXPECT_TRUE(bare.child("s:Envelope").child("s:Body").child("x"));
}

}  // namespace
