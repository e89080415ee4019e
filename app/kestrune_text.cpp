// kestrune-text: the converter for the command line. Each PDF file becomes the
// same text file that the converter window writes for it.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <unistd.h>

#include "app/Conversion.h"
#include <kestrune/FPdf.h>
#include "component/FileError.h"

using namespace kestrune;

namespace {

const char* const Usage =
    "Usage: kestrune-text [-q] [--password PASSWORD] [-o PATH] FILE.pdf...\n"
    "\n"
    "Converts each PDF file to a UTF-8 text file beside it, with the same name and\n"
    "the extension .txt (an existing file of that name is replaced): the byte-order\n"
    "mark, then the text of each page followed by CR LF. A document without pages\n"
    "gives no text file. The files are byte for byte those of the Kestrune window.\n"
    "\n"
    "Options:\n"
    "  -o PATH            write the text to PATH instead (one input file only)\n"
    "  -o -               write the text to standard output\n"
    "  --password PASSWORD\n"
    "                     open password-protected files with PASSWORD\n"
    "  -q, --quiet        no progress display and no notes; errors are still shown\n"
    "  -h, --help         show this help and exit\n"
    "  --                 end of options; every further argument is a file\n"
    "\n"
    "Progress goes to standard error, page by page, when it is a terminal.\n"
    "A file that fails gets one line on standard error naming the file and the\n"
    "reason; nothing is written for it (an earlier text file stays as it was), and\n"
    "the run goes on with the next file.\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when any file failed, 2 when the\n"
    "command line is wrong.\n";

struct TOptions {
    QStringList Files;
    QString Output;  // empty: beside each input; "-": standard output
    bool HasOutput = false;
    QString Password;
    bool Quiet = false;
    bool Help = false;
};

void PrintError(const QString& Text) {
    std::fprintf(stderr, "kestrune-text: %s\n", Text.toLocal8Bit().constData());
}

// Reads the command line; returns false after printing what is wrong.
bool ParseArguments(const QStringList& Arguments, TOptions& Options) {
    bool optionsEnd = false;
    for (qsizetype i = 1; i < Arguments.size(); ++i) {
        const QString& a = Arguments[i];
        const auto value = [&](const QString& name, QString& target) {
            if (i + 1 >= Arguments.size()) {
                PrintError(QStringLiteral("option %1 needs a value").arg(name));
                return false;
            }
            target = Arguments[++i];
            return true;
        };
        if (optionsEnd || a == QLatin1String("-") || !a.startsWith(QLatin1Char('-'))) {
            Options.Files.append(a);
        } else if (a == QLatin1String("--")) {
            optionsEnd = true;
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            Options.Help = true;
        } else if (a == QLatin1String("-q") || a == QLatin1String("--quiet")) {
            Options.Quiet = true;
        } else if (a == QLatin1String("-o") || a == QLatin1String("--output")) {
            if (!value(a, Options.Output)) return false;
            Options.HasOutput = true;
        } else if (a.startsWith(QLatin1String("--output="))) {
            Options.Output = a.mid(9);
            Options.HasOutput = true;
        } else if (a == QLatin1String("--password")) {
            if (!value(a, Options.Password)) return false;
        } else if (a.startsWith(QLatin1String("--password="))) {
            Options.Password = a.mid(11);
        } else {
            PrintError(QStringLiteral("unknown option %1").arg(a));
            return false;
        }
    }
    if (Options.Help) return true;
    if (Options.Files.isEmpty()) {
        PrintError(QStringLiteral("no input file given"));
        return false;
    }
    if (Options.HasOutput && Options.Output.isEmpty()) {
        PrintError(QStringLiteral("option -o needs a path"));
        return false;
    }
    if (Options.HasOutput && Options.Files.size() > 1) {
        PrintError(QStringLiteral("option -o takes one input file, not %1").arg(Options.Files.size()));
        return false;
    }
    return true;
}

void WriteStandardOutput(const TTextFile& Text) {
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        throw EFileError(QStringLiteral("Cannot write to standard output. %1").arg(out.errorString()));
    WriteTextFile(out, Text, QStringLiteral("-"));
}

// Converts one file; returns false after printing its error line.
bool ConvertFile(TFPdf& Pdf, const QString& FileName, const TOptions& Options, bool ShowProgress) {
    const QString& shown = FileName;
    const auto clearProgress = [&] {
        if (ShowProgress) std::fputs("\r\033[K", stderr);
    };
    try {
        const QFileInfo info(FileName);
        if (!info.exists()) throw EFileError(QStringLiteral("No such file"));
        if (info.isDir()) throw EFileError(QStringLiteral("Is a folder, not a file"));
        TConversionProgress progress;
        int pageCount = 0;
        if (ShowProgress) {
            progress.Started = [&](int PageCount) { pageCount = PageCount; };
            progress.PageDone = [&](int Page) {
                std::fprintf(stderr, "\r\033[K%s: page %d of %d", shown.toLocal8Bit().constData(), Page, pageCount);
                std::fflush(stderr);
            };
        }
        Pdf.SetPassword(Options.Password);
        const TTextFile text = ReadTextFile(Pdf, FileName, progress);
        Pdf.SetActive(false);
        clearProgress();
        if (text.IsEmpty()) {
            if (!Options.Quiet) PrintError(QStringLiteral("%1: the document has no pages; no text file written").arg(shown));
            return true;
        }
        if (Options.HasOutput && Options.Output == QLatin1String("-"))
            WriteStandardOutput(text);
        else
            SaveTextFile(Options.HasOutput ? Options.Output : TextFileName(FileName), text);
        return true;
    } catch (const std::exception&) {
        Pdf.SetActive(false);
        clearProgress();
        PrintError(QStringLiteral("%1: %2").arg(shown, ErrorMessage(std::current_exception())));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    TOptions options;
    if (!ParseArguments(QCoreApplication::arguments(), options)) {
        std::fputs("Try 'kestrune-text --help' for more information.\n", stderr);
        return 2;
    }
    if (options.Help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    const bool showProgress = !options.Quiet && isatty(STDERR_FILENO);
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    bool allConverted = true;
    for (const QString& file : options.Files)
        if (!ConvertFile(pdf, file, options, showProgress)) allConverted = false;
    return allConverted ? 0 : 1;
}
