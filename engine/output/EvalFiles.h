#pragma once
// The files of an evaluation: the points file, the marked picture and the point
// table, named, checked and written in one order, whichever way the stack was
// loaded and evaluated.

#include "decode/Points.h"
#include "image/Plane.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TEarlyPointBitmap;

/// The names of an evaluation's files.
struct TEvalFileNames {
    std::string Points; ///< the points file
    bool Bitmap = true; ///< the marked picture too, named as Points with the extension ".bmp"
    std::string Table;  ///< the point table (CSV); empty: none

    /// The marked picture's name: Points with its extension replaced by ".bmp".
    std::string BitmapName() const;

    /// The files written: the points file, the marked picture (when on), the table
    /// (when named).
    std::vector<std::string> Files() const;

    /// Why these files cannot be written, or empty: a points file that its bitmap
    /// would replace (a name ending in ".bmp" while the bitmap is on), a table named
    /// like the points file or the bitmap (the same file, or the same path once
    /// resolved), or an output that is the same file as one of inputs.
    std::string Problem(const std::vector<std::string>& inputs) const;
};

/// What the files are made of, as an evaluation leaves it.
struct TEvalFileContent {
    std::int32_t Width = 0; ///< the marked picture's size: the stack's
    std::int32_t Height = 0;
    const TPic* Lit = nullptr; ///< picture 2, which the marked picture shows; nullptr: black
    const TUniquePoints* Points = nullptr;
    /// The point table's text; called once, and only when a table is named.
    std::function<std::string()> TableText;
    /// The marked picture as StartEarlyBitmap began it under the bitmap's name while
    /// the stack was loaded; nullptr: the file is written whole.
    TEarlyPointBitmap* Early = nullptr;
    /// Called once the points file is in place, before the marked picture is.
    std::function<void()> PointsWritten;
};

/// How long the files took, in seconds.
struct TEvalFileSeconds {
    double Table = 0; ///< the table's text and its bytes
    double Files = 0; ///< the points file, the marked picture and putting the table in place
};

/// Writes an evaluation's files, in this order:
/// 1. the names are checked against each other and against inputs (Problem):
///    std::invalid_argument before anything is written;
/// 2. an early marked picture's marked rows are drawn again into its file, on a
///    thread of their own where one can be had, while
/// 3. the table's bytes are written to its temporary file, so that a table that
///    cannot be written fails before any file is replaced, and
/// 4. the points file is written and put in place (then PointsWritten);
/// 5. the marked picture is put in place: the early one, or written whole;
/// 6. the table is put in place, last.
/// Raises EFileError when a file cannot be written, the first error met; a file
/// that was not put in place leaves nothing behind.
TEvalFileSeconds WriteEvalFiles(const TEvalFileNames& names, const TEvalFileContent& content,
                                const std::vector<std::string>& inputs);
