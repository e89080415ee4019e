#include "convert/PageFormat.h"

#include <limits>

#include <kestrune/FPdf.h>
#include <kestrune/LayoutFormats.h>
#include <kestrune/PageStructure.h>
#include <kestrune/PageText.h>
#include "convert/Conversion.h"
#include "convert/FileNames.h"
#include "convert/WorkerProtocol.h"

namespace kestrune {

QString TPageFormat::Extension() const {
    switch (Format) {
    case TOutputFormat::Text: return QStringLiteral(".txt");
    case TOutputFormat::Tsv: return QStringLiteral(".tsv");
    case TOutputFormat::Json: return QStringLiteral(".jsonl");
    case TOutputFormat::Hocr: return QStringLiteral(".hocr");
    case TOutputFormat::Pdf: return QStringLiteral(".ocr.pdf");
    case TOutputFormat::Markdown: return QStringLiteral(".md");
    }
    return QStringLiteral(".txt");
}

QByteArray TPageFormat::Header(const QString& Title) const {
    switch (Format) {
    case TOutputFormat::Text: return ByteOrderMark ? QByteArray(kestrune::ByteOrderMark) : QByteArray();
    case TOutputFormat::Tsv: return TsvHeader();
    case TOutputFormat::Json:
    case TOutputFormat::Markdown: return {};
    // A name holding what XML cannot carry (bytes that are not UTF-8, control
    // characters) is shown as messages show it rather than with U+FFFD.
    case TOutputFormat::Hocr: return HocrPrologue(IsXmlText(Title) ? Title : ShownName(Title));
    case TOutputFormat::Pdf: return {};
    }
    return {};
}

void TPageFormat::WriteTo(worker::TPayload& Payload) const {
    Payload.Int(int(Format)).Int(Layout).Int(CrLf).Int(ByteOrderMark).Int(FormFeeds).Int(ReadingOrder).Int(PageMarks);
}

bool TPageFormat::ReadFrom(worker::TPayloadReader& Reader) {
    const int kind = Reader.Int();
    Layout = Reader.Int() != 0;
    CrLf = Reader.Int() != 0;
    ByteOrderMark = Reader.Int() != 0;
    FormFeeds = Reader.Int() != 0;
    ReadingOrder = Reader.Int() != 0;
    PageMarks = Reader.Int() != 0;
    if (Reader.Failed() || kind < int(TOutputFormat::Text) || kind > int(TOutputFormat::Pdf)) return false;
    Format = TOutputFormat(kind);
    return true;
}

std::function<void(QByteArray&, QByteArray&)> TPageFormat::Seam() const {
    if (Format == TOutputFormat::Markdown && !PageMarks) return JoinMarkdownPages;
    return {};
}

QByteArray TPageFormat::Footer() const { return Format == TOutputFormat::Hocr ? HocrEpilogue() : QByteArray(); }

QByteArray TPageFormat::PageBytes(TFPdf& Pdf) const {
    if (!NeedsWords()) return TextBytes(ReadableText(Pdf.Text(0, std::numeric_limits<int>::max())));
    TPageLayout page = ReadPageLayout(Pdf);
    // Markdown writes the page's links to web addresses.
    if (Format == TOutputFormat::Markdown) page.Links = ReadPageLinks(Pdf);
    return LayoutBytes(page);
}

QByteArray TPageFormat::TextBytes(const QString& Text) const {
    QByteArray bytes;
    if (CrLf) {
        AppendUtf8(bytes, Text);
        bytes += "\r\n";
    } else {
        // The page's lines end with CR LF, as the engine gives them.
        AppendUtf8(bytes, QString(Text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        bytes += '\n';
    }
    if (FormFeeds) bytes += '\f';
    return bytes;
}

QByteArray TPageFormat::LayoutBytes(const TPageLayout& Page) const {
    QByteArray bytes;
    switch (Format) {
    case TOutputFormat::Text:
        if (Layout) {
            AppendLayoutText(bytes, Page, CrLf ? "\r\n" : "\n");
            break;
        }
        // Like the engine's text, every page ends with a line end, an empty one too.
        AppendReadingText(bytes, Page, CrLf ? "\r\n" : "\n");
        if (bytes.isEmpty()) bytes += CrLf ? "\r\n" : "\n";
        if (FormFeeds) bytes += '\f';
        break;
    case TOutputFormat::Tsv: AppendTsvPage(bytes, Page); break;
    case TOutputFormat::Hocr: AppendHocrPage(bytes, Page); break;
    case TOutputFormat::Pdf: break;  // its pages are made by TPageReader
    case TOutputFormat::Json:
    case TOutputFormat::Markdown: {
        static const TDocumentStyle alone;
        const TPageStructure structure = StructurePage(Page, Style ? *Style : alone);
        if (Format == TOutputFormat::Json) AppendJsonPage(bytes, Page, &structure);
        else AppendMarkdownPage(bytes, structure, PageMarks);
        break;
    }
    }
    return bytes;
}

}  // namespace kestrune
