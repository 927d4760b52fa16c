// Item creation in the outbox and the row readers.
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

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

struct Args {
    std::string from = "Fred Bloggs <fred@example.org>", replyTo, subject = "hello", recipients = "Ann <ann@x.org>, bob@y.org";
    std::string cc, attachment, organization, zone = "+0100", references, user = "fred", domain = "example";
    std::string followupTo;
    int type = 1, partKb = 0, noArchive = 0, mime = 0;
    uint32_t next = 124;
};

int make(const std::string& header, const Args& a) {
    return torvakit::MakeItem(header, a.from, a.replyTo, a.subject, a.recipients, a.cc, a.attachment,
                              a.organization, a.zone, a.references, a.user, a.domain, a.followupTo, a.type,
                              a.partKb, a.next, a.noArchive, a.mime);
}

// Whether text has the shape: "#" a digit, "^" an upper-case and "_" a
// lower-case letter, anything else itself.
bool shaped(const std::string& text, const std::string& shape) {
    if (text.size() != shape.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool ok = shape[i] == '#' ? std::isdigit(c) : shape[i] == '^' ? std::isupper(c)
                : shape[i] == '_' ? std::islower(c) : text[i] == shape[i];
        if (!ok) return false;
    }
    return true;
}

bool isDateLine(const std::string& line) {
    return shaped(line, "Date: ^__, # ^__ #### ##:##:## +0100") ||
           shaped(line, "Date: ^__, ## ^__ #### ##:##:## +0100");
}

class ItemTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory("OUT"); }
    TempDir m_dir{true};
};

}  // namespace

TEST_F(ItemTest, MailHeaderLinesInOrderAndItsRecord) {
    Args a;
    a.cc = "c@d.org";
    a.replyTo = "\"Desk, Help\" <help@example.org>";
    a.organization = "Org";
    a.references = "<r@x>";
    writeFile("OUT/N0000123.omb", std::string(2048, 'x'));
    ASSERT_EQ(make("OUT\\N0000123.omh", a), 0);
    auto h = lines(readFile("OUT/N0000123.omh"));
    ASSERT_EQ(h.size(), 10u);
    EXPECT_EQ(h[0], "To: Ann <ann@x.org>, bob@y.org");
    EXPECT_EQ(h[1], "Cc: c@d.org");
    EXPECT_TRUE(shaped(h[2], "Message-Id: <#############.n0000123.fred@example.invalid>")) << h[2];
    EXPECT_EQ(h[3], "References: <r@x>");
    EXPECT_EQ(h[4], "From: Fred Bloggs <fred@example.org>");
    EXPECT_EQ(h[5], "Reply-To: \"Desk, Help\" <help@example.org>");
    EXPECT_EQ(h[6], "Organization: Org");
    EXPECT_EQ(h[7], "Subject: hello");
    EXPECT_EQ(h[8], "X-Mailer: orrindel mail 32");
    EXPECT_TRUE(isDateLine(h[9])) << h[9];
    EXPECT_EQ(readFile("OUT/N0000123.omh").back(), '\n');

    auto r = lines(readFile("OUT/n.lst"));
    ASSERT_EQ(r.size(), 9u);
    EXPECT_EQ(r[0], "N0000123.omh");
    EXPECT_EQ(r[1], "U");
    EXPECT_EQ(r[2], "Desk, Help");
    EXPECT_EQ(r[3], "Ann");
    EXPECT_EQ(r[4], "hello");
    EXPECT_TRUE(shaped(r[5], "## ^__ ##")) << r[5];
    EXPECT_EQ(r[6].size(), 13u);
    EXPECT_EQ(r[7], "2");
    EXPECT_EQ(r[8], h[2].substr(12));
    EXPECT_EQ(readFile("OUT/n.cnt"), "1\r\n");
}

TEST_F(ItemTest, NewsHeaderAndRecordKeepAllGroups) {
    Args a;
    a.type = 5;
    a.recipients = "alt.test,alt.misc";
    a.followupTo = "alt.test";
    a.noArchive = 1;
    a.cc = "ignored@x";
    ASSERT_EQ(make("OUT/N0000001.omh", a), 0);
    auto h = lines(readFile("OUT/N0000001.omh"));
    ASSERT_EQ(h.size(), 8u);
    EXPECT_EQ(h[0], "Newsgroups: alt.test,alt.misc");
    EXPECT_EQ(h[1], "Followup-To: alt.test");
    EXPECT_EQ(h[3], "From: Fred Bloggs <fred@example.org>");
    EXPECT_EQ(h[4], "Subject: hello");
    EXPECT_EQ(h[5], "X-Newsreader: orrindel mail 32");
    EXPECT_EQ(h[6], "X-No-Archive: yes");
    auto r = lines(readFile("OUT/n.lst"));
    EXPECT_EQ(r[2], "Fred Bloggs");
    EXPECT_EQ(r[3], "alt.test,alt.misc");
    EXPECT_EQ(r[7], "-");
    EXPECT_EQ(torvakit::HeaderType("OUT/N0000001.omh"), 1);
}

TEST_F(ItemTest, MessageIdPlaceholdersAndOneAtSign) {
    Args a;
    a.user = "";
    a.domain = "";
    make("OUT/N0000001.omh", a);
    a.user = "Fred@Home.ORG";
    a.domain = "Example";
    make("OUT/N0000002.omh", a);
    a.user = "fred";
    a.domain = "mail.example.org";
    make("OUT/N0000003.omh", a);
    auto id = [](const char* file) { return lines(readFile(file))[1].substr(12); };
    std::string id1 = id("OUT/N0000001.omh");
    EXPECT_TRUE(shaped(id1, "<#############.n0000001.username@omail.invalid>")) << id1;
    EXPECT_EQ(std::count(id1.begin(), id1.end(), '@'), 1);
    EXPECT_TRUE(shaped(id("OUT/N0000002.omh"), "<#############.n0000002.fred@example.invalid>"))
        << id("OUT/N0000002.omh");
    EXPECT_TRUE(shaped(id("OUT/N0000003.omh"), "<#############.n0000003.fred@mail.example.org>"));
}

TEST_F(ItemTest, LineBreaksInValuesCannotAddHeaderLines) {
    Args a;
    a.subject = "hi\r\nBcc: victim@x.org";
    make("OUT/N0000001.omh", a);
    auto h = lines(readFile("OUT/N0000001.omh"));
    EXPECT_EQ(h[h.size() - 3], "Subject: hi  Bcc: victim@x.org");
}

TEST_F(ItemTest, UuencodedAttachmentInThreeParts) {
    Args a;
    a.attachment = "pic.jpg";
    a.partKb = 1;
    writeFile("pic.jpg", std::string(2500, 'p'));
    writeFile("OUT/N0000123.omb", "see attached\r\n");
    ASSERT_EQ(make("OUT/N0000123.omh", a), 3);
    auto r = lines(readFile("OUT/n.lst"));
    ASSERT_EQ(r.size(), 36u);
    const char* labels[] = {"pic.jpg (0/3)", "pic.jpg (1/3)", "pic.jpg (2/3)", "pic.jpg (3/3)"};
    const char* names[] = {"N0000123.omh", "N0000124.omh", "N0000125.omh", "N0000126.omh"};
    std::set<std::string> ids;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r[i * 9], names[i]);
        EXPECT_EQ(r[i * 9 + 4], std::string("hello -- ") + labels[i]);
        EXPECT_EQ(r[i * 9 + 7], "1");
        ids.insert(r[i * 9 + 8]);
        auto h = lines(readFile(std::string("OUT/") + names[i]));
        EXPECT_EQ(h[3], std::string("Subject: hello -- ") + labels[i]);
        EXPECT_EQ(h[4], std::string("X-Attachment: ") + labels[i]);
        EXPECT_EQ(h.size(), 7u);  // no MIME lines for uuencoded parts
    }
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(readFile("OUT/n.cnt"), "4\r\n");
    EXPECT_EQ(lines(readFile("OUT/N0000124.omb"))[0], "begin 644 pic.jpg");
    EXPECT_EQ(lines(readFile("OUT/N0000126.omb")).back(), "end");
}

TEST_F(ItemTest, MimeAttachmentPartCarriesItsBoundary) {
    Args a;
    a.attachment = fs::current_path().string() + "/doc.pdf";
    a.mime = 1;
    a.next = 500;
    writeFile("doc.pdf", "%PDF");
    ASSERT_EQ(make("OUT/N0000499.omh", a), 1);
    auto text = lines(readFile("OUT/N0000499.omh"));
    auto part = lines(readFile("OUT/N0000500.omh"));
    EXPECT_EQ(text.size(), 7u);
    ASSERT_EQ(part.size(), 9u);
    EXPECT_EQ(text[3], "Subject: hello -- doc.pdf (0/1)");
    EXPECT_EQ(part[3], "Subject: hello -- doc.pdf (1/1)");
    EXPECT_EQ(part[6], "MIME-Version: 1.0");
    EXPECT_EQ(part[7], "Content-Type: multipart/mixed; boundary=\"500\"");
    std::string body = readFile("OUT/N0000500.omb");
    EXPECT_EQ(body.substr(0, 9), "\r\n--500\r\n");
    EXPECT_NE(body.find("\r\n--500--\r\n"), std::string::npos);
}

TEST_F(ItemTest, EncoderFailureLeavesTheTextItemLabelledZeroOfZero) {
    Args a;
    a.attachment = "missing.bin";
    EXPECT_EQ(make("OUT/N0000001.omh", a), 0);
    auto r = lines(readFile("OUT/n.lst"));
    ASSERT_EQ(r.size(), 9u);
    EXPECT_EQ(r[4], "hello -- missing.bin (0/0)");
    // A folder that does not exist: nothing is written, no crash, and the
    // caller hears of it rather than taking the item as composed.
    a.attachment.clear();
    EXPECT_EQ(make("NOWHERE/N0000001.omh", a), torvakit::kItemNotWritten);
    EXPECT_FALSE(fs::exists("NOWHERE"));
    // An outbox whose list cannot be written: the header alone is no item.
    fs::create_directories("BROKEN/n.lst");
    EXPECT_EQ(make("BROKEN/N0000009.omh", a), torvakit::kItemNotWritten);
}

TEST_F(ItemTest, RowReaders) {
    fs::create_directory("N0000007");
    writeFile("N0000007/N0000010.omh", "221 4711 <abc@host> article\r\nSubject: s\r\n");
    writeFile("N0000007/N0000011.omh", "221 12 <x@y>\r\n");
    writeFile("N0000007/N0000011.omb", "body");
    std::string rec1 = "N0000010.omh\r\nO\r\nAuthor One\r\nalt.test\r\nFirst\r\n01 Jan 97\r\n970101000000\r\n1\r\n<abc@host>\r\n";
    std::string rec2 = "N0000011.omh\r\nM\r\nAuthor Two\r\nalt.test\r\nSecond\r\n01 Jan 97\r\n970101000000\r\n1\r\n<x@y>\r\n";
    writeFile("N0000007/n.lst", rec1 + rec2);
    char index[64];
    std::snprintf(index, sizeof index, "%010lu  %010lu\r\n%010lu  %010lu\r\n", static_cast<unsigned long>(rec1.size()), 1ul, 0ul, 0ul);
    writeFile("N0000007/n5.idx", index);

    std::string id, body, text;
    char status = 0;
    int32_t hasBody = -1;
    uint32_t article = 0;
    ASSERT_EQ(torvakit::GetMessageId("N0000007\\", id, body, 0, 5, status, hasBody, article), 1);
    EXPECT_EQ(id, "<x@y>");
    EXPECT_EQ(article, 12u);
    EXPECT_EQ(status, 'M');
    EXPECT_EQ(hasBody, 1);
    EXPECT_EQ(body, "N0000007\\N0000011.omb");
    ASSERT_EQ(torvakit::GetMessageId("N0000007\\", id, body, 1, 5, status, hasBody, article), 1);
    EXPECT_EQ(id, "<abc@host>");
    EXPECT_EQ(article, 4711u);
    EXPECT_EQ(status, 'O');
    EXPECT_EQ(hasBody, 0);
    // A row past the index, or a sort type without index: the first record.
    ASSERT_EQ(torvakit::GetSubject("N0000007\\", text, body, 9, 5), 1);
    EXPECT_EQ(text, "First");
    ASSERT_EQ(torvakit::GetAuth("N0000007\\", text, body, 0, 5), 1);
    EXPECT_EQ(text, "Author Two");
    EXPECT_EQ(body, "N0000007\\N0000011.omb");
    ASSERT_EQ(torvakit::GetSubject("N0000007\\", text, body, 0, 3), 1);
    EXPECT_EQ(text, "First");

    EXPECT_EQ(torvakit::GetSubject("NONE\\", text, body, 0, 5), 0);
    EXPECT_EQ(text, "");
    fs::remove("N0000007/N0000011.omh");
    EXPECT_EQ(torvakit::GetMessageId("N0000007\\", id, body, 0, 5, status, hasBody, article), 0);
    EXPECT_EQ(id, "");
    // A damaged record naming a path outside the folder is refused.
    writeFile("N0000007/n.lst", "../../etc/passwd\r\nU\r\n");
    EXPECT_EQ(torvakit::GetAuth("N0000007\\", text, body, 0, 7), 0);
}
