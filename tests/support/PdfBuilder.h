// Writes small PDF documents for the tests from readable PDF source.
//
// Objects are given as PDF syntax without their "N 0 obj" frame; the builder
// numbers them, computes stream lengths, and writes a correct cross-reference
// table, trailer and startxref, so fixtures stay short and readable.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace testing_support {

class PdfBuilder {
public:
    // Adds an object and returns its number (from 1 on).
    int Add(const QByteArray& body);
    // Adds a stream object; /Length is added to the dictionary.
    int AddStream(const QByteArray& dictionary, const QByteArray& data);
    // Reserves a number to be filled later with Set (for forward references).
    int Reserve();
    void Set(int number, const QByteArray& body);
    void SetStream(int number, const QByteArray& dictionary, const QByteArray& data);

    // Adds a 612 x 792 page under the page tree pages whose content stream
    // content draws with the font font as /F1; returns its number.
    int AddTextPage(int pages, int font, int content);
    // Fills the reserved page tree pages with kids, in order, and the reserved
    // catalog with that tree and catalogEntries (for example "/AcroForm << ... >>").
    void SetPageTree(int catalog, int pages, const QList<int>& kids, const QByteArray& catalogEntries = {});

    // The whole file. trailerExtra goes into the trailer dictionary after /Size
    // and /Root (for example "/Info 5 0 R").
    QByteArray Build(int root, const QByteArray& trailerExtra = {}, const QByteArray& version = "1.7") const;

private:
    QList<QByteArray> FObjects;
};

// A one-call helper for the common case: a document whose pages each show the
// given lines of text in Helvetica 12 pt, from the top left of a 612 x 792 page.
QByteArray SimpleTextPdf(const QList<QStringList>& pages);

// A document of PageCount pages of very different lengths (from none to some
// sixty lines, each page's lines naming the page), in which each page listed in
// BrokenPages is a page-tree leaf that the engine counts but cannot open.
QByteArray VariedTextPdf(int PageCount, const QList<int>& BrokenPages = {});

// A document that takes the engine long to read: PageCount pages sharing one
// content stream of Words separately placed words (some 30 ms a page for 4000).
QByteArray SlowTextPdf(int PageCount, int Words = 4000);

// An indirect reference to object n: "n 0 R".
QByteArray Ref(int n);

// A document whose page tree is empty.
QByteArray EmptyPdf();

// A document whose page tree promises two pages (/Count 2) but holds one,
// which shows "First": its second page cannot be opened.
QByteArray MissingSecondPagePdf();

// A text string in PDF literal syntax, with ( ) \ escaped.
QByteArray PdfLiteral(const QByteArray& text);

// A UTF-16BE text string with byte-order mark, as a hex string <FEFF...>.
QByteArray PdfUtf16Hex(const QString& text);

// Writes bytes to a file, creating folders; returns the path.
QString WriteFile(const QString& path, const QByteArray& bytes);

}  // namespace testing_support
