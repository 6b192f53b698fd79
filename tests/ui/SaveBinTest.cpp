// "Save *.bin": it writes only a complete stack, and names the header .bbf.

#include "WindowFixture.h"
#include "files/FileUtil.h"
#include "input/PicSet.h"
#include "input/Pics.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestSaveBin : public TWindowFixture {
    Q_OBJECT

private slots:
    // "Save *.bin" writes only a stack that loads again: after a load that failed it
    // logs why in one line, without asking for a file.
    void saveBinNeedsACompleteStack_data() {
        QTest::addColumn<TAction>("load");
        QTest::addColumn<QString>("reasonHolds");
        QTest::newRow("list naming a missing photograph") << TAction([this](TWindow& w) {
            const QString list = WriteJpegStack(dir_->path(), QStringLiteral("gap"), 9, 9, 9);
            QVERIFY(QFile::remove(Path(QStringLiteral("gap_07.jpg"))));
            w.LoadJpg(list);
        }) << "Picture 7 is 0 x 0 pixels";
        QTest::newRow("five photographs") << TAction([this](TWindow& w) {
            w.LoadJpg(WriteJpegStack(dir_->path(), QStringLiteral("five"), 9, 9, 9, 5));
        }) << "5 pictures";
        QTest::newRow("damaged photograph") << TAction([this](TWindow& w) {
            const QString list = WriteJpegStack(dir_->path(), QStringLiteral("bad"), 9, 9, 9);
            WriteWholeFile(ToStd(Path(QStringLiteral("bad_05.jpg"))), "no JPEG photograph");
            w.LoadJpg(list);
        }) << "0 x 0 pixels";
        QTest::newRow("set of sixteen planes") << TAction([this](TWindow& w) {
            w.LoadBin(WriteSet(dir_->path(), QStringLiteral("short"), 20, 10, ProbeStackValue, 16));
        }) << "16 pictures";
        // Every plane has its size, but one holds only part of its bytes.
        QTest::newRow("plane file cut short") << TAction([this](TWindow& w) {
            const QString header = WriteSet(dir_->path(), "cut", 20, 10, ProbeStackValue);
            QFile plane(Path(QStringLiteral("9_cut.bin")));
            QVERIFY(plane.resize(50));
            w.LoadBin(header);
        }) << "The last load did not complete.";
    }
    void saveBinNeedsACompleteStack() {
        QFETCH(TAction, load);
        QFETCH(QString, reasonHolds);
        TWindow w;
        w.LoadBin(WriteProbeSet(dir_->path())); // a stack that could be saved
        load(w);
        QVERIFY(!w->PicsLoaded);
        const qsizetype before = w.Messages().size();
        w.Dialogs->SaveAnswers.push_back(Path(QStringLiteral("copy.bin")));
        w->BitBtn7->click();
        QCOMPARE(w.Dialogs->SaveAsked, 0);
        const QStringList lines = w.Messages().mid(before);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QStringLiteral("No complete stack to save. ")) &&
                     lines[0].contains(reasonHolds),
                 qPrintable(lines[0]));
        QVERIFY(!QFile::exists(Path(QStringLiteral("copy.bbf"))));
        QVERIFY(!QFile::exists(Path(QStringLiteral("0_copy.bin"))));
    }

    void saveBinWritesTheHeaderBbf_data() {
        QTest::addColumn<QString>("picked");
        QTest::addColumn<QString>("header");
        QTest::newRow("extension replaced") << "set1.bin"
                                            << "set1.bbf";
        QTest::newRow("extension appended") << "set1"
                                            << "set1.bbf";
        QTest::newRow("dot in the folder only") << "sub.dir/set2"
                                                << "sub.dir/set2.bbf";
    }
    void saveBinWritesTheHeaderBbf() {
        QFETCH(QString, picked);
        QFETCH(QString, header);
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("sub.dir")));
        TWindow w;
        w.LoadBin(WriteProbeSet(dir_->path()));
        w.Dialogs->SaveAnswers.push_back(Path(picked));
        w->BitBtn7->click();
        TPics reloaded;
        QVERIFY2(LoadPicSet(reloaded, ToStd(Path(header))), reloaded.LastError().c_str());
        QCOMPARE(reloaded.Count(), 17);
        QCOMPARE(reloaded.GetValue(16, 4, 15), ProbeStackValue(16, 4, 15));
    }
};

int RunSaveBinTests(int argc, char* argv[]) {
    TestSaveBin test;
    return QTest::qExec(&test, argc, argv);
}

#include "SaveBinTest.moc"
