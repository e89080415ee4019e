#include "cli/BatchInputs.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/Conversion.h"
#include "convert/FileNames.h"
#include "convert/PdfFolders.h"
#include "convert/SafeFiles.h"
#include "cli/TextOptions.h"
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
                      : !OpenByName(list, Options.FilesFrom))
        throw EFileError(QStringLiteral("Cannot read the list \"%1\". %2").arg(ShownName(Options.FilesFrom), list.errorString()));
    const QByteArray bytes = list.readAll();
    if (list.error() != QFileDevice::NoError)
        throw EFileError(QStringLiteral("Cannot read the list \"%1\". %2").arg(ShownName(Options.FilesFrom), list.errorString()));
    QStringList paths;
    for (QByteArray entry : bytes.split(Options.NulSeparated ? '\0' : '\n')) {
        if (!Options.NulSeparated && entry.endsWith('\r')) entry.chop(1);
        if (!entry.isEmpty()) paths.append(DecodeName(entry));
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
        if (Path != StandardStream && IsFolder(Path)) {
            AddFolder(Path);
            return;
        }
        const QString relative =
            QDir::current().relativeFilePath(QDir::cleanPath(QDir::current().absoluteFilePath(Path)));
        AddFile(Path, relative);
    }

    QList<TBatchInput> Inputs;

private:
    void AddFolder(const QString& Folder) {
        const QList<TFolderEntry> entries = PdfFilesBelow(Folder, FOptions.SkipHidden);
        // A folder that yields nothing is most likely the wrong folder: say so
        // instead of ending the run as if it had been converted.
        if (entries.isEmpty()) {
            TBatchInput input;
            input.Input = Folder;
            input.Refusal = QStringLiteral("the folder holds no PDF file");
            Inputs.append(input);
            return;
        }
        for (const TFolderEntry& entry : entries) {
            // Searchable copies an earlier run left beside their inputs are no inputs of their own.
            if (FOptions.Format.Format == TOutputFormat::Pdf &&
                entry.Path.endsWith(FOptions.Format.Extension(), Qt::CaseInsensitive))
                continue;
            if (entry.Refusal.isEmpty()) {
                AddFile(entry.Path, entry.Relative);
            } else {
                TBatchInput input;
                input.Input = entry.Path;
                input.Refusal = entry.Refusal;
                Inputs.append(input);
            }
        }
    }

    void AddFile(const QString& Path, const QString& Relative) {
        TBatchInput input;
        input.Input = Path;
        if (FOptions.OutputDir.isEmpty() || Path == StandardStream) {
            input.Target = FOptions.TargetOf(Path);
        } else if (LeadsOut(Relative)) {
            input.Refusal = QStringLiteral("the text file would lie outside the output folder; a path under the "
                                           "current folder is needed");
        } else {
            input.TargetBeneath = TextFileName(Relative, FOptions.Format.Extension());
            input.Target = QDir::cleanPath(QDir(FOptions.OutputDir).filePath(input.TargetBeneath));
        }
        Inputs.append(input);
    }

    const TOptions& FOptions;
};

}  // namespace

bool OpenByName(QFile& File, const QString& Path) {
    const int fd = ::open(EncodeName(Path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        File.setFileName(Path);
        return File.open(QIODevice::ReadOnly);  // fails again, with Qt's wording of the error
    }
    return File.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

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
    return std::any_of(Options.Files.begin(), Options.Files.end(),
                       [](const QString& path) { return path != StandardStream && IsFolder(path); });
}

}  // namespace kestrune
