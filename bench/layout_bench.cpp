// What the word formats and the layout text cost beyond the engine's reading
// of the characters they are made from.
//
// Takes a long real document (source2e.pdf of TeX Live's documentation when it
// is installed, else a generated one; --file X.pdf any document) and converts
// it, round after round in one process, in six ways whose order turns from
// round to round: kestrune-text's page routine writing TSV (--format tsv),
// JSON Lines (--format json), the layout text (--layout), the text in reading
// order (--reading-order) and the plain text (the default run), and the bare
// engine loop reading the same characters
// (per page: load the page and its text page, then for every character its
// value, font box, origin, angle and size, and the font's name where a word
// starts, and write the characters out). Prints the median of the rounds'
// ratios of CPU time against the bare loop; the TSV, JSON and layout ratios
// must stay within 1.3.
//
// It also runs, in the same rounds, the whole kestrune-text -j 1 --format tsv
// and pdftotext -tsv (when installed) as programs of their own, and prints
// their median wall and processor times.
//
//   layout_bench [--file X.pdf] [--pages N] [--rounds N] [--smoke]
//
// Exit status 1 when a ratio exceeds its limit (not with --smoke, which only
// checks that the run completes).
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>

#include "convert/Conversion.h"
#include "convert/PageFormat.h"
#include "convert/TextOutput.h"
#include <kestrune/Engine.h>
#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "BenchSupport.h"

using namespace kestrune;

namespace {

constexpr double MaxRatio = 1.3;
const char* const DefaultDocument = "/usr/share/doc/texlive-doc/latex/base/source2e.pdf";

// kestrune-text's way for one document: the component with its form
// environment, each page's bytes made by the workers' page routine and written
// as they come, the file replaced when complete.
void ConvertWith(const TPageFormat& Format, const QString& PdfPath, const QString& OutPath) {
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    OpenDocument(pdf, PdfPath);
    TTextTarget target(OutPath, TTextTarget::TMode::Replace);
    target.Write(Format.Header(QFileInfo(PdfPath).fileName()));
    for (int page = 1; page <= pdf.GetPageCount(); ++page) {
        pdf.SetPageNumber(page);
        target.Write(Format.PageBytes(pdf));
    }
    target.Write(Format.Footer());
    target.Commit();
    pdf.SetActive(false);
}

// The bare engine loop over the same character data, without the component.
void ReadCharactersPlain(const QString& PdfPath, const QString& OutPath) {
    using namespace engine;
    const QByteArray path = PdfPath.toUtf8();
    FPDF_DOCUMENT document = FPDF_LoadDocument(path.constData(), "");
    if (!document) throw std::runtime_error("bare loop: cannot load the document");
    QFile out(OutPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("bare loop: cannot write");
    const int count = FPDF_GetPageCount(document);
    QString text;
    char font[128];
    for (int i = 0; i < count; ++i) {
        FPDF_PAGE page = FPDF_LoadPage(document, i);
        FPDF_TEXTPAGE textPage = page ? FPDFText_LoadPage(page) : nullptr;
        if (!textPage) throw std::runtime_error("bare loop: cannot open a page");
        FS_RECTF bounds{};
        FPDF_GetPageBoundingBox(page, &bounds);
        double sum = FPDF_GetPageWidthF(page) + FPDF_GetPageHeightF(page) + FPDFPage_GetRotation(page);
        const int chars = FPDFText_CountChars(textPage);
        text.clear();
        bool wordStart = true;
        for (int c = 0; c < chars; ++c) {
            const char32_t code = FPDFText_GetUnicode(textPage, c);
            if (code <= 0x20) {
                wordStart = true;
                text += QLatin1Char(' ');
                continue;
            }
            FS_RECTF box{};
            double x = 0, y = 0;
            FPDFText_GetLooseCharBox(textPage, c, &box);
            FPDFText_GetCharOrigin(textPage, c, &x, &y);
            sum += box.left + x + FPDFText_GetCharAngle(textPage, c) + FPDFText_GetFontSize(textPage, c);
            if (wordStart) {
                int flags = 0;
                FPDFText_GetFontInfo(textPage, c, font, sizeof font, &flags);
                wordStart = false;
            }
            text += QChar::fromUcs4(code);
        }
        QByteArray bytes = EncodeUtf8(text);
        bytes += sum > 0 ? "\n" : "\r\n";  // keeps the reads from being optimised away
        out.write(bytes);
        FPDFText_ClosePage(textPage);
        FPDF_ClosePage(page);
    }
    FPDF_CloseDocument(document);
}

struct TWay {
    const char* Name;
    std::function<void()> Run;
    QList<double> Seconds;
};

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::ParseOptions(argc, argv, true, "layout_bench [--file X.pdf] [--pages N] [--rounds N] [--smoke]", options))
        return 2;
    const int rounds = options.Rounds > 0 ? options.Rounds : 7;
    QTemporaryDir dir;
    QString pdfPath = options.File;
    if (pdfPath.isEmpty() && options.Pages == 0 && QFile::exists(DefaultDocument)) pdfPath = DefaultDocument;
    if (pdfPath.isEmpty()) {
        const int pages = options.Pages > 0 ? options.Pages : 1000;
        pdfPath = testing_support::WriteFile(dir.filePath(QStringLiteral("varied.pdf")), testing_support::VariedTextPdf(pages));
        std::printf("document: %d generated pages\n", pages);
    } else {
        std::printf("document: %s\n", qPrintable(pdfPath));
    }
    const auto out = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };

    TPageFormat tsv, json, layout, reading, text;
    tsv.Format = TOutputFormat::Tsv;
    json.Format = TOutputFormat::Json;
    layout.Layout = true;
    reading.ReadingOrder = true;
    QList<TWay> ways = {
        {"bare engine loop", [&] { ReadCharactersPlain(pdfPath, out("bare.txt")); }, {}},
        {"--format tsv", [&] { ConvertWith(tsv, pdfPath, out("a.tsv")); }, {}},
        {"--format json", [&] { ConvertWith(json, pdfPath, out("a.jsonl")); }, {}},
        {"--layout", [&] { ConvertWith(layout, pdfPath, out("layout.txt")); }, {}},
        {"--reading-order", [&] { ConvertWith(reading, pdfPath, out("reading.txt")); }, {}},
        {"text (default)", [&] { ConvertWith(text, pdfPath, out("a.txt")); }, {}},
    };
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    QList<bench::TProgramTimes> kestruneRuns, pdftotextRuns;
    try {
        LoadEngine();
        for (TWay& way : ways) way.Run();  // a warm-up of each
        for (int r = 0; r < rounds; ++r) {
            // Each way in turn, the order turned by one every round.
            for (qsizetype i = 0; i < ways.size(); ++i) {
                TWay& way = ways[(i + r) % ways.size()];
                const double start = bench::ProcessCpuSeconds();
                way.Run();
                way.Seconds.append(bench::ProcessCpuSeconds() - start);
            }
            kestruneRuns.append(bench::RunProgram(QStringLiteral(KESTRUNE_TEXT_PROGRAM),
                                           {"-q", "-j", "1", "--format", "tsv", "-o", out("program.tsv"), pdfPath}));
            if (!pdftotext.isEmpty()) pdftotextRuns.append(bench::RunProgram(pdftotext, {"-tsv", pdfPath, out("pdftotext.tsv")}));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "layout_bench: %s\n", e.what());
        return 1;
    }

    bool within = true;
    std::printf("CPU time, median of %d rounds, and the median of the rounds' ratios to the bare loop:\n", rounds);
    for (const TWay& way : ways) {
        QList<double> ratios;
        for (int r = 0; r < rounds; ++r) ratios.append(way.Seconds[r] / ways[0].Seconds[r]);
        const double ratio = bench::Median(ratios);
        const bool judged = way.Name == ways[1].Name || way.Name == ways[2].Name || way.Name == ways[3].Name;
        std::printf("  %-18s %.3f s  %.3f%s\n", way.Name, bench::Median(way.Seconds), ratio,
                    judged ? QStringLiteral(" (at most %1)").arg(MaxRatio).toLatin1().constData() : "");
        if (judged && ratio > MaxRatio) within = false;
    }
    const auto programLine = [&](const char* name, const QList<bench::TProgramTimes>& runs) {
        QList<double> wall, cpu;
        for (const bench::TProgramTimes& t : runs) {
            wall.append(t.Wall);
            cpu.append(t.Cpu);
        }
        std::printf("  %-36s wall %.3f s, processor %.3f s\n", name, bench::Median(wall), bench::Median(cpu));
    };
    std::printf("whole programs, median of %d rounds:\n", rounds);
    programLine("kestrune-text -j 1 --format tsv", kestruneRuns);
    if (!pdftotextRuns.isEmpty()) programLine("pdftotext -tsv", pdftotextRuns);
    if (options.Smoke) return 0;
    if (!within) std::printf("a ratio exceeds its limit\n");
    return within ? 0 : 1;
}
