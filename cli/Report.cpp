#include "cli/Report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/FileNames.h"
#include "convert/SafeFiles.h"

#include "component/FileError.h"

namespace kestrune {

namespace {

QByteArray JsonString(const QString& Text) {
    // A one-element array is the shortest way to Qt's string escaping. A name
    // that holds bytes that are not UTF-8 (U+DC80..U+DCFF, see FileNames.h)
    // is the exception: Qt's writer would not keep them apart from U+FFFD, so
    // each such unit is written as the escape \udcXX that JSON allows, which
    // readers such as Python's json and os.fsencode turn back into the byte.
    const bool escapedBytes = std::any_of(Text.begin(), Text.end(), [](QChar c) {
        return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
    });
    if (!escapedBytes) {
        const QByteArray array = QJsonDocument(QJsonArray{Text}).toJson(QJsonDocument::Compact);
        return array.mid(1, array.size() - 2);
    }
    QByteArray out = "\"";
    QString run;
    const auto flush = [&] {
        if (run.isEmpty()) return;
        const QByteArray part = JsonString(run);
        out += part.mid(1, part.size() - 2);
        run.clear();
    };
    for (const QChar c : Text) {
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF) {
            flush();
            out += "\\u" + QByteArray::number(c.unicode(), 16);
        } else {
            run += c;
        }
    }
    flush();
    return out + '"';
}

const char* StatusName(TInputStatus Status) {
    switch (Status) {
    case TInputStatus::Converted: return "converted";
    case TInputStatus::Skipped: return "skipped";
    case TInputStatus::Failed: return "failed";
    }
    return "failed";
}

}  // namespace

QByteArray ReportLine(const TReportEntry& Entry) {
    QByteArray line = "{\"input\":" + JsonString(Entry.Input) + ",\"output\":" + JsonString(Entry.Output) +
                      ",\"status\":\"" + StatusName(Entry.Status) + "\",\"pages\":" + QByteArray::number(Entry.Pages) +
                      ",\"recognized\":" + QByteArray::number(Entry.PagesRecognized);
    if (Entry.PagesRecognized > 0)
        line += ",\"turned\":" + QByteArray::number(Entry.PagesTurned) + ",\"confidence\":" +
                (Entry.Confidence < 0 ? QByteArray("null") : QByteArray::number(std::round(Entry.Confidence * 10) / 10, 'f', 1)) +
                ",\"low_confidence\":" + QByteArray::number(Entry.PagesLowConfidence);
    line += ",\"bytes\":" + QByteArray::number(Entry.Bytes) + ",\"seconds\":" +
            QByteArray::number(std::round(Entry.Seconds * 1000) / 1000, 'f', 3);
    if (Entry.Status == TInputStatus::Failed) line += ",\"error\":" + JsonString(Entry.Error);
    return line + "}\n";
}

namespace {

// The report's descriptor: standard output and the other descriptors a path
// names for this process are written through as they are; a FIFO or device
// is written into (followed through a link, as -o does); a file is created in
// its folder without following a link at its own place, so that a link
// planted there cannot send the report over another file.
int OpenReport(const QString& Path) {
    if (const int own = ProcessDescriptor(Path); own >= 0) {
        const int fd = ::fcntl(own, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) throw EFileError::CannotCreate(Path, SystemMessage(errno));
        return fd;
    }
    const qsizetype slash = Path.lastIndexOf(QLatin1Char('/'));
    const TDescriptor folder =
        OpenFolder(slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : EncodeName(Path.left(slash)), Path);
    const QByteArray name = EncodeName(Path.mid(slash + 1));
    struct stat place {};
    const bool exists = ::fstatat(folder.Get(), name.constData(), &place, 0) == 0;
    const bool node = exists && (S_ISFIFO(place.st_mode) || S_ISCHR(place.st_mode));
    const int flags = node ? O_WRONLY | O_NOCTTY | O_CLOEXEC : O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    const int fd = ::openat(folder.Get(), name.constData(), flags, 0666);
    if (fd < 0) {
        const int error = errno;
        if (::fstatat(folder.Get(), name.constData(), &place, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(place.st_mode))
            throw EFileError::CannotCreate(Path, QStringLiteral("It is a symbolic link, which is not followed"));
        throw EFileError::CannotCreate(Path, SystemMessage(error));
    }
    return fd;
}

}  // namespace

TReport::TReport(const QString& Path) {
    const int fd = OpenReport(Path);
    // Unbuffered: each line is one write(2), so a killed run leaves whole lines.
    if (!FFile.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw EFileError::CannotCreate(Path, FFile.errorString());
    }
    FPath = Path;
}

void TReport::Add(const TReportEntry& Entry) {
    const QByteArray line = ReportLine(Entry);
    if (FFile.write(line) != line.size())
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FPath, FFile.errorString()));
}

}  // namespace kestrune
