// The main window as a whole: starting and closing, what every command needs and
// logs, errors in a handler, events during a command, the settings as typed, and
// the viewer with its pixel probe.

#include "RadioGroup.h"
#include "Unit2.h"
#include "WindowFixture.h"
#include "files/FileUtil.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {

QLineEdit* Editor(QSpinBox* spin) {
    return spin->findChild<QLineEdit*>();
}

// Replaces the text of a shown window's spin edit by typing, as the operator does.
void Type(QSpinBox* spin, const QString& text) {
    spin->setFocus();
    Editor(spin)->selectAll();
    QTest::keyClick(Editor(spin), Qt::Key_Delete);
    QTest::keyClicks(Editor(spin), text);
}

} // namespace

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

    // Whatever is typed into a setting is settled when the field is left: a number
    // beyond 0 … 255 to the nearer bound, anything but a whole number to 0.
    void settingsSettleOnLeaving_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("expected");
        QTest::newRow("above the range") << "300" << 255;
        QTest::newRow("just above the range") << "256" << 255;
        QTest::newRow("far above the range") << "99999999999999999999" << 255;
        QTest::newRow("the upper bound") << "255" << 255;
        QTest::newRow("within the range") << "42" << 42;
        QTest::newRow("the lower bound") << "0" << 0;
        QTest::newRow("below the range") << "-7" << 0;
        QTest::newRow("not a number") << "abc" << 0;
        QTest::newRow("a number followed by letters") << "12ab" << 0;
        QTest::newRow("nothing") << "" << 0;
    }
    void settingsSettleOnLeaving() {
        QFETCH(QString, typed);
        QFETCH(int, expected);
        TWindow w;
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.Form.get()));
        for (QSpinBox* spin : {w->SpinEdit1, w->SpinEdit2}) {
            Type(spin, typed);
            QCOMPARE(Editor(spin)->text(), typed); // taken as typed
            QTest::keyClick(spin, Qt::Key_Tab);
            QVERIFY(!spin->hasFocus());
            QCOMPARE(spin->value(), expected);
            QCOMPARE(spin->text(), QString::number(expected));
        }
    }

    // A command reads the settings as settled, whether the click took the focus from
    // the field or not.
    void commandsReadTheSettledSettings_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("mouse");
        for (const char* caption : {"Set and calc matrix", "Set Settings, Evaluate and Save"}) {
            QTest::addRow("%s, mouse click", caption) << caption << true;
            QTest::addRow("%s, click without the focus", caption) << caption << false;
        }
    }
    void commandsReadTheSettledSettings() {
        QFETCH(QString, caption);
        QFETCH(bool, mouse);
        TWindow w;
        w.LoadBin(WriteProbeSet(dir_->path()));
        w.Dialogs->SaveAnswers.push_back(Path(QStringLiteral("points.txt")));
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.Form.get()));
        Type(w->SpinEdit2, QStringLiteral("abc"));
        Type(w->SpinEdit1, QStringLiteral("300"));
        QPushButton* button = Button(w, caption);
        if (mouse)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            button->click();
        QCOMPARE(w.Dialogs->Errors, QStringList());
        QVERIFY(w.Messages().contains(QStringLiteral("Values set.")));
        QCOMPARE(int(w->Evaluator->Tolerance), 255);
        QCOMPARE(int(w->Evaluator->MinDif), 0);
        QCOMPARE(w->SpinEdit1->value(), 255);
    }

    void pictureCommands_data() {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<int>("expected");
        QTest::newRow("next once") << "next" << 1;
        QTest::newRow("next stops at 16") << "next*20" << 16;
        QTest::newRow("prev at 0 stays") << "prev" << 0;
        QTest::newRow("2 then prev") << "2,prev" << 1;
        QTest::newRow("act redraws without moving") << "next*4,act" << 4;
        QTest::newRow("views leave the plane") << "next*5,Matrix,Edges,Code Points,act" << 5;
        QTest::newRow("a load keeps the plane") << "next*16,load,act" << 16;
    }
    void pictureCommands() {
        QFETCH(QString, sequence);
        QFETCH(int, expected);
        TWindow w;
        w.LoadBin(
            WriteSet(dir_->path(), QStringLiteral("planes"), 24, 12, [](int k, int row, int col) {
                return std::uint8_t(k * 15 + row * 24 + col);
            }));
        Press(w, sequence);
        QCOMPARE(w->CurrentPic, expected);
        QCOMPARE(w->Label4->text(), QString::number(expected));
        QVERIFY(w->Viewer().isVisible());
        const QString mismatch = DisplayMismatch(*w.Form, expected);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }

    void probe_data() {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<int>("button");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("expected");
        const QPoint dot(3, 6), dark(15, 2); // column, row
        const int left = Qt::LeftButton;
        QTest::newRow("plane 5, left button") << "next*5" << left << dark << 115;
        QTest::newRow("plane 5, right button") << "next*5" << int(Qt::RightButton) << dark << 115;
        QTest::newRow("plane 5, middle button") << "next*5" << int(Qt::MiddleButton) << dark << 115;
        QTest::newRow("Matrix, below the threshold") << "act,Matrix" << left << dot << 125;
        QTest::newRow("Matrix of plane 2, above it") << "2,Matrix" << left << dot << 200;
        QTest::newRow("Edges, no lit dot") << "Edges" << left << dark << 0;
        QTest::newRow("Edges, the threshold") << "Edges" << left << dot << 170;
        QTest::newRow("Code Points before any matrix") << "next,Code Points" << left << dot << 200;
        QTest::newRow("Code Points, a code")
            << "Set and calc matrix,Code Points" << left << dot << 255;
        QTest::newRow("Code Points, no code")
            << "Set and calc matrix,Code Points" << left << dark << 125;
        QTest::newRow("evaluation, the point mark") << "evaluate" << left << QPoint(4, 4) << 255;
        QTest::newRow("evaluation, plane 2 around it") << "evaluate" << left << dot << 200;
    }
    void probe() {
        QFETCH(QString, sequence);
        QFETCH(int, button);
        QFETCH(QPoint, at);
        QFETCH(int, expected);
        TWindow w;
        w.LoadBin(WriteProbeSet(dir_->path()));
        Press(w, sequence);
        const qsizetype before = w.Messages().size();
        QTest::mouseClick(w->Viewer().Image1, Qt::MouseButton(button), Qt::ShiftModifier, at);
        QCOMPARE(w.Messages().mid(before), QStringList{QStringLiteral("Value: %1").arg(expected)});
        // What Image1 paints is the display bitmap as it stands.
        QCOMPARE(w->Viewer().Image1->grab().toImage().pixelColor(at).red(), expected);
    }

    void probeFollowsTheScrolling() {
        const auto value = [](int, int row, int col) {
            return std::uint8_t((col * 7 + row * 13) % 251);
        };
        TWindow w;
        w.LoadBin(WriteSet(dir_->path(), QStringLiteral("wide"), 1400, 1000, value));
        w->BitBtn13->click();
        TForm2& viewer = w->Viewer();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        viewer.ScrollBox1->horizontalScrollBar()->setValue(300);
        viewer.ScrollBox1->verticalScrollBar()->setValue(200);
        const qsizetype before = w.Messages().size();
        // Pressed through the window at 10, 20 of the visible part of the picture.
        const QPoint inWindow = viewer.ScrollBox1->viewport()->mapTo(&viewer, QPoint(10, 20));
        QTest::mouseClick(viewer.windowHandle(), Qt::LeftButton, Qt::NoModifier, inWindow);
        QCOMPARE(w.Messages().mid(before),
                 QStringList{QStringLiteral("Value: %1").arg(value(0, 220, 310))});
    }
};

int RunWindowCommandsTests(int argc, char* argv[]) {
    TestWindowCommands test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowCommandsTest.moc"
