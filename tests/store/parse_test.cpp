#include "store/lines.h"
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace torvakit;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::vector<std::string> readAllLines(const std::string& data, bool crlf = false) {
    std::FILE* f = std::tmpfile();
    std::fwrite(data.data(), 1, data.size(), f);
    std::rewind(f);
    std::vector<std::string> out;
    std::string line;
    while ((crlf ? lines::readLineCrLf(f, line) : lines::readLine(f, line)) != lines::kEndOfFile)
        out.push_back(line);
    std::fclose(f);
    return out;
}

std::vector<std::string> memoryLines(const std::string& data) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    std::string_view line;
    while (lines::nextLine(data, pos, line)) out.emplace_back(line);
    return out;
}

struct Date {
    int32_t day, month, year, hour, minute, second;
};

Date parseDate(std::string_view text) {
    Date d{};
    int32_t pos = 0;
    extractdate(text, pos, d.day, d.month, d.year, d.hour, d.minute, d.second);
    return d;
}

}  // namespace

TEST(LineReader, LineEndsAndLongLines) {
    const std::string long3000(3000, 'x');
    const std::string exact(2047, 'y');
    const std::string data = "a\r\nb\nc\rd\r\r\n" + exact + "\r\n" + long3000 + "\r\nnext\n" +
                             std::string(2047, 'z') + "\rcr-after-limit\nlast";
    const std::vector<std::string> expected = {"a", "b", "c", "d", "", exact,
                                               std::string(2047, 'x'), "next",
                                               std::string(2047, 'z'), "cr-after-limit", "last"};
    EXPECT_EQ(readAllLines(data), expected);
    EXPECT_EQ(memoryLines(data), expected);
}

TEST(LineReader, SkippedRestIgnoresCrAndRunsToLf) {
    // Past the limit only LF ends the line: the CR inside the rest is skipped.
    const std::string data = std::string(2050, 'q') + "\rhidden\nvisible\n";
    const std::vector<std::string> expected = {std::string(2047, 'q'), "visible"};
    EXPECT_EQ(readAllLines(data), expected);
    EXPECT_EQ(memoryLines(data), expected);
}

TEST(LineReader, CopyingFormAndEndOfFile) {
    EXPECT_EQ(readAllLines("one\ntwo", true), (std::vector<std::string>{"one\r\n", "two\r\n"}));
    EXPECT_TRUE(readAllLines("").empty());
    EXPECT_EQ(readAllLines("\n"), std::vector<std::string>{""});
    EXPECT_EQ(readAllLines(std::string("a\0b\n", 4)), std::vector<std::string>{std::string("a\0b", 3)});
}

TEST(Strings, CompareAndSearch) {
    EXPECT_EQ(headercompare("message-id: <x>", "Message-Id:"), 11);
    EXPECT_EQ(headercompare("From someone", "From:"), 0);
    EXPECT_EQ(headercompare("From:", ""), 0);
    EXPECT_EQ(headercompare("Fro", "From:"), 0);
    EXPECT_EQ(substringcompare("hello world", "World"), -1);
    EXPECT_EQ(substringcompare("hello world", "world"), 6);
    EXPECT_EQ(substringcompare("hello", ""), -2);
    EXPECT_EQ(substringcompare("", "x"), -2);
    EXPECT_EQ(stringcompare("JAN", "jan"), 1);
    EXPECT_EQ(stringcompare("Jan", "Janu"), 0);
    std::string s = "MiXeD \xC4Z";
    EXPECT_EQ(stringlower(s), 1);
    EXPECT_EQ(s, "mixed \xC4z");  // only A-Z fold
}

TEST(Numbers, ExtractLong) {
    int32_t pos = 0;
    uint32_t value = 7;
    EXPECT_EQ(extractlong("abc 4294967295 x", pos, value), 1);
    EXPECT_EQ(value, 4294967295u);
    EXPECT_EQ(pos, 14);
    EXPECT_EQ(extractlong("abc 4294967295 x", pos, value), 0);
    EXPECT_EQ(value, 0u);
    pos = 0;
    EXPECT_EQ(extractlong("4294967296", pos, value), 1);  // wraps, no overflow trap
    EXPECT_EQ(value, 0u);
    int32_t signedValue = 0;
    pos = 100;  // past the end
    EXPECT_EQ(extractint("12", pos, signedValue), 0);
    pos = -5;
    EXPECT_EQ(extractint("12", pos, signedValue), 1);
    EXPECT_EQ(signedValue, 12);
    pos = 0;
    EXPECT_EQ(skip("   x", pos, ' '), 0);
    EXPECT_EQ(pos, 3);
}

TEST(Dates, ExtractDate) {
    Date d = parseDate("Sat, 6 Dec 1997 19:01:54 +0100");
    EXPECT_EQ(d.day, 6);
    EXPECT_EQ(d.month, 12);
    EXPECT_EQ(d.year, 97);
    EXPECT_EQ(d.hour, 19);
    EXPECT_EQ(d.minute, 1);
    EXPECT_EQ(d.second, 54);
    EXPECT_EQ(parseDate("6 Dec 97 19:01:54").year, 97);
    EXPECT_EQ(parseDate("Mon, 2 Feb 2026 10:00:00").year, 126);
    EXPECT_EQ(parseDate("6 Xyz 1997").month, 0);
    EXPECT_EQ(parseDate("6 dec 1997").month, 12);
    // No seconds, numeric zone: the zone's digits become the seconds.
    EXPECT_EQ(parseDate("6 Dec 1997 19:01 +0100").second, 100);
    Date empty = parseDate("");
    EXPECT_EQ(empty.day + empty.month + empty.year + empty.hour + empty.minute + empty.second, 0);
    Date cut = parseDate("6 De");
    EXPECT_EQ(cut.day, 6);
    EXPECT_EQ(cut.month, 0);
    EXPECT_EQ(cut.year, 0);
    std::string name;
    int32_t pos = 1;
    EXPECT_EQ(extractmonth("xMa", pos, name), 0);
    EXPECT_EQ(name, "Ma");
    EXPECT_EQ(pos, 3);
}

TEST(Dates, CreateUnixDateShapes) {
    std::string out;
    EXPECT_EQ(createunixdate(out, "+0100"), 0);
    Date d = parseDate(out);
    EXPECT_GE(d.year, 100);
    EXPECT_GE(d.month, 1);
    EXPECT_EQ(out.substr(out.size() - 6), " +0100");
    EXPECT_EQ(out[3], ',');
    createunixdate(out, -1);
    EXPECT_EQ(out.size(), 15u);  // "06 Dec 19:01:54"
    EXPECT_EQ(out[2], ' ');
    EXPECT_EQ(out[9], ':');
}

TEST(Paths, ExtractFromPath) {
    std::string dir, name;
    EXPECT_EQ(extractfrompath("C:\\dir\\file.txt", dir, name), 1);
    EXPECT_EQ(dir, "C:\\dir\\");
    EXPECT_EQ(name, "file.txt");
    EXPECT_EQ(extractfrompath("plain", dir, name), 1);
    EXPECT_EQ(dir, "");
    EXPECT_EQ(name, "plain");
    EXPECT_EQ(extractfrompath("dir/", dir, name), 1);
    EXPECT_EQ(dir, "dir/");
    EXPECT_EQ(name, "");
    EXPECT_EQ(extractfrompath("\\x", dir, name), 1);
    EXPECT_EQ(dir, "");
    EXPECT_EQ(name, "\\x");
    EXPECT_EQ(extractfrompath("a", dir, name), 0);
    EXPECT_TRUE(dir.empty() && name.empty());
}

TEST(Addresses, RealName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"John Smith <js@example.org>", "John Smith"},
        {"\"Smith, John\" <js@example.org>", "Smith, John"},
        {"js@example.org (John Smith)", "John Smith"},
        {"js@example.org", "js@example.org"},
        {"<js@example.org>", "js@example.org"},
        {"  a@b, c@d", "a@b"},
        {"Ann <a@b>, Bob <c@d>", "Ann"},
        {"<unterminated", "unterminated"},
        {"\"unterminated", "unterminated"},
        {"", ""},
        {"Name<a@b>", "Name"},
    };
    for (const auto& [in, want] : cases) {
        std::string name = "junk";
        EXPECT_EQ(extractrealname(in, 0, name), 1);
        EXPECT_EQ(name, want) << in;
    }
    std::string name;
    extractrealname("From: Ann <a@b>", 6, name);
    EXPECT_EQ(name, "Ann");
    extractrealname(std::string(1000, 'n'), 0, name);
    EXPECT_EQ(name.size(), 255u);
}

TEST(Addresses, EmailAddress) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"John <js@example.org>", "<js@example.org>"},
        {"js@example.org", "<js@example.org>"},
        {"js@example.org (John Smith)", "<js@example.org>"},
        {" js@example.org ", "<js@example.org>"},
        {"a > b < c", "<a > b < c>"},  // brackets in the wrong order
        {"", "<>"},
        {"(comment) only", "<>"},
    };
    for (const auto& [in, want] : cases) {
        std::string out;
        EXPECT_EQ(extractemailaddr(in, out), 1);
        EXPECT_EQ(out, want) << in;
    }
}

class HeaderFiles : public ::testing::Test {
protected:
    TempDir dir{true};
    std::string item(const std::string& header) {
        writeFile("N0000001.omh", header);
        return "N0000001.omb";
    }
};

TEST_F(HeaderFiles, HeaderTypeByFirstByte) {
    EXPECT_EQ(HeaderType(item("+OK message follows\r\n")), 2);
    EXPECT_EQ(HeaderType(item("To: a@b\r\n")), 2);
    EXPECT_EQ(HeaderType(item("221 3 <id> article\r\n")), 1);
    EXPECT_EQ(HeaderType(item("")), 1);
    EXPECT_EQ(HeaderType("missing.omb"), 0);
    EXPECT_EQ(HeaderType(""), 0);
    writeFile("N0000002.OMH", "+OK\r\n");  // stored in capitals
    EXPECT_EQ(HeaderType("n0000002.omb"), 2);
}

TEST_F(HeaderFiles, ReplyFields) {
    const std::string path = item(
        "+OK\r\nFrom: Ann <ann@example.org>\r\nReply-To: \"List\" <list@example.org>\r\n"
        "To: bob@example.org, carl@example.org\r\nSubject: RE: budget\r\n"
        "Date: Sat, 6 Dec 1997 19:01:54 +0100\r\nMessage-Id: <1@x>\r\n");
    std::string from, rcpt, subject, cc, replyTo, date, id;
    EXPECT_EQ(GetHeaderFields(path, from, rcpt, subject, cc, replyTo, date, id, 256, 0), '+');
    EXPECT_EQ(subject, "RE: budget");
    EXPECT_EQ(from, "\"List\" <list@example.org>");
    EXPECT_EQ(replyTo, "List");
    EXPECT_EQ(rcpt, "bob@example.org");
    EXPECT_EQ(date, "06 Dec 97");
    EXPECT_EQ(id, "<1@x>");
}

TEST_F(HeaderFiles, ReplySubjectAndFollowup) {
    const std::string path = item(
        "221 5 <a@b>\r\nNewsgroups: comp.a,comp.b\r\nFollowup-To: comp.c,comp.d\r\n"
        "From: x@y\r\nSubject: Re budget\r\n");
    std::string from, rcpt, subject, cc, replyTo, date, id;
    EXPECT_EQ(GetHeaderFields(path, from, rcpt, subject, cc, replyTo, date, id, 256, 0), '2');
    EXPECT_EQ(subject, "Re: Re budget");
    EXPECT_EQ(rcpt, "comp.c");
    EXPECT_EQ(GetHeaderFields(path, from, rcpt, subject, cc, replyTo, date, id, 256, 1), '2');
    EXPECT_EQ(rcpt, "comp.a");
    EXPECT_EQ(subject, "Re budget");
    EXPECT_EQ(GetHeaderFields(path, from, rcpt, subject, cc, replyTo, date, id, 256, 2), '2');
    EXPECT_EQ(subject, "Fwd: Re budget");
}

TEST_F(HeaderFiles, CcContinuationJoinsAndStopsAtLimit) {
    const std::string path = item(
        "To: a@b\r\nTo: second@b\r\nCc: one@x,\r\n two@x\r\n\tthree@x\r\nSubject: s\r\n four@x\r\n");
    std::string from, rcpt, subject, cc, replyTo, date, id;
    GetHeaderFields(path, from, rcpt, subject, cc, replyTo, date, id, 256, 1);
    EXPECT_EQ(cc, "one@x,two@x three@x");
    EXPECT_EQ(rcpt, "a@b");  // the first To stays
    GetHeaderFields(path, from, rcpt, subject, cc, replyTo, date, id, 20, 1);
    EXPECT_EQ(cc, "one@x,two@x");  // 11 + 7 + 2 is not below 20
    GetHeaderFields(path, from, rcpt, subject, cc, replyTo, date, id, 0, 1);
    EXPECT_EQ(cc, "one@x,");
}

TEST_F(HeaderFiles, LongValuesAreCut) {
    const std::string path = item("Subject: " + std::string(5000, 's') + "\r\nFrom: " +
                                  std::string(300, 'f') + "\r\n");
    std::string from, rcpt, subject, cc, replyTo, date, id;
    GetHeaderFields(path, from, rcpt, subject, cc, replyTo, date, id, 256, 0);
    EXPECT_EQ(subject.size(), 255u);
    EXPECT_EQ(subject.substr(0, 5), "Re: s");
    EXPECT_EQ(from.size(), 255u);
}

TEST_F(HeaderFiles, ReferenceAndAuthor) {
    std::string path = item(
        "+OK\r\nMessage-Id: <first@x>\r\nMessage-Id: <second@x>\r\nFrom: Ann <ann@x>\r\n"
        "Reply-To: Desk (help) \r\n");
    std::string id;
    EXPECT_EQ(GetReference(path, id), 1);
    EXPECT_EQ(path, "N0000001.omh");
    EXPECT_EQ(id, "<first@x>");
    std::string name, address;
    EXPECT_EQ(GetAuthor(path, name, address), 1);
    EXPECT_EQ(name, "help");
    EXPECT_EQ(address, "Desk");
    path = item("From: Ann <ann@x>\r\n");
    EXPECT_EQ(GetAuthor(path, name, address), 1);
    EXPECT_EQ(name, "Ann");
    EXPECT_EQ(address, "ann@x");
    std::string missing = "none.omb";
    EXPECT_EQ(GetAuthor(missing, name, address), 0);
    EXPECT_EQ(GetReference(missing, id), 0);
}
