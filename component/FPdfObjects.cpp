// Page objects of the current page: their kinds, bounds and transparency, and
// images taken out as stored data (as decoded pixels: FPdfObjectBitmaps.cpp).
#include <new>

#include <kestrune/FPdf.h>
#include "component/ObjectImages.h"
#include "engine/ScopedHandle.h"

namespace kestrune {

using namespace engine;

namespace {

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

}  // namespace kestrune
