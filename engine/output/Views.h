#pragma once
// The diagnostic views a front end offers, each drawn into a bitmap.

#include "image/Bitmap.h"
#include "pipeline/Evaluator.h"

#include <cstdint>

enum class TView {
    Plane,  ///< a plane as grey (TPicEval::ShowPicture)
    Matrix, ///< a plane against the threshold (TPicEval::ShowMatrix)
    Edges,  ///< the threshold map (TPicEval::ShowEdges)
    Codes,  ///< the codes view (TPicEval::ShowCodeView)
};

/// Draws view into bitmap; plane is the plane the Plane and Matrix views show.
void ShowView(const TPicEval& eval, TView view, std::uint8_t plane, TBitmap& bitmap);

/// Whether ShowView(…, view, plane, …) reads the values of the stack's plane
/// index: the plane view its plane, the matrix view its plane and the threshold's
/// planes 0 and 2, the edges view those two, the codes view every plane.
bool ViewReads(TView view, std::uint8_t plane, std::int32_t index);
