// The message log: time text, order, the line limit and the memo it writes to.

#include "msg.h"

#include <QLocale>
#include <QPlainTextEdit>
#include <QTest>
#include <QTime>

namespace {

// "<time> : <message>" with a time of day that the system locale reads back.
bool IsLogLine(const QString& line, const QString& message) {
    const qsizetype joint = line.indexOf(QStringLiteral(" : "));
    const QLocale locale = QLocale::system();
    return joint > 0 && line.mid(joint + 3) == message &&
           locale.toTime(line.left(joint), LogTimeFormat(locale)).isValid();
}

} // namespace

class TestMsg : public QObject {
    Q_OBJECT

private slots:
    void timeText_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        const QTime pm(14, 3, 7), am(9, 5, 3);
        QTest::newRow("C, 24 hours") << "C" << pm << "14:03:07";
        QTest::newRow("German, leading zero") << "de_DE" << am << "09:05:03";
        QTest::newRow("US, PM after the seconds") << "en_US" << pm << "2:03:07 PM";
        QTest::newRow("US, AM, no leading zero") << "en_US" << am << "9:05:03 AM";
        QTest::newRow("Finnish, dots") << "fi_FI" << am << "9.05.03";
        QTest::newRow("Chinese, zone before the hour") << "zh_CN" << pm << "14:03:07";
        QTest::newRow("Spanish, zone in brackets") << "es_ES" << pm << "14:03:07";
        QTest::newRow("Korean, designator first") << "ko_KR" << pm << "오후 2시 3분 7초";
        QTest::newRow("Bulgarian, quoted suffix") << "bg_BG" << pm << "14:03:07 ч.";
        QTest::newRow("Taiwanese, day period QLocale lacks") << "zh_TW" << pm << "14:03:07";
    }
    void timeText() {
        QFETCH(QString, locale);
        QFETCH(QTime, time);
        QFETCH(QString, expected);
        QCOMPARE(LogTimeText(QLocale(locale), time), expected);
    }

    void linesNewestFirst() {
        QPlainTextEdit memo;
        memo.setPlainText(QStringLiteral("typed\nby hand"));
        {
            TMsg log(memo, 50);
            QCOMPARE(memo.toPlainText(), QString());
            for (const QString& message :
                 {QStringLiteral("first"), QString(), QStringLiteral("third")})
                log.Add(message);
        }
        // The memo keeps its text when the log goes.
        const QStringList lines = memo.toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY2(IsLogLine(lines[0], QStringLiteral("third")), qPrintable(lines[0]));
        QVERIFY2(IsLogLine(lines[1], QString()), qPrintable(lines[1]));
        QVERIFY2(IsLogLine(lines[2], QStringLiteral("first")), qPrintable(lines[2]));
    }

    // The memo is narrow and wraps long messages over several display lines; the
    // limit counts messages all the same.
    void keepsTheNewestMaxLinesMessages() {
        QPlainTextEdit memo;
        memo.resize(120, 300);
        memo.show();
        TMsg log(memo, 50);
        const QString padding(60, u'x');
        for (int i = 1; i <= 52; ++i)
            log.Add(QStringLiteral("message %1 ").arg(i) + padding);
        QCOMPARE(memo.document()->blockCount(), 50);
        const QStringList lines = memo.toPlainText().split(u'\n');
        QVERIFY(IsLogLine(lines.first(), QStringLiteral("message 52 ") + padding));
        QVERIFY(IsLogLine(lines.last(), QStringLiteral("message 3 ") + padding));
    }
};

int RunMsgTests(int argc, char* argv[]) {
    TestMsg test;
    return QTest::qExec(&test, argc, argv);
}

#include "MsgTest.moc"
