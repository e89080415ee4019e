// The converter window program: the window runs until it is closed. Files
// named on the command line (as the desktop entry's "kestrune %F" passes them)
// are converted as if chosen in the window's dialog, one after another.
//
// The same program is also its own conversion worker: started with the hidden
// worker argument, it serves the window's worker pool and shows no window.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QList>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "convert/ConversionWorker.h"
#include "convert/RenderedRecognition.h"
#include "window/KestruneUnit.h"
#include "convert/WorkerProtocol.h"

namespace {

// The options that only print and end: they need no display, so they are
// handled before QApplication (which would refuse to start without one).
bool PrintsOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0) return true;
    return false;
}

void DeclareCommandLine(QCommandLineParser& Parser) {
    Parser.setApplicationDescription(
        QStringLiteral("Converts PDF files to UTF-8 text files beside them. Each FILE given is converted "
                       "at the start, as if chosen with the window's button; a folder stands for the PDF "
                       "files below it."));
    Parser.addHelpOption();
    Parser.addVersionOption();
    Parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("PDF files (or folders) to convert"),
                                 QStringLiteral("[FILE...]"));
}

// Qt ends a program whose window platform cannot start (no display to reach)
// with a page of its own and SIGABRT. While the application starts, its
// fatal message becomes one line saying what is missing and exit status 1;
// the warnings on the way are held, and passed on once it has started.
struct THeldMessage {
    QtMsgType Type;
    QByteArray Category;
    QString Text;
};
QList<THeldMessage> HeldMessages;

void StartMessage(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
    if (Type != QtFatalMsg) {
        HeldMessages.append({Type, Context.category, Text});
        return;
    }
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty() && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("kestrune: no display: set DISPLAY or use kestrune-text\n", stderr);
    } else {
        // The display named cannot be reached: Qt's first word on it says why.
        const QString why = (HeldMessages.isEmpty() ? Text : HeldMessages.constFirst().Text).section(QLatin1Char('\n'), 0, 0);
        std::fprintf(stderr, "kestrune: cannot show the window on the display \"%s\" (%s): set DISPLAY or use kestrune-text\n",
                     display.constData(), qPrintable(why));
    }
    // Nothing to clean up: no window, no file, no worker yet.
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit that is reached makes write(2) fail with EFBIG, which
    // becomes the run's file error, instead of killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("Kestrune"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRUNE_VERSION));
    // The window's workers are this program: they recognise scanned pages themselves.
    kestrune::InstallPageRecognition();
    if (argc == 2 && std::strcmp(argv[1], kestrune::worker::WorkerArgument) == 0) {
        QCoreApplication worker(argc, argv);
        return kestrune::RunConversionWorker();
    }
    if (PrintsOnly(argc, argv)) {
        QCoreApplication application(argc, argv);
        QCommandLineParser parser;
        DeclareCommandLine(parser);
        parser.process(application);  // prints and exits
        return 0;
    }

    const QtMessageHandler handler = qInstallMessageHandler(StartMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(handler);
    for (const THeldMessage& held : std::exchange(HeldMessages, {})) {
        const QMessageLogContext context(nullptr, 0, nullptr, held.Category.constData());
        qt_message_output(held.Type, context, held.Text);
    }
    QApplication::setWindowIcon(kestrune::TKestruneForm::Icon());
    QCommandLineParser parser;
    DeclareCommandLine(parser);
    parser.process(application);

    kestrune::TKestruneForm KestruneForm;
    KestruneForm.show();
    // Full paths, as the dialog gives them: Edit1 shows where the file is.
    QStringList files;
    for (const QString& file : parser.positionalArguments())
        files.append(file.isEmpty() ? file : QFileInfo(file).absoluteFilePath());
    KestruneForm.ConvertFilesLater(files);
    return application.exec();
}
