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
    // A font of its own for each run that names one, with Courier's widths.
    QByteArray named;
    int runIndex = 0;
    QByteArray widths = "[";
    for (int c = 32; c <= 126; ++c) widths += "600 ";
    widths += "]";
    for (const PlacedPage& page : Pages)
        for (const PlacedRun& run : page.Runs) {
            ++runIndex;
            if (run.FontName.isEmpty()) continue;
            const int descriptor = b.Add("<< /Type /FontDescriptor /FontName /" + run.FontName + " /Flags " +
                                         QByteArray::number(run.Flags) + " /StemV " + QByteArray::number(run.StemV) +
                                         " /FontBBox [0 -200 600 800] /ItalicAngle 0 /Ascent 800 /Descent -200"
                                         " /CapHeight 600 >>");
            const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /" + run.FontName +
                                   " /FirstChar 32 /LastChar 126 /Widths " + widths + " /FontDescriptor " +
                                   Ref(descriptor) + " /Encoding /WinAnsiEncoding >>");
            named += " /R" + QByteArray::number(runIndex) + " " + Ref(font);
        }
    const QByteArray resources = "/Resources << /Font << /F1 " + Ref(courier) + " /F2 " + Ref(hebrew) + " /F3 " +
                                 Ref(beyond) + named + " >> >>";
    QList<int> kids;
    runIndex = 0;
    for (const PlacedPage& page : Pages) {
        QByteArray content;
        for (const PlacedRun& run : page.Runs) {
            ++runIndex;
            // Never in exponent form, which PDF does not read.
            const QByteArray x = QByteArray::number(run.X, 'g', 12), y = QByteArray::number(run.Y, 'g', 12);
            const QByteArray own = "R" + QByteArray::number(runIndex) + " ";
            const QByteArray font = !run.FontName.isEmpty() ? own : run.Hebrew ? "F2 " : run.BeyondBmp ? "F3 " : "F1 ";
            content += "BT /" + font + QByteArray::number(run.Size) + " Tf ";
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
        {{{72, 700, "The body of the page runs forty columns,"}, {330, 700, "New feature"},
          {72, 688, "wide, so that a note set beside it stays"}, {330, 688, "1995/12/01"},
          {72, 676, "apart from its lines and follows them."},
          {90, 664, "A second paragraph starts indented"}, {72, 652, "below the first one."}}},
        {{{72, 700, "left one two three four five"}, {270, 700, "right one two three four five"},
          {72, 688, "left six seven eight nine ten"}, {270, 688, "right six seven eight nine ten"},
          {72, 676, "left end of the column here"}, {270, 676, "right end of the column here"}}},
        {{{72, 700, "ec"}, {98, 700, "Extra Condensed"}, {202, 700, "62.5%"},
          {72, 688, "c"}, {98, 688, "Condensed"}, {202, 688, "75%"},
          {72, 676, "sc"}, {98, 676, "Semi Condensed"}, {202, 676, "87.5%"}}},
        {{{72, 700, "BibT"}, {94.3, 696, "E"}, {99.05, 700, "X"}, {150, 704, "1"}, {150, 696, "2"}}},
        {{{.X = 72, .Y = 700, .Text = "bold", .FontName = "ABCDEF+Courier-Bold"},
          {.X = 110, .Y = 700, .Text = "italic", .FontName = "Plain", .Flags = 96},
          {.X = 160, .Y = 700, .Text = "heavy", .FontName = "Stem", .StemV = 160},
          {.X = 210, .Y = 700, .Text = "slanted", .FontName = "CMSL10"},
          {.X = 270, .Y = 700, .Text = "plain"}}},
    });
}

}  // namespace testing_support
