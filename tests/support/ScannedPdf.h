// Scanned-page fixtures: pages of big type, and the same pages as a scanner
// gives them (grey pixels in an image, no text), for the recognition tests;
// and image pages that take the engine more memory than a limit allows.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSizeF>
#include <QStringList>

namespace testing_support {

// The page the fixtures use unless told otherwise: 5 x 2 inches, room for two
// lines of Helvetica 24 pt.
inline constexpr QSizeF kWordsPageSize{360, 144};

// A document whose pages show the given lines in Helvetica 24 pt from the top
// left. The pages whose numbers (from 1) are in Scanned hold instead the
// engine's grey rendering of such a page at Dpi, as an image filling the page,
// and no text at all.
QByteArray ScannedPdf(const QList<QStringList>& Pages, const QList<int>& Scanned, int Dpi,
                      QSizeF PageSize = kWordsPageSize);

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

// The engine's grey rendering, at Dpi, of a PageSize page showing Lines as above.
QImage RenderedWords(const QStringList& Lines, int Dpi, QSizeF PageSize = kWordsPageSize);

// The words of Text (split at any white space), for comparing recognised text.
QStringList WordsOf(const QString& Text);

}  // namespace testing_support
