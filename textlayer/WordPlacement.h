// Where a text layer's words go: each recognised word of a page, set in the
// glyphless font, placed over the word on the page as shown.
#pragma once

#include <QList>
#include <QString>
#include <QTransform>

#include <kestrune/PageLayout.h>
#include "component/PageGeometry.h"

namespace kestrune::textlayer {

// One word as a text object: its text, followed by a space, its font size
// and its text matrix in page space. The space separates it from the next
// word for readers that do not judge gaps; it also gives the text the extent
// of the line's band, for the engine, which sees none in blank glyphs (see
// GlyphlessFont.h): without it a word of one character, or any word on a page
// turned a quarter, would be missing from the engine's text.
struct TPlacedWord {
    QString Text;
    float FontSize = 0;
    QTransform Matrix;
};

// Layout's words in reading order, on the page Frame describes. Each line's
// words share one font size, the line's height across its direction, and one
// baseline, at the font's descent above the line's foot, so that a word's
// ascent-to-descent band covers its line's box; each word starts where its
// box starts along the line and is scaled along the line to its box's length.
// Words whose text is empty are left out. Raises EPdfError for a word whose
// box is not finite, before anything is placed.
QList<TPlacedWord> PlaceWords(const TPageLayout& Layout, const TPageFrame& Frame);

}  // namespace kestrune::textlayer
