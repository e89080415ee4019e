#include "app/PageReader.h"

#include <limits>

#include <kestrune/FPdf.h>
#include <kestrune/PageRecognizer.h>
#include "app/Conversion.h"

namespace kestrune {

TPageReader::TPageReader() = default;
TPageReader::~TPageReader() = default;

void TPageReader::SetSettings(const TOcrSettings& Settings) {
    if (FRecognizer && Settings.Languages != FSettings.Languages) FRecognizer.reset();
    FSettings = Settings;
}

TPageFacts TPageReader::Read(TFPdf& Pdf, int Page, QByteArray& Bytes) {
    Pdf.SetPageNumber(Page);
    TPageFacts facts;
    // A page that shows nothing (a blank page of a book) has nothing to read either.
    facts.Textless = Pdf.GetCharacterCount() == 0 && Pdf.GetObjectCount() > 0;
    const bool recognize = FSettings.Mode == TOcrMode::Always || (FSettings.Mode == TOcrMode::Auto && facts.Textless);
    if (!recognize) {
        AppendUtf8(Bytes, Pdf.Text(0, std::numeric_limits<int>::max()));
    } else {
        if (!FRecognizer) FRecognizer = std::make_unique<TPageRecognizer>(FSettings.Languages);
        const TRecognizedPage page = FRecognizer->RecognizePage(Pdf, Page, FSettings.Dpi);
        AppendUtf8(Bytes, page.Text);
        facts.RecognizedDpi = int(page.Dpi);
    }
    Bytes += "\r\n";
    return facts;
}

}  // namespace kestrune
