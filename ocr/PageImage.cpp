#include "ocr/Recognition.h"

#include <algorithm>
#include <cmath>

#include <kestrune/FPdf.h>

namespace kestrune::recognition {

namespace {

// Whether every pixel of Image (the engine's four-byte grey, or one-byte
// grey) has the grey Level. Stops at the first that has not: on a page with
// anything on it, within its first lines.
bool AllOf(const QImage& Image, uchar Level) {
    const bool grey = Image.format() == QImage::Format_Grayscale8;
    const quint32 pixel = Level * 0x010101u;
    for (int y = 0; y < Image.height(); ++y) {
        const uchar* line = Image.constScanLine(y);
        for (int x = 0; x < Image.width(); ++x)
            if (grey ? line[x] != Level : (reinterpret_cast<const quint32*>(line)[x] & 0xFFFFFF) != pixel) return false;
    }
    return true;
}

bool HasImages(TFPdf& Pdf) {
    for (int i = 0, count = Pdf.GetObjectCount(); i < count; ++i)
        if (Pdf.GetObjectType(i) == TObjectType::otImage) return true;
    return false;
}

}  // namespace

int RenderPageImage(TFPdf& Pdf, int PageNumber, int Dpi, QImage& Into) {
    CheckResult(Dpi > 0, QStringLiteral("Invalid resolution for recognition"));
    Pdf.SetPageNumber(PageNumber);
    const double width = Pdf.GetPageWidth(), height = Pdf.GetPageHeight();
    const int dpi = PageDpi(width, height, Dpi);
    // Rounded, not raised: a scan's page is its image's size at its resolution,
    // and a pixel more would make the engine resample the whole image.
    const int w = std::max(1, int(std::lround(width * dpi / 72.0)));
    const int h = std::max(1, int(std::lround(height * dpi / 72.0)));
    // What a scanner would see: the page with its annotations and form fields, on white.
    const TRenderOptions options{TRenderOption::reGrayscale, TRenderOption::reAnnotations};
    Pdf.RenderPage(&Into, 0, 0, w, h, TRotation::ro0, options, 0xFFFFFFFF);
    // The engine leaves out of a rendering an image that it cannot decode
    // (beyond its size limits, damaged, or without the memory for it), without
    // a word: a page of such images comes out white. Drawn again on black, a
    // page whose images are white shows them; one whose images were left out
    // stays black, and is no blank page.
    if (AllOf(Into, 0xFF) && HasImages(Pdf)) {
        Pdf.RenderPage(&Into, 0, 0, w, h, TRotation::ro0, options, 0xFF000000);
        const bool drawn = !AllOf(Into, 0);
        Into.fill(Qt::white);  // what the first rendering was
        CheckResult(drawn, QStringLiteral("page %1: an image on the page cannot be decoded (too large for the engine, "
                                          "or damaged)")
                               .arg(PageNumber));
    }
    return dpi;
}

}  // namespace kestrune::recognition
