// The attachment encoders: exact part bodies, splitting by size, the type
// table, and what a failure leaves behind.
#include "store/codec/encode.h"
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string bytes(size_t n, unsigned seed = 1) {
    std::string data(n, '\0');
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xff);
    return data;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
        if (end == std::string::npos) break;
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

}  // namespace

TEST(UuEncode, SmallFileIsOnePartWithBeginShortLastLineAndEnd) {
    TempDir dir(true);
    writeFile("pic.gif", bytes(100));
    ASSERT_EQ(torvakit::uueencodefile2(dir.path() + "/pic.gif", 100 * 1024, "N%07d.omb", 12), 1);
    auto l = lines(readFile("N0000012.omb"));
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(l[0], "begin 644 pic.gif");
    EXPECT_EQ(l[1].size(), 61u);
    EXPECT_EQ(l[1][0], 'M');
    EXPECT_EQ(l[2][0], 'M');
    EXPECT_EQ(l[3][0], '*');  // 10 bytes
    EXPECT_EQ(l[3].size(), 1u + 16u);
    EXPECT_EQ(l[4], "`");
    EXPECT_EQ(l[5], "end");
    EXPECT_FALSE(std::filesystem::exists("N0000013.omb"));
}

TEST(UuEncode, KnownBytesAndZeroValuesAsGraveAccent) {
    TempDir dir(true);
    writeFile("z", std::string("Cat\0\0\0", 6));
    ASSERT_EQ(torvakit::uueencodefile2("z", 0, "p%d", 0), 1);
    // "Cat" is 0x43 0x61 0x74: six-bit values 16 54 5 52; zero bytes give "````".
    EXPECT_EQ(readFile("p0"), "begin 644 z\r\n&0V%T````\r\n`\r\nend\r\n");
    EXPECT_EQ(readFile("p0").find(' ', 10), std::string::npos);
}

TEST(UuEncode, SplitsAtPartSizeAndNeverSpansALine) {
    TempDir dir(true);
    const uint32_t part = 100 * 1024;
    writeFile("exact", bytes(part));
    EXPECT_EQ(torvakit::uueencodefile2("exact", part, "e%03u", 1), 1);
    EXPECT_FALSE(std::filesystem::exists("e002"));

    writeFile("over", bytes(part + 1));
    ASSERT_EQ(torvakit::uueencodefile2("over", part, "o%03u", 1), 2);
    auto first = lines(readFile("o001"));
    auto second = lines(readFile("o002"));
    EXPECT_EQ(first.front(), "begin 644 over");
    // 102400 = 2275 * 45 + 25: the part ends in a 25-byte line, no "end".
    EXPECT_EQ(first.size(), 1u + 2276u);
    EXPECT_EQ(first.back()[0], static_cast<char>(32 + 25));
    EXPECT_EQ(second, (std::vector<std::string>{second[0], "`", "end"}));
    EXPECT_EQ(second[0][0], '!');  // one byte

    writeFile("three", bytes(2 * part + 500));
    EXPECT_EQ(torvakit::uueencodefile2("three", part, "t%d.omb", 9999998), 3);
    for (const char* name : {"t9999998.omb", "t9999999.omb", "t10000000.omb"})
        EXPECT_TRUE(std::filesystem::exists(name)) << name;
}

TEST(UuEncode, EmptyFileMakesOneValidPart) {
    TempDir dir(true);
    writeFile("empty.txt", "");
    EXPECT_EQ(torvakit::uueencodefile2("empty.txt", 1024, "x%d", 5), 1);
    EXPECT_EQ(readFile("x5"), "begin 644 empty.txt\r\n`\r\nend\r\n");
}

TEST(UuEncode, FailuresLeaveNoPartFiles) {
    TempDir dir(true);
    writeFile("data", bytes(5000));
    EXPECT_EQ(torvakit::uueencodefile2("missing", 1024, "m%d", 1), 0);
    EXPECT_EQ(torvakit::uueencodefile2("", 1024, "m%d", 1), 0);
    // The third part cannot be created: a directory holds its name.
    std::filesystem::create_directory("m3");
    EXPECT_EQ(torvakit::uueencodefile2("data", 1024, "m%d", 1), 0);
    EXPECT_FALSE(std::filesystem::exists("m1"));
    EXPECT_FALSE(std::filesystem::exists("m2"));
    // Patterns that do not hold exactly one integer conversion.
    for (const char* pattern : {"plain", "%s", "%d%d", "%n", "%p", "%99999d"})
        EXPECT_EQ(torvakit::uueencodefile2("data", 0, pattern, 1), 0) << pattern;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 2);  // data, m3
}

TEST(UuEncode, PartPathFormatting) {
    using torvakit::codec::formatPartPath;
    EXPECT_EQ(formatPartPath("OUT\\N%07d.omb", 123).value(), "OUT\\N0000123.omb");
    EXPECT_EQ(formatPartPath("a%%b%lu", 7).value(), "a%b7");
    EXPECT_EQ(formatPartPath("%0000007d", 5).value(), "0000005");
    EXPECT_FALSE(formatPartPath("100%", 1));
    EXPECT_FALSE(formatPartPath("%d %x", 1));
}

TEST(UuEncode, ControlCharactersInTheNameCannotBreakTheBeginLine) {
    TempDir dir(true);
    writeFile("a\nb", "x");
    ASSERT_EQ(torvakit::uueencodefile2("a\nb", 0, "p%d", 0), 1);
    EXPECT_EQ(lines(readFile("p0")).front(), "begin 644 a_b");
}

TEST(MimeEncode, ExactBodyOfA57ByteFile) {
    TempDir dir(true);
    writeFile("note.dat", std::string(57, 'a'));
    ASSERT_EQ(torvakit::mimeencodefile(dir.path() + "/note.dat", "N0000042.omb", 42), 1);
    std::string line(76, 'Y');
    for (size_t i = 1; i < 76; i += 4) line[i] = 'W', line[i + 1] = 'F', line[i + 2] = 'h';
    EXPECT_EQ(readFile("N0000042.omb"),
              "\r\n--42\r\n"
              "Content-type: text/plain; charset=us-ascii\r\n"
              "Content-Transfer-Encoding: 7bit\r\n\r\n\r\n\r\n"
              "--42\r\n"
              "Content-Type: application/octet-stream; name=\"note.dat\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"note.dat\"\r\n\r\n" +
                  line + "\r\n\r\n--42--\r\n");
}

TEST(MimeEncode, LineLengthsAndPadding) {
    TempDir dir(true);
    writeFile("f58", std::string(58, 'a'));
    ASSERT_EQ(torvakit::mimeencodefile("f58", "o58", 1), 1);
    auto l = lines(readFile("o58"));
    ASSERT_GE(l.size(), 4u);
    EXPECT_EQ(l[l.size() - 4].size(), 76u);
    EXPECT_EQ(l[l.size() - 3], "YQ==");
    EXPECT_EQ(l[l.size() - 2], "");
    EXPECT_EQ(l.back(), "--1--");

    writeFile("f2", "ab");
    ASSERT_EQ(torvakit::mimeencodefile("f2", "o2", 1), 1);
    EXPECT_NE(readFile("o2").find("\r\n\r\nYWI=\r\n\r\n--1--\r\n"), std::string::npos);

    writeFile("none", "");
    ASSERT_EQ(torvakit::mimeencodefile("none", "o0", 7), 1);
    EXPECT_NE(readFile("o0").find("filename=\"none\"\r\n\r\n\r\n--7--\r\n"), std::string::npos);
}

TEST(MimeEncode, FailuresReturnZeroAndLeaveNothing) {
    TempDir dir(true);
    writeFile("a", "x");
    EXPECT_EQ(torvakit::mimeencodefile("", "out", 1), 0);
    EXPECT_EQ(torvakit::mimeencodefile("missing", "out", 1), 0);
    EXPECT_EQ(torvakit::mimeencodefile("a", "nodir/out", 1), 0);
    EXPECT_FALSE(std::filesystem::exists("out"));
}

TEST(MimeEncode, QuotesAndLineBreaksInTheNameAreReplaced) {
    TempDir dir(true);
    writeFile("say \"hi\"\r.txt", "x");
    ASSERT_EQ(torvakit::mimeencodefile("say \"hi\"\r.txt", "o", 1), 1);
    EXPECT_NE(readFile("o").find("name=\"say _hi__.txt\"\r\n"), std::string::npos);
}

TEST(ContentType, LookupByExtension) {
    TempDir dir(true);
    using torvakit::codec::lookupContentType;
    EXPECT_EQ(lookupContentType("a.jpg"), "application/octet-stream");  // no table
    writeFile("mimetype.txt",
              "image/jpeg jpg jpeg\r\n"
              "text/plain txt  asc\n"
              "image/x-first jpe\r"
              "image/x-second jpe jpg\r\n"
              "lonely\r\n"
              "Application/Odd-Case ODD");
    EXPECT_EQ(lookupContentType("PHOTO.JPG"), "image/jpeg");
    EXPECT_EQ(lookupContentType("x.jpeg"), "image/jpeg");
    EXPECT_EQ(lookupContentType("x.jpe"), "image/x-first");  // the earlier line wins
    EXPECT_EQ(lookupContentType("readme.asc"), "text/plain");
    EXPECT_EQ(lookupContentType("a.b.txt"), "text/plain");
    EXPECT_EQ(lookupContentType("x.odd"), "Application/Odd-Case");  // type kept as written
    EXPECT_EQ(lookupContentType("jpg"), "application/octet-stream");
    EXPECT_EQ(lookupContentType(".jpg"), "application/octet-stream");
    EXPECT_EQ(lookupContentType("x."), "application/octet-stream");
    EXPECT_EQ(lookupContentType("lonely"), "application/octet-stream");
}

TEST(MimeEncode, TypeFromTheTableAndNameFromTheBaseName) {
    TempDir dir(true);
    writeFile("mimetype.txt", "image/gif gif\r\n");
    std::filesystem::create_directory("sub");
    writeFile("sub/Anim.GIF", "GIF89a");
    ASSERT_EQ(torvakit::mimeencodefile("sub\\Anim.GIF", "o", 3), 1);
    EXPECT_NE(readFile("o").find("Content-Type: image/gif; name=\"Anim.GIF\"\r\n"), std::string::npos);
}
