// Personal folders and the item commands on a shown main window: names,
// the case rule, the guards, moving, deleting, highlighting, finding and
// expiring, checked on the store's files.
#include "commands/find.h"
#include "commands/folders.h"
#include "commands/items.h"
#include "commands/pickers.h"
#include "main/mainform.h"
#include "platform/fsys.h"
#include "settings/gen.h"
#include "storefixture.h"
#include "windowfixture.h"
#include "support/tempdir.h"
#include "ui/dialogs.h"
#include "ui/qtloop.h"
#include "ui/virtuallist.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>

using testsupport::onNextModal;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Picks an entry in the list picker.
void pickFolder(const QString& name) {
    onNextModal([name](QWidget* w) {
        auto* form = qobject_cast<Tmoveform*>(w);
        QVERIFY(form);
        auto found = form->listbox->findItems(name, Qt::MatchExactly);
        if (!found.isEmpty()) form->listbox->setCurrentItem(found.first());
        form->okbtn->click();
    });
}

int countOf(const std::string& folder) {
    uint32_t n = 0;
    torvakit::GetFile(folder + "/n.cnt", n);
    return static_cast<int>(n);
}

}  // namespace

class FoldersTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void folderNamesFollowTheIdentifierRuleAndTheCaseRule();
    void renameRefusesStandardFoldersNewsgroupsAndAnotherCase();
    void deleteAsksAndSelectsTheNeighbour();
    void moveAndDeleteFollowTheFolderShown();
    void highlightDependsOnTheBody();
    void findStartsAfterTheCurrentRowAndDoesNotWrap();
    void findReadsRowsAsTheRowReadersDo();
    void expiryDialogAndExpiry();
    void expireAllNewsgroupsShowsEachGroupInTurn();
    void anEditedOutboxHeaderRebuildsItsRecordAtTheEnd();

private:
    struct Shown {
        QtEventLoop loop;
        Tmainform w;
        Shown() { w.show(); }
        ~Shown() { w.close(); }
        ItemCommands& items() { return *w.itemCommands(); }
        void selectRows(std::initializer_list<int> rows) {
            w.databox->clearSelection();
            for (int r : rows)
                w.databox->selectionModel()->select(w.databox->model()->index(r, 0),
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
            w.setCurrentItem(*rows.begin());
        }
        QStringList pane() const {
            QStringList names;
            for (int i = 0; i < w.mailbox->count(); ++i) names << w.mailbox->item(i)->text();
            return names;
        }
    };
    void answers(QStringList entries) { m_entries = std::move(entries); }

    std::unique_ptr<testsupport::TempDir> m_dir;
    QStringList m_boxes, m_questions, m_entries, m_prompts;
    int m_answer = ui::kResultOk;
};

void FoldersTest::init() {
    m_dir = std::make_unique<testsupport::TempDir>(true);
    writeFile("omail.ini", "[general]\nmleft=-1\n");  // no settings dialog at the first show
    m_boxes.clear(), m_questions.clear(), m_entries.clear(), m_prompts.clear();
    m_answer = ui::kResultOk;
    ui::setInformationHook([this](const QString& text) { m_boxes << text; });
    ui::setQuestionHook([this](const QString& text) {
        m_questions << text;
        return m_answer;
    });
    ui::setEntryHook([this](const QString& caption, QString& text) {
        m_prompts << caption;
        if (m_entries.isEmpty()) return ui::kResultCancel;
        text = m_entries.takeFirst();
        return ui::kResultOk;
    });
}

void FoldersTest::cleanup() {
    ui::setInformationHook(nullptr);
    ui::setQuestionHook(nullptr);
    ui::setEntryHook(nullptr);
    m_dir.reset();
}

void FoldersTest::folderNamesFollowTheIdentifierRuleAndTheCaseRule() {
    QVERIFY(folders::validFolderName("_a9"));
    QVERIFY(!folders::validFolderName(""));
    Shown s;
    answers({"9lives", "my folder", "in", "work", "Work", "alpha"});
    for (int i = 0; i < 6; ++i) s.w.actions().create1->trigger();
    QCOMPARE(m_prompts.first(), QString("please enter a folder name"));
    QCOMPARE(m_boxes, QStringList({"invalid folder name", "invalid folder name",
                                   QString("sorry, couldn't create folder (%1)").arg(EEXIST),
                                   QString("sorry, couldn't create folder (%1)").arg(EEXIST)}));
    QCOMPARE(s.pane(), QStringList({"in", "out", "sent", "bin", "alpha", "work"}));
    QCOMPARE(QString::fromStdString(readFile("folders.lst")), QString("alpha\r\nwork\r\n"));
    QVERIFY(std::filesystem::is_directory("work") && !std::filesystem::exists("Work"));

    // A click on the "mail folders" header creates one too; the folder shown
    // stays the one selected although its position moved.
    s.w.selectMailFolder(5);  // work
    answers({"beta"});
    s.w.mailheader->click();
    QCOMPARE(s.pane().mid(4), QStringList({"alpha", "beta", "work"}));
    QCOMPARE(s.w.shownFolderName(), QString("work"));
    QCOMPARE(QString::fromStdString(s.w.folderPath()), QString::fromStdString(m_dir->path() + "/work/"));
}

void FoldersTest::renameRefusesStandardFoldersNewsgroupsAndAnotherCase() {
    testsupport::addItem("work", 1, "a@a.org", "work item", 'U');
    testsupport::addItem("play", 2, "b@b.org", "play item", 'U');
    writeFile("folders.lst", "play\r\nwork\r\n");
    writeFile("subscr.dat", "alt.test:N0000001:0000000000:\r\n");
    writeFile("subscr.lst", "alt.test\r\n");
    std::filesystem::create_directory("N0000001");
    Shown s;
    for (int row : {0, 1, 2, 3}) {
        s.w.selectMailFolder(row);
        s.w.actions().renameselected1->trigger();
        s.w.actions().deleteselected1->trigger();
    }
    s.w.selectNewsgroup(0);
    s.w.actions().renameselected1->trigger();
    s.w.actions().deleteselected1->trigger();
    QVERIFY(m_prompts.isEmpty() && m_questions.isEmpty());

    // "PLAY" is "play" to the store: the rename must not merge the two.
    s.w.selectMailFolder(5);  // work
    answers({"PLAY"});
    s.w.actions().renameselected1->trigger();
    QCOMPARE(m_boxes, QStringList({"sorry, couldn't rename folder"}));
    QCOMPARE(countOf("work"), 1);
    QCOMPARE(countOf("play"), 1);

    answers({"job"});
    s.w.actions().renameselected1->trigger();
    QCOMPARE(s.pane().mid(4), QStringList({"job", "play"}));
    QCOMPARE(QString::fromStdString(readFile("folders.lst")), QString("job\r\nplay\r\n"));
    QCOMPARE(s.w.shownFolderName(), QString("job"));
    QCOMPARE(s.w.itemCount(), 1);
    QVERIFY(!std::filesystem::exists("work"));
    // Another case of its own name is allowed.
    answers({"Job"});
    s.w.actions().renameselected1->trigger();
    QCOMPARE(s.pane().mid(4), QStringList({"Job", "play"}));
    QCOMPARE(s.w.itemCount(), 1);
}

void FoldersTest::deleteAsksAndSelectsTheNeighbour() {
    testsupport::addItem("beta", 1, "a@a.org", "beta item", 'U');
    for (const char* d : {"alpha", "gamma"}) std::filesystem::create_directory(d);
    writeFile("folders.lst", "alpha\r\nbeta\r\ngamma\r\n");
    Shown s;
    s.w.selectMailFolder(5);
    m_answer = ui::kResultCancel;
    s.w.actions().deleteselected1->trigger();
    QCOMPARE(m_questions, QStringList({"delete this folder?"}));
    QVERIFY(std::filesystem::exists("beta/n.lst"));
    m_answer = ui::kResultOk;
    s.w.actions().deleteselected1->trigger();
    QVERIFY(!std::filesystem::exists("beta"));
    QCOMPARE(countOf("BIN"), 0);  // nothing goes to the wastebasket
    QCOMPARE(s.w.shownFolderName(), QString("gamma"));
    s.w.actions().deleteselected1->trigger();  // the last one: the one before it
    QCOMPARE(s.w.shownFolderName(), QString("alpha"));
    QCOMPARE(QString::fromStdString(readFile("folders.lst")), QString("alpha\r\n"));
}

void FoldersTest::moveAndDeleteFollowTheFolderShown() {
    for (int i = 1; i <= 5; ++i) testsupport::addItem("IN", i, "a@a.org", "item " + std::to_string(i), 'U');
    Shown s;
    // Without a personal folder nothing is moved and no picker opens.
    s.selectRows({0, 1});
    s.w.actions().moveselecteditemstofolder1->trigger();
    s.w.actions().moveallitemstofolder1->trigger();
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(countOf("IN"), 5);
    answers({"work"});
    s.w.actions().create1->trigger();
    s.selectRows({1, 3});
    pickFolder("work");
    s.w.actions().moveselecteditemstofolder1->trigger();
    QCOMPARE(countOf("IN"), 3);
    QCOMPARE(countOf("work"), 2);
    QCOMPARE(s.w.itemCount(), 3);
    QVERIFY(std::filesystem::exists("work/N0000002.omb") || std::filesystem::exists("work/N0000004.omb"));

    // Moving into the folder shown is refused.
    s.w.selectMailFolder(4);
    s.selectRows({0});
    pickFolder("work");
    s.w.actions().moveselecteditemstofolder1->trigger();
    QCOMPARE(m_boxes, QStringList({"source and destination are the same"}));

    // Nothing changes a folder during a transfer or a delivery.
    s.w.selectMailFolder(0);
    s.selectRows({0});
    s.w.transfers().deliveryFlag = true;
    s.w.actions().deleteselecteditems1->trigger();
    s.w.transfers().deliveryFlag = false;
    s.w.transfers().transferState = transfer::kRetrievingMail;
    s.w.actions().deleteallitems1->trigger();
    s.w.transfers().transferState = transfer::kIdle;
    QCOMPARE(countOf("IN"), 3);
    QVERIFY(m_questions.isEmpty());

    // Delete moves into "bin"; in "bin" it deletes for good, without a question.
    s.selectRows({0, 2});
    s.w.actions().deleteselecteditems1->trigger();
    QCOMPARE(countOf("IN"), 1);
    QCOMPARE(countOf("BIN"), 2);
    s.w.selectMailFolder(3);
    s.selectRows({0});
    s.w.actions().deleteselecteditems1->trigger();
    QCOMPARE(countOf("BIN"), 1);
    QVERIFY(m_questions.isEmpty());
    QCOMPARE(platform::findFiles("BIN", "*.om?").size(), size_t(2));

    // Delete all asks, in "bin" too, and then empties it.
    m_answer = ui::kResultCancel;
    s.w.actions().deleteallitems1->trigger();
    QCOMPARE(countOf("BIN"), 1);
    m_answer = ui::kResultOk;
    s.w.actions().deleteallitems1->trigger();
    QCOMPARE(m_questions, QStringList({"delete all items?", "delete all items?"}));
    QVERIFY(platform::findFiles("BIN", "*").empty());
    QCOMPARE(s.w.itemCount(), 0);

    // Move all from the inbox, then delete all from the personal folder.
    s.w.selectMailFolder(0);
    pickFolder("work");
    s.w.actions().moveallitemstofolder1->trigger();
    QCOMPARE(countOf("IN"), 0);
    QCOMPARE(countOf("work"), 3);
    s.w.selectMailFolder(4);
    s.w.actions().deleteallitems1->trigger();
    QCOMPARE(countOf("work"), 0);
    QCOMPARE(countOf("BIN"), 3);
    QCOMPARE(platform::findFiles("BIN", "*.omh").size(), size_t(3));
}

void FoldersTest::highlightDependsOnTheBody() {
    testsupport::addItem("IN", 1, "a@a.org", "with body", 'R');
    testsupport::addItem("IN", 2, "a@a.org", "header only", 'O');
    platform::deleteFile("IN/N0000002.omb");
    Shown s;
    auto statuses = [] {
        return QString(QChar(torvakit::GetListStatus("IN/", 0, 7))) + QChar(torvakit::GetListStatus("IN/", 1, 7));
    };
    // Highlighting is allowed during a transfer.
    s.w.transfers().transferState = transfer::kNewsTransfer;
    s.selectRows({0, 1});
    s.w.actions().highlightselecteditems1->trigger();
    QCOMPARE(statuses(), QString("HM"));
    s.w.transfers().transferState = transfer::kIdle;
    s.selectRows({0, 1});
    s.w.actions().unhighlightselecteditems1->trigger();
    QCOMPARE(statuses(), QString("UO"));
}

void FoldersTest::findStartsAfterTheCurrentRowAndDoesNotWrap() {
    const char* subjects[] = {"apple pie", "banana", "Apple tart", "cherry"};
    for (int i = 0; i < 4; ++i) testsupport::addItem("IN", i + 1, "a@a.org", subjects[i], 'U');
    Shown s;  // date order: the list order here
    s.selectRows({3});
    answers({"apple"});
    s.w.actions().findinsubject1->trigger();
    QCOMPARE(m_prompts, QStringList({"enter text to find"}));
    QCOMPARE(m_boxes, QStringList({"no match found"}));
    QCOMPARE(s.w.currentItem(), 3);

    s.w.reloadList();  // no current item: from the first row
    answers({"APPLE"});
    s.w.actions().findinsubject1->trigger();
    QCOMPARE(s.w.currentItem(), 0);
    s.w.actions().findagain1->trigger();
    QCOMPARE(s.w.currentItem(), 2);
    QCOMPARE(s.w.databox->selectedRowList(), std::vector<int>({2}));
    s.w.actions().findagain1->trigger();
    QCOMPARE(m_boxes.size(), 2);
    QCOMPARE(s.w.currentItem(), 2);
}

void FoldersTest::findReadsRowsAsTheRowReadersDo() {
    // Records as a damaged or unusual list holds them: an over-long subject,
    // a bare CR line end, a record whose file name leaves the folder.
    std::filesystem::create_directory("f");
    std::string list;
    auto rec = [&](const std::string& name, const std::string& subject, const char* end) {
        list += name + end + "U" + end + "Author " + name + end + "to" + end + subject + end + "01 Jan 24" + end +
                "1240101000000" + end + "1" + end + "<id>" + end;
    };
    rec("N0000001.omh", std::string(300, 'x') + "needle", "\r\n");
    rec("N0000002.omh", "needle in cr", "\r");
    rec("../N0000003.omh", "needle outside", "\r\n");
    rec("N0000004.omh", "haystack", "\n");
    rec("N0000005.omh", "a needle", "\r\n");
    writeFile("f/n.lst", list);
    writeFile("f/n.cnt", "5\r\n");
    torvakit::SortList("f/n.lst", 5);
    struct Case {
        int line;
        const char* pattern;
    };
    int found = 0;
    for (Case c : {Case{5, "NEEDLE"}, Case{3, "N0000004"}, Case{3, "N0000003"}}) {
        for (int sortType : {5, 7}) {  // 7 has no index: every row is the first record
            for (int from = 0; from <= 5; ++from) {
                int expected = -1;
                std::string field, body;
                for (int row = from; row < 6 && expected < 0; ++row) {
                    if (c.line == 5) torvakit::GetSubject("f/", field, body, row, sortType);
                    else torvakit::GetAuth("f/", field, body, row, sortType);
                    for (char& ch : field) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                    if (torvakit::substringcompare(field, c.pattern) >= 0) expected = row;
                }
                QCOMPARE(findRow("f/", sortType, c.line, c.pattern, from, 6), expected);
                found += expected >= 0;
            }
        }
    }
    QVERIFY(found > 3);  // the cases do find rows, not only misses
    // In subject order: "a needle", "haystack", "needle in cr", the record
    // outside the folder, the subject cut before its needle.
    QCOMPARE(findRow("f/", 5, 5, "NEEDLE", 0, 5), 0);
    QCOMPARE(findRow("f/", 5, 5, "NEEDLE", 1, 5), 2);
    QCOMPARE(findRow("f/", 5, 5, "NEEDLE", 3, 5), -1);
}

void FoldersTest::expiryDialogAndExpiry() {
    testsupport::addItem("IN", 1, "a@a.org", "read", 'R');
    testsupport::addItem("IN", 2, "a@a.org", "new", 'U');
    testsupport::addItem("IN", 3, "a@a.org", "kept", 'H');
    Shown s;
    Texpireform& form = s.items().expireForm();
    QCOMPARE(form.windowTitle(), QString("select expiry method"));
    QCOMPARE(form.ddays->text(), QString("7"));
    for (const char* days : {"0", "-3"}) {
        onNextModal([days](QWidget* w) {
            auto* f = static_cast<Texpireform*>(w);
            f->ddays->setText(days);
            f->olderbtn->click();
        });
        QCOMPARE(form.ask(), ui::kResultCancel);
    }
    // Not a number: the error, and the dialog stays open until cancelled.
    onNextModal([this](QWidget* w) {
        auto* f = static_cast<Texpireform*>(w);
        f->ddays->setText("ten");
        f->olderbtn->click();
        QVERIFY(f->isVisible());
        QCOMPARE(m_boxes, QStringList({"'ten' is not a valid integer value"}));
        f->cancelbtn->click();
    });
    QCOMPARE(form.ask(), ui::kResultCancel);
    QCOMPARE(form.ddays->text(), QString("ten"));  // kept for the next use

    onNextModal([](QWidget* w) { static_cast<Texpireform*>(w)->readbtn->click(); });
    s.w.actions().expireselectedfolderorgroup1->trigger();
    QCOMPARE(countOf("IN"), 2);
    QCOMPARE(countOf("BIN"), 1);
    // In "bin" expiry deletes for good.
    s.w.selectMailFolder(3);
    onNextModal([](QWidget* w) { static_cast<Texpireform*>(w)->readbtn->click(); });
    s.w.actions().expireselectedfolderorgroup1->trigger();
    QCOMPARE(countOf("BIN"), 0);
    QVERIFY(platform::findFiles("BIN", "*.om?").empty());
}

void FoldersTest::expireAllNewsgroupsShowsEachGroupInTurn() {
    writeFile("subscr.dat", "alt.a:N0000001:0000000000:\r\nalt.b:N0000002:0000000000:\r\n");
    writeFile("subscr.lst", "alt.a\r\nalt.b\r\n");
    testsupport::addItem("N0000001", 1, "a@a.org", "read a", 'R');
    testsupport::addItem("N0000001", 2, "a@a.org", "header a", 'O');
    testsupport::addItem("N0000002", 3, "b@b.org", "read b", 'R');
    Shown s;
    int dialogs = 0;
    auto expireRead = [&dialogs](QWidget* w) {
        ++dialogs;
        static_cast<Texpireform*>(w)->readbtn->click();
    };
    s.w.transfers().deliveryFlag = true;  // refused while the outbox is delivered
    s.w.actions().expireallnewsgroups1->trigger();
    s.w.transfers().deliveryFlag = false;
    QCOMPARE(dialogs, 0);
    QStringList shown;
    connect(&s.w, &QWidget::windowTitleChanged, this, [&] { shown << s.w.shownFolderName(); });
    onNextModal(expireRead);
    s.w.actions().expireallnewsgroups1->trigger();
    QCOMPARE(dialogs, 1);
    QCOMPARE(countOf("N0000001"), 1);
    QCOMPARE(countOf("N0000002"), 0);
    QCOMPARE(countOf("BIN"), 2);
    QVERIFY(shown.contains("alt.a") && shown.contains("alt.b"));
    QCOMPARE(s.w.shownFolderName(), QString("alt.b"));  // the last group stays shown
    QVERIFY(!s.w.mailFolderShown());
}

void FoldersTest::anEditedOutboxHeaderRebuildsItsRecordAtTheEnd() {
    for (int i = 1; i <= 3; ++i) testsupport::addItem("OUT", i, "me@a.org", "draft " + std::to_string(i), 'U');
    torvakit::SetListStatus("OUT/", 0, 1, 'R');  // no index yet: the first record
    Shown s;
    QVERIFY(s.w.actions().editselecteditemheaderinoutbox1->isEnabled());  // the viewer's dialog is given
    std::vector<std::pair<int, std::string>> opened;
    int answer = ui::kResultOk;
    s.w.useHeaderDialog([&](int mode, const std::string& path) {
        opened.emplace_back(mode, path);
        if (mode == 1 && answer == ui::kResultOk)
            writeFile(platform::resolvePath(path), "To: new@b.org\r\nFrom: me@a.org\r\nSubject: edited\r\nDate: Sat, 1 Dec 2001 10:00:00 +0000\r\n");
        return answer;
    });
    // Only in the outbox.
    s.selectRows({0});
    s.w.actions().editselecteditemheaderinoutbox1->trigger();
    QVERIFY(opened.empty());
    s.w.selectMailFolder(1);
    s.selectRows({0});  // date order: item 1
    answer = ui::kResultCancel;
    s.w.actions().editselecteditemheaderinoutbox1->trigger();
    QCOMPARE(opened.size(), size_t(1));
    QCOMPARE(opened[0].first, 1);
    QVERIFY(QString::fromStdString(opened[0].second).endsWith("N0000001.omh"));
    QCOMPARE(QString::fromStdString(readFile("OUT/n.lst")).count("draft 1"), 1);  // cancel changes nothing

    answer = ui::kResultOk;
    s.selectRows({0});
    s.w.actions().editselecteditemheaderinoutbox1->trigger();
    const QStringList lines = QString::fromStdString(readFile("OUT/n.lst")).split("\r\n");
    QCOMPARE(lines.size(), 3 * 9 + 1);
    QCOMPARE(lines[18], QString("N0000001.omh"));  // at the end, rebuilt from the edited header
    QCOMPARE(lines[19], QString("R"));             // with its status
    QCOMPARE(lines[21], QString("new@b.org"));
    QCOMPARE(lines[22], QString("edited"));
    QCOMPARE(lines[0], QString("N0000002.omh"));
    QCOMPARE(countOf("OUT"), 3);
    QVERIFY(platform::fileExists("OUT/N0000001.omb") && platform::fileExists("OUT/N0000001.omh"));
    QVERIFY(!std::filesystem::exists("n.lst") && !std::filesystem::exists("N0000001.omh"));
    QCOMPARE(s.w.itemCount(), 3);

    // The body edit opens the item's own body file. (The header view is the
    // viewer's command and opens its own dialog.)
    s.selectRows({2});
    s.w.actions().editselecteditembodyinoutbox1->trigger();
    QCOMPARE(opened.size(), size_t(3));
    QCOMPARE(opened[2].first, 3);
    QVERIFY(QString::fromStdString(opened[2].second).endsWith(".omb"));
}

QTEST_MAIN(FoldersTest)
#include "folders_qtest.moc"
