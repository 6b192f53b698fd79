// The commands that load, save and evaluate a stack: failed loads, the colour
// choice, PNG photographs, the current folder, "Save *.bin", and whole runs with
// their progress dialogs.

#include "RadioGroup.h"
#include "SampleStack.h"
#include "Unit2.h"
#include "WindowFixture.h"
#include "decode/CodeMatrix.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "image/GreyMix.h"
#include "input/PicSet.h"
#include "input/Pics.h"
#include "input/PictureRows.h"
#include "pipeline/Evaluator.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>
#include <algorithm>
#include <utility>

namespace {

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestStackCommands : public TWindowFixture {
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

    // The bare names in list files and picture-set headers load from the list's or
    // header's own folder, wherever the current directory is. Once a command has
    // succeeded, the folder of its file becomes the current directory, where the
    // next dialog starts.
    void bareNamesLoadFromThePickedFolder_data() {
        QTest::addColumn<bool>("bin");
        QTest::newRow("list file of bare photograph names") << false;
        QTest::newRow("picture-set header of bare plane names") << true;
    }
    void bareNamesLoadFromThePickedFolder() {
        QFETCH(bool, bin);
        const QString folder = Path(QStringLiteral("stack"));
        const QString elsewhere = Path(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(elsewhere));
        QVERIFY(QDir::setCurrent(elsewhere));
        TWindow w;
        if (bin)
            w.LoadBin(WriteProbeSet(folder));
        else
            w.LoadJpg(WriteJpegStack(folder, QStringLiteral("shot"), 60, 60, 60));
        QVERIFY2(w->PicsLoaded, qPrintable(w.Messages().join(u'\n')));
        QCOMPARE(QDir::currentPath(), QDir(folder).canonicalPath());
        QVERIFY(QDir::setCurrent(dir_->path()));
        Evaluate(w, QStringLiteral("elsewhere/points.txt")); // a save dialog as well
        QVERIFY(QFile::exists(Path(QStringLiteral("elsewhere/points.txt"))));
        QCOMPARE(QDir::currentPath(), QDir(elsewhere).canonicalPath());
        w.Dialogs->SaveAnswers.push_back(Path(QStringLiteral("stack/copy.bin")));
        w->BitBtn7->click();
        QVERIFY(QFile::exists(Path(QStringLiteral("stack/copy.bbf"))));
        QCOMPARE(QDir::currentPath(), QDir(folder).canonicalPath());
    }

    // A command that fails, by a result or by an error, leaves the current directory
    // where it was. Each file lies in an existing folder other than the current one.
    void failedCommandKeepsTheCurrentFolder_data() {
        QTest::addColumn<TAction>("command");
        QTest::addColumn<bool>("raises");
        QTest::newRow("list naming a missing photograph") << TAction([this](TWindow& w) {
            const QString list = WriteJpegStack(Path("stack"), QStringLiteral("gap"), 9, 9, 9);
            QVERIFY(QFile::remove(Path(QStringLiteral("stack/gap_07.jpg"))));
            w.LoadJpg(list);
        }) << false;
        QTest::newRow("damaged photograph") << TAction([this](TWindow& w) {
            const QString list = WriteJpegStack(Path("stack"), QStringLiteral("bad"), 9, 9, 9);
            WriteWholeFile(ToStd(Path(QStringLiteral("stack/bad_05.jpg"))), "no JPEG");
            w.LoadJpg(list);
        }) << true;
        QTest::newRow("header that does not exist")
            << TAction([this](TWindow& w) { w.LoadBin(Path(QStringLiteral("stack/none.bbf"))); })
            << false;
        // The targets are folders themselves, so no file can be written in their place.
        QTest::newRow("evaluation onto a folder") << TAction([this](TWindow& w) {
            QVERIFY(QDir().mkpath(Path(QStringLiteral("stack/taken.txt"))));
            Evaluate(w, QStringLiteral("stack/taken.txt"));
        }) << true;
        QTest::newRow("Save *.bin onto a folder") << TAction([this](TWindow& w) {
            QVERIFY(QDir().mkpath(Path(QStringLiteral("stack/taken.bbf"))));
            w.Dialogs->SaveAnswers.push_back(Path(QStringLiteral("stack/taken.bin")));
            w->BitBtn7->click();
        }) << true;
    }
    void failedCommandKeepsTheCurrentFolder() {
        QFETCH(TAction, command);
        QFETCH(bool, raises);
        const QString elsewhere = Path(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(Path(QStringLiteral("stack"))) && QDir().mkpath(elsewhere));
        TWindow w;
        w.LoadBin(WriteProbeSet(dir_->path()));
        QVERIFY(QDir::setCurrent(elsewhere));
        command(w);
        QCOMPARE(w.Dialogs->Errors.size(), raises ? 1 : 0);
        QCOMPARE(QDir::currentPath(), QDir(elsewhere).canonicalPath());
    }

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

    // A generated stack loaded and evaluated through the window gives the files and
    // the picture that the engine gives on its own.
    void wholeRun() {
        TSampleOptions options;
        options.Width = 256;
        options.Height = 192;
        options.Spacing = 20;
        options.Threads = 1;
        const TSampleStack stack = WriteSampleStack(ToStd(Path("photos")), "run", options);
        TWindow w;
        w.LoadJpg(QString::fromStdString(stack.ListFile));
        w->SpinEdit1->setValue(25);
        w->SpinEdit2->setValue(60);
        Evaluate(w, QStringLiteral("points.txt"));
        QCOMPARE(w.Dialogs->Errors, QStringList());
        const QStringList expected =
            kLoadJpgLines + QStringList{"Values set.", "Evaluating ...", "Done."};
        QCOMPARE(w.Messages().mid(1), expected);
        QVERIFY(w->Viewer().isVisible());

        TPicEval direct("direct");
        TLoadOptions fromListFolder;
        fromListFolder.BaseFolder = ExtractFilePath(stack.ListFile);
        QVERIFY(direct.LoadPictures(stack.ListFile, false, kChannelGrey, fromListFolder));
        direct.SetTolerance(25);
        direct.SetMinDif(60);
        TBitmap display(direct.Width, direct.Height);
        direct.Evaluate(ToStd(Path("direct.txt")), true, display);

        const QByteArray points = ReadAll(Path("points.txt"));
        QCOMPARE(points.count("\r\n"), qsizetype(stack.Dots.size()));
        QCOMPARE(points, ReadAll(Path("direct.txt")));
        QVERIFY(ReadAll(Path("points.bmp")).startsWith("BM"));
        QCOMPARE(ReadAll(Path("points.bmp")), ReadAll(Path("direct.bmp")));
        const TBitmap& shown = w->Viewer().DisplayBitmap();
        QCOMPARE(shown.BytesPerLine(), display.BytesPerLine());
        QVERIFY(std::equal(display.Bits(), display.Bits() + display.BytesPerLine() * 192,
                           shown.Bits()));
    }

    // Long work shows a progress dialog (here at once) and keeps the log as it is.
    void progressDialog() {
        TSampleOptions options;
        options.Width = 128;
        options.Height = 96;
        options.Threads = 1;
        const TSampleStack stack = WriteSampleStack(ToStd(Path("photos")), "run", options);
        TWindow w;
        w->ProgressDelayMs = 0;
        w.LoadJpg(QString::fromStdString(stack.ListFile));
        const int afterLoad = w->ProgressShown;
        QVERIFY(afterLoad > 0);
        Evaluate(w, QStringLiteral("points.txt"));
        QVERIFY(w->ProgressShown > afterLoad);
        const QStringList expected =
            kLoadJpgLines + QStringList{"Values set.", "Evaluating ...", "Done."};
        QCOMPARE(w.Messages().mid(1), expected);
        QVERIFY(!w->IsBusy());
        QVERIFY(w->BitBtn1->isEnabled());
    }

    // "Load *.bin" and "Set and calc matrix" show their dialogs too (here at once)
    // and keep their log lines; the codes are those the engine gives on its own.
    void progressDialogForSetsAndMatrix() {
        const QString header = WriteProbeSet(dir_->path());
        TWindow w;
        w->ProgressDelayMs = 0;
        w.LoadBin(header);
        const int afterLoad = w->ProgressShown;
        QVERIFY(afterLoad > 0);
        QVERIFY(w->PicsLoaded);
        w->SpinEdit1->setValue(25);
        w->BitBtn12->click();
        QVERIFY(w->ProgressShown > afterLoad);
        QCOMPARE(w.Dialogs->Errors, QStringList());
        const QStringList expected =
            kLoadBinLines + QStringList{"Values set.", "Calculating matrix ...", "Done."};
        QCOMPARE(w.Messages().mid(1), expected);
        QVERIFY(!w->IsBusy() && w->BitBtn12->isEnabled() && !QGuiApplication::overrideCursor());

        TPicEval direct;
        QVERIFY(direct.LoadSet(ToStd(header), ToStd(dir_->path())).Usable);
        direct.SetTolerance(25);
        direct.SetMinDif(80);
        direct.CalcMatrix();
        const TCode& shown = w->Evaluator->CodeMatrix;
        QCOMPARE(std::pair(shown.Width, shown.Height), std::pair(20, 10));
        QVERIFY(std::equal(direct.CodeMatrix.Data.data(),
                           direct.CodeMatrix.Data.data() + direct.CodeMatrix.Data.size(),
                           shown.Data.data()));
        QCOMPARE(shown.GetCode(5, 3), 11);

        // A set that does not load logs its reason under the dialog as without it.
        const QString holed = WriteSet(dir_->path(), "holed", 20, 10, ProbeStackValue);
        QVERIFY(QFile::remove(Path(QStringLiteral("4_holed.bin"))));
        const qsizetype before = w.Messages().size();
        w.LoadBin(holed);
        const QStringList lines = w.Messages().mid(before);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], kLoadBinLines[0]);
        QVERIFY2(lines[1].startsWith(QStringLiteral("Plane 4 of the picture set")) &&
                     lines[1].contains(QStringLiteral("4_holed.bin")),
                 qPrintable(lines[1]));
        QVERIFY(!w->PicsLoaded);
        QCOMPARE(w.Dialogs->Errors, QStringList());
    }
};

int RunStackCommandsTests(int argc, char* argv[]) {
    TestStackCommands test;
    return QTest::qExec(&test, argc, argv);
}

#include "StackCommandsTest.moc"
