// The main window's commands: start and close, every command's log lines, the
// commands that need a loaded stack, errors raised below a handler, and events that
// arrive while a command runs.

#include "RadioGroup.h"
#include "Unit2.h"
#include "WindowFixture.h"
#include "files/FileUtil.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

class TestWindowCommands : public TWindowFixture {
    Q_OBJECT

private slots:
    void startAndClose() {
        TWindow w;
        QCOMPARE(w.Messages(), QStringList{"Program started."});
        QCOMPARE(int(w->Evaluator->Tolerance), 30);
        QCOMPARE(int(w->Evaluator->MinDif), 80);
        QCOMPARE(w->Label4->text(), QStringLiteral("x"));
        QCOMPARE(w->RadioGroup1->ItemIndex(), 3);
        QCOMPARE(w->windowTitle(), QStringLiteral(" Kelvaron Eval"));
        QCOMPARE(w->size(), QSize(217, 649));
        QCOMPARE(w->SpinEdit1->maximum(), 255);
        QCOMPARE(w->Viewer().windowTitle(), QStringLiteral("Form2"));
        QVERIFY(!w->Viewer().isVisible());

        w->show();
        w.LoadBin(WriteProbeSet(dir_->path()));
        w->BitBtn11->click();
        QVERIFY(w->Viewer().isVisible());
        QVERIFY(w->close());
        QVERIFY(!w->isVisible() && !w->Viewer().isVisible());
        QVERIFY(!w->Evaluator && !w->MsgLog);
        QCOMPARE(w.Messages().last(), QStringLiteral("closing."));
        w->BitBtn10->click(); // nothing runs any more
        QCOMPARE(w.Messages().last(), QStringLiteral("closing."));
    }

    void commandLogLines_data() {
        QTest::addColumn<bool>("loadFirst");
        QTest::addColumn<TAction>("command");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("Load *.bin")
            << false << TAction([this](TWindow& w) { w.LoadBin(WriteProbeSet(dir_->path())); })
            << kLoadBinLines;
        QTest::newRow("Load *.jpg") << false << TAction([this](TWindow& w) {
            w.LoadJpg(WriteJpegStack(dir_->path(), QStringLiteral("flat"), 90, 90, 90));
        }) << kLoadJpgLines;
        QTest::newRow("Save *.bin") << true << TAction([this](TWindow& w) {
            w.Dialogs->SaveAnswers.push_back(Path(QStringLiteral("copy.bin")));
            w->BitBtn7->click();
        }) << QStringList{"Saving bin ...", "Bin saved."};
        QTest::newRow("Save *.bin, no pictures")
            << false << TAction([](TWindow& w) { w->BitBtn7->click(); })
            << QStringList{"No pictures to save."};
        QTest::newRow("Set and calc matrix")
            << true << TAction([](TWindow& w) { w->BitBtn12->click(); })
            << QStringList{"Values set.", "Calculating matrix ...", "Done."};
        QTest::newRow("Evaluate") << true << TAction([this](TWindow& w) {
            Evaluate(w, QStringLiteral("points.txt"));
        }) << QStringList{"Values set.", "Evaluating ...", "Done."};
        QTest::newRow("picture and view commands") << true << TAction([this](TWindow& w) {
            Press(w, QStringLiteral("next,prev,act,2,Matrix,Code Points,Edges"));
        }) << QStringList{};
        // A cancelled dialog ends the command; the evaluation has copied the
        // settings before asking.
        for (const char* caption : {"Load *.jpg", "Load *.bin", "Save *.bin"})
            QTest::addRow("%s cancelled", caption)
                << true << TAction([caption](TWindow& w) { Button(w, caption)->click(); })
                << QStringList{};
        QTest::newRow("Evaluate cancelled")
            << true << TAction([](TWindow& w) { w->BitBtn3->click(); })
            << QStringList{"Values set."};
    }
    void commandLogLines() {
        QFETCH(bool, loadFirst);
        QFETCH(TAction, command);
        QFETCH(QStringList, expected);
        TWindow w;
        if (loadFirst)
            w.LoadBin(WriteProbeSet(dir_->path()));
        const qsizetype before = w.Messages().size();
        w->SpinEdit1->setValue(41);
        command(w);
        QCOMPARE(w.Dialogs->Errors, QStringList());
        QCOMPARE(w.Messages().mid(before), expected);
        QCOMPARE(int(w->Evaluator->Tolerance), expected.startsWith("Values set.") ? 41 : 30);
    }

    void commandsNeedALoadedStack_data() {
        QTest::addColumn<bool>("failedLoadFirst");
        QTest::addColumn<QString>("caption");
        for (const char* caption : {"next", "prev", "act", "2", "Matrix", "Code Points", "Edges",
                                    "Set and calc matrix", "Set Settings, Evaluate and Save"}) {
            QTest::addRow("%s, before any load", caption) << false << caption;
            QTest::addRow("%s, after a failed load", caption) << true << caption;
        }
    }
    void commandsNeedALoadedStack() {
        QFETCH(bool, failedLoadFirst);
        QFETCH(QString, caption);
        TWindow w;
        if (failedLoadFirst) // sixteen planes: a stack the decoding cannot use
            w.LoadBin(WriteSet(dir_->path(), QStringLiteral("short"), 20, 10, ProbeStackValue, 16));
        const QStringList before = w.Messages();
        w->SpinEdit1->setValue(77);
        Button(w, caption)->click();
        QCOMPARE(w.Messages(), before);
        QCOMPARE(w.Dialogs->SaveAsked, 0);
        QCOMPARE(int(w->Evaluator->Tolerance), 30);
        QCOMPARE(w->Label4->text(), QStringLiteral("x"));
        QVERIFY(!w->Viewer().isVisible());
    }

    // An error raised below a handler is shown through the dialogs; the handler's
    // later log lines are not written and the window is ready again.
    void errorInHandler_data() {
        QTest::addColumn<TAction>("command");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("messageHolds");
        QTest::addColumn<bool>("loadedAfter");
        QTest::newRow("damaged photograph") << TAction([this](TWindow& w) {
            const QString list = WriteJpegStack(dir_->path(), QStringLiteral("bad"), 9, 9, 9);
            WriteWholeFile(ToStd(Path(QStringLiteral("bad_05.jpg"))), "no JPEG photograph");
            w.LoadJpg(list);
        }) << QStringList{kLoadJpgLines[0]} << "bad_05.jpg"
                                            << false;
        QTest::newRow("Save *.bin into a missing folder") << TAction([this](TWindow& w) {
            w.Dialogs->SaveAnswers.push_back(Path(QStringLiteral("missing/set.bin")));
            w->BitBtn7->click();
        }) << QStringList{"Saving bin ..."} << "missing" << true;
        QTest::newRow("Evaluate into a missing folder")
            << TAction([this](TWindow& w) { Evaluate(w, QStringLiteral("missing/points.txt")); })
            << QStringList{"Values set.", "Evaluating ..."} << "missing" << true;
        // Outputs that would destroy a file are refused before anything is written.
        QTest::newRow("Evaluate onto a plane file of the stack")
            << TAction([this](TWindow& w) { Evaluate(w, QStringLiteral("3_probe.bin")); })
            << QStringList{"Values set.", "Evaluating ..."} << "same file as the input" << true;
        QTest::newRow("Evaluate into a name ending in .bmp")
            << TAction([this](TWindow& w) { Evaluate(w, QStringLiteral("points.bmp")); })
            << QStringList{"Values set.", "Evaluating ..."}
            << "would be replaced by the marked picture" << true;
        QTest::newRow("Save *.bin over the set it was loaded from") << TAction([this](TWindow& w) {
            w.Dialogs->SaveAnswers.push_back(Path(QStringLiteral("probe.bin")));
            w->BitBtn7->click();
        }) << QStringList{"Saving bin ..."} << "same file as the input"
                                                                    << true;
    }
    void errorInHandler() {
        QFETCH(TAction, command);
        QFETCH(QStringList, expected);
        QFETCH(QString, messageHolds);
        QFETCH(bool, loadedAfter);
        TWindow w;
        w.LoadBin(WriteProbeSet(dir_->path()));
        const qsizetype before = w.Messages().size();
        command(w);
        QCOMPARE(w.Dialogs->Errors.size(), 1);
        QVERIFY2(w.Dialogs->Errors[0].contains(messageHolds), qPrintable(w.Dialogs->Errors[0]));
        QCOMPARE(w.Messages().mid(before), expected);
        QCOMPARE(w->PicsLoaded, loadedAfter);
        QVERIFY(!w->IsBusy() && w->BitBtn1->isEnabled() && !QGuiApplication::overrideCursor());
        QVERIFY(!QFile::exists(Path(QStringLiteral("points.bmp"))));
        QCOMPARE(QFileInfo(Path(QStringLiteral("3_probe.bin"))).size(), 200);
    }

    // A click or a close that arrives while "Load *.bin" lets events through is not
    // handled inside it; the close happens once the load is over.
    void eventsDuringACommand_data() {
        QTest::addColumn<TAction>("meanwhile");
        QTest::addColumn<bool>("closes");
        QTest::newRow("button click") << TAction([](TWindow& w) { w->BitBtn11->click(); }) << false;
        QTest::newRow("handler call") << TAction([](TWindow& w) { w->BitBtn11Click(); }) << false;
        QTest::newRow("close") << TAction([](TWindow& w) { w->close(); }) << true;
    }
    void eventsDuringACommand() {
        QFETCH(TAction, meanwhile);
        QFETCH(bool, closes);
        TWindow w;
        w->show();
        const QString header = WriteProbeSet(dir_->path());
        w.LoadBin(header); // the picture commands work from here on
        bool busy = false, enabled = true, cursor = false;
        QTimer::singleShot(0, w.Form.get(), [&] {
            busy = w->IsBusy();
            enabled = w->BitBtn11->isEnabled();
            cursor = QGuiApplication::overrideCursor() != nullptr;
            meanwhile(w);
        });
        w.LoadBin(header);
        QVERIFY(busy && !enabled && cursor);
        QVERIFY(w->BitBtn11->isEnabled() && !QGuiApplication::overrideCursor());
        QCOMPARE(w->Label4->text(), QStringLiteral("x"));
        QVERIFY(w->isVisible());
        QCoreApplication::processEvents();
        QCOMPARE(w->isVisible(), !closes);
        QStringList expected = kLoadBinLines + kLoadBinLines;
        if (closes)
            expected << "closing.";
        QCOMPARE(w.Messages().mid(1), expected);
    }
};

int RunWindowCommandsTests(int argc, char* argv[]) {
    TestWindowCommands test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowCommandsTest.moc"
