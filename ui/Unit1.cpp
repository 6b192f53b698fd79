#include "Unit1.h"

#include "Dialogs.h"
#include "PicHolder.h"
#include "RadioGroup.h"
#include "Unit1Scopes.h"
#include "Unit2.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "files/FileUtil.h"
#include "input/InputFiles.h"
#include "msg.h"
#include "output/Views.h"

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
    PicsLoaded = Evaluator->LoadedAfter(outcome, PicsLoaded);
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
        const std::string problem = Evaluator->SaveProblem(PicsLoaded);
        if (!problem.empty()) {
            Log(FromEngine(problem));
            return;
        }
        const std::optional<TPickedFile> picked = PickFile(true);
        if (!picked)
            return;
        TBusyScope busy(*this);
        Log(QStringLiteral("Saving bin ..."));
        // The header lists its plane files without a folder: a set loads from
        // wherever it is moved as a whole.
        SavePicSet(Evaluator->Pics, PicSetHeaderName(picked->Name), true);
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
