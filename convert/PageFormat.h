// What kestrune-text writes for each page: the page's text as the window
// writes it (the default), the text laid out as on the page, or its words with
// their boxes as TSV, JSON Lines or hOCR. The workers make each page's bytes;
// the parent writes the file's header before the first page and its footer
// after the last.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace kestrune {

class TFPdf;
class TDocumentStyle;
struct TPageLayout;

namespace worker {
class TPayload;
class TPayloadReader;
}  // namespace worker

// Pdf: a copy of the document with the recognised words as a text layer
// (PdfOutput.h); its pages' bytes are words for the parent, not the file's.
enum class TOutputFormat { Text, Tsv, Json, Hocr, Markdown, Pdf };

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
    // Markdown only: each page starts with "<!-- page N -->" (and a paragraph
    // cut by a page break stays cut).
    bool PageMarks = false;
    // The document's style, against which JSON's roles and Markdown's
    // structure are judged (LearnDocumentStyle): learned by the worker when it
    // opens the document, never sent. Without it each page is judged alone.
    std::shared_ptr<const TDocumentStyle> Style = nullptr;

    // The settings as a worker is sent them (all but Style), and back; false
    // when what was read is not a format's settings.
    void WriteTo(worker::TPayload& Payload) const;
    bool ReadFrom(worker::TPayloadReader& Reader);

    // Whether the format judges pages against the document's Style.
    bool NeedsStyle() const { return Format == TOutputFormat::Json || Format == TOutputFormat::Markdown; }
    // What joins the bytes of two pages in a row before they are written
    // (Markdown's paragraph cut by a page break); empty when they are written as they are.
    std::function<void(QByteArray& Previous, QByteArray& Next)> Seam() const;

    // The extension of the file written beside a PDF: ".txt", ".tsv", ".jsonl", ".hocr", ".md", ".ocr.pdf".
    QString Extension() const;
    // What goes before the first page: the byte-order mark, the TSV header
    // line, the hOCR prologue (its title naming Title, a file name as
    // DecodeName gives it); empty for JSON Lines and Markdown.
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
