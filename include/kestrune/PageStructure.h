// What the blocks of a page are to a reader: headings with their levels,
// paragraphs, list items, tables, code, footnotes, captions, and the running
// heads and page numbers that repeat on every page and belong to no text.
//
// The roles are judged against the document as a whole: its body text's size
// and the styles its headings take are learned first (TDocumentStyle, from a
// sample of its pages), then each page is structured on its own
// (StructurePage), so that pages can be structured in any order, in parallel.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <map>

#include <kestrune/PageLayout.h>

namespace kestrune {

enum class TBlockRole { Paragraph, Heading, ListItem, Table, Code, Footnote, Caption, RunningHead, PageNumber };

// "paragraph", "heading", "list-item", "table", "code", "footnote", "caption",
// "running-head", "page-number": as the word formats name the roles.
const char* RoleName(TBlockRole Role);

// One piece of a page's text with its role, in reading order.
struct TStructuredBlock {
    TBlockRole Role = TBlockRole::Paragraph;
    // A heading's level from 1 (the document's largest heading style); a list
    // item's depth from 0 (an item of the outermost list).
    int Level = 0;
    // A list item's number when it is numbered ("3" of "3." or "3)"), else
    // empty; a footnote's mark ("1", "*").
    QString Mark;
    // The text of a paragraph, heading, list item (without its bullet or
    // number), footnote (without its mark), caption, running head or page
    // number: its lines joined by spaces, a word hyphenated at a line's end
    // joined (as ReadableText joins it).
    QString Text;
    // The links in Text: the words within each of the page's links
    // (TPageLayout::Links), joined by spaces, and the link's address.
    QList<std::pair<QString, QString>> Links;
    // Code: its lines, each indented by spaces as on the page.
    QStringList CodeLines;
    // A table: its rows, each with the same number of cells; HeaderRow when
    // the first row is set apart by its weight (bold).
    QList<QStringList> Rows;
    bool HeaderRow = false;
    // Where it stands in the page's layout: the block (index in
    // TPageLayout::Blocks) and line of its first line. A table's cells may
    // come from several blocks: each of its blocks has its lines listed in
    // Lines, as (block, line) pairs.
    qsizetype Block = -1;
    qsizetype Line = -1;
    QList<std::pair<qsizetype, qsizetype>> Lines;
};

}  // namespace kestrune

// Moved as bytes when a page's list of them grows.
Q_DECLARE_TYPEINFO(kestrune::TStructuredBlock, Q_RELOCATABLE_TYPE);

namespace kestrune {

struct TPageStructure {
    int PageNumber = 0;
    QList<TStructuredBlock> Blocks;
};

// What is learned of a document before its pages are structured: the size of
// its body text, the styles (size, weight, slant) that stand alone above body
// text (its headings, ranked by size then weight for their levels), and the
// places at the top and bottom of the page where lines come back page after
// page (running heads, page numbers).
class TDocumentStyle {
public:
    // The pages of a document of PageCount pages to learn from: every page of
    // a short document, an even spread of SampleSize pages of a long one.
    static constexpr int SampleSize = 24;
    static QList<int> SamplePages(int PageCount);

    // Learns from one page; Finish after the last.
    void Learn(const TPageLayout& Page);
    void Finish();

    // The body text's size in points; 0 when nothing was learned (a scanned
    // document: each page is then judged by its own lines).
    double BodySize() const { return FBodySize; }
    // Whether a line whose box's top or bottom (Top) stands there is in a
    // place where lines come back on most pages.
    bool InRepeatedPlace(double Top, double Bottom, double PageHeight) const;

    // A style's key: size in quarter points, bold, italic.
    struct TKey {
        int Quarters = 0;
        bool Bold = false;
        bool Italic = false;
        auto operator<=>(const TKey&) const = default;
    };
    // The styles headings took in the pages learned from.
    const std::map<TKey, int>& HeadingStyles() const { return FHeadings; }

private:
    std::map<int, qint64> FSizeCharacters;  // characters by size in quarter points
    std::map<TKey, int> FHeadingCandidates;  // short lone lines' styles, before the body size is known
    std::map<TKey, int> FHeadings;
    // The first and last lines of the pages learned from, where they stand
    // apart: their places (3 pt steps), styles and texts with their numbers
    // as "#". A place that headings take (a section starting a page) is not
    // a running head's, nor one where no text comes back (double-spaced text).
    struct TEdgeLine {
        int Place = 0;
        TKey Key;
        QString Shape;
    };
    QList<TEdgeLine> FTopLines, FBottomLines;
    QList<int> FTops, FBottoms;  // places found on most pages
    int FPages = 0;
    double FBodySize = 0;
};

// Learns the style of the document open in Pdf from the text layers of its
// SamplePages (a page that cannot be read is passed over). Pdf is left with
// no current page (page number 0).
TDocumentStyle LearnDocumentStyle(TFPdf& Pdf);

// The roles of Page's blocks. Page's blocks are cut where a block holds pieces
// of several roles (a heading and the paragraph after it), and joined where
// one piece spans several (a table's columns, a heading's number apart from
// its words).
TPageStructure StructurePage(const TPageLayout& Page, const TDocumentStyle& Style);

}  // namespace kestrune
