#include "Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

std::optional<QString> RunFileDialog(QFileDialog& dialog) {
    dialog.setDirectory(QDir::currentPath());
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.constFirst().isEmpty())
        return std::nullopt;
    return files.constFirst();
}

} // namespace

std::optional<QString> TQtDialogs::openFileName() {
    QFileDialog OpenDialog1(parent_);
    OpenDialog1.setAcceptMode(QFileDialog::AcceptOpen);
    return RunFileDialog(OpenDialog1);
}

std::optional<QString> TQtDialogs::saveFileName() {
    QFileDialog SaveDialog1(parent_);
    SaveDialog1.setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1.setOption(QFileDialog::DontConfirmOverwrite);
    return RunFileDialog(SaveDialog1);
}

void TQtDialogs::showError(const QString& text) {
    QMessageBox::critical(parent_, QStringLiteral("Kelvaron Eval"), text);
}
