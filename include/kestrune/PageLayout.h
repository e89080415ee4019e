// The words of a page with their places: words grouped into lines and lines
// into blocks, each with its box on the page.
//
// Boxes are in points (1/72 inch) with the origin at the top left corner of the
// page as it is shown, its rotation applied: x grows to the right, y downwards.
// That is the convention of the word formats that read them (TSV, hOCR,
// JSON Lines; see LayoutFormats.h).
//
// A page's layout comes from its text layer (ReadPageLayout) or from words that
// were recognised on an image of the page (GroupWords).
#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <kestrune/FPdf.h>

namespace kestrune {

// One word: characters between spaces on one line.
struct TLayoutWord {
    QString Text;
    // The word's box: for a text layer the characters' font boxes (advance
    // width, ascent to descent), for recognised words the recogniser's box.
    QRectF Box;
    // The font's name as the document gives it (a subset prefix such as
    // "ABCDEF+" included); empty when unknown (recognised words).
    QString FontName;
    // The font size in points; 0 when unknown.
    double FontSize = 0;
    // How sure the words' source is of the text, 0 to 100: always 100 for a
    // text layer, the recogniser's value for recognised words.
    double Confidence = 100;
    // Whether the font is bold or italic (oblique): from the font's flags and
    // weight as the document declares them, else from its name (TeX's fonts,
    // such as CMBX10 or CMTI10, declare neither). False when unknown.
    bool Bold = false;
    bool Italic = false;
};

}  // namespace kestrune

// Moved as bytes when a list of words grows (a page has thousands).
Q_DECLARE_TYPEINFO(kestrune::TLayoutWord, Q_RELOCATABLE_TYPE);

namespace kestrune {

// The reading direction of a line, as the page is shown: the direction in which
// its characters advance, in quarter turns clockwise from left-to-right.
// Right-to-left script on a horizontal line is still dlHorizontal: its words
// stay in reading order, their boxes go leftwards.
enum class TLineDirection { dlHorizontal, dlDown, dlUpsideDown, dlUp };

// Words on one baseline, in reading order, up to a gap that sets them apart
// from the words beyond (a column's gutter, a margin, a table's cell border).
struct TLayoutLine {
    QRectF Box;  // the union of its words' boxes
    TLineDirection Direction = TLineDirection::dlHorizontal;
    QList<TLayoutWord> Words;
    // Whether the line starts a paragraph of its block after the first (it
    // stands farther below the line before than the block's lines do from
    // each other, or is indented against it). A block's first line starts its
    // first paragraph, whatever this says.
    bool StartsParagraph = false;
};

// Lines that read as one piece of text (a column's run of paragraphs, a
// margin note, a table cell), in reading order.
struct TLayoutBlock {
    QRectF Box;  // the union of its lines' boxes
    QList<TLayoutLine> Lines;
};

// A link of the page to a web address (a link annotation with a URI action).
struct TLayoutLink {
    QRectF Box;  // the annotation's rectangle, as the words' boxes
    QString Uri;
};

// One page.
struct TPageLayout {
    // The page's number in the document, counted from 1.
    int PageNumber = 0;
    // The page's size in points as it is shown (width and height swapped for
    // a page turned by a quarter).
    QSizeF Size;
    // The page's own rotation (/Rotate), already applied to every box.
    TRotation Rotation = TRotation::ro0;
    QList<TLayoutBlock> Blocks;
    // Its links to web addresses, where they were read (ReadPageLinks); else empty.
    QList<TLayoutLink> Links;

    // Whether the page has no word at all.
    bool IsEmpty() const { return Blocks.isEmpty(); }
    // The number of words on the page.
    qsizetype WordCount() const;
};

// The layout of Pdf's current page from its text layer: the engine's characters
// cut into words at white space (and where a character stands apart from the
// one before; letters set closer than a space stay one word, however far
// raised or lowered within the font's size, as in a logo like BibTeX's),
// grouped as GroupWords does. Raises the guards' messages of
// TFPdf's character members (inactive component, no current page, "Cannot open
// text page"). Holds the engine's lock while it reads.
TPageLayout ReadPageLayout(TFPdf& Pdf);

// The links to web addresses (URI actions) of Pdf's current page, their boxes
// placed as ReadPageLayout places words; none when no page is loaded (read
// the page's layout first). Holds the engine's lock while it reads.
QList<TLayoutLink> ReadPageLinks(TFPdf& Pdf);

// Groups words given in reading order (for example those a recogniser found
// on an image of the page) into lines and blocks, and orders the blocks as a
// reader reads them:
//  - a word joins the line before it when it stands on the same baseline with
//    the same Direction close after it; a line is then cut where a gap much
//    wider than its word spacing is one that the lines above or below leave
//    free as well (a column's gutter, the space before a margin note, a
//    table's column border), the runs becoming lines of their own;
//  - a line joins a block whose last line it follows closely below, with its
//    extent along the line overlapping the block's (the lines of a column,
//    or of a margin note, keep together when the engine gives them
//    interleaved with those beside them); paragraphs within a block are
//    marked (TLayoutLine::StartsParagraph);
//  - blocks follow the order in which the words start them, except that a
//    block comes after any block above it that it overlaps across (columns
//    top to bottom, left to right), and a margin note (a narrow block beside
//    a wider one, in a strip of the page that only such narrow blocks take)
//    comes after the paragraph beside its first line, its block cut there.
// Every box of lines and blocks is the union of what it holds. Directions may
// be empty (all horizontal) or hold one direction per word.
TPageLayout GroupWords(int PageNumber, const QSizeF& Size, TRotation Rotation, const QList<TLayoutWord>& Words,
                       const QList<TLineDirection>& Directions = {});

// Sets every line's and block's box to the union of what it holds, for a
// layout filled in by hand (for example from a recogniser's own blocks and
// lines); empty lines and blocks are removed.
void UniteBoxes(TPageLayout& Layout);

}  // namespace kestrune
