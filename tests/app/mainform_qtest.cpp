// The main window starting and closing headless: the lock, the folders, the
// panes, the menus, the geometry keys and the single-instance refusal.
#include "main/gen.h"
#include "main/mainform.h"
#include "platform/fsys.h"
#include "support/tempdir.h"
#include "ui/dialogs.h"
#include "ui/qtloop.h"
#include "ui/virtuallist.h"

#include <QListWidget>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <filesystem>

using testsupport::readFile;
using testsupport::writeFile;

class MainformTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsWithFoldersPanesAndMenus();
    void closingWritesGeometryAndReleasesTheLock();
    void designedSizeWhenNothingIsStored();
    void storedGeometryAndListHeightAreRestored();
    void aSecondInstanceIsRefused();
    void aBadIntegerKeyIsReportedAndItsDefaultUsed();

private:
    std::unique_ptr<testsupport::TempDir> m_dir;
    QStringList m_boxes;
};

void MainformTest::init() {
    m_dir = std::make_unique<testsupport::TempDir>(true);
    m_boxes.clear();
    ui::setInformationHook([this](const QString& text) { m_boxes << text; });
}

void MainformTest::cleanup() {
    ui::setInformationHook(nullptr);
    m_dir.reset();
}

void MainformTest::startsWithFoldersPanesAndMenus() {
    writeFile("folders.lst", "zeta\r\nfriends\r\nwork\r\n");
    writeFile("subscr.lst", "comp.lang.c\r\nalt.test\r\n");
    QtEventLoop loop;
    Tmainform w;
    QVERIFY(!w.lockFailed());
    Tgen settings(w.ini(), &w);
    w.applySettings(settings);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // The first show fills the list: the empty inbox.
    QCOMPARE(w.windowTitle(), QString("orrindel mail - (0/0)"));
    QCOMPARE(w.statusBar()->currentMessage(), QString("ready"));
    for (const char* d : {"IN", "OUT", "SENT", "BIN", "DECODE"}) QVERIFY(std::filesystem::is_directory(d));
    QCOMPARE(QString::fromStdString(readFile("FILE.LOK")), QString("LOCK FILE\r\n"));
    QCOMPARE(QString::fromStdString(w.dataDirectory()), QString::fromStdString(m_dir->path()));

    QStringList folders;
    for (int i = 0; i < w.mailbox->count(); ++i) folders << w.mailbox->item(i)->text();
    QCOMPARE(folders, QStringList({"in", "out", "sent", "bin", "friends", "work", "zeta"}));
    QCOMPARE(w.mailbox->currentRow(), 0);
    QCOMPARE(w.newsbox->count(), 2);
    QCOMPARE(w.newsbox->item(0)->text(), QString("alt.test"));

    QStringList titles;
    for (QAction* a : w.menuBar()->actions()) titles << a->text();
    QCOMPARE(titles, QStringList({"&orrindel mail", "&view", "&compose", "&deliver", "&retrieve", "&settings",
                                  "&help"}));
    int buttons = 0;
    for (auto* b : w.Panel1->findChildren<QToolButton*>()) {
        if (b->objectName().startsWith("qt_")) continue;
        QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName()));
        ++buttons;
    }
    QCOMPARE(buttons, 9);
    QCOMPARE(w.databox->model()->columnCount(), 5);
    QCOMPARE(w.databox->model()->headerData(1, Qt::Horizontal).toString(), QString(" recipient"));
    QCOMPARE(w.sortType, 7);
    QCOMPARE(w.transferState, 0);
    QCOMPARE(w.Timer1->interval(), 10000);
    // Settings colours reach the lists: grey background by default.
    QCOMPARE(w.mailbox->palette().color(QPalette::Base), QColor(192, 192, 192));
    w.close();
}

void MainformTest::closingWritesGeometryAndReleasesTheLock() {
    QtEventLoop loop;
    auto w = std::make_unique<Tmainform>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(platform::lockExclusive("FILE.LOK"), -1);  // held by the window
    QVERIFY(!std::filesystem::exists("omail.ini"));
    w->move(30, 40);
    w->resize(700, 500);
    QVERIFY(w->close());
    omail::IniFile ini(m_dir->path());
    QCOMPARE(ini.readInteger("mleft", -1), w->x());
    QCOMPARE(ini.readInteger("mtop", -1), w->y());
    QCOMPARE(ini.readInteger("mwidth", -1), 700);
    QCOMPARE(ini.readInteger("mheight", -1), 500);
    QCOMPARE(ini.readInteger("mdatah", -1), w->databox->height());
    int fd = platform::lockExclusive("FILE.LOK");
    QVERIFY(fd >= 0);
    platform::unlockExclusive(fd);
}

void MainformTest::designedSizeWhenNothingIsStored() {
    writeFile("omail.ini", "[general]\nmleft=-1\nmtop=5\nmwidth=900\nmheight=800\n");
    QtEventLoop loop;
    Tmainform w;
    QCOMPARE(w.size(), QSize(640, 420));
}

void MainformTest::storedGeometryAndListHeightAreRestored() {
    writeFile("omail.ini", "[general]\nmleft=12\nmtop=34\nmwidth=720\nmdatah=150\n");
    QtEventLoop loop;
    Tmainform w;
    QCOMPARE(w.size(), QSize(720, 480));
    QCOMPARE(w.pos(), QPoint(12, 34));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.databox->height(), 150);
    w.close();
}

void MainformTest::aSecondInstanceIsRefused() {
    writeFile("FILE.LOK", "LOCK FILE\r\n");
    int other = platform::lockExclusive("FILE.LOK");  // another instance holds it
    QVERIFY(other >= 0);
    QtEventLoop loop;
    Tmainform w;
    QVERIFY(w.lockFailed());
    QCOMPARE(m_boxes, QStringList({"only one instance of orrindel mail per directory may be running"}));
    QVERIFY(!std::filesystem::exists("IN"));  // nothing changed in the data directory
    platform::unlockExclusive(other);
}

void MainformTest::aBadIntegerKeyIsReportedAndItsDefaultUsed() {
    writeFile("omail.ini", "[general]\nmleft=left\nfontsiz=big\n");
    QtEventLoop loop;
    Tmainform w;
    Tgen settings(w.ini(), &w);
    QCOMPARE(m_boxes, QStringList({"'left' is not a valid integer value", "'big' is not a valid integer value"}));
    QCOMPARE(w.size(), QSize(640, 420));
    QCOMPARE(settings.fontsiz, 8);
}

QTEST_MAIN(MainformTest)
#include "mainform_qtest.moc"
