// kestrune-text: the converter for the command line. Each PDF file becomes the
// same text file that the converter window writes for it, written page by page
// as the pages are read.
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/BatchRun.h"
#include "app/ConversionWorker.h"
#include "app/TextOptions.h"
#include "app/WorkerProtocol.h"

using namespace kestrune;

namespace {

void PrintError(const QString& Text) {
    std::fprintf(stderr, "kestrune-text: %s\n", Text.toLocal8Bit().constData());
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
    return ConvertInputs(commandLine.Options);
}
