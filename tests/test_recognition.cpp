// TPageRecognizer: real Tesseract on pages rendered by the engine.
#include <gtest/gtest.h>

#include <cmath>

#include <kestrune/FPdf.h>
#include <kestrune/PageRecognizer.h>
#include "support/PdfBuilder.h"
#include "support/ScannedPdf.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

const QList<QStringList> kWords = {{"The quick brown fox", "jumps over the lazy dog"}};
constexpr int kDpi = 200;

// A language code whose data is not installed here.
QString AbsentLanguage() {
    const QStringList installed = TPageRecognizer::InstalledLanguages();
    for (const QString code : {"deu", "fra", "spa", "ita", "nld", "pol"})
        if (!installed.contains(code)) return code;
    return {};
}

TEST(PageRecognizer, ReadsTheWordsOfAScannedPageWithTheirPlaces) {
    TFPdf pdf;
    pdf.LoadDocument(ScannedPdf(kWords, {1}, kDpi));
    pdf.SetPageNumber(1);
    ASSERT_EQ(pdf.Text(0, 1000), QString()) << "the fixture page must hold no text";

    TPageRecognizer reader;
    const TRecognizedPage page = reader.RecognizePage(pdf, 1, kDpi);
    EXPECT_EQ(WordsOf(page.Text), WordsOf(kWords[0].join(' ')));
    EXPECT_EQ(page.Text.count(QStringLiteral("\r\n")), 1) << "two lines, CR LF between them, none at the end";
    EXPECT_EQ(page.Dpi, kDpi);
    EXPECT_EQ(page.PixelWidth, 1000);  // 5 inches at 200 dpi

    ASSERT_EQ(page.Words.size(), 9);
    const TRecognizedWord& first = page.Words[0];
    // The text starts 18 pt from the left; its first line's cap height lies
    // some 20 to 40 pt below the top of the page (origin at the top left).
    EXPECT_NEAR(first.Box.left(), 18, 3);
    EXPECT_GT(first.Box.top(), 15);
    EXPECT_LT(first.Box.bottom(), 45);
    for (int i = 0; i < page.Words.size(); ++i) {
        const TRecognizedWord& word = page.Words[i];
        EXPECT_EQ(word.Block, 1);
        EXPECT_EQ(word.Paragraph, 1);
        EXPECT_EQ(word.Line, i < 4 ? 1 : 2) << word.Text.toStdString();
        EXPECT_GT(word.Confidence, 50);
        EXPECT_LE(word.Confidence, 100);
        EXPECT_TRUE(QRectF(0, 0, 360, 144).contains(word.Box));
    }
    EXPECT_GT(page.Words[4].Box.top(), first.Box.bottom()) << "the second line lies below the first";
    EXPECT_GT(page.Words[1].Box.left(), first.Box.right());
}

TEST(PageRecognizer, ReadsAnImageInAnyFormatAsTheSameGreyPixels) {
    const QImage grey = RenderedWords({"Seven ships"}, kDpi);
    TPageRecognizer reader;
    EXPECT_EQ(reader.Recognize(grey, kDpi).Text, QStringLiteral("Seven ships"));
    EXPECT_EQ(reader.Recognize(grey.convertToFormat(QImage::Format_ARGB32), kDpi).Text, QStringLiteral("Seven ships"));
    QImage blank(400, 100, QImage::Format_Grayscale8);
    blank.fill(255);
    EXPECT_EQ(reader.Recognize(blank, kDpi).Text, QString()) << "a blank page gives no text";
    EXPECT_EQ(ErrorOf([&] { reader.Recognize(QImage(), kDpi); }), QStringLiteral("No page image to recognise"));
}

TEST(PageRecognizer, RefusesALanguageWithoutDataNamingItsPackage) {
    const QString absent = AbsentLanguage();
    ASSERT_FALSE(absent.isEmpty()) << "every candidate language is installed";
    ASSERT_TRUE(TPageRecognizer::InstalledLanguages().contains(QStringLiteral("eng")));
    // Tesseract itself would go on with English alone when the second one is missing.
    for (const QString& languages : {absent, QStringLiteral("eng+") + absent}) {
        const QString error = ErrorOf([&] { TPageRecognizer reader(languages); });
        EXPECT_TRUE(error.contains(QStringLiteral("\"%1\"").arg(absent))) << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("tesseract-ocr-") + absent)) << error.toStdString();
    }
    for (const QString& bad : {QString(), QStringLiteral("eng+"), QStringLiteral("../eng"), QStringLiteral("eng deu")})
        EXPECT_TRUE(ErrorOf([&] { TPageRecognizer reader(bad); }).startsWith("Invalid recognition language"))
            << bad.toStdString();
}

TEST(PageRecognizer, PageDpiIsTheHighestResolutionWithinTheLimits) {
    struct TCase {
        double Width, Height;
        int Dpi;
    };
    for (const TCase& c : {TCase{612, 792, 300}, TCase{14400, 144, 300}, TCase{14400, 14400, 300},
                           TCase{612, 792, 1200}, TCase{1e6, 1e6, 300}}) {
        const int dpi = TPageRecognizer::PageDpi(c.Width, c.Height, c.Dpi);
        const auto fits = [&](int d) {
            const double w = std::ceil(c.Width * d / 72), h = std::ceil(c.Height * d / 72);
            return w <= TPageRecognizer::MaxPageSide && h <= TPageRecognizer::MaxPageSide &&
                   w * h <= TPageRecognizer::MaxPagePixels;
        };
        EXPECT_GE(dpi, 1);
        EXPECT_LE(dpi, c.Dpi);
        if (dpi > 1) {
            EXPECT_TRUE(fits(dpi)) << c.Width << " x " << c.Height;
        }
        if (dpi < c.Dpi) {
            EXPECT_FALSE(fits(dpi + 1)) << c.Width << " x " << c.Height;
        }
    }
    EXPECT_EQ(TPageRecognizer::PageDpi(612, 792, 300), 300);
}

TEST(PageRecognizer, ReadsAnOversizedPageAtALowerResolution) {
    // 200 inches wide: 60,000 pixels at 300 dpi, past the longest side Tesseract reads.
    TFPdf pdf;
    pdf.LoadDocument(ScannedPdf({{"Seven ships"}}, {}, 0, QSizeF(14400, 144)));
    TPageRecognizer reader;
    const TRecognizedPage page = reader.RecognizePage(pdf, 1, 300);
    EXPECT_EQ(page.Dpi, TPageRecognizer::PageDpi(14400, 144, 300));
    EXPECT_LT(page.Dpi, 300);
    EXPECT_LE(page.PixelWidth, TPageRecognizer::MaxPageSide);
    EXPECT_EQ(page.Text, QStringLiteral("Seven ships"));
    EXPECT_NEAR(page.Words.value(0).Box.left(), 18, 3) << "boxes in points, whatever the resolution";
}

// A page that renders white because the engine left out an image it cannot
// decode is no blank page: reading it fails. A white image is a blank page.
TEST(PageRecognizer, APageWhoseImageCannotBeDecodedIsNoBlankPage) {
    TPageRecognizer reader;
    TFPdf oversized, white;
    oversized.LoadDocument(OversizedJbig2Pdf(140000));
    EXPECT_EQ(ErrorOf([&] { reader.RecognizePage(oversized, 1, 100); }),
              QStringLiteral("page 1: an image on the page cannot be decoded (too large for the engine, or damaged)"));
    white.LoadDocument(BigImagePdf(200, 80));
    EXPECT_EQ(reader.RecognizePage(white, 1, 100).Text, QString());
}

}  // namespace
