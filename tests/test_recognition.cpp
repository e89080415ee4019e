// TPageRecognizer: real Tesseract on pages rendered by the engine.
#include <gtest/gtest.h>

#include <QDir>
#include <QLineF>
#include <QTransform>
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
    // A code Tesseract has no data for is a mistyped name: no package has it.
    const QString unknown = ErrorOf([] { TPageRecognizer reader(QStringLiteral("english")); });
    EXPECT_TRUE(unknown.startsWith("Unknown recognition language \"english\"")) << unknown.toStdString();
    EXPECT_TRUE(unknown.endsWith("installed here: " + TPageRecognizer::InstalledLanguages().join(", "))) << unknown.toStdString();
    EXPECT_FALSE(unknown.contains("tesseract-ocr-"));
    EXPECT_FALSE(TPageRecognizer::InstalledLanguages().contains(QStringLiteral("osd"))) << "orientation data, no language";
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

// Page recognised the words of kLines, in their order.
void ExpectLines(const TRecognizedPage& Page) {
    EXPECT_EQ(WordsOf(Page.Text), WordsOf(kLines.join(' '))) << Page.Text.toStdString();
}

// Where a point of the upright page lies on the page turned clockwise by Turn.
QPointF Turned(QPointF Point, int Turn, QSizeF Upright) {
    switch (Turn) {
    case 90: return {Upright.height() - Point.y(), Point.x()};
    case 180: return {Upright.width() - Point.x(), Upright.height() - Point.y()};
    case 270: return {Point.y(), Upright.width() - Point.x()};
    default: return Point;
    }
}

// A page scanned sideways or upside down is read upright, and says how it
// was turned; its words' boxes lie where the page shows them. Without
// orientation detection the same page gives other words.
TEST(PageRecognizer, ReadsATurnedPageUpright) {
    TPageRecognizer reader;
    TFPdf upright;
    upright.LoadDocument(ScanPdf({TScan{.Lines = kLines}}, kLinesPageSize));
    const TRecognizedPage reference = reader.RecognizePage(upright, 1, 300);
    ExpectLines(reference);
    EXPECT_EQ(reference.Rotation, 0);
    for (const int turn : {90, 180}) {
        SCOPED_TRACE(turn);
        TFPdf pdf;
        pdf.LoadDocument(ScanPdf({TScan{.Lines = kLines, .Turn = turn}}, kLinesPageSize));
        const TRecognizedPage page = reader.RecognizePage(pdf, 1, 300);
        ExpectLines(page);
        EXPECT_EQ(page.Rotation, turn);
        ASSERT_EQ(page.Words.size(), reference.Words.size());
        for (int i = 0; i < page.Words.size(); ++i) {
            const QPointF expected = Turned(reference.Words[i].Box.center(), turn, kLinesPageSize);
            EXPECT_LT(QLineF(page.Words[i].Box.center(), expected).length(), 4) << page.Words[i].Text.toStdString();
        }
    }
    // (Sideways lines Tesseract turns on its own, without telling which way.)
    TFPdf upsideDown;
    upsideDown.LoadDocument(ScanPdf({TScan{.Lines = kLines, .Turn = 180}}, kLinesPageSize));
    const TRecognizedPage lying = reader.RecognizePage(upsideDown, 1, TRecognitionOptions{.Rotate = false});
    EXPECT_EQ(lying.Rotation, 0);
    EXPECT_NE(WordsOf(lying.Text), WordsOf(kLines.join(' ')));
}

// A page that is one scanned image is read from the image's own pixels, at
// its own resolution however the image is placed and the page turned; a
// coarse scan is scaled up to the resolution asked for. A page with anything
// else on it (a stamped line of text) is rendered at that resolution.
TEST(PageRecognizer, ReadsAScanFromItsOwnPixels) {
    const QStringList words = kWords[0];
    struct TCase {
        TScan Scan;
        double Dpi;
        int PixelWidth;
    };
    TPageRecognizer reader;
    for (const TCase& c : {TCase{TScan{.Lines = words, .Dpi = 200}, 200, 1000},
                           TCase{TScan{.Lines = words, .Dpi = 250, .PlacedTurn = 90}, 250, 1250},
                           TCase{TScan{.Lines = words, .Dpi = 250, .PlacedTurn = 180, .PageRotate = 270}, 250, 1250},
                           TCase{TScan{.Lines = words, .Dpi = 150}, 300, 1500}}) {
        SCOPED_TRACE(QStringLiteral("%1 dpi, placed turned by %2, page by %3")
                         .arg(c.Scan.Dpi)
                         .arg(c.Scan.PlacedTurn)
                         .arg(c.Scan.PageRotate)
                         .toStdString());
        TFPdf pdf;
        pdf.LoadDocument(ScanPdf({c.Scan}));
        const TRecognizedPage page = reader.RecognizePage(pdf, 1, 300);
        EXPECT_TRUE(page.ScanPixels);
        EXPECT_EQ(page.Dpi, c.Dpi);
        EXPECT_EQ(page.PixelWidth, c.PixelWidth);
        EXPECT_EQ(WordsOf(page.Text), WordsOf(words.join(' ')));
        EXPECT_NEAR(page.Words.value(0).Box.left(), 18, 3);
        EXPECT_EQ(page.Rotation, 0);
    }
    TFPdf stamped;
    stamped.LoadDocument(ScanPdf({TScan{.Lines = words, .Stamp = QStringLiteral("FAX FROM HARBOUR OFFICE 0042")}}));
    const TRecognizedPage page = reader.RecognizePage(stamped, 1, 300);
    EXPECT_FALSE(page.ScanPixels);
    EXPECT_EQ(page.Dpi, 300);
    EXPECT_EQ(WordsOf(page.Text), WordsOf(words.join(' ') + " FAX FROM HARBOUR OFFICE 0042"));
}

// Where a point of the upright page lies on the page slanted clockwise by Degrees about its centre.
QPointF Slanted(QPointF Point, double Degrees, QSizeF Page) {
    const QPointF centre(Page.width() / 2, Page.height() / 2);
    return QTransform().translate(centre.x(), centre.y()).rotate(Degrees).translate(-centre.x(), -centre.y()).map(Point);
}

// Scans as they come: slanted, or black and white with specks at 200 dpi
// (a fax). Their words are found (but for the odd misreading), and no word
// is mere white space. A slanted page is straightened before reading, its
// words' boxes where the page shows them.
TEST(PageRecognizer, ReadsSkewedAndSpeckledScans) {
    TPageRecognizer reader;
    TFPdf upright, slanted;
    upright.LoadDocument(ScanPdf({TScan{.Lines = kLines}}, kLinesPageSize));
    const TRecognizedPage reference = reader.RecognizePage(upright, 1, 300);
    EXPECT_EQ(reference.Skew, 0);
    slanted.LoadDocument(ScanPdf({TScan{.Lines = kLines, .Skew = 2.5}}, kLinesPageSize));
    const TRecognizedPage page = reader.RecognizePage(slanted, 1, 300);
    EXPECT_NEAR(page.Skew, 2.5, 0.3);
    ASSERT_EQ(page.Words.size(), reference.Words.size());
    for (int i = 0; i < page.Words.size(); ++i) {
        const QPointF expected = Slanted(reference.Words[i].Box.center(), 2.5, kLinesPageSize);
        EXPECT_LT(QLineF(page.Words[i].Box.center(), expected).length(), 3) << page.Words[i].Text.toStdString();
    }
    EXPECT_EQ(reader.RecognizePage(slanted, 1, TRecognitionOptions{.Deskew = false}).Skew, 0);

    TFPdf fax;
    fax.LoadDocument(ScanPdf({TScan{.Lines = kLines, .Bilevel = true, .Specks = 0.01}}, kLinesPageSize));
    const TRecognizedPage speckled = reader.RecognizePage(fax, 1, 300);
    EXPECT_EQ(speckled.Dpi, 200);
    EXPECT_GE(KnownWordsFound(speckled.Text, kLines), 0.9) << speckled.Text.toStdString();
    for (const TRecognizedWord& word : speckled.Words) EXPECT_FALSE(word.Text.trimmed().isEmpty());
    EXPECT_GT(speckled.Confidence, 70);
}

// A fax thick with specks reads poorly as it is; cleaned, its words are found.
TEST(PageRecognizer, CleaningTakesAFaxsSpecks) {
    TPageRecognizer reader;
    TFPdf fax;
    fax.LoadDocument(ScanPdf({TScan{.Lines = kLines + kLines, .FontSize = 10, .Bilevel = true, .Specks = 0.01}}, kLinesPageSize));
    const TRecognizedPage speckled = reader.RecognizePage(fax, 1, 300);
    const TRecognizedPage cleaned = reader.RecognizePage(fax, 1, TRecognitionOptions{.Clean = true});
    EXPECT_LT(KnownWordsFound(speckled.Text, kLines + kLines), 0.8) << speckled.Text.toStdString();
    EXPECT_GE(KnownWordsFound(cleaned.Text, kLines + kLines), 0.9) << cleaned.Text.toStdString();
    EXPECT_GT(cleaned.Confidence, speckled.Confidence);
}

// A page's confidence: its words' mean; none for a blank page, 0 for one
// that shows ink but gave no word.
TEST(PageRecognizer, APageConfidenceTellsAReadPageFromABlankOrFailedOne) {
    TPageRecognizer reader;
    const TRecognizedPage read = reader.Recognize(RenderedWords(kWords[0], kDpi), kDpi);
    double sum = 0;
    for (const TRecognizedWord& word : read.Words) sum += word.Confidence;
    EXPECT_DOUBLE_EQ(read.Confidence, sum / read.Words.size());
    QImage blank(1000, 400, QImage::Format_Grayscale8);
    blank.fill(255);
    EXPECT_EQ(reader.Recognize(blank, kDpi).Confidence, -1);
    QImage inked = blank;
    inked.fill(0);
    const TRecognizedPage dark = reader.Recognize(inked, kDpi);
    EXPECT_TRUE(dark.Words.isEmpty());
    EXPECT_EQ(dark.Confidence, 0);
}

// Tesseract works on one thread for a recognizer unless told otherwise,
// whatever its runtime would allow the process.
TEST(PageRecognizer, WorksOnOneThreadUnlessToldOtherwise) {
    if (qEnvironmentVariableIsSet("OMP_THREAD_LIMIT")) GTEST_SKIP() << "OMP_THREAD_LIMIT limits every recognizer";
    const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    const QImage page = RenderedWords(kWords[0], kDpi);
    TPageRecognizer reader;
    EXPECT_EQ(reader.ThreadCount(), 1);
    const qsizetype before = threads();
    EXPECT_EQ(reader.Recognize(page, kDpi).Text.count(' '), 7);
    EXPECT_EQ(threads(), before) << "no thread started for Tesseract";
    reader.SetThreadCount(4);
    EXPECT_EQ(reader.Recognize(page, kDpi).Text.count(' '), 7);
    EXPECT_GT(threads(), before) << "OpenMP's threads, kept for the next page";
}

}  // namespace
