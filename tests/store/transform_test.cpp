// Word wrap, quoting, forwarding and the view header.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string wrap(const std::string& text) {
    writeFile("in.txt", text);
    EXPECT_EQ(torvakit::wordwrapfile("in.txt", "out.txt"), 1);
    return readFile("out.txt");
}

// Words of the given lengths separated by single spaces.
std::string words(std::initializer_list<int> lengths) {
    std::string text;
    char letter = 'a';
    for (int n : lengths) {
        if (!text.empty()) text += ' ';
        text += std::string(static_cast<size_t>(n), letter++);
    }
    return text;
}

}  // namespace

TEST(WordWrap, BreaksAtTheLastBlankWithinEightyColumns) {
    TempDir dir(true);
    // 100 bytes: nine words of 9 and one of 9 after column 90.
    std::string line = words({9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    ASSERT_EQ(line.size(), 99u);
    EXPECT_EQ(wrap(line + "\r\n"), line.substr(0, 79) + "\r\n" + line.substr(80) + "\r\n");
    // A word that ends exactly at column 80 breaks there; the next word starts
    // the line without its blank.
    line = words({39, 40, 5});
    EXPECT_EQ(wrap(line + "\n"), line.substr(0, 80) + "\r\n" + line.substr(81) + "\r\n");
}

TEST(WordWrap, LongWordsAreCutEveryEightyBytes) {
    TempDir dir(true);
    std::string word(200, 'w');
    EXPECT_EQ(wrap(word + "\r\n"), std::string(80, 'w') + "\r\n" + std::string(80, 'w') + "\r\n" +
                                       std::string(40, 'w') + "\r\n");
    EXPECT_EQ(wrap(std::string(80, 'x') + "\r\n"), std::string(80, 'x') + "\r\n");
    EXPECT_EQ(wrap(std::string(80, 'x')), std::string(80, 'x') + "\r\n");
    // After a short word the long one's first piece (its blank dropped) is
    // 79 bytes, and the pieces after it follow on lines of their own.
    EXPECT_EQ(wrap("ab " + word + "\n"), "ab\r\n" + std::string(79, 'w') + "\r\n" + std::string(80, 'w') +
                                             "\r\n" + std::string(41, 'w') + "\r\n");
}

TEST(WordWrap, LineEndsEmptyLinesAndSpacing) {
    TempDir dir(true);
    // Every CR is dropped: CR LF is a line end, a lone CR nothing.
    EXPECT_EQ(wrap("one\r\n\r\ntwo  three\rfour\nfive"), "one\r\n\r\ntwo  threefour\r\nfive\r\n");
    EXPECT_EQ(wrap(""), "");
    EXPECT_EQ(wrap("\n\n"), "\r\n\r\n");
    // Tabs: at column 0 six spaces, after three bytes three spaces.
    EXPECT_EQ(wrap("\tx\r\nabc\tdef\r\n"), "      x\r\nabc   def\r\n");
}

TEST(WordWrap, TheLastLineWithoutLineEndIsWrappedToo) {
    TempDir dir(true);
    std::string line = words({70, 20});
    EXPECT_EQ(wrap(line), line.substr(0, 70) + "\r\n" + line.substr(71) + "\r\n");
    // A long word whose last piece fills its line right at the end of the file.
    EXPECT_EQ(wrap("ab " + std::string(159, 'w')),
              "ab\r\n" + std::string(79, 'w') + "\r\n" + std::string(80, 'w') + "\r\n");
}

TEST(WordWrap, MissingFiles) {
    TempDir dir(true);
    EXPECT_EQ(torvakit::wordwrapfile("missing", "out"), 0);
    writeFile("in", "x");
    EXPECT_EQ(torvakit::wordwrapfile("in", "no/such/dir/out"), 0);
}

TEST(Indent, EveryLineOnceWithTheQuote) {
    TempDir dir(true);
    std::string out;
    writeFile("N0000001.omb", "one\r\ntwo\r\n\r\n");
    ASSERT_EQ(torvakit::IndentFile("N0000001.omb", out, '>'), 1);
    EXPECT_EQ(out, "OMAIL.TMP");
    EXPECT_EQ(readFile("OMAIL.TMP"), ">one\r\n>two\r\n>\r\n");
    writeFile("N0000002.omb", "a\nlast");
    ASSERT_EQ(torvakit::IndentFile("N0000002.omb", out, '|'), 1);
    EXPECT_EQ(readFile("OMAIL.TMP"), "|a\r\n|last\r\n");
    EXPECT_EQ(torvakit::IndentFile("missing.omb", out, '>'), 0);
}

TEST(Forward, LeavesOutTheServerReplyLineAndBreaksLongHeaderLines) {
    TempDir dir(true);
    std::string out;
    std::string longLine = "X-Long: " + std::string(192, 'L');
    writeFile("N0000001.omh", "+OK 120 octets\r\nFrom: fred\r\n" + longLine + "\r\n");
    writeFile("N0000001.omb", "body 1\r\nbody 2");
    ASSERT_EQ(torvakit::ForwardFile("N0000001.omb", out), 1);
    EXPECT_EQ(readFile(out), "this is a forwarded message\r\n\r\noriginal header:\r\n\r\n"
                             "From: fred\r\n" + longLine.substr(0, 80) + "\r\n" + longLine.substr(80, 80) +
                                 "\r\n" + longLine.substr(160) + "\r\n"
                             "\r\noriginal message:\r\n\r\nbody 1\r\nbody 2\r\n");
    // A composed item keeps its first line.
    writeFile("N0000002.omh", "Newsgroups: alt.test\r\nFrom: me\r\n");
    writeFile("N0000002.omb", "");
    ASSERT_EQ(torvakit::ForwardFile("N0000002.omb", out), 1);
    EXPECT_NE(readFile(out).find("original header:\r\n\r\nNewsgroups: alt.test\r\nFrom: me\r\n"), std::string::npos);
    // No body: the header part stays, the result is 0.
    writeFile("N0000003.omh", "To: x\r\n");
    EXPECT_EQ(torvakit::ForwardFile("N0000003.omb", out), 0);
    EXPECT_NE(readFile("OMAIL.TMP").find("To: x"), std::string::npos);
    EXPECT_EQ(torvakit::ForwardFile("N0000009.omb", out), 0);
}

TEST(ViewHeader, ShortAndFullForms) {
    TempDir dir(true);
    std::string out;
    writeFile("N0000001.omh",
              "+OK\r\nTo: Ann Smith <ann@x.org>, bob@y.org\r\nFrom: Fred <fred@z.org>\r\n"
              "Reply-To: \"Desk, Help\" <help@z.org>\r\nSubject: hello\r\nCc: c@d.org\r\n"
              "Date: Sat, 6 Dec 1997 19:01:54 +0100\r\n");
    ASSERT_EQ(torvakit::MakeViewHeader("N0000001.omh", out, 0), 1);
    EXPECT_EQ(readFile(out), "recipient: Ann Smith\r\nauthor: Desk, Help\r\nsubject: hello\r\n"
                             "date: 06 Dec 97\r\ncc: c@d.org\r\n");
    ASSERT_EQ(torvakit::MakeViewHeader("N0000001.omh", out, 1), 1);
    std::string full = readFile(out);
    EXPECT_EQ(full.substr(0, full.find("\r\n\r\n")),
              "recipient: Ann Smith\r\n   author: Desk, Help\r\n  subject: hello\r\n"
              "     date: 06 Dec 97\r\n       cc: c@d.org");
    EXPECT_EQ(full.substr(full.find("\r\n\r\n") + 4, 13), "\r\nTo: Ann Smi");

    writeFile("N0000002.omh", "221 5 <a@b> article\r\nNewsgroups: alt.one,alt.two\r\nFrom: x@y\r\n"
                              "Subject: s\r\n");
    ASSERT_EQ(torvakit::MakeViewHeader("N0000002.omh", out, 0), 1);
    EXPECT_EQ(readFile(out), "newsgroup: alt.one\r\nauthor: x@y\r\nsubject: s\r\ndate: 00 ??? 00\r\n");
    EXPECT_EQ(torvakit::MakeViewHeader("N0000009.omh", out, 1), 0);
}
