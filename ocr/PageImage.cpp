#include "ocr/Recognition.h"

#include <QRectF>
#include <QTransform>
#include <algorithm>
#include <cmath>

#include <kestrune/Engine.h>
#include <kestrune/FPdf.h>
#include "engine/ImageBitmap.h"
#include "engine/ScopedHandle.h"

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

void CheckImage(const QImage& Image, int Width, int Height) {
    // A null image here is a refused allocation.
    CheckResult(!Image.isNull(), QStringLiteral("Not enough memory for the page image (%1 x %2 pixels)").arg(Width).arg(Height));
}

// The engine's colour space code for an image without one (a stencil mask,
// drawn in the fill colour): no pixels of its own to read.
constexpr int kNoColorSpace = 0;

// A point of page space (PDF units, y upwards) on the page as shown, in points
// from its top left corner: the engine's own mapping (crop box, rotation), at
// a hundred device pixels a point. False when the engine refuses.
bool Shown(TFPdf& Pdf, double X, double Y, QPointF& Point) {
    constexpr double scale = 100;
    const int width = int(std::lround(Pdf.GetPageWidth() * scale)), height = int(std::lround(Pdf.GetPageHeight() * scale));
    int x = 0, y = 0;
    if (!Pdf.PageToDevice(X, Y, 0, 0, width, height, TRotation::ro0, x, y)) return false;
    Point = QPointF(x / scale, y / scale);
    return true;
}

// The plan for reading the current page's image object Index, the one thing
// the page shows, from its own pixels; false when its pixels cannot be taken
// as they are (no colour of their own, placed at a slant, off the page).
bool PlanScan(TFPdf& Pdf, int Index, const TRecognitionOptions& Options, TPagePlan& Plan) {
    const auto object = static_cast<FPDF_PAGEOBJECT>(Pdf.GetObjectHandle(Index));
    FPDF_IMAGEOBJ_METADATA image{};
    FS_MATRIX m{};
    {
        const EngineLock lock;
        if (!engine::FPDFImageObj_GetImageMetadata(object, static_cast<FPDF_PAGE>(Pdf.GetPage()), &image) ||
            !engine::FPDFPageObj_GetMatrix(object, &m))
            return false;
    }
    if (image.colorspace == kNoColorSpace || image.width < 1 || image.height < 1 ||
        image.width > unsigned(TPageRecognizer::MaxPageSide) * 8 || image.height > unsigned(TPageRecognizer::MaxPageSide) * 8)
        return false;
    // The image's first row is its top (image space y = 1); its columns run
    // along Across, its rows along Down, both on the page as shown.
    QPointF origin, right, bottom;
    if (!Shown(Pdf, m.c + m.e, m.d + m.f, origin) || !Shown(Pdf, m.a + m.c + m.e, m.b + m.d + m.f, right) ||
        !Shown(Pdf, m.e, m.f, bottom))
        return false;
    const QPointF across = right - origin, down = bottom - origin;
    // Square to the page within a fraction of a point over its whole length.
    constexpr double slant = 0.25;
    const bool upright = std::abs(across.y()) <= slant && std::abs(down.x()) <= slant;
    const bool turned = std::abs(across.x()) <= slant && std::abs(down.y()) <= slant;
    if (!upright && !turned) return false;
    Plan.Source = QSize(int(image.width), int(image.height));
    Plan.Transposed = turned;
    Plan.MirrorX = (turned ? down.x() : across.x()) < 0;
    Plan.MirrorY = (turned ? across.y() : down.y()) < 0;
    // The image turned to lie as shown: its size in pixels and in points.
    const int columns = turned ? Plan.Source.height() : Plan.Source.width();
    const int rows = turned ? Plan.Source.width() : Plan.Source.height();
    const double width = std::abs(turned ? down.x() : across.x()), height = std::abs(turned ? across.y() : down.y());
    if (width < 1 || height < 1) return false;
    const QRectF placed(std::min({origin.x(), right.x(), bottom.x()}), std::min({origin.y(), right.y(), bottom.y()}), width,
                        height);
    const QRectF shown = placed.intersected(QRectF(0, 0, Pdf.GetPageWidth(), Pdf.GetPageHeight()));
    if (shown.width() < 1 || shown.height() < 1) return false;
    const double dpiX = columns / width * 72, dpiY = rows / height * 72;
    // The pixels on the page: a scan larger than its page is cut to it.
    const int left = std::clamp(int(std::floor((shown.left() - placed.left()) * dpiX / 72 + 0.01)), 0, columns - 1);
    const int top = std::clamp(int(std::floor((shown.top() - placed.top()) * dpiY / 72 + 0.01)), 0, rows - 1);
    const int right_ = std::clamp(int(std::ceil((shown.right() - placed.left()) * dpiX / 72 - 0.01)), left + 1, columns);
    const int bottom_ = std::clamp(int(std::ceil((shown.bottom() - placed.top()) * dpiY / 72 - 0.01)), top + 1, rows);
    Plan.Crop = QRect(left, top, right_ - left, bottom_ - top);
    Plan.Origin = placed.topLeft() + QPointF(left * 72 / dpiX, top * 72 / dpiY);

    // Its own resolution when its pixels are square (a fax's are not: those
    // are made square at the finer one), raised for a coarse scan.
    const bool square = std::abs(dpiX - dpiY) <= 0.01 * std::max(dpiX, dpiY);
    double dpi = square ? dpiX : std::max(dpiX, dpiY);
    if (dpi < TPageRecognizer::MinScanDpi && Options.Dpi > dpi) dpi = Options.Dpi;
    // A scan too fine for the pixel limits is read at the resolution pages
    // are rendered at (or the highest within the limits, when that is not).
    const double inchesX = Plan.Crop.width() / dpiX, inchesY = Plan.Crop.height() / dpiY;
    if (PageDpi(inchesX * 72, inchesY * 72, int(std::ceil(dpi - 1e-6))) < int(std::ceil(dpi - 1e-6))) dpi = Options.Dpi;
    Plan.AskedDpi = dpi;
    const int asked = int(std::ceil(dpi - 1e-6));
    const int within = PageDpi(inchesX * 72, inchesY * 72, asked);
    if (within < asked) dpi = within;
    Plan.Dpi = dpi;
    const bool scaled = !square || dpi != dpiX;
    Plan.Width = scaled ? std::max(1, int(std::lround(inchesX * dpi))) : Plan.Crop.width();
    Plan.Height = scaled ? std::max(1, int(std::lround(inchesY * dpi))) : Plan.Crop.height();
    Plan.ImageObject = Index;
    return true;
}

TPagePlan RenderPlan(TFPdf& Pdf, int PageNumber, const TRecognitionOptions& Options) {
    TPagePlan plan;
    plan.Page = PageNumber;
    const double width = Pdf.GetPageWidth(), height = Pdf.GetPageHeight();
    plan.AskedDpi = Options.Dpi;
    plan.Dpi = PageDpi(width, height, Options.Dpi);
    // Rounded, not raised: a scan's page is its image's size at its resolution,
    // and a pixel more would make the engine resample the whole image.
    plan.Width = std::max(1, int(std::lround(width * plan.Dpi / 72.0)));
    plan.Height = std::max(1, int(std::lround(height * plan.Dpi / 72.0)));
    return plan;
}

// The engine's luminance of a colour, as its grey rendering computes it.
inline uchar Grey(int Red, int Green, int Blue) { return uchar((Red * 30 + Green * 59 + Blue * 11) / 100); }

// The pixels of an engine bitmap in one byte of grey each, a transparent
// pixel on white; null for a format the engine does not give images in.
QImage GreyOf(FPDF_BITMAP Bitmap) {
    const int format = engine::FPDFBitmap_GetFormat(Bitmap);
    const int width = engine::FPDFBitmap_GetWidth(Bitmap), height = engine::FPDFBitmap_GetHeight(Bitmap);
    const int stride = engine::FPDFBitmap_GetStride(Bitmap);
    const auto* bits = static_cast<const uchar*>(engine::FPDFBitmap_GetBuffer(Bitmap));
    const int bytes = format == kEngineGray ? 1 : format == kEngineBgr ? 3 : format == kEngineBgrx || format == kEngineBgra ? 4 : 0;
    if (!bits || bytes == 0 || width < 1 || height < 1 || qint64(stride) < qint64(width) * bytes) return {};
    QImage grey(width, height, QImage::Format_Grayscale8);
    CheckImage(grey, width, height);
    for (int y = 0; y < height; ++y) {
        const uchar* s = bits + qint64(y) * stride;
        uchar* t = grey.scanLine(y);
        if (bytes == 1) {
            std::copy(s, s + width, t);
            continue;
        }
        for (int x = 0; x < width; ++x, s += bytes) {
            const int value = Grey(s[2], s[1], s[0]);
            t[x] = format == kEngineBgra ? uchar((value * s[3] + 255 * (255 - s[3])) / 255) : uchar(value);
        }
    }
    return grey;
}

// Reads the scan of Plan into Into; false when the engine cannot decode it
// as the plan has it.
bool ReadScan(TFPdf& Pdf, const TPagePlan& Plan, QImage& Into) {
    QImage grey;
    {
        const EngineLock lock;
        const FpuMaskScope mask;
        const ScopedBitmap bitmap(engine::FPDFImageObj_GetBitmap(static_cast<FPDF_PAGEOBJECT>(Pdf.GetObjectHandle(Plan.ImageObject))));
        if (!bitmap || engine::FPDFBitmap_GetWidth(bitmap.Get()) != Plan.Source.width() ||
            engine::FPDFBitmap_GetHeight(bitmap.Get()) != Plan.Source.height())
            return false;
        grey = GreyOf(bitmap.Get());
    }
    if (grey.isNull()) return false;
    // Turned and mirrored exactly, pixel for pixel: a transposition is a
    // quarter turn clockwise and a mirror across.
    if (Plan.Transposed) grey = grey.transformed(QTransform().rotate(90));
    const bool mirrorX = Plan.MirrorX != Plan.Transposed;
    if (mirrorX || Plan.MirrorY) grey = grey.mirrored(mirrorX, Plan.MirrorY);
    if (Plan.Crop != grey.rect()) grey = grey.copy(Plan.Crop);
    if (grey.size() != QSize(Plan.Width, Plan.Height))
        grey = grey.scaled(Plan.Width, Plan.Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    CheckImage(grey, Plan.Width, Plan.Height);
    Into = std::move(grey);
    return true;
}

void RenderPageImage(TFPdf& Pdf, const TPagePlan& Plan, QImage& Into) {
    const int w = Plan.Width, h = Plan.Height;
    // What a scanner would see: the page with its annotations and form fields,
    // on white; images drawn with their own pixels, not smoothed, which blurs
    // the strokes of scanned text.
    const TRenderOptions options{TRenderOption::reGrayscale, TRenderOption::reAnnotations, TRenderOption::reNoSmoothImage};
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
                               .arg(Plan.Page));
    }
}

}  // namespace

TPagePlan PlanPageImage(TFPdf& Pdf, int PageNumber, const TRecognitionOptions& Options, bool KeepText) {
    CheckResult(Options.Dpi > 0, QStringLiteral("Invalid resolution for recognition"));
    Pdf.SetPageNumber(PageNumber);
    // A scan: the one thing the page shows is an image (no annotation over
    // it), but for the text kept.
    int image = -1;
    bool other = false;
    {
        const EngineLock lock;
        const auto page = static_cast<FPDF_PAGE>(Pdf.GetPage());
        for (int i = 0, count = engine::FPDFPage_CountObjects(page); i < count && !other; ++i) {
            const int type = engine::FPDFPageObj_GetType(engine::FPDFPage_GetObject(page, i));
            if (type == int(TObjectType::otImage) && image < 0) image = i;
            else other = !(KeepText && type == int(TObjectType::otText));
        }
        other = other || engine::FPDFPage_GetAnnotCount(page) != 0;
    }
    TPagePlan plan;
    plan.Page = PageNumber;
    if (image >= 0 && !other && PlanScan(Pdf, image, Options, plan)) return plan;
    return RenderPlan(Pdf, PageNumber, Options);
}

bool StampedScan(TFPdf& Pdf) {
    const EngineLock lock;
    const auto page = static_cast<FPDF_PAGE>(Pdf.GetPage());
    const int count = engine::FPDFPage_CountObjects(page);
    const auto area = [](FPDF_PAGEOBJECT Object) {
        float left = 0, bottom = 0, right = 0, top = 0;
        return engine::FPDFPageObj_GetBounds(Object, &left, &bottom, &right, &top) ? double(right - left) * (top - bottom) : 0.0;
    };
    double images = 0;
    for (int i = 0; i < count; ++i) {
        const FPDF_PAGEOBJECT object = engine::FPDFPage_GetObject(page, i);
        if (engine::FPDFPageObj_GetType(object) == int(TObjectType::otImage)) images += area(object);
    }
    if (images < 0.5 * Pdf.GetPageWidth() * Pdf.GetPageHeight()) return false;
    double text = 0;
    for (int i = 0; i < count && text < 0.1 * images; ++i) {
        const FPDF_PAGEOBJECT object = engine::FPDFPage_GetObject(page, i);
        if (engine::FPDFPageObj_GetType(object) == int(TObjectType::otText)) text += area(object);
    }
    return text < 0.1 * images;
}

void MakePageImage(TFPdf& Pdf, TPagePlan& Plan, const TRecognitionOptions& Options, QImage& Into) {
    Pdf.SetPageNumber(Plan.Page);
    if (Plan.ImageObject >= 0) {
        if (ReadScan(Pdf, Plan, Into)) return;
        // Rendered, the page shows what the engine makes of the image, or
        // fails saying that it cannot decode it.
        Plan = RenderPlan(Pdf, Plan.Page, Options);
    }
    RenderPageImage(Pdf, Plan, Into);
}

void PlaceWords(TRecognizedPage& Page, const TPagePlan& Plan) {
    Page.ScanPixels = Plan.ImageObject >= 0;
    if (Plan.Origin.isNull()) return;
    for (TRecognizedWord& word : Page.Words) word.Box.translate(Plan.Origin);
}

}  // namespace kestrune::recognition
