// The font a text layer's words are set in: Tesseract's glyphless font
// (pdf.ttf in its language data folder), given a character map.
//
// Tesseract's file has one blank glyph and an empty character map; its own PDF
// writer maps every code to that glyph through a CIDToGIDMap and writes an
// identity ToUnicode map. The engine's font loader writes neither: it numbers
// the codes by glyph and builds the ToUnicode map and the widths from the
// font's character map, so that text is set by the characters it stands for.
// The program made here keeps Tesseract's tables and gives each character of
// the Basic Multilingual Plane a blank glyph of its own, so the engine maps
// every one of them both ways. Blank glyphs cost nothing but their entries,
// which compress to under a kilobyte; the document carries the program once.
// Only the space has an outline (see WordPlacement.h).
#pragma once

#include <QByteArray>
#include <QString>

namespace kestrune::textlayer {

// The program's metrics, in em: every glyph's advance, the space's (short, so
// that the space after a word stays clear of the next word), and the ascent
// and descent, which make up one em between them so that a word set in a
// font size equal to its line's height fills exactly that height.
inline constexpr double kGlyphAdvance = 0.5;
inline constexpr double kSpaceAdvance = 0.125;
inline constexpr double kAscent = 0.8;
inline constexpr double kDescent = 0.2;

// The program made from TesseractFont, the bytes of a TrueType font (its
// head, hhea and maxp tables are required; OS/2, name and post are kept when
// present). Raises EPdfError "... is not a TrueType font" naming FileName.
QByteArray GlyphlessFontProgram(const QByteArray& TesseractFont, const QString& FileName);

// Text as the program can set it: every character outside the program's
// repertoire (controls, characters beyond the Basic Multilingual Plane, lone
// surrogates, non-characters) replaced by U+FFFD, so that a word keeps its
// length and never becomes a code the document cannot read back.
QString SettableText(const QString& Text);

}  // namespace kestrune::textlayer
