#include "support/ScannedPdf.h"

#include <QRegularExpression>
#include <cmath>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"

namespace testing_support {

namespace {

QByteArray Number(double Value) { return QByteArray::number(Value, 'f', 2); }

bool Plain(const PageGeometry& Geometry) {
    return Geometry.Rotate == 0 && Geometry.Margin == 0 && Geometry.Origin.isNull();
}

// The page's boxes and rotation: the crop box has PageSize as shown, turned
// for a quarter turn, Margin inside the media box.
QByteArray PageBoxes(QSizeF PageSize, const PageGeometry& Geometry) {
    const QSizeF inPage = Geometry.Rotate % 180 ? PageSize.transposed() : PageSize;
    const double x = Geometry.Origin.x(), y = Geometry.Origin.y(), m = Geometry.Margin;
    QByteArray boxes = "/MediaBox [" + Number(x) + " " + Number(y) + " " + Number(x + inPage.width() + 2 * m) + " " +
                       Number(y + inPage.height() + 2 * m) + "]";
    if (Plain(Geometry)) return boxes;
    return boxes + " /CropBox [" + Number(x + m) + " " + Number(y + m) + " " + Number(x + m + inPage.width()) + " " +
           Number(y + m + inPage.height()) + "] /Rotate " + QByteArray::number(Geometry.Rotate);
}

// The matrix from the page as shown (points from its lower left corner,
// upright) into page space: the content drawn through it shows upright.
QByteArray ShownToPage(QSizeF PageSize, const PageGeometry& Geometry) {
    const QSizeF inPage = Geometry.Rotate % 180 ? PageSize.transposed() : PageSize;
    const double left = Geometry.Origin.x() + Geometry.Margin, bottom = Geometry.Origin.y() + Geometry.Margin;
    const double right = left + inPage.width(), top = bottom + inPage.height();
    switch (Geometry.Rotate) {
        case 90: return "0 1 -1 0 " + Number(right) + " " + Number(bottom) + " cm ";
        case 180: return "-1 0 0 -1 " + Number(right) + " " + Number(top) + " cm ";
        case 270: return "0 -1 1 0 " + Number(left) + " " + Number(top) + " cm ";
        default: return "1 0 0 1 " + Number(left) + " " + Number(bottom) + " cm ";
    }
}

QByteArray WordsContent(const QStringList& Lines, QSizeF PageSize, const PageGeometry& Geometry) {
    QByteArray content = "BT /F1 24 Tf 30 TL 18 " + Number(PageSize.height() - 36) + " Td\n";
    for (const QString& line : Lines) content += PdfLiteral(line.toLatin1()) + " Tj T*\n";
    content += "ET";
    return Plain(Geometry) ? content : "q " + ShownToPage(PageSize, Geometry) + content + " Q";
}

}  // namespace

QByteArray ScannedPdf(const QList<QStringList>& Pages, const QList<int>& Scanned, int Dpi, QSizeF PageSize,
                      const QList<PageGeometry>& Geometries) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QList<int> kids;
    for (int n = 1; n <= Pages.size(); ++n) {
        const QStringList& lines = Pages[n - 1];
        const PageGeometry geometry = Geometries.value(n - 1);
        if (!Scanned.contains(n)) {
            const int content = b.AddStream("<< >>", WordsContent(lines, PageSize, geometry));
            kids.append(b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + PageBoxes(PageSize, geometry) +
                              " /Resources << /Font << /F1 " + Ref(font) + " >> >> /Contents " + Ref(content) + " >>"));
            continue;
        }
        const QImage image = RenderedWords(lines, Dpi, PageSize, geometry);
        QByteArray pixels;
        for (int y = 0; y < image.height(); ++y)
            pixels.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width());
        // qCompress's first four bytes are its own size field; a zlib stream follows.
        const int xobject = b.AddStream("<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(image.width()) +
                                            " /Height " + QByteArray::number(image.height()) +
                                            " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode >>",
                                        qCompress(pixels).mid(4));
        const QByteArray place = Plain(geometry) ? QByteArray() : ShownToPage(PageSize, geometry);
        const int content = b.AddStream("<< >>", "q " + place + Number(PageSize.width()) + " 0 0 " +
                                                     Number(PageSize.height()) + " 0 0 cm /Im1 Do Q");
        kids.append(b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + PageBoxes(PageSize, geometry) +
                          " /Resources << /XObject << /Im1 " + Ref(xobject) + " >> >> /Contents " + Ref(content) +
                          " >>"));
    }
    b.SetPageTree(catalog, pages, kids);
    return b.Build(catalog);
}

QImage RenderedWords(const QStringList& Lines, int Dpi, QSizeF PageSize, const PageGeometry& Geometry) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int content = b.AddStream("<< >>", WordsContent(Lines, PageSize, Geometry));
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + PageBoxes(PageSize, Geometry) +
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
