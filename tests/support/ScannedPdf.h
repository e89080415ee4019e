// Scanned-page fixtures: pages of big type, and the same pages as a scanner
// gives them (grey pixels in an image, no text), for the recognition tests.
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

// The engine's grey rendering, at Dpi, of a PageSize page showing Lines as
// above, as the page is shown.
QImage RenderedWords(const QStringList& Lines, int Dpi, QSizeF PageSize = kWordsPageSize,
                     const PageGeometry& Geometry = {});

// The words of Text (split at any white space), for comparing recognised text.
QStringList WordsOf(const QString& Text);

}  // namespace testing_support
