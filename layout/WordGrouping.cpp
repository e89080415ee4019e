// Words into lines, lines into blocks, blocks into reading order.
//
// Words come roughly in reading order (documents and recognisers both give
// them so), so a word that starts a new line is one that does not continue the
// line before. Such a line may still hold runs of words that a reader takes
// apart: a margin note set on the same baseline as the body's line, a table's
// cells, two columns the engine gives line by line. A gap much wider than the
// line's word spacing is cut when the lines above or below leave the same
// strip free (a gutter runs down the page; the wide space of a loose line
// does not). Lines then join the block whose last line they follow closely
// below, so the lines of a column, or of a margin note, keep together even
// when the words of the two come interleaved. Blocks keep the order in which
// their words come, but a block follows any block above it that it overlaps
// across, and a margin note follows the paragraph beside it.
#include <algorithm>
#include <cmath>
#include <limits>
#include <queue>
#include <vector>

#include <QVarLengthArray>

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
// A gap within a line that may set two runs apart: at least this part of the
// size (a margin note's or a table column's separation; a word space is a
// third of it), and at least this many times the line's narrowest other gap
// (its word spacing, counted as at most half the size).
constexpr double MinGutter = 0.8;
constexpr double GutterToSpacing = 2.0;
constexpr double MaxWordSpacing = 0.5;
// A line whose neighbour reaches this near (in multiples of the size) to a
// gap's strip shows whether the strip runs on down the page.
constexpr double GutterReach = 0.5;
// The least width of a gap's strip that its neighbours leave free, in
// multiples of the size: more than a word space.
constexpr double MinFreeStrip = 0.6;
// A line of this many words is running text: it joins the block it continues
// even past blocks begun beside it since (the other column of two given line
// by line). A shorter one does so only past the lines of a body (of at least
// BodyWords words) at least BodyToNote times as wide as itself (the body
// beside a margin note), so that the cells of a table, row by row, stay
// blocks of their own in the order of their rows.
constexpr int RunningTextWords = 6;
constexpr int BodyWords = 8;
constexpr double BodyToNote = 2.0;
// A line starts a paragraph when it stands this part of its height farther
// below the line before than the block's lines do from each other (their
// median distance; the usual leading for a block of two lines), or when it
// starts this part of the size farther along than the line before (indented).
constexpr double ParagraphSkip = 0.35;
constexpr double UsualLeading = 1.2;
constexpr double ParagraphIndent = 0.5;

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
// How far two intervals overlap; negative when they stand apart.
double Overlap(std::pair<double, double> A, std::pair<double, double> B) {
    return qMin(A.second, B.second) - qMax(A.first, B.first);
}

// The size that the thresholds scale with: the font size, else the box's
// extent across the line.
double SizeOf(const TLayoutWord& Word, TLineDirection Direction) {
    if (Word.FontSize > 0) return Word.FontSize;
    const auto across = Across(Word.Box, Direction);
    return across.second - across.first;
}

// Where the lines of a block go next: the position across the direction of
// reading that grows from one line to the next (down the page for horizontal
// text, leftwards for text turned clockwise, ...), so that "below" reads the
// same for every direction.
double Forward(double Position, TLineDirection Direction) {
    return Direction == TLineDirection::dlHorizontal || Direction == TLineDirection::dlUp ? Position : -Position;
}

// The line being found: its direction, baseline, largest size so far and its
// last word's box.
struct TOpenLine {
    bool Empty = true;
    TLineDirection Direction = TLineDirection::dlHorizontal;
    double Baseline = 0;
    double Size = 0;
    QRectF LastWordBox;
};

bool ContinuesLine(const TOpenLine& Line, const TPlacedWord& Word) {
    if (Line.Empty || Word.Direction != Line.Direction) return false;
    const double size = qMax(Line.Size, SizeOf(Word.Word, Word.Direction));
    if (std::abs(Word.Baseline - Line.Baseline) > MaxBaselineShift * size) return false;
    return Gap(Along(Line.LastWordBox, Word.Direction), Along(Word.Word.Box, Word.Direction)) <= MaxWordGap * size;
}

// A line as built, with the largest size of its words.
struct TBuiltLine {
    TLayoutLine Line;
    double Size = 0;
};

double LineSize(const TLayoutLine& Line) {
    double size = 0;
    for (const TLayoutWord& word : Line.Words) size = qMax(size, SizeOf(word, Line.Direction));
    return size;
}

QRectF UnitedBox(const QList<TLayoutWord>& Words) {
    QRectF box = Words.constFirst().Box;
    for (const TLayoutWord& word : Words) box = box.united(word.Box);
    return box;
}

// Whether the strip From..To along Line (a gap between two of its words) runs
// on through the lines next to it: at least one line just above or below
// reaches the strip, and those that do leave a part of it free as wide as a
// wide word space, the same part for all. The wide space of a loose line has
// words of the lines around it above and below it; a gutter, or the space
// before a margin, has none; a table's column keeps the gap between its
// widest cells and the next column free.
bool StripRunsOn(const QList<TBuiltLine>& Lines, qsizetype Index, double From, double To) {
    const TBuiltLine& line = Lines[Index];
    const TLineDirection direction = line.Line.Direction;
    const auto across = Across(line.Line.Box, direction);
    const double height = across.second - across.first;
    const double reach = GutterReach * line.Size;
    const double least = MinFreeStrip * line.Size;
    int neighbours = 0;
    for (qsizetype i = 0; i < Lines.size(); ++i) {
        const TLayoutLine& other = Lines[i].Line;
        if (i == Index || other.Direction != direction) continue;
        const auto otherAcross = Across(other.Box, direction);
        const double otherHeight = otherAcross.second - otherAcross.first;
        // A line of another row, next to this one.
        if (Overlap(across, otherAcross) > MaxLineOverlap * qMin(height, otherHeight)) continue;
        if (Gap(across, otherAcross) > MaxLineGap * qMax(height, otherHeight)) continue;
        if (Overlap(Along(other.Box, direction), {From - reach, To + reach}) < 0) continue;
        // The widest part of the strip that the line's words leave free.
        double bestFrom = From, bestTo = From, freeFrom = From;
        for (const TLayoutWord& word : other.Words) {
            const auto along = Along(word.Box, direction);
            if (along.second <= freeFrom || along.first >= To) continue;
            if (along.first - freeFrom > bestTo - bestFrom) bestFrom = freeFrom, bestTo = along.first;
            freeFrom = qMax(freeFrom, along.second);
        }
        if (To - freeFrom > bestTo - bestFrom) bestFrom = freeFrom, bestTo = To;
        From = bestFrom;
        To = bestTo;
        if (To - From < least) return false;
        ++neighbours;
    }
    return neighbours > 0;
}

// Line Index cut into runs at the gaps that set its words apart.
QList<TBuiltLine> CutAtGutters(const QList<TBuiltLine>& Lines, qsizetype Index) {
    const TBuiltLine& line = Lines[Index];
    const QList<TLayoutWord>& words = line.Line.Words;
    const TLineDirection direction = line.Line.Direction;
    QVarLengthArray<double, 64> gaps;
    for (qsizetype i = 1; i < words.size(); ++i)
        gaps.append(Gap(Along(words[i - 1].Box, direction), Along(words[i].Box, direction)));
    // The narrowest gap and the next: each gap's narrowest other.
    qsizetype narrowest = 0;
    for (qsizetype i = 1; i < gaps.size(); ++i)
        if (gaps[i] < gaps[narrowest]) narrowest = i;
    double second = std::numeric_limits<double>::max();
    for (qsizetype i = 0; i < gaps.size(); ++i)
        if (i != narrowest) second = qMin(second, gaps[i]);
    QVarLengthArray<qsizetype, 8> cuts;  // the words that start a run
    for (qsizetype i = 0; i < gaps.size(); ++i) {
        const double spacing = qMin(MaxWordSpacing * line.Size, i == narrowest ? second : gaps[narrowest]);
        if (gaps[i] <= qMax(MinGutter * line.Size, GutterToSpacing * spacing)) continue;
        const auto before = Along(words[i].Box, direction), after = Along(words[i + 1].Box, direction);
        // Either way along the line: right-to-left script advances backwards.
        const double from = before.second <= after.first ? before.second : after.second;
        const double to = before.second <= after.first ? after.first : before.first;
        if (StripRunsOn(Lines, Index, from, to)) cuts.append(i + 1);
    }
    if (cuts.isEmpty()) return {line};
    cuts.append(words.size());
    QList<TBuiltLine> runs;
    qsizetype from = 0;
    for (const qsizetype to : cuts) {
        TBuiltLine run;
        run.Line.Direction = direction;
        run.Line.Words = words.mid(from, to - from);
        run.Line.Box = UnitedBox(run.Line.Words);
        run.Size = LineSize(run.Line);
        runs.append(std::move(run));
        from = to;
    }
    return runs;
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

double Extent(const QRectF& Box, TLineDirection Direction) {
    const auto along = Along(Box, Direction);
    return along.second - along.first;
}

// The lines in blocks, each block in the order its first line came.
QList<TLayoutBlock> GroupLines(QList<TBuiltLine>& Lines) {
    QList<TLayoutBlock> blocks;
    QList<qsizetype> recent;  // the blocks, the one a line joined last first
    for (TBuiltLine& built : Lines) {
        TLayoutLine& line = built.Line;
        const double extent = Extent(line.Box, line.Direction);
        // Whether every block passed over so far is running text at least
        // twice as wide as the line.
        bool besideBody = true;
        qsizetype joined = -1;
        for (qsizetype r = 0; r < recent.size(); ++r) {
            const TLayoutBlock& block = blocks[recent[r]];
            if (r > 0 && line.Words.size() < RunningTextWords && !besideBody) break;
            if (ContinuesBlock(block, line)) {
                joined = r;
                break;
            }
            const TLayoutLine& last = block.Lines.constLast();
            besideBody = besideBody && last.Words.size() >= BodyWords &&
                         Extent(block.Box, last.Direction) >= BodyToNote * extent;
        }
        qsizetype index;
        if (joined < 0) {
            index = blocks.size();
            blocks.append(TLayoutBlock{line.Box, {}});
        } else {
            index = recent.takeAt(joined);
            blocks[index].Box = blocks[index].Box.united(line.Box);
        }
        recent.prepend(index);
        blocks[index].Lines.append(std::move(line));
    }
    return blocks;
}

double Median(QList<double> Values) {
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

// Marks the lines of Block that start a paragraph after its first.
void MarkParagraphs(TLayoutBlock& Block) {
    QList<TLayoutLine>& lines = Block.Lines;
    if (lines.size() < 2) return;
    const TLineDirection direction = lines.constFirst().Direction;
    const bool forwards = Forward(1, direction) > 0;
    const auto position = [&](const TLayoutLine& Line) {
        const auto across = Across(Line.Box, direction);
        return forwards ? across.first : -across.second;
    };
    const auto height = [&](const TLayoutLine& Line) {
        const auto across = Across(Line.Box, direction);
        return across.second - across.first;
    };
    QList<double> distances;
    for (qsizetype i = 1; i < lines.size(); ++i) distances.append(position(lines[i]) - position(lines[i - 1]));
    const double usual = lines.size() >= 3 ? Median(distances) : UsualLeading * height(lines[0]);
    // Along the line's direction of reading: the start of a right-to-left
    // line is its right edge, which the words' order does not show, so only
    // the left (or top) edge is compared.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const double skip = distances[i - 1] - usual;
        const double indent = Along(lines[i].Box, direction).first - Along(lines[i - 1].Box, direction).first;
        lines[i].StartsParagraph = skip > ParagraphSkip * height(lines[i]) || indent > ParagraphIndent * LineSize(lines[i]);
    }
}

// A margin note: a block beside a wider one of running text (its host, with a
// line of BodyWords words at least) that reaches over the note's top, in a
// strip of the page that no block as wide as half the host takes (the other
// column of a page has blocks as wide as the first's; a table's narrow cells
// stand beside cells, not running text).
struct TNote {
    qsizetype Note = 0;
    qsizetype Host = 0;
    qsizetype After = 0;  // the host's line after which the note is read
};

QList<TNote> FindNotes(const QList<TLayoutBlock>& Blocks) {
    QList<TNote> notes;
    const auto horizontal = [](const TLayoutBlock& Block) {
        return Block.Lines.constFirst().Direction == TLineDirection::dlHorizontal;
    };
    const auto horizontally = [](const QRectF& Box) { return std::pair{Box.left(), Box.right()}; };
    for (qsizetype n = 0; n < Blocks.size(); ++n) {
        const TLayoutBlock& note = Blocks[n];
        if (!horizontal(note)) continue;
        const double top = note.Lines.constFirst().Box.center().y();
        qsizetype host = -1;
        double nearest = std::numeric_limits<double>::max();
        for (qsizetype h = 0; h < Blocks.size(); ++h) {
            const QRectF& box = Blocks[h].Box;
            if (h == n || !horizontal(Blocks[h]) || box.width() < BodyToNote * note.Box.width()) continue;
            if (!std::any_of(Blocks[h].Lines.begin(), Blocks[h].Lines.end(),
                             [](const TLayoutLine& Line) { return Line.Words.size() >= BodyWords; }))
                continue;
            if (top < box.top() || top > box.bottom()) continue;
            if (Overlap(horizontally(box), horizontally(note.Box)) > 0) continue;
            const double distance = Gap(horizontally(box), horizontally(note.Box));
            if (distance < nearest) {
                nearest = distance;
                host = h;
            }
        }
        if (host < 0) continue;
        const double hostWidth = Blocks[host].Box.width();
        bool strip = true;
        for (qsizetype o = 0; o < Blocks.size() && strip; ++o)
            strip = o == n || Overlap(horizontally(Blocks[o].Box), horizontally(note.Box)) <= 0 ||
                    Blocks[o].Box.width() * BodyToNote < hostWidth;
        if (!strip) continue;
        // The host's paragraph beside the note's first line, to its end.
        const QList<TLayoutLine>& lines = Blocks[host].Lines;
        qsizetype beside = 0;
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].Box.top() <= top) beside = i;
        qsizetype after = beside;
        while (after + 1 < lines.size() && !lines[after + 1].StartsParagraph) ++after;
        notes.append({n, host, after});
    }
    // A host is read as a body, never as a note of another block.
    notes.removeIf([&](const TNote& Note) {
        return std::any_of(notes.begin(), notes.end(), [&](const TNote& Other) { return Other.Host == Note.Note; });
    });
    return notes;
}

// The blocks in reading order: margin notes after the paragraph beside them
// (their host cut there into two blocks), then every block after the blocks
// above it that it overlaps across, the order of the words kept wherever that
// leaves a choice.
QList<TLayoutBlock> ReadingOrder(QList<TLayoutBlock>&& Blocks) {
    const QList<TNote> notes = FindNotes(Blocks);
    QList<bool> isNote(Blocks.size(), false);
    for (const TNote& note : notes) isNote[note.Note] = true;
    QList<TLayoutBlock> ordered;
    ordered.reserve(Blocks.size() + notes.size());
    for (qsizetype b = 0; b < Blocks.size(); ++b) {
        if (isNote[b]) continue;
        QList<TNote> hosted;
        for (const TNote& note : notes)
            if (note.Host == b) hosted.append(note);
        if (hosted.isEmpty()) {
            ordered.append(std::move(Blocks[b]));
            continue;
        }
        std::stable_sort(hosted.begin(), hosted.end(), [&](const TNote& x, const TNote& y) {
            return x.After < y.After || (x.After == y.After && Blocks[x.Note].Box.top() < Blocks[y.Note].Box.top());
        });
        const QList<TLayoutLine>& lines = Blocks[b].Lines;
        qsizetype from = 0;
        for (qsizetype i = 0; i <= hosted.size(); ++i) {
            const qsizetype to = i < hosted.size() ? hosted[i].After + 1 : lines.size();
            if (to > from) {
                TLayoutBlock part;
                part.Lines = lines.mid(from, to - from);
                part.Lines.first().StartsParagraph = false;
                part.Box = part.Lines.constFirst().Box;
                for (const TLayoutLine& line : part.Lines) part.Box = part.Box.united(line.Box);
                ordered.append(std::move(part));
                from = to;
            }
            if (i < hosted.size()) ordered.append(std::move(Blocks[hosted[i].Note]));
        }
    }

    // Kahn's order over "above and overlapping across", taking the earliest
    // block free to go each time.
    const qsizetype count = ordered.size();
    // The edges "a before b" as pairs, then gathered by their first block.
    std::vector<std::pair<qsizetype, qsizetype>> edges;
    QList<int> preceding(count, 0);
    for (qsizetype a = 0; a < count; ++a) {
        const TLayoutBlock& x = ordered[a];
        if (x.Lines.constFirst().Direction != TLineDirection::dlHorizontal) continue;
        for (qsizetype b = 0; b < count; ++b) {
            const TLayoutBlock& y = ordered[b];
            if (a == b || y.Lines.constFirst().Direction != TLineDirection::dlHorizontal) continue;
            if (x.Box.top() >= y.Box.top() || x.Box.bottom() > y.Box.top() + MaxLineOverlap * y.Lines.constFirst().Box.height())
                continue;
            if (Overlap({x.Box.left(), x.Box.right()}, {y.Box.left(), y.Box.right()}) <= 0) continue;
            edges.emplace_back(a, b);
            ++preceding[b];
        }
    }
    // Edges come ordered by their first block: block a's followers are
    // edges[first[a]] up to edges[first[a + 1]].
    std::vector<qsizetype> first(count + 1, 0);
    for (const auto& edge : edges) ++first[edge.first + 1];
    for (qsizetype i = 0; i < count; ++i) first[i + 1] += first[i];
    std::priority_queue<qsizetype, std::vector<qsizetype>, std::greater<>> free;
    for (qsizetype i = 0; i < count; ++i)
        if (preceding[i] == 0) free.push(i);
    QList<TLayoutBlock> result;
    result.reserve(count);
    while (!free.empty()) {
        const qsizetype i = free.top();
        free.pop();
        result.append(std::move(ordered[i]));
        for (qsizetype e = first[i]; e < first[i + 1]; ++e)
            if (--preceding[edges[e].second] == 0) free.push(edges[e].second);
    }
    return result;
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
    // Where each line starts and its size, found first so that each line's
    // words are moved once into a list of the right size.
    QList<std::pair<qsizetype, double>> starts;
    TOpenLine line;
    for (qsizetype w = 0; w < Words.size(); ++w) {
        const TPlacedWord& word = Words[w];
        if (!ContinuesLine(line, word)) {
            if (!line.Empty) starts.last().second = line.Size;
            starts.append({w, 0.0});
            line = TOpenLine{false, word.Direction, word.Baseline, 0, {}};
        }
        line.Size = qMax(line.Size, SizeOf(word.Word, word.Direction));
        line.LastWordBox = word.Word.Box;
    }
    if (!line.Empty) starts.last().second = line.Size;
    QList<TBuiltLine> lines;
    lines.reserve(starts.size());
    for (qsizetype l = 0; l < starts.size(); ++l) {
        const qsizetype from = starts[l].first, to = l + 1 < starts.size() ? starts[l + 1].first : Words.size();
        TBuiltLine built;
        built.Size = starts[l].second;
        built.Line.Direction = Words[from].Direction;
        built.Line.Box = Words[from].Word.Box;
        built.Line.Words.reserve(to - from);
        for (qsizetype w = from; w < to; ++w) {
            built.Line.Box = built.Line.Box.united(Words[w].Word.Box);
            built.Line.Words.append(std::move(Words[w].Word));
        }
        lines.append(std::move(built));
    }

    QList<TBuiltLine> runs;
    runs.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].Line.Words.size() < 2)
            runs.append(lines[i]);
        else
            runs.append(CutAtGutters(lines, i));
    }
    QList<TLayoutBlock> blocks = GroupLines(runs);
    for (TLayoutBlock& block : blocks) MarkParagraphs(block);
    Layout.Blocks = ReadingOrder(std::move(blocks));
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
    TPageLayout layout{PageNumber, Size, Rotation, {}, {}};
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
