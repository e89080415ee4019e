// A document whose words stand at known places, for the page layout, its
// formats and kestrune-text's word formats. Text is Courier, whose glyphs all
// advance 600/1000 of the font size, so every word's box follows from where
// its run starts: at 10 pt each character is 6 pt wide.
#pragma once

#include <QByteArray>
#include <QList>

namespace testing_support {

// One text run: Text drawn at X, Y (points, PDF page space: origin bottom left).
struct PlacedRun {
    double X = 0;
    double Y = 0;
    QByteArray Text;
    double Size = 10;
    // Drawn in the font whose codes A, B, C, D name Hebrew letters (alef, bet,
    // gimel, dalet) instead of Courier.
    bool Hebrew = false;
    // Turned a quarter anticlockwise: the run reads upwards.
    bool Upwards = false;
    // Drawn in Courier whose ToUnicode map gives codes A and B characters
    // beyond U+FFFF (U+1D49C, U+1F600: surrogate pairs in UTF-16) and codes C
    // and D lone surrogates (U+D83D, U+DE00); the other codes are Courier's.
    bool BeyondBmp = false;
    // When not empty: drawn in a font of this name with Courier's widths,
    // whose descriptor declares Flags and StemV (the engine's weight is five
    // times the stem width below 140).
    QByteArray FontName = {};
    int Flags = 32;
    int StemV = 80;
};

// A page of runs, turned by Rotate degrees when shown (/Rotate).
struct PlacedPage {
    QList<PlacedRun> Runs;
    int Rotate = 0;
};

// A document of 612 x 792 pages holding the runs, in the given order.
QByteArray PlacedTextPdf(const QList<PlacedPage>& Pages);

// The pages of LayoutFixturePdf, in order (numbered from 1).
enum LayoutFixturePage {
    // Two columns of three lines, x 72 and 320, baselines 700, 688, 676; the
    // left column drawn first.
    TwoColumnsPage = 1,
    // A table of three rows (baselines 700, 680, 660) and three columns
    // (x 72, 200, 300), drawn row by row.
    TablePage,
    // A line reading upwards at x 100 from y 200, and a level line at 72, 700.
    RotatedTextPage,
    // A Hebrew word drawn in visual order (left to right: gimel bet alef) at
    // 72, 700, then a Latin word at 120, 700.
    RightToLeftPage,
    // A page without text.
    EmptyPage,
    // A page shown turned a quarter clockwise (/Rotate 90) with one line at 72, 700.
    TurnedPage,
    // A word hyphenated at the end of a line: "a long exam-" then "ple follows".
    HyphenPage,
    // Characters beyond U+FFFF and lone surrogates (PlacedRun::BeyondBmp): at
    // 72, 700 "xAy BB" (x, U+1D49C, y; two U+1F600), at 72, 680 "xCy DA"
    // (a lone high surrogate inside a word; a lone low one before U+1D49C).
    BeyondBmpPage,
    // A paragraph of three 40-character lines at x 72 (baselines 700, 688,
    // 676) with a margin note beside its first two lines at x 330 ("New
    // feature", "1995/12/01"), drawn line by line with the body's (the note
    // 18 pt right of the body, well under two font sizes), then a second
    // paragraph indented to x 90 (664, 652).
    MarginNotePage,
    // Two columns of three lines (x 72 and 270, 18 pt apart) drawn row by
    // row: the first line of the left column, the first of the right, ...
    InterleavedColumnsPage,
    // A table of three rows (700, 688, 676) whose cells stand 14 to 50 pt
    // apart on the page but follow each other with single spaces in the
    // text: "ec" "Extra Condensed" "62.5%" / "c" "Condensed" "75%" /
    // "sc" "Semi Condensed" "87.5%", the columns at x 72, 98 and 202.
    SpacedTablePage,
    // "BibTeX" with its E lowered by 4 pt and kerned into the T and the X
    // (72, 700), then "x/y" with "1" raised and "2" lowered by 4 pt over the
    // same place (150, 700): a fraction, no word.
    LogoPage,
    // Words in fonts that declare their style: "bold" (ABCDEF+Courier-Bold:
    // by name), "italic" (flags 96: italic), "heavy" (StemV 160: weight 780),
    // "slanted" (CMSL10, TeX's slanted Roman: by name), "plain" (Courier).
    StyledPage,
    LayoutFixturePageCount = StyledPage
};

QByteArray LayoutFixturePdf();

}  // namespace testing_support
