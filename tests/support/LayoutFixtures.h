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
    LayoutFixturePageCount = BeyondBmpPage
};

QByteArray LayoutFixturePdf();

}  // namespace testing_support
