#include "support/PdfBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QByteArrayList>
#include <QStringList>
#include <stdexcept>

namespace testing_support {

int PdfBuilder::Add(const QByteArray& body) {
    FObjects.append(body);
    return int(FObjects.size());
}

int PdfBuilder::AddStream(const QByteArray& dictionary, const QByteArray& data) {
    const int n = Reserve();
    SetStream(n, dictionary, data);
    return n;
}

int PdfBuilder::Reserve() { return Add({}); }

void PdfBuilder::Set(int number, const QByteArray& body) { FObjects[number - 1] = body; }

void PdfBuilder::SetStream(int number, const QByteArray& dictionary, const QByteArray& data) {
    QByteArray dict = dictionary.trimmed();
    if (!dict.startsWith("<<")) dict = "<< " + dict + " >>";
    dict.insert(dict.size() - 2, " /Length " + QByteArray::number(data.size()) + " ");
    Set(number, dict + "\nstream\n" + data + "\nendstream");
}

int PdfBuilder::AddTextPage(int pages, int font, int content) {
    return Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
               Ref(font) + " >> >> /Contents " + Ref(content) + " >>");
}

void PdfBuilder::SetPageTree(int catalog, int pages, const QList<int>& kids, const QByteArray& catalogEntries) {
    QByteArrayList refs;
    for (int kid : kids) refs.append(Ref(kid));
    Set(pages, "<< /Type /Pages /Kids [" + refs.join(' ') + "] /Count " + QByteArray::number(kids.size()) + " >>");
    Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + (catalogEntries.isEmpty() ? "" : " " + catalogEntries) +
                     " >>");
}

QByteArray PdfBuilder::Build(int root, const QByteArray& trailerExtra, const QByteArray& version) const {
    QByteArray out = "%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < FObjects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + FObjects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(FObjects.size() + 1) + "\n";
    out += "0000000000 65535 f \n";
    for (qsizetype off : offsets) out += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(FObjects.size() + 1) + " /Root " + QByteArray::number(root) +
           " 0 R " + trailerExtra + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

QByteArray Ref(int n) { return QByteArray::number(n) + " 0 R"; }

QByteArray PdfLiteral(const QByteArray& text) {
    QByteArray out = "(";
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\') out += '\\';
        out += c;
    }
    return out + ")";
}

QByteArray PdfUtf16Hex(const QString& text) {
    QByteArray bytes = "\xFE\xFF";
    for (QChar c : text) {
        bytes += char(c.unicode() >> 8);
        bytes += char(c.unicode() & 0xFF);
    }
    return "<" + bytes.toHex().toUpper() + ">";
}

QByteArray EmptyPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    b.SetPageTree(catalog, pages, {});
    return b.Build(catalog);
}

QByteArray SimpleTextPdf(const QList<QStringList>& pages) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pagesObj = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QList<int> kids;
    for (const QStringList& lines : pages) {
        QByteArray content;
        if (!lines.isEmpty()) {
            content = "BT /F1 12 Tf 14 TL 72 720 Td\n";
            for (const QString& line : lines) content += PdfLiteral(line.toLatin1()) + " Tj T*\n";
            content += "ET";
        }
        const int stream = b.AddStream("<< >>", content);
        kids.append(b.AddTextPage(pagesObj, font, stream));
    }
    b.SetPageTree(catalog, pagesObj, kids);
    return b.Build(catalog);
}

QByteArray MissingSecondPagePdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int content = b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (First) Tj ET");
    const int page = b.AddTextPage(pages, font, content);
    b.SetPageTree(catalog, pages, {page});
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page) + "] /Count 2 >>");
    return b.Build(catalog);
}

QByteArray VariedTextPdf(int PageCount, const QList<int>& BrokenPages) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pagesObj = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QList<int> kids;
    for (int page = 1; page <= PageCount; ++page) {
        if (BrokenPages.contains(page)) {
            kids.append(b.Add("<< /Type /Pages /Count 0 >>"));
            continue;
        }
        const int lines = page % 7 == 3 ? 0 : (page * 37) % 61;
        QByteArray content = "BT /F1 10 Tf 11 TL 40 760 Td\n";
        for (int line = 0; line < lines; ++line)
            content += "(Page " + QByteArray::number(page) + ", line " + QByteArray::number(line) +
                       ": caf\xE9 and text of varied length " + QByteArray(line % 13, 'x') + ") Tj T*\n";
        content += "ET";
        kids.append(b.AddTextPage(pagesObj, font, b.AddStream("<< >>", content)));
    }
    b.SetPageTree(catalog, pagesObj, kids);
    return b.Build(catalog);
}

QByteArray SlowTextPdf(int PageCount, int Words) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pagesObj = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QByteArray content = "BT /F1 4 Tf 20 780 Td\n";
    for (int word = 0; word < Words; ++word) content += "(w" + QByteArray::number(word % 100) + ") Tj 3 -0.2 Td\n";
    content += "ET";
    const int stream = b.AddStream("<< >>", content);
    QList<int> kids;
    for (int page = 0; page < PageCount; ++page) kids.append(b.AddTextPage(pagesObj, font, stream));
    b.SetPageTree(catalog, pagesObj, kids);
    return b.Build(catalog);
}

QString WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file " + path.toStdString());
    return path;
}

}  // namespace testing_support
