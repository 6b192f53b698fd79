// The main window and the viewer: start and end, every command's log lines, the
// loads and their failures, errors raised below a handler, the picture commands,
// the probe, and a whole run.

#include "RadioGroup.h"
#include "SampleStack.h"
#include "UiTestSupport.h"
#include "Unit2.h"
#include "files/FileUtil.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {

using TAction = std::function<void(TWindow&)>;

const QStringList kLoadBinLines{"Loading bin ...", "Bin loaded.", "Pic constructed.", "Done."};
const QStringList kLoadJpgLines{"Loading and recalculating pics.", "Constructing picture.",
                                "Picture constructed", "Done ..."};

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

QPushButton* Button(TWindow& w, const QString& caption) {
    for (QPushButton* button : w->findChildren<QPushButton*>())
        if (button->text() == caption)
            return button;
    return nullptr;
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

    QString Path(const QString& name) const { return dir_->filePath(name); }

    // Presses the buttons of a comma-separated list of captions; "next*3" presses
    // three times, "evaluate" evaluates into the temporary folder.
    void Press(TWindow& w, const QString& sequence) {
        for (const QString& step : sequence.split(u',', Qt::SkipEmptyParts)) {
            const QString caption = step.section(u'*', 0, 0);
            const int times = step.contains(u'*') ? step.section(u'*', 1).toInt() : 1;
            for (int i = 0; i < times; ++i) {
                if (caption == QStringLiteral("load"))
                    w.LoadBin(WriteProbeSet(dir_->path()));
                else if (caption == QStringLiteral("evaluate"))
                    Evaluate(w, QStringLiteral("points.txt"));
                else
                    Button(w, caption)->click();
            }
        }
    }

    void Evaluate(TWindow& w, const QString& fileName) {
        w.Dialogs->SaveAnswers.push_back(Path(fileName));
        w->BitBtn3->click();
    }

    std::unique_ptr<QTemporaryDir> dir_;
    QString startDirectory_;

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        startDirectory_ = QDir::currentPath();
    }
    void cleanup() {
        QDir::setCurrent(startDirectory_);
        dir_.reset();
    }

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

int RunWindowTests(int argc, char* argv[]) {
    TestWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
