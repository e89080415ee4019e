// Reading one page's bytes for a text file: the engine's text, or, for a
// scanned page, the text Tesseract recognises on its pixels.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>
#include <memory>

#include "convert/PageFormat.h"

namespace kestrune {

class TFPdf;
class TLoadedRecognizer;

// When pages are recognised rather than taken from their text layer.
enum class TOcrMode {
    Never,   // the engine's text only
    Auto,    // pages that show something but hold no text character are recognised
    Always,  // every page is recognised; its text layer is ignored
};

struct TOcrSettings {
    TOcrMode Mode = TOcrMode::Never;
    QString Languages = QStringLiteral("eng");  // Tesseract's codes joined by "+"
    int Dpi = 300;
};

// How a page's bytes were had.
struct TPageFacts {
    bool Textless = false;   // the page shows something (page objects) but holds no text character
    int RecognizedDpi = 0;   // recognised at this resolution; 0: the engine's text
};

class TPageReader {
public:
    TPageReader();
    ~TPageReader();
    TPageReader(const TPageReader&) = delete;
    TPageReader& operator=(const TPageReader&) = delete;

    // The settings for the pages that follow. Tesseract is loaded at the first
    // page that needs it (into the process, the first time: see
    // TLoadedRecognizer), and again only when the languages change.
    void SetSettings(const TOcrSettings& Settings, const TPageFormat& Format = {});

    // Appends page Page's bytes in the format (by default its text in UTF-8,
    // then CR LF) of the document open in Pdf to Bytes; Pdf's current page
    // becomes Page. A recognised page's lines end like an engine page's, and
    // its words, with Tesseract's blocks, lines and confidences, fill the word
    // formats and the layout text. Raises EPdfError.
    TPageFacts Read(TFPdf& Pdf, int Page, QByteArray& Bytes);

    // Called by Read, before anything else is done for a page that is to be
    // recognised, with the resolution it is read at: a failure from then on
    // is the recognition's.
    void SetRecognitionStart(std::function<void(int Dpi)> Started) { FRecognitionStart = std::move(Started); }

    // Lets go of Tesseract (loaded again at the next page to recognise): after
    // a failure inside it, such as a refused allocation, its state is not to
    // be trusted.
    void ReleaseRecognizer();

private:
    std::function<void(int Dpi)> FRecognitionStart;
    TOcrSettings FSettings;
    TPageFormat FFormat;
    std::unique_ptr<TLoadedRecognizer> FRecognizer;
    QImage FImage;  // the page rendered for recognition, reused from page to page
};

}  // namespace kestrune
