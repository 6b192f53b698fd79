#include "Unit1.h"

#include "Dialogs.h"
#include "base/Errors.h"
#include "files/FileUtil.h"
#include "base/Parallel.h"
#include "PicHolder.h"
#include "RadioGroup.h"
#include "Unit2.h"
#include "output/Views.h"
#include "msg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <initializer_list>
#include <optional>
#include <stop_token>
#include <system_error>

namespace {

constexpr std::int32_t kLogLines = 50;
constexpr std::int32_t kLastPlane = TPicEval::kStackPlanes - 1;

QString FromEngine(const std::string& text) {
    return QString::fromStdString(text);
}

std::string ToFileName(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

} // namespace

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

// A tool window: a small title bar with a close button only.
TForm1::TForm1(std::unique_ptr<TDialogs> dialogs, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      dialogs_(dialogs ? std::move(dialogs) : std::make_unique<TQtDialogs>(this)) {
    BuildControls();
    ConnectHandlers();
    FormCreate();
    Form2 = std::make_unique<TForm2>();
    Form2->SetLog(MsgLog.get());
    Form2->SetErrorHandler([this](const QString& text) { ReportError(text); });
    updateControls();
}

TForm1::~TForm1() = default;

void TForm1::ConnectHandlers() {
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn8, &QPushButton::clicked, this, &TForm1::BitBtn8Click);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
    connect(BitBtn12, &QPushButton::clicked, this, &TForm1::BitBtn12Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    connect(BitBtn10, &QPushButton::clicked, this, &TForm1::BitBtn10Click);
    connect(BitBtn9, &QPushButton::clicked, this, &TForm1::BitBtn9Click);
    connect(BitBtn13, &QPushButton::clicked, this, &TForm1::BitBtn13Click);
    connect(BitBtn11, &QPushButton::clicked, this, &TForm1::BitBtn11Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
}

void TForm1::updateControls() {
    for (QPushButton* button : {BitBtn1, BitBtn8, BitBtn7, BitBtn12, BitBtn10, BitBtn9, BitBtn13,
                                BitBtn11, BitBtn6, BitBtn2, BitBtn4, BitBtn3})
        button->setEnabled(!Busy);
}

// ---------------------------------------------------------------------------
// Steps shared by the handlers

template <class F> void TForm1::RunHandler(F&& body) noexcept {
    // A handler called while another runs (from a process-events step) or after the
    // window has closed does nothing.
    if (Busy || !Evaluator)
        return;
    try {
        body();
    } catch (const std::bad_alloc& error) {
        ReportError(QString::fromStdString(OutOfMemoryText(error, "to finish the command")));
    } catch (const std::exception& error) {
        ReportError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ReportError(QStringLiteral("An unknown error occurred."));
    }
}

void TForm1::ReportError(const QString& text) noexcept {
    try {
        dialogs_->showError(text);
    } catch (...) {
        // Nothing is left to tell the operator with.
    }
}

void TForm1::Log(const QString& message) {
    if (MsgLog)
        MsgLog->Add(message);
}

void TForm1::ProcessEvents() {
    QCoreApplication::processEvents();
}

// The bare file names in a list file or a picture-set header are resolved against
// the picked file's own folder, not the current directory: the current directory
// changes only once a command has succeeded, so that a failed one (a folder that
// cannot be written, a stack that does not load) leaves the dialogs where they were.
std::optional<TForm1::TPickedFile> TForm1::PickFile(bool forSaving) {
    const std::optional<QString> picked =
        forSaving ? dialogs_->saveFileName() : dialogs_->openFileName();
    if (!picked || picked->isEmpty())
        return std::nullopt;
    return TPickedFile{ToFileName(*picked), QFileInfo(*picked).absolutePath()};
}

void TForm1::EnterFolder(const TPickedFile& picked) {
    QDir::setCurrent(picked.Folder);
}

void TForm1::CopySettings() {
    // A command started without taking the focus (a shortcut) still sees the
    // settings as typed, settled as leaving the field settles them.
    SpinEdit1->interpretText();
    SpinEdit2->interpretText();
    Evaluator->SetTolerance(static_cast<std::uint8_t>(SpinEdit1->value()));
    Evaluator->SetMinDif(static_cast<std::uint8_t>(SpinEdit2->value()));
    Log(QStringLiteral("Values set."));
}

void TForm1::ViewerReset() {
    Form2->ResetBitmap(Evaluator->GetWidth(), Evaluator->GetHeight());
}

void TForm1::ShowInViewer() {
    Form2->RepaintImage();
    Form2->show();
    ProcessEvents();
}

std::uint8_t TForm1::ColorChannel() const {
    switch (RadioGroup1->ItemIndex()) {
    case 0:
        return kChannelRed;
    case 1:
        return kChannelGreen;
    case 2:
        return kChannelBlue;
    default:
        return kChannelGrey;
    }
}

template <class TLoad> bool TForm1::RunLoad(TLoad load) {
    const TLoadOutcome outcome = load();
    // A load that failed before it replaced the planes leaves a usable stack usable;
    // one that failed after leaves a stack that is not what the operator asked for.
    PicsLoaded =
        outcome.Usable || (PicsLoaded && !outcome.Replaced && Evaluator->IsStackComplete());
    if (outcome.Error)
        std::rethrow_exception(outcome.Error);
    if (outcome.Usable)
        return true;
    Log(FromEngine(outcome.Reason));
    ViewerReset();
    return false;
}

// ---------------------------------------------------------------------------
// Program start and end

void TForm1::FormCreate() {
    Evaluator = std::make_unique<TPicEval>("ST1");
    Evaluator->SetTolerance(static_cast<std::uint8_t>(SpinEdit1->value()));
    Evaluator->SetMinDif(static_cast<std::uint8_t>(SpinEdit2->value()));
    MsgLog = std::make_unique<TMsg>(*Memo1, kLogLines);
    Log(QStringLiteral("Program started."));
}

void TForm1::FormCloseQuery() {
    if (!Evaluator && !MsgLog)
        return; // closed before
    Evaluator.reset();
    Log(QStringLiteral("closing."));
    Form2->SetLog(nullptr);
    MsgLog.reset();
    Form2->hide();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (Busy) {
        // The running command still uses the evaluator: close once it is over.
        closeRequested_ = true;
        event->ignore();
        return;
    }
    try {
        FormCloseQuery();
    } catch (...) {
        // The window closes all the same.
    }
    event->accept();
    emit Closed();
}

void TForm1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LocaleChange && MsgLog) {
        try {
            MsgLog->ReadLocale();
        } catch (...) {
            // The log keeps the format it had.
        }
    }
    QWidget::changeEvent(event);
}

// ---------------------------------------------------------------------------
// Loading, settings and evaluation

void TForm1::BitBtn1Click() {
    RunHandler([this] {
        const std::optional<TPickedFile> picked = PickFile(false);
        if (!picked)
            return;
        TBusyScope busy(*this);
        Log(QStringLiteral("Loading and recalculating pics."));
        const bool loaded = RunLoad([this, &picked] {
            TProgressScope progress(*this, QStringLiteral("Loading pictures ..."), kLastPlane + 1);
            TLoadOptions options;
            options.BaseFolder = ToFileName(picked->Folder);
            options.Progress = [&](std::int32_t plane, const std::string&) {
                progress.Step(plane + 1);
            };
            options.Idle = [&] { progress.Idle(); };
            const TLoadOutcome outcome = Evaluator->LoadList(picked->Name, ColorChannel(), options);
            ProcessEvents();
            return outcome;
        });
        if (!loaded)
            return;
        Log(QStringLiteral("Constructing picture."));
        ViewerReset();
        Log(QStringLiteral("Picture constructed"));
        Log(QStringLiteral("Done ..."));
        EnterFolder(*picked);
    });
}

void TForm1::BitBtn12Click() {
    RunHandler([this] {
        if (!PicsLoaded)
            return;
        TBusyScope busy(*this);
        CopySettings();
        Log(QStringLiteral("Calculating matrix ..."));
        {
            TProgressScope progress(*this, QStringLiteral("Calculating matrix ..."), 0);
            progress.RunBeside([this] { Evaluator->CalcMatrix(); });
        }
        Log(QStringLiteral("Done."));
    });
}

void TForm1::BitBtn3Click() {
    RunHandler([this] {
        if (!PicsLoaded)
            return;
        CopySettings();
        const std::optional<TPickedFile> picked = PickFile(true);
        if (!picked)
            return;
        TBusyScope busy(*this);
        Log(QStringLiteral("Evaluating ..."));
        {
            TProgressScope progress(*this, QStringLiteral("Evaluating ..."),
                                    TPicEval::kEvaluateStages, Evaluator.get());
            Evaluator->Evaluate(picked->Name, true, Form2->DisplayBitmap());
        }
        EnterFolder(*picked);
        Log(QStringLiteral("Done."));
        ShowInViewer();
    });
}

// ---------------------------------------------------------------------------
// Picture sets

void TForm1::BitBtn8Click() {
    RunHandler([this] {
        const std::optional<TPickedFile> picked = PickFile(false);
        if (!picked)
            return;
        TBusyScope busy(*this);
        Log(QStringLiteral("Loading bin ..."));
        ProcessEvents();
        const bool loaded = RunLoad([this, &picked] {
            TProgressScope progress(*this, QStringLiteral("Loading bin ..."), kLastPlane + 1);
            TLoadOptions options;
            options.Progress = [&](std::int32_t plane, const std::string&) {
                progress.Step(plane + 1);
            };
            options.Idle = [&] { progress.Idle(); };
            return Evaluator->LoadSet(picked->Name, ToFileName(picked->Folder), options);
        });
        if (!loaded)
            return;
        Log(QStringLiteral("Bin loaded."));
        ProcessEvents();
        ViewerReset();
        Log(QStringLiteral("Pic constructed."));
        Log(QStringLiteral("Done."));
        EnterFolder(*picked);
    });
}

void TForm1::BitBtn7Click() {
    RunHandler([this] {
        // Only a stack that the decoding can use is saved: a set written from one
        // that is not would not load again.
        if (Evaluator->Pics.Count() == 0) {
            Log(QStringLiteral("No pictures to save."));
            return;
        }
        std::string problem;
        Evaluator->IsStackComplete(&problem);
        if (!PicsLoaded || !problem.empty()) {
            // A stack that looks complete but is not loaded was left by a load that
            // failed part of the way through.
            Log(QStringLiteral("No complete stack to save. ") +
                (problem.empty() ? QStringLiteral("The last load did not complete.")
                                 : FromEngine(problem)));
            return;
        }
        const std::optional<TPickedFile> picked = PickFile(true);
        if (!picked)
            return;
        TBusyScope busy(*this);
        Log(QStringLiteral("Saving bin ..."));
        // The header lists its plane files without a folder: a set loads from
        // wherever it is moved as a whole.
        SavePicSet(Evaluator->Pics, ChangeFileExt(picked->Name, ".bbf"), true);
        EnterFolder(*picked);
        Log(QStringLiteral("Bin saved."));
        ProcessEvents();
    });
}

// ---------------------------------------------------------------------------
// Picture commands and views

void TForm1::ShowCurrentPic() {
    TBusyScope busy(*this);
    Evaluator->ShowPicture(static_cast<std::uint8_t>(CurrentPic), Form2->DisplayBitmap());
    Form2->RepaintImage();
    Form2->show();
    Label4->setText(QString::number(CurrentPic));
    ProcessEvents();
}

void TForm1::PictureCommand(int plane) {
    RunHandler([this, plane] {
        if (!PicsLoaded)
            return;
        CurrentPic = plane;
        ShowCurrentPic();
    });
}

void TForm1::ViewCommand(TView view) {
    RunHandler([this, view] {
        if (!PicsLoaded)
            return;
        TBusyScope busy(*this);
        ShowView(*Evaluator, view, static_cast<std::uint8_t>(CurrentPic), Form2->DisplayBitmap());
        ShowInViewer();
    });
}

void TForm1::BitBtn10Click() {
    PictureCommand(std::min(CurrentPic + 1, kLastPlane));
}

void TForm1::BitBtn9Click() {
    PictureCommand(std::max(CurrentPic - 1, 0));
}

void TForm1::BitBtn13Click() {
    PictureCommand(CurrentPic);
}

void TForm1::BitBtn11Click() {
    PictureCommand(2);
}

void TForm1::BitBtn6Click() {
    ViewCommand(TView::Matrix);
}

void TForm1::BitBtn2Click() {
    ViewCommand(TView::Codes);
}

void TForm1::BitBtn4Click() {
    ViewCommand(TView::Edges);
}
