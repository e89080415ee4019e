// The recognition benchmark, in three parts, each a ratio measured in one run:
//
// 1. TPageRecognizer::Recognize (the grey pixels handed to Tesseract, the
//    text and the words collected) against Tesseract's own API given the same
//    grey pixels (SetImage, Recognize, GetUTF8Text) with the same settings
//    (orientation detection on, as the tesseract command's --psm 1; or off,
//    with --no-rotate), alternating: the ratio of
//    the median processor times of a pass over the pages (limit 1.10). The
//    engine's rendering of those pixels (what RecognizePage adds) is timed
//    and shown apart.
// 2. kestrune-text --ocr always -j N against -j 1 on the same document: the
//    ratio of the median wall times (reported; about 1/N on N free cores).
// 3. kestrune-text --ocr auto against the default on a born-digital document
//    (1,000 generated pages of text, or --text-file X.pdf): same bytes, and
//    the ratio of the median processor times of all its processes (limit 1.02;
//    no page is recognised, so neither is any page's orientation detected).
//
//   ocr_bench [--pages N] [--rounds N] [--file SCANNED.pdf] [--text-file X.pdf] [--jobs N] [--no-rotate] [--smoke]
//
// The scanned document is by default N (4) Letter pages of 24 lines of text in
// Helvetica 24 pt, rendered by the engine at 300 dpi and wrapped as images. The
// benchmark runs with OMP_THREAD_LIMIT=1 (it starts itself again with it), as
// kestrune-text's workers do, so that both sides of part 1 use one thread.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <sys/resource.h>
#include <unistd.h>

#include <tesseract/baseapi.h>

#include <kestrune/FPdf.h>
#include <kestrune/PageRecognizer.h>
#include "BenchSupport.h"
#include "support/PdfBuilder.h"
#include "support/ScannedPdf.h"

using namespace kestrune;

namespace {

constexpr double MaxRecognitionRatio = 1.10;
constexpr double MaxAutoRatio = 1.02;
constexpr int Dpi = 300;

// A page of prose-like lines, different on every page.
QStringList PageLines(int Page, int Lines) {
    static const char* const words[] = {"the", "scanned", "letter", "reads", "plain", "words", "from", "every",
                                        "page", "of", "an", "old", "contract", "signed", "in", "March", "and",
                                        "kept", "with", "care", "by", "its", "owner", "who", "moved", "north"};
    QStringList lines;
    for (int l = 0; l < Lines; ++l) {
        QStringList line;
        for (int w = 0; w < 9; ++w) line << words[(Page * 7 + l * 5 + w * 3) % std::size(words)];
        lines << line.join(' ');
    }
    return lines;
}

// Part 1: the recognizer against the bare API on the same pixels.
bool CompareRecognition(const QByteArray& Scanned, int Rounds, bool Rotate, bool Smoke) {
    TFPdf pdf;
    pdf.LoadDocument(Scanned);
    const int pages = pdf.GetPageCount();
    // The pixels RecognizePage renders, for both sides.
    const double renderStart = bench::ProcessCpuSeconds();
    QList<QImage> images;
    for (int page = 1; page <= pages; ++page) {
        pdf.SetPageNumber(page);
        const int dpi = TPageRecognizer::PageDpi(pdf.GetPageWidth(), pdf.GetPageHeight(), Dpi);
        images << pdf.RenderPage(0, 0, int(std::lround(pdf.GetPageWidth() * dpi / 72)),
                                 int(std::lround(pdf.GetPageHeight() * dpi / 72)), TRotation::ro0,
                                 {TRenderOption::reGrayscale, TRenderOption::reAnnotations, TRenderOption::reNoSmoothImage})
                      .convertToFormat(QImage::Format_Grayscale8);
    }
    const double renderCpu = bench::ProcessCpuSeconds() - renderStart;
    TPageRecognizer recognizer;
    tesseract::TessBaseAPI api;
    if (api.Init(nullptr, "eng", tesseract::OEM_DEFAULT) != 0) {
        std::fprintf(stderr, "ocr_bench: Tesseract did not start\n");
        return false;
    }
    api.SetPageSegMode(Rotate ? tesseract::PSM_AUTO_OSD : tesseract::PSM_AUTO);
    TRecognitionOptions options;
    options.Rotate = Rotate;

    QStringList ours(pages), bare(pages);
    QList<double> oursCpu, bareCpu;
    bench::TimeAlternately(
        Rounds,
        [&] {
            const double start = bench::ProcessCpuSeconds();
            for (int page = 0; page < pages; ++page) ours[page] = recognizer.Recognize(images[page], Dpi, options).Text;
            oursCpu << bench::ProcessCpuSeconds() - start;
        },
        [&] {
            const double start = bench::ProcessCpuSeconds();
            for (const QImage& image : images) {
                api.SetImage(image.constBits(), image.width(), image.height(), 1, int(image.bytesPerLine()));
                api.SetSourceResolution(Dpi);
                const std::unique_ptr<char[]> text(api.GetUTF8Text());
                bare[&image - images.data()] = QString::fromUtf8(text.get());
            }
            bareCpu << bench::ProcessCpuSeconds() - start;
        });
    for (int page = 0; page < pages; ++page)
        if (testing_support::WordsOf(ours[page]) != testing_support::WordsOf(bare[page])) {
            std::fprintf(stderr, "ocr_bench: page %d: the recognizer and the bare API read different words\n", page + 1);
            return false;
        }
    const double ratio = bench::Median(oursCpu) / bench::Median(bareCpu);
    std::printf("recognition, %d pages at %d dpi, orientation detection %s, CPU median of %d: TPageRecognizer %.3f s, "
                "Tesseract API %.3f s, ratio %.3f (at most %.2f); the engine's rendering of the pages %.3f s\n",
                pages, Dpi, Rotate ? "on" : "off", Rounds, bench::Median(oursCpu), bench::Median(bareCpu), ratio, MaxRecognitionRatio,
                renderCpu);
    return Smoke || ratio <= MaxRecognitionRatio;
}

// kestrune-text on Pdf into Text with Arguments; its wall time, and its
// processor time (all its processes) added to *Cpu. Exits on a failure.
double RunText(const QStringList& Arguments, const QString& Pdf, const QString& Text, double* Cpu = nullptr) {
    const auto childrenCpu = [] {
        rusage u{};
        getrusage(RUSAGE_CHILDREN, &u);
        return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
    };
    const double cpuBefore = childrenCpu();
    const auto start = std::chrono::steady_clock::now();
    QProcess p;
    p.start(QStringLiteral(KESTRUNE_TEXT_PROGRAM), QStringList{"-q", "-o", Text} + Arguments + QStringList{Pdf});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "ocr_bench: kestrune-text failed: %s\n", p.readAllStandardError().constData());
        std::exit(1);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (Cpu) *Cpu += childrenCpu() - cpuBefore;
    return wall;
}

QByteArray ReadFile(const QString& Path) {
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Part 2: -j Jobs against -j 1, wall time.
void CompareJobs(const QString& Scanned, const QString& Dir, int Jobs, int Rounds) {
    const QStringList ocr{"--ocr", "always", "--ocr-dpi", QString::number(Dpi)};
    QList<double> one, many;
    bench::TimeAlternately(
        Rounds, [&] { one << RunText(ocr + QStringList{"-j", "1"}, Scanned, Dir + "/one.txt"); },
        [&] { many << RunText(ocr + QStringList{"-j", QString::number(Jobs)}, Scanned, Dir + "/many.txt"); });
    std::printf("kestrune-text --ocr always, wall median of %d: -j %d %.2f s, -j 1 %.2f s, ratio %.2f (same bytes: %s)\n",
                Rounds, Jobs, bench::Median(many), bench::Median(one), bench::Median(many) / bench::Median(one),
                ReadFile(Dir + "/one.txt") == ReadFile(Dir + "/many.txt") ? "yes" : "NO");
}

// Part 3: --ocr auto against the default on a born-digital document, CPU.
bool CompareAuto(const QString& Text, const QString& Dir, int Rounds, bool Smoke) {
    QList<double> never, autoCpu;
    bench::TimeAlternately(
        Rounds,
        [&] {
            double cpu = 0;
            RunText({"-j", "1"}, Text, Dir + "/never.txt", &cpu);
            never << cpu;
        },
        [&] {
            double cpu = 0;
            RunText({"-j", "1", "--ocr", "auto"}, Text, Dir + "/auto.txt", &cpu);
            autoCpu << cpu;
        });
    if (ReadFile(Dir + "/never.txt") != ReadFile(Dir + "/auto.txt")) {
        std::fprintf(stderr, "ocr_bench: --ocr auto changed the text of a born-digital document\n");
        return false;
    }
    const double ratio = bench::Median(autoCpu) / bench::Median(never);
    std::printf("born-digital document, kestrune-text -j 1, CPU median of %d: --ocr auto %.3f s, without %.3f s, "
                "ratio %.3f (at most %.2f); same bytes\n",
                Rounds, bench::Median(autoCpu), bench::Median(never), ratio, MaxAutoRatio);
    return Smoke || ratio <= MaxAutoRatio;
}

}  // namespace

int main(int argc, char** argv) {
    // Tesseract's OpenMP runtime reads its thread limit when it loads: set, then start again.
    if (const char* limit = std::getenv("OMP_THREAD_LIMIT"); !limit || std::strcmp(limit, "1") != 0) {
        setenv("OMP_THREAD_LIMIT", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("ocr_bench: cannot start again");
        return 1;
    }
    QCoreApplication application(argc, argv);
    // --text-file is this benchmark's own; the rest are the shared options.
    QString textFile;
    bool rotate = true;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--text-file") && i + 1 < argc) textFile = QString::fromLocal8Bit(argv[++i]);
        else if (!std::strcmp(argv[i], "--no-rotate")) rotate = false;
        else rest.push_back(argv[i]);
    }
    bench::Options options;
    if (!bench::ParseOptions(int(rest.size()), rest.data(), true,
                             "ocr_bench [--pages N] [--rounds N] [--file SCANNED.pdf] [--text-file X.pdf] [--jobs N] [--no-rotate] [--smoke]",
                             options))
        return 2;
    const bool smoke = options.Smoke;
    const int rounds = options.Rounds > 0 ? options.Rounds : 3;
    const int jobs = options.Jobs > 0 ? options.Jobs : 2;
    QTemporaryDir dir;

    QString scanned = options.File;
    if (scanned.isEmpty()) {
        const int pages = options.Pages > 0 ? options.Pages : 4;
        QList<QStringList> content;
        for (int page = 1; page <= pages; ++page) content << PageLines(page, smoke ? 3 : 24);
        QList<int> all;
        for (int page = 1; page <= pages; ++page) all << page;
        scanned = testing_support::WriteFile(dir.filePath("scanned.pdf"),
                                             testing_support::ScannedPdf(content, all, Dpi, QSizeF(612, 792)));
    }
    QString text = textFile;
    if (text.isEmpty())
        text = testing_support::WriteFile(dir.filePath("text.pdf"), testing_support::VariedTextPdf(smoke ? 50 : 1000));

    QFile file(scanned);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "ocr_bench: cannot read %s\n", qPrintable(scanned));
        return 2;
    }
    bool ok = CompareRecognition(file.readAll(), rounds, rotate, smoke);
    CompareJobs(scanned, dir.path(), jobs, smoke ? 1 : rounds);
    ok = CompareAuto(text, dir.path(), smoke ? 1 : std::max(3 * rounds, 9), smoke) && ok;
    return ok ? 0 : 1;
}
