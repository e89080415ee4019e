// Page objects and images: kinds, bounds and transparency of the objects of a
// page, and images taken out as stored data and as decoded pixels.
#include <gtest/gtest.h>

#include <QBuffer>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

// A FlateDecode stream body: qCompress's zlib stream without its length prefix.
QByteArray Deflate(const QByteArray& raw) { return qCompress(raw).mid(4); }

// One page whose content draws the named XObjects and adds Extra. Resources
// hold the XObjects, a Helvetica font /F1 and a half-transparent state /GS1.
QByteArray PageWith(PdfBuilder& b, const QByteArray& content, const QList<QPair<QByteArray, int>>& xobjects) {
    const int catalog = b.Reserve(), pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QByteArray xo;
    for (const auto& [name, number] : xobjects) xo += "/" + name + " " + Ref(number) + " ";
    const int stream = b.AddStream("<< >>", content);
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) +
                           " /MediaBox [0 0 300 300] /Resources << /Font << /F1 " + Ref(font) +
                           " >> /ExtGState << /GS1 << /ca 0.5 >> >> /XObject << " + xo + ">> >> /Contents " +
                           Ref(stream) + " >>");
    b.SetPageTree(catalog, pages, {page});
    return b.Build(catalog);
}

QByteArray ImageDict(int width, int height, const QByteArray& extra) {
    return "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(width) + " /Height " +
           QByteArray::number(height) + " " + extra + " >>";
}

// Text, image (2 x 2), half-transparent path, image (3 x 1), form.
QByteArray MixedPdf() {
    PdfBuilder b;
    const int first = b.AddStream(ImageDict(2, 2, "/ColorSpace /DeviceGray /BitsPerComponent 8"), "\x10\x20\x30\x40");
    const int second = b.AddStream(ImageDict(3, 1, "/ColorSpace /DeviceGray /BitsPerComponent 8"), "\x50\x60\x70");
    const int form = b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 10 10] >>", "0 0 10 10 re f");
    return PageWith(b,
                    "BT /F1 12 Tf 20 250 Td (Objects) Tj ET\n"
                    "q 100 0 0 50 10 20 cm /Im1 Do Q\n"
                    "q /GS1 gs 0 0 1 rg 200 150 50 40 re f Q\n"
                    "q 30 0 0 10 150 20 cm /Im2 Do Q\n"
                    "q 1 0 0 1 250 250 cm /Fm1 Do Q\n",
                    {{"Im1", first}, {"Im2", second}, {"Fm1", form}});
}

// One image of each kind, drawn in this order: JPEG, Flate RGB, greyscale,
// 1-bit, RGB with a soft mask, indexed, and an image with an empty stream.
struct ImageKinds {
    QByteArray Jpeg = JpegBytes(QColor(200, 30, 40));
    QByteArray FlateRgb = Deflate(QByteArray::fromHex("FF000000FF000000FFFFFFFF"));
    QByteArray Pdf;
    ImageKinds() {
        PdfBuilder b;
        QList<QPair<QByteArray, int>> xobjects;
        const auto add = [&](int n) { xobjects.append({"Im" + QByteArray::number(xobjects.size()), n}); };
        add(b.AddStream(ImageDict(16, 8, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode"), Jpeg));
        add(b.AddStream(ImageDict(2, 2, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode"), FlateRgb));
        add(b.AddStream(ImageDict(3, 2, "/ColorSpace /DeviceGray /BitsPerComponent 8"), QByteArray::fromHex("0080FF40C020")));
        add(b.AddStream(ImageDict(8, 2, "/ColorSpace /DeviceGray /BitsPerComponent 1"), QByteArray::fromHex("AA0F")));
        const int mask = b.AddStream(ImageDict(2, 1, "/ColorSpace /DeviceGray /BitsPerComponent 8"), "\xFF\x40");
        add(b.AddStream(ImageDict(2, 1, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /SMask " + Ref(mask)),
                        QByteArray::fromHex("FF00000000FF")));
        add(b.AddStream(ImageDict(2, 1, "/ColorSpace [/Indexed /DeviceRGB 1 <FF000000FF00>] /BitsPerComponent 8"),
                        QByteArray::fromHex("0001")));
        add(b.AddStream(ImageDict(4, 3, "/ColorSpace /DeviceGray /BitsPerComponent 8"), ""));
        QByteArray content;
        for (int i = 0; i < xobjects.size(); ++i)
            content += "q 20 0 0 20 " + QByteArray::number(10 + 30 * i) + " 100 cm /" + xobjects[i].first + " Do Q\n";
        Pdf = PageWith(b, content, xobjects);
    }
};

class Objects : public ::testing::Test {
protected:
    void Open(const QByteArray& pdf) {
        Pdf.SetPageNumber(1);
        Pdf.LoadDocument(pdf, true);
    }
    TFPdf Pdf;
};

bool Near(double a, double b) { return std::abs(a - b) < 0.01; }

}  // namespace

TEST_F(Objects, KindsBoundsAndTransparencyOfAMixedPage) {
    Open(MixedPdf());
    ASSERT_EQ(Pdf.GetObjectCount(), 5);
    const QList<TObjectType> kinds{TObjectType::otText, TObjectType::otImage, TObjectType::otPath,
                                   TObjectType::otImage, TObjectType::otForm};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Pdf.GetObjectType(i), kinds[i]) << i;
        EXPECT_EQ(Pdf.GetObjectHandle(i), engine::FPDFPage_GetObject(static_cast<FPDF_PAGE>(Pdf.GetPage()), i));
    }
    EXPECT_EQ(Pdf.GetImageCount(), 2);
    EXPECT_EQ(Pdf.GetBitmapCount(), 2);

    // The engine hands out left, bottom, right, top; each lands in its own field.
    const TPdfRectangle image = Pdf.GetObjectBounds(1);
    EXPECT_TRUE(Near(image.Left, 10) && Near(image.Bottom, 20) && Near(image.Right, 110) && Near(image.Top, 70))
        << image.Left << " " << image.Top << " " << image.Right << " " << image.Bottom;
    const TPdfRectangle path = Pdf.GetObjectBounds(2);
    EXPECT_TRUE(Near(path.Left, 200) && Near(path.Bottom, 150) && Near(path.Right, 250) && Near(path.Top, 190));

    EXPECT_TRUE(Pdf.GetObjectTransparent(2));
    EXPECT_FALSE(Pdf.GetObjectTransparent(3));
}

TEST_F(Objects, ImageIndicesCountOnlyImages) {
    Open(MixedPdf());
    // Objects are text, image, path, image: image 1 is object 3, the 3 x 1 one.
    const TPdfImage second = Pdf.GetImage(1);
    EXPECT_EQ(second.Width, 3);
    EXPECT_EQ(second.Height, 1);
    EXPECT_EQ(second.Data, QByteArray("\x50\x60\x70"));
    EXPECT_EQ(Pdf.GetBitmap(1).size(), QSize(3, 1));
    // A negative index selects the first image, like 0.
    EXPECT_EQ(Pdf.GetImage(-1).Width, 2);
    EXPECT_EQ(Pdf.GetBitmap(-5).size(), QSize(2, 2));
    EXPECT_EQ(ErrorOf([&] { Pdf.GetImage(2); }), "Incorrect index");
    EXPECT_EQ(ErrorOf([&] { Pdf.GetBitmap(2); }), "Incorrect index");
}

TEST_F(Objects, IndicesOutsideThePageAndMissingPagesRaise) {
    Open(MixedPdf());
    for (int index : {-1, 5}) {
        EXPECT_EQ(ErrorOf([&] { Pdf.GetObjectHandle(index); }), "Incorrect index") << index;
        EXPECT_EQ(ErrorOf([&] { Pdf.GetObjectType(index); }), "Incorrect index") << index;
        EXPECT_EQ(ErrorOf([&] { Pdf.GetObjectBounds(index); }), "Incorrect index") << index;
    }

    Pdf.SetPageNumber(0);
    const QString noPage = "Cannot perform this operation on an inactive page";
    EXPECT_EQ(ErrorOf([&] { Pdf.GetObjectCount(); }), noPage);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetImageCount(); }), noPage);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetImage(0); }), noPage);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetBitmap(0); }), noPage);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetObjectBitmap(0); }), noPage);

    TFPdf inactive;
    inactive.setObjectName("FPdf1");
    EXPECT_EQ(ErrorOf([&] { inactive.GetObjectCount(); }),
              "Cannot perform this operation on an inactive FPdf1 component");
}

TEST_F(Objects, APageWithoutObjects) {
    Open(SimpleTextPdf({{}}));
    EXPECT_EQ(Pdf.GetObjectCount(), 0);
    EXPECT_EQ(Pdf.GetImageCount(), 0);
    EXPECT_EQ(ErrorOf([&] { Pdf.GetObjectHandle(0); }), "Incorrect index");
    EXPECT_EQ(ErrorOf([&] { Pdf.GetImage(0); }), "Incorrect index");
    EXPECT_EQ(ErrorOf([&] { Pdf.GetBitmap(-1); }), "Incorrect index");
}

TEST_F(Objects, ObjectBitmapIsEmptyWithoutACopiableEngineBitmap) {
    Open(MixedPdf());
    EXPECT_TRUE(Pdf.GetObjectBitmap(0).isNull());  // text
    EXPECT_TRUE(Pdf.GetObjectBitmap(2).isNull());  // path
    // A greyscale image comes from the engine as a one-byte grey bitmap, which
    // is not copied (a QImage of 0 x 0 cannot be told from a null one).
    EXPECT_EQ(Pdf.GetObjectBitmap(1).size(), QSize(0, 0));
}

TEST_F(Objects, RawDataOfEachImageKindIsTheStoredStream) {
    const ImageKinds kinds;
    Open(kinds.Pdf);
    ASSERT_EQ(Pdf.GetImageCount(), 7);
    struct Case {
        int Index, Width, Height;
        QByteArray Data;
    };
    const QList<Case> cases{
        {0, 16, 8, kinds.Jpeg},
        {1, 2, 2, kinds.FlateRgb},
        {2, 3, 2, QByteArray::fromHex("0080FF40C020")},
        {3, 8, 2, QByteArray::fromHex("AA0F")},
        {4, 2, 1, QByteArray::fromHex("FF00000000FF")},
        {5, 2, 1, QByteArray::fromHex("0001")},
        {6, 4, 3, QByteArray()},
    };
    for (const Case& c : cases) {
        const TPdfImage image = Pdf.GetImage(c.Index);
        EXPECT_EQ(image.Width, c.Width) << c.Index;
        EXPECT_EQ(image.Height, c.Height) << c.Index;
        EXPECT_EQ(image.Data, c.Data) << c.Index;
    }
}

TEST_F(Objects, DecodedBitmapsOfEachImageKind) {
    const ImageKinds kinds;
    Open(kinds.Pdf);
    struct Case {
        int Index;
        QList<QList<QRgb>> Rows;
    };
    const QList<Case> exact{
        {1, {{qRgb(255, 0, 0), qRgb(0, 255, 0)}, {qRgb(0, 0, 255), qRgb(255, 255, 255)}}},
        {2, {{qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(255, 255, 255)},
             {qRgb(64, 64, 64), qRgb(192, 192, 192), qRgb(32, 32, 32)}}},
        // 1 bit: 0xAA and 0x0F, white where a bit is set.
        {3, {{0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000},
             {0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}}},
        // The soft mask's samples become the alpha.
        {4, {{qRgba(255, 0, 0, 255), qRgba(0, 0, 255, 0x40)}}},
        {5, {{qRgb(255, 0, 0), qRgb(0, 255, 0)}}},
    };
    for (const Case& c : exact) {
        const QImage bitmap = Pdf.GetBitmap(c.Index);
        ASSERT_EQ(bitmap.format(), QImage::Format_ARGB32) << c.Index;
        ASSERT_EQ(bitmap.size(), QSize(int(c.Rows[0].size()), int(c.Rows.size()))) << c.Index;
        for (int y = 0; y < c.Rows.size(); ++y)
            for (int x = 0; x < c.Rows[y].size(); ++x)
                EXPECT_EQ(bitmap.pixel(x, y), c.Rows[y][x]) << "image " << c.Index << " at " << x << "," << y;
    }

    // JPEG is lossy: every pixel close to the colour written, and opaque.
    const QImage jpeg = Pdf.GetBitmap(0);
    ASSERT_EQ(jpeg.size(), QSize(16, 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const QRgb p = jpeg.pixel(x, y);
            EXPECT_TRUE(qAbs(qRed(p) - 200) < 8 && qAbs(qGreen(p) - 30) < 8 && qAbs(qBlue(p) - 40) < 8 &&
                        qAlpha(p) == 255)
                << std::hex << p;
        }

    // No decoded pixels for an image with no data.
    EXPECT_EQ(ErrorOf([&] { Pdf.GetBitmap(6); }), "Cannot retrieve image data");
}

// The decoded-pixel entry as an engine answering with chosen sizes: what no
// real image yields, but what the copy must survive.
namespace {
struct FakeDib {
    static inline int Height, Width, Bpp, Stride;
    static inline bool Fail;
    static FPDF_BOOL Entry(FPDF_PAGEOBJECT, int* height, int* width, int* bpp, int* stride, void* pixels) {
        if (Fail) return 0;
        *height = Height;
        *width = Width;
        *bpp = Bpp;
        *stride = Stride;
        // Every byte of the buffer the protocol promises: height x stride.
        if (pixels)
            for (qint64 i = 0; i < qint64(Height) * Stride; ++i) static_cast<uchar*>(pixels)[i] = uchar(i % 251);
        return 1;
    }
};

class FakeDibScope {
public:
    FakeDibScope(int height, int width, int bpp, int stride, bool fail = false) {
        FakeDib::Height = height;
        FakeDib::Width = width;
        FakeDib::Bpp = bpp;
        FakeDib::Stride = stride;
        FakeDib::Fail = fail;
        FSaved = engine::FPDFPageObj_GetDIB;
        engine::FPDFPageObj_GetDIB = &FakeDib::Entry;
    }
    ~FakeDibScope() { engine::FPDFPageObj_GetDIB = FSaved; }

private:
    decltype(engine::FPDFPageObj_GetDIB) FSaved;
};
}  // namespace

TEST_F(Objects, DecodedPixelsStayInsideBothBuffersWhateverTheStride) {
    Open(MixedPdf());
    {
        // 32 bits with a stride of two pixels for a row of three: two copied, one left transparent.
        FakeDibScope fake(2, 3, 32, 8);
        const QImage image = Pdf.GetBitmap(0);
        ASSERT_EQ(image.size(), QSize(3, 2));
        EXPECT_EQ(image.pixel(0, 1), qRgba(10, 9, 8, 11));
        EXPECT_EQ(image.pixel(2, 0), 0u);
    }
    {
        // A stride longer than the row: the bytes past the row are skipped.
        FakeDibScope fake(2, 2, 32, 100);
        const QImage image = Pdf.GetBitmap(0);
        EXPECT_EQ(image.pixel(1, 1), qRgba(106, 105, 104, 107));
    }
    {
        // 24 bits: alpha 255, three source bytes per pixel.
        FakeDibScope fake(2, 2, 24, 7);
        const QImage image = Pdf.GetBitmap(0);
        EXPECT_EQ(image.pixel(1, 1), qRgba(12, 11, 10, 255));
    }
}

TEST_F(Objects, DecodedPixelFailuresRaiseClearErrors) {
    Open(MixedPdf());
    struct Case {
        int Height, Width, Bpp, Stride;
        bool Fail;
        QString Message;
    };
    const QList<Case> cases{
        // height x stride is 2^32: zero in 32 bits, far too large in fact.
        {65536, 16384, 32, 65536, false, "Image too large"},
        {100000, 100000, 32, 400000, false, "Image too large"},
        {2, 2, 8, 2, false, "Unsupported bitmap format"},
        {2, 2, 1, 1, false, "Unsupported bitmap format"},
        {-1, 2, 32, 8, false, "Cannot retrieve image data"},
        {2, 2, 32, 8, true, "Cannot retrieve image data"},
    };
    for (const Case& c : cases) {
        FakeDibScope fake(c.Height, c.Width, c.Bpp, c.Stride, c.Fail);
        EXPECT_EQ(ErrorOf([&] { Pdf.GetBitmap(0); }), c.Message) << c.Height << " x " << c.Stride;
    }
}
