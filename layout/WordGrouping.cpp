// Words into lines, lines into blocks.
//
// Both steps look only at the line or block just before, in reading order:
// documents and recognisers both give words roughly in reading order, so a
// word that starts a new line or column is one that does not continue the
// previous one. A two-column page thus gives the blocks of the first column,
// then those of the second; a table row gives one block per cell, as its
// cells stand apart.
#include <cmath>

#include "layout/PlacedWords.h"

namespace kestrune {

namespace layout {

namespace {

// How far apart two words of one line may stand, in multiples of the text's
// size: wider than a stretched space of justified text, narrower than the gap
// between two columns or table cells.
constexpr double MaxWordGap = 2.0;
// How far a word's baseline may lie off the line's (superscripts, subscripts
// and mixed fonts stay on their line), in multiples of the size.
constexpr double MaxBaselineShift = 0.4;
// How far below a block's last line the next line of the block may start
// (one line's leading, with room for a paragraph's extra space), and how far
// it may overlap it, in multiples of the line's height.
constexpr double MaxLineGap = 1.0;
constexpr double MaxLineOverlap = 0.5;

bool IsVertical(TLineDirection Direction) {
    return Direction == TLineDirection::dlDown || Direction == TLineDirection::dlUp;
}

// The extent of Box along the direction of reading, and across it.
std::pair<double, double> Along(const QRectF& Box, TLineDirection Direction) {
    return IsVertical(Direction) ? std::pair{Box.top(), Box.bottom()} : std::pair{Box.left(), Box.right()};
}
std::pair<double, double> Across(const QRectF& Box, TLineDirection Direction) {
    return IsVertical(Direction) ? std::pair{Box.left(), Box.right()} : std::pair{Box.top(), Box.bottom()};
}

// The distance between two intervals; 0 when they touch or overlap.
double Gap(std::pair<double, double> A, std::pair<double, double> B) {
    return qMax(0.0, qMax(A.first, B.first) - qMin(A.second, B.second));
}

// The size that the thresholds scale with: the font size, else the box's
// extent across the line.
double SizeOf(const TPlacedWord& Word) {
    if (Word.Word.FontSize > 0) return Word.Word.FontSize;
    const auto across = Across(Word.Word.Box, Word.Direction);
    return across.second - across.first;
}

// Where the lines of a block go next: the position across the direction of
// reading that grows from one line to the next (down the page for horizontal
// text, leftwards for text turned clockwise, ...), so that "below" reads the
// same for every direction.
double Forward(double Position, TLineDirection Direction) {
    return Direction == TLineDirection::dlHorizontal || Direction == TLineDirection::dlUp ? Position : -Position;
}

struct TOpenLine {
    TLayoutLine Line;
    double Baseline = 0;
    double Size = 0;
    QRectF LastWordBox;
};

bool ContinuesLine(const TOpenLine& Line, const TPlacedWord& Word) {
    if (Line.Line.Words.isEmpty() || Word.Direction != Line.Line.Direction) return false;
    const double size = qMax(Line.Size, SizeOf(Word));
    if (std::abs(Word.Baseline - Line.Baseline) > MaxBaselineShift * size) return false;
    return Gap(Along(Line.LastWordBox, Word.Direction), Along(Word.Word.Box, Word.Direction)) <= MaxWordGap * size;
}

bool ContinuesBlock(const TLayoutBlock& Block, const TLayoutLine& Line) {
    if (Block.Lines.isEmpty()) return false;
    const TLayoutLine& last = Block.Lines.constLast();
    const TLineDirection direction = Line.Direction;
    if (direction != last.Direction) return false;
    const auto lastAcross = Across(last.Box, direction);
    const auto across = Across(Line.Box, direction);
    const double height = qMax(lastAcross.second - lastAcross.first, across.second - across.first);
    // The new line's leading edge against the last line's trailing edge, both
    // measured in the direction in which lines follow each other.
    const bool forwards = Forward(1, direction) > 0;
    const double lastEnd = forwards ? lastAcross.second : -lastAcross.first;
    const double start = forwards ? across.first : -across.second;
    const double gap = start - lastEnd;
    if (gap > MaxLineGap * height || gap < -MaxLineOverlap * height) return false;
    const auto blockAlong = Along(Block.Box, direction);
    const auto along = Along(Line.Box, direction);
    return qMin(blockAlong.second, along.second) > qMax(blockAlong.first, along.first);
}

void AddLine(TPageLayout& Layout, TLayoutLine&& Line) {
    if (Line.Words.isEmpty()) return;
    if (Layout.Blocks.isEmpty() || !ContinuesBlock(Layout.Blocks.constLast(), Line)) Layout.Blocks.append(TLayoutBlock{});
    TLayoutBlock& block = Layout.Blocks.last();
    block.Box = block.Lines.isEmpty() ? Line.Box : block.Box.united(Line.Box);
    block.Lines.append(std::move(Line));
}

}  // namespace

double BaselineOf(const QRectF& Box, TLineDirection Direction) {
    switch (Direction) {
    case TLineDirection::dlHorizontal: return Box.bottom();
    case TLineDirection::dlDown: return Box.left();
    case TLineDirection::dlUpsideDown: return Box.top();
    case TLineDirection::dlUp: return Box.right();
    }
    return Box.bottom();
}

void GroupPlacedWords(TPageLayout& Layout, QList<TPlacedWord>& Words) {
    TOpenLine line;
    for (TPlacedWord& word : Words) {
        if (!ContinuesLine(line, word)) {
            AddLine(Layout, std::move(line.Line));
            line = TOpenLine{};
            line.Line.Direction = word.Direction;
            line.Line.Box = word.Word.Box;
            line.Baseline = word.Baseline;
        }
        line.Size = qMax(line.Size, SizeOf(word));
        line.LastWordBox = word.Word.Box;
        line.Line.Box = line.Line.Box.united(word.Word.Box);
        line.Line.Words.append(std::move(word.Word));
    }
    AddLine(Layout, std::move(line.Line));
}

}  // namespace layout

qsizetype TPageLayout::WordCount() const {
    qsizetype count = 0;
    for (const TLayoutBlock& block : Blocks)
        for (const TLayoutLine& line : block.Lines) count += line.Words.size();
    return count;
}

TPageLayout GroupWords(int PageNumber, const QSizeF& Size, TRotation Rotation, const QList<TLayoutWord>& Words,
                       const QList<TLineDirection>& Directions) {
    TPageLayout layout{PageNumber, Size, Rotation, {}};
    QList<layout::TPlacedWord> placed;
    placed.reserve(Words.size());
    for (qsizetype i = 0; i < Words.size(); ++i) {
        const TLineDirection direction = Directions.value(i, TLineDirection::dlHorizontal);
        placed.append(layout::TPlacedWord{Words[i], direction, layout::BaselineOf(Words[i].Box, direction)});
    }
    layout::GroupPlacedWords(layout, placed);
    return layout;
}

void UniteBoxes(TPageLayout& Layout) {
    for (TLayoutBlock& block : Layout.Blocks) {
        block.Lines.removeIf([](const TLayoutLine& line) { return line.Words.isEmpty(); });
        block.Box = {};
        for (TLayoutLine& line : block.Lines) {
            line.Box = line.Words.constFirst().Box;
            for (const TLayoutWord& word : line.Words) line.Box = line.Box.united(word.Box);
            block.Box = block.Box.isNull() ? line.Box : block.Box.united(line.Box);
        }
    }
    Layout.Blocks.removeIf([](const TLayoutBlock& block) { return block.Lines.isEmpty(); });
}

}  // namespace kestrune
