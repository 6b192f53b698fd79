// Long work through the window: a whole run that gives what the engine gives on its
// own, and the progress dialogs of the loads, the matrix and the evaluation.

#include "SampleStack.h"
#include "Unit2.h"
#include "WindowFixture.h"
#include "decode/CodeMatrix.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "input/Pics.h"
#include "input/PictureRows.h"
#include "pipeline/Evaluator.h"

#include <QFile>
#include <QGuiApplication>
#include <QTest>
#include <algorithm>
#include <utility>

namespace {

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestWholeRun : public TWindowFixture {
    Q_OBJECT

private slots:
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

int RunWholeRunTests(int argc, char* argv[]) {
    TestWholeRun test;
    return QTest::qExec(&test, argc, argv);
}

#include "WholeRunTest.moc"
