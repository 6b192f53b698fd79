// The viewer: the picture commands and the plane shown, and the probe that logs the
// value under the mouse, scrolled or not.

#include "Unit2.h"
#include "WindowFixture.h"

#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWindow>

class TestViewer : public TWindowFixture {
    Q_OBJECT

private slots:
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

int RunViewerTests(int argc, char* argv[]) {
    TestViewer test;
    return QTest::qExec(&test, argc, argv);
}

#include "ViewerTest.moc"
