// What kestrune-text writes for each page: the page's text as the window
// writes it (the default), the text laid out as on the page, or its words with
// their boxes as TSV, JSON Lines or hOCR. The workers make each page's bytes;
// the parent writes the file's header before the first page and its footer
// after the last.
#pragma once

#include <QByteArray>
#include <QString>

namespace kestrune {

class TFPdf;
struct TPageLayout;

// Pdf: a copy of the document with the recognised words as a text layer
// (PdfOutput.h); its pages' bytes are words for the parent, not the file's.
enum class TOutputFormat { Text, Tsv, Json, Hocr, Pdf };

struct TPageFormat {
    TOutputFormat Format = TOutputFormat::Text;
    // Text only: each line of the page one line of text, in the page's arrangement.
    bool Layout = false;
    // Text only: lines end with CR LF (else LF), and the file starts with the
    // byte-order mark. The defaults are the window's bytes.
    bool CrLf = true;
    bool ByteOrderMark = true;
    // Text only: each page ends with a form feed after its last line end, as
    // pdftotext writes, so that pages can be told apart (--layout always does).
    bool FormFeeds = false;
    // Text only, without Layout: the page's lines in the reading order of its
    // layout (columns one after the other, margin notes apart) rather than in
    // the engine's order.
    bool ReadingOrder = false;

    // The extension of the file written beside a PDF: ".txt", ".tsv", ".jsonl", ".hocr", ".ocr.pdf".
    QString Extension() const;
    // What goes before the first page: the byte-order mark, the TSV header
    // line, the hOCR prologue (its title naming Title, a file name as
    // DecodeName gives it); empty for JSON Lines.
    QByteArray Header(const QString& Title) const;
    // What goes after the last page: the hOCR epilogue; else nothing.
    QByteArray Footer() const;
    // The bytes of Pdf's current page, from its text layer. Raises EPdfError.
    QByteArray PageBytes(TFPdf& Pdf) const;
    // Whether a page's bytes come from its words (its layout) rather than its text.
    bool NeedsWords() const { return Format != TOutputFormat::Text || Layout || ReadingOrder; }
    // The bytes of a page whose text is Text (lines separated by CR LF) or
    // whose words are Page, as NeedsWords says: for pages read otherwise
    // than from their text layer.
    QByteArray TextBytes(const QString& Text) const;
    QByteArray LayoutBytes(const TPageLayout& Page) const;

    bool operator==(const TPageFormat&) const = default;
};

}  // namespace kestrune
