#include "convert/PageFormat.h"

#include <limits>

#include <kestrune/FPdf.h>
#include <kestrune/LayoutFormats.h>
#include <kestrune/PageText.h>
#include "convert/Conversion.h"
#include "convert/FileNames.h"

namespace kestrune {

QString TPageFormat::Extension() const {
    switch (Format) {
    case TOutputFormat::Text: return QStringLiteral(".txt");
    case TOutputFormat::Tsv: return QStringLiteral(".tsv");
    case TOutputFormat::Json: return QStringLiteral(".jsonl");
    case TOutputFormat::Hocr: return QStringLiteral(".hocr");
    case TOutputFormat::Pdf: return QStringLiteral(".ocr.pdf");
    }
    return QStringLiteral(".txt");
}

QByteArray TPageFormat::Header(const QString& Title) const {
    switch (Format) {
    case TOutputFormat::Text: return ByteOrderMark ? QByteArray(kestrune::ByteOrderMark) : QByteArray();
    case TOutputFormat::Tsv: return TsvHeader();
    case TOutputFormat::Json: return {};
    // A name holding what XML cannot carry (bytes that are not UTF-8, control
    // characters) is shown as messages show it rather than with U+FFFD.
    case TOutputFormat::Hocr: return HocrPrologue(IsXmlText(Title) ? Title : ShownName(Title));
    case TOutputFormat::Pdf: return {};
    }
    return {};
}

QByteArray TPageFormat::Footer() const { return Format == TOutputFormat::Hocr ? HocrEpilogue() : QByteArray(); }

QByteArray TPageFormat::PageBytes(TFPdf& Pdf) const {
    return NeedsWords() ? LayoutBytes(ReadPageLayout(Pdf)) : TextBytes(ReadableText(Pdf.Text(0, std::numeric_limits<int>::max())));
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
    case TOutputFormat::Json: AppendJsonPage(bytes, Page); break;
    case TOutputFormat::Hocr: AppendHocrPage(bytes, Page); break;
    case TOutputFormat::Pdf: break;  // its pages are made by TPageReader
    }
    return bytes;
}

}  // namespace kestrune
