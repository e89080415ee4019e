#include "engine/ImageBitmap.h"

#include <kestrune/Engine.h>

namespace kestrune {

QImage NewEngineImage(int Width, int Height) {
    if (Width < 1 || Height < 1 || qint64(Width) * Height * 4 > kMaxEngineImageBytes) return QImage();
    return QImage(Width, Height, QImage::Format_ARGB32);
}

FPDF_BITMAP CreateBitmapOver(QImage& Image, int Format) {
    if (Image.isNull() || Image.format() != QImage::Format_ARGB32) return nullptr;
    const qint64 pitch = Image.bytesPerLine();
    if (pitch * Image.height() > kMaxEngineImageBytes) return nullptr;
    uchar* pixels = Image.bits();  // detaches a shared image; null if that fails
    if (!pixels) return nullptr;
    return engine::FPDFBitmap_CreateEx(Image.width(), Image.height(), Format, pixels, int(pitch));
}

}  // namespace kestrune
