#include "textlayer/WordPlacement.h"

#include <cmath>

#include <kestrune/PdfError.h>
#include "textlayer/GlyphlessFont.h"

namespace kestrune::textlayer {

namespace {

// The smallest font size and word length placed, in points: a box without
// height or length still gets an invertible matrix.
constexpr double kMinimumSize = 0.125;

// A font size or position in whole eighths of a point: exact in the engine's
// floats, so that the content stream writes it in at most three decimals
// rather than eight, a quarter less to store for no visible difference.
double Eighths(double Points) { return std::round(Points * 8) / 8; }

bool Finite(const QRectF& Box) {
    return std::isfinite(Box.x()) && std::isfinite(Box.y()) && std::isfinite(Box.width()) &&
           std::isfinite(Box.height());
}

// A line's geometry as shown (y downwards), by its direction: the unit vector
// along which its characters advance and the one from their feet to their tops.
struct TAxes {
    QPointF Advance, Up;
};

TAxes AxesOf(TLineDirection Direction) {
    switch (Direction) {
        case TLineDirection::dlDown: return {{0, 1}, {1, 0}};
        case TLineDirection::dlUpsideDown: return {{-1, 0}, {0, 1}};
        case TLineDirection::dlUp: return {{0, -1}, {-1, 0}};
        default: return {{1, 0}, {0, -1}};
    }
}

bool Vertical(TLineDirection Direction) {
    return Direction == TLineDirection::dlDown || Direction == TLineDirection::dlUp;
}

// The line's height across its direction, and where along its Up axis its
// baseline lies: at the descent above the edge its glyphs' feet point to.
struct TBand {
    double FontSize;
    double Baseline;  // x for vertical lines, y otherwise
};

TBand BandOf(const QRectF& Line, TLineDirection Direction) {
    const double height = std::max(Eighths(Vertical(Direction) ? Line.width() : Line.height()), kMinimumSize);
    const double rise = kDescent * height;
    switch (Direction) {
        case TLineDirection::dlDown: return {height, Line.left() + rise};
        case TLineDirection::dlUpsideDown: return {height, Line.top() + rise};
        case TLineDirection::dlUp: return {height, Line.right() - rise};
        default: return {height, Line.bottom() - rise};
    }
}

// Where the word's first character starts, on the line's baseline.
QPointF OriginOf(const QRectF& Word, TLineDirection Direction, double Baseline) {
    switch (Direction) {
        case TLineDirection::dlDown: return {Baseline, Word.top()};
        case TLineDirection::dlUpsideDown: return {Word.right(), Baseline};
        case TLineDirection::dlUp: return {Baseline, Word.bottom()};
        default: return {Word.left(), Baseline};
    }
}

}  // namespace

QList<TPlacedWord> PlaceWords(const TPageLayout& Layout, const TPageFrame& Frame) {
    QList<TPlacedWord> placed;
    placed.reserve(Layout.WordCount());
    for (const TLayoutBlock& block : Layout.Blocks) {
        for (const TLayoutLine& line : block.Lines) {
            // The line's box from its words, whatever the record says (a
            // layout filled in by hand may have none).
            QRectF lineBox;
            QList<qsizetype> words;
            for (qsizetype i = 0; i < line.Words.size(); ++i) {
                const TLayoutWord& word = line.Words[i];
                if (!Finite(word.Box))
                    throw EPdfError(QStringLiteral("The box of the word \"%1\" on page %2 is not a number")
                                        .arg(word.Text)
                                        .arg(Layout.PageNumber));
                if (word.Text.isEmpty()) continue;
                lineBox = lineBox.isNull() ? word.Box.normalized() : lineBox.united(word.Box.normalized());
                words.append(i);
            }
            if (words.isEmpty()) continue;
            const TAxes axes = AxesOf(line.Direction);
            const TBand band = BandOf(lineBox, line.Direction);
            for (const qsizetype index : words) {
                const TLayoutWord& word = line.Words[index];
                const QRectF box = word.Box.normalized();
                const QString glyphs = SettableText(word.Text);
                const double length = std::max(Vertical(line.Direction) ? box.height() : box.width(), kMinimumSize);
                // The horizontal scaling that makes the word's glyphs as long as its box.
                const double scale = length / (glyphs.size() * kGlyphAdvance * band.FontSize);
                // The text's axes from shown space into page space: the frame's
                // mapping is affine, so its differences carry directions.
                const QPointF origin = OriginOf(box, line.Direction, band.Baseline);
                const QPointF page = Frame.Unmap(origin.x(), origin.y());
                const QPointF along = Frame.Unmap(origin.x() + axes.Advance.x(), origin.y() + axes.Advance.y()) - page;
                const QPointF up = Frame.Unmap(origin.x() + axes.Up.x(), origin.y() + axes.Up.y()) - page;
                TPlacedWord out;
                out.Text = glyphs + QLatin1Char(' ');
                out.FontSize = float(band.FontSize);
                out.Matrix = QTransform(along.x() * scale, along.y() * scale, up.x(), up.y(), Eighths(page.x()),
                                        Eighths(page.y()));
                placed.append(out);
            }
        }
    }
    return placed;
}

}  // namespace kestrune::textlayer
