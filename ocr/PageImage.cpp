#include "ocr/Recognition.h"

#include <algorithm>
#include <cmath>

#include <kestrune/FPdf.h>

namespace kestrune::recognition {

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
    Pdf.RenderPage(&Into, 0, 0, w, h, TRotation::ro0,
                   TRenderOptions{TRenderOption::reGrayscale, TRenderOption::reAnnotations}, 0xFFFFFFFF);
    return dpi;
}

}  // namespace kestrune::recognition
