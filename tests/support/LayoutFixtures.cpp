#include "support/LayoutFixtures.h"

#include "support/PdfBuilder.h"

namespace testing_support {

QByteArray PlacedTextPdf(const QList<PlacedPage>& Pages) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int courier = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>");
    // Glyph names of the Adobe glyph list give the letters their Unicode values.
    const int hebrew = b.Add(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /FirstChar 65 /LastChar 68 /Widths [600 600 600 600]"
        " /Encoding << /Type /Encoding /Differences [65 /afii57664 /afii57665 /afii57666 /afii57667] >> >>");
    const int toUnicode = b.AddStream(
        "<< >>",
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Kestrune-Beyond def /CMapType 2 def\n"
        "1 begincodespacerange <00> <FF> endcodespacerange\n"
        "4 beginbfchar <41> <D835DC9C> <42> <D83DDE00> <43> <D83D> <44> <DE00> endbfchar\n"
        "endcmap CMapName currentdict /CMap defineresource pop end end");
    const int beyond = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding /ToUnicode " +
                             Ref(toUnicode) + " >>");
    const QByteArray resources = "/Resources << /Font << /F1 " + Ref(courier) + " /F2 " + Ref(hebrew) + " /F3 " +
                                 Ref(beyond) + " >> >>";
    QList<int> kids;
    for (const PlacedPage& page : Pages) {
        QByteArray content;
        for (const PlacedRun& run : page.Runs) {
            // Never in exponent form, which PDF does not read.
            const QByteArray x = QByteArray::number(run.X, 'g', 12), y = QByteArray::number(run.Y, 'g', 12);
            const char* font = run.Hebrew ? "F2 " : run.BeyondBmp ? "F3 " : "F1 ";
            content += "BT /" + QByteArray(font) + QByteArray::number(run.Size) + " Tf ";
            content += run.Upwards ? "0 1 -1 0 " + x + " " + y + " Tm " : x + " " + y + " Td ";
            content += PdfLiteral(run.Text) + " Tj ET\n";
        }
        const int stream = b.AddStream("<< >>", content);
        kids.append(b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Rotate " +
                          QByteArray::number(page.Rotate) + " " + resources + " /Contents " + Ref(stream) + " >>"));
    }
    b.SetPageTree(catalog, pages, kids);
    return b.Build(catalog);
}

QByteArray LayoutFixturePdf() {
    return PlacedTextPdf({
        {{{72, 700, "alpha beta gamma"}, {72, 688, "delta epsilon zeta"}, {72, 676, "eta theta iota"},
          {320, 700, "one two three"}, {320, 688, "four five six"}, {320, 676, "seven eight nine"}}},
        {{{72, 700, "Name"}, {200, 700, "Qty"}, {300, 700, "Price"},
          {72, 680, "apple"}, {200, 680, "3"}, {300, 680, "1.20"},
          {72, 660, "pear"}, {200, 660, "12"}, {300, 660, "0.80"}}},
        {{{100, 200, "upward text", 10, false, true}, {72, 700, "level line"}}},
        {{{72, 700, "CBA", 10, true}, {120, 700, "latin"}}},
        {},
        {{{72, 700, "turned page"}}, 90},
        {{{72, 700, "a long exam-"}, {72, 688, "ple follows"}}},
        {{{.X = 72, .Y = 700, .Text = "xAy BB", .BeyondBmp = true},
          {.X = 72, .Y = 680, .Text = "xCy DA", .BeyondBmp = true}}},
    });
}

}  // namespace testing_support
