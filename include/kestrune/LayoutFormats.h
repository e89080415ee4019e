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

namespace kestrune {

// ---- TSV: the tab-separated word table of pdftotext and Tesseract -----------
// Columns: level page_num par_num block_num line_num word_num left top width
// height conf text (pdftotext's header; Tesseract names the same columns with
// block_num before par_num, so read them by name). A page row (level 1), then for each block a block row
// (level 2), and for each of its lines a line row (level 4) followed by its word
// rows (level 5). Blocks, lines and words are numbered from 1 within what holds
// them; a block is one paragraph (par_num 1). Boxes in points with two
// decimals; conf -1 and an empty text on all but word rows. A tab or line
// break inside a word's text is written as a space.

// The header line, LF included.
QByteArray TsvHeader();
void AppendTsvPage(QByteArray& Out, const TPageLayout& Page);

// ---- JSON Lines -------------------------------------------------------------
// One compact JSON object per page, on one line ending in LF:
//   {"page":1,"width":612,"height":792,"rotation":0,"blocks":[{"bbox":[l,t,r,b],
//    "lines":[{"bbox":[...],"direction":0,"words":[{"text":"...","bbox":[...],
//    "font":"...","size":10,"conf":100}]}]}]}
// rotation is the page's in degrees; direction the line's in quarter turns
// (TLineDirection); bbox is left, top, right, bottom in points, to 1/100.
void AppendJsonPage(QByteArray& Out, const TPageLayout& Page);

// ---- hOCR -------------------------------------------------------------------
// An XHTML document: a div "ocr_page" per page ("bbox 0 0 W H; ppageno N-1"),
// holding a div "ocr_carea" per block, a span "ocr_line" per line and a span
// "ocrx_word" per word ("bbox l t r b; x_wconf C; x_font "F"; x_fsize S"),
// boxes in whole points (outwards). The font's name F is written without the
// quotes, backslashes and semicolons it may hold, so that it stays one
// property. Characters that XML cannot carry (see IsXmlText) are written as
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
// line past the page's width. Lines that do not read left to right follow,
// one per text line, in reading order. Every line ends with LineEnd, the page
// with a form feed.
void AppendLayoutText(QByteArray& Out, const TPageLayout& Page, const char* LineEnd = "\n");

}  // namespace kestrune
