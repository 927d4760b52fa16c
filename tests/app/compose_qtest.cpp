// The compose window headless over a real main window: what each mode loads,
// the checks, what OK writes into the outbox (the composed header format
// byte for byte, attachment sets, UTF-8 declared), failures undone, the
// pickers, templates and clear all; and the address book file.
#include "addressbook/addrbook.h"
#include "compose/composecommands.h"
#include "compose/mailform.h"
#include "main/mainform.h"
#include "platform/fsys.h"
#include "settings/gen.h"
#include "storefixture.h"
#include "store/torvakit.h"
#include "support/tempdir.h"
#include "ui/dialogs.h"
#include "ui/qtloop.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <functional>

using testsupport::readFile;
using testsupport::writeFile;

class ComposeTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void aNewMessageIsWrittenInTheComposedFormat();
    void theChecksKeepTheWindowOpenAndWriteNothing();
    void aFailedWriteIsReportedAndLeavesNothingInTheOutbox();
    void replyTakesReplyToAndQuotesTheBody();
    void forwardFollowUpAndRecomposeLoadTheirFields();
    void clearAllInFollowUpGivesNewArticleAndKeepsFollowUpTo();
    void twoPickedAddressesAreJoinedByAComma();
    void aTemplateSavedWithoutExtensionMergesIntoAFilledWindow();
    void aUuencodedAttachmentBecomesFourItemsThatUudecodeJoins();
    void aMimeAttachmentGivesTheFileBackToPython();
    void textOutsideAsciiIsDeclaredAndEncoded();
    void todaysMailIsAnsweredAsItReads();
    void theAddressBookKeepsItsColumns();

private:
    struct Shown {
        QtEventLoop loop;
        Tmainform w;
        Tgen settings{w.ini(), &w};
        Shown() {
            settings.rname = "Me Myself";
            settings.email = "me@lab.test";
            settings.user = "me";
            settings.pop = "lab.test";
            settings.timez = "+0000";
            settings.reply.clear();
            settings.org.clear();
            w.useSettings(&settings, nullptr);
            w.show();
        }
        ~Shown() {
            w.close();
            w.useSettings(nullptr, nullptr);
        }
        Tmailform& form() { return w.composeCommands().composeWindow(); }
    };
    // Shows the window in a mode and runs act inside it; the dialog result.
    int compose(Tmailform& f, int mode, const QString& source, const std::function<void()>& act) {
        f.setMode(mode, source);
        QTimer::singleShot(0, &f, [&f, act] {
            act();
            if (f.isVisible()) f.reject();
        });
        return f.showModal();
    }
    static void fill(Tmailform& f, const QString& to, const QString& subject, const QString& body) {
        f.dto->setText(to);
        f.dsub->setText(subject);
        f.memo->setPlainText(body);
    }
    // The header lines, with the date and message-id left out.
    static QStringList stableLines(const std::string& header) {
        QStringList lines = QString::fromStdString(header).split("\r\n");
        lines.removeIf([](const QString& l) { return l.startsWith("Date: ") || l.startsWith("Message-Id: "); });
        return lines;
    }
    static bool python(const QString& script) {
        writeFile("check.py", script.toStdString());
        return std::system("python3 check.py") == 0;
    }

    std::unique_ptr<testsupport::TempDir> m_dir;
    QStringList m_boxes;
};

void ComposeTest::init() {
    m_dir = std::make_unique<testsupport::TempDir>(true);
    m_boxes.clear();
    ui::setInformationHook([this](const QString& text) { m_boxes << text; });
    ui::setQuestionHook([](const QString&) { return ui::kResultOk; });
    // A data directory with settings: the first show then opens no settings dialog.
    writeFile("omail.ini", "[general]\nuser=ann\n");
}

void ComposeTest::cleanup() {
    ui::setInformationHook(nullptr);
    ui::setQuestionHook(nullptr);
    m_dir.reset();
}

void ComposeTest::aNewMessageIsWrittenInTheComposedFormat() {
    Shown s;
    Tmailform& f = s.form();
    QString caption;
    const int result = compose(f, compose::kNewMessage, {}, [&] {
        caption = f.windowTitle();
        QVERIFY(f.ccpanel->isVisible() && f.attpanel->isVisible() && !f.folpanel->isVisible());
        fill(f, "Ann <ann@a.org>, bob@b.org", "hello", "line one\n.dot line\n\nlast");
        f.dcc->setText("cat@c.org");
        f.exitcompose1Click();
    });
    QCOMPARE(result, ui::kResultOk);
    QCOMPARE(caption, QString("compose - orrindel mail - new message"));
    QCOMPARE(stableLines(readFile("OUT/N0000000.omh")),
             QStringList({"To: Ann <ann@a.org>, bob@b.org", "Cc: cat@c.org", "From: Me Myself <me@lab.test>",
                          "Subject: hello", "X-Mailer: orrindel mail 32", ""}));
    QCOMPARE(QString::fromStdString(readFile("OUT/N0000000.omb")), QString("line one\r\n.dot line\r\n\r\nlast\r\n"));
    uint32_t next = 0, count = 0;
    torvakit::GetFile("omail.dat", next);
    torvakit::GetFile("OUT/n.cnt", count);
    QCOMPARE(next, 1u);
    QCOMPARE(count, 1u);
}

void ComposeTest::theChecksKeepTheWindowOpenAndWriteNothing() {
    Shown s;
    Tmailform& f = s.form();
    struct Case {
        QString to, subject, body, expected;
    };
    const Case cases[] = {{"", "s", "b", compose::kMissingRecipient},
                          {"a@b.c", "", "b", compose::kMissingSubject},
                          {"a@b.c", "s", "", compose::kMissingBody}};
    for (const Case& c : cases) {
        m_boxes.clear();
        bool stayed = false;
        compose(f, compose::kNewMessage, {}, [&] {
            fill(f, c.to, c.subject, c.body);
            f.exitcompose1Click();
            stayed = f.isVisible() && f.dto->text() == c.to;
        });
        QCOMPARE(m_boxes, QStringList{c.expected});
        QVERIFY(stayed);
    }
    QVERIFY(!platform::fileExists("OUT/n.lst"));
    // A body of one empty line is a body.
    QCOMPARE(compose(f, compose::kNewMessage, {}, [&] {
                 fill(f, "a@b.c", "s", "\n");
                 f.exitcompose1Click();
             }),
             ui::kResultOk);
}

void ComposeTest::aFailedWriteIsReportedAndLeavesNothingInTheOutbox() {
    Shown s;
    Tmailform& f = s.form();
    testsupport::addItem("OUT", 50, "x@y.z", "already there", 'U');
    const std::string list = readFile("OUT/n.lst");
    // The count cannot be written: the record must not stay either.
    std::filesystem::create_directory("OUT/n.cnt.keep");
    std::filesystem::rename("OUT/n.cnt", "OUT/n.cnt.keep/n.cnt");
    std::filesystem::create_directory("OUT/n.cnt");
    bool stayed = false;
    compose(f, compose::kNewMessage, {}, [&] {
        fill(f, "a@b.c", "kept", "typed text");
        f.exitcompose1Click();
        stayed = f.isVisible() && f.memo->toPlainText() == "typed text";
    });
    QCOMPARE(m_boxes, QStringList{compose::kCannotWrite});
    QVERIFY(stayed);
    QCOMPARE(readFile("OUT/n.lst"), list);
    QVERIFY(!platform::fileExists("OUT/N0000000.omh"));
    QVERIFY(!platform::fileExists("OUT/N0000000.omb"));
}

void ComposeTest::replyTakesReplyToAndQuotesTheBody() {
    Shown s;
    Tmailform& f = s.form();
    platform::createDirectory("IN");
    writeFile("IN/N0000007.omh", "+OK\r\nFrom: Ann <ann@a.org>\r\nReply-To: Lists Desk <desk@a.org>\r\nTo: me@lab.test\r\n"
                                 "Subject: plans\r\nDate: Sat, 6 Dec 1997 19:01:54 +0000\r\nMessage-Id: <p1@a.org>\r\n");
    writeFile("IN/N0000007.omb", "first\r\nsecond\r\n");
    QString to, subject, body, caption;
    compose(f, compose::kReply, "IN/N0000007.omb", [&] {
        to = f.dto->text();
        subject = f.dsub->text();
        body = f.memo->toPlainText();
        caption = f.windowTitle();
        f.exitcompose1Click();
    });
    QCOMPARE(caption, QString("compose - orrindel mail - reply message"));
    QCOMPARE(to, QString("Lists Desk <desk@a.org>"));
    QCOMPARE(subject, QString("Re: plans"));
    QCOMPARE(body, QString("on 06 Dec 97, Lists Desk wrote...\n\n>first\n>second"));
    QVERIFY(readFile("OUT/N0000000.omh").find("\r\nReferences: <p1@a.org>\r\n") != std::string::npos);
}

void ComposeTest::forwardFollowUpAndRecomposeLoadTheirFields() {
    Shown s;
    Tmailform& f = s.form();
    testsupport::addItem("IN", 3, "Ann <ann@a.org>", "news of the day", 'R');
    QString subject, body, to;
    int mode = 0;
    compose(f, compose::kForward, "IN/N0000003.omb", [&] {
        subject = f.dsub->text();
        body = f.memo->toPlainText();
        to = f.dto->text();
    });
    QCOMPARE(subject, QString("Fwd: news of the day"));
    QVERIFY(body.startsWith("this is a forwarded message\n\noriginal header:\n\nFrom: Ann"));
    QVERIFY(to.isEmpty());

    // A follow-up to a mail item starts without a newsgroup.
    compose(f, compose::kFollowUp, "IN/N0000003.omb", [&] {
        to = f.dto->text();
        subject = f.dsub->text();
        body = f.memo->toPlainText();
    });
    QVERIFY(to.isEmpty());
    QCOMPARE(subject, QString("Re: news of the day"));
    QVERIFY(body.endsWith(">text of news of the day"));

    // Recompose: a news item becomes a new article, a mail item a new message.
    platform::createDirectory("N0000001");
    writeFile("N0000001/N0000009.omh", "221 9 <a9@n>\r\nNewsgroups: alt.test,comp.misc\r\nFrom: B <b@n>\r\n"
                                       "Subject: kept -- file.zip (0/2)\r\nDate: Sat, 6 Dec 1997 19:01:54 +0000\r\n");
    writeFile("N0000001/N0000009.omb", "article text\r\n");
    QString caption;
    compose(f, compose::kRecompose, "N0000001/N0000009.omb", [&] {
        to = f.dto->text();
        subject = f.dsub->text();
        body = f.memo->toPlainText();
        caption = f.windowTitle();
        mode = f.mode();
        QVERIFY(f.folpanel->isVisible() && !f.ccpanel->isVisible());
        QCOMPARE(f.tobtn->text(), QString("newsgroup"));
    });
    QCOMPARE(mode, int(compose::kNewArticle));
    QCOMPARE(caption, QString("compose - orrindel mail - new article"));
    QCOMPARE(to, QString("alt.test,comp.misc"));
    QCOMPARE(subject, QString("kept -- file.zip (0/2)"));
    QCOMPARE(body, QString("article text"));
    compose(f, compose::kRecompose, "IN/N0000003.omb", [&] { mode = f.mode(); });
    QCOMPARE(mode, int(compose::kNewMessage));
}

void ComposeTest::clearAllInFollowUpGivesNewArticleAndKeepsFollowUpTo() {
    Shown s;
    Tmailform& f = s.form();
    QString caption, followUp, to;
    int mode = 0;
    compose(f, compose::kFollowUp, {}, [&] {
        fill(f, "alt.test", "s", "b");
        f.dfol->setText("alt.followup");
        f.clearall1Click();
        caption = f.windowTitle();
        followUp = f.dfol->text();
        to = f.dto->text() + f.dsub->text() + f.memo->toPlainText();
        mode = f.mode();
    });
    QCOMPARE(mode, int(compose::kNewArticle));
    QCOMPARE(caption, QString("compose - orrindel mail - new article"));
    QCOMPARE(followUp, QString("alt.followup"));
    QVERIFY(to.isEmpty());
}

void ComposeTest::twoPickedAddressesAreJoinedByAComma() {
    Shown s;
    Tmailform& f = s.form();
    Taddrbookform& book = s.w.composeCommands().addressBook();
    writeFile("OMAIL.ALA", "Ann                      ann@a.org\r\nBob                      bob@b.org\r\n");
    auto pickRow = [&book](int row) {
        QTimer::singleShot(0, &book, [&book, row] {
            book.addrlist->setCurrentRow(row);
            emit book.addrlist->itemClicked(book.addrlist->item(row));
            emit book.addrlist->itemDoubleClicked(book.addrlist->item(row));
        });
    };
    QString to;
    compose(f, compose::kNewMessage, {}, [&] {
        pickRow(0);
        f.tobtnClick();
        pickRow(1);
        f.tobtnClick();
        to = f.dto->text();
    });
    QCOMPARE(to, QString("Ann <ann@a.org>,Bob <bob@b.org>"));
}

void ComposeTest::aTemplateSavedWithoutExtensionMergesIntoAFilledWindow() {
    Shown s;
    Tmailform& f = s.form();
    const QString base = QString::fromStdString(m_dir->file("greeting"));
    f.setFileChooser([&](const QString&, const QString&, const QString&, bool) { return base; });
    compose(f, compose::kNewMessage, {}, [&] {
        fill(f, "ann@a.org", "template subject", "dear all\nbest");
        f.drep->setText("desk@a.org");
        f.saveastemplatefile1Click();
    });
    QCOMPARE(readFile("greeting.omt"), std::string("ann@a.org\r\ntemplate subject\r\n\r\n\r\ndesk@a.org\r\n"));
    QCOMPARE(readFile("greeting.omD"), std::string("dear all\r\nbest\r\n"));

    QString to, subject, body, reply;
    compose(f, compose::kNewMessage, {}, [&] {
        fill(f, "bob@b.org", "mine", "top\n");
        f.memo->moveCursor(QTextCursor::End);
        f.mergetemplatefile1Click();
        to = f.dto->text();
        subject = f.dsub->text();
        body = f.memo->toPlainText();
        reply = f.drep->text();
    });
    QCOMPARE(to, QString("bob@b.org,ann@a.org"));
    QCOMPARE(subject, QString("mine"));
    QCOMPARE(reply, QString("desk@a.org"));
    QCOMPARE(body, QString("top\ndear all\nbest"));
}

void ComposeTest::aUuencodedAttachmentBecomesFourItemsThatUudecodeJoins() {
    Shown s;
    Tmailform& f = s.form();
    std::string data;
    for (int i = 0; i < 250 * 1024; ++i) data += static_cast<char>((i * 7919) % 251);
    writeFile("payload.bin", data);
    writeFile("omail.dat", "20\r\n");
    compose(f, compose::kNewMessage, {}, [&] {
        fill(f, "ann@a.org", "the file", "see attached");
        f.datt->setText(QString::fromStdString(m_dir->file("payload.bin")));
        f.exitcompose1Click();
    });
    uint32_t next = 0;
    torvakit::GetFile("omail.dat", next);
    QCOMPARE(next, 24u);
    for (int j = 0; j <= 3; ++j) {
        const std::string header = readFile("OUT/N00000" + std::to_string(20 + j) + ".omh");
        const std::string label = "payload.bin (" + std::to_string(j) + "/3)";
        QVERIFY2(header.find("Subject: the file -- " + label + "\r\nX-Attachment: " + label) != std::string::npos,
                 header.c_str());
    }
    std::string joined;
    for (int j = 1; j <= 3; ++j) joined += readFile("OUT/N00000" + std::to_string(20 + j) + ".omb");
    writeFile("joined.uue", joined);
    std::filesystem::create_directory("dec");
    QCOMPARE(std::system("cd dec && uudecode ../joined.uue"), 0);
    QVERIFY(readFile("dec/payload.bin") == data);
}

void ComposeTest::aMimeAttachmentGivesTheFileBackToPython() {
    Shown s;
    s.settings.enctyp = 1;
    Tmailform& f = s.form();
    std::string data(40000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 256);
    writeFile("image.png", data);
    compose(f, compose::kNewMessage, {}, [&] {
        fill(f, "ann@a.org", "picture", "here it is");
        f.datt->setText(QString::fromStdString(m_dir->file("image.png")));
        f.exitcompose1Click();
    });
    QVERIFY(python("import email,sys\n"
                   "m=email.message_from_bytes(open('OUT/N0000001.omh','rb').read()+b'\\r\\n'+"
                   "open('OUT/N0000001.omb','rb').read())\n"
                   "parts=[p for p in m.walk() if p.get_filename()]\n"
                   "sys.exit(0 if parts and parts[0].get_payload(decode=True)==open('image.png','rb').read() else 1)\n"));
}

void ComposeTest::textOutsideAsciiIsDeclaredAndEncoded() {
    Shown s;
    s.settings.rname = "Zoë Ångström";
    s.settings.org = "Café Müller";
    Tmailform& f = s.form();
    compose(f, compose::kNewMessage, {}, [&] {
        fill(f, "Jürgen <j@a.org>, ann@a.org", "Grüße aus Köln", "naïve café\nplain line");
        f.exitcompose1Click();
    });
    const std::string header = readFile("OUT/N0000000.omh");
    QVERIFY2(std::all_of(header.begin(), header.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }),
             header.c_str());
    QVERIFY(header.find("MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                        "Content-Transfer-Encoding: 8bit\r\nDate: ") != std::string::npos);
    // The outbox list shows the readable text.
    QVERIFY(readFile("OUT/n.lst").find("Grüße aus Köln\r\n") != std::string::npos);
    QVERIFY(python("import email,sys\nfrom email import policy\n"
                   "m=email.message_from_bytes(open('OUT/N0000000.omh','rb').read()+b'\\r\\n'+"
                   "open('OUT/N0000000.omb','rb').read(),policy=policy.default)\n"
                   "ok=m['subject']=='Grüße aus Köln' and m['from'].addresses[0].display_name=='Zoë Ångström'"
                   " and m['organization']=='Café Müller' and m['to'].addresses[0].display_name=='Jürgen'"
                   " and m.get_content().replace('\\r\\n','\\n')=='naïve café\\nplain line\\n'\n"
                   "sys.exit(0 if ok else 1)\n"));
    // Loaded again, the fields read as typed.
    QString subject;
    compose(f, compose::kRecompose, "OUT/N0000000.omb", [&] { subject = f.dsub->text(); });
    QCOMPARE(subject, QString("Grüße aus Köln"));
}

// Replies and forwards of MIME mail take the text as the viewer shows it:
// encoded words decoded, base64 undone, an HTML-only text made plain, the
// attachment left out; the stored files stay as they were.
void ComposeTest::todaysMailIsAnsweredAsItReads() {
    Shown s;
    Tmailform& f = s.form();
    platform::createDirectory("IN");
    const std::string mixedHeader =
        "+OK\r\nFrom: =?UTF-8?B?zp3Or866zr/PgiDOoM6xz4DPgM6sz4I=?= <nikos@a.org>\r\nTo: me@lab.test\r\n"
        "Subject: =?UTF-8?Q?=CE=9A=CE=B1=CE=BB=CE=B7=CE=BC=CE=AD=CF=81=CE=B1?=\r\n"
        "Date: Sat, 6 Dec 2025 10:00:00 +0000\r\nMessage-Id: <g1@a.org>\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n";
    const std::string mixedBody =
        "--b1\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "zpPOtc65zrEgz4POv8+FIM6Gzr3Ovc6xLAp0byBhcmNoZWlvLgo=\r\n"
        "--b1\r\nContent-Type: application/pdf; name=\"r.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "JVBERi0xLjQK\r\n--b1--\r\n";
    writeFile("IN/N0000001.omh", mixedHeader);
    writeFile("IN/N0000001.omb", mixedBody);
    writeFile("IN/N0000002.omh", "+OK\r\nFrom: web@a.org\r\nSubject: offer\r\nDate: Sat, 6 Dec 2025 10:00:00 +0000\r\n"
                                 "MIME-Version: 1.0\r\nContent-Type: text/html; charset=iso-8859-1\r\n");
    writeFile("IN/N0000002.omb", "<html><body><p>Caf\xe9 <b>today</b></p><p>second&nbsp;para</p></body></html>\r\n");
    QString to, subject, body, forward, html;
    compose(f, compose::kReply, "IN/N0000001.omb", [&] {
        to = f.dto->text();
        subject = f.dsub->text();
        body = f.memo->toPlainText();
    });
    QCOMPARE(to, QString("Νίκος Παππάς <nikos@a.org>"));
    QCOMPARE(subject, QString("Re: Καλημέρα"));
    QVERIFY2(body.endsWith("wrote...\n\n>Γεια σου Άννα,\n>to archeio."), qPrintable(body));
    QVERIFY2(body.startsWith("on 06 Dec 25, Νίκος Παππάς wrote"), qPrintable(body));
    compose(f, compose::kForward, "IN/N0000001.omb", [&] { forward = f.memo->toPlainText(); });
    QVERIFY2(forward.contains("original message:\n\nΓεια σου Άννα,\nto archeio.") && !forward.contains("JVBER"),
             qPrintable(forward));
    compose(f, compose::kReply, "IN/N0000002.omb", [&] { html = f.memo->toPlainText(); });
    QVERIFY2(html.contains(">Café today\n") && html.contains(">second para") && !html.contains("<"), qPrintable(html));
    QCOMPARE(readFile("IN/N0000001.omb"), mixedBody);
}

void ComposeTest::theAddressBookKeepsItsColumns() {
    using namespace addressbook;
    QCOMPARE(makeLine("Ann", "ann@a.org"), QString("Ann") + QString(22, ' ') + "ann@a.org");
    QCOMPARE(makeLine(QString(24, 'x'), "a@b"), QString(24, 'x') + " a@b");
    QCOMPARE(makeLine("A much longer display name here", "a@b").indexOf("a@b"), 25);
    QVERIFY(makeLine("", "a@b").isEmpty());
    struct Split {
        QString line, name, address;
    };
    const Split splits[] = {{QString("Ann   ") + QString(19, ' ') + "ann@a.org", "Ann", "ann@a.org"},
                            {QString(24, 'y') + " y@z", QString(24, 'y'), "y@z"},
                            {"Bob bob@b.org", "Bob", "bob@b.org"},
                            {"short@x.org", "", "short@x.org"},
                            {"", "", ""}};
    for (const Split& c : splits) {
        QString name, address;
        splitLine(c.line, name, address);
        QCOMPARE(name, c.name);
        QCOMPARE(address, c.address);
    }

    Shown s;
    Taddrbookform& book = s.w.composeCommands().addressBook();
    writeFile("OMAIL.ALA", "Cid                      cid@c.org\nbea                      bea@b.org\r");
    testsupport::addItem("IN", 1, "A Display Name Far Longer Than Fits <long@x.org>", "hi", 'U');
    s.w.reloadList();
    s.w.setCurrentItem(0);
    QTimer::singleShot(0, &book, [&book] {
        book.addbtnClick();
        book.sortbtnClick();
        book.okbtnClick();
    });
    s.w.composeCommands().addressbook1Click();
    QCOMPARE(QString::fromStdString(readFile("OMAIL.ALA")),
             "A Display Name Far Longe long@x.org\r\nbea                      bea@b.org\r\n"
             "Cid                      cid@c.org\r\n");
}

QTEST_MAIN(ComposeTest)
#include "compose_qtest.moc"
