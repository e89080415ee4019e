#include "convert/PageReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <kestrune/FPdf.h>
#include <kestrune/PageLayout.h>
#include <kestrune/PageRecognizer.h>
#include <kestrune/PageText.h>
#include <kestrune/TextLayer.h>
#include "convert/Conversion.h"
#include "convert/PageRecognition.h"
#include "convert/PdfOutput.h"
#include "convert/WorkerProtocol.h"

namespace kestrune {

TRecognitionOptions TOcrSettings::Options() const {
    TRecognitionOptions options;
    options.Dpi = Dpi;
    options.Rotate = Rotate;
    options.Clean = Clean;
    return options;
}

void TOcrSettings::WriteTo(worker::TPayload& Payload) const {
    Payload.Int(int(Mode)).Text(Languages).Int(Dpi).Int(Rotate).Int(Clean);
}

TOcrSettings TOcrSettings::ReadFrom(worker::TPayloadReader& Reader) {
    TOcrSettings settings;
    settings.Mode = TOcrMode(Reader.Int());
    settings.Languages = Reader.Text();
    settings.Dpi = Reader.Int();
    settings.Rotate = Reader.Int() != 0;
    settings.Clean = Reader.Int() != 0;
    return settings;
}

void TPageFacts::WriteTo(worker::TPayload& Payload) const {
    // The confidence in hundredths, -1 as -100.
    Payload.Int(Textless).Int(RecognizedDpi).Int(LoweredFrom).Int(Rotation).Int(int(std::lround(Confidence * 100)));
}

TPageFacts TPageFacts::ReadFrom(worker::TPayloadReader& Reader) {
    TPageFacts facts;
    facts.Textless = Reader.Int() != 0;
    facts.RecognizedDpi = Reader.Int();
    facts.LoweredFrom = Reader.Int();
    facts.Rotation = Reader.Int();
    facts.Confidence = Reader.Int() / 100.0;
    return facts;
}

void TRecognitionTally::Add(int Page, const TPageFacts& Facts) {
    if (Facts.RecognizedDpi <= 0) return;
    ++Pages;
    if (Facts.Rotation != 0) ++Turned;
    if (Facts.LoweredFrom > 0) Lowered.append({Page, Facts.LoweredFrom, Facts.RecognizedDpi});
    if (Facts.Confidence < 0) return;  // a blank page: nothing to judge
    ++Measured;
    ConfidenceSum += Facts.Confidence;
    if (Facts.Confidence < LowConfidence) ++LowConfident;
}

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

QByteArray TPageReader::StampedBytes(TFPdf& Pdf, int Page, const TRecognizedPage& Recognized) const {
    // The page's own text and the recognised words, block by block from the
    // top of the page down (a fax header before the letter, a Bates number after).
    TPageLayout own = ReadPageLayout(Pdf);
    const TPageLayout read = RecognizedLayout(Pdf, Page, Recognized.Words);
    const auto above = [](const TLayoutBlock& a, const TLayoutBlock& b) { return a.Box.top() < b.Box.top(); };
    if (FFormat.NeedsWords()) {
        own.Blocks += read.Blocks;
        std::stable_sort(own.Blocks.begin(), own.Blocks.end(), above);
        return FFormat.LayoutBytes(own);
    }
    const QString text = ReadableText(Pdf.Text(0, std::numeric_limits<int>::max()));
    if (read.IsEmpty()) return FFormat.TextBytes(text);
    if (own.IsEmpty()) return FFormat.TextBytes(Recognized.Text);
    const bool ownFirst = above(own.Blocks.first(), read.Blocks.first());
    return FFormat.TextBytes(ownFirst ? text + QStringLiteral("\r\n") + Recognized.Text
                                      : Recognized.Text + QStringLiteral("\r\n") + text);
}

void TPageReader::SetSettings(const TOcrSettings& Settings, const TPageFormat& Format) {
    FSettings = Settings;
    FFormat = Format;
}

void TPageReader::ReleaseRecognizer() { FRecognition.reset(); }

TPageRecognition& TPageReader::Recognition() {
    if (!FRecognition) FRecognition = NewPageRecognition();
    return *FRecognition;
}

TPageFacts TPageReader::Read(TFPdf& Pdf, int Page, QByteArray& Bytes) {
    Pdf.SetPageNumber(Page);
    TPageFacts facts;
    // A page that shows nothing (a blank page of a book) has nothing to read either.
    facts.Textless = Pdf.GetCharacterCount() == 0 && Pdf.GetObjectCount() > 0;
    if (FFormat.Format == TOutputFormat::Pdf) {
        Bytes += LayerBytes(Pdf, Page, facts);
        return facts;
    }
    // A scan with a line of real text stamped over it: the text is kept, the scan read.
    const bool stamped = FSettings.Mode == TOcrMode::Auto && !facts.Textless && Recognition().StampedScan(Pdf);
    const bool recognize = FSettings.Mode == TOcrMode::Always || (FSettings.Mode == TOcrMode::Auto && facts.Textless) || stamped;
    if (!recognize) {
        Bytes += FFormat.PageBytes(Pdf);
        return facts;
    }
    const TRecognizedPage page = Recognition().Recognize(Pdf, Page, stamped, FSettings, facts, FRecognitionStart);
    if (stamped) Bytes += StampedBytes(Pdf, Page, page);
    else
        Bytes += FFormat.NeedsWords() ? FFormat.LayoutBytes(RecognizedLayout(Pdf, Page, page.Words))
                                      : FFormat.TextBytes(page.Text);
    return facts;
}

QByteArray TPageReader::LayerBytes(TFPdf& Pdf, int Page, TPageFacts& Facts) {
    // Text a reader sees is never covered by recognised words: a page with
    // any gets a layer only as a stamped scan, and then only where the
    // stamp is not. A page whose text is all an earlier layer's keeps it,
    // unless every page is to be recognised: then the new layer replaces it.
    TLayerPage layer;
    bool stamped = false;
    if (Facts.Textless) {
        layer.Action = TLayerAction::Add;
    } else if (Pdf.GetCharacterCount() > 0) {
        const TPageTexts texts = PageTexts(Pdf);
        if (texts.Other == 0 && texts.Invisible > 0) {
            if (FSettings.Mode == TOcrMode::Always) layer.Action = TLayerAction::Replace;
        } else if (texts.Invisible == 0 && Recognition().StampedScan(Pdf)) {
            layer.Action = TLayerAction::Add;
            stamped = true;
        }
    }
    if (layer.Action == TLayerAction::Keep) return LayerPageBytes(layer);
    const TRecognizedPage page = Recognition().Recognize(Pdf, Page, stamped, FSettings, Facts, FRecognitionStart);
    layer.Words = RecognizedLayout(Pdf, Page, page.Words);
    if (stamped) {
        // Should the scan have been rendered, the stamp was read too.
        const TPageLayout own = ReadPageLayout(Pdf);
        const auto underText = [&](const TLayoutWord& Word) {
            for (const TLayoutBlock& block : own.Blocks)
                for (const TLayoutLine& line : block.Lines)
                    for (const TLayoutWord& word : line.Words)
                        if (word.Box.contains(Word.Box.center())) return true;
            return false;
        };
        for (TLayoutBlock& block : layer.Words.Blocks)
            for (TLayoutLine& line : block.Lines) line.Words.removeIf(underText);
        UniteBoxes(layer.Words);
    }
    return LayerPageBytes(layer);
}

}  // namespace kestrune
