// Images of the current page taken out as decoded pixels, in QImages: apart
// from the other page objects, so that a program that reads text alone links
// no Qt Gui.
#include <QImage>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include <kestrune/FPdf.h>
#include "component/ObjectImages.h"
#include "engine/ScopedHandle.h"

namespace kestrune {

using namespace engine;

namespace {

// The engine never hands out a bitmap whose buffer exceeds 32 bits of bytes;
// a size beyond that is no image this process can hold.
constexpr qint64 kMaxImageBytes = qint64(0xFFFFFFFFu);

}  // namespace

QImage TFPdf::GetObjectBitmap(int Index) {
    const EngineLock lock;
    const ScopedBitmap bitmap(FPDFImageObj_GetBitmap(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(Index))));
    if (!bitmap) return {};
    return BitmapFromEngine(bitmap.Get());
}

QImage TFPdf::GetBitmap(int Index) {
    const EngineLock lock;
    CheckPageActive();
    const int objectIndex = ImageObjectIndex(Index);
    CheckResult(objectIndex != -1, kIncorrectIndex);
    return ReadImageBitmap(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(objectIndex)));
}

QImage TFPdf::ReadImageBitmap(FPDF_PAGEOBJECT Obj) {
    int height = 0, width = 0, bitsPerPixel = 0, stride = 0;
    CheckResult(FPDFPageObj_GetDIB(Obj, &height, &width, &bitsPerPixel, &stride, nullptr) != 0,
                kCannotRetrieveImageData);
    CheckResult(height >= 0 && width >= 0 && stride >= 0, kCannotRetrieveImageData);

    // In 64 bits: height x stride overflows 32 bits for large images.
    const qint64 bufferBytes = qint64(height) * stride;
    CheckResult(bufferBytes <= kMaxImageBytes && qint64(width) * 4 <= std::numeric_limits<int>::max() &&
                    qint64(width) * height * 4 <= kMaxImageBytes,
                kImageTooLarge);
    std::unique_ptr<uchar[]> buffer;
    if (bufferBytes > 0) {
        buffer.reset(new (std::nothrow) uchar[size_t(bufferBytes)]);
        CheckResult(buffer != nullptr, kImageTooLarge);
        // The engine is asked again with its own variables, so that a second
        // answer that differs from the first cannot steer the copy below.
        int h = 0, w = 0, bpp = 0, s = 0;
        CheckResult(FPDFPageObj_GetDIB(Obj, &h, &w, &bpp, &s, buffer.get()) != 0, kCannotRetrieveImageData);
        CheckResult(h == height && w == width && bpp == bitsPerPixel && s == stride, kCannotRetrieveImageData);
    }
    CheckResult(bitsPerPixel == 24 || bitsPerPixel == 32, QStringLiteral("Unsupported bitmap format"));

    QImage result(width, height, QImage::Format_ARGB32);
    CheckResult(width == 0 || height == 0 || !result.isNull(), kImageTooLarge);
    if (width == 0 || height == 0) return result;

    // Only whole pixels that lie inside a source row are copied: a stride
    // shorter than the row leaves the rest of the row transparent, a longer one
    // skips the bytes past the row.
    const int sourcePixelBytes = bitsPerPixel / 8;
    const int pixels = int(qMin<qint64>(width, stride / sourcePixelBytes));
    if (pixels < width) result.fill(0);
    if (pixels <= 0) return result;
    for (int y = 0; y < height; ++y) {
        const uchar* source = buffer.get() + qint64(y) * stride;
        uchar* target = result.scanLine(y);
        if (sourcePixelBytes == 4) {
            std::memcpy(target, source, size_t(pixels) * 4);
        } else {
            for (int x = 0; x < pixels; ++x, source += 3, target += 4) {
                target[0] = source[0];
                target[1] = source[1];
                target[2] = source[2];
                target[3] = 0xFF;
            }
        }
    }
    return result;
}

}  // namespace kestrune
