#include "convert/PageReader.h"

#include <limits>

#include <kestrune/FPdf.h>
#include <kestrune/PageLayout.h>
#include <kestrune/PageRecognizer.h>
#include "convert/Conversion.h"
#include "convert/LoadedRecognizer.h"
#include "ocr/Recognition.h"

namespace kestrune {

TPageReader::TPageReader() = default;
TPageReader::~TPageReader() = default;

namespace {

// A recognised page as a page layout: each of Tesseract's paragraphs a block,
// its lines and words as they are.
TPageLayout RecognizedLayout(TFPdf& Pdf, int Page, const QList<TRecognizedWord>& Words) {
    TPageLayout layout;
    layout.PageNumber = Page;
    // The page was recognised as it is shown, so are its boxes.
    layout.Size = QSizeF(Pdf.GetPageWidth(), Pdf.GetPageHeight());
    layout.Rotation = Pdf.GetPageRotation();
    const TRecognizedWord* previous = nullptr;
    for (const TRecognizedWord& word : Words) {
        const bool newBlock = !previous || word.Block != previous->Block || word.Paragraph != previous->Paragraph;
        if (newBlock) layout.Blocks.append(TLayoutBlock{});
        TLayoutBlock& block = layout.Blocks.last();
        if (newBlock || word.Line != previous->Line) block.Lines.append(TLayoutLine{});
        block.Lines.last().Words.append(TLayoutWord{word.Text, word.Box, {}, 0, word.Confidence});
        previous = &word;
    }
    UniteBoxes(layout);
    return layout;
}

}  // namespace

void TPageReader::SetSettings(const TOcrSettings& Settings, const TPageFormat& Format) {
    if (FRecognizer && Settings.Languages != FSettings.Languages) FRecognizer.reset();
    FSettings = Settings;
    FFormat = Format;
}

void TPageReader::ReleaseRecognizer() {
    FRecognizer.reset();
    FImage = QImage();
}

TPageFacts TPageReader::Read(TFPdf& Pdf, int Page, QByteArray& Bytes) {
    Pdf.SetPageNumber(Page);
    TPageFacts facts;
    // A page that shows nothing (a blank page of a book) has nothing to read either.
    facts.Textless = Pdf.GetCharacterCount() == 0 && Pdf.GetObjectCount() > 0;
    const bool recognize = FSettings.Mode == TOcrMode::Always || (FSettings.Mode == TOcrMode::Auto && facts.Textless);
    if (!recognize) {
        Bytes += FFormat.PageBytes(Pdf);
    } else {
        if (FRecognitionStart) FRecognitionStart(recognition::PageDpi(Pdf.GetPageWidth(), Pdf.GetPageHeight(), FSettings.Dpi));
        if (!FRecognizer) FRecognizer = std::make_unique<TLoadedRecognizer>(FSettings.Languages);
        const int dpi = recognition::RenderPageImage(Pdf, Page, FSettings.Dpi, FImage);
        const TRecognizedPage page = FRecognizer->Recognize(FImage, dpi);
        Bytes += FFormat.NeedsWords() ? FFormat.LayoutBytes(RecognizedLayout(Pdf, Page, page.Words))
                                      : FFormat.TextBytes(page.Text);
        facts.RecognizedDpi = int(page.Dpi);
    }
    return facts;
}

}  // namespace kestrune
