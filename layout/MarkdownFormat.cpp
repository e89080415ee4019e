// A page's structure as Markdown (CommonMark with GitHub's tables and
// footnotes). Text is escaped where CommonMark would read it as markup (a
// backslash before punctuation, emphasis and link brackets, an entity, a
// block's opening marker), so that what the page says is what is read.
#include <QRegularExpression>
#include <QStringList>

#include <kestrune/LayoutFormats.h>
#include <kestrune/PageText.h>

namespace kestrune {

namespace {

// CommonMark's ASCII punctuation, which a backslash escapes: symbols ("<",
// "$", "=", "|") among them, which QChar::isPunct does not count.
bool IsAsciiPunctuation(QChar C) {
    return C.unicode() < 0x80 && QLatin1String("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~").contains(C);
}

// Text within a line: the characters CommonMark reads as inline markup escaped.
QString EscapedInline(const QString& Text, bool InTable = false) {
    QString out;
    out.reserve(Text.size() + 8);
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const QChar c = Text[i];
        const QChar next = i + 1 < Text.size() ? Text[i + 1] : QChar();
        switch (c.unicode()) {
        case '\\':
            if (IsAsciiPunctuation(next) || next.isNull()) out += QLatin1Char('\\');
            break;
        case '*': case '_': case '`': case '[': case ']': case '<': out += QLatin1Char('\\'); break;
        case '&':
            if (next.isLetter() || next == u'#') out += QLatin1Char('\\');
            break;
        case '|':
            if (InTable) out += QLatin1Char('\\');
            break;
        default: break;
        }
        out += c;
    }
    return out;
}

// A line of text as a paragraph's or a list item's: escaped, and its start
// kept from opening another block (a heading, a quote, a list, a fence).
QString EscapedLine(const QString& Text) {
    QString out = EscapedInline(Text);
    static const QRegularExpression opener(QStringLiteral("^(?:[#>+=~-]|\\d{1,9}(?=[.)]))"));
    const QRegularExpressionMatch m = opener.match(out);
    if (!m.hasMatch()) return out;
    // "1." and "1)": the punctuation after the number is what opens a list.
    const qsizetype at = m.capturedLength() > 0 && out[0].isDigit() ? m.capturedEnd() : 0;
    out.insert(at, QLatin1Char('\\'));
    return out;
}

// A fence longer than any run of backticks in Lines.
QString Fence(const QStringList& Lines) {
    int longest = 0;
    for (const QString& line : Lines) {
        int run = 0;
        for (const QChar c : line) {
            run = c == u'`' ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return QString(std::max(3, longest + 1), QLatin1Char('`'));
}

// A footnote's label: unique in the document, as the pages are written apart.
QString FootnoteLabel(int Page, const QString& Mark, int Index) {
    return QStringLiteral("[^%1-%2]").arg(Page).arg(Mark.isEmpty() ? QString::number(Index) : Mark);
}

}  // namespace

void AppendMarkdownPage(QByteArray& Out, const TPageStructure& Page, bool PageMark) {
    QString text;
    // The footnotes' marks in the body: the first word ending with a
    // footnote's mark (set close after it, raised) before the footnote.
    QStringList notes;
    QList<std::pair<QString, QString>> marks;  // (mark, label)
    int unmarked = 0;
    for (const TStructuredBlock& block : Page.Blocks)
        if (block.Role == TBlockRole::Footnote) {
            const QString label = FootnoteLabel(Page.PageNumber, block.Mark, ++unmarked);
            notes.append(label + QStringLiteral(": ") + EscapedInline(block.Text));
            if (!block.Mark.isEmpty()) marks.append({block.Mark, label});
        }
    // A block's links: the first place its words stand in the escaped text becomes a link.
    const auto withLinks = [](QString Line, const TStructuredBlock& Block) {
        for (const auto& [words, uri] : Block.Links) {
            const QString anchor = EscapedInline(words);
            const qsizetype at = Line.indexOf(anchor);
            if (at < 0) continue;
            QString target = uri;
            target.replace(QLatin1Char('<'), QStringLiteral("%3C")).replace(QLatin1Char('>'), QStringLiteral("%3E"));
            target.replace(QLatin1Char(' '), QStringLiteral("%20")).replace(QLatin1Char('\n'), QString());
            Line.replace(at, anchor.size(), QLatin1Char('[') + anchor + QStringLiteral("](<") + target + QStringLiteral(">)"));
        }
        return Line;
    };
    const auto withMarks = [&](QString Line) {
        for (auto it = marks.begin(); it != marks.end();) {
            const QRegularExpression at(QStringLiteral("(?<=\\p{L}|\\p{L}[.,;:)’”])%1(?=[\\s.,;:)]|$)")
                                            .arg(QRegularExpression::escape(EscapedInline(it->first))));
            const QRegularExpressionMatch m = at.match(Line);
            if (!m.hasMatch()) {
                ++it;
                continue;
            }
            Line.replace(m.capturedStart(), m.capturedLength(), it->second);
            it = marks.erase(it);
        }
        return Line;
    };

    // The content column of each open list level: where a nested item starts.
    QList<int> listColumns;
    const TStructuredBlock* previous = nullptr;
    for (const TStructuredBlock& block : Page.Blocks) {
        switch (block.Role) {
        case TBlockRole::RunningHead:
        case TBlockRole::PageNumber:
        case TBlockRole::Footnote:
            continue;
        default: break;
        }
        const bool inList = block.Role == TBlockRole::ListItem;
        // Items of one list follow each other without an empty line between.
        if (previous) text += inList && previous->Role == TBlockRole::ListItem ? QStringLiteral("\n") : QStringLiteral("\n\n");
        if (!inList) listColumns.clear();
        switch (block.Role) {
        case TBlockRole::Heading:
            text += QString(std::clamp(block.Level, 1, 6), QLatin1Char('#')) + QLatin1Char(' ') + withLinks(EscapedInline(block.Text), block);
            break;
        case TBlockRole::ListItem: {
            const int depth = std::clamp(block.Level, 0, int(listColumns.size()));
            listColumns.resize(depth);
            const int indent = depth > 0 ? listColumns.last() : 0;
            const QString marker = block.Mark.isEmpty() ? QStringLiteral("-") : block.Mark + QLatin1Char('.');
            listColumns.append(indent + int(marker.size()) + 1);
            text += QString(indent, QLatin1Char(' ')) + marker + QLatin1Char(' ') + withMarks(withLinks(EscapedInline(block.Text), block));
            break;
        }
        case TBlockRole::Table: {
            if (block.Rows.isEmpty()) break;
            const qsizetype columns = block.Rows.first().size();
            const auto row = [&](const QStringList& Cells) {
                QString line = QStringLiteral("|");
                for (const QString& cell : Cells) line += QLatin1Char(' ') + EscapedInline(cell, true) + QStringLiteral(" |");
                return line;
            };
            qsizetype from = 0;
            if (block.HeaderRow) text += row(block.Rows.first()), from = 1;
            else text += row(QStringList(columns, QString()));
            text += QStringLiteral("\n|");
            for (qsizetype c = 0; c < columns; ++c) text += QStringLiteral(" --- |");
            for (qsizetype r = from; r < block.Rows.size(); ++r) text += QLatin1Char('\n') + row(block.Rows[r]);
            break;
        }
        case TBlockRole::Code: {
            const QString fence = Fence(block.CodeLines);
            text += fence + QLatin1Char('\n');
            for (const QString& line : block.CodeLines) text += line + QLatin1Char('\n');
            text += fence;
            break;
        }
        default:  // paragraphs and captions
            text += withMarks(withLinks(EscapedLine(block.Text), block));
            break;
        }
        previous = &block;
    }
    if (!notes.isEmpty()) text += (previous ? QStringLiteral("\n\n") : QString()) + notes.join(QStringLiteral("\n\n"));
    // An empty line after the page's last block parts it from the next page's first.
    if (text.isEmpty()) return;
    text += QStringLiteral("\n\n");
    if (PageMark) text.prepend(QStringLiteral("<!-- page %1 -->\n\n").arg(Page.PageNumber));
    Out += text.toUtf8();
}

void JoinMarkdownPages(QByteArray& Previous, QByteArray& Next) {
    // The last line of Previous's text (before its footnotes), and the first of Next's.
    QList<QByteArray> before = Previous.split('\n');
    qsizetype last = before.size() - 1;
    while (last >= 0 && (before[last].isEmpty() || before[last].startsWith("[^"))) --last;
    if (last < 0) return;
    const QByteArray& tail = before[last];
    // A paragraph or list item: a line after an empty one (or an item's), not a heading, fence, table or mark.
    if (tail.startsWith('#') || tail.startsWith('|') || tail.startsWith("```") || tail.startsWith("<!--") ||
        tail.startsWith(' '))
        return;
    // A finished sentence, its closing brackets and quotes aside ("(as said.)").
    const QString ending = QString::fromUtf8(tail);
    qsizetype e = ending.size() - 1;
    while (e > 0 && QStringLiteral(")]\"'’”»").contains(ending[e])) --e;
    if (QStringLiteral(".!?:").contains(ending[e])) return;
    qsizetype first = 0;
    while (first < Next.size() && Next[first] == '\n') ++first;
    const qsizetype lineEnd = Next.indexOf('\n', first);
    const QByteArray head = Next.mid(first, lineEnd < 0 ? -1 : lineEnd - first);
    // Next goes on with a paragraph that starts in lower case: the same sentence.
    const QString headText = QString::fromUtf8(head);
    if (headText.isEmpty() || !headText[0].isLower()) return;
    QString joined = ending;
    if (joined.size() >= 2 && joined.back() == u'-' && joined[joined.size() - 2].isLetter()) {
        joined.back() = QChar(0xFFFE);  // a hyphen at the page's last line end
        joined = ReadableText(joined + headText);
    } else {
        joined += QLatin1Char(' ') + headText;
    }
    before[last] = joined.toUtf8();
    Previous = before.join('\n');
    // What followed the joined line in Next, its empty line included.
    qsizetype rest = lineEnd < 0 ? Next.size() : lineEnd + 1;
    while (rest < Next.size() && Next[rest] == '\n') ++rest;
    Next = Next.mid(rest);
}

}  // namespace kestrune
