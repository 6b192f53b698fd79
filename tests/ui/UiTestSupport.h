#pragma once
// Windows and stacks for the window tests: a main window with scripted dialogs,
// picture sets whose every byte is known, and small JPEG stacks.

#include "PicHolder.h"
#include "ScriptedDialogs.h"
#include "Unit1.h"

#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

/// A fresh main window whose dialogs the test answers.
struct TWindow {
    TWindow();
    ~TWindow();
    TForm1* operator->() { return Form.get(); }

    /// The log's messages without their time stamps, oldest first.
    QStringList Messages() const;
    /// Picks fileName in the next open dialog and runs "Load *.bin" / "Load *.jpg".
    void LoadBin(const QString& fileName);
    void LoadJpg(const QString& fileName);

    TScriptedDialogs* Dialogs; // owned by Form
    std::unique_ptr<TForm1> Form;
};

using TPlaneValue = std::function<std::uint8_t(int plane, int row, int col)>;

/// Writes count planes of width × height bytes, as value gives them, as the picture
/// set <folder>/<name>.bbf with bare plane names; returns the header's path.
QString WriteSet(const QString& folder, const QString& name, int width, int height,
                 const TPlaneValue& value, int count = 17);

/// The probe stack, 20 × 10 pixels. Columns 0 … 9 are one lit dot with code 11:
/// plane 0 is 20, plane 2 200, planes 3 and 5 200, the other code planes 20. Columns
/// 10 … 19 are dark: plane 2 is 30, code plane k is 100 + 3k. Plane 1 is 220.
std::uint8_t ProbeStackValue(int plane, int row, int col);
QString WriteProbeSet(const QString& folder);

/// Writes count one-colour JPEG photographs <base>_NN.jpg (quality 100, no chroma
/// subsampling, so that a flat colour decodes within a step or two) and the list
/// file <base>.txt naming them without a folder; returns the list's path.
QString WriteJpegStack(const QString& folder, const QString& base, std::uint8_t red,
                       std::uint8_t green, std::uint8_t blue, int count = 17);

/// Writes count one-colour 16-bit RGB PNG photographs <base>_NN.png, every sample
/// 257 times the value given (which the rule for 16-bit samples turns back into it),
/// and the list file <base>.txt naming them; returns the list file's path.
QString WritePngStack(const QString& folder, const QString& base, std::uint8_t red,
                      std::uint8_t green, std::uint8_t blue, int count = 17);

/// The first pixel where the display bitmap does not show plane index as grey;
/// empty when every pixel does.
QString DisplayMismatch(TForm1& form, int index);

std::string ToStd(const QString& text);
