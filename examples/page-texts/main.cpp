// page-texts FILE.pdf: prints the text of every page, each page followed by a
// form feed, as the README's example reads it.
#include <kestrune/FPdf.h>

#include <QStringList>
#include <cstdio>
#include <limits>

using namespace kestrune;

QStringList PageTexts(const QString& path) {
    TFPdf pdf;
    pdf.SetFileName(path);
    pdf.SetPageNumber(0);
    pdf.SetActive(true);                       // raises EPdfError on failure
    QStringList pages;
    for (int n = 1; n <= pdf.GetPageCount(); ++n) {
        pdf.SetPageNumber(n);                  // closes the previous page, opens page n
        pages << pdf.Text(0, std::numeric_limits<int>::max());
    }
    return pages;                              // the document closes with pdf
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: page-texts FILE.pdf\n");
        return 2;
    }
    try {
        for (const QString& page : PageTexts(QString::fromLocal8Bit(argv[1])))
            std::printf("%s\f\n", page.toUtf8().constData());
    } catch (const EPdfError& e) {
        std::fprintf(stderr, "page-texts: %s\n", e.Message().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
