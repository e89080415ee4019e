#include "cli/OutputPlan.h"

#include <QDir>
#include <QHash>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "cli/BatchInputs.h"
#include "convert/FileNames.h"
#include "convert/SafeFiles.h"
#include "cli/TextOptions.h"

namespace kestrune {

namespace {

// File systems that compare names without case.
bool IgnoresCase(const QByteArray& Folder) {
    struct statfs fs {};
    if (::statfs(Folder.constData(), &fs) != 0) return false;
    switch (quint32(fs.f_type)) {
    case MSDOS_SUPER_MAGIC:
    case 0x2011BAB0:  // exFAT
    case 0x5346544E:  // NTFS
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
        return true;
    default:
        break;
    }
    // A folder of ext4 or another file system that folds case per folder.
    const int fd = ::open(Folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    const bool folded = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & 0x40000000 /* FS_CASEFOLD_FL */);
    ::close(fd);
    return folded;
}

// Where a path leads: its node where it exists, and its full name.
struct TPlace {
    std::optional<std::pair<dev_t, ino_t>> Node;
    QByteArray Name;
};

class TPlaces {
public:
    TPlace Of(const QString& Path) {
        TPlace place;
        const QByteArray bytes = EncodeName(Path);
        struct stat status {};
        if (::stat(bytes.constData(), &status) == 0) place.Node = std::make_pair(status.st_dev, status.st_ino);
        const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(Path));
        const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
        const auto [folder, ignoresCase] = Folder(EncodeName(absolute.left(qMax<qsizetype>(slash, 1))));
        const QByteArray name = EncodeName(absolute.mid(slash + 1));
        place.Name = folder + '/' + (ignoresCase ? name.toLower() : name);
        return place;
    }

private:
    // A folder's resolved name (as it is where it does not exist) and whether it ignores case.
    std::pair<QByteArray, bool> Folder(const QByteArray& Name) {
        const auto known = FFolders.constFind(Name);
        if (known != FFolders.constEnd()) return *known;
        char resolved[PATH_MAX];
        const bool exists = ::realpath(Name.constData(), resolved) != nullptr;
        const std::pair<QByteArray, bool> folder{exists ? QByteArray(resolved) : Name, exists && IgnoresCase(Name)};
        FFolders.insert(Name, folder);
        return folder;
    }

    QHash<QByteArray, std::pair<QByteArray, bool>> FFolders;
};

// The places seen so far, each with what it is (for messages).
class TPlaceIndex {
public:
    void Add(const TPlace& Place, const QString& What) {
        if (Place.Node) FNodes.insert(*Place.Node, What);
        FNames.insert(Place.Name, What);
    }
    // What an earlier place at Place is; empty when none.
    QString Find(const TPlace& Place) const {
        if (Place.Node && FNodes.contains(*Place.Node)) return FNodes.value(*Place.Node);
        return FNames.value(Place.Name);
    }

private:
    QHash<std::pair<dev_t, ino_t>, QString> FNodes;
    QHash<QByteArray, QString> FNames;
};

bool IsStream(const QString& Path) { return Path == QLatin1String("-"); }

}  // namespace

QString CheckOutputPlan(const TOptions& Options, QList<TBatchInput>& Inputs) {
    if (!Options.Output.isEmpty() && Inputs.size() > 1)
        return QStringLiteral("option -o takes one input file, not %1").arg(Inputs.size());

    TPlaces places;
    TPlaceIndex inputs;
    for (const TBatchInput& input : Inputs)
        if (!IsStream(input.Input)) inputs.Add(places.Of(input.Input), QStringLiteral("the input %1").arg(ShownName(input.Input)));
    if (!Options.FilesFrom.isEmpty() && !IsStream(Options.FilesFrom))
        inputs.Add(places.Of(Options.FilesFrom), QStringLiteral("the list %1").arg(ShownName(Options.FilesFrom)));

    TPlaceIndex targets;
    for (TBatchInput& input : Inputs) {
        if (!input.Refusal.isEmpty() || input.Target.isEmpty() || IsStream(input.Target)) continue;
        const TPlace place = places.Of(input.Target);
        QString hit = inputs.Find(place);
        if (hit.isEmpty()) {
            hit = targets.Find(place);
            if (!hit.isEmpty()) hit = QStringLiteral("the text file of %1").arg(hit);
        }
        if (!hit.isEmpty()) {
            input.Refusal = QStringLiteral("its text file %1 is %2; nothing written").arg(ShownName(input.Target), hit);
            continue;
        }
        targets.Add(place, ShownName(input.Input));
    }

    if (!Options.Report.isEmpty() && ProcessDescriptor(Options.Report) == STDOUT_FILENO) {
        // Lines of JSON and a document's text cannot share standard output.
        for (const TBatchInput& input : Inputs)
            if (input.Refusal.isEmpty() && ProcessDescriptor(input.Target) == STDOUT_FILENO)
                return QStringLiteral("the report and the text of %1 cannot both go to standard output")
                    .arg(input.Input == QLatin1String("-") ? QStringLiteral("standard input") : ShownName(input.Input));
    } else if (!Options.Report.isEmpty()) {
        const TPlace report = places.Of(Options.Report);
        QString hit = inputs.Find(report);
        if (hit.isEmpty()) {
            hit = targets.Find(report);
            if (!hit.isEmpty()) hit = QStringLiteral("the text file of %1").arg(hit);
        }
        if (!hit.isEmpty()) return QStringLiteral("the report %1 would replace %2").arg(ShownName(Options.Report), hit);
    }
    return {};
}

}  // namespace kestrune
