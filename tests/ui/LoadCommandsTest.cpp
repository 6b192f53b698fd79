// The load commands: loads that fail and what stays usable after them, the colour
// channel chosen for the photographs, and 16-bit PNG photographs.

#include "RadioGroup.h"
#include "WindowFixture.h"
#include "image/GreyMix.h"
#include "input/Pics.h"

#include <QFile>
#include <QLabel>
#include <QTest>

class TestLoadCommands : public TWindowFixture {
    Q_OBJECT

private slots:
    // A failed load logs why in place of its success lines. The stack stays usable
    // when the planes were not touched; a stack that was replaced is not.
    void failedLoad_data() {
        QTest::addColumn<bool>("loadFirst");
        QTest::addColumn<TAction>("load");
        QTest::addColumn<QString>("reasonHolds");
        QTest::addColumn<bool>("loadedAfter");
        const TAction missingList = [this](TWindow& w) { w.LoadJpg(Path("none.txt")); };
        QTest::newRow("missing list, nothing loaded") << false << missingList << "exist" << false;
        QTest::newRow("missing list keeps the stack") << true << missingList << "exist" << true;
        QTest::newRow("missing photograph") << true << TAction([this](TWindow& w) {
            const QString list = WriteJpegStack(dir_->path(), QStringLiteral("gap"), 9, 9, 9);
            QVERIFY(QFile::remove(Path(QStringLiteral("gap_07.jpg"))));
            w.LoadJpg(list);
        }) << "gap_07.jpg" << false;
        QTest::newRow("five photographs") << true << TAction([this](TWindow& w) {
            w.LoadJpg(WriteJpegStack(dir_->path(), QStringLiteral("five"), 9, 9, 9, 5));
        }) << "5 pictures" << false;
        QTest::newRow("missing header keeps the stack")
            << true << TAction([this](TWindow& w) { w.LoadBin(Path(QStringLiteral("none.bbf"))); })
            << "none.bbf" << true;
        QTest::newRow("missing plane file") << true << TAction([this](TWindow& w) {
            const QString header = WriteSet(dir_->path(), "holed", 20, 10, ProbeStackValue);
            QVERIFY(QFile::remove(Path(QStringLiteral("12_holed.bin"))));
            w.LoadBin(header);
        }) << "12_holed.bin" << false;
    }
    void failedLoad() {
        QFETCH(bool, loadFirst);
        QFETCH(TAction, load);
        QFETCH(QString, reasonHolds);
        QFETCH(bool, loadedAfter);
        TWindow w;
        if (loadFirst)
            w.LoadBin(WriteProbeSet(dir_->path()));
        const qsizetype before = w.Messages().size();
        load(w);
        QCOMPARE(w.Dialogs->Errors, QStringList());
        const QStringList lines = w.Messages().mid(before);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0] == kLoadJpgLines[0] || lines[0] == kLoadBinLines[0]);
        QVERIFY2(lines[1].contains(reasonHolds), qPrintable(lines[1]));
        QCOMPARE(w->PicsLoaded, loadedAfter);
        w->BitBtn11->click(); // "2" works exactly when the stack is usable
        QCOMPARE(w->Label4->text(), loadedAfter ? QStringLiteral("2") : QStringLiteral("x"));
    }

    void colourChoice_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("expected");
        QTest::newRow("Red") << 0 << 250;
        QTest::newRow("Green") << 1 << 128;
        QTest::newRow("Blue") << 2 << 10;
        QTest::newRow("Grey") << 3 << int(GreyValue(250, 128, 10));
        QTest::newRow("no item chosen") << -1 << int(GreyValue(250, 128, 10));
    }
    void colourChoice() {
        QFETCH(int, item);
        QFETCH(int, expected);
        TWindow w;
        w->RadioGroup1->SetItemIndex(item);
        w.LoadJpg(WriteJpegStack(dir_->path(), QStringLiteral("tint"), 250, 128, 10));
        QVERIFY(w->PicsLoaded);
        const int value = w->Evaluator->Pics.GetValue(0, 5, 5);
        QVERIFY2(qAbs(value - expected) <= 2, qPrintable(QString::number(value)));
    }

    // A list of 16-bit PNG photographs loads through the same command, its values
    // exact for every channel.
    void pngPhotographs_data() { colourChoice_data(); }
    void pngPhotographs() {
        QFETCH(int, item);
        QFETCH(int, expected);
        TWindow w;
        w->RadioGroup1->SetItemIndex(item);
        w.LoadJpg(WritePngStack(dir_->path(), QStringLiteral("deep"), 250, 128, 10));
        QVERIFY2(w->PicsLoaded, qPrintable(w.Messages().join(u'\n')));
        QCOMPARE(int(w->Evaluator->Pics.GetValue(16, 15, 15)), expected);
    }
};

int RunLoadCommandsTests(int argc, char* argv[]) {
    TestLoadCommands test;
    return QTest::qExec(&test, argc, argv);
}

#include "LoadCommandsTest.moc"
