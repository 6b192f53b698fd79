// The current directory: it follows the folder of each command's file once the
// command has succeeded, and stays where it was when a command fails.

#include "WindowFixture.h"
#include "files/FileUtil.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestCurrentFolder : public TWindowFixture {
    Q_OBJECT

private slots:
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
};

int RunCurrentFolderTests(int argc, char* argv[]) {
    TestCurrentFolder test;
    return QTest::qExec(&test, argc, argv);
}

#include "CurrentFolderTest.moc"
