// The roles of a page's blocks, judged against the document's style.
//
// A page is taken apart into pieces: runs of lines of one block that read as
// one thing (a paragraph as the layout marks it, cut again before a bullet
// and after a lone line in a style of its own), and tables, found first over
// the whole page as rows of lines side by side on shared baselines. Each
// piece then gets its role from its shape and style: a repeated place at the
// page's edge, monospace over whole lines, a caption's opening word, a small
// size below the body at the page's foot, a bullet or number, a short lone
// line in a heading style, else a paragraph.
#include <kestrune/PageStructure.h>

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

#include <kestrune/PageText.h>
#include <kestrune/PdfError.h>

namespace kestrune {

const char* RoleName(TBlockRole Role) {
    switch (Role) {
    case TBlockRole::Paragraph: return "paragraph";
    case TBlockRole::Heading: return "heading";
    case TBlockRole::ListItem: return "list-item";
    case TBlockRole::Table: return "table";
    case TBlockRole::Code: return "code";
    case TBlockRole::Footnote: return "footnote";
    case TBlockRole::Caption: return "caption";
    case TBlockRole::RunningHead: return "running-head";
    case TBlockRole::PageNumber: return "page-number";
    }
    return "paragraph";
}

namespace {

using TKey = TDocumentStyle::TKey;

// Places of repeated lines are counted in steps of this many points.
constexpr double PlaceStep = 3;

// A word's size: its font's, or for recognised words (no font) its box's height.
double WordSize(const TLayoutWord& Word) { return Word.FontSize > 0 ? Word.FontSize : Word.Box.height() * 0.75; }

TKey WordKey(const TLayoutWord& Word) { return TKey{int(std::lround(WordSize(Word) * 4)), Word.Bold, Word.Italic}; }

bool IsMonospace(const QString& FontName) {
    static const QRegularExpression mono(QStringLiteral("mono|courier|typewriter|consol|menlo|tt\\d"),
                                         QRegularExpression::CaseInsensitiveOption);
    if (FontName.isEmpty()) return false;
    // A document has a few fonts and every page asks again of each: each
    // name is matched once (per thread; a bounded number of names).
    thread_local QHash<QString, bool> known;
    if (const auto found = known.constFind(FontName); found != known.cend()) return *found;
    if (known.size() >= 1024) known.clear();
    const bool monospace = mono.match(FontName).hasMatch();
    known.insert(FontName, monospace);
    return monospace;
}

// What one line is made of.
struct TLineFacts {
    TKey Key;             // the style of most of its characters
    double Share = 0;     // the share of its characters in that style
    double MonoShare = 0; // the share in a monospace font
    qsizetype Characters = 0;
};

// Characters counted by style. A line or a piece has a few styles: a short
// list searched in turn costs less than a map's nodes.
class TStyleCount {
public:
    void Add(const TLayoutWord& Word) {
        const TKey key = WordKey(Word);
        const qsizetype n = std::max<qsizetype>(1, Word.Text.size());
        for (auto& [k, count] : FCounts)
            if (k == key) {
                count += n;
                return;
            }
        FCounts.append({key, n});
    }
    // The number of characters in the style of most of them, that style set
    // in Key (the least such style on a tie); 0, Key left as it is, when none.
    qsizetype Most(TKey& Key) const {
        qsizetype most = 0;
        TKey best;
        for (const auto& [k, n] : FCounts)
            if (n > most || (n == most && k < best)) most = n, best = k;
        if (most > 0) Key = best;
        return most;
    }

private:
    QVarLengthArray<std::pair<TKey, qsizetype>, 8> FCounts;
};

TLineFacts LineFacts(const TLayoutLine& Line) {
    TStyleCount chars;
    TLineFacts facts;
    qsizetype mono = 0;
    // A line's words mostly share their font: its name is matched once for a run of them.
    const QString* font = nullptr;
    bool monospace = false;
    for (const TLayoutWord& word : Line.Words) {
        const qsizetype n = std::max<qsizetype>(1, word.Text.size());
        chars.Add(word);
        facts.Characters += n;
        if (!font || word.FontName != *font) monospace = IsMonospace(word.FontName), font = &word.FontName;
        if (monospace) mono += n;
    }
    const qsizetype most = chars.Most(facts.Key);
    if (facts.Characters > 0) {
        facts.Share = double(most) / double(facts.Characters);
        facts.MonoShare = double(mono) / double(facts.Characters);
    }
    return facts;
}

// The share of Line's characters in the style Key.
double ShareIn(const TLayoutLine& Line, const TKey& Key) {
    qsizetype in = 0, all = 0;
    for (const TLayoutWord& word : Line.Words) {
        const qsizetype n = std::max<qsizetype>(1, word.Text.size());
        all += n;
        if (WordKey(word) == Key) in += n;
    }
    return all ? double(in) / double(all) : 0;
}

// A list item's marker: a number becomes the list's own (Mark); a bullet
// goes; a letter ("(a)") stays in the text. Whether the marker leaves the text.
bool TakeListMarker(const QString& Marker, QString& Mark) {
    static const QRegularExpression numbered(QStringLiteral("^\\(?(\\d{1,3})[.)]$"));
    const QRegularExpressionMatch m = numbered.match(Marker);
    if (m.hasMatch()) Mark = m.captured(1);
    return m.hasMatch() || Marker.size() == 1;
}

// A list item's bullet or number, as the first word of its line: "•", "–",
// "1.", "(a)", "iv)".
bool IsListMarker(const QString& Word) {
    static const QRegularExpression marker(QStringLiteral(
        "^(?:[•◦▪▫■□●○‣⁃∙·►▸–—*-]|\\(?(?:\\d{1,3}|[a-z]|[ivxl]{1,5})[.)]|\\((?:\\d{1,3}|[a-z]|[ivxl]{1,5})\\))$"));
    // What can match, tried first (most first words cannot): one character,
    // or at most seven ending in "." or ")" (a final line break is allowed by "$").
    QStringView word = Word;
    if (word.endsWith(u'\n')) word.chop(1);
    if (word.size() != 1 && (word.size() > 7 || !(word.endsWith(u'.') || word.endsWith(u')')))) return false;
    return marker.match(Word).hasMatch();
}

bool IsPageNumberText(const QString& Text) {
    static const QRegularExpression number(
        QStringLiteral("^(?:(?:page|p\\.)\\s*)?[-–—]?\\s*(?:\\d{1,5}|[ivxlcdm]{1,7})\\s*[-–—]?(?:\\s*(?:of|/)\\s*\\d{1,5})?$"),
        QRegularExpression::CaseInsensitiveOption);
    return number.match(Text.trimmed()).hasMatch();
}

bool IsCaptionText(const QString& Text) {
    static const QRegularExpression caption(
        QStringLiteral("^(?:Figure|Fig\\.|Table|Listing|Example|Plate|Chart)\\s+[\\dA-Z][\\w.\\-]*\\s*[:.—–]"));
    return caption.match(Text).hasMatch();
}

// Whether Word is a raised mark set close after Before (a footnote's mark,
// an exponent): smaller, its baseline above Before's, no space between.
bool IsRaisedMark(const TLayoutWord& Before, const TLayoutWord& Word) {
    const double size = WordSize(Before);
    return Word.Box.left() - Before.Box.right() < 0.1 * size && WordSize(Word) < 0.85 * size &&
           Word.Box.bottom() < Before.Box.bottom() - 0.15 * size;
}

// The words of Lines joined by spaces, a word hyphenated at a line's end
// joined as ReadableText joins it, a raised mark joined to the word it
// follows (as the page shows it, "word,1").
QString JoinedText(const QList<const TLayoutLine*>& Lines, qsizetype SkipWords = 0) {
    // Built in one string: every piece of a page is joined, some twice.
    QString text;
    qsizetype lastStart = -1;  // where the last word written starts
    bool carried = false;
    for (qsizetype l = 0; l < Lines.size(); ++l) {
        const QList<TLayoutWord>& lineWords = Lines[l]->Words;
        const qsizetype from = (l == 0 ? SkipWords : 0) + (carried ? 1 : 0);
        for (qsizetype w = from; w < lineWords.size(); ++w) {
            // A raised mark goes on the word before it; any other word starts anew.
            if (!(w > from && IsRaisedMark(lineWords[w - 1], lineWords[w]))) {
                if (lastStart >= 0) text += QLatin1Char(' ');
                lastStart = text.size();
            }
            text += lineWords[w].Text;
        }
        carried = false;
        const QStringView last = lastStart >= 0 ? QStringView(text).sliced(lastStart) : QStringView();
        if (l + 1 < Lines.size() && !Lines[l + 1]->Words.isEmpty() && last.size() >= 2 && last.back() == u'-' &&
            last[last.size() - 2].isLetter()) {
            QString joined = last.toString();
            joined.back() = QChar(0xFFFE);  // the engine's own mark for a hyphen at a line's end
            joined = ReadableText(joined + Lines[l + 1]->Words.constFirst().Text);
            text.truncate(lastStart);
            text += joined;
            carried = true;
        }
    }
    return text;
}

// A piece of the page: a run of lines of one block, or a table.
struct TPiece {
    qsizetype Block = -1;
    QList<qsizetype> LineIndexes;
    QList<const TLayoutLine*> Lines;
    QList<TLineFacts> Facts;
    QRectF Box;
    int Table = -1;  // the index of the table it is, when it is one

    TKey Key;            // the style of most of its characters
    double Share = 0;    // their share
    double MonoShare = 0;
    qsizetype Characters = 0;
    qsizetype Words = 0;
    QString Prefix;      // a heading's number that stood apart from it
    bool Dropped = false;
    bool Hanging = false;  // a list item set with a hanging indent (its label in the margin of its text)
    bool SetAbove = false; // cut from the text below it in the same paragraph, its style apart (a heading's)

    void Add(qsizetype Index, const TLayoutLine& Line, const TLineFacts& LineFacts) {
        LineIndexes.append(Index);
        Lines.append(&Line);
        Facts.append(LineFacts);
        Box = Box.isNull() ? Line.Box : Box.united(Line.Box);
    }

    void Sum() {
        TStyleCount chars;
        double mono = 0;
        Characters = Words = 0;
        for (qsizetype l = 0; l < Lines.size(); ++l) {
            for (const TLayoutWord& word : Lines[l]->Words) chars.Add(word);
            Characters += Facts[l].Characters;
            Words += Lines[l]->Words.size();
            mono += Facts[l].MonoShare * double(Facts[l].Characters);
        }
        const qsizetype most = chars.Most(Key);
        Share = Characters ? double(most) / double(Characters) : 0;
        MonoShare = Characters ? mono / double(Characters) : 0;
    }

    QString FirstWord() const { return Lines.isEmpty() || Lines[0]->Words.isEmpty() ? QString() : Lines[0]->Words[0].Text; }
    double Size() const { return Key.Quarters / 4.0; }
};

struct TTable {
    QList<QStringList> Rows;
    bool HeaderRow = false;
    QList<std::pair<qsizetype, qsizetype>> Lines;
    QList<QList<QList<std::pair<qsizetype, qsizetype>>>> CellLines;  // each cell's lines, row by row
};

// A block that is a column of running text: many lines, most of them filling
// its width. Its lines never make a table's cells, whatever stands beside them.
bool IsTextColumn(const TLayoutBlock& Block, const QSizeF& PageSize) {
    if (Block.Lines.size() < 6 || Block.Box.width() < 0.3 * PageSize.width()) return false;
    double widths = 0;
    for (const TLayoutLine& line : Block.Lines) widths += line.Box.width();
    return widths / double(Block.Lines.size()) >= 0.75 * Block.Box.width();
}

// Where a table's columns repeat: the first column of its second half when
// its columns fall in two halves of three columns or more, of the same kinds
// column by column (a name, a glyph, a number, then again a name, a glyph, a
// number), the halves made of more than one kind, and the gap between the
// halves about as wide as the widest within them or wider. Two tables set
// side by side to save room stand so (a symbol table's two halves); their
// rows are read each in its own table. Two columns repeated (a name and a
// number, twice) say too little to part a table. 0 when none.
qsizetype RepeatedHalf(const QList<QStringList>& Rows, const QList<std::pair<double, double>>& Columns) {
    const qsizetype half = Columns.size() / 2;
    if (Columns.size() % 2 != 0 || half < 3 || Rows.size() < 3) return 0;
    enum TKind { Empty, Number, Short, Text };
    static const QRegularExpression number(QStringLiteral("^[\\d.,]+$"));
    const auto kind = [&](qsizetype Column) {
        TKind k = Empty;
        for (const QStringList& row : Rows) {
            const QString& cell = row[Column];
            if (cell.isEmpty()) continue;
            const TKind here = number.match(cell).hasMatch() ? Number : cell.size() <= 2 ? Short : Text;
            k = k == Empty ? here : std::max(k, here);
        }
        return k;
    };
    QList<TKind> kinds;
    for (qsizetype c = 0; c < Columns.size(); ++c) kinds.append(kind(c));
    bool mixed = false;
    for (qsizetype c = 0; c < half; ++c) {
        if (kinds[c] != kinds[c + half] || kinds[c] == Empty) return 0;
        mixed = mixed || kinds[c] != kinds[0];
    }
    double widest = 0;
    for (qsizetype c = 1; c < Columns.size(); ++c)
        if (c != half) widest = std::max(widest, Columns[c].first - Columns[c - 1].second);
    return mixed && Columns[half].first - Columns[half - 1].second >= 0.75 * widest ? half : 0;
}

// The gutters between a page's columns of running text: the middle of each
// gap between text columns side by side, where no line of the page crosses
// it (a line set over the columns, a wide table's among them, keeps the page
// whole there). Lines on either side of a gutter share baselines by chance,
// not as a table's cells do.
QList<double> ColumnGutters(const TPageLayout& Page) {
    QList<double> gutters;
    for (const TLayoutBlock& left : Page.Blocks) {
        if (!IsTextColumn(left, Page.Size)) continue;
        for (const TLayoutBlock& right : Page.Blocks) {
            if (right.Box.left() <= left.Box.right() || right.Box.top() > left.Box.bottom() ||
                right.Box.bottom() < left.Box.top() || !IsTextColumn(right, Page.Size))
                continue;
            const double middle = (left.Box.right() + right.Box.left()) / 2;
            bool crossed = false;
            for (const TLayoutBlock& block : Page.Blocks)
                for (const TLayoutLine& line : block.Lines)
                    crossed = crossed || (line.Box.left() < middle - 1 && line.Box.right() > middle + 1);
            bool known = false;
            for (const double g : gutters) known = known || std::abs(g - middle) < 0.25 * (right.Box.left() - left.Box.right()) + 2;
            if (!crossed && !known) gutters.append(middle);
        }
    }
    return gutters;
}

// The tables of a page: runs of rows, each row lines on one baseline standing
// side by side (two cells or more), their cells placed in the columns their
// boxes share. Lines taken by a table are marked in Taken.
QList<TTable> FindTables(const TPageLayout& Page, const std::function<bool(qsizetype, qsizetype)>& Excluded,
                         QList<QList<int>>& Taken) {
    struct TCell {
        qsizetype Block, Line;
        QRectF Box;
    };
    // Notes in the margin right of the text's columns are no table's cells,
    // whatever text stands beside them.
    double textRight = 1e9;
    for (const TLayoutBlock& block : Page.Blocks)
        if (IsTextColumn(block, Page.Size)) textRight = textRight < 1e9 ? std::max(textRight, block.Box.right()) : block.Box.right();
    QList<TCell> cells;
    for (qsizetype b = 0; b < Page.Blocks.size(); ++b) {
        const TLayoutBlock& block = Page.Blocks[b];
        if (IsTextColumn(block, Page.Size)) continue;
        for (qsizetype l = 0; l < block.Lines.size(); ++l)
            if (block.Lines[l].Direction == TLineDirection::dlHorizontal && !Excluded(b, l) &&
                block.Lines[l].Box.left() < textRight + 2)
                cells.append({b, l, block.Lines[l].Box});
    }
    // A table stands within one column of the page: the columns' cells are
    // read apart, each column's rows after the last column's.
    const QList<double> gutters = ColumnGutters(Page);
    const auto side = [&](const TCell& Cell) {
        return std::count_if(gutters.begin(), gutters.end(), [&](double g) { return Cell.Box.left() >= g; });
    };
    std::sort(cells.begin(), cells.end(), [&](const TCell& a, const TCell& b) {
        return std::pair(side(a), a.Box.bottom()) < std::pair(side(b), b.Box.bottom());
    });
    // Rows: lines whose baselines (box bottoms) stand together, left to right.
    QList<QList<TCell>> rows;
    QList<qsizetype> rowSides;
    for (const TCell& cell : cells) {
        if (!rows.isEmpty() && rowSides.last() == side(cell) && std::abs(rows.last().last().Box.bottom() - cell.Box.bottom()) <= 2.5)
            rows.last().append(cell);
        else rows.append({cell}), rowSides.append(side(cell));
    }
    for (QList<TCell>& row : rows)
        std::sort(row.begin(), row.end(), [](const TCell& a, const TCell& b) { return a.Box.left() < b.Box.left(); });
    const auto sideBySide = [](const QList<TCell>& Row) {
        if (Row.size() < 2) return false;
        for (qsizetype i = 1; i < Row.size(); ++i)
            if (Row[i].Box.left() < Row[i - 1].Box.right() - 1) return false;
        return true;
    };
    const auto rowTop = [](const QList<TCell>& Row) {
        double top = Row[0].Box.top();
        for (const TCell& c : Row) top = std::min(top, c.Box.top());
        return top;
    };
    const auto rowBottom = [](const QList<TCell>& Row) {
        double bottom = Row[0].Box.bottom();
        for (const TCell& c : Row) bottom = std::max(bottom, c.Box.bottom());
        return bottom;
    };
    QList<TTable> tables;
    for (qsizetype r = 0; r < rows.size();) {
        if (!sideBySide(rows[r])) {
            ++r;
            continue;
        }
        // The run of rows close below each other; a lone line between two
        // rows of cells is part of the table (a cell's second line).
        qsizetype end = r + 1;
        int multi = 1;
        while (end < rows.size() && rowSides[end] == rowSides[r]) {
            const double height = rowBottom(rows[end - 1]) - rowTop(rows[end - 1]);
            if (rowTop(rows[end]) - rowBottom(rows[end - 1]) > 1.5 * std::max(height, 4.0)) break;
            if (sideBySide(rows[end])) {
                ++multi;
                ++end;
                continue;
            }
            if (rows[end].size() == 1 && end + 1 < rows.size() && rowSides[end + 1] == rowSides[r] && sideBySide(rows[end + 1]) &&
                rowTop(rows[end + 1]) - rowBottom(rows[end]) <= 1.5 * std::max(height, 4.0)) {
                ++end;
                continue;
            }
            break;
        }
        if (multi < 2) {
            r = end;
            continue;
        }
        // Columns: the union of the cells' extents across the rows.
        QList<std::pair<double, double>> columns;
        for (qsizetype i = r; i < end; ++i)
            for (const TCell& c : rows[i]) columns.append({c.Box.left(), c.Box.right()});
        std::sort(columns.begin(), columns.end());
        QList<std::pair<double, double>> merged;
        for (const auto& span : columns) {
            if (!merged.isEmpty() && span.first <= merged.last().second + 1) merged.last().second = std::max(merged.last().second, span.second);
            else merged.append(span);
        }
        if (merged.size() < 2) {
            r = end;
            continue;
        }
        const auto column = [&](const QRectF& Box) {
            for (qsizetype c = 0; c < merged.size(); ++c)
                if (Box.left() <= merged[c].second && Box.right() >= merged[c].first) return c;
            return merged.size() - 1;
        };
        // The table made of the columns [From, To) of the rows r..end; rows
        // with no cell there are left out.
        const auto build = [&](qsizetype From, qsizetype To) {
            TTable table;
            QList<qsizetype> firstRows;  // the row of rows[] each row of the table starts at
            for (qsizetype i = r; i < end; ++i) {
                QList<TCell> inside;
                for (const TCell& c : rows[i])
                    if (const qsizetype k = column(c.Box); k >= From && k < To) inside.append(c);
                if (inside.isEmpty()) continue;
                const bool continued = inside.size() == 1 && !table.Rows.isEmpty() && column(inside[0].Box) > From;
                if (!continued) {
                    table.Rows.append(QStringList(To - From, QString()));
                    table.CellLines.append(QList<QList<std::pair<qsizetype, qsizetype>>>(To - From));
                    firstRows.append(i);
                }
                QStringList& cellsOfRow = table.Rows.last();
                for (const TCell& c : inside) {
                    QString& text = cellsOfRow[column(c.Box) - From];
                    const QString words = JoinedText({&Page.Blocks[c.Block].Lines[c.Line]});
                    text = text.isEmpty() ? words : text + QLatin1Char(' ') + words;
                    table.Lines.append({c.Block, c.Line});
                    table.CellLines.last()[column(c.Box) - From].append({c.Block, c.Line});
                }
            }
            // A header row: the first row bold, the next one not.
            const auto bold = [&](qsizetype Row) {
                for (const TCell& c : rows[Row])
                    if (const qsizetype k = column(c.Box); k >= From && k < To)
                        for (const TLayoutWord& w : Page.Blocks[c.Block].Lines[c.Line].Words)
                            if (!w.Bold) return false;
                return true;
            };
            table.HeaderRow = firstRows.size() >= 2 && bold(firstRows[0]) && !bold(firstRows[1]);
            return table;
        };
        const TTable whole = build(0, merged.size());
        // Two tables set side by side: each read on its own.
        const qsizetype half = RepeatedHalf(whole.Rows, merged);
        for (const TTable& table : half > 0 ? QList<TTable>{build(0, half), build(half, merged.size())} : QList<TTable>{whole}) {
            for (const auto& [b, l] : table.Lines) Taken[b][l] = int(tables.size());
            tables.append(table);
        }
        r = end;
    }
    return tables;
}

// Whether a table's cells are the items of a list set in columns: each cell
// opens with a list's marker and goes on with words.
bool IsListInColumns(const TTable& Table) {
    for (const QStringList& row : Table.Rows)
        for (const QString& cell : row)
            if (!cell.isEmpty() && (!IsListMarker(cell.section(QLatin1Char(' '), 0, 0)) || !cell.contains(QLatin1Char(' '))))
                return false;
    return !Table.Rows.isEmpty();
}

// Cuts the page into pieces in reading order; lines of a table become one
// piece, where its first line would have been.
QList<TPiece> PagePieces(const TPageLayout& Page, const QList<QList<int>>& Taken) {
    QList<TPiece> pieces;
    QList<bool> tableDone;
    for (qsizetype b = 0; b < Page.Blocks.size(); ++b) {
        const TLayoutBlock& block = Page.Blocks[b];
        bool open = false;
        for (qsizetype l = 0; l < block.Lines.size(); ++l) {
            const TLayoutLine& line = block.Lines[l];
            if (line.Words.isEmpty()) continue;
            if (const int t = Taken[b][l]; t >= 0) {
                open = false;
                if (tableDone.size() <= t) tableDone.resize(t + 1, false);
                if (tableDone[t]) continue;
                tableDone[t] = true;
                TPiece piece;
                piece.Block = b;
                piece.Table = t;
                piece.Add(l, line, {});
                pieces.append(std::move(piece));
                continue;
            }
            const TLineFacts facts = LineFacts(line);
            bool starts = !open || line.StartsParagraph || IsListMarker(line.Words[0].Text);
            if (!starts) {
                // A heading set closely above its text: a line or up to three
                // in a style of their own, then a line mostly in another (its
                // text may name a title in the heading's style) that does not
                // open in the heading's (a heading run into its text goes on
                // there).
                TPiece& last = pieces.last();
                const TKey key = last.Facts.first().Key;
                bool apart = last.Lines.size() <= 3;
                for (const TLineFacts& before : last.Facts) apart = apart && before.Share >= 0.85 && before.Key == key;
                starts = apart && facts.Key != key && WordKey(line.Words[0]) != key && ShareIn(line, key) <= 0.5;
                last.SetAbove = starts;
            }
            if (starts) {
                TPiece piece;
                piece.Block = b;
                pieces.append(std::move(piece));
            }
            pieces.last().Add(l, line, facts);
            open = true;
        }
    }
    for (TPiece& piece : pieces)
        if (piece.Table < 0) piece.Sum();
    // A heading's number set apart from its words (a wide space after
    // "2"): joined with the words on its baseline to its right.
    static const QRegularExpression number(QStringLiteral("^(?:\\d{1,3}(?:\\.\\d{1,3})*|[A-Z](?:\\.\\d{1,3})*)\\.?$"));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        TPiece& p = pieces[i];
        if (p.Table >= 0 || p.Lines.size() != 1 || p.Words != 1 || !number.match(p.FirstWord()).hasMatch()) continue;
        for (qsizetype j = 0; j < pieces.size(); ++j) {
            TPiece& q = pieces[j];
            if (j == i || q.Table >= 0 || q.Dropped || !q.Prefix.isEmpty()) continue;
            const QRectF& first = q.Lines[0]->Box;
            if (std::abs(first.bottom() - p.Box.bottom()) <= 2 && first.left() > p.Box.right() &&
                first.left() - p.Box.right() < 4 * std::max(p.Size(), 4.0) && q.Key.Bold == p.Key.Bold &&
                std::abs(q.Key.Quarters - p.Key.Quarters) <= 2) {
                q.Prefix = p.FirstWord();
                p.Dropped = true;
                break;
            }
        }
    }
    pieces.removeIf([](const TPiece& p) { return p.Dropped; });
    // A hanging indent: a full line, then lines set in from it, in one
    // block. The layout starts a paragraph at the indented lines; they are
    // the item's.
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
        TPiece& p = pieces[i];
        const TPiece& q = pieces[i + 1];
        if (p.Table >= 0 || q.Table >= 0 || p.Block != q.Block || p.Lines.size() != 1 || IsListMarker(q.FirstWord()))
            continue;
        const QRectF& first = p.Lines[0]->Box;
        const double blockRight = Page.Blocks[p.Block].Box.right();
        const double height = first.height();
        bool indented = first.right() >= blockRight - 2 * height && q.Lines[0]->Box.top() - first.bottom() < 0.8 * height;
        const double indent = q.Lines[0]->Box.left();
        for (const TLayoutLine* line : q.Lines)
            indented = indented && std::abs(line->Box.left() - indent) <= 2;
        indented = indented && indent >= first.left() + 4 && indent <= first.left() + 6 * height;
        if (!indented) continue;
        for (qsizetype l = 0; l < q.Lines.size(); ++l) p.Add(q.LineIndexes[l], *q.Lines[l], q.Facts[l]);
        p.Hanging = true;
        p.Sum();
        pieces.removeAt(i + 1);
    }
    // Their one-line siblings: lines of the same block starting where an item does.
    for (TPiece& p : pieces) {
        if (p.Table >= 0 || p.Hanging || p.Lines.size() != 1) continue;
        for (const TPiece& item : pieces)
            if (item.Hanging && item.Block == p.Block && std::abs(item.Box.left() - p.Box.left()) <= 2 &&
                item.Lines.size() > 1 && p.Box.left() > Page.Blocks[p.Block].Box.left() + 2) {
                p.Hanging = true;
                break;
            }
    }
    return pieces;
}

// Whether a piece is code with a listing's line numbers: each line's words
// monospace, but for a number before them (or alone).
bool IsNumberedCode(const TPiece& Piece) {
    static const QRegularExpression number(QStringLiteral("^\\d{1,6}$"));
    for (const TLayoutLine* line : Piece.Lines)
        for (qsizetype w = 0; w < line->Words.size(); ++w)
            if (!(w == 0 && number.match(line->Words[w].Text).hasMatch()) && !IsMonospace(line->Words[w].FontName)) return false;
    return true;
}

// Whether a piece has the shape of a heading: a line or three, few words,
// most of its characters in one style, no sentence's end.
bool HeadingShape(const TPiece& Piece) {
    if (Piece.Table >= 0 || Piece.Lines.size() > 3 || Piece.Words > 20 || Piece.Characters < 2 || Piece.Share < 0.85)
        return false;
    const QString& last = Piece.Lines.last()->Words.last().Text;
    const QChar end = last.back();
    if (end == u',' || end == u';') return false;
    if (end == u'.' && Piece.Words > 6) return false;
    bool letter = false;
    for (const TLayoutLine* line : Piece.Lines)
        for (const TLayoutWord& w : line->Words)
            for (const QChar c : w.Text) letter = letter || c.isLetter();
    return letter;
}

// Whether a line stands apart from the lines above and below it (by most of
// its height), as a running head or a page number does and a column's first
// or last line does not. Lines beside it on its baseline do not count.
bool StandsApart(const TPageLayout& Page, const QRectF& Box) {
    for (const TLayoutBlock& block : Page.Blocks) {
        if (block.Box.bottom() < Box.top() - Box.height() || block.Box.top() > Box.bottom() + Box.height()) continue;
        for (const TLayoutLine& line : block.Lines) {
            if (line.Box.bottom() > Box.top() && line.Box.top() < Box.bottom()) continue;  // beside it
            const double gap = line.Box.top() >= Box.bottom() ? line.Box.top() - Box.bottom() : Box.top() - line.Box.bottom();
            if (gap < 0.8 * Box.height()) return false;
        }
    }
    return true;
}

// Whether a line holds a dot leader (". . . ." before a page number).
bool HasLeader(const TLayoutLine& Line) {
    int dots = 0;
    for (const TLayoutWord& w : Line.Words) {
        dots = w.Text == QLatin1String(".") || w.Text == QLatin1String("..") ? dots + 1 : 0;
        if (dots >= 4) return true;
    }
    return false;
}

// Whether a line ends with a page number set apart from its words (an entry
// of a table of contents too long for a dot leader): the gap before the
// number twice the widest between its other words.
bool EndsWithPageNumber(const TLayoutLine& Line) {
    const qsizetype n = Line.Words.size();
    if (n < 2 || !IsPageNumberText(Line.Words.last().Text)) return false;
    double widest = 0;
    for (qsizetype w = 1; w + 1 < n; ++w) widest = std::max(widest, Line.Words[w].Box.left() - Line.Words[w - 1].Box.right());
    const double gap = Line.Words[n - 1].Box.left() - Line.Words[n - 2].Box.right();
    return gap > 2 * widest && gap > 0.5 * WordSize(Line.Words.last());
}

// Text without its dot leaders: runs of four dots or more, or the few left
// before a page number where the title took most of the line.
QString WithoutLeaders(const QString& Text) {
    static const QRegularExpression leaders(QStringLiteral("(?:\\s*\\.){4,}\\s*|(?:\\s+\\.){2,3}(?=\\s+\\S+$)"));
    return QString(Text).replace(leaders, QStringLiteral(" ")).simplified();
}

// An entry of a table of contents: its words across the blocks it was set
// in (a section's number, its title, its page number each a block of their
// own), and its lines.
struct TContentsEntry {
    QString Text;
    QList<std::pair<qsizetype, qsizetype>> Lines;
};

// The entries of a table of contents, read row by row across the page: a row
// of lines on one baseline that ends with a page number (a line of its own
// to the right, or set apart at its end, or after a dot leader) is an entry's
// last; rows set closely above it without one are its first (a title over
// two lines). The lines for which Excluded holds take no part, nor those of
// a column of running text beside the contents (one without a dot leader).
QList<TContentsEntry> ContentsEntries(const TPageLayout& Page, const std::function<bool(qsizetype, qsizetype)>& Excluded) {
    struct TRowLine {
        qsizetype Block, Line;
        const TLayoutLine* Layout;
    };
    QList<TRowLine> lines;
    for (qsizetype b = 0; b < Page.Blocks.size(); ++b) {
        const TLayoutBlock& block = Page.Blocks[b];
        if (IsTextColumn(block, Page.Size) && std::none_of(block.Lines.begin(), block.Lines.end(), HasLeader)) continue;
        for (qsizetype l = 0; l < block.Lines.size(); ++l) {
            const TLayoutLine& line = Page.Blocks[b].Lines[l];
            if (line.Direction == TLineDirection::dlHorizontal && !line.Words.isEmpty() && !Excluded(b, l))
                lines.append({b, l, &line});
        }
    }
    std::sort(lines.begin(), lines.end(),
              [](const TRowLine& a, const TRowLine& b) { return a.Layout->Box.bottom() < b.Layout->Box.bottom(); });
    QList<QList<TRowLine>> rows;
    for (const TRowLine& line : lines) {
        if (!rows.isEmpty() && std::abs(rows.last().last().Layout->Box.bottom() - line.Layout->Box.bottom()) <= 2.5)
            rows.last().append(line);
        else
            rows.append({line});
    }
    const auto box = [](const QList<TRowLine>& Row) {
        QRectF united;
        for (const TRowLine& line : Row) united = united.isNull() ? line.Layout->Box : united.united(line.Layout->Box);
        return united;
    };
    QList<TContentsEntry> entries;
    qsizetype from = 0;  // the first row not yet in an entry
    for (qsizetype r = 0; r < rows.size(); ++r) {
        QList<TRowLine>& row = rows[r];
        std::sort(row.begin(), row.end(), [](const TRowLine& a, const TRowLine& b) { return a.Layout->Box.left() < b.Layout->Box.left(); });
        const TLayoutLine& last = *row.last().Layout;
        const bool numbered = (row.size() >= 2 && IsPageNumberText(JoinedText({&last}))) || EndsWithPageNumber(last) ||
                              (HasLeader(last) && IsPageNumberText(last.Words.last().Text));
        if (!numbered) continue;
        // The rows closely above, without a page number, are the entry's
        // first: a title's line that ends short of the page numbers, and
        // starts where a line of the row below does or left of it (the
        // title's words go on below, as they are or indented).
        qsizetype first = r;
        while (first > from && first > r - 2) {
            const QRectF above = box(rows[first - 1]), below = box(rows[first]);
            bool aligned = false;
            for (const TRowLine& a : rows[first - 1])
                for (const TRowLine& b : rows[first]) aligned = aligned || (b.Layout->Box.left() >= a.Layout->Box.left() - 2 && b.Layout->Box.left() < a.Layout->Box.right());
            if (below.top() - above.bottom() > 0.6 * above.height() || !aligned || above.right() >= last.Words.last().Box.left()) break;
            --first;
        }
        TContentsEntry entry;
        QStringList texts;
        for (qsizetype k = first; k <= r; ++k)
            for (const TRowLine& line : rows[k]) {
                texts.append(JoinedText({line.Layout}));
                entry.Lines.append({line.Block, line.Line});
            }
        entry.Text = WithoutLeaders(texts.join(QLatin1Char(' ')));
        entries.append(entry);
        from = r + 1;
    }
    return entries;
}

// A page of a table of contents: lines with dot leaders, three at least.
bool IsContentsPage(const TPageLayout& Page) {
    int leaders = 0;
    for (const TLayoutBlock& block : Page.Blocks)
        for (const TLayoutLine& line : block.Lines)
            if (HasLeader(line) && ++leaders >= 3) return true;
    return false;
}


bool Plain(const TKey& Key) { return !Key.Bold && !Key.Italic; }

// The body size of a page without a learned one: the size of most of its characters.
double PageBodySize(const QList<TPiece>& Pieces) {
    std::map<int, qsizetype> sizes;
    for (const TPiece& p : Pieces)
        if (p.Table < 0) sizes[p.Key.Quarters] += p.Characters;
    int best = 0;
    qsizetype most = 0;
    for (const auto& [quarters, n] : sizes)
        if (n > most) most = n, best = quarters;
    return best / 4.0;
}

// Whether Key ranks above Other as a heading: larger, or as large and heavier
// (bold above italic above plain).
bool RanksAbove(const TKey& Key, const TKey& Other) {
    if (std::abs(Key.Quarters - Other.Quarters) > 1) return Key.Quarters > Other.Quarters;
    const int weight = Key.Bold * 2 + Key.Italic, otherWeight = Other.Bold * 2 + Other.Italic;
    return weight > otherWeight;
}

}  // namespace

// ---- the document's style ----------------------------------------------------

QList<int> TDocumentStyle::SamplePages(int PageCount) {
    QList<int> pages;
    if (PageCount <= SampleSize) {
        for (int p = 1; p <= PageCount; ++p) pages.append(p);
        return pages;
    }
    for (int i = 0; i < SampleSize; ++i) pages.append(1 + int(qint64(i) * (PageCount - 1) / (SampleSize - 1)));
    return pages;
}

void TDocumentStyle::Learn(const TPageLayout& Page) {
    const TLayoutLine* top = nullptr;
    const TLayoutLine* bottom = nullptr;
    for (const TLayoutBlock& block : Page.Blocks)
        for (const TLayoutLine& line : block.Lines) {
            if (line.Direction != TLineDirection::dlHorizontal) continue;
            if (!top || line.Box.top() < top->Box.top()) top = &line;
            if (!bottom || line.Box.bottom() > bottom->Box.bottom()) bottom = &line;
            for (const TLayoutWord& word : line.Words)
                if (word.FontSize > 0) FSizeCharacters[int(std::lround(word.FontSize * 4))] += word.Text.size();
        }
    if (!top) return;
    ++FPages;
    // The first and last lines' places, when they stand apart from the text.
    const auto shape = [](const TLayoutLine& Line) {
        static const QRegularExpression number(QStringLiteral("\\d+|\\b[ivxlc]+\\b"));
        return JoinedText({&Line}).toLower().replace(number, QStringLiteral("#"));
    };
    if (StandsApart(Page, top->Box))
        FTopLines.append({int(std::lround(top->Box.top() / PlaceStep)), LineFacts(*top).Key, shape(*top)});
    if (bottom != top && StandsApart(Page, bottom->Box))
        FBottomLines.append({int(std::lround(bottom->Box.bottom() / PlaceStep)), LineFacts(*bottom).Key, shape(*bottom)});
    // Short lone lines followed by plain text (more than a table's cell): the
    // styles headings may take.
    QList<QList<int>> none;
    for (const TLayoutBlock& block : Page.Blocks) none.append(QList<int>(block.Lines.size(), -1));
    const QList<TPiece> pieces = PagePieces(Page, none);
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i)
        if (HeadingShape(pieces[i]) && pieces[i + 1].Table < 0 && Plain(pieces[i + 1].Key) &&
            pieces[i + 1].Key != pieces[i].Key && pieces[i + 1].Words >= 6 && pieces[i + 1].Characters > pieces[i].Characters)
            ++FHeadingCandidates[pieces[i].Key];
}

void TDocumentStyle::Finish() {
    qint64 most = 0;
    for (const auto& [quarters, n] : FSizeCharacters)
        if (n > most) most = n, FBodySize = quarters / 4.0;
    FHeadings.clear();
    if (FBodySize > 0)
        for (const auto& [key, n] : FHeadingCandidates) {
            const double size = key.Quarters / 4.0;
            if (size >= 1.12 * FBodySize || (size >= 0.97 * FBodySize && (key.Bold || key.Italic))) FHeadings[key] = n;
        }
    // Places where the first or last line stands on most pages (give or
    // take a step), in a style that is not a heading's, the same text
    // (numbers aside) on two of them at least.
    const auto places = [this](const QList<TEdgeLine>& Lines) {
        QList<int> found;
        const int least = std::max(2, int(std::ceil(0.4 * FPages)));
        for (const TEdgeLine& line : Lines) {
            if (found.contains(line.Place) || FHeadings.count(line.Key)) continue;
            int around = 0;
            std::map<QString, int> shapes;
            for (const TEdgeLine& other : Lines)
                if (std::abs(other.Place - line.Place) <= 1 && !FHeadings.count(other.Key)) ++around, ++shapes[other.Shape];
            int repeated = 0;
            for (const auto& [text, n] : shapes) repeated = std::max(repeated, n);
            if (around >= least && repeated >= 2) found.append(line.Place);
        }
        return found;
    };
    FTops = places(FTopLines);
    FBottoms = places(FBottomLines);
}

bool TDocumentStyle::InRepeatedPlace(double Top, double Bottom, double PageHeight) const {
    if (Top < 0.15 * PageHeight)
        for (const int place : FTops)
            if (std::abs(Top - place * PlaceStep) <= 1.5 * PlaceStep) return true;
    if (Bottom > 0.85 * PageHeight)
        for (const int place : FBottoms)
            if (std::abs(Bottom - place * PlaceStep) <= 1.5 * PlaceStep) return true;
    return false;
}

TDocumentStyle LearnDocumentStyle(TFPdf& Pdf) {
    TDocumentStyle style;
    for (const int page : TDocumentStyle::SamplePages(Pdf.GetPageCount())) {
        try {
            Pdf.SetPageNumber(page);
            style.Learn(ReadPageLayout(Pdf));
        } catch (const EPdfError&) {
            // A page that cannot be opened says so when it is read itself.
        }
    }
    // No page stays current: the reader's next page is opened afresh, also
    // one that failed here (the same number again would open nothing).
    Pdf.SetPageNumber(0);
    style.Finish();
    return style;
}

// ---- a page's structure ---------------------------------------------------------

TPageStructure StructurePage(const TPageLayout& Page, const TDocumentStyle& Style) {
    TPageStructure out;
    out.PageNumber = Page.PageNumber;
    const double height = Page.Size.height();

    // Running heads and page numbers first: they take part in nothing else.
    QList<QList<int>> taken;
    double top = 1e9, bottom = -1e9;
    for (const TLayoutBlock& block : Page.Blocks) {
        taken.append(QList<int>(block.Lines.size(), -1));
        for (const TLayoutLine& line : block.Lines) top = std::min(top, line.Box.top()), bottom = std::max(bottom, line.Box.bottom());
    }
    const auto furniture = [&](const TLayoutLine& Line) -> std::optional<TBlockRole> {
        const bool edge = (Line.Box.top() <= top + 1 && Line.Box.bottom() < 0.12 * height) ||
                          (Line.Box.bottom() >= bottom - 1 && Line.Box.top() > 0.85 * height);
        const bool repeated = Style.InRepeatedPlace(Line.Box.top(), Line.Box.bottom(), height);
        if ((!repeated && !edge) || !StandsApart(Page, Line.Box)) return std::nullopt;
        if (IsPageNumberText(JoinedText({&Line}))) return TBlockRole::PageNumber;
        // A section's heading at the top of its page.
        if (Style.HeadingStyles().count(LineFacts(Line).Key)) return std::nullopt;
        if (repeated) return TBlockRole::RunningHead;
        return std::nullopt;
    };
    QList<TStructuredBlock> furnitureBlocks;
    for (qsizetype b = 0; b < Page.Blocks.size(); ++b)
        for (qsizetype l = 0; l < Page.Blocks[b].Lines.size(); ++l) {
            const TLayoutLine& line = Page.Blocks[b].Lines[l];
            if (const std::optional<TBlockRole> role = furniture(line)) {
                TStructuredBlock block;
                block.Role = *role;
                block.Text = JoinedText({&line});
                block.Block = b;
                block.Line = l;
                block.Lines = {{b, l}};
                furnitureBlocks.append(std::move(block));
                taken[b][l] = -2;
            }
        }

    // A table of contents: its entries are read across the blocks they are
    // set in, and are no headings, nor its page numbers a table.
    const bool tocPage = IsContentsPage(Page);
    const QList<TContentsEntry> entries =
        tocPage ? ContentsEntries(Page, [&](qsizetype b, qsizetype l) { return taken[b][l] != -1; }) : QList<TContentsEntry>();
    for (const TContentsEntry& entry : entries)
        for (const auto& [b, l] : entry.Lines) taken[b][l] = -4;
    QList<TTable> tables;
    // On such a page, the entries' blocks and their page numbers make no table.
    QList<bool> entryBlocks(Page.Blocks.size(), false);
    if (tocPage)
        for (qsizetype b = 0; b < Page.Blocks.size(); ++b)
            for (const TLayoutLine& line : Page.Blocks[b].Lines) entryBlocks[b] = entryBlocks[b] || HasLeader(line);
    tables = FindTables(Page, [&](qsizetype b, qsizetype l) {
        return taken[b][l] != -1 || (tocPage && (entryBlocks[b] || IsPageNumberText(JoinedText({&Page.Blocks[b].Lines[l]}))));
    }, taken);
    for (QList<int>& lines : taken)
        for (int& t : lines)
            if (t == -2) t = -3;  // furniture: left out of the pieces below, as a table's lines are
    QList<TPiece> pieces;
    const int skip = int(tables.size()), contents = skip + 1;
    {
        // Furniture lines are skipped as a table's are: marked with a table
        // index past the real ones, never emitted.
        QList<QList<int>> marks = taken;
        // The contents' entries likewise, as one piece past those.
        for (QList<int>& lines : marks)
            for (int& t : lines)
                if (t == -3) t = skip;
                else if (t == -4) t = contents;
        pieces = PagePieces(Page, marks);
        pieces.removeIf([skip](const TPiece& p) { return p.Table == skip; });
    }

    const double body = Style.BodySize() > 0 ? Style.BodySize() : PageBodySize(pieces);
    // The lowest piece of body size or larger: footnotes stand below it.
    // Notes in the margin beside it stand right of its right edge.
    double lowestBody = -1, bodyRight = -1;
    for (const TPiece& p : pieces)
        if (p.Table < 0 && p.Size() >= 0.95 * body)
            lowestBody = std::max(lowestBody, p.Box.top()), bodyRight = std::max(bodyRight, p.Box.right());

    // An entry of a table of contents: with a dot leader, or a page number beside its last line.
    const auto entry = [&](const TPiece& Piece) {
        if (!tocPage) return false;
        for (const TLayoutLine* line : Piece.Lines)
            if (HasLeader(*line)) return true;
        if (EndsWithPageNumber(*Piece.Lines.last())) return true;
        const QRectF& last = Piece.Lines.last()->Box;
        for (const TLayoutBlock& block : Page.Blocks)
            for (const TLayoutLine& line : block.Lines)
                if (line.Box.left() > last.right() && line.Box.top() < last.bottom() && line.Box.bottom() > last.top() &&
                    IsPageNumberText(JoinedText({&line})))
                    return true;
        return false;
    };
    const std::map<TKey, int>& learned = Style.HeadingStyles();
    const auto headingLevel = [&](const TKey& Key) {
        int above = 0;
        for (const auto& [key, n] : learned)
            if (key != Key && RanksAbove(key, Key)) ++above;
        if (learned.empty())
            for (const TPiece& p : pieces)
                if (p.Table < 0 && HeadingShape(p) && RanksAbove(p.Key, Key) && p.Size() >= 1.12 * body) ++above;
        return std::min(6, 1 + above);
    };

    QSet<qsizetype> columnItems;  // the items of lists set in columns, in out.Blocks
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const TPiece& p = pieces[i];
        TStructuredBlock block;
        block.Block = p.Block;
        block.Line = p.LineIndexes.first();
        if (p.Table == contents) {
            for (const TContentsEntry& entry : entries) {
                block.Text = entry.Text;
                block.Lines = entry.Lines;
                std::tie(block.Block, block.Line) = entry.Lines.first();
                out.Blocks.append(block);
            }
            continue;
        }
        if (p.Table >= 0 && IsListInColumns(tables[p.Table])) {
            // A list set in columns: its items column by column.
            const TTable& table = tables[p.Table];
            for (qsizetype c = 0; c < table.Rows.first().size(); ++c)
                for (qsizetype r = 0; r < table.Rows.size(); ++r) {
                    const QString& cell = table.Rows[r][c];
                    if (cell.isEmpty()) continue;
                    TStructuredBlock item;
                    item.Role = TBlockRole::ListItem;
                    item.Lines = table.CellLines[r][c];
                    std::tie(item.Block, item.Line) = item.Lines.first();
                    const QString marker = cell.section(QLatin1Char(' '), 0, 0);
                    item.Text = TakeListMarker(marker, item.Mark) ? cell.section(QLatin1Char(' '), 1) : cell;
                    columnItems.insert(out.Blocks.size());
                    out.Blocks.append(item);
                }
            continue;
        }
        if (p.Table >= 0) {
            block.Role = TBlockRole::Table;
            block.Rows = tables[p.Table].Rows;
            block.HeaderRow = tables[p.Table].HeaderRow;
            block.Lines = tables[p.Table].Lines;
            out.Blocks.append(std::move(block));
            continue;
        }
        for (const qsizetype l : p.LineIndexes) block.Lines.append({p.Block, l});
        const QString first = p.FirstWord();
        block.Text = JoinedText(p.Lines);
        if (!p.Prefix.isEmpty()) block.Text = p.Prefix + QLatin1Char(' ') + block.Text;
        const TPiece* next = i + 1 < pieces.size() ? &pieces[i + 1] : nullptr;

        if (p.MonoShare >= 0.95) {
            block.Role = TBlockRole::Code;
            // Indented by the page's own spaces: the characters' width from the lines themselves.
            // From the block's left edge, so that code cut into pieces keeps its indents.
            const double left = Page.Blocks[p.Block].Box.left();
            double charWidth = 0;
            qsizetype chars = 0;
            for (const TLayoutLine* line : p.Lines) {
                for (const TLayoutWord& w : line->Words) charWidth += w.Box.width(), chars += w.Text.size();
            }
            charWidth = chars ? charWidth / double(chars) : p.Size() * 0.5;
            for (const TLayoutLine* line : p.Lines) {
                QString text;
                for (const TLayoutWord& w : line->Words) {
                    const int column = charWidth > 0 ? int(std::lround((w.Box.left() - left) / charWidth)) : 0;
                    if (!text.isEmpty() && text.size() >= column) text += QLatin1Char(' ');
                    while (text.size() < column) text += QLatin1Char(' ');
                    text += w.Text;
                }
                block.CodeLines.append(text);
            }
        } else if (IsCaptionText(block.Text)) {
            block.Role = TBlockRole::Caption;
        } else if (p.Size() < 0.92 * body && p.Box.top() > lowestBody && p.Box.top() > 0.5 * height &&
                   p.Box.left() < bodyRight && !IsNumberedCode(p)) {
            block.Role = TBlockRole::Footnote;
            // Its mark: a number or sign before the words, raised, set close or apart.
            static const QRegularExpression mark(QStringLiteral("^(\\d{1,3}|[*∗†‡§¶]{1,3})(?=\\p{Lu}|\\s|$)"));
            const QRegularExpressionMatch m = mark.match(block.Text);
            if (m.hasMatch()) {
                block.Mark = m.captured(1);
                block.Text = block.Text.mid(m.capturedLength()).trimmed();
            }
        } else if (IsListMarker(first) && p.Words > 1) {
            // Set with a hanging indent or not: its marker is the list's.
            block.Role = TBlockRole::ListItem;
            if (TakeListMarker(first, block.Mark)) block.Text = JoinedText(p.Lines, 1);
        } else if (p.Hanging && !entry(p)) {
            block.Role = TBlockRole::ListItem;
        } else if (HeadingShape(p) && p.Size() >= 0.97 * body &&
                   (!tocPage || (!entry(p) && !(next && next->Table < 0 && entry(*next))))) {
            // A style headings take in the document (twice at least, or once
            // bold or slanted: a plain larger line once is a title page's
            // author or date), a title's size, or any heading style on a page
            // judged alone.
            const bool larger = p.Size() >= 1.12 * body;
            const auto it = learned.find(p.Key);
            const int seen = it == learned.end() ? 0 : it->second;
            const bool styled = seen >= 2 || (seen == 1 && (p.Key.Bold || p.Key.Italic)) || p.Size() >= 1.5 * body ||
                                (learned.empty() && (larger || p.Key.Bold));
            // A style of body size stands as a heading only above text of another style.
            const bool apart = larger || !next || next->Table >= 0 || next->Key != p.Key;
            // Slanted lines of body size make a heading of one line, or of
            // more set closely above text in another style: else they are
            // an emphasised paragraph.
            if (styled && apart && (p.Lines.size() == 1 || !p.Key.Italic || larger || p.SetAbove)) {
                block.Role = TBlockRole::Heading;
                block.Level = headingLevel(p.Key);
            }
        }
        if (tocPage && block.Role == TBlockRole::Paragraph) block.Text = WithoutLeaders(block.Text);
        // The words of each link over the piece.
        for (const TLayoutLink& link : Page.Links) {
            if (!link.Box.intersects(p.Box) || block.Role == TBlockRole::Code) continue;
            QStringList words;
            for (const TLayoutLine* line : p.Lines)
                for (const TLayoutWord& w : line->Words)
                    if (link.Box.contains(w.Box.center())) words.append(w.Text);
            if (!words.isEmpty()) block.Links.append({words.join(QLatin1Char(' ')), link.Uri});
        }
        out.Blocks.append(std::move(block));
    }

    // Small lines at the foot without a mark are notes only beside a marked
    // one (its second paragraph, or a note of a series); alone, they are a
    // paragraph (a copyright line, a remark after code), as a note that no
    // mark refers to would be lost to a reader.
    const bool marked = std::any_of(out.Blocks.begin(), out.Blocks.end(), [](const TStructuredBlock& Block) {
        return Block.Role == TBlockRole::Footnote && !Block.Mark.isEmpty();
    });
    for (TStructuredBlock& block : out.Blocks)
        if (block.Role == TBlockRole::Footnote && !marked) block.Role = TBlockRole::Paragraph;
    // Lists' depths: by the indent of their markers, within each run of items.
    // The items of a list set in columns stand at one depth.
    QList<double> indents;
    for (qsizetype i = 0; i < out.Blocks.size(); ++i) {
        TStructuredBlock& block = out.Blocks[i];
        if (block.Role != TBlockRole::ListItem || columnItems.contains(i)) {
            if (block.Role != TBlockRole::Paragraph && block.Role != TBlockRole::Code) indents.clear();
            continue;
        }
        const double x = Page.Blocks[block.Block].Lines[block.Line].Box.left();
        while (!indents.isEmpty() && x < indents.last() - 3) indents.removeLast();
        if (indents.isEmpty() || x > indents.last() + 3) indents.append(x);
        block.Level = int(indents.size()) - 1;
    }
    // Code set line by line as pieces of its own: one block.
    for (qsizetype i = out.Blocks.size() - 1; i > 0; --i) {
        TStructuredBlock& before = out.Blocks[i - 1];
        const TStructuredBlock& block = out.Blocks[i];
        if (before.Role == TBlockRole::Code && block.Role == TBlockRole::Code && before.Block == block.Block) {
            before.CodeLines += block.CodeLines;
            before.Lines += block.Lines;
            out.Blocks.removeAt(i);
        }
    }
    out.Blocks += furnitureBlocks;
    return out;
}

}  // namespace kestrune
