// What Markdown's structure costs: kestrune-text --format markdown against
// --format json on the same document, both whole programs, alternating round
// after round in one run. Markdown learns the document's style (a sample of
// its pages) and structures every page; JSON Lines writes every word with its
// box and the same roles. Prints the medians of their processor times (the
// program and its workers), their ratio (Markdown must stay within 1.5 of
// JSON) and the largest resident size a run's process reached.
//
//   markdown_bench [--file X.pdf] [--jobs N] [--rounds N] [--smoke]
//
// Takes source2e.pdf of TeX Live's documentation when it is installed, else a
// generated document. Exit status 1 when the ratio exceeds its limit (not with
// --smoke, which only checks that the runs complete).
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <stdexcept>

#include "support/PdfBuilder.h"
#include "BenchSupport.h"

namespace {

constexpr double MaxRatio = 1.5;
const char* const DefaultDocument = "/usr/share/doc/texlive-doc/latex/base/source2e.pdf";

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::ParseOptions(argc, argv, true, "markdown_bench [--file X.pdf] [--jobs N] [--pages N] [--rounds N] [--smoke]",
                             options))
        return 2;
    QTemporaryDir dir;
    QString pdf = options.File;
    if (pdf.isEmpty() && QFile::exists(DefaultDocument) && !options.Smoke) pdf = DefaultDocument;
    if (pdf.isEmpty()) {
        pdf = dir.filePath(QStringLiteral("generated.pdf"));
        QFile file(pdf);
        if (!file.open(QIODevice::WriteOnly) || file.write(testing_support::VariedTextPdf(options.Pages ? options.Pages : 40)) < 0)
            return 2;
    }
    const int rounds = options.Rounds ? options.Rounds : 3;
    const QString jobs = QString::number(options.Jobs ? options.Jobs : 1);
    QList<double> json, markdown;
    try {
        const auto run = [&](const char* Format, QList<double>& Times) {
            Times.append(bench::RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM),
                                           {"-q", "-j", jobs, "--format", Format, "-o",
                                            dir.filePath(QStringLiteral("out.") + Format), pdf})
                             .Cpu);
        };
        bench::TimeAlternately(rounds, [&] { run("json", json); }, [&] { run("markdown", markdown); });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "markdown_bench: %s\n", e.what());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const double ratio = bench::Median(markdown) / bench::Median(json);
    std::printf("%s, -j %s, %d rounds\n", qPrintable(pdf), qPrintable(jobs), rounds);
    std::printf("json      CPU %.2f s (median)\n", bench::Median(json));
    std::printf("markdown  CPU %.2f s (median)\n", bench::Median(markdown));
    std::printf("ratio markdown/json %.3f (limit %.1f)\n", ratio, MaxRatio);
    std::printf("largest resident size of a process %ld MiB\n", usage.ru_maxrss / 1024);
    return options.Smoke || ratio <= MaxRatio ? 0 : 1;
}
