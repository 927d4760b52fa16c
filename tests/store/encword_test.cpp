// Encoded header words and character sets: data cases of header values, the
// list records of retrieved items, and the decoded reply fields.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace fs = std::filesystem;

namespace {

// The values of a case file: a line starting with a blank continues the
// previous value (a folded header), joined with its CR LF.
std::vector<std::string> caseValues(const std::string& data) {
    std::vector<std::string> values;
    std::istringstream in(data);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if ((line[0] == ' ' || line[0] == '\t') && !values.empty()) values.back() += "\r\n" + line;
        else values.push_back(line);
    }
    return values;
}

std::vector<std::string> expectedLines(const std::string& data) {
    std::vector<std::string> lines;
    std::istringstream in(data);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string fileItem(const std::string& header) {
    mkdir("in", 0777);
    writeFile("in/N0000001.omh", header);
    EXPECT_EQ(AppendToList("in\\N0000001.omh", "in\\N0000001.omb", "in\\n.lst", "in\\n.cnt", 'U'), 1);
    return readFile("in/n.lst");
}

}  // namespace

// tests/data/encword/<case>.hdr holds header values decoded as text,
// <case>.addr values decoded as addresses; <case>.expected one line each.
TEST(EncodedWords, DataCases) {
    const fs::path data = fs::path(OMAIL_TEST_DATA) / "encword";
    int cases = 0;
    for (const auto& entry : fs::directory_iterator(data)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".hdr" && ext != ".addr") continue;
        fs::path expectedPath = entry.path();
        expectedPath.replace_extension(".expected");
        const std::vector<std::string> values = caseValues(readFile(entry.path().string()));
        const std::vector<std::string> expected = expectedLines(readFile(expectedPath.string()));
        ASSERT_EQ(values.size(), expected.size()) << entry.path().filename();
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::string out;
            if (ext == ".addr") DecodeAddressValue(values[i], out);
            else DecodeHeaderValue(values[i], out);
            EXPECT_EQ(out, expected[i]) << entry.path().filename() << " value " << i + 1;
        }
        ++cases;
    }
    EXPECT_GE(cases, 4);
}

TEST(EncodedWords, PlainValuesAreUnchanged) {
    std::string out;
    EXPECT_EQ(DecodeHeaderValue("Re: plain =? text ?=", out), 0);
    EXPECT_EQ(out, "Re: plain =? text ?=");
    EXPECT_EQ(DecodeHeaderValue("=?utf-8?q?x?=", out), 1);
    EXPECT_EQ(out, "x");
}

TEST(Charsets, ConvertAndFallBack) {
    std::string out;
    EXPECT_EQ(ConvertToUtf8("\xe4\xf6\xfc", "ISO-8859-15", out), 1);
    EXPECT_EQ(out, "äöü");
    EXPECT_EQ(ConvertToUtf8("\xc1\xc2", "koi8-r", out), 1);
    EXPECT_EQ(out, "аб");
    // Unknown and hostile names: every byte kept, as Latin-1.
    EXPECT_EQ(ConvertToUtf8("a\xe9", "x-no-such-set", out), 0);
    EXPECT_EQ(out, "aé");
    EXPECT_EQ(ConvertToUtf8("a\xe9", "UTF-8//IGNORE", out), 0);
    EXPECT_EQ(out, "aé");
    // Invalid bytes inside a known set are marked, not dropped.
    EXPECT_EQ(ConvertToUtf8("a\xff" "b", "utf-8", out), 1);
    EXPECT_EQ(out, "a\xEF\xBF\xBD" "b");
    // Stateful sets come back to their initial state.
    EXPECT_EQ(ConvertToUtf8("\x1b$B$3$s\x1b(B!", "iso-2022-jp", out), 1);
    EXPECT_EQ(out, "こん!");
}

TEST(ListRecords, EncodedHeadersAreDecoded) {
    TempDir dir(true);
    const std::string list = fileItem(
        "+OK\r\n"
        "From: =?utf-8?q?Doe=2C_John?= <john@example.com>\r\n"
        "To: =?iso-8859-7?b?0OHz9A==?= <r@example.com>, second@example.com\r\n"
        "Subject: =?utf-8?b?zprOsc67zrfOvM6tz4HOsQ==?=\r\n"
        "  =?utf-8?b?IM66z4zPg868zrU=?=\r\n"
        "Date: Sat, 6 Dec 1997 19:01:54 +0100\r\n"
        "Message-Id: <a@b>\r\n");
    EXPECT_EQ(list,
              "N0000001.omh\r\nU\r\nDoe, John\r\nΠαστ\r\nΚαλημέρα κόσμε\r\n06 Dec 97\r\n"
              "971206190154\r\n-\r\n<a@b>\r\n");
}

TEST(ListRecords, UndeclaredBytesAndControlBytes) {
    TempDir dir(true);
    const std::string list = fileItem(
        "+OK\r\nFrom: J\xf6rg <j@x>\r\nSubject: =?utf-8?q?two=0D=0Alines?=\r\n");
    EXPECT_EQ(list, "N0000001.omh\r\nU\r\nJörg\r\n\r\ntwo  lines\r\n00 ??? 00\r\n000000000000\r\n-\r\n\r\n");
}

TEST(ListRecords, LongDecodedSubjectIsCutAtACharacter) {
    TempDir dir(true);
    // 150 copies of "é", two bytes each: 300 bytes decoded.
    std::string text;
    for (int i = 0; i < 150; ++i) text += "é";
    std::string raw = "+OK\r\nSubject: =?utf-8?q?";
    for (unsigned char c : text) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "=%02X", c);
        raw += hex;
    }
    raw += "?=\r\n";
    const std::string list = fileItem(raw);
    std::istringstream record(list);
    std::string subject;
    for (int line = 0; line < 5; ++line) std::getline(record, subject);
    subject.pop_back();  // the CR
    EXPECT_EQ(subject.size(), 254u);  // 127 whole characters, not 255 bytes with half of one
}

TEST(ReplyFields, DecodedVariantLeavesRawOneAlone) {
    TempDir dir(true);
    writeFile("N0000001.omh",
              "+OK\r\nFrom: =?utf-8?q?Doe=2C_John?= <john@example.com>\r\n"
              "To: =?utf-8?q?R=C3=A9mi?= <r@x>, other@x\r\n"
              "Cc: =?utf-8?q?A=C3=A9?= <a@x>,\r\n =?utf-8?q?B=C3=A9?= <b@x>\r\n"
              "Subject: =?utf-8?q?R=C3=A9sum=C3=A9?=\r\nDate: 6 Dec 1997 10:00:00\r\n");
    std::string from, to, subject, cc, replyTo, date, id;
    GetHeaderFieldsDecoded("N0000001.omb", from, to, subject, cc, replyTo, date, id, 256, 0);
    EXPECT_EQ(from, "\"Doe, John\" <john@example.com>");
    EXPECT_EQ(to, "Rémi <r@x>");
    EXPECT_EQ(subject, "Re: Résumé");
    EXPECT_EQ(cc, "Aé <a@x>, Bé <b@x>");
    EXPECT_EQ(replyTo, "Doe, John");
    EXPECT_EQ(date, "06 Dec 97");
    GetHeaderFields("N0000001.omb", from, to, subject, cc, replyTo, date, id, 256, 0);
    EXPECT_EQ(subject, "Re: =?utf-8?q?R=C3=A9sum=C3=A9?=");
    std::string path = "N0000001.omb", name, address;
    EXPECT_EQ(GetAuthorDecoded(path, name, address), 1);
    EXPECT_EQ(name, "Doe, John");
    EXPECT_EQ(address, "john@example.com");
}

TEST(ViewHeader, DecodedBlockRawCopy) {
    TempDir dir(true);
    writeFile("N0000001.omh",
              "+OK\r\nFrom: =?utf-8?q?J=C3=B6rg?= <j@x>\r\nTo: =?utf-8?b?zpHOvc69zrE=?= <a@x>\r\n"
              "Subject: =?iso-8859-1?q?Gr=FC=DFe?=\r\nDate: 6 Dec 1997 10:00:00\r\n");
    std::string out;
    ASSERT_EQ(MakeViewHeaderDecoded("N0000001.omh", out, 0), 1);
    EXPECT_EQ(readFile(out), "recipient: Αννα\r\nauthor: Jörg\r\nsubject: Grüße\r\ndate: 06 Dec 97\r\n");
    ASSERT_EQ(MakeViewHeaderDecoded("N0000001.omh", out, 1), 1);
    const std::string full = readFile(out);
    EXPECT_EQ(full.substr(0, full.find("\r\n")), "recipient: Αννα");
    EXPECT_NE(full.find("\r\n\r\n\r\nFrom: =?utf-8?q?J=C3=B6rg?= <j@x>\r\n"), std::string::npos);
    ASSERT_EQ(MakeViewHeader("N0000001.omh", out, 0), 1);
    EXPECT_NE(readFile(out).find("subject: =?iso-8859-1?q?Gr=FC=DFe?=\r\n"), std::string::npos);
}

TEST(EncodedWords, EncodeForOutgoingHeadersRoundTrips) {
    const std::string greek = "Re: Καλημέρα κόσμε, μια πολύ μεγάλη γραμμή θέματος που δεν χωράει σε μία λέξη";
    for (const std::string& text : {greek, std::string("plain =?not a word?= text"), std::string("Grüße")}) {
        std::string encoded, decoded;
        EXPECT_EQ(EncodeHeaderValue(text, encoded), 1) << text;
        EXPECT_FALSE(encoded.find_first_of("\r\n") != std::string::npos);
        for (unsigned char c : encoded) EXPECT_LT(c, 0x80) << encoded;
        std::istringstream words(encoded);
        for (std::string w; words >> w;) EXPECT_LE(w.size(), 75u) << w;
        DecodeHeaderValue(encoded, decoded);
        EXPECT_EQ(decoded, text);
    }
    std::string out;
    EXPECT_EQ(EncodeHeaderValue("Re: plain", out), 0);
    EXPECT_EQ(out, "Re: plain");
    ASSERT_EQ(EncodeAddressValue("\"Doe, Jörg\" <j@x>, Ånna Öst <a@x>", out), 1);
    EXPECT_EQ(out.find("<j@x>, "), out.find("<j@x>"));  // the addresses are left alone
    std::string decoded;
    DecodeAddressValue(out, decoded);
    EXPECT_EQ(decoded, "\"Doe, Jörg\" <j@x>, Ånna Öst <a@x>");
}
