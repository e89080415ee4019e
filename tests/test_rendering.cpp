// Rendering the current page to images, tiles and a painter; coordinates;
// thumbnails; the engine bitmap's lifetime and the copy of its rows.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cfenv>
#include <cstring>
#include <functional>
#include <vector>

#include <kestrune/FPdf.h>
#include "support/EngineSpy.h"
#include "support/PdfBuilder.h"

using namespace kestrune;
using namespace testing_support;

namespace {

// Two 200 x 200 pages (one point is one pixel at 200 x 200):
// 1. opaque: a black square over the top left quadrant, a red square in the
//    bottom right corner and some text (anti-aliased edges, for the tiles);
// 2. transparent (a screen blend): a half-transparent blue square over the
//    bottom left quadrant, and an embedded RGB thumbnail.
QByteArray RenderPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int content1 = b.AddStream("<< >>",
                                     "0 0 0 rg 0 100 100 100 re f\n"
                                     "1 0 0 rg 150 0 50 50 re f\n"
                                     "BT /F1 30 Tf 105 60 Td (Tk) Tj ET\n");
    const int blend = b.Add("<< /Type /ExtGState /BM /Screen /CA 0.5 /ca 0.5 >>");
    const int content2 = b.AddStream("<< >>", "/G gs 0 0 1 rg 0 0 100 100 re f\n");
    QByteArray rgb;
    for (int i = 0; i < 16; ++i) rgb += QByteArray::fromHex("102030");
    const int thumb = b.AddStream("<< /Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>", rgb);
    const int page1 = b.Add("<< /Type /Page /Parent " + Ref(pages) +
                            " /MediaBox [0 0 200 200] /Resources << /Font << /F1 " + Ref(font) + " >> >> /Contents " +
                            Ref(content1) + " >>");
    const int page2 = b.Add("<< /Type /Page /Parent " + Ref(pages) +
                            " /MediaBox [0 0 200 200] /Resources << /ExtGState << /G " + Ref(blend) +
                            " >> >> /Contents " + Ref(content2) + " /Thumb " + Ref(thumb) + " >>");
    b.SetPageTree(catalog, pages, {page1, page2});
    return b.Build(catalog);
}

// One empty 200 x 200 page with a text field at 50, 50 .. 150, 100 whose
// appearance paints only its left half black.
QByteArray FormPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int widget = b.Reserve();
    const int appearance =
        b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 100 50] >>", "0 0 0 rg 0 0 50 50 re f");
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 200 200] /Annots [" +
                           Ref(widget) + "] >>");
    b.Set(widget, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (Name) /F 4 /Rect [50 50 150 100] /P " + Ref(page) +
                      " /AP << /N " + Ref(appearance) + " >> >>");
    b.SetPageTree(catalog, pages, {page}, "/AcroForm << /Fields [" + Ref(widget) + "] /DA (/Helv 0 Tf 0 g) >>");
    return b.Build(catalog);
}

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kGreen = 0xFF00FF00;

class Rendering : public ::testing::Test {
protected:
    void Open(int Page, bool FormFill = true) {
        Pdf.SetFormFill(FormFill);
        Pdf.SetPageNumber(Page);
        Pdf.LoadDocument(Document, false);
    }
    QByteArray Document = RenderPdf();
    TFPdf Pdf;
};

// Records the engine bitmaps the component asks for, forwarding every call to
// the real engine.
struct BitmapSpy {
    static inline decltype(engine::FPDFBitmap_CreateEx) RealCreate = nullptr;
    static inline decltype(engine::FPDFBitmap_Destroy) RealDestroy = nullptr;
    static inline int Created = 0, Destroyed = 0, CreatedWidth = 0, CreatedHeight = 0;
    static inline const void* CreatedOver = nullptr;  // the pixels the last bitmap lies over

    static FPDF_BITMAP Create(int w, int h, int format, void* pixels, int stride) {
        ++Created;
        CreatedWidth = w;
        CreatedHeight = h;
        CreatedOver = pixels;
        return RealCreate(w, h, format, pixels, stride);
    }
    static void Destroy(FPDF_BITMAP bitmap) {
        ++Destroyed;
        RealDestroy(bitmap);
    }

    // Runs before the swaps below (members are set up in declaration order).
    static bool Capture() {
        RealCreate = engine::FPDFBitmap_CreateEx;
        RealDestroy = engine::FPDFBitmap_Destroy;
        Created = Destroyed = CreatedWidth = CreatedHeight = 0;
        CreatedOver = nullptr;
        return true;
    }
    bool Captured = Capture();
    SlotSwap<decltype(engine::FPDFBitmap_CreateEx)> SwapCreate{engine::FPDFBitmap_CreateEx, &Create};
    SlotSwap<decltype(engine::FPDFBitmap_Destroy)> SwapDestroy{engine::FPDFBitmap_Destroy, &Destroy};
};

}  // namespace

// ---- Tables -------------------------------------------------------------------

TEST(RenderTables, OptionsGiveTheEngineBitsNotInOptionOrder) {
    using enum TRenderOption;
    const struct {
        TRenderOption Option;
        int Bit;
    } bits[] = {{reAnnotations, 0x01},   {reLcd, 0x02},          {reNoNativeText, 0x04},    {reGrayscale, 0x08},
                {reDebugInfo, 0x80},     {reNoCatchException, 0x100}, {reLimitCache, 0x200}, {reHalftone, 0x400},
                {rePrinting, 0x800},     {reReverseByteOrder, 0x10}, {reNoSmoothText, 0x1000},
                {reNoSmoothImage, 0x2000}, {reNoSmoothPath, 0x4000}};
    TRenderOptions all;
    for (const auto& b : bits) {
        EXPECT_EQ(RenderOptionsToFlags(TRenderOptions{b.Option}), b.Bit) << int(b.Option);
        all.Include(b.Option);
    }
    EXPECT_EQ(RenderOptionsToFlags({}), 0);
    EXPECT_EQ(RenderOptionsToFlags({reAnnotations, rePrinting}), 0x801);
    EXPECT_EQ(RenderOptionsToFlags(all), 0x7F9F);
}

// ---- Copying engine bitmaps -------------------------------------------------------

TEST(CopyEngineBitmap, CopiesRowsHonouringTheEngineStride) {
    LoadEngine();
    // 3 x 2 pixels of four bytes in rows of 20 bytes: 8 bytes of padding per row
    // that must not reach the image.
    const int width = 3, height = 2, stride = 20;
    std::vector<uchar> pixels(size_t(stride * height), 0xEE);
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x) {
            uchar* p = &pixels[size_t(r * stride + x * 4)];
            p[0] = uchar(10 * x + r);  // blue
            p[1] = uchar(100 + x);     // green
            p[2] = uchar(200 + r);     // red
            p[3] = uchar(0x40 + x);    // alpha
        }
    for (int format : {3, 4}) {  // blue-green-red-x and blue-green-red-alpha
        SCOPED_TRACE(format);
        FPDF_BITMAP bitmap = engine::FPDFBitmap_CreateEx(width, height, format, pixels.data(), stride);
        ASSERT_NE(bitmap, nullptr);
        QImage target(7, 9, QImage::Format_RGB888);
        CopyEngineBitmap(bitmap, &target);
        const QImage fresh = BitmapFromEngine(bitmap);
        engine::FPDFBitmap_Destroy(bitmap);
        for (const QImage& image : {target, fresh}) {
            ASSERT_EQ(image.size(), QSize(width, height));
            ASSERT_EQ(image.format(), QImage::Format_ARGB32);
            for (int r = 0; r < height; ++r)
                for (int x = 0; x < width; ++x)
                    EXPECT_EQ(image.pixel(x, r), qRgba(200 + r, 100 + x, 10 * x + r, 0x40 + x)) << x << "," << r;
        }
    }
}

TEST(CopyEngineBitmap, WritesRowsAtTheTargetPitchAndNoFurther) {
    LoadEngine();
    const int width = 5, height = 4;
    FPDF_BITMAP bitmap = engine::FPDFBitmap_Create(width, height, 1);
    ASSERT_NE(bitmap, nullptr);
    engine::FPDFBitmap_FillRect(bitmap, 0, 0, width, height, 0x80112233);
    engine::FPDFBitmap_FillRect(bitmap, 4, 3, 1, 1, 0xFF445566);
    // An image over the caller's memory with rows of 32 bytes (20 used) and a
    // guard row after the last one.
    const int pitch = 32;
    std::vector<uchar> memory(size_t(pitch * (height + 1)), 0xEE);
    QImage target(memory.data(), width, height, pitch, QImage::Format_ARGB32);
    CopyEngineBitmap(bitmap, &target);
    engine::FPDFBitmap_Destroy(bitmap);
    ASSERT_EQ(target.constBits(), memory.data());  // filled in place
    for (int r = 0; r <= height; ++r)
        for (int i = 0; i < pitch; ++i) {
            if (r < height && i < width * 4) continue;  // a pixel byte
            ASSERT_EQ(memory[size_t(r * pitch + i)], 0xEE) << r << "," << i;
        }
    EXPECT_EQ(target.pixel(0, 0), 0x80112233u);
    EXPECT_EQ(target.pixel(3, 3), 0x80112233u);
    EXPECT_EQ(target.pixel(4, 3), 0xFF445566u);
}

TEST(CopyEngineBitmap, FormatsWithoutFourBytesLeaveTheTargetAlone) {
    LoadEngine();
    for (int format : {1, 2}) {  // grey, blue-green-red
        SCOPED_TRACE(format);
        FPDF_BITMAP bitmap = engine::FPDFBitmap_CreateEx(4, 4, format, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        QImage target(5, 6, QImage::Format_ARGB32);
        target.fill(kGreen);
        const QImage before = target;
        CopyEngineBitmap(bitmap, &target);
        EXPECT_EQ(target, before);
        const QImage fresh = BitmapFromEngine(bitmap);
        EXPECT_EQ(fresh.size(), QSize(0, 0));
        engine::FPDFBitmap_Destroy(bitmap);
    }
}

// ---- Rendering into images ------------------------------------------------------

TEST_F(Rendering, PlacesThePageOnTheBackground) {
    Open(1);
    const QImage image = Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, {}, kGreen);
    ASSERT_EQ(image.size(), QSize(200, 200));
    EXPECT_EQ(image.format(), QImage::Format_ARGB32);
    EXPECT_EQ(image.pixel(0, 0), kBlack);
    EXPECT_EQ(image.pixel(99, 99), kBlack);
    EXPECT_EQ(image.pixel(100, 50), kGreen);  // the page leaves it: background
    EXPECT_EQ(image.pixel(150, 20), kGreen);
    EXPECT_EQ(image.pixel(150, 150), kRed);
    EXPECT_EQ(image.pixel(199, 199), kRed);
    EXPECT_EQ(image.pixel(149, 175), kGreen);
}

TEST_F(Rendering, BackgroundKeepsItsAlphaOnlyOnATransparentPage) {
    Open(1);
    EXPECT_FALSE(Pdf.GetTransparent());
    // Without transparency the engine bitmap has no alpha channel: opaque pixels.
    EXPECT_EQ(Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, {}, 0x80FF0000).pixel(150, 20), 0xFFFF0000);
    Pdf.SetPageNumber(2);
    EXPECT_TRUE(Pdf.GetTransparent());
    const QImage image = Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, {}, 0x80FF0000);
    EXPECT_EQ(image.pixel(150, 20), 0x80FF0000u);
    EXPECT_EQ(image.pixel(50, 20), 0x80FF0000u);
    EXPECT_NE(image.pixel(50, 150), 0x80FF0000u);  // the blue square
    const QImage clear = Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, {}, 0x00000000);
    EXPECT_EQ(clear.pixel(199, 0), 0x00000000u);
    // The colour lands in memory as blue, green, red, alpha, every channel kept.
    const QImage mixed = Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, {}, 0x80112233);
    const uchar* pixel = mixed.constScanLine(20) + 150 * 4;
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(pixel), 4), QByteArray::fromHex("33221180"));
}

TEST_F(Rendering, LeftAndTopShiftThePageInsideTheImage) {
    Open(1);
    const QImage shifted = Pdf.RenderPage(10, 20, 200, 200, TRotation::ro0, {}, kGreen);
    ASSERT_EQ(shifted.size(), QSize(200, 200));
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 10; ++x) ASSERT_EQ(shifted.pixel(x, y), kGreen) << x << "," << y;
    for (int x = 0; x < 200; ++x)
        for (int y = 0; y < 20; ++y) ASSERT_EQ(shifted.pixel(x, y), kGreen) << x << "," << y;
    EXPECT_EQ(shifted.pixel(10, 20), kBlack);
    EXPECT_EQ(shifted.pixel(109, 119), kBlack);
    EXPECT_EQ(shifted.pixel(110, 119), kGreen);
    EXPECT_EQ(shifted.pixel(109, 120), kGreen);
    // Everything else is the unshifted rendering moved by the offset.
    const QImage plain = Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, {}, kGreen);
    EXPECT_EQ(shifted.copy(10, 20, 190, 180), plain.copy(0, 0, 190, 180));
}

TEST_F(Rendering, FourTilesMakeOneRendering) {
    Open(1);
    const struct {
        int PageWidth, PageHeight;
        TRotation Rotation;
    } cases[] = {{200, 200, TRotation::ro0}, {240, 300, TRotation::ro90}, {300, 240, TRotation::ro270}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.Rotation));
        const QImage whole = Pdf.RenderPage(0, 0, c.PageWidth, c.PageHeight, c.Rotation, {}, kGreen);
        const int w = c.PageWidth / 2, h = c.PageHeight / 2;
        QImage joined(c.PageWidth, c.PageHeight, QImage::Format_ARGB32);
        joined.fill(0);
        {
            QPainter painter(&joined);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            for (int ty : {0, h})
                for (int tx : {0, w}) {
                    const QImage tile =
                        Pdf.RenderTile(tx, ty, w, h, c.PageWidth, c.PageHeight, c.Rotation, {}, kGreen);
                    ASSERT_EQ(tile.size(), QSize(w, h));
                    painter.drawImage(tx, ty, tile);
                }
        }
        EXPECT_EQ(joined, whole);
    }
}

TEST_F(Rendering, ATileRasterisesOnlyTheTile) {
    Open(1);
    BitmapSpy spy;
    // The lower left quarter of the page turned a quarter clockwise, in grey:
    // the red square of the bottom right corner lands in the tile's lower left.
    const QImage tile = Pdf.RenderTile(0, 100, 100, 100, 200, 200, TRotation::ro90, {TRenderOption::reGrayscale},
                                       0x11223344);
    ASSERT_EQ(tile.size(), QSize(100, 100));
    EXPECT_EQ(spy.Created, 1);
    EXPECT_EQ(QSize(spy.CreatedWidth, spy.CreatedHeight), QSize(100, 100));
    EXPECT_EQ(spy.Destroyed, 1);
    constexpr QRgb grey = 0xFF4C4C4C;         // red through the engine's grey: 30% of 255
    constexpr QRgb background = 0xFF223344;  // opaque: the page has no transparency
    for (const QPoint p : {QPoint(0, 50), QPoint(25, 75), QPoint(49, 99)}) EXPECT_EQ(tile.pixel(p), grey) << p.x();
    for (const QPoint p : {QPoint(0, 49), QPoint(50, 50), QPoint(25, 25), QPoint(99, 99)})
        EXPECT_EQ(tile.pixel(p), background) << p.x() << "," << p.y();
}

TEST_F(Rendering, TheEngineDrawsIntoTheImageItself) {
    Open(1);
    const QImage expected = Pdf.RenderPage(0, 0, 200, 100, TRotation::ro0, {}, kGreen);
    BitmapSpy spy;
    // A new image: the engine's bitmap lies over its pixels, nothing is copied.
    const QImage fresh = Pdf.RenderPage(0, 0, 200, 100, TRotation::ro0, {}, kGreen);
    EXPECT_EQ(spy.CreatedOver, fresh.constBits());
    EXPECT_EQ(fresh, expected);

    // A given image of the size is drawn into where it lies.
    QImage reused(200, 100, QImage::Format_ARGB32);
    reused.fill(Qt::blue);
    const uchar* pixels = reused.constBits();
    Pdf.RenderPage(&reused, 0, 0, 200, 100, TRotation::ro0, {}, kGreen);
    EXPECT_EQ(reused.constBits(), pixels);
    EXPECT_EQ(spy.CreatedOver, pixels);
    EXPECT_EQ(reused, expected);

    // An image that shares its pixels with another copy: the copy keeps its own.
    QImage shared(200, 100, QImage::Format_ARGB32);
    shared.fill(Qt::blue);
    const QImage copy = shared;
    Pdf.RenderPage(&shared, 0, 0, 200, 100, TRotation::ro0, {}, kGreen);
    EXPECT_EQ(shared, expected);
    EXPECT_EQ(copy.pixel(100, 50), QColor(Qt::blue).rgb());

    // An image over the caller's memory with rows of 1,000 bytes (800 used) and a
    // guard row after the last: filled in place at its own pitch, and no further.
    const int pitch = 1000;
    std::vector<uchar> memory(size_t(pitch * 101), 0xEE);
    QImage outside(memory.data(), 200, 100, pitch, QImage::Format_ARGB32);
    Pdf.RenderPage(&outside, 0, 0, 200, 100, TRotation::ro0, {}, kGreen);
    EXPECT_EQ(outside.constBits(), memory.data());
    EXPECT_EQ(outside, expected);
    for (int r = 0; r <= 100; ++r)
        for (int i = r < 100 ? 800 : 0; i < pitch; ++i) ASSERT_EQ(memory[size_t(r * pitch + i)], 0xEE) << r << "," << i;
}

TEST_F(Rendering, EmptySizesAndNullTargetsDoNothing) {
    Open(1);
    BitmapSpy spy;
    EXPECT_TRUE(Pdf.RenderPage(0, 0, 0, 100).isNull());
    EXPECT_TRUE(Pdf.RenderPage(0, 0, 100, -1).isNull());
    EXPECT_TRUE(Pdf.RenderTile(0, 0, 0, 10, 200, 200).isNull());
    QImage bitmap(10, 10, QImage::Format_ARGB32);
    bitmap.fill(kGreen);
    const QImage before = bitmap;
    Pdf.RenderPage(&bitmap, 0, 0, 100, 0);
    Pdf.RenderTile(&bitmap, 0, 0, -5, 10, 200, 200);
    EXPECT_EQ(bitmap, before);
    Pdf.RenderPage(static_cast<QImage*>(nullptr), 0, 0, 100, 100);
    Pdf.RenderTile(static_cast<QImage*>(nullptr), 0, 0, 100, 100, 200, 200);
    EXPECT_EQ(spy.Created, 0);  // no engine bitmap was asked for
}

TEST_F(Rendering, AGivenBitmapTakesTheRequestedSize) {
    Open(1);
    for (QImage::Format format : {QImage::Format_ARGB32, QImage::Format_RGBA8888}) {
        QImage bitmap(10, 10, format);
        bitmap.fill(Qt::blue);
        Pdf.RenderPage(&bitmap, 0, 0, 200, 100, TRotation::ro0, {}, kGreen);
        EXPECT_EQ(bitmap.size(), QSize(200, 100));
        EXPECT_EQ(bitmap.format(), QImage::Format_ARGB32);
        EXPECT_EQ(bitmap, Pdf.RenderPage(0, 0, 200, 100, TRotation::ro0, {}, kGreen));
    }
    QImage tile;
    Pdf.RenderTile(&tile, 100, 100, 100, 100, 200, 200, TRotation::ro0, {}, kGreen);
    EXPECT_EQ(tile, Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, {}, kGreen).copy(100, 100, 100, 100));
}

TEST_F(Rendering, EngineRefusingItsBitmapRaisesAndRestoresTheFpuMask) {
    Open(1);
    BitmapSpy spy;
    std::feclearexcept(FE_ALL_EXCEPT);
    const int before = feenableexcept(FE_DIVBYZERO);
    QImage bitmap(20, 20, QImage::Format_ARGB32);
    bitmap.fill(kGreen);
    const QImage kept = bitmap;
    const auto refused = [&](const std::function<void()>& render) {
        try {
            render();
            ADD_FAILURE() << "no exception";
        } catch (const EPdfError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Cannot create bitmap"));
        }
        EXPECT_EQ(fegetexcept(), FE_DIVBYZERO);
    };
    // 40 GB of pixels: refused before any memory is claimed.
    refused([&] { Pdf.RenderPage(&bitmap, 0, 0, 100000, 100000); });
    refused([&] { Pdf.RenderTile(&bitmap, 0, 0, 100000, 100000, 100000, 100000); });
    EXPECT_EQ(spy.Created, 0);
    {
        // The engine refusing a bitmap of an ordinary size (no real document
        // brings that about), also over the given image of that very size.
        EngineSpy<engine::FPDFBitmap_CreateEx> refusal;
        refusal.StandIn = [](int, int, int, void*, int) -> FPDF_BITMAP { return nullptr; };
        refused([&] { Pdf.RenderPage(&bitmap, 0, 0, 20, 20); });
        refused([&] { Pdf.RenderPage(0, 0, 20, 20); });
    }
    // A successful render restores it too.
    EXPECT_FALSE(Pdf.RenderPage(0, 0, 20, 20).isNull());
    EXPECT_EQ(fegetexcept(), FE_DIVBYZERO);
    fedisableexcept(FE_ALL_EXCEPT);
    feenableexcept(before);
    EXPECT_EQ(bitmap, kept);
    EXPECT_EQ(spy.Created, spy.Destroyed);
}

TEST_F(Rendering, GuardsComeFirst) {
    TFPdf idle;
    idle.setObjectName(QStringLiteral("FPdf1"));
    QImage bitmap(3, 3, QImage::Format_ARGB32);
    bitmap.fill(kGreen);
    const QImage kept = bitmap;
    try {
        idle.RenderPage(&bitmap, 0, 0, 10, 10);
        ADD_FAILURE() << "no exception";
    } catch (const EPdfError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot perform this operation on an inactive FPdf1 component"));
    }
    Open(0);
    const QString noPage = QStringLiteral("Cannot perform this operation on an inactive page");
    double px = 0, py = 0;
    int dx = 0, dy = 0;
    const std::function<void()> members[] = {
        [&] { Pdf.RenderPage(0, 0, 10, 10); },
        [&] { Pdf.RenderPage(&bitmap, 0, 0, 10, 10); },
        [&] { Pdf.RenderPage(static_cast<QImage*>(nullptr), 0, 0, 0, 0); },
        [&] { Pdf.RenderTile(0, 0, 10, 10, 20, 20); },
        [&] { Pdf.RenderTile(&bitmap, 0, 0, 10, 10, 20, 20); },
        [&] { Pdf.RenderPage(static_cast<QPainter*>(nullptr), 0, 0, 10, 10); },
        [&] { Pdf.GetTransparent(); },
        [&] { Pdf.DeviceToPage(0, 0, 0, 0, 10, 10, TRotation::ro0, px, py); },
        [&] { Pdf.PageToDevice(0, 0, 0, 0, 10, 10, TRotation::ro0, dx, dy); },
        [&] { Pdf.GetThumbnail(); },
    };
    for (const auto& member : members) {
        try {
            member();
            ADD_FAILURE() << "no exception";
        } catch (const EPdfError& e) {
            EXPECT_EQ(e.Message(), noPage);
        }
    }
    EXPECT_EQ(bitmap, kept);
}

// ---- Form fields ----------------------------------------------------------------

TEST_F(Rendering, FormFieldsAreDrawnOverThePageAndPrintingDropsTheHighlight) {
    Document = FormPdf();
    Open(1);
    ASSERT_NE(Pdf.GetFormHandle(), nullptr);
    const auto render = [&](const TRenderOptions& options) {
        return Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, options, kWhite);
    };
    // The field covers 50..149 x 100..149: its appearance paints the left half.
    const QImage screen = render({});
    const QRgb highlight = screen.pixel(125, 125);
    EXPECT_EQ(screen.pixel(10, 10), kWhite);
    EXPECT_NE(highlight, kWhite);
    EXPECT_EQ(qBlue(highlight), 255);
    EXPECT_LT(qRed(highlight), 250);
    EXPECT_LT(qGray(screen.pixel(75, 125)), 128);
    // Tiles place the fields like the page.
    EXPECT_EQ(Pdf.RenderTile(50, 100, 100, 100, 200, 200, TRotation::ro0, {}, kWhite), screen.copy(50, 100, 100, 100));

    const QImage printed = render({TRenderOption::rePrinting});
    EXPECT_EQ(printed.pixel(75, 125), kBlack);
    EXPECT_EQ(printed.pixel(125, 125), kWhite);

    // Printing puts the standing highlight back, whatever it was before.
    auto* form = static_cast<FPDF_FORMHANDLE>(Pdf.GetFormHandle());
    engine::FPDF_SetFormFieldHighlightColor(form, 0, 0x0000FF);  // red, as the engine's blue-green-red
    engine::FPDF_SetFormFieldHighlightAlpha(form, 255);
    EXPECT_EQ(render({}).pixel(125, 125), kRed);
    render({TRenderOption::rePrinting, TRenderOption::reAnnotations});
    EXPECT_EQ(render({}), screen);
}

TEST_F(Rendering, WithoutAFormEnvironmentNoFieldIsDrawn) {
    Document = FormPdf();
    Open(1, false);
    ASSERT_EQ(Pdf.GetFormHandle(), nullptr);
    // Counted and passed on to the engine, so that the pixels are the engine's.
    EngineSpy<engine::FPDF_FFLDraw> draw;
    EngineSpy<engine::FPDF_RemoveFormFieldHighlight> remove;
    EngineSpy<engine::FPDF_SetFormFieldHighlightColor> color;
    EngineSpy<engine::FPDF_SetFormFieldHighlightAlpha> alpha;
    for (const TRenderOptions& options : {TRenderOptions{}, TRenderOptions{TRenderOption::rePrinting}}) {
        const QImage image = Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, options, kWhite);
        EXPECT_EQ(image.pixel(75, 125), kWhite);
        EXPECT_EQ(image.pixel(125, 125), kWhite);
    }
    const QImage tile = Pdf.RenderTile(50, 100, 100, 100, 200, 200, TRotation::ro0, {TRenderOption::rePrinting});
    EXPECT_EQ(tile.pixel(25, 25), kWhite);
    EXPECT_EQ(draw.Calls + remove.Calls + color.Calls + alpha.Calls, 0);
}

// ---- Painter ----------------------------------------------------------------------

TEST_F(Rendering, DrawsThroughAPainterWithoutBackground) {
    Open(1);
    QImage canvas(300, 300, QImage::Format_ARGB32);
    canvas.fill(kGreen);
    {
        QPainter painter(&canvas);
        Pdf.RenderPage(&painter, 20, 30, 200, 200);
    }
    EXPECT_EQ(canvas.pixel(19, 60), kGreen);
    EXPECT_EQ(canvas.pixel(20, 30), kBlack);
    EXPECT_EQ(canvas.pixel(119, 129), kBlack);
    EXPECT_EQ(canvas.pixel(120, 129), kGreen);  // the page leaves it: the canvas shows
    EXPECT_EQ(canvas.pixel(170, 50), kGreen);
    EXPECT_EQ(canvas.pixel(170, 180), kRed);
    EXPECT_EQ(canvas.pixel(219, 229), kRed);
    EXPECT_EQ(canvas.pixel(220, 229), kGreen);
    // The same pixels as a bitmap render with a green background.
    EXPECT_EQ(canvas.copy(20, 30, 200, 200), Pdf.RenderPage(0, 0, 200, 200, TRotation::ro0, {}, kGreen));
}

// ---- Coordinates ------------------------------------------------------------------

TEST_F(Rendering, CoordinatesConvertThereAndBack) {
    Open(1);
    double px = -1, py = -1;
    ASSERT_TRUE(Pdf.DeviceToPage(60, 50, 0, 0, 200, 200, TRotation::ro0, px, py));
    EXPECT_DOUBLE_EQ(px, 60);
    EXPECT_DOUBLE_EQ(py, 150);
    int x = -1, y = -1;
    ASSERT_TRUE(Pdf.PageToDevice(60, 150, 0, 0, 200, 200, TRotation::ro0, x, y));
    EXPECT_EQ(x, 60);
    EXPECT_EQ(y, 50);
    // A page rendered at 10, 20 at twice the size, turned a quarter clockwise:
    // its top left corner (page 0, 200) lands at the device's top right.
    ASSERT_TRUE(Pdf.PageToDevice(0, 200, 10, 20, 400, 400, TRotation::ro90, x, y));
    EXPECT_EQ(x, 410);
    EXPECT_EQ(y, 20);
    const struct {
        int X, Y, Left, Top, Width, Height;
        TRotation Rotation;
    } cases[] = {{60, 50, 0, 0, 200, 200, TRotation::ro0},     {130, 70, 10, 20, 400, 400, TRotation::ro90},
                 {33, 190, -50, 5, 300, 600, TRotation::ro180}, {250, 12, 100, 0, 200, 400, TRotation::ro270}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.Rotation));
        ASSERT_TRUE(Pdf.DeviceToPage(c.X, c.Y, c.Left, c.Top, c.Width, c.Height, c.Rotation, px, py));
        ASSERT_TRUE(Pdf.PageToDevice(px, py, c.Left, c.Top, c.Width, c.Height, c.Rotation, x, y));
        EXPECT_EQ(x, c.X);
        EXPECT_EQ(y, c.Y);
    }
}

// ---- Thumbnails -------------------------------------------------------------------

TEST_F(Rendering, ThumbnailAbsentOrNotCopied) {
    Open(1);
    EXPECT_TRUE(Pdf.GetThumbnail().isNull());
    BitmapSpy spy;
    Pdf.SetPageNumber(2);
    // The engine hands the RGB thumbnail back in its three-byte format, which is
    // not copied: an empty image (a 0 x 0 QImage is also null).
    const QImage thumbnail = Pdf.GetThumbnail();
    EXPECT_EQ(thumbnail.size(), QSize(0, 0));
    EXPECT_EQ(spy.Destroyed, 1);
}

namespace {
// This engine build decodes embedded thumbnails only into one- and three-byte
// formats, so no document reaches the copying path of Thumbnail; this stands in
// for the engine's thumbnail entry with a real four-byte engine bitmap.
struct FourByteThumbnail {
    static inline int Handed = 0;
    static FPDF_BITMAP Get(FPDF_PAGE) {
        ++Handed;
        FPDF_BITMAP bitmap = engine::FPDFBitmap_Create(3, 2, 1);
        engine::FPDFBitmap_FillRect(bitmap, 0, 0, 3, 2, 0x80102030);
        engine::FPDFBitmap_FillRect(bitmap, 2, 1, 1, 1, 0xFFA0B0C0);
        return bitmap;
    }
};
}  // namespace

TEST_F(Rendering, ThumbnailPresentIsAFreshImageEachTime) {
    Open(1);
    BitmapSpy spy;
    SlotSwap<decltype(engine::FPDFPage_GetThumbnailAsBitmap)> swap(engine::FPDFPage_GetThumbnailAsBitmap,
                                                                   &FourByteThumbnail::Get);
    FourByteThumbnail::Handed = 0;
    QImage first = Pdf.GetThumbnail();
    const QImage second = Pdf.GetThumbnail();
    ASSERT_EQ(first.size(), QSize(3, 2));
    EXPECT_EQ(first.format(), QImage::Format_ARGB32);
    EXPECT_EQ(first.pixel(0, 0), 0x80102030u);
    EXPECT_EQ(first.pixel(2, 1), 0xFFA0B0C0u);
    first.setPixel(0, 0, 0);
    EXPECT_EQ(second.pixel(0, 0), 0x80102030u);
    EXPECT_EQ(FourByteThumbnail::Handed, 2);
    EXPECT_EQ(spy.Destroyed, 2);  // each engine bitmap went back to the engine
}
