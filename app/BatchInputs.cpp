#include "app/BatchInputs.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "app/Conversion.h"
#include "app/TextOptions.h"
#include "component/FileError.h"

namespace kestrune {

namespace {

const QString StandardStream = QStringLiteral("-");

// The paths of --files-from: lines (a CR before the line end is part of the
// line ending) or NUL-separated; empty entries are skipped.
QStringList ReadList(const TOptions& Options) {
    QFile list;
    const bool standardInput = Options.FilesFrom == StandardStream;
    if (standardInput ? !list.open(stdin, QIODevice::ReadOnly)
                      : (list.setFileName(Options.FilesFrom), !list.open(QIODevice::ReadOnly)))
        throw EFileError(QStringLiteral("Cannot read the list \"%1\". %2").arg(Options.FilesFrom, list.errorString()));
    const QByteArray bytes = list.readAll();
    if (list.error() != QFileDevice::NoError)
        throw EFileError(QStringLiteral("Cannot read the list \"%1\". %2").arg(Options.FilesFrom, list.errorString()));
    QStringList paths;
    for (QByteArray entry : bytes.split(Options.NulSeparated ? '\0' : '\n')) {
        if (!Options.NulSeparated && entry.endsWith('\r')) entry.chop(1);
        if (!entry.isEmpty()) paths.append(QFile::decodeName(entry));
    }
    return paths;
}

bool LeadsOut(const QString& Relative) {
    return Relative == QLatin1String("..") || Relative.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(Relative);
}

class TCollector {
public:
    explicit TCollector(const TOptions& Options) : FOptions(Options) {}

    void Add(const QString& Path) {
        if (Path != StandardStream && QFileInfo(Path).isDir()) {
            AddFolder(Path);
            return;
        }
        const QString relative =
            QDir::current().relativeFilePath(QDir::cleanPath(QFileInfo(Path).absoluteFilePath()));
        AddFile(Path, relative);
    }

    QList<TBatchInput> Inputs;

private:
    void AddFolder(const QString& Folder) {
        const QDir root(Folder);
        const QDir absoluteRoot(root.absolutePath());
        QStringList relatives;
        QDirIterator it(Folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            if (it.fileName().endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
                relatives.append(absoluteRoot.relativeFilePath(it.fileInfo().absoluteFilePath()));
        }
        // A folder that yields nothing is most likely the wrong folder: say so
        // instead of ending the run as if it had been converted.
        if (relatives.isEmpty()) {
            TBatchInput input;
            input.Input = Folder;
            input.Refusal = QStringLiteral("the folder holds no PDF file");
            Inputs.append(input);
            return;
        }
        std::sort(relatives.begin(), relatives.end());
        for (const QString& relative : relatives) AddFile(QDir::cleanPath(root.filePath(relative)), relative);
    }

    void AddFile(const QString& Path, const QString& Relative) {
        TBatchInput input;
        input.Input = Path;
        if (FOptions.OutputDir.isEmpty() || Path == StandardStream)
            input.Target = FOptions.TargetOf(Path);
        else if (LeadsOut(Relative))
            input.Refusal = QStringLiteral("the text file would lie outside the output folder; a path under the "
                                           "current folder is needed");
        else
            input.Target = QDir::cleanPath(QDir(FOptions.OutputDir).filePath(TextFileName(Relative)));
        Inputs.append(input);
    }

    const TOptions& FOptions;
};

}  // namespace

QList<TBatchInput> CollectInputs(const TOptions& Options) {
    TCollector collector(Options);
    for (const QString& path : Options.Files) collector.Add(path);
    if (!Options.FilesFrom.isEmpty())
        for (const QString& path : ReadList(Options)) collector.Add(path);
    return collector.Inputs;
}

bool IsBatch(const TOptions& Options) {
    if (!Options.FilesFrom.isEmpty() || !Options.OutputDir.isEmpty() || Options.Update || !Options.Report.isEmpty())
        return true;
    return std::any_of(Options.Files.begin(), Options.Files.end(), [](const QString& path) {
        return path != StandardStream && QFileInfo(path).isDir();
    });
}

}  // namespace kestrune
