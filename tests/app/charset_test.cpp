// Encoded words for header values outside ASCII, as the compose window
// writes them: what decoders read back is what was typed, no word is longer
// than 75 characters or splits a character, and ASCII text is left exactly
// as it was.
#include "compose/charset.h"
#include "store/torvakit.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

std::string encodeText(std::string_view value) {
    std::string out;
    torvakit::EncodeHeaderValue(value, out);
    return out;
}
std::string encodeAddresses(std::string_view value) {
    std::string out;
    torvakit::EncodeAddressValue(value, out);
    return out;
}
std::string decodeWords(std::string_view value) {
    std::string out;
    torvakit::DecodeHeaderValue(value, out);
    return out;
}

void expectShortWords(const std::string& encoded) {
    std::istringstream words(encoded);
    for (std::string word; words >> word;) EXPECT_LE(word.size(), compose::kMaxEncodedWord) << word;
}

TEST(Charset, TextRoundTripsThroughEncodedWords) {
    const std::string cases[] = {
        "plain ascii stays  as it is",
        "Grüße aus Köln",
        "ascii first then Ünïcödé words and ascii again",
        std::string(30, 'x') + " " + [] {
            std::string s;
            for (int i = 0; i < 40; ++i) s += "é€";  // 2- and 3-byte characters across word limits
            return s;
        }(),
        "two  spaces between Ä  Ö words",
    };
    for (const std::string& text : cases) {
        const std::string encoded = encodeText(text);
        EXPECT_TRUE(compose::isAscii(encoded)) << encoded;
        EXPECT_EQ(decodeWords(encoded), text) << encoded;
        expectShortWords(encoded);
    }
    EXPECT_EQ(encodeText("no change (0/3)"), "no change (0/3)");
    // The part label after an encoded name stays readable for the engine.
    EXPECT_EQ(encodeText("Ä.zip (1/3)").substr(encodeText("Ä.zip (1/3)").size() - 6), " (1/3)");
}

TEST(Charset, AddressesKeepTheirAddressesAndEncodeOnlyNames) {
    EXPECT_EQ(encodeAddresses("Ann <a@b.c>, d@e.f"), "Ann <a@b.c>, d@e.f");
    const std::string encoded = encodeAddresses("\"Zoë, the first\" <z@b.c>, Jürgen <j@b.c>,x@y.z");
    EXPECT_TRUE(compose::isAscii(encoded)) << encoded;
    EXPECT_NE(encoded.find(" <z@b.c>, "), std::string::npos) << encoded;
    EXPECT_NE(encoded.find(" <j@b.c>,x@y.z"), std::string::npos) << encoded;
    EXPECT_EQ(decodeWords(encoded), "Zoë, the first <z@b.c>, Jürgen <j@b.c>,x@y.z");
}

TEST(Charset, ForeignEncodedWordsAreDecoded) {
    EXPECT_EQ(decodeWords("=?ISO-8859-1?Q?Caf=E9_cr=E8me?= ok"), "Café crème ok");
    EXPECT_EQ(decodeWords("=?utf-8?b?w6k=?= =?utf-8?b?w6g=?="), "éè");
    EXPECT_EQ(decodeWords("=?x-unknown?Q?caf=E9?= stays"), "café stays");  // unknown: Latin-1, no byte lost
    EXPECT_EQ(decodeWords("=?broken"), "=?broken");
}

}  // namespace
