#pragma once
// The main window: the operator's control panel. It holds, for the whole run, the
// one evaluator, the message log, whether a usable stack is loaded and the plane
// that the picture commands show; every command is one of its buttons.

#include "Dialogs.h"
#include "SpinEdit.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

enum class TView;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TForm2;
class TMsg;
class TPicEval;
class TRadioGroup;

class TForm1 : public QWidget {
    Q_OBJECT

public:
    /// Builds the window, runs FormCreate and creates the hidden viewer. Without
    /// dialogs the system's file dialogs and message box are used.
    explicit TForm1(std::unique_ptr<TDialogs> dialogs = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, top to bottom.
    QPlainTextEdit* Memo1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QPushButton* BitBtn1 = nullptr; // "Load *.jpg"
    QPushButton* BitBtn8 = nullptr; // "Load *.bin"
    QPushButton* BitBtn7 = nullptr; // "Save *.bin"
    TRadioGroup* RadioGroup1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label1 = nullptr;
    TSpinEdit* SpinEdit1 = nullptr; // tolerance
    QLabel* Label2 = nullptr;
    TSpinEdit* SpinEdit2 = nullptr;  // mindif
    QPushButton* BitBtn12 = nullptr; // "Set and calc matrix"
    QGroupBox* GroupBox3 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;        // CurrentPic
    QPushButton* BitBtn10 = nullptr; // "next"
    QPushButton* BitBtn9 = nullptr;  // "prev"
    QPushButton* BitBtn13 = nullptr; // "act"
    QPushButton* BitBtn11 = nullptr; // "2"
    QPushButton* BitBtn6 = nullptr;  // "Matrix"
    QPushButton* BitBtn2 = nullptr;  // "Code Points"
    QPushButton* BitBtn4 = nullptr;  // "Edges"
    QPushButton* BitBtn3 = nullptr;  // "Set Settings, Evaluate and Save"

    // State of the run. Evaluator and MsgLog live from FormCreate to FormCloseQuery.
    std::unique_ptr<TPicEval> Evaluator;
    std::unique_ptr<TMsg> MsgLog;
    /// The stack in memory is complete: 17 planes, all of the evaluator's size.
    /// Gates every command that reads the stack.
    bool PicsLoaded = false;
    /// The plane the picture commands show and "Matrix" uses, 0 … 16.
    std::int32_t CurrentPic = 0;

    /// How long a load or an evaluation runs before its progress dialog appears.
    int ProgressDelayMs = 1000;
    /// How many times a progress dialog was on screen during a step (for tests).
    int ProgressShown = 0;

    /// The viewer window; created hidden after the main window.
    TForm2& Viewer() { return *Form2; }
    /// A command is running; the buttons are disabled meanwhile.
    bool IsBusy() const { return Busy; }

    // Handlers.
    void FormCreate();
    void FormCloseQuery();
    void BitBtn1Click();  // "Load *.jpg"
    void BitBtn8Click();  // "Load *.bin"
    void BitBtn7Click();  // "Save *.bin"
    void BitBtn12Click(); // "Set and calc matrix"
    void BitBtn3Click();  // "Set Settings, Evaluate and Save"
    void BitBtn10Click(); // "next"
    void BitBtn9Click();  // "prev"
    void BitBtn13Click(); // "act"
    void BitBtn11Click(); // "2"
    void BitBtn6Click();  // "Matrix"
    void BitBtn2Click();  // "Code Points"
    void BitBtn4Click();  // "Edges"

signals:
    /// The window has closed; the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class TBusyScope;
    class TProgressScope;

    void BuildControls();
    void ConnectHandlers();
    void updateControls();

    template <class F> void RunHandler(F&& body) noexcept;
    void ReportError(const QString& text) noexcept;

    void Log(const QString& message);
    void ProcessEvents();
    /// A file picked in a dialog.
    struct TPickedFile {
        std::string Name; ///< as the engine takes it
        QString Folder;   ///< the absolute folder it lies in
    };
    /// Runs a file dialog; nothing when it was cancelled. The current directory stays.
    std::optional<TPickedFile> PickFile(bool forSaving);
    /// After a command on picked succeeded, its folder becomes the current directory,
    /// where the next file dialog starts.
    void EnterFolder(const TPickedFile& picked);
    void CopySettings();
    void ViewerReset();
    void ShowInViewer();
    void ShowCurrentPic();
    /// A picture command: shows plane once a stack is loaded, as the current picture.
    void PictureCommand(int plane);
    /// A view command: draws view of the current picture once a stack is loaded.
    void ViewCommand(TView view);
    std::uint8_t ColorChannel() const;
    /// Runs the engine work of a load command, which gives the engine's outcome,
    /// and settles PicsLoaded by it. When the load raised, the error goes on to the
    /// message box; when the stack is not usable, the reason is logged in place of
    /// the success lines, the viewer reset, and the result is false.
    template <class TLoad> bool RunLoad(TLoad load);

    std::unique_ptr<TDialogs> dialogs_;
    std::unique_ptr<TForm2> Form2;
    bool Busy = false;
    bool closeRequested_ = false;
};
