// kestrune-text: the converter for the command line. Each PDF file becomes the
// same text file that the converter window writes for it, written page by page
// as the pages are read.
#include <QCoreApplication>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "cli/BatchRun.h"
#include "convert/ConversionWorker.h"
#include "convert/FileNames.h"
#include "convert/LoadedRecognizer.h"
#include "convert/PageRecognition.h"
#include "convert/SafeFiles.h"
#include "cli/TextOptions.h"
#include "convert/WorkerProcesses.h"
#include "convert/WorkerProtocol.h"
#include <kestrune/Engine.h>
#include <kestrune/PdfError.h>
#include "ocr/Recognition.h"

using namespace kestrune;

namespace {

void PrintError(const QString& Text) {
    std::fprintf(stderr, "kestrune-text: %s\n", Text.toUtf8().constData());
}

// Descriptors 0, 1 and 2 that the caller left closed are opened on /dev/null,
// so that no file this program opens takes their place (error lines would
// otherwise go into a text file, the report or a worker's socket). They are
// opened for reading only: a write to a closed standard output still fails
// (EBADF), so that text sent there is an error, as it is for cat, rather
// than silently lost.
void OpenClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int opened = ::open("/dev/null", O_RDONLY);
            if (opened >= 0 && opened != fd) ::close(opened);  // cannot happen: the lowest free descriptor is fd
        }
}

// Ends a run that only writes to standard output (--help, --version): a
// write that failed is the run's error.
int FinishStandardOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    PrintError(QStringLiteral("write error: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}

// The arguments as the system gave them: a file name that is not UTF-8 keeps
// its bytes (Qt's own decoding would replace them).
QStringList Arguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(DecodeName(argv[i]));
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    // A file size limit that is reached makes write(2) fail with EFBIG, which
    // becomes that file's error line, instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication application(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], worker::WorkerArgument) == 0) return RunConversionWorker();
    const TCommandLine commandLine = ParseCommandLine(Arguments(argc, argv));
    switch (commandLine.Action) {
    case TCommandLine::TAction::Error:
        PrintError(commandLine.Error);
        std::fputs("Try 'kestrune-text --help' for more information.\n", stderr);
        return 2;
    case TCommandLine::TAction::Help:
        std::fputs(HelpText().toLocal8Bit().constData(), stdout);
        return FinishStandardOutput();
    case TCommandLine::TAction::Version:
        std::printf("%s\n", VersionText().toLocal8Bit().constData());
        return FinishStandardOutput();
    case TCommandLine::TAction::Convert:
        break;
    }
    // Before any work: a missing language, recognizer module or recognition
    // worker would otherwise fail every document.
    if (commandLine.Options.Ocr.Mode != TOcrMode::Never) {
        try {
            TLoadedRecognizer::CheckAvailable(commandLine.Options.Ocr.Languages, commandLine.Options.Ocr.Rotate);
        } catch (const EPdfError& e) {
            PrintError(e.Message());
            return 2;
        }
        if (RecognitionWorkerProgram().isEmpty()) {
            PrintError(QStringLiteral("the recognition worker %1 is in none of the engine's folders (%2)")
                           .arg(QString::fromLatin1(RecognitionWorkerName), EngineSearchPath().join(QStringLiteral(", "))));
            return 2;
        }
    }
    // The searchable copies set their words in Tesseract's glyphless font.
    if (commandLine.Options.Format.Format == TOutputFormat::Pdf && !QFileInfo(recognition::GlyphlessFontFile()).isReadable()) {
        PrintError(QStringLiteral("Tesseract's glyphless font \"%1\", which --format pdf sets the words in, cannot be "
                                  "read (Debian package libtesseract5)")
                       .arg(recognition::GlyphlessFontFile()));
        return 2;
    }
    // This program has a single thread: its workers start as forks of it, with
    // its libraries loaded, unless they recognise pages (kestrune-ocr-worker's).
    AllowForkedWorkers(true);
    InstallCleanupOnSignals();
    return ConvertInputs(commandLine.Options);
}
