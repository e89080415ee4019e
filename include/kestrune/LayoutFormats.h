// Page layouts (PageLayout.h) written in the formats that search indexes,
// viewers and OCR tools read, and as text that keeps the page's arrangement.
//
// Each writer appends one page's bytes (UTF-8) to Out, so that a document is
// written page by page: a file's header first (TsvHeader, HocrPrologue), then
// its pages in order, then its footer (HocrEpilogue). Boxes are in points with
// the origin at the top left of the shown page.
#pragma once

#include <QByteArray>
#include <QString>

#include <kestrune/PageLayout.h>
#include <kestrune/PageStructure.h>

namespace kestrune {

// ---- TSV: the tab-separated word table of pdftotext and Tesseract -----------
// Columns: level page_num par_num block_num line_num word_num left top width
// height conf text (pdftotext's header; Tesseract names the same columns with
// block_num before par_num, so read them by name). A page row (level 1), then
// for each block a block row (level 2), for each of its paragraphs a paragraph
// row (level 3), and for each of their lines a line row (level 4) followed by
// its word rows (level 5), as Tesseract writes them. Blocks, paragraphs,
// lines and words are numbered from 1 within what holds them (par_num 0 on
// page and block rows). Boxes in points with two decimals; conf -1 and an
// empty text on all but word rows. A tab or line break inside a word's text
// is written as a space.

// The header line, LF included.
QByteArray TsvHeader();
void AppendTsvPage(QByteArray& Out, const TPageLayout& Page);

// ---- JSON Lines -------------------------------------------------------------
// One compact JSON object per page, on one line ending in LF, its keys in
// this order (the page's number first):
//   {"page":1,"width":612,"height":792,"rotation":0,"blocks":[{"bbox":[l,t,r,b],
//    "lines":[{"bbox":[...],"direction":0,"paragraph":1,"words":[{"text":"...",
//    "bbox":[...],"font":"...","size":10,"bold":false,"italic":false,"conf":100}]}]}]}
// rotation is the page's in degrees; direction the line's in quarter turns
// (TLineDirection); paragraph the number of the line's paragraph within its
// block, from 1; bbox is left, top, right, bottom in points, to 1/100.
// With the page's Structure (StructurePage of the same layout), each block
// has its "role" (RoleName) after its bbox, and a heading its "level": the
// role of the block's first line; a line where a piece of another role starts
// within the block (a heading's paragraph after it) has its own "role" (and
// "level") after its "paragraph".
void AppendJsonPage(QByteArray& Out, const TPageLayout& Page, const TPageStructure* Structure = nullptr);

// ---- hOCR -------------------------------------------------------------------
// An XHTML document: a div "ocr_page" per page ("bbox 0 0 W H; ppageno N-1"),
// holding a div "ocr_carea" per block, a p "ocr_par" per paragraph, a span
// "ocr_line" per line and a span "ocrx_word" per word ("bbox l t r b;
// x_wconf C; x_font "F"; x_fsize S", and for a bold or italic font a CSS style
// attribute "font-weight:bold;font-style:italic"), boxes and sizes in whole
// points (boxes outwards). The head's meta elements name the system, its
// capabilities and the languages (ocr-langs, as <html lang>). The font's name
// F is written without the quotes, backslashes and semicolons it may hold, so
// that it stays one property. Characters that XML cannot carry (see IsXmlText) are written as
// U+FFFD, so the document is always well-formed.

// Whether Text can stand in XML as it is: it holds no control character but
// tab and line breaks, no surrogate outside a pair, no U+FFFE or U+FFFF.
bool IsXmlText(QStringView Text);

// Everything before the first page, up to and including <body>; Title names
// the document in its <title>.
QByteArray HocrPrologue(const QString& Title);
void AppendHocrPage(QByteArray& Out, const TPageLayout& Page);
// Everything after the last page.
QByteArray HocrEpilogue();

// ---- Layout text ------------------------------------------------------------
// The page as a reader sees it: each line of the page one line of text, the
// lines side by side on the page (columns, table cells) side by side in the
// text, each placed by its left edge on a grid of character cells as wide as
// the page's average character; a wide gap between lines of the page gives an
// empty line. The grid spans the page's width (Size): a line starting left or
// right of the page stands at that edge of the grid, so spaces never carry a
// line past the page's width. Lines of a row whose boxes stand farther apart
// than a word space are written at least two spaces apart, and consecutive
// rows of several lines each (a table) place their lines on shared columns.
// Lines that do not read left to right follow,
// one per text line, in reading order. Every line ends with LineEnd, the page
// with a form feed.
void AppendLayoutText(QByteArray& Out, const TPageLayout& Page, const char* LineEnd = "\n");

// ---- Reading text -----------------------------------------------------------
// The page's text in the layout's reading order (columns one after the other,
// a margin note after the paragraph beside it): each line of the page one line
// of text, its words separated by single spaces, an empty line between
// paragraphs and between blocks. A word hyphenated at the end of a line is
// written whole at the end of that line, as ReadableText (PageText.h) joins
// it. Every line ends with LineEnd; a page without words adds nothing.
void AppendReadingText(QByteArray& Out, const TPageLayout& Page, const char* LineEnd = "\n");

// ---- Markdown ---------------------------------------------------------------
// CommonMark with GitHub's tables and footnotes: a heading as "#" to "######"
// by its level, a paragraph (or caption) as one line, list items as "- " or
// "N. " lines, nested by two or three spaces as their depth, a table as a pipe
// table (its header row empty when the page sets none apart), code fenced
// with backticks. Running heads and page numbers are left out. A footnote is
// written as "[^P-M]: text" (P the page, M its mark) after the page's blocks,
// its mark in the text before it becoming "[^P-M]"; the words of a link
// (TStructuredBlock::Links) become "[words](<address>)". Text is escaped where
// CommonMark would read markup into it. PageMark starts the page with
// "<!-- page N -->". Every block ends with an empty line; a page without text
// adds nothing (nor its mark).
void AppendMarkdownPage(QByteArray& Out, const TPageStructure& Page, bool PageMark = false);

// Joins the paragraph that ends Previous (a page's Markdown, before its
// footnotes) with the one Next starts, when the sentence goes on: Previous's
// ends without a sentence's final stop and Next's starts in lower case. The
// line moves from Next to Previous (a word hyphenated across the pages
// joined). Both are left as they are otherwise.
void JoinMarkdownPages(QByteArray& Previous, QByteArray& Next);

}  // namespace kestrune
