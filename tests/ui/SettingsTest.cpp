// The window's two settings: what is typed settles when the field is left, and the
// commands read the settled values.

#include "WindowFixture.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

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

class TestSettings : public TWindowFixture {
    Q_OBJECT

private slots:
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
};

int RunSettingsTests(int argc, char* argv[]) {
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "SettingsTest.moc"
