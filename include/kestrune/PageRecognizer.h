// TPageRecognizer: the text of scanned pages, read from their pixels by
// Tesseract (its C++ API, tesseract::TessBaseAPI).
//
// A page is rendered through TFPdf (the engine's own rendering, in grey, at the
// chosen resolution) and its pixels are handed to Tesseract as they lie. What
// comes back is the page's text and its words, each with its box on the page,
// its confidence and Tesseract's block, paragraph and line numbers.
//
//     kestrune::TPageRecognizer reader("eng");
//     pdf.SetActive(true);
//     QString text = reader.RecognizePage(pdf, 1, 300).Text;
//
// One recognizer holds one Tesseract instance with its language data loaded;
// it serves one thread at a time. How many threads Tesseract itself uses is
// up to its OpenMP runtime: OMP_THREAD_LIMIT=1 in the environment when the
// process starts keeps it to one. Tesseract's own messages are silenced (its
// debug_file becomes /dev/null, for the whole process): its failures arrive as
// EPdfError.
#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <memory>

namespace kestrune {

class TFPdf;

// One recognised word.
struct TRecognizedWord {
    QString Text;
    // Its box in page units (points), from the top left corner of the page.
    QRectF Box;
    // Tesseract's confidence, 0 to 100.
    double Confidence = 0;
    // Where it stands in Tesseract's layout, each counted from 1: the block on
    // the page, the paragraph in the block, the line in the paragraph.
    int Block = 0;
    int Paragraph = 0;
    int Line = 0;
};

// What a page gave.
struct TRecognizedPage {
    // The recognised lines in reading order, separated by CR LF, without a
    // line end after the last; empty for a page where nothing was found.
    QString Text;
    QList<TRecognizedWord> Words;
    // The resolution the page was read at: the one asked for, or lower when
    // the page is too large for it (see MaxPagePixels).
    double Dpi = 0;
    // The size of the image read, in pixels.
    int PixelWidth = 0;
    int PixelHeight = 0;
};

class TPageRecognizer {
public:
    // The largest image a page is read from. A page whose image at the asked
    // resolution would be larger is rendered at the highest whole resolution
    // that keeps under both limits (Tesseract reads no side longer than MaxPageSide).
    static constexpr qint64 MaxPagePixels = 40'000'000;
    static constexpr int MaxPageSide = 32767;

    // Loads Tesseract with Languages, its language codes joined by "+"
    // ("eng", "eng+deu"). Raises EPdfError naming the first language whose
    // data is not installed and the Debian package that has it
    // (tesseract-ocr-<code>), or when Tesseract cannot start.
    explicit TPageRecognizer(const QString& Languages = QStringLiteral("eng"));
    ~TPageRecognizer();
    TPageRecognizer(const TPageRecognizer&) = delete;
    TPageRecognizer& operator=(const TPageRecognizer&) = delete;

    QString Languages() const;

    // Reads GreyPage, an image of a page at Dpi pixels per inch (boxes are
    // given in points from it). A Format_Grayscale8 image is handed to
    // Tesseract as it lies; any other format is converted to it first.
    // Raises EPdfError for a null image, an image beyond the limits above, or
    // a failed recognition.
    TRecognizedPage Recognize(const QImage& GreyPage, double Dpi);

    // Renders page PageNumber (from 1) of the document open in Pdf in grey at
    // Dpi (lowered for a page beyond the limits above) and reads it. Pdf's
    // current page becomes PageNumber. Raises EPdfError.
    TRecognizedPage RecognizePage(TFPdf& Pdf, int PageNumber, int Dpi);

    // The resolution a page of Width x Height points is read at when Dpi is
    // asked for: Dpi itself, or the highest whole resolution (at least 1) that
    // keeps its image within MaxPagePixels and MaxPageSide.
    static int PageDpi(double Width, double Height, int Dpi);

    // Raises the constructor's error for Languages without loading Tesseract:
    // for a quick check before any work.
    static void CheckLanguages(const QString& Languages);

    // The language codes whose data Tesseract finds, sorted.
    static QStringList InstalledLanguages();

    // Tesseract's glyphless font in its data folder (pdf.ttf), for a text
    // layer over recognised pages (TTextLayer, <kestrune/TextLayer.h>).
    static QString GlyphlessFontFile();

private:
    struct TState;
    std::unique_ptr<TState> F;
};

}  // namespace kestrune
