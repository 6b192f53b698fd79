#pragma once
// The engine in one include: the planes and their photographs' input (JPEG, PNG,
// TIFF), the stack and its picture-set files, the code matrix and its runs, the
// point list and the evaluator.

#include "decode/CodeMatrix.h"
#include "decode/CodeRuns.h"
#include "pipeline/Evaluator.h"
#include "base/Format.h"
#include "image/GreyMix.h"
#include "input/JpegInput.h"
#include "base/Limits.h"
#include "input/ListFile.h"
#include "input/PicSet.h"
#include "input/PictureInput.h"
#include "input/PictureRows.h"
#include "image/Plane.h"
#include "output/PointBitmap.h"
#include "decode/Points.h"
#include "refine/Refine.h"
#include "input/Pics.h"
#include "pipeline/StreamEval.h"
#include "TBMPpix.h"
#include "output/Views.h"
