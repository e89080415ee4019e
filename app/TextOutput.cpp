#include "app/TextOutput.h"

#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/Conversion.h"
#include "component/FileError.h"

namespace kestrune {

namespace {

QString SystemMessage(int Error) { return QString::fromLocal8Bit(std::strerror(Error)); }

// The descriptor that a path names for this process itself: standard output
// and error, /dev/fd/N and /proc/self/fd/N. Written through the descriptor the
// process already has, they keep its position and append mode (reopening the
// path would start a regular file over at its beginning); -1 for other paths.
int ProcessDescriptor(const QString& Path) {
    if (Path == QLatin1String("-") || Path == QLatin1String("/dev/stdout")) return STDOUT_FILENO;
    if (Path == QLatin1String("/dev/stderr")) return STDERR_FILENO;
    for (const QLatin1String prefix : {QLatin1String("/dev/fd/"), QLatin1String("/proc/self/fd/")}) {
        if (!Path.startsWith(prefix)) continue;
        bool ok = false;
        const int fd = Path.mid(prefix.size()).toInt(&ok);
        if (ok && fd >= 0) return fd;
    }
    return -1;
}

// Connects to the stream socket at Path; -1 with errno set on failure.
int ConnectSocket(const QByteArray& Path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (Path.size() >= qsizetype(sizeof address.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, Path.constData(), Path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

TTextTarget::TTextTarget(const QString& Path, TMode Mode) : FPath(Path) {
    if (Mode == TMode::WriteIntoNodes) {
        FDescriptor = ProcessDescriptor(Path);
        if (FDescriptor >= 0) return;
        const QByteArray local = Path.toLocal8Bit();
        struct stat status {};
        if (::stat(local.constData(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
            // A FIFO blocks here until a reader opens it, as any writer would.
            FDescriptor = S_ISSOCK(status.st_mode) ? ConnectSocket(local)
                                                   : ::open(local.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (FDescriptor < 0) throw EFileError::CannotCreate(Path, SystemMessage(errno));
            FOwnsDescriptor = true;
            return;
        }
    }
    FSaveFile = std::make_unique<QSaveFile>(Path);
    if (!FSaveFile->open(QIODevice::WriteOnly)) throw EFileError::CannotCreate(Path, FSaveFile->errorString());
    // Written past QSaveFile's buffer, straight into its temporary file, so that
    // a failing write(2) leaves its errno: after a short write the device itself
    // has no error to report.
    FDescriptor = FSaveFile->handle();
}

TTextTarget::~TTextTarget() {
    if (FOwnsDescriptor) ::close(FDescriptor);
    // An uncommitted QSaveFile removes its temporary file as it goes.
}

void TTextTarget::RaiseWriteError(int Error) const {
    const QString cause = SystemMessage(Error);
    if (FPath == QLatin1String("-")) throw EFileError(QStringLiteral("Cannot write to standard output. %1").arg(cause));
    throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FPath, cause));
}

void TTextTarget::Write(const char* Data, qint64 Size) {
    while (Size > 0) {
        const ssize_t written = ::write(FDescriptor, Data, size_t(Size));
        if (written < 0) {
            if (errno == EINTR) continue;
            // A descriptor inherited in non-blocking mode (a pipe set so by
            // the reader) is full for now: wait until it takes bytes again.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd ready{FDescriptor, POLLOUT, 0};
                if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
            }
            RaiseWriteError(errno);
        }
        Data += written;
        Size -= written;
        FBytesWritten += written;
    }
}

void TTextTarget::Commit() {
    if (FSaveFile) {
        if (!FSaveFile->commit())
            throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FPath, FSaveFile->errorString()));
        FSaveFile.reset();
        FDescriptor = -1;
    } else if (FOwnsDescriptor) {
        FOwnsDescriptor = false;
        // Some devices and file systems report a failed write only on close.
        if (::close(FDescriptor) != 0 && errno != EINTR) RaiseWriteError(errno);
    }
}

TPageSink::TPageSink(TTextTarget& Target, int First, int Last)
    : FTarget(Target), FFirst(First), FLast(Last), FNext(First) {}

void TPageSink::Add(int Page, const QByteArray& Bytes) {
    if (Page < FNext || Page > FLast || FWaiting.count(Page))
        throw std::invalid_argument("page " + std::to_string(Page) + " is outside the range or already added");
    if (Page != FNext) {
        FWaiting.emplace(Page, Bytes);
        return;
    }
    WritePage(Bytes);
    for (auto next = FWaiting.begin(); next != FWaiting.end() && next->first == FNext; next = FWaiting.erase(next))
        WritePage(next->second);
}

void TPageSink::WritePage(const QByteArray& Bytes) {
    if (FNext == FFirst) FTarget.Write(ByteOrderMark, 3);
    FTarget.Write(Bytes);
    ++FNext;
}

void TPageSink::Finish() {
    if (!IsComplete()) throw std::logic_error("page " + std::to_string(FNext) + " of the text file is missing");
    FTarget.Commit();
}

}  // namespace kestrune
