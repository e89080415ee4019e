// kestrune-text: the converter for the command line. Each PDF file becomes the
// same text file that the converter window writes for it, written page by page
// as the pages are read.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "app/Conversion.h"
#include "app/ConversionWorker.h"
#include "app/TextOptions.h"
#include "app/TextOutput.h"
#include "app/WorkerProtocol.h"
#include <kestrune/FPdf.h>
#include "component/FileError.h"

using namespace kestrune;

namespace {

void PrintError(const QString& Text) {
    std::fprintf(stderr, "kestrune-text: %s\n", Text.toLocal8Bit().constData());
}

QString PageCountText(int Count) {
    return Count == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(Count);
}

// Opens the input File in Pdf: a file, or for "-" the PDF read from standard input.
void OpenInput(TFPdf& Pdf, const QString& File, const QString& Password) {
    Pdf.SetPassword(Password);
    if (File == QLatin1String("-")) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            throw EFileError(QStringLiteral("Cannot read standard input. %1").arg(in.errorString()));
        const QByteArray bytes = in.readAll();
        if (in.error() != QFileDevice::NoError)
            throw EFileError(QStringLiteral("Cannot read standard input. %1").arg(in.errorString()));
        Pdf.SetPageNumber(0);
        Pdf.LoadDocument(bytes);  // the component holds a reference to the bytes
        return;
    }
    const QFileInfo info(File);
    if (!info.exists()) throw EFileError(QStringLiteral("No such file"));
    if (info.isDir()) throw EFileError(QStringLiteral("Is a folder, not a file"));
    OpenDocument(Pdf, File);
}

// Converts one input; returns false after printing its error line.
bool ConvertFile(TFPdf& Pdf, const QString& File, const TOptions& Options, bool ShowProgress) {
    const auto clearProgress = [&] {
        if (ShowProgress) std::fputs("\r\033[K", stderr);
    };
    try {
        OpenInput(Pdf, File, Options.Password);
        const int pageCount = Pdf.GetPageCount();
        if (pageCount == 0) {
            Pdf.SetActive(false);
            if (!Options.Quiet) PrintError(QStringLiteral("%1: the document has no pages; no text file written").arg(File));
            return true;
        }
        const TPageRange range = Options.PageRange(pageCount);
        if (range.IsEmpty())
            throw EFileError(QStringLiteral("no page in the range %1 to %2; the document has %3")
                                 .arg(Options.FirstPage.value_or(1))
                                 .arg(Options.LastPage ? QString::number(*Options.LastPage) : QStringLiteral("the end"),
                                      PageCountText(pageCount)));
        // Each page goes into the target as soon as it is read; a regular file
        // is replaced only once the last page is in (TTextTarget).
        TTextTarget target(Options.TargetOf(File));
        TPageSink sink(target, range.First, range.Last);
        const QByteArray shown = File.toLocal8Bit();
        ReadPages(Pdf, range.First, range.Last, [&](int Page, const QByteArray& Bytes) {
            sink.Add(Page, Bytes);
            if (ShowProgress) {
                std::fprintf(stderr, "\r\033[K%s: page %d of %d", shown.constData(), Page, pageCount);
                std::fflush(stderr);
            }
        });
        Pdf.SetActive(false);
        sink.Finish();
        clearProgress();
        return true;
    } catch (const std::exception&) {
        Pdf.SetActive(false);
        clearProgress();
        PrintError(QStringLiteral("%1: %2").arg(File, ErrorMessage(std::current_exception())));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit that is reached makes write(2) fail with EFBIG, which
    // becomes that file's error line, instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication application(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], worker::WorkerArgument) == 0) return RunConversionWorker();
    const TCommandLine commandLine = ParseCommandLine(QCoreApplication::arguments());
    switch (commandLine.Action) {
    case TCommandLine::TAction::Error:
        PrintError(commandLine.Error);
        std::fputs("Try 'kestrune-text --help' for more information.\n", stderr);
        return 2;
    case TCommandLine::TAction::Help:
        std::fputs(HelpText().toLocal8Bit().constData(), stdout);
        return 0;
    case TCommandLine::TAction::Version:
        std::printf("%s\n", VersionText().toLocal8Bit().constData());
        return 0;
    case TCommandLine::TAction::Convert:
        break;
    }
    const TOptions& options = commandLine.Options;
    const bool showProgress = !options.Quiet && isatty(STDERR_FILENO);
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    bool allConverted = true;
    for (const QString& file : options.Files)
        if (!ConvertFile(pdf, file, options, showProgress)) allConverted = false;
    return allConverted ? 0 : 1;
}
