// Reading items: the viewer's navigation, display and keys; viewing from the
// main window; printing to a PDF; launching through a test XDG handler;
// multi-item uudecoding; the decode log and the header dialog.
#include "main/mainform.h"
#include "settings/gen.h"
#include "storefixture.h"
#include "windowfixture.h"
#include "support/tempdir.h"
#include "ui/dialogs.h"
#include "ui/launching.h"
#include "ui/printing.h"
#include "ui/qtloop.h"
#include "ui/savedialog.h"
#include "ui/virtuallist.h"
#include "viewer/bodytext.h"
#include "viewer/headform.h"
#include "viewer/logform.h"
#include "viewer/viewcommands.h"
#include "viewer/viewform.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <tuple>

using testsupport::readFile;
using testsupport::writeFile;
namespace fs = std::filesystem;

class ViewerTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void navigationPassesOverMissingBodiesAndKeepsTheListInStep();
    void enterOpensTheViewerAndTheListFollowsItBack();
    void bodyTextKeepsEveryByte();
    void todaysMailReadsAsWrittenAndAnswersThroughCompose();
    void printingWritesHeaderThenBodyOverPages();
    void launchingPassesTheFileAsOneArgument();
    void multiPartUuencodedFilesAreJoined();
    void unheadedBase64AndSavingAnItem();
    void decodeLog();
    void headerDialogModes();
    void windowPlacesAreKept();

private:
    using Shown = testsupport::ShownMainform;
    // The viewer on a row of the shown folder, as the main window opens it.
    static void openOn(Tviewform& v, Tmainform& w, int row);
    static std::string subjectOf(Tmainform& w, int row);
    // Closes the next modal dialog as soon as it shows.
    static void closeNextModal(QString* title = nullptr);

    std::unique_ptr<testsupport::TempDir> m_dir;
    QStringList m_boxes;
    QStringList m_questions;
};

void ViewerTest::init() {
    m_dir = std::make_unique<testsupport::TempDir>(true);
    // A data directory with settings: the first show then opens no settings dialog.
    testsupport::writeFile("omail.ini", "[general]\nuser=ann\n");
    m_boxes.clear();
    m_questions.clear();
    ui::setInformationHook([this](const QString& text) { m_boxes << text; });
    ui::setQuestionHook([this](const QString& text) {
        m_questions << text;
        return ui::kResultOk;
    });
}

void ViewerTest::cleanup() {
    ui::setInformationHook(nullptr);
    ui::setQuestionHook(nullptr);
    ui::setSaveFileHook(nullptr);
    ui::setPrintTarget(QString());
    m_dir.reset();
}

void ViewerTest::openOn(Tviewform& v, Tmainform& w, int row) {
    v.currentRow = row;
    v.sortType = w.sortType();
    v.itemCount = w.itemCount();
    v.folderPath = w.folderPath();
    v.folderName = w.shownFolderName();
    v.bodyPath = w.bodyPathOfRow(row);
    v.display();
}

std::string ViewerTest::subjectOf(Tmainform& w, int row) {
    std::string subject, body;
    torvakit::GetSubject(w.folderPath(), subject, body, row, w.sortType());
    return subject;
}

void ViewerTest::closeNextModal(QString* title) {
    QTimer::singleShot(0, [title] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return closeNextModal(title);
        if (title) *title = modal->windowTitle();
        modal->close();
    });
}

void ViewerTest::navigationPassesOverMissingBodiesAndKeepsTheListInStep() {
    // Rows 0..6 by date; rows 2 and 5 are headers without bodies.
    const char statuses[] = {'U', 'R', 'O', 'H', 'U', 'U', 'R'};
    for (int i = 0; i < 7; ++i) testsupport::addItem("IN", i + 1, "a@a.org", "s" + std::to_string(i), statuses[i]);
    Shown s;
    fs::remove("IN/N0000003.omb");
    fs::remove("IN/N0000006.omb");
    ViewCommands commands(s.w);
    Tviewform& v = commands.viewer();
    QCOMPARE(subjectOf(s.w, 0), std::string("s0"));
    openOn(v, s.w, 0);
    QCOMPARE(v.windowTitle(), QString("view - orrindel mail - in (1/7)"));
    QVERIFY(v.bodymemo->toPlainText().startsWith("text of s0"));
    QVERIFY(v.headermemo->toPlainText().contains("s0"));

    auto type = [&](const char* keys) { QTest::keyClicks(v.bodymemo, keys); };
    auto status = [&](int row) { return char(torvakit::GetListStatus(v.folderPath, row, v.sortType)); };
    type("n");  // row 1
    QCOMPARE(v.currentRow, 1);
    type("n");  // row 2 has no body: row 3, highlighted and left so
    QCOMPARE(v.currentRow, 3);
    QCOMPARE(s.w.currentItem(), 3);
    QCOMPARE(status(3), 'H');
    QVERIFY(v.bodymemo->toPlainText().startsWith("text of s3"));
    type("NXq7 ");  // capitals, other letters, digits, space: nothing
    QCOMPARE(v.currentRow, 3);
    type("a");  // next unread: row 4 (U)
    QCOMPARE(v.currentRow, 4);
    QCOMPARE(status(4), 'R');
    type("a");  // 5 has no body, 6 is read: none, stays
    QCOMPARE(v.currentRow, 4);
    QCOMPARE(s.w.currentItem(), 4);
    type("b");  // last with a body
    QCOMPARE(v.currentRow, 6);
    type("n");  // past the end
    QCOMPARE(v.currentRow, 6);
    QCOMPARE(s.w.currentItem(), 6);
    QCOMPARE(v.windowTitle(), QString("view - orrindel mail - in (7/7)"));
    type("t");
    QCOMPARE(v.currentRow, 0);
    QCOMPARE(status(0), 'R');
    type("p");  // before the first
    QCOMPARE(v.currentRow, 0);
    QCOMPARE(s.w.currentItem(), 0);
    type("h");  // next highlighted
    QCOMPARE(v.currentRow, 3);
    type("h");
    QCOMPARE(v.currentRow, 3);
    type("p");  // back over the missing body
    QCOMPARE(v.currentRow, 1);
    QVERIFY(m_boxes.isEmpty());

    // A long body shows its first lines at once and fills in behind them;
    // stepping away meanwhile leaves only the new item in the pane.
    std::string longBody;
    for (int i = 0; i < 40000; ++i) longBody += "line " + std::to_string(i) + " of the long body\r\n";
    writeFile("IN/N0000001.omb", longBody);
    type("t");
    QVERIFY(v.bodyLoading());
    QTRY_VERIFY(!v.bodyLoading());
    QCOMPARE(v.bodymemo->toPlainText(), QString::fromStdString(longBody).replace("\r\n", "\n"));
    type("t");
    QVERIFY(v.bodyLoading());
    type("n");
    QVERIFY(!v.bodyLoading());
    QCOMPARE(v.bodymemo->toPlainText(), QString("text of s1\n"));
}

void ViewerTest::enterOpensTheViewerAndTheListFollowsItBack() {
    for (int i = 0; i < 3; ++i) testsupport::addItem("IN", i + 1, "a@a.org", "s" + std::to_string(i), 'U');
    Shown s;
    QVERIFY(QTest::qWaitForWindowExposed(&s.w));
    s.w.databox->setFocusedRow(0);
    s.w.setCurrentItem(0);
    bool mainHidden = false;
    QString caption;
    QTimer::singleShot(0, [&] {
        auto* v = qobject_cast<Tviewform*>(QApplication::activeModalWidget());
        QVERIFY(v);
        mainHidden = !s.w.isVisible();
        QTest::keyClicks(v->bodymemo, "n");
        caption = v->windowTitle();
        QTest::keyClicks(v->bodymemo, "x");
    });
    QTest::keyClick(s.w.databox, Qt::Key_Return);
    QVERIFY(mainHidden);
    QCOMPARE(caption, QString("view - orrindel mail - in (2/3)"));
    QVERIFY(s.w.isVisible());
    QCOMPARE(s.w.currentItem(), 1);
    QCOMPARE(s.w.windowTitle(), QString("orrindel mail - (2/3)"));
    QCOMPARE(s.w.databox->selectedCount(), 1);
    QCOMPARE(char(torvakit::GetListStatus(s.w.folderPath(), 0, s.w.sortType())), 'R');
    QCOMPARE(char(torvakit::GetListStatus(s.w.folderPath(), 1, s.w.sortType())), 'R');
    QCOMPARE(char(torvakit::GetListStatus(s.w.folderPath(), 2, s.w.sortType())), 'U');

    // A mail item without a body is refused with a message.
    fs::remove("IN/N0000003.omb");
    s.w.bodyPathOfRow(2);
    s.w.findChild<QAction*>("selecteditem1")->trigger();
    QCOMPARE(m_boxes, QStringList{kNoBody});
}

void ViewerTest::bodyTextKeepsEveryByte() {
    // Valid UTF-8 (two, three and four bytes), a Latin-1 byte, an overlong
    // slash, a lone continuation and a truncated sequence at the end.
    const QByteArray bytes("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 caf\xe9 \xc0\xaf \x80 \xe2\x82", 23);
    const QString text = viewer::textOfBytes(bytes);
    QCOMPARE(text, QString::fromUtf8("aé€😀 caf") + QChar(0xe9) + " " + QChar(0xc0) + QChar(0xaf) + " " +
                       QChar(0x80) + " " + QChar(0xe2) + QChar(0x82));
    QCOMPARE(viewer::textOfBytes(QByteArray("\xed\xa0\x80", 3)).size(), 3);  // a surrogate is not UTF-8
}

// A MIME item: the header pane decoded, the text pane the decoded text, the
// attachment listed under it and decoded by its number; print takes the
// same text; "r" reaches the compose handler with the viewer as caller.
void ViewerTest::todaysMailReadsAsWrittenAndAnswersThroughCompose() {
    testsupport::addItem("IN", 1, "Nikos <nikos@a.org>", "greek", 'U');
    writeFile("IN/N0000001.omh",
              "+OK\r\nFrom: =?UTF-8?B?zp3Or866zr/PgiDOoM6xz4DPgM6sz4I=?= <nikos@a.org>\r\nTo: me@a.org\r\n"
              "Subject: =?UTF-8?Q?=CE=9A=CE=B1=CE=BB=CE=B7=CE=BC=CE=AD=CF=81=CE=B1?=\r\n"
              "Date: Sat, 6 Dec 2025 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"b1\"\r\n");
    const std::string body =
        "--b1\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "zpPOtc65zrEgz4POv8+FIM6Gzr3Ovc6xLAp0byBhcmNoZWlvLgo=\r\n"
        "--b1\r\nContent-Type: application/pdf; name=\"r.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "JVBERi0xLjQK\r\n--b1--\r\n";
    writeFile("IN/N0000001.omb", body);
    Shown s;
    ViewCommands commands(s.w);
    std::vector<std::tuple<int, std::string, QWidget*>> composed;
    commands.setComposeHandler([&](int mode, const std::string& source, QWidget* caller) {
        composed.emplace_back(mode, source, caller);
        return ui::kResultCancel;
    });
    Tviewform& v = commands.viewer();
    openOn(v, s.w, 0);
    const QString header = v.headermemo->toPlainText();
    QVERIFY2(header.contains("Καλημέρα") && header.contains("Νίκος Παππάς"), qPrintable(header));
    QCOMPARE(v.bodymemo->toPlainText(), QString("Γεια σου Άννα,\nto archeio.\n"));
    QCOMPARE(v.partbox->count(), 1);
    QVERIFY2(v.partbox->item(0)->text().contains("r.pdf (application/pdf, 9 bytes)"), qPrintable(v.partbox->item(0)->text()));
    QTest::keyClicks(v.bodymemo, "2");  // no such part: nothing
    QVERIFY(!fs::exists("DECODE/r.pdf"));
    QTest::keyClicks(v.bodymemo, "1");
    QCOMPARE(readFile("DECODE/r.pdf"), std::string("%PDF-1.4\n"));
    QTest::keyClicks(v.bodymemo, "r");
    QCOMPARE(composed.size(), size_t(1));
    QCOMPARE(std::get<0>(composed[0]), 2);
    QCOMPARE(std::get<1>(composed[0]), v.bodyPath);
    QCOMPARE(std::get<2>(composed[0]), static_cast<QWidget*>(&v));
    QCOMPARE(readFile("IN/N0000001.omb"), body);
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) return;
    const QString pdf = QString::fromStdString(m_dir->file("mime.pdf"));
    ui::setPrintTarget(pdf);
    v.printitem1Click();
    QProcess text;
    text.start("pdftotext", {pdf, "-"});
    QVERIFY(text.waitForFinished());
    const QString out = QString::fromUtf8(text.readAllStandardOutput());
    QVERIFY2(out.contains("to archeio.") && !out.contains("zpPO") && !out.contains("=?UTF-8"), qPrintable(out));
}

void ViewerTest::printingWritesHeaderThenBodyOverPages() {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) QSKIP("pdftotext is not installed");
    std::string body;
    for (int i = 1; i <= 400; ++i) body += "body line " + std::to_string(i) + "\r\n";
    testsupport::addItem("IN", 1, "Ann Author <ann@a.org>", "printed subject", 'U');
    writeFile("IN/N0000001.omb", body);
    Shown s;
    s.w.bodyPathOfRow(0);
    const QString pdf = QString::fromStdString(m_dir->file("out.pdf"));
    ui::setPrintTarget(pdf);
    s.w.findChild<QAction*>("printselecteditem1")->trigger();
    QCOMPARE(m_questions, QStringList{kPrintThisItem});
    QVERIFY(m_boxes.isEmpty());
    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    QVERIFY(text.waitForFinished());
    const QString out = QString::fromUtf8(text.readAllStandardOutput());
    const qsizetype subject = out.indexOf("printed subject"), first = out.indexOf("body line 1\n"),
                    last = out.indexOf("body line 400");
    QVERIFY2(subject >= 0 && first > subject && last > first, qPrintable(out.left(400)));
    QVERIFY(!out.contains("Message-Id"));  // the short form of the header
    QVERIFY2(out.count('\f') >= 3, "400 lines need more than two pages");

    // No printer at all.
    ui::setPrintTarget(QString());
    if (!QPrinterInfo::defaultPrinter().isNull()) QSKIP("a default printer is configured");
    s.w.findChild<QAction*>("printselecteditem1")->trigger();
    QCOMPARE(m_boxes, QStringList{kCannotOpenPrinter});
}

void ViewerTest::launchingPassesTheFileAsOneArgument() {
    if (QStandardPaths::findExecutable("xdg-mime").isEmpty()) QSKIP("xdg-mime is not installed");
    const std::string home = m_dir->path();
    fs::create_directories(home + "/data/applications");
    fs::create_directories(home + "/config");
    writeFile(home + "/record.sh", "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > " + home + "/record.tmp\nmv " + home +
                                       "/record.tmp " + home + "/record.txt\n");
    fs::permissions(home + "/record.sh", fs::perms::owner_all);
    writeFile(home + "/data/applications/recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=recorder\nExec=" + home + "/record.sh %f\nTerminal=false\n");
    writeFile(home + "/config/mimeapps.list", "[Default Applications]\napplication/x-shellscript=recorder.desktop\n");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home + "/data"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home + "/config"));
    qputenv("XDG_DATA_DIRS", "/usr/share");  // the MIME database; no handler there for scripts
    qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString(home + "/none"));

    testsupport::addItem("IN", 1, "a@a.org", "script", 'U');
    writeFile("IN/N0000001.omb", "see the attached\r\nbegin 644 my run script.sh\r\n"
                                 "-(R$O8FEN+W-H\"F5X:70@,`H`\r\n`\r\nend\r\n");
    Shown s;
    s.w.bodyPathOfRow(0);
    s.w.findChild<QAction*>("launchselecteditem1")->trigger();
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(',')));
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(home + "/record.txt"), 10000);
    QCOMPARE(readFile(home + "/record.txt"), "1|" + fs::canonical("DECODE").string() + "/my run script.sh");
    QCOMPARE(char(torvakit::GetListStatus(s.w.folderPath(), 0, s.w.sortType())), 'R');

    // Exec lines: a quoted program path, the file once for %U, other codes dropped.
    QCOMPARE(ui::expandExec("\"/opt/my app/run\" --open %U %F --name=%c %i", "/d/a b.txt"),
             QStringList({"/opt/my app/run", "--open", "/d/a b.txt", "--name="}));
    QCOMPARE(ui::expandExec("viewer -x", "/d/f"), QStringList({"viewer", "-x", "/d/f"}));
    QVERIFY(ui::expandExec("\"unclosed %f", "/d/f").isEmpty());

    // A type with no handler, and a file that is gone.
    writeFile("DECODE/notes.zzq9", "x");
    writeFile("DECODE/decode.log", "08 Dec 10:00:00 : notes.zzq9\r\n07 Dec 10:00:00 : gone.sh\r\n");
    ViewCommands commands(s.w);
        Tlogform& log = commands.log();
    log.launchNewest();
    QCOMPARE(m_boxes, QStringList{kNoApplication});
    log.logbox->setCurrentRow(1);
    log.launchbtnClick();
    QCOMPARE(m_boxes.last(), QString(kFileNotFound));
}

void ViewerTest::multiPartUuencodedFilesAreJoined() {
    if (QStandardPaths::findExecutable("uuencode").isEmpty()) QSKIP("uuencode is not installed");
    QByteArray data;
    for (int i = 0; i < 9000; ++i) data.append(char((i * 7 + i / 13) & 0xff));
    writeFile("orig.bin", data.toStdString());
    QProcess enc;
    enc.start("uuencode", {"orig.bin", "joined.bin"});
    QVERIFY(enc.waitForFinished());
    const QList<QByteArray> lines = enc.readAllStandardOutput().split('\n');
    auto spread = [&](int parts, int firstNumber, bool padded, bool shuffled) {
        const int per = int(lines.size() + parts - 1) / parts;
        for (int p = 0; p < parts; ++p) {
            QByteArray body = "part text\r\n";
            for (int l = p * per; l < std::min<int>(lines.size(), (p + 1) * per); ++l) body += lines[l] + "\r\n";
            QString number = QString::number(p + 1);
            if (padded) number = number.rightJustified(QString::number(parts).size(), '0');
            // Later parts are older, so the parts are not in row order.
            const int item = shuffled ? firstNumber + parts - p : firstNumber + p;
            testsupport::addItem("IN", item, "a@a.org",
                                 QString("joined.bin (%1/%2)").arg(number).arg(parts).toStdString(), 'U');
            char name[32];
            std::snprintf(name, sizeof name, "IN/N%07d.omb", item);
            writeFile(name, body.toStdString());
        }
    };
    spread(3, 1, false, true);
    Shown s;
    ViewCommands commands(s.w);
    Tviewform& v = commands.viewer();
    auto rowOf = [&](const std::string& subject) {
        for (int r = 0; r < s.w.itemCount(); ++r)
            if (subjectOf(s.w, r) == subject) return r;
        return -1;
    };
    openOn(v, s.w, rowOf("joined.bin (1/3)"));
    QString title;
    closeNextModal(&title);
    v.decodemultipart1Click();
    QCOMPARE(title, QString("decode log - orrindel mail"));
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(',')));
    QCOMPARE(QByteArray::fromStdString(readFile("DECODE/joined.bin")), data);

    // Twelve parts with "01/12" counters; started on part 2 it asks first.
    fs::remove("DECODE/joined.bin");
    s.w.close();
    for (const char* f : {"IN/n.lst", "IN/n.cnt", "IN/n7.idx"}) fs::remove(f);
    for (const auto& e : fs::directory_iterator("IN")) fs::remove(e.path());
    spread(12, 100, true, false);
    s.w.reloadList();
    openOn(v, s.w, rowOf("joined.bin (01/12)"));
    closeNextModal();
    v.decodemultipart1Click();
    QCOMPARE(QByteArray::fromStdString(readFile("DECODE/joined.bin")), data);
    QVERIFY(m_questions.isEmpty());
    openOn(v, s.w, rowOf("joined.bin (02/12)"));
    v.decodemultipart1Click();  // no "begin" in part 2: a failure, after asking
    QCOMPARE(m_questions, QStringList{kDecodeFromHere});
    QCOMPARE(m_boxes, QStringList{"decoding failed [0]"});

    // No counter after the bracket: the shown item alone, which lacks "end".
    std::string prefix;
    int part = 0, count = 0;
    QVERIFY(!Tviewform::partCounter("joined.bin (x/3)", prefix, part, count));
    QVERIFY(!Tviewform::partCounter("joined.bin [2/]", prefix, part, count));
    QVERIFY(Tviewform::partCounter("a (b) [03/12] tail", prefix, part, count));
    QCOMPARE(prefix, std::string("a (b) ["));
    QCOMPARE(part, 3);
    QCOMPARE(count, 12);
}

void ViewerTest::unheadedBase64AndSavingAnItem() {
    testsupport::addItem("IN", 1, "a@a.org", "here is photo.jpg", 'U');
    writeFile("IN/N0000001.omb", "VGhlIHF1aWNrIGJyb3duIGZveA==\r\n");
    Shown s;
    ViewCommands commands(s.w);
    Tviewform& v = commands.viewer();
    openOn(v, s.w, 0);
    closeNextModal();
    v.decodesinglepartnetscapeattachment1Click();
    QCOMPARE(readFile("DECODE/photo.jpg"), std::string("The quick brown fox"));
    // Nothing to decode in a plain body: said so, by menu and by the "l" key.
    writeFile("IN/N0000001.omb", "just text\r\n");
    v.decodesinglepart1Click();
    QTest::keyClicks(v.bodymemo, "l");
    QCOMPARE(m_boxes, QStringList({kDecodingFailed, kDecodingFailed}));
    m_boxes.clear();

    // Save as: ".txt" added to a name without one, the same bytes as the file.
    writeFile("IN/N0000001.omb", std::string("caf\xe9 \xc3\xa9\r\n"));
    fs::create_directory("saved");
    QString offered;
    ui::setSaveFileHook([&](const QString&, const QString& dir, const QString&) {
        offered = dir;
        return QString::fromStdString(m_dir->file("saved/item"));
    });
    s.w.bodyPathOfRow(0);
    s.w.findChild<QAction*>("saveselecteditemas1")->trigger();
    QCOMPARE(offered, QString::fromStdString(m_dir->path()));
    QCOMPARE(readFile("saved/item.txt"), std::string("caf\xe9 \xc3\xa9\r\n"));
    ui::setSaveFileHook([&](const QString&, const QString& dir, const QString&) {
        offered = dir;
        return QString::fromStdString(m_dir->file("no/such/dir/x.txt"));
    });
    s.w.findChild<QAction*>("saveselecteditemas1")->trigger();
    QCOMPARE(offered, QString::fromStdString(m_dir->file("saved")));  // the last directory used
    QCOMPARE(m_boxes, QStringList{kSaveAsFailed});
}

void ViewerTest::decodeLog() {
    QCOMPARE(Tlogform::fileNameOfLine("08 Dec 10:11:12 : my file name.txt"), QString("my file name.txt"));
    QCOMPARE(Tlogform::fileNameOfLine("08 Dec 10:11 : x"), QString());
    QCOMPARE(Tlogform::fileNameOfLine("08 Dec 10:11:12 : a:b"), QString("a:b"));
    {
        Shown s;
        ViewCommands commands(s.w);
        Tlogform& log = commands.log();
        log.logbox->addItem("old line");
        fs::remove("DECODE/decode.log");
        QVERIFY(log.pathOfLine("08 Dec 10:11:12 : ../omail.ini").isEmpty());  // never outside DECODE
        log.resetbtnClick();  // no log file: the list empties, nothing is said
        QCOMPARE(log.logbox->count(), 0);
        QVERIFY(m_boxes.isEmpty());
        writeFile("DECODE/decode.log", "08 Dec 10:00:00 : b.txt\r\n07 Dec 10:00:00 : a.txt\r\n");
        log.launchNewest();
        QCOMPARE(log.logbox->count(), 2);
        QCOMPARE(log.logbox->currentRow(), 0);
        QCOMPARE(m_boxes, QStringList{kFileNotFound});  // b.txt was never decoded
        m_boxes.clear();
        log.resetbtnClick();
        QVERIFY(!fs::exists("DECODE/decode.log"));
    }
}

void ViewerTest::headerDialogModes() {
    omail::GeneralSettings settings;
    writeFile("item.omh", "+OK 120 octets\r\nFrom: a@a.org\r\nSubject: hi\r\n");
    Theadform head(settings);
    head.path = "item.omh";
    head.mode = Theadform::ViewHeader;
    head.show();
    QCOMPARE(head.windowTitle(), QString("view item header"));
    QCOMPARE(head.memo->toPlainText(), QString("From: a@a.org\nSubject: hi\n"));
    QVERIFY(head.memo->isReadOnly());
    QVERIFY(!head.okbtn->isVisible());
    QCOMPARE(head.cancelbtn->text(), QString("exit"));
    head.hide();

    writeFile("item.omh", std::string("To: b@b.org\r\nSubject: caf\xe9\r\n"));  // Latin-1, kept so
    head.mode = Theadform::EditHeader;
    head.show();
    QCOMPARE(head.windowTitle(), QString("edit item header"));
    QVERIFY(!head.memo->isReadOnly() && head.okbtn->isVisible());
    head.memo->appendPlainText("Cc: c@c.org");
    head.okbtnClick();
    QCOMPARE(head.result(), ui::kResultOk);
    QCOMPARE(readFile("item.omh"), std::string("To: b@b.org\r\nSubject: caf\xe9\r\n\r\nCc: c@c.org\r\n"));

    head.mode = Theadform::EditBody;
    head.show();
    QCOMPARE(head.windowTitle(), QString("edit item body"));
    head.memo->clear();
    head.okbtnClick();  // an empty pane is a cancel
    QCOMPARE(head.result(), ui::kResultCancel);
    QVERIFY(fs::file_size("item.omh") > 0);
}

void ViewerTest::windowPlacesAreKept() {
    writeFile("omail.ini", "[general]\nvleft=12\nvtop=34\nvwidth=500\nvheight=300\n");
    {
        Shown s;
        {
            ViewCommands commands(s.w);
            QCOMPARE(commands.viewer().geometry(), QRect(12, 34, 500, 300));
            QCOMPARE(commands.log().size(), QSize(320, 480));  // nothing stored: the designed size
            commands.viewer().resize(520, 310);
        }
        omail::IniFile ini(m_dir->path());
        QCOMPARE(ini.readInteger("vwidth", -1), 520);
        QCOMPARE(ini.readInteger("vheight", -1), 310);
        QCOMPARE(ini.readInteger("lwidth", -1), 320);
    }
}

QTEST_MAIN(ViewerTest)
#include "viewer_qtest.moc"
