#pragma once
// The diagnostic views a front end offers, each drawn into a bitmap.

#include "Bitmap.h"
#include "Evaluator.h"

#include <cstdint>

enum class TView {
    Plane,  ///< a plane as grey (TPicEval::ShowPicture)
    Matrix, ///< a plane against the threshold (TPicEval::ShowMatrix)
    Edges,  ///< the threshold map (TPicEval::ShowEdges)
    Codes,  ///< the codes view (TPicEval::ShowCodeView)
};

/// Draws view into bitmap; plane is the plane the Plane and Matrix views show.
void ShowView(const TPicEval& eval, TView view, std::uint8_t plane, TBitmap& bitmap);
