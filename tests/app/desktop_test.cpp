// The desktop side of the program: mailto: links, the data directory rule
// and the texts of new-mail notices.
#include "desktop/mailto.h"
#include "desktop/notices.h"
#include "desktop/startup.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace desktop;

TEST(Mailto, FieldsAreDecodedAndMerged) {
    const auto f = parseMailto(
        "MAILTO:a@example.net,%20b@example.net?subject=Gr%C3%BC%C3%9Fe+1%2B1&CC=c@example.net&to=d@example.net"
        "&cc=e@example.net&body=line%201%0D%0Aline%202%0Aend&subject=second");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->to, "a@example.net,b@example.net,d@example.net");
    EXPECT_EQ(f->cc, "c@example.net,e@example.net");
    EXPECT_EQ(f->subject, QString::fromUtf8("Grüße+1+1"));  // '+' is no space in a mailto: link
    EXPECT_EQ(f->body, "line 1\nline 2\nend");
    EXPECT_FALSE(parseMailto("http://example.net/?to=a@example.net"));
    const auto bare = parseMailto("mailto:");
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->to.isEmpty() && bare->subject.isEmpty());
}

TEST(Mailto, NoHeaderLinesHiddenRecipientsOrFilesGetIn) {
    const auto f = parseMailto(
        "mailto:a@example.net%0D%0ABcc:%20spy@example.net?subject=hi%0D%0ABcc:%20spy@example.net"
        "&bcc=spy@example.net&attach=/etc/passwd&attachment=file:///etc/shadow");
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->to.contains('\n') || f->to.contains('\r'));
    EXPECT_FALSE(f->subject.contains('\n') || f->subject.contains('\r'));
    EXPECT_EQ(f->subject, "hi  Bcc: spy@example.net");
    EXPECT_TRUE(f->cc.isEmpty());
    EXPECT_FALSE(f->body.contains("passwd"));
}

TEST(StartArguments, DirectoryAndLinkInEitherOrder) {
    StartArguments a = parseArguments({"mailto:a@example.net", "/data"});
    EXPECT_EQ(a.directory, "/data");
    EXPECT_EQ(a.link, "mailto:a@example.net");
    EXPECT_TRUE(a.error.isEmpty());
    EXPECT_FALSE(parseArguments({"/one", "/two"}).error.isEmpty());
    EXPECT_FALSE(parseArguments({"mailto:a", "mailto:b"}).error.isEmpty());
}

TEST(DataDirectory, HomeUsesTheUserDataDirectoryElsewhereTheCurrentOne) {
    QTemporaryDir home;
    const QString h = home.path();
    QDir(h).mkdir("work");
    const StartArguments none;
    EXPECT_EQ(chooseDataDirectory(none, h, h, {}), h + "/.local/share/orrindel-mail");
    EXPECT_EQ(chooseDataDirectory(none, h + "/", h, "/xdg/data"), "/xdg/data/orrindel-mail");
    // A relative XDG_DATA_HOME is not to be used.
    EXPECT_EQ(chooseDataDirectory(none, h, h, "rel/data"), h + "/.local/share/orrindel-mail");
    EXPECT_EQ(chooseDataDirectory(none, h + "/work", h, {}), "");
    EXPECT_EQ(chooseDataDirectory(none, h, {}, {}), "");
    // Data kept in the home directory before stays in use.
    QFile ini(h + "/omail.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.close();
    EXPECT_EQ(chooseDataDirectory(none, h, h, {}), "");
    StartArguments given;
    given.directory = h + "/work";
    EXPECT_EQ(chooseDataDirectory(given, h, h, {}), h + "/work");
}

TEST(DataDirectory, CreatedPrivateWhateverTheUmaskAndExistingOneLeftAlone) {
    QTemporaryDir home;
    const QString path = home.path() + "/a/b/orrindel-mail";
    const mode_t old = umask(0);
    QString error;
    const bool made = ensurePrivateDirectory(path, error);
    umask(old);
    ASSERT_TRUE(made) << error.toStdString();
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    chmod(QFile::encodeName(path).constData(), 0750);
    EXPECT_TRUE(ensurePrivateDirectory(path, error));
    stat(QFile::encodeName(path).constData(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    QFile file(home.path() + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(ensurePrivateDirectory(home.path() + "/plain", error));
    EXPECT_FALSE(ensurePrivateDirectory(home.path() + "/plain/sub", error));
}

TEST(Notices, SummaryAndSenders) {
    EXPECT_EQ(noticeSummary(1), "1 new message");
    EXPECT_EQ(noticeSummary(7), "7 new messages");
    EXPECT_EQ(noticeBody({"Ann"}), "from Ann");
    EXPECT_EQ(noticeBody({"Ann", "Bob", "Ann"}), "from Ann and Bob");
    EXPECT_EQ(noticeBody({"Ann", "Bob", "Cy", "Dee", "", "Ann"}), "from Ann, Bob, Cy and 2 more");
    EXPECT_EQ(noticeBody({"", "Bob"}), "from Bob and 1 more");
    EXPECT_EQ(noticeBody({"", ""}), "");
}

TEST(Notices, AuthorOfAHeaderFile) {
    QTemporaryDir dir;
    auto author = [&](const QByteArray& header) {
        QFile file(dir.path() + "/N0000001.omh");
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(header);
        file.close();
        return authorOfHeader((dir.path() + "/N0000001.omh").toStdString());
    };
    EXPECT_EQ(author("+OK message follows\r\nTo: x@y\r\nFrom: Ann Example <ann@example.net>\r\n\r\n"), "Ann Example");
    EXPECT_EQ(author("From: =?UTF-8?Q?J=C3=BCrgen?= <j@example.net>\r\n"), QString::fromUtf8("Jürgen"));
    const QString marked = author("From: \"<b>Boss</b> & co\" <boss@example.net>\r\n");
    EXPECT_TRUE(marked.contains("Boss") && !marked.contains('<') && !marked.contains('&')) << marked.toStdString();
    EXPECT_EQ(author("Subject: none\r\n\r\nFrom: in the body <no@example.net>\r\n"), "");
    EXPECT_EQ(authorOfHeader((dir.path() + "/missing.omh").toStdString()), "");
    // The retrieval names the folder as "in"; on disk it may be "IN".
    QDir(dir.path()).mkdir("IN");
    QFile inbox(dir.path() + "/IN/N0000002.OMH");
    ASSERT_TRUE(inbox.open(QIODevice::WriteOnly));
    inbox.write("From: Cy <cy@example.net>\r\n");
    inbox.close();
    EXPECT_EQ(authorOfHeader((dir.path() + "/in/N0000002.omh").toStdString()), "Cy");
}
