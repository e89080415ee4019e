// TPageRecognizer: the text of scanned pages, read from their pixels by
// Tesseract (its C++ API, tesseract::TessBaseAPI).
//
// A page that is one scanned image is read from the image's own pixels, at
// its own resolution (through the engine's decoding of the image, without
// resampling; a scan under MinScanDpi is scaled up). Any other page is
// rendered through TFPdf (the engine's own rendering, in grey, without image
// smoothing) at the chosen resolution. Before reading, the page's orientation
// is detected, so that a page scanned sideways or upside down is read
// upright. What comes back is the page's text and its words, each with its box
// on the page as shown, its confidence and Tesseract's block, paragraph and
// line numbers.
//
//     kestrune::TPageRecognizer reader("eng");
//     pdf.SetActive(true);
//     QString text = reader.RecognizePage(pdf, 1, 300).Text;
//
// One recognizer holds one Tesseract instance with its language data loaded;
// it serves one thread at a time, and Tesseract works on one thread of its own
// for it (SetThreadCount). Tesseract's own messages are silenced (its
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

// How pages are read.
struct TRecognitionOptions {
    // The resolution, in dots per inch, pages are rendered at; a scanned image
    // under TPageRecognizer::MinScanDpi is scaled up to it.
    int Dpi = 300;
    // Whether the page's orientation is detected first (Tesseract's orientation
    // and script detection, which needs its data "osd"): a page whose text is
    // turned by 90, 180 or 270 degrees is read upright. Its words' boxes stay
    // on the page as shown.
    bool Rotate = true;
    // Whether a slanted page (a sheet fed askew) is straightened first
    // (Leptonica's skew detection and rotation, by up to 7 degrees); its
    // words' boxes stay on the page as shown.
    bool Deskew = true;
    // Whether the page is cleaned first: its background made even (Leptonica's
    // background normalisation: shadows, stains, yellowed paper) and its lone
    // specks removed (a fax line's noise, dust). A cleaned page that shows ink
    // but gives no word is read again as it is.
    bool Clean = false;
};

// What a page gave.
struct TRecognizedPage {
    // The recognised lines in reading order, separated by CR LF, without a
    // line end after the last; empty for a page where nothing was found.
    QString Text;
    QList<TRecognizedWord> Words;
    // The resolution the page was read at: the scan's own or the one asked
    // for, or lower when the page is too large for it (see MaxPagePixels).
    double Dpi = 0;
    // The size of the image read, in pixels.
    int PixelWidth = 0;
    int PixelHeight = 0;
    // Whether the image read was the page's one scanned image, in its own
    // pixels, rather than a rendering of the page.
    bool ScanPixels = false;
    // How far the page's text stood turned, clockwise, in degrees: 0, 90, 180
    // or 270. It was read upright.
    int Rotation = 0;
    // The mean of the words' confidences (0 to 100); 0 for an image that shows
    // ink but gave no word, -1 for one without ink (a blank page).
    double Confidence = -1;
    // How far the page was slanted, clockwise in degrees, when it was
    // straightened before reading (TRecognitionOptions::Deskew); else 0.
    double Skew = 0;
};

class TPageRecognizer {
public:
    // The largest image a page is read from. A page whose image at the asked
    // resolution would be larger is rendered at the highest whole resolution
    // that keeps under both limits (Tesseract reads no side longer than MaxPageSide).
    static constexpr qint64 MaxPagePixels = 40'000'000;
    static constexpr int MaxPageSide = 32767;
    // Scans below this resolution are scaled up to the resolution asked for:
    // Tesseract reads finer pixels better.
    static constexpr int MinScanDpi = 200;

    // Loads Tesseract with Languages, its language codes joined by "+"
    // ("eng", "eng+deu"). Raises EPdfError naming the first language whose
    // data is not installed and the Debian package that has it
    // (tesseract-ocr-<code>), or listing the installed languages for a code
    // Tesseract does not know, or when Tesseract cannot start.
    explicit TPageRecognizer(const QString& Languages = QStringLiteral("eng"));
    ~TPageRecognizer();
    TPageRecognizer(const TPageRecognizer&) = delete;
    TPageRecognizer& operator=(const TPageRecognizer&) = delete;

    QString Languages() const;

    // The number of threads Tesseract works on for this recognizer: 1 unless
    // set otherwise (more cost more processor time per page for some less
    // waiting); 0 leaves it to Tesseract's OpenMP runtime and its environment
    // (OMP_THREAD_LIMIT).
    void SetThreadCount(int Count);
    int ThreadCount() const;

    // Reads GreyPage, an image of a page at Dpi pixels per inch (boxes are
    // given in points from it), turned upright first when Options.Rotate says
    // so. A Format_Grayscale8 image is handed to Tesseract as it lies; any
    // other format is converted to it first. Raises EPdfError for a null
    // image, an image beyond the limits above, a failed recognition, or
    // orientation detection without its data (the Debian package
    // tesseract-ocr-osd).
    TRecognizedPage Recognize(const QImage& GreyPage, double Dpi, const TRecognitionOptions& Options = {});

    // Reads page PageNumber (from 1) of the document open in Pdf: a page that
    // is one scanned image from the image's own pixels, any other rendered in
    // grey at Options.Dpi (lowered for a page beyond the limits above). Pdf's
    // current page becomes PageNumber. Raises EPdfError as Recognize does, also
    // for a page that renders white because an image on it cannot be decoded
    // (which the engine leaves out without a word): that is no blank page.
    TRecognizedPage RecognizePage(TFPdf& Pdf, int PageNumber, const TRecognitionOptions& Options);
    // The same with the other options at their defaults.
    TRecognizedPage RecognizePage(TFPdf& Pdf, int PageNumber, int Dpi);

    // The resolution a page of Width x Height points is read at when Dpi is
    // asked for: Dpi itself, or the highest whole resolution (at least 1) that
    // keeps its image within MaxPagePixels and MaxPageSide.
    static int PageDpi(double Width, double Height, int Dpi);

    // Raises the constructor's error for Languages without loading Tesseract:
    // for a quick check before any work.
    static void CheckLanguages(const QString& Languages);
    // Raises EPdfError, naming the Debian package, when the data of
    // orientation detection (osd) is not installed.
    static void CheckOrientationData();

    // The language codes whose data Tesseract finds, sorted; not the data of
    // orientation detection (osd), which recognises no language.
    static QStringList InstalledLanguages();

    // Tesseract's glyphless font in its data folder (pdf.ttf), for a text
    // layer over recognised pages (TTextLayer, <kestrune/TextLayer.h>).
    static QString GlyphlessFontFile();

private:
    struct TState;
    std::unique_ptr<TState> F;
};

}  // namespace kestrune
