// text-layer IN.pdf OUT.pdf FONT: lays two words over page 1 of IN.pdf as
// invisible, searchable text, placed by hand where a recogniser would report
// them, and writes OUT.pdf: every byte of IN.pdf followed by an update holding
// the words. FONT is Tesseract's glyphless font, pdf.ttf in its language data
// folder (/usr/share/tesseract-ocr/5/tessdata/pdf.ttf on Debian 12).
#include <kestrune/TextLayer.h>

#include <cstdio>

using namespace kestrune;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: text-layer IN.pdf OUT.pdf FONT\n");
        return 2;
    }
    try {
        TFPdf pdf;
        pdf.SetFileName(QString::fromLocal8Bit(argv[1]));
        pdf.SetActive(true);                                    // raises EPdfError on failure
        TTextLayer layer(pdf, QString::fromLocal8Bit(argv[3]));

        // One line of two words, boxes in points from the page's top left corner as shown.
        TLayoutLine line;
        line.Words = {TLayoutWord{.Text = "Searchable", .Box = QRectF(72, 90, 110, 16)},
                      TLayoutWord{.Text = "words", .Box = QRectF(190, 90, 60, 16)}};
        TPageLayout page;
        page.Blocks = {TLayoutBlock{.Lines = {line}}};
        layer.AddPage(1, page);
        layer.Save(QString::fromLocal8Bit(argv[2]));            // written whole, or not at all
    } catch (const EPdfError& e) {
        std::fprintf(stderr, "text-layer: %s\n", e.Message().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
