// Page objects of the current page: their kinds, bounds and transparency, and
// images taken out as stored data or as decoded pixels.
#include <cstring>
#include <memory>
#include <new>

#include <kestrune/FPdf.h>
#include "engine/ScopedHandle.h"

namespace kestrune {

using namespace engine;

namespace {

const QString kIncorrectIndex = QStringLiteral("Incorrect index");
const QString kCannotRetrieveImageData = QStringLiteral("Cannot retrieve image data");
const QString kImageTooLarge = QStringLiteral("Image too large");

// The engine never hands out a bitmap whose buffer exceeds 32 bits of bytes;
// a size beyond that is no image this process can hold.
constexpr qint64 kMaxImageBytes = qint64(0xFFFFFFFFu);

TObjectType ObjectTypeFromEngine(int Value) {
    return Value >= 1 && Value <= 5 ? static_cast<TObjectType>(Value) : TObjectType::otUnknown;
}

// Whether object Index (within the page's count) is an image; the callers have
// run the page guard and read the count once for the whole walk.
bool IsImageObject(FPDF_PAGE Page, int Index) {
    return ObjectTypeFromEngine(FPDFPageObj_GetType(FPDFPage_GetObject(Page, Index))) == TObjectType::otImage;
}

}  // namespace

int TFPdf::GetObjectCount() {
    const EngineLock lock;
    CheckPageActive();
    return FPDFPage_CountObjects(FPage);
}

void* TFPdf::GetObjectHandle(int Index) {
    const EngineLock lock;
    CheckPageActive();
    CheckResult(Index >= 0 && Index < GetObjectCount(), kIncorrectIndex);
    return FPDFPage_GetObject(FPage, Index);
}

TObjectType TFPdf::GetObjectType(int Index) {
    const EngineLock lock;
    return ObjectTypeFromEngine(FPDFPageObj_GetType(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(Index))));
}

QImage TFPdf::GetObjectBitmap(int Index) {
    const EngineLock lock;
    const ScopedBitmap bitmap(FPDFImageObj_GetBitmap(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(Index))));
    if (!bitmap) return {};
    return BitmapFromEngine(bitmap.Get());
}

TPdfRectangle TFPdf::GetObjectBounds(int Index) {
    const EngineLock lock;
    float left = 0, bottom = 0, right = 0, top = 0;
    CheckResult(FPDFPageObj_GetBounds(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(Index)), &left, &bottom, &right,
                                      &top) != 0,
                QStringLiteral("Cannot retrieve data"));
    return TPdfRectangle{left, top, right, bottom};
}

bool TFPdf::GetObjectTransparent(int Index) {
    const EngineLock lock;
    return FPDFPageObj_HasTransparency(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(Index))) != 0;
}

int TFPdf::GetImageCount() {
    const EngineLock lock;
    int count = 0;
    for (int i = GetObjectCount() - 1; i >= 0; --i)
        if (IsImageObject(FPage, i)) ++count;
    return count;
}

int TFPdf::GetBitmapCount() { return GetImageCount(); }

int TFPdf::ImageObjectIndex(int Index) {
    const int count = GetObjectCount();
    for (int i = 0; i < count; ++i) {
        if (!IsImageObject(FPage, i)) continue;
        if (Index <= 0) return i;
        --Index;
    }
    return -1;
}

TPdfImage TFPdf::GetImage(int Index) {
    const EngineLock lock;
    CheckPageActive();
    const int objectIndex = ImageObjectIndex(Index);
    CheckResult(objectIndex != -1, kIncorrectIndex);
    TPdfImage result;
    ReadImageData(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(objectIndex)), result);
    return result;
}

QImage TFPdf::GetBitmap(int Index) {
    const EngineLock lock;
    CheckPageActive();
    const int objectIndex = ImageObjectIndex(Index);
    CheckResult(objectIndex != -1, kIncorrectIndex);
    return ReadImageBitmap(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(objectIndex)));
}

void TFPdf::ReadImageData(FPDF_PAGEOBJECT Obj, TPdfImage& Image) {
    unsigned int size = 0;
    CheckResult(FPDFPageObj_GetImage(Obj, &Image.Height, &Image.Width, &size, nullptr) != 0,
                kCannotRetrieveImageData);
    Image.Data = QByteArray();
    if (size == 0) return;
    try {
        Image.Data.resize(qsizetype(size));
    } catch (const std::bad_alloc&) {
        throw EPdfError(kImageTooLarge);
    }
    CheckResult(FPDFPageObj_GetImage(Obj, &Image.Height, &Image.Width, &size, Image.Data.data()) != 0,
                kCannotRetrieveImageData);
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
