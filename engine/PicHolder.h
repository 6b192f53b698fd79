#pragma once
// The engine in one include: the planes and their photographs' input (JPEG, PNG,
// TIFF), the stack and its picture-set files, the code matrix and its runs, the
// point list and the evaluator.

#include "CodeMatrix.h"
#include "CodeRuns.h"
#include "Evaluator.h"
#include "Format.h"
#include "GreyMix.h"
#include "JpegInput.h"
#include "Limits.h"
#include "ListFile.h"
#include "PicSet.h"
#include "PictureInput.h"
#include "PictureRows.h"
#include "Plane.h"
#include "PointBitmap.h"
#include "Points.h"
#include "Refine.h"
#include "Stack.h"
#include "StreamEval.h"
#include "TBMPpix.h"
#include "Views.h"
