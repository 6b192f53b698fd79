#pragma once
// The diagnostic views a front end offers, each drawn into a bitmap from the stack
// and the code rule's settings.

#include "decode/CodeMatrix.h"
#include "image/Bitmap.h"
#include "input/Pics.h"

#include <cstdint>

enum class TView {
    Plane,  ///< a plane as grey (TPicEval::ShowPicture)
    Matrix, ///< a plane against the threshold (TPicEval::ShowMatrix)
    Edges,  ///< the threshold map (TPicEval::ShowEdges)
    Codes,  ///< the codes view (TPicEval::ShowCodeView)
};

/// What the views read: the stack and its code matrix, the size they are drawn at,
/// the code rule's settings and the threads the loops may use (0: one per core).
struct TViewSource {
    const TPics& Pics;
    const TCode& Codes;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    int MinDif = 0;
    int Tolerance = 0;
    int Threads = 0;
};

/// Plane index against the threshold: grey where the value reaches it, dark red
/// (0x7D0000) elsewhere.
void ShowMatrixView(const TViewSource& source, std::uint8_t index, TBitmap& bitmap);

/// The threshold map: grey at the threshold's level (its low 8 bits for a negative
/// one), blue (0x0000FF) where no dot is lit.
void ShowEdgesView(const TViewSource& source, TBitmap& bitmap);

/// Draws view into bitmap; plane is the plane the Plane and Matrix views show. The
/// codes view shows plane 2 against the threshold with the code points of
/// source.Codes over it.
void ShowView(const TViewSource& source, TView view, std::uint8_t plane, TBitmap& bitmap);

/// Whether ShowView(…, view, plane, …) reads the values of the stack's plane
/// index: the plane view its plane, the matrix view its plane and the threshold's
/// planes 0 and 2, the edges view those two, the codes view every plane.
bool ViewReads(TView view, std::uint8_t plane, std::int32_t index);
