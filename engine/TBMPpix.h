#pragma once
// The pixel accessor and the bitmap it works on.

#include "image/Bitmap.h"
#include "image/PixelAccess.h"
#include "image/Pixel.h"
