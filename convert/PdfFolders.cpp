#include "convert/PdfFolders.h"

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/FileNames.h"
#include "convert/SafeFiles.h"

namespace kestrune {

namespace {

// The .pdf files below one folder, as bytes relative to it, and what could
// not be read on the way.
struct TFolderScan {
    QByteArrayList Files;
    QList<QPair<QByteArray, QString>> Unreadable;  // a path and why
};

bool IsPdfName(const QByteArray& Name) { return Name.size() > 4 && Name.right(4).toLower() == ".pdf"; }

QString Unreadable(int Error) { return QStringLiteral("Cannot read the folder. %1").arg(SystemMessage(Error)); }

// Lists the folder Relative below the open folder Folder, never following a
// link, through descriptors: a name that is not UTF-8 is kept as its bytes.
void ScanFolder(int Folder, const QByteArray& Relative, bool SkipHidden, TFolderScan& Scan) {
    const int listed = ::openat(Folder, Relative.isEmpty() ? "." : Relative.constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        const int error = errno;
        if (listed >= 0) ::close(listed);
        Scan.Unreadable.append({Relative, Unreadable(error)});
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
        if (S_ISDIR(status.st_mode)) folders.append(path);
        else if (IsPdfName(name)) Scan.Files.append(path);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) Scan.Unreadable.append({Relative, Unreadable(error)});
    for (const QByteArray& folder : folders) ScanFolder(Folder, folder, SkipHidden, Scan);
}

}  // namespace

QList<TFolderEntry> PdfFilesBelow(const QString& Folder, bool SkipHidden) {
    TFolderScan scan;
    const int fd = ::open(EncodeName(Folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        scan.Unreadable.append({QByteArray(), Unreadable(errno)});
    } else {
        ScanFolder(fd, QByteArray(), SkipHidden, scan);
        ::close(fd);
    }
    QList<QPair<QByteArray, QString>> found = scan.Unreadable;
    for (const QByteArray& file : scan.Files) found.append({file, QString()});
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const QDir root(Folder);
    QList<TFolderEntry> entries;
    for (const auto& [bytes, refusal] : found) {
        const QString relative = DecodeName(bytes);
        entries.append({relative.isEmpty() ? Folder : QDir::cleanPath(root.filePath(relative)), relative, refusal});
    }
    return entries;
}

bool IsFolder(const QString& Path) {
    struct stat status {};
    return ::stat(EncodeName(Path).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace kestrune
