#pragma once
// What the window's test classes share: a fresh temporary folder for each test
// (the current directory put back after it), the load commands' log lines, and
// presses of the window's buttons by caption.

#include "UiTestSupport.h"

#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

/// Something a data row does to the window.
using TAction = std::function<void(TWindow&)>;

/// The log lines of a "Load *.bin" and a "Load *.jpg" that succeed.
inline const QStringList kLoadBinLines{"Loading bin ...", "Bin loaded.", "Pic constructed.",
                                       "Done."};
inline const QStringList kLoadJpgLines{"Loading and recalculating pics.", "Constructing picture.",
                                       "Picture constructed", "Done ..."};

/// The window's button with that caption; null when there is none.
QPushButton* Button(TWindow& w, const QString& caption);

/// The base of the window's test classes: each test runs in a temporary folder of
/// its own, which goes with the test, and leaves the current directory as it was.
class TWindowFixture : public QObject {
    Q_OBJECT

protected:
    /// name inside the test's temporary folder.
    QString Path(const QString& name) const { return dir_->filePath(name); }

    /// Presses the buttons of a comma-separated list of captions; "next*3" presses
    /// three times, "load" loads the probe set, "evaluate" evaluates into the
    /// temporary folder.
    void Press(TWindow& w, const QString& sequence);
    /// Runs "Set Settings, Evaluate and Save" with fileName, in the temporary folder,
    /// picked in the save dialog.
    void Evaluate(TWindow& w, const QString& fileName);

    std::unique_ptr<QTemporaryDir> dir_;

private:
    QString startDirectory_;

    // Only Qt Test's own init and cleanup here: every other private slot would run
    // as a test in each class derived from this one.
private slots:
    void init();
    void cleanup();
};
