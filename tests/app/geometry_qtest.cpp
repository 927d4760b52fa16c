// Window places of the secondary windows: stored, partly stored, or not.
#include "settings/geometry.h"
#include "support/tempdir.h"

#include <QWidget>
#include <QtTest>

using testsupport::writeFile;

class GeometryTest : public QObject {
    Q_OBJECT
private slots:
    void designedPlaceKeptWhenLeftIsMinusOne();
    void storedPlaceWithDefaultsForMissingKeys();
    void savedPlaceReadsBack();
};

void GeometryTest::designedPlaceKeptWhenLeftIsMinusOne() {
    testsupport::TempDir dir;
    omail::IniFile ini(dir.path());
    writeFile(ini.path(), "[general]\nvleft=-1\nvwidth=999\n");
    QWidget w;
    w.resize(300, 200);
    omail::restoreWindowPlace(&w, ini, 'v', omail::kDefaultWindowWidth, omail::kDefaultWindowHeight);
    QCOMPARE(w.size(), QSize(300, 200));
}

void GeometryTest::storedPlaceWithDefaultsForMissingKeys() {
    testsupport::TempDir dir;
    omail::IniFile ini(dir.path());
    writeFile(ini.path(), "[general]\nlleft=5\nltop=6\n");
    QWidget w;
    omail::restoreWindowPlace(&w, ini, 'l', omail::kDecodeLogWidth, omail::kDefaultWindowHeight);
    QCOMPARE(w.pos(), QPoint(5, 6));
    QCOMPARE(w.size(), QSize(320, 480));
}

void GeometryTest::savedPlaceReadsBack() {
    testsupport::TempDir dir;
    omail::IniFile ini(dir.path());
    QWidget w;
    w.move(11, 22);
    w.resize(333, 444);
    omail::saveWindowPlace(&w, ini, 'c');
    QWidget again;
    omail::restoreWindowPlace(&again, ini, 'c', omail::kDefaultWindowWidth, omail::kDefaultWindowHeight);
    QCOMPARE(again.pos(), QPoint(11, 22));
    QCOMPARE(again.size(), QSize(333, 444));
}

QTEST_MAIN(GeometryTest)
#include "geometry_qtest.moc"
