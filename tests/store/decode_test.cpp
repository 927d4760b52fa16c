// The attachment decoders: MIME parts, uuencoded blocks, multi-item files,
// bare base64 bodies, the log, every result code, hostile names and bad input.
#include "store/codec/decode.h"
#include "store/codec/fileio.h"
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <cctype>
#include <set>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

// A data directory with its DECODE folder, entered for the test.
class DecodeTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory("DECODE"); }
    std::string decoded(const std::string& name) { return readFile("DECODE/" + name); }
    std::set<std::string> decodeFolder() {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator("DECODE")) names.insert(e.path().filename());
        return names;
    }
    std::vector<std::string> logNames() {
        // Each entry: "dd Mon hh:mm:ss : name" and CR LF.
        std::vector<std::string> names;
        std::string log = readFile("DECODE/decode.log");
        const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
        for (size_t pos = 0; pos < log.size();) {
            size_t end = log.find("\r\n", pos);
            EXPECT_NE(end, std::string::npos);
            if (end == std::string::npos) break;
            std::string line = log.substr(pos, end - pos);
            pos = end + 2;
            bool dated = line.size() > 18 && line.compare(15, 3, " : ") == 0 && line[2] == ' ' &&
                         line[6] == ' ' && line[9] == ':' && line[12] == ':' &&
                         months.find(line.substr(3, 3)) % 3 == 0;
            for (size_t i : {0, 1, 7, 8, 10, 11, 13, 14}) dated = dated && std::isdigit(static_cast<unsigned char>(line[i]));
            EXPECT_TRUE(dated) << line;
            names.push_back(line.substr(std::min<size_t>(18, line.size())));
        }
        return names;
    }
    int decode(const std::string& body, std::string& names) {
        writeFile("item.omb", body);
        return torvakit::decodefile("item.omb", names, '>', "DECODE\\");
    }

    TempDir m_dir{true};
};

std::string crlf(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    return text;
}

// "The quick brown fox" and friends, encoded by hand-checked tools.
const std::string kFox = "The quick brown fox jumps over the lazy dog";
const std::string kFoxBase64 = "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZw==";
const std::string kFoxUu = "K5&AE('%U:6-K(&)R;W=N(&9O>\"!J=6UP<R!O=F5R('1H92!L87IY(&1O9P``";

}  // namespace

TEST_F(DecodeTest, TwoNamedBase64PartsGiveTwoFilesNewestFirstInTheLog) {
    std::string body = crlf({"", "--b1", "Content-Type: text/plain", "Content-Transfer-Encoding: 7bit", "",
                             "hello", "--b1", "Content-Type: text/plain; name=\"fox.txt\"",
                             "Content-Transfer-Encoding: base64", "", kFoxBase64, "", "--b1",
                             "Content-Type: application/octet-stream; name=\"abc.bin\"",
                             "Content-Transfer-Encoding: base64", "", "YWJj", "YQ==", "", "--b1--"});
    std::string names;
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decoded("fox.txt"), kFox);
    EXPECT_EQ(decoded("abc.bin"), "abca");  // "==" adds one byte for its last group
    EXPECT_EQ(names, "DECODE\\fox.txt\r\nDECODE\\abc.bin\r\n");
    EXPECT_EQ(logNames(), (std::vector<std::string>{"abc.bin", "fox.txt"}));
    EXPECT_EQ(decodeFolder(), (std::set<std::string>{"fox.txt", "abc.bin", "decode.log"}));
}

TEST_F(DecodeTest, QuotedUuencodedReplyDecodesToTheSameBytes) {
    std::string plain = crlf({"text before", "begin 644 fox.txt", kFoxUu, "`", "end", "after"});
    std::string quoted = crlf({"> text before", "> begin 644 fox.txt", "> " + kFoxUu, "> `", "> end"});
    std::string names;
    ASSERT_EQ(decode(plain, names), 1);
    EXPECT_EQ(decoded("fox.txt"), kFox);
    fs::remove("DECODE/fox.txt");
    ASSERT_EQ(decode(quoted, names), 1);
    EXPECT_EQ(decoded("fox.txt"), kFox);
}

TEST_F(DecodeTest, NameParametersQuotedUnquotedAndFolded) {
    std::string body = crlf({"--x", "Content-Type: text/plain; name=a.txt; charset=us-ascii",
                             "Content-Transfer-Encoding: 7bit", "", "one", "--x",
                             "Content-Type: text/plain; name=\"b.txt\"; charset=us-ascii",
                             "Content-Transfer-Encoding: 7bit", "", "two", "--x",
                             "Content-Type: text/plain;", "\tNAME=\"c.txt\"",
                             "Content-Transfer-Encoding: 7bit", "", "three", "--x--"});
    std::string names;
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decoded("a.txt; charset=us-ascii"), "one");  // the break before a boundary is its own
    EXPECT_EQ(decoded("b.txt"), "two");
    EXPECT_EQ(decoded("c.txt"), "three");
}

TEST_F(DecodeTest, TransferEncodingNeedsTheSpaceAfterTheColon) {
    std::string body = crlf({"--x", "Content-Type: text/plain; name=\"raw.txt\"",
                             "Content-Transfer-Encoding:base64", "", "YWJj", "--x--"});
    std::string names;
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decoded("raw.txt"), "YWJj");
}

// A named part with no encoding line (a signature, a plain attachment) is
// 7bit and must still be written; an unnamed one stays text of the message.
TEST_F(DecodeTest, NamedPartWithoutEncodingLineIsPlain) {
    std::string body = crlf({"--s", "Content-Type: text/plain", "", "the letter", "--s",
                             "Content-Type: application/pgp-signature; name=\"signature.asc\"", "",
                             "-----BEGIN PGP SIGNATURE-----", "abc", "--s--"});
    std::string names;
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decoded("signature.asc"), "-----BEGIN PGP SIGNATURE-----\r\nabc");
    EXPECT_EQ(decodeFolder(), (std::set<std::string>{"signature.asc", "decode.log"}));
}

TEST_F(DecodeTest, QuotedPrintableSoftBreaksEscapesAndBadEscapes) {
    std::string body = crlf({"--x", "Content-Type: text/plain; name=\"qp.txt\"",
                             "Content-Transfer-Encoding: quoted-printable", "", "a=3Db=", "c", "",
                             "caf=E9 =e9 =ZZ =4", "end=  ", "x", "--x--"});
    std::string names;
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decoded("qp.txt"), "a=bc\r\n\r\ncaf\xe9 \xe9 =ZZ =4\r\nendx");
}

TEST_F(DecodeTest, BeginLinesNeedAModeOfAtLeast600) {
    std::string body = crlf({"begin 444 no.txt", kFoxUu, "end", "begin 600 yes.txt", kFoxUu, "end",
                             "Beginning 700", "!80``", "end"});
    std::string names;
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decodeFolder().count("no.txt"), 0u);
    EXPECT_EQ(decoded("yes.txt"), kFox);
    // A "begin" line with nothing after its mode gets a fresh name.
    EXPECT_EQ(decodeFolder().size(), 3u);
}

TEST_F(DecodeTest, ResultCodes) {
    std::string names = "stale";
    EXPECT_EQ(torvakit::decodefile("missing.omb", names, '>', "DECODE\\"), -1);
    EXPECT_EQ(names, "");
    // An output that cannot be created: a directory holds its name.
    fs::create_directory("DECODE/taken");
    auto named = [](const std::string& enc, const std::string& data) {
        return crlf({"--x", "Content-Type: text/plain; name=\"taken\"", "Content-Transfer-Encoding: " + enc,
                     "", data, "--x--"});
    };
    EXPECT_EQ(decode(named("base64", "YWJj"), names), -6);
    EXPECT_EQ(names, "DECODE\\taken\r\n");
    EXPECT_EQ(decode(named("8bit", "abc"), names), -7);
    EXPECT_EQ(decode(named("quoted-printable", "abc"), names), -8);
    EXPECT_EQ(decode(crlf({"begin 644 taken", kFoxUu, "end"}), names), -5);
    // Names cannot be formed when no fresh name can be made in the folder.
    writeFile("item.omb", crlf({"begin 644 ", "!80``", "end"}));
    EXPECT_EQ(torvakit::decodefile("item.omb", names, '>', "nofolder/"), -3);
    writeFile("item.omb", crlf({"Content-Type: text/plain; name=\"\"", "", "x"}));
    EXPECT_EQ(torvakit::decodefile("item.omb", names, '>', "nofolder/"), -2);
    // Nothing to decode is still success.
    EXPECT_EQ(decode("just text\r\nno parts\r\n", names), 1);
    EXPECT_EQ(names, "");
}

TEST_F(DecodeTest, HostileNamesStayInsideTheFolder) {
    fs::create_directory("DECODE/sub");
    std::string body;
    for (std::string name : {"../../escape.txt", "..\\..\\win.txt", "C:\\x.txt", "..", ".", "/etc/passwd",
                             "decode.log", "DECODE.TMP", "sub", "a\x01?*|<>.txt"})
        body += crlf({"begin 644 " + name, "!80``", "end"});
    body += crlf({"begin 644 " + std::string(3000, 'n') + ".jpg", "!80``", "end"});
    body += crlf({"begin 644 " + std::string(300, 'm') + "." + std::string(40, 'e'), "!80``", "end"});
    std::string names;
    EXPECT_EQ(decode(body, names), -5);  // "sub" is a directory: decoding stops there
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(".")) top.insert(e.path().filename());
    EXPECT_EQ(top, (std::set<std::string>{"DECODE", "item.omb"}));
    auto inside = decodeFolder();
    for (const char* want : {"..$..$escape.txt", "..$..$win.txt", "C$$x.txt", "$$", "$", "$etc$passwd",
                             "$decode.log", "$DECODE.TMP", "sub", "decode.log"})
        EXPECT_EQ(inside.count(want), 1u) << want;
    EXPECT_EQ(decoded("$$"), "a");
    EXPECT_EQ(logNames().size(), 8u);
    EXPECT_EQ(logNames().front(), "$DECODE.TMP");

    body = crlf({"begin 644 a\x01?*|<>.txt", "!80``", "end"}) +
           crlf({"begin 644 " + std::string(400, 'n') + ".jpg", "!80``", "end"}) +
           crlf({"begin 644 " + std::string(3000, 'k') + ".jpg", "!80``", "end"}) +
           crlf({"begin 644 " + std::string(300, 'm') + "." + std::string(40, 'e'), "!80``", "end"});
    EXPECT_EQ(decode(body, names), 1);
    inside = decodeFolder();
    EXPECT_EQ(inside.count("a$$$$$$.txt"), 1u);
    EXPECT_EQ(inside.count(std::string(251, 'n') + ".jpg"), 1u);
    EXPECT_EQ(inside.count(std::string(255, 'm')), 1u);
    EXPECT_EQ(inside.count(std::string(255, 'k')), 1u);  // the line itself was cut before ".jpg"
}

TEST_F(DecodeTest, EmptyNamesGetFreshNames) {
    std::string body = crlf({"begin 644 ", "!80``", "end", "begin 644 \"\"", "!80``", "end",
                             "Content-Type: x; name=\"\"", "Content-Transfer-Encoding: base64", "", "YQ==",
                             "-"});
    std::string names;
    EXPECT_EQ(decode(body, names), 1);
    auto inside = decodeFolder();
    EXPECT_EQ(inside.size(), 4u);  // two fresh names, "$$" (begin names are not unquoted), the log
    EXPECT_EQ(inside.count("$$"), 1u);
}

TEST_F(DecodeTest, BadInputEndsCleanly) {
    std::string names;
    // A begin without end, a boundary that never comes, an over-long line.
    std::string body = crlf({"begin 644 open.bin", kFoxUu, std::string(100000, 'M'), kFoxUu});
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decoded("open.bin").size(), 43u + 45u + 43u);
    body = crlf({"--x", "Content-Type: text/plain; name=\"never.txt\"", "Content-Transfer-Encoding: 7bit", "",
                 "line", std::string(100000, 'q')});
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decoded("never.txt"), "line\r\n" + std::string(2047, 'q') + "\r\n");
    // Invalid characters inside base64 and uuencoded lines count as zero.
    body = crlf({"Content-Type: x; name=\"bad64\"", "Content-Transfer-Encoding: base64", "", "Y~Jj", "-"});
    EXPECT_EQ(decode(body, names), 1);
    EXPECT_EQ(decoded("bad64"), std::string("`\x02\x63", 3));
    // Binary junk: no crash, nothing outside the folder.
    std::string junk;
    for (int i = 0; i < 200000; ++i) junk += static_cast<char>((i * 7919 + i / 13) & 0xff);
    EXPECT_EQ(decode(junk + "\r\nbegin 644 j\r\n" + junk, names), 1);
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(".")) top.insert(e.path().filename());
    EXPECT_EQ(top, (std::set<std::string>{"DECODE", "item.omb"}));
}

TEST_F(DecodeTest, LogKeepsOlderEntriesBelowTheNewOne) {
    writeFile("DECODE/decode.log", "01 Jan 00:00:01 : old.txt\r\n\r\n02 Jan 00:00:02 : older.txt\r\n");
    std::string names;
    ASSERT_EQ(decode(crlf({"begin 644 new.txt", "!80``", "end"}), names), 1);
    EXPECT_EQ(logNames(), (std::vector<std::string>{"new.txt", "old.txt", "older.txt"}));
    EXPECT_FALSE(fs::exists("DECODE/decode.tmp"));
}

TEST_F(DecodeTest, MultiItemUuencodedFile) {
    std::string out;
    writeFile("p0.omb", crlf({"no begin here"}));
    EXPECT_EQ(torvakit::uuedecodefile2("p0.omb", 0, '>', "DECODE\\", out), 0);
    EXPECT_EQ(torvakit::uuedecodefile2("p0.omb", 2, '>', "DECODE\\", out), -1);
    EXPECT_EQ(torvakit::uuedecodefile2("", 0, '>', "DECODE\\", out), -2);
    EXPECT_EQ(torvakit::uuedecodefile2("missing", 1, '>', "DECODE\\", out), -2);

    // Three items of 15 bytes each; the last has a 13-byte line and "end".
    std::string data = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJ";
    auto uu = [](const std::string& bytes) {
        std::string line(1, static_cast<char>(32 + bytes.size()));
        for (size_t i = 0; i < bytes.size(); i += 3) {
            unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                         (i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0) |
                         (i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0);
            for (int s = 18; s >= 0; s -= 6) {
                unsigned c = (v >> s) & 63;
                line += static_cast<char>(c ? c + 32 : '`');
            }
        }
        return line;
    };
    writeFile("i1.omb", crlf({"first item text is not decoded", "begin 644 data.bin", uu(data.substr(0, 15))}));
    // Text between the data of an item is not data.
    writeFile("i2.omb", crlf({"BEGIN -- cut here --", "section 2 of 3 of file data.bin", "", uu(data.substr(15, 15)),
                              "-- ", "Fred"}));
    // A quoted third item whose line has 30 bytes: its length character is ">".
    std::string thirty = std::string(30, 'Z');
    writeFile("i3.omb", crlf({"> " + uu(data.substr(30, 16)), "> " + uu(thirty), "> end"}));
    EXPECT_EQ(torvakit::uuedecodefile2("i1.omb", 0, '>', "DECODE\\", out), 1);
    EXPECT_EQ(out, "DECODE\\data.bin");
    EXPECT_EQ(torvakit::uuedecodefile2("i2.omb", 1, '>', "DECODE\\", out), 1);
    EXPECT_EQ(torvakit::uuedecodefile2("i3.omb", 1, '>', "DECODE\\", out), 2);
    EXPECT_EQ(decoded("data.bin"), data + thirty);
    EXPECT_EQ(logNames(), (std::vector<std::string>{"data.bin"}));
    EXPECT_EQ(torvakit::uuedecodefile2("i3.omb", 1, '>', "DECODE\\", out = "nodir/x"), -6);
    fs::create_directory("DECODE/dir.bin");
    writeFile("i4.omb", crlf({"begin 644 dir.bin", "end"}));
    EXPECT_EQ(torvakit::uuedecodefile2("i4.omb", 0, '>', "DECODE\\", out), -5);
    EXPECT_EQ(torvakit::uuedecodefile2("i4.omb", 0, '>', "nofolder/", out), -5);
}

TEST_F(DecodeTest, UnheadedBase64NameFromFilenameOrSubject) {
    std::string name;
    writeFile("a.omh", crlf({"+OK", "Subject: see pic.jpg here", "X-Note: filename=\"real.png\"; x"}));
    writeFile("a.omb", crlf({"BEGIN", "> YWJj", "YQ==", "", "ZZZZ"}));
    EXPECT_EQ(torvakit::decodebase64("a.omb", name, '>', "DECODE\\"), 1);
    EXPECT_EQ(name, "real.png");
    EXPECT_EQ(decoded("real.png"), "abca");

    writeFile("b.omh", crlf({"+OK", "Subject: Re: holiday.jpg"}));
    writeFile("b.omb", "YWJj");
    EXPECT_EQ(torvakit::decodebase64("b.omb", name, '>', "DECODE\\"), 1);
    EXPECT_EQ(name, "holiday.jpg");
    // Not a three-letter extension, and no name at all: fresh names.
    writeFile("c.omh", crlf({"+OK", "Subject: photo.jpeg now"}));
    writeFile("c.omb", "YWJj");
    EXPECT_EQ(torvakit::decodebase64("c.omb", name, '>', "DECODE\\"), 1);
    EXPECT_NE(name, "");
    EXPECT_EQ(decoded(name), "abc");
    writeFile("d.omh", crlf({"+OK", "Subject: my ../../x.exe files"}));
    writeFile("d.omb", "YWJj");
    EXPECT_EQ(torvakit::decodebase64("d.omb", name, '>', "DECODE\\"), 1);
    EXPECT_EQ(name, "..$..$x.exe");

    EXPECT_EQ(torvakit::decodebase64("none.omb", name, '>', "DECODE\\"), 0);
    EXPECT_EQ(name, "");
    writeFile("e.omh", "+OK\r\n");
    EXPECT_EQ(torvakit::decodebase64("e.omb", name, '>', "DECODE\\"), 0);  // no body
    EXPECT_EQ(torvakit::decodebase64("b.omb", name, '>', "nofolder/"), 0);
}

TEST(DecodeHelpers, StripStopsAtTheLimit) {
    std::string_view line = "> > >data";
    EXPECT_EQ(torvakit::codec::stripQuotes(line, '>', 2), 2u);
    EXPECT_EQ(line, "> >data");
    EXPECT_EQ(torvakit::codec::stripQuotes(line, '>', torvakit::codec::kStripAll), 3u);
    EXPECT_EQ(line, "data");
}

TEST(DecodeHelpers, LineReaderLineEndsAndLongLines) {
    using torvakit::codec::kIoBufferSize;
    using torvakit::codec::kMaxLine;
    TempDir dir(true);
    // A CR LF pair split across the reader's buffer refill, lines of exactly
    // the limit and one over, a long line ended by a lone CR, no final end.
    std::string prefix = "a\rb\nc\r\n";
    std::string filler;
    std::vector<std::string> fillerLines;
    // Lines of 62 bytes after a first one sized so that the CR of the last
    // filler line is the last byte of the first read and its LF the next.
    size_t first = kIoBufferSize + 1 - prefix.size() - 2 - (kIoBufferSize / 64 - 1) * 64;
    fillerLines.push_back(std::string(first, 'g'));
    for (size_t i = 0; i < kIoBufferSize / 64 - 1; ++i) fillerLines.push_back(std::string(62, 'f'));
    for (const auto& l : fillerLines) filler += l + "\r\n";
    ASSERT_EQ(prefix.size() + filler.size(), kIoBufferSize + 1);
    std::string text = prefix + filler + "after\r\n" + std::string(kMaxLine, 'x') + "\n" +
                       std::string(kMaxLine + 1, 'y') + "\r\nnext\r" + std::string(5000, 'z') + "\rtail";
    writeFile("lines.txt", text);
    torvakit::codec::LineReader reader(torvakit::codec::openForReading("lines.txt"));
    std::vector<std::string> got;
    std::string_view line;
    while (reader.next(line)) got.emplace_back(line);
    std::vector<std::string> want = {"a", "b", "c"};
    want.insert(want.end(), fillerLines.begin(), fillerLines.end());
    want.insert(want.end(), {"after", std::string(kMaxLine, 'x'),
                                     std::string(kMaxLine, 'y'), "next", std::string(kMaxLine, 'z'), "tail"});
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << i;
    EXPECT_EQ(reader.peek(), -1);
}
