#pragma once
// The operator's dialogs as the main window uses them: picking a file to open or
// to save, and showing an error. The window calls them through TDialogs, so that
// tests can answer them without a modal window.

#include <QString>
#include <optional>

class QWidget;

class TDialogs {
public:
    virtual ~TDialogs() = default;

    /// A file to read; nothing when the operator cancels. The file need not exist.
    virtual std::optional<QString> openFileName() = 0;
    /// A file to write; nothing when the operator cancels. An existing file is
    /// taken without asking.
    virtual std::optional<QString> saveFileName() = 0;
    /// Shows an error's message and returns once the operator has seen it.
    virtual void showError(const QString& text) = 0;
};

/// The system's file dialogs and a message box: no file-type filter, no default
/// extension, starting in the current directory.
class TQtDialogs : public TDialogs {
public:
    explicit TQtDialogs(QWidget* parent) : parent_(parent) {}

    std::optional<QString> openFileName() override;
    std::optional<QString> saveFileName() override;
    void showError(const QString& text) override;

private:
    QWidget* parent_; // not owned
};
