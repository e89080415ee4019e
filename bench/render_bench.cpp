// How much rendering through TFPdf adds to the engine's own work.
//
// Generates a document of text, images, vector drawing, transparency and form
// fields (or takes any document with --file), then renders its pages at 150 dpi
// in three ways, each through TFPdf and through the bare engine drawing into a
// QImage's pixels, page by page and side by side in one run:
//
//   new image    RenderPage(Left, ...), a new image per page, against the engine
//                drawing into a new QImage of the page's size;
//   reused image RenderPage(QImage*, ...) into one image kept across pages,
//                against the engine drawing into one kept QImage;
//   painter      RenderPage(QPainter*, ...) onto a canvas, against the engine
//                drawing into a new QImage that the painter then draws.
//
// The bare side does what a careful program would: it loads the page and
// announces it to its form environment, draws with the same background and
// the pixel format the page's transparency calls for, draws the form fields
// over it (not onto a painter, where none are drawn), and closes the page.
// Every pair of results is compared pixel for pixel. Prints, for each way, the
// ratio of the median CPU time of a pass over the pages.
//
//   render_bench [--pages N] [--rounds N] [--file X.pdf] [--smoke]
//
// Exit status 1 when any pair of pixels differs, or (not with --smoke, which
// only checks that the run completes with equal pixels) when a ratio exceeds 1.10.
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <stdexcept>

#include <kestrune/Engine.h>
#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "BenchSupport.h"

using namespace kestrune;
using testing_support::PdfBuilder;
using testing_support::PdfLiteral;
using testing_support::Ref;

namespace {

constexpr double MaxRatio = 1.10;
constexpr double Dpi = 150;
constexpr quint32 White = 0xFFFFFFFF;

// An RGB image stream of Width x Height, Flate-compressed: a gradient with a
// pattern of dots, so that it neither compresses to nothing nor is noise.
int AddImage(PdfBuilder& b, int Width, int Height, int Seed) {
    QByteArray pixels;
    pixels.reserve(Width * Height * 3);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const bool dot = (x / 6 + y / 6 + Seed) % 5 == 0;
            pixels += char(dot ? 250 : 255 * x / Width);
            pixels += char(dot ? 40 : 255 * y / Height);
            pixels += char((x * y + Seed * 37) % 256);
        }
    // qCompress puts the length in front of a zlib stream, which is what /FlateDecode reads.
    const QByteArray zlib = qCompress(pixels, 6).mid(4);
    return b.AddStream("<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(Width) + " /Height " +
                           QByteArray::number(Height) +
                           " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode >>",
                       zlib);
}

// A deterministic document of Letter pages: two columns of prose in three fonts,
// a photo-like image shared by all pages and a small one of each page's own,
// rules, boxes and a curve, a half-transparent panel on every third page, and
// form fields (a filled-in text field and a ticked check box) on every page.
QByteArray MixedPdf(int pageCount) {
    static const char* const words[] = {"the", "engine", "renders", "page", "text", "invoice", "total:", "2024-03-17",
                                        "12,345.67", "(note)", "document", "component", "window", "progress",
                                        "image", "form", "field", "and", "of", "a", "to", "in", "at", "dpi"};
    std::mt19937 random(20240317);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };

    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    int helvetica = 0;
    const QByteArray fonts = bench::AddThreeFonts(b, &helvetica);
    const int photo = AddImage(b, 480, 320, 0);
    const int halfClear = b.Add("<< /Type /ExtGState /ca 0.5 /CA 0.5 >>");
    const int ticked = b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 14 14] >>",
                                   "0 g 1 w 2 2 10 10 re S 3 7 m 6 3 l 11 12 l S");
    const int unticked = b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 14 14] >>", "0 g 1 w 2 2 10 10 re S");

    QList<int> kids;
    QByteArray fields;
    for (int p = 0; p < pageCount; ++p) {
        const int page = b.Reserve();
        const int own = AddImage(b, 64, 48, p + 1);
        QByteArray content = "q 0.2 0.3 0.6 RG 2 w 50 740 m 562 740 l S Q\n"
                             "q 300 0 0 200 56 520 cm /Photo Do Q\n"
                             "q 120 0 0 90 420 600 cm /Own Do Q\n"
                             "q 0.9 0.9 0.95 rg 380 520 180 60 re f 0 0 0 RG 0.5 w 380 520 180 60 re S Q\n"
                             "q 1 0 0 RG 1.5 w 60 480 m 200 560 300 400 552 470 c S Q\n";
        if (p % 3 == 1) content += "q /Half gs 0 0.6 0.2 rg 300 100 250 300 re f Q\n";
        for (int column = 0; column < 2; ++column) {
            content += "BT 12 TL " + QByteArray::number(56 + column * 264) + " 440 Td\n";
            const int lines = 26 + pick(6);
            for (int l = 0; l < lines; ++l) {
                if (l % 9 == 0)
                    content += "/F" + QByteArray::number(1 + pick(3)) + " " + QByteArray::number(8 + pick(3)) +
                               " Tf\n";
                QByteArray line;
                for (int w = 0, count = 4 + pick(3); w < count; ++w) {
                    if (w) line += ' ';
                    line += words[pick(int(std::size(words)))];
                }
                content += PdfLiteral(line) + " Tj T*\n";
            }
            content += "ET\n";
        }
        const int stream = b.AddStream("<< >>", content);

        const QByteArray widget = "/Type /Annot /Subtype /Widget /F 4 /P " + Ref(page);
        const QByteArray name = "(Field" + QByteArray::number(p + 1) + ")";
        const int textAppearance = b.AddStream(
            "<< /Type /XObject /Subtype /Form /BBox [0 0 200 20] /Resources << /Font << /Helv " + Ref(helvetica) +
                " >> >> >>",
            "/Tx BMC q BT /Helv 11 Tf 0 g 2 6 Td " + PdfLiteral("Value " + QByteArray::number(p + 1)) +
                " Tj ET Q EMC");
        const int text = b.Add("<< " + widget + " /FT /Tx /T " + name + " /V " +
                               PdfLiteral("Value " + QByteArray::number(p + 1)) +
                               " /DA (/Helv 11 Tf 0 g) /Rect [56 40 256 60] /AP << /N " + Ref(textAppearance) +
                               " >> >>");
        const int box = b.Add("<< " + widget + " /FT /Btn /T (Tick" + QByteArray::number(p + 1) +
                              ") /V /Yes /AS /Yes /Rect [300 42 314 56] /AP << /N << /Yes " + Ref(ticked) +
                              " /Off " + Ref(unticked) + " >> >> >>");
        fields += Ref(text) + " " + Ref(box) + " ";
        b.Set(page, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << " +
                        fonts + ">> /XObject << /Photo " + Ref(photo) + " /Own " + Ref(own) +
                        " >> /ExtGState << /Half " + Ref(halfClear) + " >> >> /Contents " + Ref(stream) +
                        " /Annots [" + Ref(text) + " " + Ref(box) + "] >>");
        kids << page;
    }
    b.SetPageTree(catalog, pages, kids,
                  "/AcroForm << /Fields [" + fields + "] /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv " +
                      Ref(helvetica) + " >> >> >>");
    return b.Build(catalog);
}

// ---- The bare engine ------------------------------------------------------------

// A document opened straight through the engine, with the form environment a
// viewer sets up: repaint requests accepted, the standing field highlight.
class BareDocument {
public:
    explicit BareDocument(const QString& Path) {
        using namespace engine;
        const QByteArray path = QFile::encodeName(Path);
        FDocument = FPDF_LoadDocument(path.constData(), "");
        if (!FDocument) throw std::runtime_error("bare engine: cannot load the document");
        FInfo.version = 1;
        FInfo.FFI_Invalidate = [](FPDF_FORMFILLINFO*, FPDF_PAGE, double, double, double, double) {};
        FForm = FPDFDOC_InitFormFillEnvironment(FDocument, &FInfo);
        if (!FForm) throw std::runtime_error("bare engine: no form environment");
        FPDF_SetFormFieldHighlightColor(FForm, 0, 0xFFE4DD);
        FPDF_SetFormFieldHighlightAlpha(FForm, 100);
        FORM_DoDocumentJSAction(FForm);
        FORM_DoDocumentOpenAction(FForm);
    }
    ~BareDocument() {
        engine::FPDFDOC_ExitFormFillEnvironment(FForm);
        engine::FPDF_CloseDocument(FDocument);
    }
    BareDocument(const BareDocument&) = delete;
    BareDocument& operator=(const BareDocument&) = delete;

    int PageCount() const { return engine::FPDF_GetPageCount(FDocument); }
    QSize PixelSize(int Index) const {
        double width = 0, height = 0;
        engine::FPDF_GetPageSizeByIndex(FDocument, Index, &width, &height);
        return QSize(qRound(width * Dpi / 72), qRound(height * Dpi / 72));
    }

    // Page Index drawn into Image, made a Format_ARGB32 image of Size unless it
    // is one. For an image: filled with white, in the format the page's
    // transparency calls for, the page, then the form fields. For a painter:
    // transparent, with an alpha channel, the page alone.
    void Render(int Index, QImage& Image, QSize Size, bool ForPainter) {
        using namespace engine;
        FPDF_PAGE page = FPDF_LoadPage(FDocument, Index);
        if (!page) throw std::runtime_error("bare engine: cannot load a page");
        FORM_OnAfterLoadPage(page, FForm);
        const int format = ForPainter || FPDFPage_HasTransparency(page) ? 4 : 3;
        if (Image.size() != Size || Image.format() != QImage::Format_ARGB32)
            Image = QImage(Size, QImage::Format_ARGB32);
        FPDF_BITMAP bitmap =
            FPDFBitmap_CreateEx(Size.width(), Size.height(), format, Image.bits(), int(Image.bytesPerLine()));
        if (!bitmap) throw std::runtime_error("bare engine: cannot create a bitmap");
        FPDFBitmap_FillRect(bitmap, 0, 0, Size.width(), Size.height(), ForPainter ? 0x00000000 : White);
        FPDF_RenderPageBitmap(bitmap, page, 0, 0, Size.width(), Size.height(), 0, 0);
        if (!ForPainter) FPDF_FFLDraw(FForm, bitmap, page, 0, 0, Size.width(), Size.height(), 0, 0);
        FPDFBitmap_Destroy(bitmap);
        FORM_OnBeforeClosePage(page, FForm);
        FPDF_ClosePage(page);
    }

private:
    FPDF_DOCUMENT FDocument = nullptr;
    FPDF_FORMHANDLE FForm = nullptr;
    FPDF_FORMFILLINFO FInfo{};
};

// ---- Measuring --------------------------------------------------------------------

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Timed(const std::function<void()>& Work) {
    const double start = CpuSeconds();
    Work();
    return CpuSeconds() - start;
}

// One way of rendering: a page through TFPdf and the same page through the bare
// engine, each leaving its result where Compare finds it.
struct Way {
    const char* Name;
    std::function<void(int, QSize)> Component, Bare;
    std::function<bool()> Same;
    QList<double> ComponentTimes, BareTimes;
};

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::ParseOptions(argc, argv, true, "render_bench [--pages N] [--rounds N] [--file X.pdf] [--smoke]",
                             options))
        return 2;
    const int pageLimit = options.Pages;
    const int rounds = options.Rounds > 0 ? options.Rounds : 7;
    const bool smoke = options.Smoke;
    const QString file = options.File;

    QTemporaryDir dir;
    QString pdfPath = file;
    if (pdfPath.isEmpty()) {
        pdfPath = dir.filePath(QStringLiteral("mixed.pdf"));
        const QByteArray pdf = MixedPdf(pageLimit > 0 ? pageLimit : 30);
        testing_support::WriteFile(pdfPath, pdf);
        std::printf("document: generated, %.1f MiB\n", pdf.size() / 1048576.0);
    } else {
        std::printf("document: %s\n", qPrintable(pdfPath));
    }

    try {
        LoadEngine();
        BareDocument bare(pdfPath);
        TFPdf pdf;
        pdf.SetFileName(pdfPath);
        pdf.SetActive(true);
        const int pageCount = pageLimit > 0 ? std::min(pageLimit, bare.PageCount()) : bare.PageCount();
        if (pageCount < 1) throw std::runtime_error("the document has no pages");
        QList<QSize> sizes;
        for (int i = 0; i < pageCount; ++i) sizes << bare.PixelSize(i);
        std::printf("%d pages at %.0f dpi, the first %d x %d pixels\n", pageCount, Dpi, sizes[0].width(),
                    sizes[0].height());

        QImage componentImage, bareImage;                            // new image per page
        QImage componentReused, bareReused;                          // one image, kept
        QImage componentCanvas, bareCanvas, bareDrawn;               // painter
        const auto prepareCanvas = [](QImage& canvas, QSize size) {  // not timed
            if (canvas.size() != size) canvas = QImage(size, QImage::Format_ARGB32_Premultiplied);
            canvas.fill(Qt::white);
        };
        Way ways[] = {
            {"new image",
             [&](int i, QSize s) {
                 pdf.SetPageNumber(i + 1);
                 componentImage = pdf.RenderPage(0, 0, s.width(), s.height(), TRotation::ro0, {}, White);
             },
             [&](int i, QSize s) {
                 QImage fresh;
                 bare.Render(i, fresh, s, false);
                 bareImage = std::move(fresh);
             },
             [&] { return componentImage == bareImage; }, {}, {}},
            {"reused image",
             [&](int i, QSize s) {
                 pdf.SetPageNumber(i + 1);
                 pdf.RenderPage(&componentReused, 0, 0, s.width(), s.height(), TRotation::ro0, {}, White);
             },
             [&](int i, QSize s) { bare.Render(i, bareReused, s, false); },
             [&] { return componentReused == bareReused; }, {}, {}},
            {"painter",
             [&](int i, QSize s) {
                 pdf.SetPageNumber(i + 1);
                 QPainter painter(&componentCanvas);
                 pdf.RenderPage(&painter, 0, 0, s.width(), s.height());
             },
             [&](int i, QSize s) {
                 QPainter painter(&bareCanvas);
                 bareDrawn = QImage();
                 bare.Render(i, bareDrawn, s, true);
                 painter.drawImage(0, 0, bareDrawn);
             },
             [&] { return componentCanvas == bareCanvas; }, {}, {}},
        };

        // The first round warms both up (fonts, images, caches) and is not counted.
        // Sides alternate in order page by page, and the start alternates by round,
        // so that drift of the machine falls on both alike.
        int differing = 0;
        for (int r = 0; r <= rounds; ++r) {
            for (Way& way : ways) {
                double componentTime = 0, bareTime = 0;
                for (int i = 0; i < pageCount; ++i) {
                    prepareCanvas(componentCanvas, sizes[i]);
                    prepareCanvas(bareCanvas, sizes[i]);
                    const auto component = [&] { componentTime += Timed([&] { way.Component(i, sizes[i]); }); };
                    const auto engineOnly = [&] { bareTime += Timed([&] { way.Bare(i, sizes[i]); }); };
                    if ((r + i) % 2 == 0) {
                        component();
                        engineOnly();
                    } else {
                        engineOnly();
                        component();
                    }
                    if (!way.Same()) {
                        if (differing++ < 5)
                            std::fprintf(stderr, "render_bench: %s: page %d differs from the engine's\n", way.Name,
                                         i + 1);
                    }
                }
                if (r > 0) {
                    way.ComponentTimes << componentTime;
                    way.BareTimes << bareTime;
                }
            }
        }
        if (differing > 0) {
            std::fprintf(stderr, "render_bench: %d renderings differ from the engine's\n", differing);
            return 1;
        }
        std::printf("pixels: every page equal to the bare engine's, in all three ways\n");

        bool ok = true;
        std::printf("CPU time of a pass over %d pages, median of %d rounds:\n", pageCount, rounds);
        for (const Way& way : ways) {
            const double component = bench::Median(way.ComponentTimes), engineOnly = bench::Median(way.BareTimes);
            const double ratio = component / engineOnly;
            std::printf("  %-13s TFPdf %.3f s, bare engine %.3f s, ratio %.3f (at most %.2f)\n", way.Name,
                        component, engineOnly, ratio, MaxRatio);
            ok = ok && ratio <= MaxRatio;
        }
        if (smoke) return 0;
        std::printf("%s\n", ok ? "within limits" : "OUT OF LIMITS");
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "render_bench: %s\n", e.what());
        return 1;
    }
}
