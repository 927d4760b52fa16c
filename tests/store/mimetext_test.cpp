// The readable text of items: data cases of MIME structures and character
// sets, and the decoding of the other parts by index.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace fs = std::filesystem;

namespace {

std::string describe(const std::string& text, const ReadableText& info) {
    std::string out = text + "=== html=" + std::to_string(info.html) + " charset=" + info.charset + "\n";
    for (const MimePart& p : info.parts)
        out += std::to_string(p.index) + " " + p.type + " " + std::to_string(p.size) + " " + p.name + "\n";
    return out;
}

void writeItem(const std::string& header, const std::string& body) {
    writeFile("N0000001.omh", "+OK\r\n" + header);
    writeFile("N0000001.omb", body);
}

}  // namespace

// tests/data/mimetext/<case>.omh and .omb are an item; <case>.expected its
// readable text followed by what MakeReadableText reported.
TEST(ReadableText, DataCases) {
    const fs::path data = fs::path(OMAIL_TEST_DATA) / "mimetext";
    TempDir dir(true);
    int cases = 0;
    for (const auto& entry : fs::directory_iterator(data)) {
        if (entry.path().extension() != ".omb") continue;
        fs::path base = entry.path();
        base.replace_extension();
        const std::string body = readFile(entry.path().string());
        ReadableText info;
        ASSERT_EQ(MakeReadableText(entry.path().string(), "text.out", info), 1) << base.filename();
        EXPECT_EQ(describe(readFile("text.out"), info), readFile(base.string() + ".expected"))
            << base.filename();
        EXPECT_EQ(readFile(entry.path().string()), body);  // the item is only read
        ++cases;
    }
    EXPECT_GE(cases, 15);
}

TEST(ReadableText, PartsDecodeByIndexIntoTheFolder) {
    TempDir dir(true);
    mkdir("DECODE", 0777);
    const fs::path nested = fs::path(OMAIL_TEST_DATA) / "mimetext" / "nested";
    writeFile("N0000001.omh", readFile(nested.string() + ".omh"));
    writeFile("N0000001.omb", readFile(nested.string() + ".omb"));
    std::string path;
    ASSERT_EQ(DecodeMimePart("N0000001.omb", 3, "DECODE/", path), 1);
    EXPECT_EQ(path, "DECODE/Έγγραφο.pdf");
    std::string pdf = "%PDF-1.4\n";
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 256; ++b) pdf += static_cast<char>(b);
    EXPECT_EQ(readFile(path), pdf);
    ASSERT_EQ(DecodeMimePart("N0000001.omh", 4, "DECODE/", path), 1);
    EXPECT_EQ(readFile(path), std::string("abc=\0", 5));
    EXPECT_NE(readFile("DECODE/decode.log").find(" : résumé.bin\r\n"), std::string::npos);
    EXPECT_EQ(DecodeMimePart("N0000001.omb", 99, "DECODE/", path), 0);
    EXPECT_EQ(DecodeMimePart("N0000009.omb", 0, "DECODE/", path), 0);
}

TEST(ReadableText, HostileNamesStayInTheFolder) {
    TempDir dir(true);
    mkdir("DECODE", 0777);
    writeItem("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n",
              "--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
              "--b\r\nContent-Type: application/x; name*=utf-8''..%2F..%2Fescape\r\n\r\nA\r\n"
              "--b\r\nContent-Type: application/x; name=\"=?utf-8?q?=2E=2E?=\"\r\n\r\nB\r\n--b--\r\n");
    ReadableText info;
    ASSERT_EQ(MakeReadableText("N0000001.omh", "text.out", info), 1);
    ASSERT_EQ(info.parts.size(), 2u);
    EXPECT_EQ(info.parts[0].name, "../../escape");  // shown as the sender wrote it
    std::string path;
    ASSERT_EQ(DecodeMimePart("N0000001.omb", info.parts[0].index, "DECODE/", path), 1);
    EXPECT_EQ(path, "DECODE/..$..$escape");
    ASSERT_EQ(DecodeMimePart("N0000001.omb", info.parts[1].index, "DECODE/", path), 1);
    EXPECT_EQ(path, "DECODE/$$");
    EXPECT_EQ(readFile(path), "B");
}

TEST(ReadableText, BoundaryLookalikesAndMissingBody) {
    TempDir dir(true);
    // A line that starts with the boundary but goes on is text; a missing
    // header file means a message without MIME headers.
    writeItem("Content-Type: multipart/mixed; boundary=\"xy\"\r\n",
              "--xy\r\n\r\nkeep\r\n--xyz not a delimiter\r\n--xy--\r\n");
    ReadableText info;
    ASSERT_EQ(MakeReadableText("N0000001.omb", "text.out", info), 1);
    EXPECT_EQ(readFile("text.out"), "keep\r\n--xyz not a delimiter\r\n");
    EXPECT_EQ(MakeReadableText("N0000002.omb", "text.out", info), 0);
    writeFile("N0000003.omb", "only a body\n");
    ASSERT_EQ(MakeReadableText("N0000003.omb", "text.out", info), 1);
    EXPECT_EQ(readFile("text.out"), "only a body\r\n");
}

// decodefile reads the same names: RFC 2231 sections over folded lines and
// encoded words in quoted names, still cleaned into the folder.
TEST(DecodedNames, Rfc2231AndEncodedWords) {
    TempDir dir(true);
    mkdir("DECODE", 0777);
    writeFile("N0000001.omb",
              "--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment;\r\n"
              " filename*0*=UTF-8''%CE%88%CE%B3;\r\n filename*1*=%CE%B3%CF%81.pdf;\r\n size=3\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\nYWJj\r\n"
              "--b\r\nContent-Type: text/plain; name=\"=?iso-8859-1?q?caf=E9=2Ftxt?=\"\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\nx=3Dy\r\n--b--\r\n");
    std::string names;
    EXPECT_EQ(decodefile("N0000001.omb", names, '>', "DECODE/"), 1);
    EXPECT_EQ(names, "DECODE/Έγγρ.pdf\r\nDECODE/café$txt\r\n");
    EXPECT_EQ(readFile("DECODE/Έγγρ.pdf"), "abc");
    EXPECT_EQ(readFile("DECODE/café$txt"), "x=y");  // the last break belongs to the boundary
}

// A reply quotes and a forward carries the readable text, not base64 lines.
TEST(ReadableText, QuotedAndForwarded) {
    TempDir dir(true);
    writeItem("Subject: x\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=koi8-r\r\n"
              "Content-Transfer-Encoding: base64\r\n",
              "8NLJ18XUDQrtydI=\r\n");
    ReadableText info;
    ASSERT_EQ(MakeReadableText("N0000001.omb", "VIEW.TXT", info), 1);
    std::string out;
    ASSERT_EQ(IndentFile("VIEW.TXT", out, '>'), 1);
    EXPECT_EQ(readFile(out), ">Привет\r\n>Мир\r\n");
    ASSERT_EQ(ForwardTextFile("N0000001.omb", "VIEW.TXT", out), 1);
    const std::string forward = readFile(out);
    EXPECT_NE(forward.find("original header:\r\n\r\nSubject: x\r\n"), std::string::npos);
    EXPECT_NE(forward.find("\r\noriginal message:\r\n\r\nПривет\r\nМир\r\n"), std::string::npos);
}

// What our own encoder writes reads back byte for byte.
TEST(ReadableText, OwnMimeEncodingReadsBack) {
    TempDir dir(true);
    mkdir("DECODE", 0777);
    std::string data;
    for (int i = 0; i < 5000; ++i) data += static_cast<char>((i * 7919) % 251);
    writeFile("photo.jpg", data);
    ASSERT_EQ(mimeencodefile("photo.jpg", "N0000001.omb", 42), 1);
    writeFile("N0000001.omh", "To: a@x\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"42\"\r\n");
    ReadableText info;
    ASSERT_EQ(MakeReadableText("N0000001.omb", "text.out", info), 1);
    ASSERT_EQ(info.parts.size(), 1u);
    EXPECT_EQ(info.parts[0].name, "photo.jpg");
    EXPECT_EQ(info.parts[0].size, data.size());
    std::string path;
    ASSERT_EQ(DecodeMimePart("N0000001.omb", info.parts[0].index, "DECODE/", path), 1);
    EXPECT_EQ(readFile(path), data);
}
