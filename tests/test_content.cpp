// Content creation: pictures, JPEG images, paths and text (in a standard font
// or an embedded one) placed on a page, saved, reopened, and found again where
// they were placed.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>
#include <QTransform>
#include <cmath>
#include <memory>

#include <kestrune/FPdf.h>
#include "support/EngineSpy.h"
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

QImage Filled(int width, int height, QRgb color, QImage::Format format = QImage::Format_ARGB32) {
    QImage image(width, height, format);
    image.fill(color);
    return image;
}

bool Near(double a, double b, double tolerance = 0.01) { return std::abs(a - b) <= tolerance; }

bool Close(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) < 12 && qAbs(qGreen(a) - qGreen(b)) < 12 && qAbs(qBlue(a) - qBlue(b)) < 12;
}

::testing::AssertionResult BoundsAre(const TPdfRectangle& r, double left, double bottom, double right, double top,
                                     double tolerance = 0.01) {
    if (Near(r.Left, left, tolerance) && Near(r.Bottom, bottom, tolerance) && Near(r.Right, right, tolerance) &&
        Near(r.Top, top, tolerance))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "left " << r.Left << " bottom " << r.Bottom << " right " << r.Right
                                         << " top " << r.Top;
}

// The document as saved into memory.
QByteArray SavedBytes(TFPdf& Pdf) {
    QBuffer saved;
    saved.open(QIODevice::ReadWrite);
    EXPECT_TRUE(Pdf.SaveAs(&saved));
    return saved.data();
}

// Saved bytes opened again, at their first page.
std::unique_ptr<TFPdf> Reopened(const QByteArray& Saved) {
    auto pdf = std::make_unique<TFPdf>();
    pdf->SetPageNumber(1);
    pdf->LoadDocument(Saved, true);
    return pdf;
}

// A new document with one 300 x 200 page, current.
class Content : public ::testing::Test {
protected:
    void SetUp() override {
        Pdf.CreateDocument();
        Pdf.AddPage(1, 300, 200);
    }
    void Path(float x, float y) {
        Pdf.CreatePath(x, y, TPdfFillMode::fmNone, 0xFF000000, true, 0xFF000000, 1, TPdfLineCap::lcDefault,
                       TPdfLineJoin::ljDefault, TPdfBlendMode::bmDefault);
    }
    FPDF_PAGEOBJECT Object(int index) { return static_cast<FPDF_PAGEOBJECT>(Pdf.GetObjectHandle(index)); }
    TFPdf Pdf;
};

}  // namespace

TEST_F(Content, PlacedContentSurvivesSaveAndReopenAndRendersWhereItWasPlaced) {
    Pdf.AddPicture(Filled(20, 10, qRgb(255, 0, 0)), 10, 20);
    QByteArray jpeg = JpegBytes(QColor(0, 0, 255), 16, 8);
    QBuffer jpegStream(&jpeg);
    jpegStream.open(QIODevice::ReadOnly);
    jpegStream.seek(jpeg.size());  // read from its start all the same
    ASSERT_TRUE(Pdf.AddJpegImage(&jpegStream, 100, 20, 40, 20));
    // Under the path, to show its blend mode.
    Pdf.AddPicture(Filled(10, 10, qRgb(255, 0, 0)), 165, 115);
    Pdf.CreatePath(150, 100, 50, 50, TPdfFillMode::fmWinding, 0xFF00FF00, true, 0xFF0000FF, 4,
                   TPdfLineCap::lcRound, TPdfLineJoin::ljBevel, TPdfBlendMode::bmMultiply);
    Pdf.AddPath();
    Pdf.AddText("Rotated", "Helvetica", 12, 250, 50, 0xFF000000, 90);

    const QByteArray saved = SavedBytes(Pdf);
    EXPECT_TRUE(saved.contains("/BM/Multiply")) << "the path's blend mode was not written";

    const std::unique_ptr<TFPdf> reopened = Reopened(saved);
    ASSERT_EQ(reopened->GetObjectCount(), 5);
    const QList<TObjectType> kinds{TObjectType::otImage, TObjectType::otImage, TObjectType::otImage,
                                   TObjectType::otPath, TObjectType::otText};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(reopened->GetObjectType(i), kinds[i]) << i;

    // One page unit per pixel at the given corner; the JPEG stretched over its rectangle.
    EXPECT_TRUE(BoundsAre(reopened->GetObjectBounds(0), 10, 20, 30, 30));
    EXPECT_TRUE(BoundsAre(reopened->GetObjectBounds(1), 100, 20, 140, 40));
    // The path's box, widened by the engine for the stroke of width 4.
    EXPECT_TRUE(BoundsAre(reopened->GetObjectBounds(3), 147, 97, 203, 153, 1.01));
    // Turned 90 degrees: the text runs upwards from (250, 50), left of its origin.
    const TPdfRectangle text = reopened->GetObjectBounds(4);
    EXPECT_TRUE(Near(text.Bottom, 50, 2) && text.Right <= 254 && text.Left >= 235 && text.Top > 80)
        << text.Left << " " << text.Bottom << " " << text.Right << " " << text.Top;
    EXPECT_TRUE(reopened->Text().contains("Rotated")) << reopened->Text().toStdString();

    // The images come back with their pixels.
    EXPECT_EQ(reopened->GetBitmap(0).size(), QSize(20, 10));
    EXPECT_EQ(reopened->GetBitmap(0).pixel(5, 5), qRgb(255, 0, 0));
    EXPECT_EQ(reopened->GetImage(1).Data, jpeg);

    // Rendered at one pixel per unit: device y is 200 - page y.
    const QImage page = reopened->RenderPage(0, 0, 300, 200);
    ASSERT_EQ(page.size(), QSize(300, 200));
    const auto at = [&](int x, int y) { return page.pixel(x, 200 - y); };
    EXPECT_TRUE(Close(at(20, 25), qRgb(255, 0, 0))) << std::hex << at(20, 25);
    EXPECT_TRUE(Close(at(120, 30), qRgb(0, 0, 255))) << std::hex << at(120, 30);
    EXPECT_TRUE(Close(at(190, 140), qRgb(0, 255, 0))) << std::hex << at(190, 140);
    // Green multiplied onto red is black.
    EXPECT_TRUE(Close(at(170, 120), qRgb(0, 0, 0))) << std::hex << at(170, 120);
    EXPECT_TRUE(Close(at(149, 125), qRgb(0, 0, 255))) << std::hex << at(149, 125);
    EXPECT_TRUE(Close(at(5, 5), qRgb(255, 255, 255))) << std::hex << at(5, 5);
    EXPECT_TRUE(Close(at(60, 25), qRgb(255, 255, 255))) << std::hex << at(60, 25);
}

TEST_F(Content, PicturesCoverTheirRectangle) {
    Pdf.AddPicture(Filled(200, 100, qRgb(1, 2, 3)), 10, 20);
    Pdf.AddPicture(Filled(4, 4, qRgb(1, 2, 3)), 50, 60, 100, 40);
    EXPECT_TRUE(BoundsAre(Pdf.GetObjectBounds(0), 10, 20, 210, 120));
    EXPECT_TRUE(BoundsAre(Pdf.GetObjectBounds(1), 50, 60, 150, 100));
}

TEST_F(Content, RefusedPicturesAndNoJpegDataChangeNothing) {
    EXPECT_EQ(ErrorOf([&] { Pdf.AddPicture(Filled(4, 4, 0xFF112233, QImage::Format_RGBA8888), 0, 0); }),
              "Unsupported pixel format");
    EXPECT_EQ(ErrorOf([&] { Pdf.AddPicture(QImage(), 0, 0, 10, 10); }), "Unsupported pixel format");

    const QByteArray jpeg = JpegBytes(QColor(0, 0, 255), 16, 8);
    // The frame header (SOF0) and what lies before it.
    const qsizetype frame = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    QByteArray zeroSize = jpeg;
    zeroSize[frame + 5] = zeroSize[frame + 6] = 0;  // height 0
    const QList<QPair<const char*, QByteArray>> cases{
        {"text", "This is no JPEG at all, only text."},
        {"empty", QByteArray()},
        {"start-of-image marker only", QByteArray("\xFF\xD8", 2)},
        {"cut before the frame header", jpeg.left(frame)},
        {"frame of height 0", zeroSize},
        {"cut after the frame header", jpeg.left(frame + 19)},
    };
    for (const auto& [name, bytes] : cases) {
        QByteArray data = bytes;
        QBuffer stream(&data);
        stream.open(QIODevice::ReadOnly);
        EXPECT_FALSE(Pdf.AddJpegImage(&stream, 0, 0, 10, 10)) << name;
    }
    EXPECT_FALSE(Pdf.AddJpegImage(nullptr, 0, 0, 10, 10));
    EXPECT_EQ(Pdf.GetObjectCount(), 0);

    const QByteArray saved = SavedBytes(Pdf);
    EXPECT_FALSE(saved.contains("/Subtype /Image"));
}

TEST_F(Content, PathStateMachine) {
    const QString notCreated = "Path was not created";
    EXPECT_EQ(ErrorOf([&] { Pdf.MoveTo(1, 1); }), notCreated);
    EXPECT_EQ(ErrorOf([&] { Pdf.LineTo(1, 1); }), notCreated);
    EXPECT_EQ(ErrorOf([&] { Pdf.BezierTo(1, 1, 2, 2, 3, 3); }), notCreated);
    EXPECT_EQ(ErrorOf([&] { Pdf.ClosePath(); }), notCreated);
    EXPECT_EQ(ErrorOf([&] { Pdf.AddPath(); }), notCreated);

    Path(10, 10);
    EXPECT_EQ(ErrorOf([&] { Path(20, 20); }), "Path was already created");
    Pdf.LineTo(50, 10);
    Pdf.BezierTo(60, 20, 60, 40, 50, 50);
    Pdf.MoveTo(10, 50);
    Pdf.LineTo(10, 10);
    Pdf.ClosePath();
    EXPECT_EQ(Pdf.GetObjectCount(), 0) << "a path joins the page only with AddPath";
    Pdf.AddPath();
    ASSERT_EQ(Pdf.GetObjectCount(), 1);
    // The start, a line, three for the curve, a move and a line.
    EXPECT_EQ(engine::FPDFPath_CountSegments(Object(0)), 7);
    EXPECT_EQ(ErrorOf([&] { Pdf.AddPath(); }), notCreated);

    // A page change drops the unfinished path; a new one can be started.
    Path(1, 1);
    Pdf.ReloadPage();
    EXPECT_EQ(ErrorOf([&] { Pdf.LineTo(5, 5); }), notCreated);
    Path(1, 1);
    Pdf.AddPage(2, 300, 200);
    EXPECT_EQ(ErrorOf([&] { Pdf.AddPath(); }), notCreated);
    Path(1, 1);
    Pdf.SetPageNumber(0);
    EXPECT_EQ(ErrorOf([&] { Pdf.AddPath(); }), notCreated);
    EXPECT_EQ(ErrorOf([&] { Path(1, 1); }), "Cannot perform this operation on an inactive page");
    Pdf.SetPageNumber(1);
    EXPECT_EQ(Pdf.GetObjectCount(), 1);
}

TEST_F(Content, PathStyles) {
    struct Case {
        const char* Name;
        TPdfFillMode Fill;
        bool Stroke;
        float Width;
        TPdfLineCap Cap;
        TPdfLineJoin Join;
        int FillCode;    // expected draw mode
        float GotWidth;  // expected stroke width
        unsigned StrokeBlue;
        int CapCode, JoinCode;
    };
    // The engine's defaults: width 1, black stroke, butt cap and miter join.
    const QList<Case> cases{
        {"no stroke ignores its colour and width", TPdfFillMode::fmAlternate, false, 5, TPdfLineCap::lcDefault,
         TPdfLineJoin::ljDefault, 1, 1, 0, 0, 0},
        {"width 1 is not set, colour is", TPdfFillMode::fmNone, true, 1, TPdfLineCap::lcButt, TPdfLineJoin::ljMiter,
         0, 1, 255, 0, 0},
        {"stroke with width", TPdfFillMode::fmWinding, true, 3, TPdfLineCap::lcProjectingSquare,
         TPdfLineJoin::ljBevel, 2, 3, 255, 2, 2},
        {"cap and join also without stroke", TPdfFillMode::fmWinding, false, 1, TPdfLineCap::lcRound,
         TPdfLineJoin::ljRound, 2, 1, 0, 1, 1},
    };
    for (const Case& c : cases) {
        Pdf.CreatePath(10, 10, c.Fill, 0x80102030, c.Stroke, 0xFF0000FF, c.Width, c.Cap, c.Join,
                       TPdfBlendMode::bmDefault);
        Pdf.LineTo(100, 100);
        Pdf.AddPath();
        FPDF_PAGEOBJECT path = Object(Pdf.GetObjectCount() - 1);
        int fill = -1;
        FPDF_BOOL stroke = -1;
        ASSERT_TRUE(engine::FPDFPath_GetDrawMode(path, &fill, &stroke));
        EXPECT_EQ(fill, c.FillCode) << c.Name;
        EXPECT_EQ(stroke != 0, c.Stroke) << c.Name;
        unsigned r = 0, g = 0, b = 0, a = 0;
        ASSERT_TRUE(engine::FPDFPageObj_GetFillColor(path, &r, &g, &b, &a));
        EXPECT_TRUE(r == 0x10 && g == 0x20 && b == 0x30 && a == 0x80) << c.Name;
        float width = 0;
        ASSERT_TRUE(engine::FPDFPageObj_GetStrokeWidth(path, &width));
        EXPECT_EQ(width, c.GotWidth) << c.Name;
        ASSERT_TRUE(engine::FPDFPageObj_GetStrokeColor(path, &r, &g, &b, &a));
        EXPECT_EQ(b, c.StrokeBlue) << c.Name;
        EXPECT_EQ(engine::FPDFPageObj_GetLineCap(path), c.CapCode) << c.Name;
        EXPECT_EQ(engine::FPDFPageObj_GetLineJoin(path), c.JoinCode) << c.Name;
    }
}

TEST_F(Content, TextIsTurnedAboutItsOrigin) {
    Pdf.AddText("Flat", "Helvetica", 10, 30, 40, 0xFF000000, 0);
    Pdf.AddText("Up", "Times-Roman", 14, 100, 20, 0xFFFF0000, 90);
    FS_MATRIX m{};
    ASSERT_TRUE(engine::FPDFPageObj_GetMatrix(Object(0), &m));
    EXPECT_TRUE(m.a == 1 && m.b == 0 && m.c == 0 && m.d == 1 && m.e == 30 && m.f == 40);
    ASSERT_TRUE(engine::FPDFPageObj_GetMatrix(Object(1), &m));
    EXPECT_TRUE(Near(m.a, 0, 1e-6) && Near(m.b, 1, 1e-6) && Near(m.c, -1, 1e-6) && Near(m.d, 0, 1e-6) &&
                m.e == 100 && m.f == 20);
    float size = 0;
    ASSERT_TRUE(engine::FPDFTextObj_GetFontSize(Object(1), &size));
    EXPECT_EQ(size, 14);
    unsigned r = 0, g = 0, b = 0, a = 0;
    ASSERT_TRUE(engine::FPDFPageObj_GetFillColor(Object(1), &r, &g, &b, &a));
    EXPECT_TRUE(r == 255 && g == 0 && b == 0 && a == 255);

    // The engine resolves only its standard fonts by name.
    EXPECT_EQ(ErrorOf([&] { Pdf.AddText("x", "No Such Font", 10, 0, 0, 0xFF000000, 0); }),
              "Cannot create text object");
    EXPECT_EQ(Pdf.GetObjectCount(), 2);
}

TEST(ContentText, TextOperationsSeeThePageAsItNowIs) {
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(SimpleTextPdf({{"Hello"}}), true);
    ASSERT_EQ(pdf.Text(), "Hello");
    ASSERT_EQ(pdf.GetObjectType(0), TObjectType::otText);

    pdf.SetText(0, "Changed");
    EXPECT_EQ(pdf.Text(), "Changed");
    pdf.AddText("More", "Helvetica", 12, 72, 500, 0xFF000000, 0);
    EXPECT_TRUE(pdf.Text().contains("More")) << pdf.Text().toStdString();
    EXPECT_EQ(pdf.GetCharacterCount(), pdf.Text().size());
    pdf.AddPicture(Filled(2, 2, qRgb(0, 0, 0)), 300, 300);
    EXPECT_EQ(pdf.GetObjectType(2), TObjectType::otImage);

    EXPECT_EQ(ErrorOf([&] { pdf.SetText(2, "x"); }), "Text object required");
    EXPECT_EQ(ErrorOf([&] { pdf.SetText(3, "x"); }), "Incorrect index");
    EXPECT_EQ(ErrorOf([&] { pdf.SetText(-1, "x"); }), "Incorrect index");

    // The change is in the saved document.
    const QByteArray saved = SavedBytes(pdf);
    const std::unique_ptr<TFPdf> reopened = Reopened(saved);
    EXPECT_TRUE(reopened->Text().startsWith("Changed")) << reopened->Text().toStdString();
}

TEST(ContentText, DeletedObjectsLeaveThePageAndItsText) {
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(SimpleTextPdf({{"Hello", "World"}}), true);
    const int count = pdf.GetObjectCount();
    ASSERT_GE(count, 2);
    ASSERT_EQ(pdf.Text(), "Hello\r\nWorld");
    // The text page goes at once, also before the content is written.
    pdf.DeleteObject(0, false);
    EXPECT_EQ(pdf.GetObjectCount(), count - 1);
    EXPECT_EQ(pdf.Text(), "World");
    pdf.UpdatePage();
    EXPECT_EQ(ErrorOf([&] { pdf.DeleteObject(count - 1); }), "Incorrect index");
    EXPECT_EQ(ErrorOf([&] { pdf.DeleteObject(-1); }), "Incorrect index");
    const QByteArray saved = SavedBytes(pdf);
    const std::unique_ptr<TFPdf> reopened = Reopened(saved);
    EXPECT_EQ(reopened->Text(), "World");
}

TEST(ContentGuards, EveryOperationNeedsACurrentPage) {
    TFPdf pdf;
    pdf.setObjectName("FPdf1");
    EXPECT_EQ(ErrorOf([&] { pdf.AddText("x", "Helvetica", 10, 0, 0, 0xFF000000, 0); }),
              "Cannot perform this operation on an inactive FPdf1 component");
    pdf.CreateDocument();
    const QString noPage = "Cannot perform this operation on an inactive page";
    QByteArray jpeg = JpegBytes(Qt::red, 8, 8);
    QBuffer stream(&jpeg);
    stream.open(QIODevice::ReadOnly);
    EXPECT_EQ(ErrorOf([&] { pdf.AddPicture(Filled(2, 2, 0), 0, 0); }), noPage);
    EXPECT_EQ(ErrorOf([&] { pdf.AddJpegImage(&stream, 0, 0, 1, 1); }), noPage);
    EXPECT_EQ(ErrorOf([&] {
                  pdf.CreatePath(0, 0, 5, 5, TPdfFillMode::fmNone, 0, false, 0, 1, TPdfLineCap::lcDefault,
                                 TPdfLineJoin::ljDefault, TPdfBlendMode::bmDefault);
              }),
              noPage);
    EXPECT_EQ(ErrorOf([&] { pdf.AddText("x", "Helvetica", 10, 0, 0, 0xFF000000, 0); }), noPage);
    EXPECT_EQ(ErrorOf([&] { pdf.SetText(0, "x"); }), noPage);
    EXPECT_EQ(ErrorOf([&] { pdf.DeleteObject(0); }), noPage);
    EXPECT_EQ(ErrorOf([&] { pdf.LineTo(0, 0); }), "Path was not created");
}

// Objects whose set-up raises never reach the page, and are destroyed (which
// the leak check of the sanitizer build shows).
TEST_F(Content, ObjectsWhoseSetUpFailsAreNotPlaced) {
    QByteArray jpeg = JpegBytes(Qt::green, 8, 8);
    QBuffer stream(&jpeg);
    stream.open(QIODevice::ReadOnly);
    const QImage picture = Filled(4, 4, qRgb(0, 0, 0));
    {
        SlotSwap slot(engine::FPDFText_SetText, +[](FPDF_PAGEOBJECT, FPDF_WIDESTRING) -> FPDF_BOOL { return 0; });
        EXPECT_EQ(ErrorOf([&] { Pdf.AddText("x", "Helvetica", 10, 0, 0, 0xFF000000, 0); }), "Cannot set text");
    }
    {
        SlotSwap slot(engine::FPDFPageObj_SetFillColor,
                      +[](FPDF_PAGEOBJECT, unsigned, unsigned, unsigned, unsigned) -> FPDF_BOOL { return 0; });
        EXPECT_EQ(ErrorOf([&] { Pdf.AddText("x", "Helvetica", 10, 0, 0, 0xFF000000, 0); }), "Cannot set color");
    }
    {
        SlotSwap slot(engine::FPDFImageObj_SetBitmap,
                      +[](FPDF_PAGE*, int, FPDF_PAGEOBJECT, FPDF_BITMAP) -> FPDF_BOOL { return 0; });
        EXPECT_EQ(ErrorOf([&] { Pdf.AddPicture(picture, 0, 0); }), "Cannot assign bitmap");
    }
    {
        SlotSwap slot(engine::FPDFImageObj_SetMatrix,
                      +[](FPDF_PAGEOBJECT, double, double, double, double, double, double) -> FPDF_BOOL {
                          return 0;
                      });
        EXPECT_EQ(ErrorOf([&] { Pdf.AddPicture(picture, 0, 0); }), "Cannot set matrix");
        EXPECT_EQ(ErrorOf([&] { Pdf.AddJpegImage(&stream, 0, 0, 8, 8); }), "Cannot set matrix");
    }
    EXPECT_EQ(Pdf.GetObjectCount(), 0);

    // A styling step that raises leaves the path open: it can still be finished.
    {
        SlotSwap slot(engine::FPDFPageObj_SetStrokeWidth, +[](FPDF_PAGEOBJECT, float) -> FPDF_BOOL { return 0; });
        EXPECT_EQ(ErrorOf([&] {
                      Pdf.CreatePath(0, 0, TPdfFillMode::fmNone, 0, true, 0xFF000000, 2, TPdfLineCap::lcDefault,
                                     TPdfLineJoin::ljDefault, TPdfBlendMode::bmDefault);
                  }),
                  "Cannot set stroke width");
    }
    Pdf.LineTo(10, 10);
    {
        // The path is the page's once inserted, even when the content cannot be written.
        SlotSwap slot(engine::FPDFPage_GenerateContent, +[](FPDF_PAGE) -> FPDF_BOOL { return 0; });
        EXPECT_EQ(ErrorOf([&] { Pdf.AddPath(); }), "Cannot create page content");
    }
    EXPECT_EQ(Pdf.GetObjectCount(), 1);
    EXPECT_EQ(ErrorOf([&] { Pdf.AddPath(); }), "Path was not created");
}

// ---- Text in an embedded font ----------------------------------------------------

namespace {

// A TrueType font every test machine has (Debian: fonts-dejavu-core).
const QString kTrueTypeFont = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");

// The dark pixels of Image within Rect.
int DarkPixels(const QImage& Image, const QRect& Rect) {
    int dark = 0;
    for (int y = Rect.top(); y <= Rect.bottom(); ++y)
        for (int x = Rect.left(); x <= Rect.right(); ++x) dark += qGray(Image.pixel(x, y)) < 128;
    return dark;
}

}  // namespace

TEST_F(Content, TextInAnEmbeddedFontReadsBackAndShowsUnlessInvisible) {
    const QByteArray program = ReadAll(kTrueTypeFont);
    ASSERT_FALSE(program.isEmpty()) << "missing " << kTrueTypeFont.toStdString();
    const TPdfFont font = Pdf.LoadFont(program, TPdfFontType::ftTrueType, true);
    EXPECT_TRUE(Pdf.Owns(font));
    // Squeezed to half its width, in the page's lower half; invisible in the upper half.
    Pdf.AddText("Visible Ωmega", font, 20, QTransform(0.5, 0, 0, 1, 20, 40));
    Pdf.AddText("Hidden", font, 20, QTransform(1, 0, 0, 1, 20, 140), TPdfTextRenderMode::trInvisible, 0xFF000000,
                false);
    // The second waits for UpdatePage; the page's objects hold both already.
    ASSERT_EQ(Pdf.GetObjectCount(), 2);
    Pdf.UpdatePage();
    EXPECT_EQ(engine::FPDFTextObj_GetTextRenderMode(Object(0)), 0);
    EXPECT_EQ(engine::FPDFTextObj_GetTextRenderMode(Object(1)), 3);
    FS_MATRIX m{};
    ASSERT_TRUE(engine::FPDFPageObj_GetMatrix(Object(0), &m));
    EXPECT_TRUE(m.a == 0.5f && m.b == 0 && m.c == 0 && m.d == 1 && m.e == 20 && m.f == 40);
    const TPdfRectangle squeezed = Pdf.GetObjectBounds(0);
    EXPECT_LT(squeezed.Right - squeezed.Left, 80) << "not squeezed: " << squeezed.Left << " " << squeezed.Right;

    const QByteArray saved = SavedBytes(Pdf);
    EXPECT_TRUE(saved.contains("/FontFile2")) << "the font program is not embedded";
    const std::unique_ptr<TFPdf> reopened = Reopened(saved);
    EXPECT_EQ(reopened->Text(), "Visible Ωmega\r\nHidden");
    // Drawn where placed (device y is 200 - page y), and the invisible text not at all.
    const QImage page = reopened->RenderPage(0, 0, 300, 200);
    EXPECT_GT(DarkPixels(page, QRect(20, 145, 80, 15)), 40);
    EXPECT_EQ(DarkPixels(page, QRect(0, 0, 300, 100)), 0);
}

TEST_F(Content, EmbeddedFontsServeTheirOwnDocumentOnly) {
    EXPECT_EQ(ErrorOf([&] { Pdf.LoadFont({}, TPdfFontType::ftTrueType, true); }), "Cannot load font");
    EXPECT_EQ(ErrorOf([&] { Pdf.LoadFont("no font at all", TPdfFontType::ftTrueType, true); }), "Cannot load font");
    const QByteArray program = ReadAll(kTrueTypeFont);
    const TPdfFont font = Pdf.LoadFont(program, TPdfFontType::ftTrueType, false);
    const QTransform at(1, 0, 0, 1, 10, 10);

    // Matrices that squeeze the text to nothing or place it nowhere.
    for (const QTransform& bad : {QTransform(0, 0, 0, 0, 10, 10), QTransform(1, 0, 2, 0, 10, 10),
                                  QTransform(1, 0, 0, 1, std::nan(""), 10)})
        EXPECT_EQ(ErrorOf([&] { Pdf.AddText("x", font, 10, bad); }), "Cannot set matrix");

    const QString foreign = "Font does not belong to the open document";
    EXPECT_EQ(ErrorOf([&] { Pdf.AddText("x", TPdfFont{}, 10, at); }), foreign);
    TFPdf other;
    other.CreateDocument();
    const TPdfFont otherFont = other.LoadFont(program, TPdfFontType::ftTrueType, true);
    EXPECT_FALSE(Pdf.Owns(otherFont));
    EXPECT_EQ(ErrorOf([&] { Pdf.AddText("x", otherFont, 10, at); }), foreign);
    EXPECT_EQ(Pdf.GetObjectCount(), 0);

    // A font does not outlive its document, even where the new one reuses its handle's memory.
    Pdf.setObjectName("Pdf");
    Pdf.SetActive(false);
    EXPECT_FALSE(Pdf.Owns(font));
    EXPECT_EQ(ErrorOf([&] { Pdf.LoadFont(program, TPdfFontType::ftTrueType, true); }),
              "Cannot perform this operation on an inactive Pdf component");
    Pdf.CreateDocument();
    Pdf.AddPage(1, 100, 100);
    EXPECT_EQ(ErrorOf([&] { Pdf.AddText("x", font, 10, at); }), foreign);
}

// What an update appended to the document is read against.
TEST(ContentDocumentSize, IsTheSizeTheDocumentWasOpenedWith) {
    const QByteArray bytes = SimpleTextPdf({{"Hello"}});
    TFPdf pdf;
    pdf.setObjectName("Pdf");
    EXPECT_EQ(ErrorOf([&] { pdf.GetDocumentSize(); }), "Cannot perform this operation on an inactive Pdf component");
    pdf.LoadDocument(bytes);
    EXPECT_EQ(pdf.GetDocumentSize(), bytes.size());
    pdf.SetActive(false);
    QTemporaryDir dir;
    pdf.SetFileName(WriteFile(dir.filePath("a.pdf"), bytes + "\n% trailing comment\n"));
    pdf.SetActive(true);
    EXPECT_EQ(pdf.GetDocumentSize(), bytes.size() + 20);
    pdf.SetActive(false);
    pdf.CreateDocument();
    EXPECT_EQ(pdf.GetDocumentSize(), 0);
}

// The engine ends the process when it writes content for any page of a
// document whose page tree holds something other than a page where a page
// should be: every way of adding content is refused before it, and the page
// keeps its objects. A tree counting more pages than it holds is harmless.
TEST(ContentInDamagedTree, StrayLeafIsRefusedBeforeContentIsWritten) {
    const auto tree = [](const QByteArray& SecondKid, const QByteArray& Count) {
        PdfBuilder b;
        const int catalog = b.Reserve();
        const int pages = b.Reserve();
        const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 100 200] >>");
        const int second = b.Add("<< /Type /" + SecondKid + " /Parent " + Ref(pages) + " /MediaBox [0 0 200 100] >>");
        b.SetPageTree(catalog, pages, {page, second});
        QByteArray bytes = b.Build(catalog);
        return bytes.replace("/Count 2", "/Count " + Count);
    };
    const QString refused =
        "Cannot create page content: the document's page tree holds something other than a page where page 2 "
        "should be";
    const std::vector<std::pair<const char*, std::function<void(TFPdf&)>>> ways = {
        {"text", [](TFPdf& pdf) { pdf.AddText("Stray", "Helvetica", 12, 10, 10, 0xFF000000, 0); }},
        {"picture", [](TFPdf& pdf) { pdf.AddPicture(Filled(4, 4, 0xFF0000FF), 10, 10); }},
        {"path",
         [](TFPdf& pdf) {
             pdf.CreatePath(10, 10, TPdfFillMode::fmNone, 0xFF000000, true, 0xFF000000, 1, TPdfLineCap::lcDefault,
                            TPdfLineJoin::ljDefault, TPdfBlendMode::bmDefault);
             pdf.LineTo(50, 50);
             pdf.AddPath();
         }},
        {"page content", [](TFPdf& pdf) { pdf.UpdatePage(); }},
    };
    for (const auto& [name, add] : ways) {
        SCOPED_TRACE(name);
        TFPdf pdf;
        pdf.LoadDocument(tree("Template", "2"));
        pdf.SetPageNumber(1);
        EXPECT_EQ(ErrorOf([&] { add(pdf); }), refused);
        EXPECT_EQ(pdf.GetObjectCount(), 0);
        // Once the stray leaf is gone, content is written.
        pdf.DeletePage(2);
        pdf.SetPageNumber(1);
        pdf.AddText("Kept", "Helvetica", 12, 10, 10, 0xFF000000, 0);
        EXPECT_EQ(pdf.GetObjectCount(), 1);
    }
    TFPdf overcounted;
    overcounted.LoadDocument(tree("Page", "3"));
    overcounted.SetPageNumber(2);
    overcounted.AddText("Counted", "Helvetica", 12, 10, 10, 0xFF000000, 0);
    EXPECT_EQ(overcounted.GetObjectCount(), 1);
}
