// hOCR: XHTML whose classes and titles carry the page's blocks, lines and
// words with their boxes, written with Qt's XML writer (which escapes text).
// The writer cannot write what XML cannot carry: it drops control characters
// and stops at an unpaired surrogate, leaving a broken document, so every
// text passes through XmlText first.
#include <QXmlStreamWriter>
#include <charconv>
#include <cmath>

#include <kestrune/LayoutFormats.h>

namespace kestrune {

namespace {

bool IsXmlUnit(char16_t c) {
    return c >= 0x20 ? c < 0xD800 || (c > 0xDFFF && c < 0xFFFE) : c == '\t' || c == '\n' || c == '\r';
}

// Text with each character that XML cannot carry replaced by U+FFFD; Text
// itself (no copy) when it holds none, as nearly every text does.
QString XmlText(const QString& Text) {
    if (IsXmlText(Text)) return Text;
    QString text = Text;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (!IsXmlUnit(text[i].unicode()))
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

// A box in whole points, widened outwards, as hOCR's integer bbox property wants.
// (Numbers are written with to_chars into one buffer: a page has thousands
// of words, and arg() or joined QString::number calls allocate for each.)
QString BoxProperty(const QRectF& Box) {
    char text[128] = "bbox";
    char* at = text + 4;
    for (const double v : {std::floor(Box.left()), std::floor(Box.top()), std::ceil(Box.right()), std::ceil(Box.bottom())}) {
        *at++ = ' ';
        at = std::to_chars(at, text + sizeof text, qint64(v)).ptr;
    }
    return QString::fromLatin1(text, at - text);
}

QString WordProperties(const TLayoutWord& Word) {
    QString title = BoxProperty(Word.Box) + QStringLiteral("; x_wconf ") + QString::number(qRound(Word.Confidence));
    // A quoted property value: its own quotes and backslashes would end it
    // early, and readers that split the properties at semicolons without
    // heeding quotes would take what follows a semicolon for a property of
    // its own (a font named "F;x_fsize 999" would set the size).
    QString font = Word.FontName;
    font.remove(QLatin1Char('"')).remove(QLatin1Char('\\')).remove(QLatin1Char(';'));
    if (!font.isEmpty()) title += QStringLiteral("; x_font \"") + font + u'"';
    // hOCR's font size is a whole number of points.
    if (Word.FontSize > 0) title += QStringLiteral("; x_fsize ") + QString::number(qMax<qint64>(1, std::llround(qMin(Word.FontSize, 1e9))));
    return title;
}

// The word's style as CSS, which hOCR leaves fonts' styles to; empty for an
// upright font of normal weight.
QString WordStyle(const TLayoutWord& Word) {
    if (Word.Bold && Word.Italic) return QStringLiteral("font-weight:bold;font-style:italic");
    if (Word.Bold) return QStringLiteral("font-weight:bold");
    if (Word.Italic) return QStringLiteral("font-style:italic");
    return {};
}

void StartElement(QXmlStreamWriter& Xml, const char* Name, const char* Class, const QString& Id, const QString& Title) {
    Xml.writeStartElement(QLatin1String(Name));
    Xml.writeAttribute(QStringLiteral("class"), QLatin1String(Class));
    Xml.writeAttribute(QStringLiteral("id"), Id);
    Xml.writeAttribute(QStringLiteral("title"), XmlText(Title));
}

}  // namespace

bool IsXmlText(QStringView Text) {
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const char16_t c = Text[i].unicode();
        if (IsXmlUnit(c)) continue;
        if (!QChar::isHighSurrogate(c) || i + 1 == Text.size() || !Text[i + 1].isLowSurrogate()) return false;
        ++i;
    }
    return true;
}

QByteArray HocrPrologue(const QString& Title) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                                "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"));
    xml.writeStartElement(QStringLiteral("html"));
    xml.writeDefaultNamespace(QStringLiteral("http://www.w3.org/1999/xhtml"));
    xml.writeAttribute(QStringLiteral("xml:lang"), QStringLiteral("en"));
    xml.writeAttribute(QStringLiteral("lang"), QStringLiteral("en"));
    xml.writeStartElement(QStringLiteral("head"));
    xml.writeTextElement(QStringLiteral("title"), XmlText(Title));
    xml.writeEmptyElement(QStringLiteral("meta"));
    xml.writeAttribute(QStringLiteral("http-equiv"), QStringLiteral("Content-Type"));
    xml.writeAttribute(QStringLiteral("content"), QStringLiteral("text/html;charset=utf-8"));
    xml.writeEmptyElement(QStringLiteral("meta"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("ocr-system"));
    xml.writeAttribute(QStringLiteral("content"), QStringLiteral("kestrune"));
    xml.writeEmptyElement(QStringLiteral("meta"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("ocr-capabilities"));
    xml.writeAttribute(QStringLiteral("content"),
                       QStringLiteral("ocr_page ocr_carea ocr_par ocr_line ocrx_word ocrp_wconf ocrp_font"));
    // The language the document declares itself in (<html lang>).
    xml.writeEmptyElement(QStringLiteral("meta"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("ocr-langs"));
    xml.writeAttribute(QStringLiteral("content"), QStringLiteral("en"));
    xml.writeEndElement();  // head
    xml.writeStartElement(QStringLiteral("body"));
    // Makes the writer finish <body>'s start tag; the pages follow it.
    xml.writeCharacters(QStringLiteral("\n"));
    return out;
}

QByteArray HocrEpilogue() { return QByteArrayLiteral(" </body>\n</html>\n"); }

void AppendHocrPage(QByteArray& Out, const TPageLayout& Page) {
    // A writer opens its byte array anew (emptying it), so the page goes
    // through one of its own.
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    const QString page = QString::number(Page.PageNumber);
    StartElement(xml, "div", "ocr_page", QStringLiteral("page_") + page,
                 BoxProperty(QRectF(QPointF(0, 0), Page.Size)) + QStringLiteral("; ppageno ") + QString::number(Page.PageNumber - 1));
    int b = 0;
    for (const TLayoutBlock& block : Page.Blocks) {
        const QString blockId = page + u'_' + QString::number(++b);
        StartElement(xml, "div", "ocr_carea", QStringLiteral("block_") + blockId, BoxProperty(block.Box));
        int p = 0;
        for (qsizetype first = 0; first < block.Lines.size();) {
            qsizetype end = first + 1;
            while (end < block.Lines.size() && !block.Lines[end].StartsParagraph) ++end;
            QRectF box = block.Lines[first].Box;
            for (qsizetype l = first + 1; l < end; ++l) box = box.united(block.Lines[l].Box);
            const QString parId = blockId + u'_' + QString::number(++p);
            StartElement(xml, "p", "ocr_par", QStringLiteral("par_") + parId, BoxProperty(box));
            for (qsizetype l = first; l < end; ++l) {
                const TLayoutLine& line = block.Lines[l];
                const QString lineId = blockId + u'_' + QString::number(l + 1);
                StartElement(xml, "span", "ocr_line", QStringLiteral("line_") + lineId, BoxProperty(line.Box));
                int w = 0;
                for (const TLayoutWord& word : line.Words) {
                    StartElement(xml, "span", "ocrx_word", QStringLiteral("word_") + lineId + u'_' + QString::number(++w),
                                 WordProperties(word));
                    const QString style = WordStyle(word);
                    if (!style.isEmpty()) xml.writeAttribute(QStringLiteral("style"), style);
                    xml.writeCharacters(XmlText(word.Text));
                    xml.writeEndElement();
                }
                xml.writeEndElement();
            }
            xml.writeEndElement();
            first = end;
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    Out += bytes;
    Out += '\n';
}

}  // namespace kestrune
