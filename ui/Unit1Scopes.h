#pragma once
// The scopes a command of the main window runs in: busy while it runs, and a
// progress dialog for a load or an evaluation. Included by Unit1.cpp alone.

#include "PicHolder.h"
#include "Unit1.h"
#include "base/Parallel.h"

#include <QApplication>
#include <QProgressDialog>
#include <QTimer>
#include <optional>
#include <stop_token>
#include <system_error>

// Marks a command as running: the buttons are disabled and the busy cursor shows
// until the scope ends, also when it ends by an exception. A close asked for
// meanwhile happens once the command is over.
class TForm1::TBusyScope {
public:
    explicit TBusyScope(TForm1& form) : form_(form) {
        form_.Busy = true;
        form_.updateControls();
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~TBusyScope() {
        QApplication::restoreOverrideCursor();
        form_.Busy = false;
        form_.updateControls();
        if (form_.closeRequested_) {
            form_.closeRequested_ = false;
            QTimer::singleShot(0, &form_, [form = &form_] { form->close(); });
        }
    }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    TForm1& form_;
};

// A progress dialog for a load or an evaluation: it appears only when the work
// lasts longer than the window's ProgressDelayMs, has no cancel button, and lets
// the windows repaint at every step and while the engine waits.
class TForm1::TProgressScope {
public:
    /// With an evaluator, the dialog follows the stages of its Evaluate.
    TProgressScope(TForm1& form, const QString& label, int steps, TPicEval* stagesOf = nullptr)
        : form_(form), dialog_(label, QString(), 0, steps, &form), stagesOf_(stagesOf) {
        dialog_.setWindowTitle(form.windowTitle());
        dialog_.setWindowModality(Qt::WindowModal);
        dialog_.setMinimumDuration(form.ProgressDelayMs);
        dialog_.setCancelButton(nullptr);
        dialog_.setAutoReset(false);
        dialog_.setValue(0);
        if (stagesOf_)
            stagesOf_->Progress = [this](int stagesDone) { Step(stagesDone); };
    }
    ~TProgressScope() {
        if (stagesOf_)
            stagesOf_->Progress = nullptr; // the callback must not outlive the dialog
    }
    TProgressScope(const TProgressScope&) = delete;
    TProgressScope& operator=(const TProgressScope&) = delete;

    void Step(int done) {
        dialog_.setValue(done);
        Idle();
    }
    void Idle() {
        QCoreApplication::processEvents();
        if (dialog_.isVisible())
            ++form_.ProgressShown;
    }

    /// Runs work on a thread of its own while this one keeps the windows serviced
    /// (Idle) about every 0.1 s, until work is over; raises what work raised, here,
    /// never inside the event loop. Without a thread to be had, work runs here.
    template <class TWork> void RunBeside(TWork work) {
        std::optional<TBackgroundTask> task;
        try {
            task.emplace([&](std::stop_token) { work(); });
        } catch (const std::system_error&) {
            work();
            return;
        }
        Idle();
        task->Wait([this] { Idle(); });
    }

private:
    TForm1& form_;
    QProgressDialog dialog_;
    TPicEval* stagesOf_;
};
