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
        kids.append(ImagePage(b, pages, PageSize,
                              "/Width " + QByteArray::number(image.width()) + " /Height " +
                                  QByteArray::number(image.height()) +
                                  " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode",
                              qCompress(pixels).mid(4)));
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
