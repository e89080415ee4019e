// Pictures on the current page from QImages: apart from the other content, so
// that a program that writes only text (a text layer) links no Qt Gui.
#include <QImage>

#include <kestrune/FPdf.h>
#include "engine/ScopedHandle.h"

namespace kestrune {

using namespace engine;

void TFPdf::AddPicture(const QImage& Bitmap, double X, double Y) {
    const EngineLock lock;
    CheckPageActive();
    InsertBitmapObject(Bitmap, X, Y, Bitmap.width(), Bitmap.height());
}

void TFPdf::AddPicture(const QImage& Bitmap, double X, double Y, double Width, double Height) {
    const EngineLock lock;
    CheckPageActive();
    InsertBitmapObject(Bitmap, X, Y, Width, Height);
}

void TFPdf::InsertBitmapObject(const QImage& Bitmap, double X, double Y, double Width, double Height) {
    CheckResult(Bitmap.format() == QImage::Format_ARGB32, QStringLiteral("Unsupported pixel format"));
    CheckPageTree();
    FpuMaskScope mask;
    ScopedPageObject image(FPDFPageObj_NewImageObj(FDocument));
    CheckResult(image.Get() != nullptr, QStringLiteral("Cannot create image object"));
    // Format_ARGB32 lies in memory as the engine's BGRA; the engine only reads
    // these pixels while it encodes them into the image, so the image's own
    // rows serve without a copy.
    const ScopedBitmap bitmap(FPDFBitmap_CreateEx(Bitmap.width(), Bitmap.height(), 4 /* BGRA */,
                                                  const_cast<uchar*>(Bitmap.constBits()),
                                                  int(Bitmap.bytesPerLine())));
    CheckResult(bitmap.Get() != nullptr, QStringLiteral("Cannot create bitmap"));
    FPDF_PAGE pages[] = {FPage};
    CheckResult(FPDFImageObj_SetBitmap(pages, 1, image.Get(), bitmap.Get()) != 0,
                QStringLiteral("Cannot assign bitmap"));
    CheckResult(FPDFImageObj_SetMatrix(image.Get(), Width, 0, 0, Height, X, Y) != 0,
                QStringLiteral("Cannot set matrix"));
    FPDFPage_InsertObject(FPage, image.Get());
    image.Release();
    UpdatePage();
}

}  // namespace kestrune
