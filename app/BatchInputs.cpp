#include "app/BatchInputs.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Conversion.h"
#include "app/FileNames.h"
#include "app/SafeFiles.h"
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

// The .pdf files below one folder argument, as bytes relative to it, and what
// could not be read on the way.
struct TFolderScan {
    QByteArrayList Files;
    QList<QPair<QByteArray, QString>> Unreadable;  // a path and why
};

bool IsPdfName(const QByteArray& Name) { return Name.size() > 4 && Name.right(4).toLower() == ".pdf"; }

void ScanFolder(int Folder, const QByteArray& Relative, bool SkipHidden, TFolderScan& Scan) {
    const int listed = ::openat(Folder, Relative.isEmpty() ? "." : Relative.constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        const int error = errno;
        if (listed >= 0) ::close(listed);
        Scan.Unreadable.append({Relative, QStringLiteral("Cannot read the folder. %1").arg(SystemMessage(error))});
        return;
    }
    QByteArrayList folders;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == ".." || (SkipHidden && name.startsWith('.'))) continue;
        const QByteArray path = Relative.isEmpty() ? name : Relative + '/' + name;
        struct stat status {};
        if (::fstatat(Folder, path.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        if (S_ISDIR(status.st_mode)) {
            folders.append(path);
        } else if (IsPdfName(name)) {
            // A link that leads nowhere, or to a folder, is still named here: its conversion fails with the reason.
            Scan.Files.append(path);
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0)
        Scan.Unreadable.append({Relative, QStringLiteral("Cannot read the folder. %1").arg(SystemMessage(error))});
    for (const QByteArray& folder : folders) ScanFolder(Folder, folder, SkipHidden, Scan);
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
        const QDir root(Folder);
        TFolderScan scan;
        const int fd = ::open(EncodeName(Folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            scan.Unreadable.append({QByteArray(), QStringLiteral("Cannot read the folder. %1").arg(SystemMessage(errno))});
        } else {
            ScanFolder(fd, QByteArray(), FOptions.SkipHidden, scan);
            ::close(fd);
        }
        // A folder that yields nothing is most likely the wrong folder: say so
        // instead of ending the run as if it had been converted.
        if (scan.Files.isEmpty() && scan.Unreadable.isEmpty()) {
            TBatchInput input;
            input.Input = Folder;
            input.Refusal = QStringLiteral("the folder holds no PDF file");
            Inputs.append(input);
            return;
        }
        // Files and unreadable folders in the order of their paths.
        QList<QPair<QByteArray, QString>> entries = scan.Unreadable;
        for (const QByteArray& file : scan.Files) entries.append({file, QString()});
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [bytes, refusal] : entries) {
            const QString relative = DecodeName(bytes);
            const QString path = relative.isEmpty() ? Folder : QDir::cleanPath(root.filePath(relative));
            if (refusal.isEmpty()) {
                AddFile(path, relative);
            } else {
                TBatchInput input;
                input.Input = path;
                input.Refusal = refusal;
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

bool IsFolder(const QString& Path) {
    struct stat status {};
    return ::stat(EncodeName(Path).constData(), &status) == 0 && S_ISDIR(status.st_mode);
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
