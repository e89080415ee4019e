// Engine bitmaps over the pixels of a QImage: the engine draws straight into
// the image, with no buffer of its own and no copy afterwards.
#pragma once

#include <QImage>
#include <limits>

#include <kestrune/EngineTypes.h>

namespace kestrune {

// Pixel formats of the engine's bitmaps (FPDFBitmap_*). The four-byte ones lie
// in memory as blue, green, red, then alpha (or an unused byte), exactly like a
// QImage in Format_ARGB32.
constexpr int kEngineGray = 1, kEngineBgr = 2, kEngineBgrx = 3, kEngineBgra = 4;

// The engine allocates none of its own bitmaps of 2 GiB or more; an image it is
// to draw into keeps the same bound, so that an absurd size is refused before
// any memory is claimed for it.
constexpr qint64 kMaxEngineImageBytes = std::numeric_limits<int>::max();

// A new Format_ARGB32 image of Width x Height for the engine to draw into, its
// pixels not yet set; a null image when either side is below 1, when it would
// exceed kMaxEngineImageBytes, or when it cannot be allocated.
QImage NewEngineImage(int Width, int Height);

// An engine bitmap in Format (kEngineBgrx or kEngineBgra) over the pixels of
// Image, a Format_ARGB32 image, at its own pitch; null when Image is of another
// format, null, or beyond the bound above, or when the engine refuses it. The
// caller destroys the bitmap before Image goes or is detached (Image is
// detached here, so that the engine writes into memory that is Image's alone).
FPDF_BITMAP CreateBitmapOver(QImage& Image, int Format);

}  // namespace kestrune
