// Reading one page's bytes for a text file: the engine's text, or, for a
// scanned page, the text Tesseract recognises on its pixels.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

#include <kestrune/PageRecognizer.h>
#include "convert/PageFormat.h"

namespace kestrune {

class TFPdf;
class TPageRecognition;

namespace worker {
class TPayload;
class TPayloadReader;
}  // namespace worker

// When pages are recognised rather than taken from their text layer.
enum class TOcrMode {
    Never,   // the engine's text only
    Auto,    // pages that show something but hold no text character are recognised
    Always,  // every page is recognised; its text layer is ignored
};

struct TOcrSettings {
    TOcrMode Mode = TOcrMode::Never;
    QString Languages = QStringLiteral("eng");  // Tesseract's codes joined by "+"
    int Dpi = 300;         // for rendered pages, and the least a coarse scan is read at
    bool Rotate = true;    // turned pages are detected and read upright
    bool Clean = false;    // pages are cleaned (background, specks) before reading

    // How a page is read, for the recognizer.
    TRecognitionOptions Options() const;
    // The settings as a worker is sent them, and back.
    void WriteTo(worker::TPayload& Payload) const;
    static TOcrSettings ReadFrom(worker::TPayloadReader& Reader);
};

// How a page's bytes were had.
struct TPageFacts {
    bool Textless = false;   // the page shows something (page objects) but holds no text character
    int RecognizedDpi = 0;   // recognised at this resolution; 0: the engine's text
    int LoweredFrom = 0;     // the resolution it was to be read at, when too large for it; else 0
    int Rotation = 0;        // recognised turned upright by this many degrees clockwise
    double Confidence = -1;  // recognised: the words' mean confidence (TRecognizedPage::Confidence)

    // The facts as a worker sends them, and back.
    void WriteTo(worker::TPayload& Payload) const;
    static TPageFacts ReadFrom(worker::TPayloadReader& Reader);
};

// What the recognised pages of a document came to, counted as they arrive.
struct TRecognitionTally {
    // A recognised page whose words' mean confidence is below this (or that
    // shows ink and gave no word) wants a look.
    static constexpr double LowConfidence = 70;

    int Pages = 0;           // recognised pages
    int Turned = 0;          // of those, read turned upright
    int Measured = 0;        // of those, the ones showing ink, whose confidence counts
    double ConfidenceSum = 0;
    int LowConfident = 0;    // of those, under LowConfidence
    // The pages read at a lower resolution than meant, as too large: (page, meant, read at).
    struct TLowered {
        int Page, Meant, Dpi;
    };
    QList<TLowered> Lowered;

    void Add(int Page, const TPageFacts& Facts);
    // The mean of the measured pages' confidences; -1 without any.
    double MeanConfidence() const { return Measured ? ConfidenceSum / Measured : -1; }
};

class TPageReader {
public:
    TPageReader();
    ~TPageReader();
    TPageReader(const TPageReader&) = delete;
    TPageReader& operator=(const TPageReader&) = delete;

    // The settings for the pages that follow. The recognition (convert/
    // PageRecognition.h) is made at the first page that needs it, and
    // Tesseract loaded then, and again only when the languages change.
    void SetSettings(const TOcrSettings& Settings, const TPageFormat& Format = {});

    // Appends page Page's bytes in the format (by default its text in UTF-8,
    // then CR LF) of the document open in Pdf to Bytes; Pdf's current page
    // becomes Page. A recognised page's lines end like an engine page's, and
    // its words, with Tesseract's blocks, lines and confidences, fill the word
    // formats and the layout text. For --format pdf, the bytes are the
    // page's recognised words for its text layer (PdfOutput.h): the pages
    // without text, stamped scans, and with --ocr always the pages whose only
    // text is an earlier layer are recognised. Raises EPdfError.
    TPageFacts Read(TFPdf& Pdf, int Page, QByteArray& Bytes);

    // Called by Read, before anything else is done for a page that is to be
    // recognised, with the resolution it is read at (with the one asked for
    // first, then once more when a scan's own resolution is known): a failure
    // from then on is the recognition's.
    void SetRecognitionStart(std::function<void(int Dpi)> Started) { FRecognitionStart = std::move(Started); }

    // Lets go of Tesseract (loaded again at the next page to recognise): after
    // a failure inside it, such as a refused allocation, its state is not to
    // be trusted.
    void ReleaseRecognizer();

private:
    // A stamped scan's bytes: its own text and Recognized's words.
    QByteArray StampedBytes(TFPdf& Pdf, int Page, const TRecognizedPage& Recognized) const;
    // The recognition, made when first needed.
    TPageRecognition& Recognition();
    // The page's bytes for --format pdf (LayerPageBytes): its recognised
    // words and what to do with them.
    QByteArray LayerBytes(TFPdf& Pdf, int Page, TPageFacts& Facts);

    std::function<void(int Dpi)> FRecognitionStart;
    TOcrSettings FSettings;
    TPageFormat FFormat;
    std::unique_ptr<TPageRecognition> FRecognition;  // made at the first page to recognise
};

}  // namespace kestrune
