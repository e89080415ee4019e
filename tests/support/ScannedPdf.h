// Scanned-page fixtures: pages of big type, and the same pages as a scanner
// gives them (grey pixels in an image, no text), for the recognition tests;
// and image pages that take the engine more memory than a limit allows.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QStringList>

namespace testing_support {

// The page the fixtures use unless told otherwise: 5 x 2 inches, room for two
// lines of Helvetica 24 pt.
inline constexpr QSizeF kWordsPageSize{360, 144};

// How a page lies in its document. Shown, it always has the fixture's size
// and its lines upright; in page space it may be turned (/Rotate, degrees
// clockwise as shown, its content drawn turned the other way) and cut out of
// a larger media box (its crop box Margin points inside on every side, the
// media box's lower left corner at Origin).
struct PageGeometry {
    int Rotate = 0;
    double Margin = 0;
    QPointF Origin;
};

// A document whose pages show the given lines in Helvetica 24 pt from the top
// left. The pages whose numbers (from 1) are in Scanned hold instead the
// engine's grey rendering of such a page at Dpi, as an image filling the page,
// and no text at all. Page n lies as Geometries[n - 1] says (plainly when
// there is no such entry).
QByteArray ScannedPdf(const QList<QStringList>& Pages, const QList<int>& Scanned, int Dpi,
                      QSizeF PageSize = kWordsPageSize, const QList<PageGeometry>& Geometries = {});

// A kWordsPageSize page filled with a white grey image of Width x Height
// pixels (a few hundred kilobytes of zlib data): rendering it decodes Width x
// Height bytes.
QByteArray BigImagePdf(int Width, int Height);

// A kWordsPageSize page showing an image that its dictionary says is 100 x
// 100 pixels and whose JPEG 2000 code stream (under 200 bytes) says is Side x
// Side: rendering it makes the engine ask for Side x Side x 4 bytes at once.
QByteArray OversizedJpxPdf(int Side);

// A kWordsPageSize page showing a white JBIG2 image of Side x Side pixels
// (in some 80 bytes). At 140,000 pixels a side, a bitmap of 2.4 GB, it is
// more than the engine decodes, and the engine leaves it out of the page
// without a word.
QByteArray OversizedJbig2Pdf(int Side);

// The engine's grey rendering, at Dpi, of a PageSize page showing Lines as
// above (in type of FontSize points), as the page is shown.
QImage RenderedWords(const QStringList& Lines, int Dpi, QSizeF PageSize = kWordsPageSize, double FontSize = 24,
                     const PageGeometry& Geometry = {});

// Eight lines on a kLinesPageSize page: enough text for the page's
// orientation to show (Tesseract keeps a page with less as it lies rather
// than guess it upside down).
extern const QStringList kLines;
inline constexpr QSizeF kLinesPageSize{360, 264};

// A scanned page as real scanners give them: lines of words (as above),
// scanned at Dpi, turned or skewed, in grey or black and white with specks,
// sometimes with a line of real text stamped over the scan.
struct TScan {
    QStringList Lines = {};
    int Dpi = 200;
    double FontSize = 24;
    // The scan turned clockwise by a quarter turns (90, 180, 270): the page
    // shows the words sideways or upside down (a 90 or 270 page is as wide as
    // the upright one is high).
    int Turn = 0;
    // The scan's slant, clockwise in degrees, on a page of the same size.
    double Skew = 0;
    // One bit per pixel (black and white, as fax machines scan), with this
    // share of its pixels flipped at random (fixed seed): specks.
    bool Bilevel = false;
    double Specks = 0;
    // A line of real text (Helvetica 9 pt) stamped at the page's bottom left
    // over the scan, as copiers and fax servers add; none when empty.
    QString Stamp = {};
    // How the image is placed: turned clockwise by a quarter turns in its
    // matrix, its pixels stored turned back the other way, so that the page
    // shows it as above; and the page's own /Rotate, its content turned back
    // the other way likewise.
    int PlacedTurn = 0;
    int PageRotate = 0;
};

// The page image of Scan, upright page size PageSize, as its pixels show on
// the page (Turn and Skew applied, not PlacedTurn or PageRotate).
QImage ScanImage(const TScan& Scan, QSizeF PageSize = kWordsPageSize);

// A document of one page per scan, each showing its image over the whole page
// and nothing else (but its stamp).
QByteArray ScanPdf(const QList<TScan>& Pages, QSizeF PageSize = kWordsPageSize);

// The words of Text (split at any white space), for comparing recognised text.
QStringList WordsOf(const QString& Text);

// The share (0 to 1) of the words of Lines that Text has, each counted as
// often as it is there: for pages where Tesseract may misread a word or two.
double KnownWordsFound(const QString& Text, const QStringList& Lines);

}  // namespace testing_support
