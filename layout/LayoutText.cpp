// Text that keeps the page's arrangement: the page's lines sorted into rows
// (lines side by side, such as the columns' lines or a table row's cells, share
// a row) and placed in each row by their left edge on a grid of character cells.
//
// The grid spans the page: columns count from the leftmost line's left edge
// (or the page's, when a line starts left of it) to the page's right edge. A
// line starting outside the page is placed at the edge it lies beyond rather
// than dropped (pdftotext drops such text), so the layout text keeps every
// word the word formats and the plain text keep. Spaces thus never carry a
// line past the page's width, and far apart rows are kept apart by one empty
// line however far apart they stand: a page's bytes stay within a fixed
// multiple of its characters plus one page width for each row, whatever
// places its text gives (a word ten million points off the page costs no
// more than one on it).
#include <algorithm>
#include <cmath>
#include <limits>

#include <kestrune/LayoutFormats.h>

namespace kestrune {

namespace {

// Two lines share a row when they overlap vertically by this part of the lower one's height.
constexpr double RowOverlap = 0.5;
// A gap between rows larger than this part of a row's height shows as an empty line.
constexpr double EmptyLineGap = 0.8;
// The widest grid, in cells: PDF's largest page (14400 points, 200 inches) at
// the narrowest cell (1 point). A page whose box claims more is no wider.
constexpr double MaxColumns = 14400;

struct TRow {
    double Top = 0;
    double Bottom = 0;
    QList<const TLayoutLine*> Lines;
};

bool SharesRow(const TRow& Row, const QRectF& Box) {
    const double overlap = qMin(Row.Bottom, Box.bottom()) - qMax(Row.Top, Box.top());
    return overlap >= RowOverlap * qMin(Row.Bottom - Row.Top, Box.height());
}

// The horizontal lines of the page in rows from the top; the others in reading order.
QList<TRow> Rows(const TPageLayout& Page, QList<const TLayoutLine*>& Others) {
    QList<const TLayoutLine*> lines;
    for (const TLayoutBlock& block : Page.Blocks)
        for (const TLayoutLine& line : block.Lines)
            (line.Direction == TLineDirection::dlHorizontal ? lines : Others).append(&line);
    std::stable_sort(lines.begin(), lines.end(), [](const TLayoutLine* a, const TLayoutLine* b) {
        return a->Box.center().y() < b->Box.center().y();
    });
    QList<TRow> rows;
    for (const TLayoutLine* line : lines) {
        if (rows.isEmpty() || !SharesRow(rows.last(), line->Box)) rows.append({line->Box.top(), line->Box.bottom(), {}});
        TRow& row = rows.last();
        row.Top = qMin(row.Top, line->Box.top());
        row.Bottom = qMax(row.Bottom, line->Box.bottom());
        row.Lines.append(line);
    }
    for (TRow& row : rows)
        std::stable_sort(row.Lines.begin(), row.Lines.end(),
                         [](const TLayoutLine* a, const TLayoutLine* b) { return a->Box.left() < b->Box.left(); });
    return rows;
}

// The number of grid cells Text takes: one per character, a surrogate pair
// (a character beyond U+FFFF) being one.
qsizetype Cells(QStringView Text) {
    qsizetype pairs = 0;
    for (qsizetype i = 1; i < Text.size(); ++i)
        if (Text[i].isLowSurrogate() && Text[i - 1].isHighSurrogate()) ++pairs;
    return Text.size() - pairs;
}

// The width of the grid's cells: the page's average character width.
double CellWidth(const QList<TRow>& Rows) {
    double width = 0;
    qsizetype characters = 0;
    for (const TRow& row : Rows)
        for (const TLayoutLine* line : row.Lines)
            for (const TLayoutWord& word : line->Words) {
                width += word.Box.width();
                characters += Cells(word.Text);
            }
    return characters > 0 ? qMax(1.0, width / double(characters)) : 1.0;
}

// Value within 0..Limit; 0 for a value that is no number.
double Bounded(double Value, double Limit) { return Value > 0 ? qMin(Value, Limit) : 0; }

// One line of the page's words, separated by single spaces; returns the cells they take.
qsizetype AppendWords(QString& Out, const TLayoutLine& Line) {
    const qsizetype start = Out.size();
    for (qsizetype i = 0; i < Line.Words.size(); ++i) {
        if (i > 0) Out += QLatin1Char(' ');
        Out += Line.Words[i].Text;
    }
    return Cells(QStringView(Out).sliced(start));
}

}  // namespace

void AppendLayoutText(QByteArray& Out, const TPageLayout& Page, const char* LineEnd) {
    QList<const TLayoutLine*> others;
    const QList<TRow> rows = Rows(Page, others);
    const double cell = CellWidth(rows);
    const double width = Page.Size.width();
    double left = std::numeric_limits<double>::max();
    for (const TRow& row : rows) left = qMin(left, row.Lines.constFirst()->Box.left());
    left = Bounded(left, width);
    // Where the page's right edge lies on the grid.
    const double lastColumn = Bounded((width - left) / cell, MaxColumns);

    QString text;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const TRow& row = rows[r];
        if (r > 0 && row.Top - rows[r - 1].Bottom > EmptyLineGap * (row.Bottom - row.Top)) {
            Out += LineEnd;
        }
        text.clear();
        qsizetype cells = 0;  // the cells the row's text takes so far
        for (const TLayoutLine* line : row.Lines) {
            const qsizetype column = qsizetype(std::lround(Bounded((line->Box.left() - left) / cell, lastColumn)));
            // Always a space between two lines of a row, however close they stand.
            const qsizetype at = cells == 0 ? column : qMax(column, cells + 1);
            text += QString(at - cells, QLatin1Char(' '));
            cells = at + AppendWords(text, *line);
        }
        Out += text.toUtf8();
        Out += LineEnd;
    }
    for (const TLayoutLine* line : others) {
        text.clear();
        AppendWords(text, *line);
        Out += text.toUtf8();
        Out += LineEnd;
    }
    Out += '\f';
}

}  // namespace kestrune
