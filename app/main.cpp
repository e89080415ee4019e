// The converter window program: the window runs until it is closed. Files
// named on the command line (as the desktop entry's "kestrune %f" passes them)
// are converted as if chosen in the window's dialog, one after another.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>

#include "app/KestruneUnit.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrune"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kestrune/kestrune.svg")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Converts PDF files to UTF-8 text files beside them. Each FILE given is converted "
                       "at the start, as if chosen with the window's button."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("PDF files to convert"),
                                 QStringLiteral("[FILE...]"));
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
