// Text that keeps the page's arrangement: the page's lines sorted into rows
// (lines side by side, such as the columns' lines or a table row's cells, share
// a row) and placed in each row by their left edge on a grid of character cells.
// Lines standing apart by more than a word space stay at least two spaces
// apart, so that a row splits back into its cells at runs of spaces. Rows
// that follow each other with several lines each (a table, or two columns)
// share their columns: where a cell's text runs longer than the page leaves
// it, its whole column moves right, in every row alike.
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
// A word space, in multiples of the font size (a third of it, stretched a bit):
// lines of a row farther apart stand at least two spaces apart.
constexpr double WordSpace = 0.4;

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

// A line of a row as placed on the grid.
struct TPlaced {
    const TLayoutLine* Line = nullptr;
    double Size = 0;        // its largest font size
    qsizetype Of = 0;       // its column within a table
    QString Text;
    qsizetype Cells = 0;    // the cells its text takes
    qsizetype Nominal = 0;  // the grid column of its left edge
    qsizetype Column = 0;   // where it is written
};

double LargestSize(const TLayoutLine& Line) {
    double size = 0;
    for (const TLayoutWord& word : Line.Words) size = qMax(size, word.FontSize > 0 ? word.FontSize : word.Box.height());
    return size;
}

// The fewest spaces between two lines of a row: two where their boxes stand
// farther apart than a word space, so that they read as two cells.
qsizetype Separation(const TPlaced& Left, const TPlaced& Right) {
    const double size = qMax(Left.Size, Right.Size);
    return Right.Line->Box.left() - Left.Line->Box.right() > WordSpace * size ? 2 : 1;
}

// Places the lines of rows From..To, which each hold several lines, on columns
// they share: the lines' extents merged into columns, and each column moved
// right as far as its lines need in any row.
void PlaceTable(QList<QList<TPlaced>>& Rows, qsizetype From, qsizetype To) {
    // The columns: the lines' horizontal extents, overlapping ones merged.
    QList<std::pair<double, double>> extents;
    for (qsizetype r = From; r < To; ++r)
        for (const TPlaced& placed : Rows[r]) extents.append({placed.Line->Box.left(), placed.Line->Box.right()});
    std::sort(extents.begin(), extents.end());
    QList<std::pair<double, double>> columns;
    for (const auto& extent : extents) {
        if (!columns.isEmpty() && extent.first < columns.last().second)
            columns.last().second = qMax(columns.last().second, extent.second);
        else
            columns.append(extent);
    }
    for (qsizetype r = From; r < To; ++r)
        for (TPlaced& placed : Rows[r]) {
            const auto next = std::upper_bound(columns.begin(), columns.end(), placed.Line->Box.left(),
                                               [](double Left, const auto& Column) { return Left < Column.first; });
            placed.Of = qMax<qsizetype>(0, next - columns.begin() - 1);
        }
    // Column by column from the left: the shift that gives every line of the
    // column room after the line before it in its row.
    qsizetype shift = 0;
    for (qsizetype c = 0; c < columns.size(); ++c) {
        for (qsizetype r = From; r < To; ++r) {
            QList<TPlaced>& row = Rows[r];
            for (qsizetype i = 1; i < row.size(); ++i) {
                if (row[i].Of != c) continue;
                const qsizetype needed = row[i - 1].Column + row[i - 1].Cells + Separation(row[i - 1], row[i]);
                shift = qMax(shift, needed - row[i].Nominal);
            }
        }
        for (qsizetype r = From; r < To; ++r)
            for (TPlaced& placed : Rows[r])
                if (placed.Of == c) placed.Column = placed.Nominal + shift;
    }
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

    QList<QList<TPlaced>> placed(rows.size());
    for (qsizetype r = 0; r < rows.size(); ++r) {
        for (const TLayoutLine* line : rows[r].Lines) {
            TPlaced p;
            p.Line = line;
            p.Size = LargestSize(*line);
            p.Cells = AppendWords(p.Text, *line);
            p.Nominal = qsizetype(std::lround(Bounded((line->Box.left() - left) / cell, lastColumn)));
            p.Column = p.Nominal;
            placed[r].append(std::move(p));
        }
    }
    // Rows of several lines in a row share their columns.
    for (qsizetype r = 0; r < rows.size();) {
        qsizetype end = r;
        while (end < rows.size() && placed[end].size() > 1) ++end;
        if (end > r) {
            PlaceTable(placed, r, end);
            r = end;
        } else {
            ++r;
        }
    }

    QString text;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const TRow& row = rows[r];
        if (r > 0 && row.Top - rows[r - 1].Bottom > EmptyLineGap * (row.Bottom - row.Top)) {
            Out += LineEnd;
        }
        text.clear();
        qsizetype cells = 0;  // the cells the row's text takes so far
        for (qsizetype i = 0; i < placed[r].size(); ++i) {
            const TPlaced& p = placed[r][i];
            // Always a space between two lines of a row, however close they
            // stand, and two where they stand apart.
            const qsizetype at = i == 0 ? p.Column : qMax(p.Column, cells + Separation(placed[r][i - 1], p));
            text += QString(at - cells, QLatin1Char(' '));
            text += p.Text;
            cells = at + p.Cells;
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
