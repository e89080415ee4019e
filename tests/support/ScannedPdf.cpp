#include "support/ScannedPdf.h"

#include <QPainter>
#include <QRegularExpression>
#include <QTransform>
#include <cmath>
#include <random>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"

namespace testing_support {

const QStringList kLines = {"The quick brown fox", "jumps over the lazy dog", "while seven ships sail",
                            "past the quiet harbour",  "and four old men",        "count the waves again",
                            "under a grey sky",        "before the night falls"};

namespace {

QByteArray Number(double Value) { return QByteArray::number(Value, 'f', 2); }

bool Plain(const PageGeometry& Geometry) {
    return Geometry.Rotate == 0 && Geometry.Margin == 0 && Geometry.Origin.isNull();
}

QByteArray MediaBox(QSizeF PageSize) {
    return "/MediaBox [0 0 " + Number(PageSize.width()) + " " + Number(PageSize.height()) + "]";
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

QByteArray WordsContent(const QStringList& Lines, QSizeF PageSize, double FontSize, const PageGeometry& Geometry) {
    QByteArray content = "BT /F1 " + Number(FontSize) + " Tf " + Number(FontSize * 1.25) + " TL 18 " +
                         Number(PageSize.height() - 12 - FontSize) + " Td\n";
    for (const QString& line : Lines) content += PdfLiteral(line.toLatin1()) + " Tj T*\n";
    content += "ET";
    return Plain(Geometry) ? content : "q " + ShownToPage(PageSize, Geometry) + content + " Q";
}

// A page of PageSize filled with the image of dictionary ImageDictionary
// (without /Type and /Subtype) and data Data.
int ImagePage(PdfBuilder& b, int Pages, QSizeF PageSize, const QByteArray& ImageDictionary, const QByteArray& Data) {
    const int xobject = b.AddStream("<< /Type /XObject /Subtype /Image " + ImageDictionary + " >>", Data);
    const int content = b.AddStream("<< >>", "q " + Number(PageSize.width()) + " 0 0 " + Number(PageSize.height()) +
                                                 " 0 0 cm /Im1 Do Q");
    return b.Add("<< /Type /Page /Parent " + Ref(Pages) + " " + MediaBox(PageSize) + " /Resources << /XObject << /Im1 " +
                 Ref(xobject) + " >> >> /Contents " + Ref(content) + " >>");
}

// A document of the one page that AddPage adds.
template <typename TAddPage>
QByteArray OnePagePdf(TAddPage AddPage) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    b.SetPageTree(catalog, pages, {AddPage(b, pages)});
    return b.Build(catalog);
}

// Value in Bytes bytes, the most significant first (zeros beyond its eight).
QByteArray BigEndian(quint64 Value, int Bytes) {
    QByteArray out;
    for (int i = Bytes - 1; i >= 0; --i) out += char(i < 8 ? (Value >> (8 * i)) & 0xFF : 0);
    return out;
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
            const int content = b.AddStream("<< >>", WordsContent(lines, PageSize, 24, geometry));
            kids.append(b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + PageBoxes(PageSize, geometry) +
                              " /Resources << /Font << /F1 " + Ref(font) + " >> >> /Contents " + Ref(content) + " >>"));
            continue;
        }
        const QImage image = RenderedWords(lines, Dpi, PageSize, 24, geometry);
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

QByteArray BigImagePdf(int Width, int Height) {
    return OnePagePdf([&](PdfBuilder& b, int pages) {
        const QByteArray white(qsizetype(Width) * Height, char(0xFF));
        return ImagePage(b, pages, kWordsPageSize,
                         "/Width " + QByteArray::number(Width) + " /Height " + QByteArray::number(Height) +
                             " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode",
                         qCompress(white, 9).mid(4));
    });
}

QByteArray OversizedJpxPdf(int Side) {
    // A JPEG 2000 code stream: one grey component, one tile the image's size,
    // five wavelet levels, no quantization, and 64 zero bytes of tile data.
    const QByteArray size = BigEndian(41, 2) + BigEndian(0, 2) + BigEndian(Side, 4) + BigEndian(Side, 4) +
                            BigEndian(0, 8) + BigEndian(Side, 4) + BigEndian(Side, 4) + BigEndian(0, 8) +
                            BigEndian(1, 2) + QByteArray("\x07\x01\x01", 3);
    const QByteArray coding = BigEndian(12, 2) + QByteArray("\x00\x00\x00\x01\x00\x05\x04\x04\x00\x01", 10);
    const QByteArray quantization = BigEndian(19, 2) + QByteArray(17, '\x40');
    const QByteArray data(64, '\0');
    const QByteArray tile = BigEndian(10, 2) + BigEndian(0, 2) + BigEndian(quint32(14 + data.size()), 4) +
                            QByteArray("\x00\x01", 2);
    const QByteArray codestream = "\xFF\x4F\xFF\x51" + size + "\xFF\x52" + coding + "\xFF\x5C" + quantization +
                                  "\xFF\x90" + tile + "\xFF\x93" + data + "\xFF\xD9";
    return OnePagePdf([&](PdfBuilder& b, int pages) {
        return ImagePage(b, pages, kWordsPageSize, "/Width 100 /Height 100 /Filter /JPXDecode", codestream);
    });
}

QByteArray OversizedJbig2Pdf(int Side) {
    // Embedded JBIG2 segments (number, type, no referred segments, page 1,
    // data length, data): the page's information, one generic region coded
    // with MMR holding only its end-of-block code, the end of the page.
    const auto segment = [](int Number, int Type, const QByteArray& Data) {
        return BigEndian(Number, 4) + char(Type) + QByteArray("\x00\x01", 2) + BigEndian(Data.size(), 4) + Data;
    };
    const QByteArray page = BigEndian(Side, 4) + BigEndian(Side, 4) + BigEndian(0, 8) + BigEndian(0, 3);
    const QByteArray region = BigEndian(Side, 4) + BigEndian(Side, 4) + BigEndian(0, 9) + QByteArray("\x01\x00\x10\x01", 4);
    const QByteArray data = segment(0, 48, page) + segment(1, 38, region) + segment(2, 49, {});
    return OnePagePdf([&](PdfBuilder& b, int pages) {
        return ImagePage(b, pages, kWordsPageSize,
                         "/Width " + QByteArray::number(Side) + " /Height " + QByteArray::number(Side) +
                             " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode",
                         data);
    });
}

QImage RenderedWords(const QStringList& Lines, int Dpi, QSizeF PageSize, double FontSize,
                     const PageGeometry& Geometry) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int content = b.AddStream("<< >>", WordsContent(Lines, PageSize, FontSize, Geometry));
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

QImage ScanImage(const TScan& Scan, QSizeF PageSize) {
    QImage image = RenderedWords(Scan.Lines, Scan.Dpi, PageSize, Scan.FontSize);
    if (Scan.Skew != 0) {
        // Turned about its centre on a white sheet of the same size, smoothed as a scanner's optics would.
        QImage sheet(image.size(), QImage::Format_RGB32);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(image.width() / 2.0, image.height() / 2.0);
        painter.rotate(Scan.Skew);
        painter.drawImage(QPointF(-image.width() / 2.0, -image.height() / 2.0), image);
        painter.end();
        image = sheet.convertToFormat(QImage::Format_Grayscale8);
    }
    if (Scan.Turn != 0) image = image.transformed(QTransform().rotate(Scan.Turn));
    if (Scan.Bilevel) {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> share(0, 1);
        for (int y = 0; y < image.height(); ++y) {
            uchar* line = image.scanLine(y);
            for (int x = 0; x < image.width(); ++x) {
                const bool black = (line[x] < 128) != (share(random) < Scan.Specks);
                line[x] = black ? 0 : 255;
            }
        }
    }
    return image;
}

QByteArray ScanPdf(const QList<TScan>& Pages, QSizeF PageSize) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QList<int> kids;
    for (const TScan& scan : Pages) {
        const QImage shown = ScanImage(scan, PageSize);
        const bool across = scan.Turn % 180 != 0;
        const QSizeF size = across ? PageSize.transposed() : PageSize;  // as shown
        // The page's media box before its /Rotate, and the pixels stored so
        // that the image's matrix and the page's rotation turn them as shown.
        const QSizeF media = scan.PageRotate % 180 != 0 ? size.transposed() : size;
        const QImage stored = shown.transformed(QTransform().rotate(-((scan.PlacedTurn + scan.PageRotate) % 360)))
                                  .convertToFormat(QImage::Format_Grayscale8);
        QByteArray pixels;
        if (scan.Bilevel) {
            for (int y = 0; y < stored.height(); ++y) {
                QByteArray row((stored.width() + 7) / 8, '\0');
                for (int x = 0; x < stored.width(); ++x)
                    if (stored.constScanLine(y)[x] >= 128) row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));  // white
                pixels += row;
            }
        } else {
            for (int y = 0; y < stored.height(); ++y)
                pixels.append(reinterpret_cast<const char*>(stored.constScanLine(y)), stored.width());
        }
        const QByteArray w = Number(media.width()), h = Number(media.height());
        const QByteArray matrix = scan.PlacedTurn == 90    ? "0 -" + h + " " + w + " 0 0 " + h
                                  : scan.PlacedTurn == 180 ? "-" + w + " 0 0 -" + h + " " + w + " " + h
                                  : scan.PlacedTurn == 270 ? "0 " + h + " -" + w + " 0 " + w + " 0"
                                                           : w + " 0 0 " + h + " 0 0";
        QByteArray content = "q " + matrix + " cm /Im1 Do Q";
        if (!scan.Stamp.isEmpty()) content += "\nBT /F1 9 Tf 6 6 Td " + PdfLiteral(scan.Stamp.toLatin1()) + " Tj ET";
        const int xobject = b.AddStream("<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(stored.width()) +
                                            " /Height " + QByteArray::number(stored.height()) +
                                            " /ColorSpace /DeviceGray /BitsPerComponent " + (scan.Bilevel ? "1" : "8") +
                                            " /Filter /FlateDecode >>",
                                        qCompress(pixels).mid(4));
        const int stream = b.AddStream("<< >>", content);
        kids.append(b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + MediaBox(media) + " /Rotate " +
                          QByteArray::number(scan.PageRotate) + " /Resources << /Font << /F1 " + Ref(font) +
                          " >> /XObject << /Im1 " + Ref(xobject) + " >> >> /Contents " + Ref(stream) + " >>"));
    }
    b.SetPageTree(catalog, pages, kids);
    return b.Build(catalog);
}

QStringList WordsOf(const QString& Text) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return Text.split(space, Qt::SkipEmptyParts);
}

double KnownWordsFound(const QString& Text, const QStringList& Lines) {
    QStringList found = WordsOf(Text);
    const QStringList known = WordsOf(Lines.join(QLatin1Char(' ')));
    int count = 0;
    for (const QString& word : known) count += found.removeOne(word);
    return known.isEmpty() ? 1 : double(count) / known.size();
}

}  // namespace testing_support
