// How much the converter adds to the engine's own work.
//
// Generates a long document of mixed text with what users' documents carry
// (link annotations on every page, form fields on some), or takes any document
// (--file), then converts it to a text file in two ways, alternating in one
// run: through TFPdf and the converter's routine (open with the form
// environment, read each page's text, write it as it comes: what kestrune-text
// does per document), and as the bare engine loop without the component and
// without a form environment (load the document; per page: load the page, load
// its text page, count, get the text, encode, write). Prints the median of the
// rounds' ratios of CPU times, and the peak memory of each way, measured in a
// child process of its own after a small warm-up, and once more cold.
//
//   conversion_bench [--pages N] [--rounds N] [--file X.pdf] [--jobs N] [--smoke]
//
// With --jobs N it compares instead the wall time of kestrune-text -j N (the
// whole program, in a process of its own) with the plain loop in this
// process; limit 0.6 for 2 or more jobs.
//
// Exit status 1 when the CPU ratio exceeds 1.05 or the component's peak memory
// exceeds the bare loop's by more than 12 MiB (not with --smoke, which only
// checks that the run completes).
#include <QByteArray>
#include <kestrune/PageText.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <ctime>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "convert/Conversion.h"
#include "convert/TextOutput.h"
#include <kestrune/FPdf.h>
#include <kestrune/Engine.h>
#include "support/PdfBuilder.h"
#include "BenchSupport.h"

using namespace kestrune;
using testing_support::PdfBuilder;
using testing_support::PdfLiteral;
using testing_support::Ref;

namespace {

constexpr double MaxRatio = 1.05;
// The component's peak memory may exceed the bare loop's by this much.
constexpr long MaxExtraPeakKiB = 12 * 1024;
// With --jobs N (N >= 2): kestrune-text's wall time against the plain loop's.
constexpr double MaxJobsRatio = 0.6;

// Every page's annotations: links to a web address and to the next page (as a
// table of contents or an index has them), and on every tenth page an
// interactive form's text field and check box, whose fields are added to
// Fields. Annotations cost nothing unless the page is announced to a form
// environment, which reading text must not do.
QByteArray PageAnnotations(PdfBuilder& b, int page, int next, bool withForm, QByteArray& fields) {
    const QByteArray owner = " /P " + Ref(page);
    QList<int> annots;
    annots << b.Add("<< /Type /Annot /Subtype /Link /Rect [40 770 300 785] /Border [0 0 0]"
                    " /A << /S /URI /URI (https://example.com/manual) >>" + owner + " >>");
    annots << b.Add("<< /Type /Annot /Subtype /Link /Rect [320 770 572 785] /Border [0 0 1] /C [1 0 0]"
                    " /Dest [" + Ref(next) + " /XYZ 0 792 0]" + owner + " >>");
    if (withForm) {
        const QByteArray widget = " /Type /Annot /Subtype /Widget /F 4" + owner;
        const QByteArray n = QByteArray::number(page);
        annots << b.Add("<<" + widget + " /FT /Tx /T (name" + n + ") /V (Value " + n +
                        ") /DA (/F1 10 Tf 0 g) /Rect [40 20 300 40] >>");
        annots << b.Add("<<" + widget + " /FT /Btn /T (check" + n + ") /V /Off /AS /Off /Rect [320 20 335 35] >>");
        fields += Ref(annots[2]) + " " + Ref(annots[3]) + " ";
    }
    QByteArray refs;
    for (int a : annots) refs += Ref(a) + " ";
    return refs;
}

// A deterministic document of mixed text: prose with accented letters, numbers
// and punctuation in three fonts and sizes, pages of varying length, now and
// then a page without text; annotations on every page (PageAnnotations).
QByteArray MixedTextPdf(int pageCount) {
    static const char* const words[] = {
        "the", "engine", "converts", "page", "text", "R\xE9sum\xE9", "na\xEFve", "Stra\xDF" "e", "\xC9t\xE9",
        "invoice", "total:", "2024-03-17", "12,345.67", "(note)", "\"quoted\"", "sch\xF6n", "ma\xF1" "ana",
        "co\xF6perate", "A4", "\xA7" "3.2", "100%", "e-mail", "x=y+z;", "\xBD", "caf\xE9", "the", "and", "of",
        "a", "to", "in", "document", "component", "window", "progress", "UTF-8", "\xAB" "guillemets\xBB"};
    std::mt19937 random(20240317);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };

    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    int helvetica = 0;
    const QByteArray fontResources = bench::AddThreeFonts(b, &helvetica);
    QList<int> pageNumbers;
    for (int p = 0; p < pageCount; ++p) pageNumbers << b.Reserve();
    QByteArray kids, fields;
    for (int p = 0; p < pageCount; ++p) {
        QByteArray content;
        const int lines = p % 97 == 50 ? 0 : 20 + pick(31);
        if (lines > 0) content = "BT 14 TL 40 760 Td\n";
        int font = -1;
        for (int l = 0; l < lines; ++l) {
            if (l % 8 == 0) {
                font = (font + 1 + pick(2)) % 3;
                content += "/F" + QByteArray::number(font + 1) + " " + QByteArray::number(9 + pick(3)) + " Tf\n";
            }
            QByteArray line;
            const int count = 6 + pick(8);
            for (int w = 0; w < count; ++w) {
                if (w) line += ' ';
                line += words[pick(int(std::size(words)))];
            }
            content += PdfLiteral(line) + " Tj T*\n";
        }
        if (lines > 0) content += "ET";
        const int stream = b.AddStream("<< >>", content);
        const int page = pageNumbers[p];
        const QByteArray annots =
            PageAnnotations(b, page, pageNumbers[(p + 1) % pageCount], p % 10 == 3, fields);
        b.Set(page, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << " +
                        fontResources + ">> >> /Contents " + Ref(stream) + " /Annots [" + annots + "] >>");
        kids += Ref(page) + " ";
    }
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " /AcroForm << /Fields [" + fields +
                       "] /DA (/F1 10 Tf 0 g) /DR << /Font << /F1 " + Ref(helvetica) + " >> >> >> >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pageCount) + " >>");
    return b.Build(catalog);
}

// The converter's way: the component with its form environment (FormFill is
// on by default), each page's text read by the converter's routine and
// written as it comes into a file that replaces the old one when complete.
qint64 ConvertWithComponent(const QString& pdfPath, const QString& textPath) {
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    OpenDocument(pdf, pdfPath);
    TTextTarget target(textPath, TTextTarget::TMode::Replace);
    target.Write(ByteOrderMark, 3);
    ReadPages(pdf, 1, pdf.GetPageCount(), [&](int, const QByteArray& bytes) { target.Write(bytes); });
    target.Commit();
    pdf.SetActive(false);
    return target.BytesWritten();
}

// The same engine calls in a plain loop, writing each page as it comes; with
// Readable, each page's line-end hyphen marks resolved as the converter does
// (for the check that both write the same file, not for the timing).
qint64 ConvertPlainLoop(const QString& pdfPath, const QString& textPath, bool Readable) {
    using namespace engine;
    const QByteArray path = pdfPath.toUtf8();
    FPDF_DOCUMENT document = FPDF_LoadDocument(path.constData(), "");
    if (!document) throw std::runtime_error("baseline: cannot load the document");
    QFile out(textPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("baseline: cannot write");
    qint64 written = out.write("\xEF\xBB\xBF", 3);
    const int count = FPDF_GetPageCount(document);
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        FPDF_PAGE page = FPDF_LoadPage(document, i);
        FPDF_TEXTPAGE textPage = page ? FPDFText_LoadPage(page) : nullptr;
        if (!textPage) throw std::runtime_error("baseline: cannot open a page");
        const int chars = FPDFText_CountChars(textPage);
        QString text;
        if (chars > 0) {
            text = QString(chars, Qt::Uninitialized);
            const int units = FPDFText_GetText(textPage, 0, chars, reinterpret_cast<unsigned short*>(text.data()));
            text.truncate(units > 1 ? units - 1 : 0);
        }
        bytes.clear();
        AppendUtf8(bytes, Readable ? ReadableText(text) : text);
        bytes += "\r\n";
        written += out.write(bytes);
        FPDFText_ClosePage(textPage);
        FPDF_ClosePage(page);
    }
    out.close();
    FPDF_CloseDocument(document);
    return written;
}

qint64 ConvertPlain(const QString& pdfPath, const QString& textPath) { return ConvertPlainLoop(pdfPath, textPath, false); }

using Conversion = std::function<qint64(const QString&, const QString&)>;

// Peak resident memory, in KiB, of a child process that makes one conversion
// (the least of three children, as the heap's layout varies a little from run
// to run).
// With a warm-up, the child first converts a one-page document both ways, so
// that what either way loads once (code pages of the engine and of Qt, the
// engine's fonts) is in place before the measured conversion, and the peak
// shows what the conversion itself holds.
long PeakMemoryOnceKiB(const Conversion& convert, const QString& pdfPath, const QString& textPath,
                       const QString& warmUpPath) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        int status = 0;
        try {
            LoadEngine();
            if (!warmUpPath.isEmpty()) {
                ConvertWithComponent(warmUpPath, textPath);
                ConvertPlain(warmUpPath, textPath);
            }
            convert(pdfPath, textPath);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "conversion_bench: %s\n", e.what());
            status = 1;
        }
        _exit(status);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

long PeakMemoryKiB(const Conversion& convert, const QString& pdfPath, const QString& textPath,
                   const QString& warmUpPath) {
    long least = -1;
    for (int i = 0; i < 3; ++i) {
        const long peak = PeakMemoryOnceKiB(convert, pdfPath, textPath, warmUpPath);
        if (peak < 0) return -1;
        least = least < 0 ? peak : std::min(least, peak);
    }
    return least;
}

double Seconds(const Conversion& convert, const QString& pdfPath, const QString& textPath) {
    const auto start = std::chrono::steady_clock::now();
    convert(pdfPath, textPath);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The CPU time of one conversion (this process is single-threaded here, so
// the process's time is the conversion's), unaffected by other work on the machine.
double CpuSeconds(const Conversion& convert, const QString& pdfPath, const QString& textPath) {
    const double start = bench::ProcessCpuSeconds();
    convert(pdfPath, textPath);
    return bench::ProcessCpuSeconds() - start;
}

// The --jobs mode: kestrune-text converting the document with -j Jobs (its
// whole run, a process of its own, worker start-up included) against the plain
// loop in this process, alternating; the ratio of the median wall times.
int CompareJobs(int Jobs, const QString& pdfPath, const QString& dirPath, int rounds, bool smoke) {
    const QString plainText = dirPath + QStringLiteral("/plain.txt");
    const QString jobsText = dirPath + QStringLiteral("/jobs.txt");
    const auto convertWithJobs = [&](const QString& pdf, const QString& text) -> qint64 {
        QProcess p;
        p.start(QStringLiteral(KESTRUNE_TEXT_PROGRAM), {"-q", "-j", QString::number(Jobs), "-o", text, pdf});
        if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            throw std::runtime_error("kestrune-text failed: " + p.readAllStandardError().toStdString());
        return 0;
    };
    LoadEngine();
    ConvertPlainLoop(pdfPath, plainText, true);
    convertWithJobs(pdfPath, jobsText);
    QFile a(plainText), b(jobsText);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll()) {
        std::fprintf(stderr, "conversion_bench: kestrune-text -j %d wrote a different file\n", Jobs);
        return 1;
    }
    // Processor time as well: of kestrune-text and its workers (children this
    // process waited for), and of the plain loop (this process), which shows
    // what the workers cost beyond the engine's work, whatever the machine's load.
    const auto cpu = [](int Who) {
        rusage usage{};
        getrusage(Who, &usage);
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    QList<double> jobs, plain, jobsCpu, plainCpu;
    bench::TimeAlternately(
        rounds,
        [&] {
            const double before = cpu(RUSAGE_CHILDREN);
            jobs.append(Seconds(convertWithJobs, pdfPath, jobsText));
            jobsCpu.append(cpu(RUSAGE_CHILDREN) - before);
        },
        [&] {
            const double before = cpu(RUSAGE_SELF);
            plain.append(Seconds(ConvertPlain, pdfPath, plainText));
            plainCpu.append(cpu(RUSAGE_SELF) - before);
        });
    const double ratio = bench::Median(jobs) / bench::Median(plain);
    std::printf("wall time, median of %d: kestrune-text -j %d %.3f s, plain engine loop %.3f s\n", rounds, Jobs,
                bench::Median(jobs), bench::Median(plain));
    std::printf("processor time, median: kestrune-text -j %d %.3f s (all its processes), plain engine loop %.3f s\n",
                Jobs, bench::Median(jobsCpu), bench::Median(plainCpu));
    std::printf("ratio kestrune-text -j %d / plain: %.3f (at most %.2f for 2 or more jobs)\n", Jobs, ratio, MaxJobsRatio);
    if (smoke || Jobs < 2) return 0;
    const bool ok = ratio <= MaxJobsRatio;
    std::printf("%s\n", ok ? "within limits" : "OUT OF LIMITS");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::ParseOptions(argc, argv, true,
                             "conversion_bench [--pages N] [--rounds N] [--file X.pdf] [--jobs N] [--smoke]", options))
        return 2;
    const int pageCount = options.Pages > 0 ? options.Pages : 1000;
    const int rounds = options.Rounds > 0 ? options.Rounds : options.Jobs > 0 ? 9 : 15;
    const bool smoke = options.Smoke;
    const int jobs = options.Jobs;

    QTemporaryDir dir;
    QString pdfPath = options.File;
    if (pdfPath.isEmpty()) {
        pdfPath = dir.filePath(QStringLiteral("mixed.pdf"));
        const QByteArray pdf = MixedTextPdf(pageCount);
        testing_support::WriteFile(pdfPath, pdf);
        std::printf("document: %d generated pages, %.1f MiB\n", pageCount, pdf.size() / 1048576.0);
    } else {
        std::printf("document: %s, %.1f MiB\n", qPrintable(pdfPath), QFileInfo(pdfPath).size() / 1048576.0);
    }
    if (jobs > 0) {
        try {
            return CompareJobs(jobs, pdfPath, dir.path(), rounds, smoke);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "conversion_bench: %s\n", e.what());
            return 1;
        }
    }
    const QString componentText = dir.filePath(QStringLiteral("component.txt"));
    const QString plainText = dir.filePath(QStringLiteral("plain.txt"));
    const QString warmUpPath = dir.filePath(QStringLiteral("warm-up.pdf"));
    testing_support::WriteFile(warmUpPath, MixedTextPdf(1));

    // Memory first, each way in a fresh child, before this process loads the engine.
    const long componentPeak = PeakMemoryKiB(ConvertWithComponent, pdfPath, componentText, warmUpPath);
    const long plainPeak = PeakMemoryKiB(ConvertPlain, pdfPath, plainText, warmUpPath);
    const long componentColdPeak = PeakMemoryKiB(ConvertWithComponent, pdfPath, componentText, {});
    const long plainColdPeak = PeakMemoryKiB(ConvertPlain, pdfPath, plainText, {});
    if (componentPeak < 0 || plainPeak < 0 || componentColdPeak < 0 || plainColdPeak < 0) {
        std::fprintf(stderr, "conversion_bench: a measuring child failed\n");
        return 1;
    }

    try {
        LoadEngine();
        // A warm-up of each, which also checks that both write the same file
        // (the bare loop keeps the engine's line-end hyphen marks, which the
        // converter resolves: compared with them resolved).
        ConvertWithComponent(pdfPath, componentText);
        ConvertPlainLoop(pdfPath, plainText, true);
        QFile a(componentText), b(plainText);
        if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll()) {
            std::fprintf(stderr, "conversion_bench: the two ways wrote different files\n");
            return 1;
        }
        std::printf("text: %.1f MiB\n", a.size() / 1048576.0);

        QList<double> component, plain;
        bench::TimeAlternately(rounds, [&] { component.append(CpuSeconds(ConvertWithComponent, pdfPath, componentText)); },
                        [&] { plain.append(CpuSeconds(ConvertPlain, pdfPath, plainText)); });
        // The median of each round's ratio: the two runs of a round are
        // neighbours in time, so what other work on the machine slows them
        // down falls on both alike.
        QList<double> ratios;
        for (int r = 0; r < rounds; ++r) ratios.append(component[r] / plain[r]);
        const double ratio = bench::Median(ratios);
        const long allowedPeak = plainPeak + MaxExtraPeakKiB;
        std::printf("CPU time, median of %d: component %.3f s, plain engine loop %.3f s\n", rounds,
                    bench::Median(component), bench::Median(plain));
        std::printf("ratio component / plain, median of the rounds' ratios: %.3f (at most %.2f)\n", ratio, MaxRatio);
        std::printf("peak memory after a warm-up: component %ld KiB, plain engine loop %ld KiB, allowed %ld KiB "
                    "(plain + %ld KiB)\n",
                    componentPeak, plainPeak, allowedPeak, MaxExtraPeakKiB);
        std::printf("peak memory of a cold first run: component %ld KiB, plain engine loop %ld KiB "
                    "(what either way loads once comes in addition)\n",
                    componentColdPeak, plainColdPeak);
        if (smoke) return 0;
        const bool ok = ratio <= MaxRatio && componentPeak <= allowedPeak;
        std::printf("%s\n", ok ? "within limits" : "OUT OF LIMITS");
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "conversion_bench: %s\n", e.what());
        return 1;
    }
}
