// The newsgroup lists window headless over a stored group list: subscribing
// from the active list, the new list and by name, unsubscribing, the main
// window's pane following, the window's result, find, and an empty list.
#include "main/mainform.h"
#include "news/newsgrpform.h"
#include "store/torvakit.h"
#include "support/tempdir.h"
#include "ui/dialogs.h"
#include "ui/qtloop.h"

#include <QListWidget>
#include <QtTest>

using testsupport::readFile;
using testsupport::writeFile;

class NewsgrpformTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void subscribingAndUnsubscribingKeepThePaneAndTheResult();
    void findGoesOnAfterTheHitAndEndsWithNoMatch();
    void anEmptyListShowsOneRowThatSubscribesNothing();

private:
    // The stored list of a past fetch, indexed and counted.
    static void storeGroups(const std::string& names, int count) {
        writeFile("GROUP.LST", names);
        torvakit::sort("GROUP.LST", 1, 1, 0, "GROUP.IDX", count);
        torvakit::SetFile("GROUP.DAT", uint32_t(count));
    }
    static QStringList items(QListWidget* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }
    static void selectActive(Tnewsgrpform& form, int row) {
        form.activebox->setCurrentIndex(form.activebox->model()->index(row, 0));
    }

    std::unique_ptr<testsupport::TempDir> m_dir;
    QStringList m_boxes, m_questions;
    QString m_typed;
};

void NewsgrpformTest::init() {
    m_dir = std::make_unique<testsupport::TempDir>(true);
    m_boxes.clear();
    m_questions.clear();
    ui::setInformationHook([this](const QString& text) { m_boxes << text; });
    ui::setQuestionHook([this](const QString& text) {
        m_questions << text;
        return ui::kResultOk;
    });
    ui::setEntryHook([this](const QString&, QString& text) {
        text = m_typed;
        return ui::kResultOk;
    });
}

void NewsgrpformTest::cleanup() {
    ui::setInformationHook(nullptr);
    ui::setQuestionHook(nullptr);
    ui::setEntryHook(nullptr);
    m_dir.reset();
}

void NewsgrpformTest::subscribingAndUnsubscribingKeepThePaneAndTheResult() {
    storeGroups("comp.lang.c\r\nalt.test\r\nmisc.misc\r\n", 3);
    writeFile("NEWGRP.LST", "misc.misc\r\n");
    QtEventLoop loop;
    Tmainform w;
    Tnewsgrpform form(w, w.ini(), nullptr, &w);
    form.show();
    QCOMPARE(form.windowTitle(), QString("newsgroups - orrindel mail"));
    QCOMPARE(items(form.newbox), QStringList{"misc.misc"});
    QCOMPARE(form.activebox->model()->index(0, 0).data().toString(), QString("alt.test"));

    selectActive(form, 1);  // comp.lang.c in name order
    form.addselectednewsgrouptosubscribedlist1Click();
    QCOMPARE(items(form.subbox), QStringList{"comp.lang.c"});
    QCOMPARE(items(w.newsbox), QStringList{"comp.lang.c"});
    form.addselectednewsgrouptosubscribedlist1Click();
    QCOMPARE(m_boxes, QStringList{"already subscribed to comp.lang.c"});

    // From the new list once the active list has no current row.
    form.newbox->setCurrentRow(0);
    emit form.newbox->itemClicked(form.newbox->item(0));
    QCOMPARE(form.currentActiveRow(), -1);
    form.addselectednewsgrouptosubscribedlist1Click();
    m_typed = "Alt.Typed";
    form.addanewsgrouptosubscribedlist1Click();
    QCOMPARE(items(form.subbox), QStringList({"alt.typed", "comp.lang.c", "misc.misc"}));
    QCOMPARE(readFile("SUBSCR.LST"), std::string("comp.lang.c\r\nmisc.misc\r\nalt.typed\r\n"));

    form.subbox->setCurrentRow(2);
    form.removeselectednewsgroupfromsubscribedlist1Click();
    QCOMPARE(m_questions, QStringList{"unsubscribe?"});
    QCOMPARE(items(w.newsbox), QStringList({"alt.typed", "comp.lang.c"}));
    QCOMPARE(form.subbox->currentRow(), 1);  // the last one, the list being shorter
    uint32_t mark = 1;
    QCOMPARE(torvakit::getarticlen("misc.misc", "subscr.dat", mark), 0);

    form.exitnewsgroups1Click();
    QCOMPARE(form.result(), 1);
    QVERIFY(!w.ini().readString("nleft", "").empty());
    w.close();
}

void NewsgrpformTest::findGoesOnAfterTheHitAndEndsWithNoMatch() {
    storeGroups("alt.b.test\r\nalt.a.test\r\ncomp.test\r\nzz.other\r\n", 4);
    QtEventLoop loop;
    Tmainform w;
    Tnewsgrpform form(w, w.ini(), nullptr, &w);
    form.show();
    m_typed = "test";
    form.findinactivenewsgroups1Click();
    QCOMPARE(form.currentActiveRow(), 0);
    form.findagain1Click();
    QCOMPARE(form.currentActiveRow(), 1);
    QCOMPARE(form.activebox->currentIndex().data().toString(), QString("alt.b.test"));
    form.findagain1Click();
    QCOMPARE(form.currentActiveRow(), 2);
    form.findagain1Click();
    QCOMPARE(m_boxes, QStringList{"no match found"});
    QCOMPARE(form.currentActiveRow(), 2);  // kept
    form.exitnewsgroups1Click();
    QCOMPARE(form.result(), 2);
    w.close();
}

void NewsgrpformTest::anEmptyListShowsOneRowThatSubscribesNothing() {
    writeFile("GROUP.DAT", "0\r\n");
    QtEventLoop loop;
    Tmainform w;
    Tnewsgrpform form(w, w.ini(), nullptr, &w);
    form.show();
    QCOMPARE(form.activebox->model()->rowCount(), 1);
    QCOMPARE(form.activebox->model()->index(0, 0).data().toString(), QString());
    selectActive(form, 0);
    form.addselectednewsgrouptosubscribedlist1Click();
    QCOMPARE(form.subbox->count(), 0);
    QVERIFY(!std::filesystem::exists("subscr.dat"));
    QVERIFY(m_boxes.isEmpty());
    w.close();
}

QTEST_MAIN(NewsgrpformTest)
#include "newsgrpform_qtest.moc"
