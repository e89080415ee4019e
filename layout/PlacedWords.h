// What the grouping of words into lines and blocks needs of each word beyond
// its public record: the direction its characters advance in and where its
// baseline lies. Shared by the text layer's reader and GroupWords.
#pragma once

#include <QList>

#include <kestrune/PageLayout.h>

namespace kestrune::layout {

struct TPlacedWord {
    TLayoutWord Word;
    TLineDirection Direction = TLineDirection::dlHorizontal;
    // The baseline's position across the direction of reading: y for
    // horizontal lines (x for vertical ones), in page points.
    double Baseline = 0;
};

}  // namespace kestrune::layout

Q_DECLARE_TYPEINFO(kestrune::layout::TPlacedWord, Q_RELOCATABLE_TYPE);

namespace kestrune::layout {

// The position of Box's edge that a baseline of Direction lies nearest to:
// the glyphs' feet (the bottom of horizontal text, the left of text turned
// clockwise, ...). For words without a known baseline.
double BaselineOf(const QRectF& Box, TLineDirection Direction);

// Groups Words, in reading order, into the lines and blocks of Layout (whose
// page number, size and rotation are already set).
void GroupPlacedWords(TPageLayout& Layout, QList<TPlacedWord>& Words);

}  // namespace kestrune::layout
