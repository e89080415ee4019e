// Page rendering and coordinates: the current page into images, tiles and onto
// a painter, device and page coordinates, transparency and thumbnails.
#include <QPainter>
#include <cstring>
#include <utility>
#include <iterator>
#include <limits>

#include "component/EngineRecords.h"
#include <kestrune/FPdf.h>
#include "engine/ImageBitmap.h"
#include "engine/ScopedHandle.h"
#include "engine/SupplementedEntries.h"
#include <kestrune/FpuMask.h>

namespace kestrune {

using namespace engine;

namespace {

// The engine's four-byte-per-pixel formats start here; none (0), grey (1) and
// three-byte colour (2) are not copied.
constexpr int kFirstCopiedFormat = kEngineBgrx;

// -Value without overflow: a start of INT_MIN pixels is as far off the bitmap
// as one of INT_MAX.
int Negated(int Value) { return Value == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -Value; }

// Renders Page at StartX, StartY with the size SizeX x SizeY into Target, made a
// Width x Height image filled with Color, and draws the form fields over it when
// Form is given. The engine draws into the image's own pixels: into Target's
// when it already is a Format_ARGB32 image of that size held by no one else (in
// place, at its own pitch), otherwise into a new image that becomes Target once
// the engine has accepted it, so that a refusal leaves Target as it was.
// Nothing is done for an empty size.
void RenderPlaced(FPDF_FORMHANDLE Form, QImage* Target, FPDF_PAGE Page, int Width, int Height, int StartX,
                  int StartY, int SizeX, int SizeY, TRotation Rotation, const TRenderOptions& Options,
                  TAlphaColor Color) {
    if (Width < 1 || Height < 1) return;
    FpuMaskScope mask;
    const int format = FPDFPage_HasTransparency(Page) != 0 ? kEngineBgra : kEngineBgrx;
    QImage fresh;
    ScopedBitmap bitmap;
    // A shared image would be copied on detaching, only to be overwritten.
    if (Target->width() == Width && Target->height() == Height && Target->isDetached())
        bitmap.Reset(CreateBitmapOver(*Target, format));
    if (!bitmap) {
        fresh = NewEngineImage(Width, Height);
        bitmap.Reset(CreateBitmapOver(fresh, format));
    }
    // Only the document loaders report through the engine's last-error code.
    CheckResult(bitmap.Get() != nullptr, QStringLiteral("Cannot create bitmap"));
    FPDFBitmap_FillRect(bitmap.Get(), 0, 0, Width, Height, ColorToEngine(Color));
    const int rotation = static_cast<int>(Rotation);
    const int flags = RenderOptionsToFlags(Options);
    FPDF_RenderPageBitmap(bitmap.Get(), Page, StartX, StartY, SizeX, SizeY, rotation, flags);
    if (Form) {
        const bool printing = Options.Contains(TRenderOption::rePrinting);
        if (printing) FPDF_RemoveFormFieldHighlight(Form);
        FPDF_FFLDraw(Form, bitmap.Get(), Page, StartX, StartY, SizeX, SizeY, rotation, flags);
        if (printing) SetStandardFieldHighlight(Form);
    }
    bitmap.Reset();
    if (!fresh.isNull()) *Target = std::move(fresh);
}

// The whole page at Left, Top in a Width x Height bitmap.
void RenderToBitmap(FPDF_FORMHANDLE Form, QImage* Target, FPDF_PAGE Page, int Left, int Top, int Width, int Height,
                    TRotation Rotation, const TRenderOptions& Options, TAlphaColor Color) {
    RenderPlaced(Form, Target, Page, Width, Height, Left, Top, Width, Height, Rotation, Options, Color);
}

// The Width x Height tile at Left, Top of a PageWidth x PageHeight rendering:
// only the tile is rasterised, with the page shifted by the tile's position.
void RenderTileToBitmap(FPDF_FORMHANDLE Form, QImage* Target, FPDF_PAGE Page, int Left, int Top, int Width,
                        int Height, int PageWidth, int PageHeight, TRotation Rotation, const TRenderOptions& Options,
                        TAlphaColor Color) {
    RenderPlaced(Form, Target, Page, Width, Height, Negated(Left), Negated(Top), PageWidth, PageHeight, Rotation,
                 Options, Color);
}

// The engine's FPDF_RenderPage, as this project supplies it: the device
// context is a QPainter*. The engine renders the page into one image of
// size_x by size_y pixels with a transparent background, drawing straight
// into its pixels, and the painter draws that image at (start_x, start_y).
FPDF_BOOL PaintPage(HDC dc, FPDF_PAGE page, int start_x, int start_y, int size_x, int size_y, int rotate, int flags) {
    auto* painter = static_cast<QPainter*>(dc);
    if (!painter || !page || size_x < 1 || size_y < 1 || !painter->isActive()) return 0;
    QImage image = NewEngineImage(size_x, size_y);
    {
        const ScopedBitmap holder(CreateBitmapOver(image, kEngineBgra));
        if (!holder) return 0;
        FPDFBitmap_FillRect(holder.Get(), 0, 0, size_x, size_y, 0x00000000);
        FPDF_RenderPageBitmap(holder.Get(), page, 0, 0, size_x, size_y, rotate, flags);
    }
    painter->drawImage(start_x, start_y, image);
    return 1;
}

// Installed wherever rendering is linked, before any engine call.
[[maybe_unused]] const bool DeviceRendererInstalled = (SetDeviceRenderer(&PaintPage), true);

}  // namespace

int RenderOptionsToFlags(const TRenderOptions& Options) {
    // Indexed by the option's ordinal; the engine's bits are not in that order.
    static constexpr int kFlags[] = {
        0x01,    // reAnnotations       FPDF_ANNOT
        0x02,    // reLcd               FPDF_LCD_TEXT
        0x04,    // reNoNativeText      FPDF_NO_NATIVETEXT
        0x08,    // reGrayscale         FPDF_GRAYSCALE
        0x80,    // reDebugInfo         FPDF_DEBUG_INFO
        0x100,   // reNoCatchException  FPDF_NO_CATCH
        0x200,   // reLimitCache        FPDF_RENDER_LIMITEDIMAGECACHE
        0x400,   // reHalftone          FPDF_RENDER_FORCEHALFTONE
        0x800,   // rePrinting          FPDF_PRINTING
        0x10,    // reReverseByteOrder  FPDF_REVERSE_BYTE_ORDER
        0x1000,  // reNoSmoothText      FPDF_RENDER_NO_SMOOTHTEXT
        0x2000,  // reNoSmoothImage     FPDF_RENDER_NO_SMOOTHIMAGE
        0x4000,  // reNoSmoothPath      FPDF_RENDER_NO_SMOOTHPATH
    };
    int flags = 0;
    for (int i = 0; i < int(std::size(kFlags)); ++i)
        if (Options.Contains(static_cast<TRenderOption>(i))) flags |= kFlags[i];
    return flags;
}

void CopyEngineBitmap(FPDF_BITMAP Bitmap, QImage* Target) {
    if (!Bitmap || !Target) return;
    const EngineLock lock;
    const int format = FPDFBitmap_GetFormat(Bitmap);
    const int width = FPDFBitmap_GetWidth(Bitmap);
    const int height = FPDFBitmap_GetHeight(Bitmap);
    const int stride = FPDFBitmap_GetStride(Bitmap);
    const auto* source = static_cast<const uchar*>(FPDFBitmap_GetBuffer(Bitmap));
    if (format < kFirstCopiedFormat) return;
    // Resize: a Format_ARGB32 image of the engine bitmap's size, its bytes in
    // memory blue, green, red, alpha like the engine's four-byte pixels.
    if (Target->width() != width || Target->height() != height || Target->format() != QImage::Format_ARGB32)
        *Target = QImage(qMax(width, 0), qMax(height, 0), QImage::Format_ARGB32);
    // Mapping for writing: bits() detaches a shared image and is null when the
    // image could not be allocated (or is empty); then it stays unfilled.
    uchar* target = Target->isNull() ? nullptr : Target->bits();
    if (!target || !source) return;
    const qsizetype rowBytes = qsizetype(width) * 4;
    const qsizetype pitch = Target->bytesPerLine();
    // A stride shorter than a row would read into the next row or past the
    // buffer's end; such a bitmap cannot be copied row by row.
    if (stride < rowBytes || pitch < rowBytes) return;
    for (int r = 0; r < height; ++r)
        std::memcpy(target + qsizetype(r) * pitch, source + qsizetype(r) * stride, size_t(rowBytes));
}

QImage BitmapFromEngine(FPDF_BITMAP Bitmap) {
    QImage result(0, 0, QImage::Format_ARGB32);
    CopyEngineBitmap(Bitmap, &result);
    return result;
}

// ---- Rendering --------------------------------------------------------------

void TFPdf::RenderPage(QPainter* DeviceContext, int Left, int Top, int Width, int Height, TRotation Rotation,
                       const TRenderOptions& Options) {
    const EngineLock lock;
    CheckPageActive();
    FPDF_RenderPage(DeviceContext, FPage, Left, Top, Width, Height, static_cast<int>(Rotation),
                    RenderOptionsToFlags(Options));
}

QImage TFPdf::RenderPage(int Left, int Top, int Width, int Height, TRotation Rotation, const TRenderOptions& Options,
                         TAlphaColor Color) {
    const EngineLock lock;
    CheckPageActive();
    QImage result;
    RenderToBitmap(PageForm(), &result, FPage, Left, Top, Width, Height, Rotation, Options, Color);
    return result;
}

void TFPdf::RenderPage(QImage* Bitmap, int Left, int Top, int Width, int Height, TRotation Rotation,
                       const TRenderOptions& Options, TAlphaColor Color) {
    const EngineLock lock;
    CheckPageActive();
    if (!Bitmap) return;
    RenderToBitmap(PageForm(), Bitmap, FPage, Left, Top, Width, Height, Rotation, Options, Color);
}

QImage TFPdf::RenderTile(int Left, int Top, int Width, int Height, int PageWidth, int PageHeight, TRotation Rotation,
                         const TRenderOptions& Options, TAlphaColor Color) {
    const EngineLock lock;
    CheckPageActive();
    QImage result;
    RenderTileToBitmap(PageForm(), &result, FPage, Left, Top, Width, Height, PageWidth, PageHeight, Rotation,
                       Options, Color);
    return result;
}

void TFPdf::RenderTile(QImage* Bitmap, int Left, int Top, int Width, int Height, int PageWidth, int PageHeight,
                       TRotation Rotation, const TRenderOptions& Options, TAlphaColor Color) {
    const EngineLock lock;
    CheckPageActive();
    if (!Bitmap) return;
    RenderTileToBitmap(PageForm(), Bitmap, FPage, Left, Top, Width, Height, PageWidth, PageHeight, Rotation,
                       Options, Color);
}

// ---- Page facts and coordinates ---------------------------------------------

bool TFPdf::GetTransparent() {
    const EngineLock lock;
    CheckPageActive();
    return FPDFPage_HasTransparency(FPage) != 0;
}

bool TFPdf::DeviceToPage(int X, int Y, int Left, int Top, int Width, int Height, TRotation Rotation, double& PageX,
                         double& PageY) {
    const EngineLock lock;
    CheckPageActive();
    return FPDF_DeviceToPage(FPage, Left, Top, Width, Height, static_cast<int>(Rotation), X, Y, &PageX, &PageY) != 0;
}

bool TFPdf::PageToDevice(double PageX, double PageY, int Left, int Top, int Width, int Height, TRotation Rotation,
                         int& X, int& Y) {
    const EngineLock lock;
    CheckPageActive();
    return FPDF_PageToDevice(FPage, Left, Top, Width, Height, static_cast<int>(Rotation), PageX, PageY, &X, &Y) != 0;
}

QImage TFPdf::GetThumbnail() {
    const EngineLock lock;
    CheckPageActive();
    ScopedBitmap thumbnail(FPDFPage_GetThumbnailAsBitmap(FPage));
    if (!thumbnail.Get()) return QImage();
    return BitmapFromEngine(thumbnail.Get());
}

}  // namespace kestrune
