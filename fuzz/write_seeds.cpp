// Writes the fuzz target's seed corpus: small documents in the style of the
// test fixtures, together touching every area the fuzz target walks (text in
// several fonts and encodings, outlines, destinations and links, annotations,
// form fields by index and by name and a signature, images, compressed and
// encrypted streams).
//
//   write_seeds FOLDER
#include <QByteArray>
#include <QDir>
#include <QList>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <utility>

#include "support/PdfBuilder.h"
#include "support/PdfEncryption.h"

using namespace testing_support;

namespace {

const QByteArray Helvetica = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";

// A zlib stream as /FlateDecode expects it (qCompress puts a 4-byte length first).
QByteArray Flate(const QByteArray& Data) { return qCompress(Data).mid(4); }

QByteArray TextPages() {
    return SimpleTextPdf({{"Hello world, the first page", "caf\u00E9 na\u00EFve (brackets) \\ back",
                           "see https://example.org/kestrune and www.example.com"},
                          {},
                          {"Third page: the end", "the THE The"}});
}

// Outline with nested items, named destinations, a link of each action kind,
// document information, page labels, viewer preferences and XMP metadata.
QByteArray NavigationPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add(Helvetica);
    const QList<int> kids = {b.Reserve(), b.Reserve(), b.Reserve()};
    const int links = b.Add("[<< /Type /Annot /Subtype /Link /Rect [72 700 200 730] /Dest [" + Ref(kids[1]) +
                            " /XYZ 0 792 0] /QuadPoints [72 730 200 730 72 700 200 700] >>"
                            " << /Type /Annot /Subtype /Link /Rect [72 600 200 630] /A << /S /URI /URI (https://example.org/) >> >>"
                            " << /Type /Annot /Subtype /Link /Rect [72 500 200 530] /A << /S /GoToR /F (other.pdf) /D [0 /Fit] >> >>"
                            " << /Type /Annot /Subtype /Link /Rect [72 400 200 430] /A << /S /Launch /F (tool.exe) >> >>"
                            " << /Type /Annot /Subtype /Link /Rect [72 300 200 330] /A << /S /GoTo /D (second) >> >>]");
    for (int i = 0; i < 3; ++i) {
        const int content = b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (Page " + QByteArray::number(i + 1) + ") Tj ET");
        b.Set(kids[i], "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                           Ref(font) + " >> >> /Contents " + Ref(content) + (i == 0 ? " /Annots " + Ref(links) : "") +
                           " >>");
    }
    const int outline = b.Reserve();
    const int chapter = b.Reserve();
    const int section = b.Reserve();
    const int appendix = b.Reserve();
    b.Set(outline, "<< /Type /Outlines /First " + Ref(chapter) + " /Last " + Ref(appendix) + " /Count 3 >>");
    b.Set(chapter, "<< /Title (Chapter) /Parent " + Ref(outline) + " /Next " + Ref(appendix) + " /First " +
                       Ref(section) + " /Last " + Ref(section) + " /Count 1 /Dest [" + Ref(kids[0]) + " /Fit] >>");
    b.Set(section, "<< /Title <FEFF00530065006300740069006F006E> /Parent " + Ref(chapter) + " /A << /S /GoTo /D [" +
                       Ref(kids[2]) + " /XYZ 0 0 0] >> >>");
    b.Set(appendix, "<< /Title (Appendix) /Parent " + Ref(outline) + " /Prev " + Ref(chapter) +
                        " /A << /S /URI /URI (https://example.org/appendix) >> >>");
    const int metadata = b.AddStream("<< /Type /Metadata /Subtype /XML >>",
                                     "<?xpacket begin=\"\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>");
    const int info = b.Add("<< /Title (Navigation) /Author <FEFF00C400F6> /Subject (Seeds) /Keywords (a, b)"
                           " /Creator (write_seeds) /Producer (Kestrune) /CreationDate (D:20240102030405+01'00')"
                           " /ModDate (D:20240102030405Z) /Trapped /False >>");
    b.SetPageTree(catalog, pages, kids,
                  "/Outlines " + Ref(outline) + " /PageMode /UseOutlines /Metadata " + Ref(metadata) +
                      " /Names << /Dests << /Names [(first) [" + Ref(kids[0]) + " /Fit] (second) [" + Ref(kids[1]) +
                      " /XYZ 10 20 0]] >> >> /Dests << /third [" + Ref(kids[2]) + " /FitH 100] >>"
                      " /PageLabels << /Nums [0 << /S /r >> 2 << /S /D /P (A-) /St 5 >>] >>"
                      " /ViewerPreferences << /Direction /R2L /PrintScaling /None /NumCopies 3 /Duplex /Simplex >>"
                      " /MarkInfo << /Marked true >>");
    return b.Build(catalog, "/Info " + Ref(info), "1.6");
}

// Annotations of several subtypes and an interactive form: a text field, a
// check box, a choice list and a signature field with a signature value.
QByteArray FormPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int page = b.Reserve();
    const int font = b.Add(Helvetica);
    const QByteArray p = " /P " + Ref(page);
    const int text = b.Add("<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /TU (Your name) /V (Hello) /F 4"
                           " /Ff 4096 /Rect [100 600 300 630]" + p + " /DA (/Helv 12 Tf 0 g) /MaxLen 20 >>");
    const int checkOn = b.AddStream("<< /BBox [0 0 20 20] >>", "0 0 20 20 re f");
    const int check = b.Add("<< /Type /Annot /Subtype /Widget /FT /Btn /T (agree) /V /Yes /AS /Yes /F 4"
                            " /Rect [100 550 120 570]" + p + " /AP << /N << /Yes " + Ref(checkOn) + " /Off " +
                            Ref(checkOn) + " >> >> >>");
    const int choice = b.Add("<< /Type /Annot /Subtype /Widget /FT /Ch /T (colour) /Ff 131072 /V (Green)"
                             " /Opt [(Red) [(g) (Green)] (Blue)] /I [1] /Rect [100 500 300 520]" + p +
                             " /DA (/Helv 10 Tf 0 g) >>");
    const int signatureValue = b.Add("<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached"
                                     " /Contents <3082010A0282010100> /ByteRange [0 10 20 30] /Reason (Approval)"
                                     " /M (D:20240102030405Z) /Reference [<< /TransformMethod /DocMDP"
                                     " /TransformParams << /P 2 >> >>] >>");
    const int signature = b.Add("<< /Type /Annot /Subtype /Widget /FT /Sig /T (signature) /V " + Ref(signatureValue) +
                                " /Rect [400 100 500 150]" + p + " >>");
    const int note = b.Add("<< /Type /Annot /Subtype /Text /Rect [20 20 40 40] /Contents (A note) /T (Author)"
                           " /C [1 0 0] /F 4 >>");
    const int highlight = b.Add("<< /Type /Annot /Subtype /Highlight /Rect [72 700 200 730] /QuadPoints"
                                " [72 730 200 730 72 700 200 700] /C [1 1 0] >>");
    const int square = b.Add("<< /Type /Annot /Subtype /Square /Rect [300 300 400 400] /C [0 0 1] /IC [0 1 0]"
                             " /Contents <FEFF0053> >>");
    const int ink = b.Add("<< /Type /Annot /Subtype /Ink /Rect [10 10 100 100] /InkList [[10 10 50 50 100 10]] >>");
    const int content = b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (A form) Tj ET");
    const QByteArray annots = "[" + Ref(text) + " " + Ref(check) + " " + Ref(choice) + " " + Ref(signature) + " " +
                              Ref(note) + " " + Ref(highlight) + " " + Ref(square) + " " + Ref(ink) + "]";
    b.Set(page, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                    Ref(font) + " >> >> /Contents " + Ref(content) + " /Annots " + annots + " >>");
    b.SetPageTree(catalog, pages, {page},
                  "/AcroForm << /Fields [" + Ref(text) + " " + Ref(check) + " " + Ref(choice) + " " + Ref(signature) +
                      "] /DA (/Helv 12 Tf 0 g) /DR << /Font << /Helv " + Ref(font) + " >> >> /SigFlags 3 >>");
    return b.Build(catalog);
}

// Two pages to edit and fill in by name. Page 1: links written straight into
// its /Annots array (one naming its subtype with a string), and a text field
// whose value its parent field holds (full name "person.name"). Page 2: a
// radio group of two buttons and an editable combo box.
QByteArray EditingPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const QList<int> kids = {b.Reserve(), b.Reserve()};
    const int font = b.Add(Helvetica);
    const int person = b.Reserve();
    const int name = b.Add("<< /Type /Annot /Subtype /Widget /T (name) /Parent " + Ref(person) +
                           " /Rect [100 500 300 520] /F 4 /P " + Ref(kids[0]) + " >>");
    b.Set(person, "<< /FT /Tx /T (person) /V (Ada Lovelace) /Kids [" + Ref(name) + "] >>");
    const int radio = b.Reserve();
    const int on = b.AddStream("<< /BBox [0 0 10 10] >>", "0 0 10 10 re f");
    QByteArray buttons;
    for (const QByteArray& state : {QByteArray("Tea"), QByteArray("Coffee")}) {
        const int y = state == "Tea" ? 600 : 570;
        buttons += Ref(b.Add("<< /Type /Annot /Subtype /Widget /Parent " + Ref(radio) + " /Rect [100 " +
                             QByteArray::number(y) + " 110 " + QByteArray::number(y + 10) + "] /F 4 /P " +
                             Ref(kids[1]) + " /AS /Off /AP << /N << /" + state + " " + Ref(on) + " /Off " + Ref(on) +
                             " >> >> >>")) + " ";
    }
    b.Set(radio, "<< /FT /Btn /Ff 49152 /T (drink) /V /Off /Kids [" + buttons + "] >>");
    const int combo = b.Add("<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 393216 /T (size) /V (Small)"
                            " /Opt [(Small) (Large)] /Rect [100 500 300 520] /F 4 /P " + Ref(kids[1]) +
                            " /DA (/Helv 10 Tf 0 g) >>");
    const QByteArray links =
        "<< /Type /Annot /Subtype /Link /Rect [72 700 200 730] /Dest [" + Ref(kids[1]) + " /Fit] >> "
        "<< /Type /Annot /Subtype (Link) /Rect [72 650 200 680] /A << /S /URI /URI (https://example.org/b) >> >>";
    for (int i = 0; i < 2; ++i) {
        const int content = b.AddStream("<< >>", i == 0 ? "BT /F1 12 Tf 72 720 Td (Editing the first page) Tj ET"
                                                        : "BT /F1 12 Tf 72 720 Td (Second page: choices) Tj ET");
        const QByteArray annots = i == 0 ? links + Ref(name) : buttons + Ref(combo);
        b.Set(kids[i], "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                           Ref(font) + " >> >> /Contents " + Ref(content) + " /Annots [" + annots + "] >>");
    }
    b.SetPageTree(catalog, pages, kids,
                  "/AcroForm << /Fields [" + Ref(person) + " " + Ref(radio) + " " + Ref(combo) +
                      "] /DA (/Helv 12 Tf 0 g) /DR << /Font << /Helv " + Ref(font) + " >> >> >>");
    return b.Build(catalog);
}

// Images: an uncompressed RGB image, a compressed grey image with a soft
// mask, an inline image, and a path, on a rotated page with a compressed
// content stream.
QByteArray ImagesPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    QByteArray rgb;
    for (int i = 0; i < 4 * 4; ++i) rgb += QByteArray::fromHex(i % 2 ? "FF0000" : "0000FF");
    const int rgbImage = b.AddStream("<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB"
                                     " /BitsPerComponent 8 >>", rgb);
    const int mask = b.AddStream("<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray"
                                 " /BitsPerComponent 8 /Filter /FlateDecode >>", Flate(QByteArray::fromHex("00FF80FF")));
    const int greyImage = b.AddStream("<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray"
                                      " /BitsPerComponent 8 /Filter /FlateDecode /SMask " + Ref(mask) + " >>",
                                      Flate(QByteArray::fromHex("10305070")));
    const QByteArray drawing = "q 100 0 0 100 50 50 cm /Im1 Do Q q 50 0 0 50 200 200 cm /Im2 Do Q"
                               " q 20 0 0 20 300 300 cm BI /W 2 /H 1 /CS /RGB /BPC 8 ID " +
                               QByteArray::fromHex("FF00000000FF") +
                               " EI Q"
                               " 1 0 0 RG 2 w 10 10 m 100 100 l 150 20 200 80 250 10 c h S"
                               " 0.5 g 300 400 80 40 re f";
    const int content = b.AddStream("<< /Filter /FlateDecode >>", Flate(drawing));
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 400 500] /CropBox [10 10 390 490]"
                           " /Rotate 90 /Resources << /XObject << /Im1 " + Ref(rgbImage) + " /Im2 " + Ref(greyImage) +
                           " >> >> /Contents " + Ref(content) + " >>");
    b.SetPageTree(catalog, pages, {page});
    return b.Build(catalog, {}, "1.5");
}

// A font whose ToUnicode map gives surrogates and a pair, as the converter tests use.
QByteArray ToUnicodePdf() {
    const QByteArray cmap =
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def /CMapType 2 def\n"
        "1 begincodespacerange <00> <FF> endcodespacerange\n"
        "3 beginbfchar <41> <D83D> <42> <D83DDE00> <43> <DE00> endbfchar\n"
        "1 beginbfrange <61> <7A> <0061> endbfrange\n"
        "endcmap CMapName currentdict /CMap defineresource pop end end";
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int toUnicode = b.AddStream("<< >>", cmap);
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode " + Ref(toUnicode) + " >>");
    const int content = b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (xAyBzC) Tj 0 -20 Td [(word) -300 (spaced)] TJ"
                                             " 3 Tr (hidden) Tj ET");
    b.SetPageTree(catalog, pages, {b.AddTextPage(pages, font, content)});
    return b.Build(catalog);
}

// Encrypted with the standard handler (RC4, 40 bits) and an empty user
// password, so that it opens without one.
QByteArray EncryptedPdf() {
    const QByteArray id = QByteArray::fromHex("0123456789ABCDEF0123456789ABCDEF");
    const StandardSecurity security("", "owner", -44, id);
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add(Helvetica);
    const int contentNumber = b.Reserve();
    b.SetStream(contentNumber, "<< >>", security.Encrypt(contentNumber, "BT /F1 12 Tf 72 720 Td (Secret text) Tj ET"));
    b.SetPageTree(catalog, pages, {b.AddTextPage(pages, font, contentNumber)});
    const int encrypt = b.Add(security.Dictionary());
    return b.Build(catalog, security.TrailerEntries(encrypt));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: write_seeds FOLDER\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const std::pair<const char*, std::function<QByteArray()>> seeds[] = {
        {"text.pdf", TextPages},
        {"empty.pdf", EmptyPdf},
        {"missing-second-page.pdf", MissingSecondPagePdf},
        {"navigation.pdf", NavigationPdf},
        {"form.pdf", FormPdf},
        {"editing.pdf", EditingPdf},
        {"images.pdf", ImagesPdf},
        {"to-unicode.pdf", ToUnicodePdf},
        {"encrypted.pdf", EncryptedPdf},
    };
    try {
        for (const auto& [name, make] : seeds) WriteFile(QDir(folder).filePath(QString::fromLatin1(name)), make());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "write_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
