// How a worker reads a page from its pixels: the page rendered (or its scan
// taken as it is) and recognised by Tesseract. The page reader reaches it
// through this interface only, so that a program that reads the engine's
// text alone links neither Qt's image classes nor what they load (X11, EGL,
// fontconfig, D-Bus): kestrune-text starts as light as a text run needs, and
// its runs that recognise pages use workers of the program kestrune-ocr-worker,
// which installs the rendering implementation (InstallPageRecognition in
// convert/RenderedRecognition.h), as the window does.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include <kestrune/PageRecognizer.h>

namespace kestrune {

class TFPdf;
struct TOcrSettings;
struct TPageFacts;

class TPageRecognition {
public:
    virtual ~TPageRecognition() = default;

    // Recognises page Page of Pdf (its current page), its text objects left
    // out of the image with KeepText, with Settings; notes in Facts how it was
    // read. Started is called before anything else is done (with the
    // resolution asked for, then with the one the page is read at). Raises
    // EPdfError.
    virtual TRecognizedPage Recognize(TFPdf& Pdf, int Page, bool KeepText, const TOcrSettings& Settings,
                                      TPageFacts& Facts, const std::function<void(int Dpi)>& Started) = 0;
    // Whether the current page is a scan with text stamped over it (most of
    // it one image, little text): its text is kept, its scan read.
    virtual bool StampedScan(TFPdf& Pdf) = 0;
};

using TPageRecognitionMaker = std::unique_ptr<TPageRecognition> (*)();

// Installed once, before any page is read, by the programs that recognise.
void SetPageRecognitionMaker(TPageRecognitionMaker Maker);
// Whether this process can recognise pages.
bool PageRecognitionInstalled();
// A new recognition; raises EPdfError in a program that has none installed.
std::unique_ptr<TPageRecognition> NewPageRecognition();

// The program that recognises pages for kestrune-text: kestrune-ocr-worker,
// in the first of the engine's folders that holds it (beside the engine, as
// built and as installed); empty when there is none.
QString RecognitionWorkerProgram();
inline constexpr char RecognitionWorkerName[] = "kestrune-ocr-worker";

}  // namespace kestrune
