#include "support/ScannedPdf.h"

#include <QRegularExpression>
#include <cmath>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"

namespace testing_support {

namespace {

QByteArray Number(double Value) { return QByteArray::number(Value, 'f', 2); }

QByteArray MediaBox(QSizeF PageSize) {
    return "/MediaBox [0 0 " + Number(PageSize.width()) + " " + Number(PageSize.height()) + "]";
}

QByteArray WordsContent(const QStringList& Lines, QSizeF PageSize) {
    QByteArray content = "BT /F1 24 Tf 30 TL 18 " + Number(PageSize.height() - 36) + " Td\n";
    for (const QString& line : Lines) content += PdfLiteral(line.toLatin1()) + " Tj T*\n";
    return content + "ET";
}

}  // namespace

QByteArray ScannedPdf(const QList<QStringList>& Pages, const QList<int>& Scanned, int Dpi, QSizeF PageSize) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QList<int> kids;
    for (int n = 1; n <= Pages.size(); ++n) {
        const QStringList& lines = Pages[n - 1];
        if (!Scanned.contains(n)) {
            const int content = b.AddStream("<< >>", WordsContent(lines, PageSize));
            kids.append(b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + MediaBox(PageSize) +
                              " /Resources << /Font << /F1 " + Ref(font) + " >> >> /Contents " + Ref(content) + " >>"));
            continue;
        }
        const QImage image = RenderedWords(lines, Dpi, PageSize);
        QByteArray pixels;
        for (int y = 0; y < image.height(); ++y)
            pixels.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width());
        // qCompress's first four bytes are its own size field; a zlib stream follows.
        const int xobject = b.AddStream("<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(image.width()) +
                                            " /Height " + QByteArray::number(image.height()) +
                                            " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode >>",
                                        qCompress(pixels).mid(4));
        const int content = b.AddStream("<< >>", "q " + Number(PageSize.width()) + " 0 0 " +
                                                     Number(PageSize.height()) + " 0 0 cm /Im1 Do Q");
        kids.append(b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + MediaBox(PageSize) +
                          " /Resources << /XObject << /Im1 " + Ref(xobject) + " >> >> /Contents " + Ref(content) +
                          " >>"));
    }
    b.SetPageTree(catalog, pages, kids);
    return b.Build(catalog);
}

QImage RenderedWords(const QStringList& Lines, int Dpi, QSizeF PageSize) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int content = b.AddStream("<< >>", WordsContent(Lines, PageSize));
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + MediaBox(PageSize) +
                           " /Resources << /Font << /F1 " + Ref(font) + " >> >> /Contents " + Ref(content) + " >>");
    b.SetPageTree(catalog, pages, {page});
    kestrune::TFPdf pdf;
    pdf.LoadDocument(b.Build(catalog));
    pdf.SetPageNumber(1);
    const int width = int(std::ceil(PageSize.width() * Dpi / 72));
    const int height = int(std::ceil(PageSize.height() * Dpi / 72));
    return pdf.RenderPage(0, 0, width, height, kestrune::TRotation::ro0, {kestrune::TRenderOption::reGrayscale})
        .convertToFormat(QImage::Format_Grayscale8);
}

QStringList WordsOf(const QString& Text) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return Text.split(space, Qt::SkipEmptyParts);
}

}  // namespace testing_support
