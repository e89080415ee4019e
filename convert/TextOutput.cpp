#include "convert/TextOutput.h"

#include <QDir>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "convert/Conversion.h"
#include "convert/FileNames.h"
#include "component/FileError.h"

namespace kestrune {

namespace {

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

bool IsNode(mode_t Mode) { return S_ISFIFO(Mode) || S_ISCHR(Mode) || S_ISBLK(Mode) || S_ISSOCK(Mode); }

// Whether a write to a descriptor of this kind may wait for someone else.
bool MayWait(int Fd) {
    struct stat status {};
    return ::fstat(Fd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || S_ISCHR(status.st_mode));
}

// write(2) with SIGPIPE held back: a reader that has gone is this target's
// error (EPIPE), not the end of the whole run.
ssize_t WriteWithoutSigpipe(int Fd, const char* Data, size_t Size) {
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    const ssize_t written = ::write(Fd, Data, Size);
    const int error = errno;
    if (written < 0 && error == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return written;
}

const QString LinkRefusal = QStringLiteral("It is a symbolic link, which is not followed");

}  // namespace

TTextTarget::TTextTarget(const QString& Path, TMode Mode) : FPath(Path) {
    if (Mode != TMode::Replace) {
        FDescriptor = ProcessDescriptor(Path);
        if (FDescriptor >= 0) {
            FWaits = MayWait(FDescriptor);
            return;
        }
    }
    const qsizetype slash = Path.lastIndexOf(QLatin1Char('/'));
    FName = EncodeName(Path.mid(slash + 1));
    FFolder = OpenFolder(slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : EncodeName(Path.left(slash)), Path);
    Open(Mode);
}

TTextTarget::TTextTarget(TDescriptor Folder, const QByteArray& Name, const QString& Path, TMode Mode)
    : FPath(Path), FFolder(std::move(Folder)), FName(Name) {
    Open(Mode);
}

void TTextTarget::Open(TMode Mode) {
    if (FName.isEmpty() || FName == "." || FName == "..") throw EFileError::CannotCreate(FPath, SystemMessage(EISDIR));
    struct stat place {};
    if (::fstatat(FFolder.Get(), FName.constData(), &place, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(place.st_mode)) {
            struct stat target {};
            if (Mode == TMode::WriteIntoLinkedNodes && ::fstatat(FFolder.Get(), FName.constData(), &target, 0) == 0 &&
                IsNode(target.st_mode) && !S_ISSOCK(target.st_mode)) {
                OpenNode(0);
                return;
            }
            throw EFileError::CannotCreate(FPath, LinkRefusal);
        }
        if (S_ISDIR(place.st_mode)) throw EFileError::CannotCreate(FPath, SystemMessage(EISDIR));
        if (Mode != TMode::Replace && IsNode(place.st_mode)) {
            if (S_ISSOCK(place.st_mode)) {
                const QString full = FPath.startsWith(QLatin1Char('/')) ? FPath : QDir::current().filePath(FPath);
                FDescriptor = ConnectSocket(EncodeName(full));
                if (FDescriptor < 0) throw EFileError::CannotCreate(FPath, SystemMessage(errno));
                FOwnsDescriptor = FWaits = true;
                return;
            }
            OpenNode(O_NOFOLLOW);
            return;
        }
        if (S_ISREG(place.st_mode)) FReplaced = place;
    } else if (errno != ENOENT) {
        throw EFileError::CannotCreate(FPath, SystemMessage(errno));
    }
    OpenTemporary();
}

// A FIFO or device. A FIFO without a reader is not waited for here but at the
// first write, by then under the caller's deadline.
void TTextTarget::OpenNode(int Flags) {
    FOwnsDescriptor = FWaits = true;
    FNodeFlags = O_WRONLY | O_NOCTTY | O_CLOEXEC | Flags;
    FDescriptor = ::openat(FFolder.Get(), FName.constData(), FNodeFlags | O_NONBLOCK);
    if (FDescriptor < 0 && errno != ENXIO) throw EFileError::CannotCreate(FPath, SystemMessage(errno));
    if (FDescriptor >= 0) CheckNode();
}

// Opened as a node, the place must still be one: never written into a
// regular file that took its place, which would not be replaced but overwritten.
void TTextTarget::CheckNode() {
    struct stat status {};
    if (::fstat(FDescriptor, &status) != 0 || !IsNode(status.st_mode)) {
        ::close(FDescriptor);
        FDescriptor = -1;
        throw EFileError::CannotCreate(FPath, QStringLiteral("It changed while it was opened"));
    }
}

void TTextTarget::OpenWaitingNode() {
    while (FDescriptor < 0) {
        if (!FDeadline) {
            FDescriptor = ::openat(FFolder.Get(), FName.constData(), FNodeFlags);
        } else {
            FDescriptor = ::openat(FFolder.Get(), FName.constData(), FNodeFlags | O_NONBLOCK);
            if (FDescriptor < 0 && errno == ENXIO) {
                // No reader yet: look again shortly, until the deadline.
                if (TClock::now() >= *FDeadline) throw EFileError(FDeadlineReason);
                std::this_thread::sleep_for(std::min<TClock::duration>(std::chrono::milliseconds(20), *FDeadline - TClock::now()));
                continue;
            }
        }
        if (FDescriptor < 0 && errno != EINTR) throw EFileError::CannotCreate(FPath, SystemMessage(errno));
    }
    CheckNode();
}

void TTextTarget::OpenTemporary() {
    FReplacing = true;
    RemoveLeftoverTemporaries(FFolder.Get());
    FDescriptor = ::openat(FFolder.Get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (FDescriptor >= 0) return;
    // No unnamed files here (NFS, SMB, FUSE): a named one, registered before it
    // exists, so that a signal at any moment removes it.
    FTemporaryName = TemporaryName(FName);
    FTemporarySlot = RegisterTemporary(FFolder.Get(), FTemporaryName);
    FDescriptor = ::openat(FFolder.Get(), FTemporaryName.constData(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (FDescriptor < 0) {
        const int error = errno;
        ForgetTemporary(FTemporarySlot);
        FTemporaryName.clear();
        throw EFileError::CannotCreate(FPath, SystemMessage(error));
    }
}

// Gives the unnamed temporary file a name beside its place, for the rename:
// through its descriptor where the process may link one, else /proc's view of
// it, else a named copy.
void TTextTarget::NameTemporary() {
    const QByteArray name = TemporaryName(FName);
    const int slot = RegisterTemporary(FFolder.Get(), name);
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(FDescriptor);
    if (::linkat(FDescriptor, "", FFolder.Get(), name.constData(), AT_EMPTY_PATH) == 0 ||
        ::linkat(AT_FDCWD, self.constData(), FFolder.Get(), name.constData(), AT_SYMLINK_FOLLOW) == 0) {
        FTemporaryName = name;
        FTemporarySlot = slot;
        return;
    }
    const int copy = ::openat(FFolder.Get(), name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (copy < 0) {
        const int error = errno;
        ForgetTemporary(slot);
        RaiseWriteError(error);
    }
    FTemporaryName = name;
    FTemporarySlot = slot;
    const int unnamed = FDescriptor;
    FDescriptor = copy;
    char buffer[1 << 16];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(unnamed, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            ::close(unnamed);
            if (n < 0) RaiseWriteError(error);
            break;
        }
        offset += n;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(copy, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                const int error = w < 0 ? errno : ENOSPC;
                ::close(unnamed);
                RaiseWriteError(error);
            }
            done += w;
        }
    }
}

void TTextTarget::RemoveTemporary() {
    if (!FTemporaryName.isEmpty()) ::unlinkat(FFolder.Get(), FTemporaryName.constData(), 0);
    ForgetTemporary(FTemporarySlot);
    FTemporarySlot = -1;
    FTemporaryName.clear();
}

TTextTarget::~TTextTarget() {
    if (FReplacing) {
        RemoveTemporary();
        if (FDescriptor >= 0) ::close(FDescriptor);
    } else if (FOwnsDescriptor && FDescriptor >= 0) {
        ::close(FDescriptor);
    }
}

void TTextTarget::SetDeadline(std::optional<TClock::time_point> Deadline, const QString& Reason) {
    FDeadline = Deadline;
    FDeadlineReason = Reason;
}

void TTextTarget::RaiseWriteError(int Error) const {
    const QString cause = SystemMessage(Error);
    if (FPath == QLatin1String("-")) throw EFileError(QStringLiteral("Cannot write to standard output. %1").arg(cause));
    throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FPath, cause));
}

// Waits until the descriptor takes bytes, at most until the deadline.
void TTextTarget::WaitUntilWritable() {
    for (;;) {
        int timeout = -1;
        if (FDeadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*FDeadline - TClock::now()).count();
            if (left <= 0) throw EFileError(FDeadlineReason);
            timeout = int(std::min<long long>(left, INT_MAX));
        }
        pollfd ready{FDescriptor, POLLOUT, 0};
        const int n = ::poll(&ready, 1, timeout);
        if (n > 0) return;  // writable, or an error that the write will name
        if (n < 0 && errno != EINTR) RaiseWriteError(errno);
    }
}

void TTextTarget::Write(const char* Data, qint64 Size) {
    if (FDescriptor < 0) OpenWaitingNode();
    while (Size > 0) {
        // A reader that does not read must not hold the run: each piece is
        // written only once the descriptor takes it, and no larger than a
        // pipe takes at once without waiting.
        if (FWaits) WaitUntilWritable();
        const size_t piece = FWaits ? size_t(std::min<qint64>(Size, PIPE_BUF)) : size_t(Size);
        const ssize_t written = FOwnsDescriptor ? WriteWithoutSigpipe(FDescriptor, Data, piece)
                                                : ::write(FDescriptor, Data, piece);
        if (written < 0) {
            if (errno == EINTR) continue;
            // A descriptor inherited in non-blocking mode (a pipe set so by
            // the reader) is full for now: wait until it takes bytes again.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (!FWaits) {
                    pollfd ready{FDescriptor, POLLOUT, 0};
                    ::poll(&ready, 1, -1);
                }
                continue;
            }
            RaiseWriteError(errno);
        }
        Data += written;
        Size -= written;
        FBytesWritten += written;
    }
}

void TTextTarget::Commit() {
    if (FReplacing) {
        if (FReplaced) {
            // The file keeps its owner and group where this process may give
            // them (the group alone where not), and then its mode.
            if (::fchown(FDescriptor, FReplaced->st_uid, FReplaced->st_gid) != 0)
                (void)!::fchown(FDescriptor, uid_t(-1), FReplaced->st_gid);
            ::fchmod(FDescriptor, FReplaced->st_mode & 07777);
        }
        if (::fsync(FDescriptor) != 0 && errno != EINVAL && errno != EROFS) RaiseWriteError(errno);
        if (FTemporaryName.isEmpty()) NameTemporary();
        if (::renameat(FFolder.Get(), FTemporaryName.constData(), FFolder.Get(), FName.constData()) != 0)
            RaiseWriteError(errno);  // the destructor removes the temporary file
        ForgetTemporary(FTemporarySlot);
        FTemporarySlot = -1;
        FTemporaryName.clear();
        ::close(FDescriptor);
        FDescriptor = -1;
        FReplacing = false;
    } else if (FOwnsDescriptor) {
        if (FDescriptor < 0) OpenWaitingNode();  // a reader waits for the end of an empty text
        FOwnsDescriptor = false;
        // Some devices and file systems report a failed write only on close.
        if (::close(FDescriptor) != 0 && errno != EINTR) RaiseWriteError(errno);
    }
}

TPageSink::TPageSink(TTextTarget& Target, int First, int Last, const QByteArray& Header, const QByteArray& Footer)
    : FTarget(Target), FFirst(First), FLast(Last), FNext(First), FHeader(Header), FFooter(Footer) {}

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
    if (FNext == FFirst) FTarget.Write(FHeader);
    ++FNext;
    if (!FSeam) {
        FTarget.Write(Bytes);
        return;
    }
    QByteArray next = Bytes;
    FSeam(FHeld, next);
    FTarget.Write(FHeld);
    FHeld = std::move(next);
}

void TPageSink::Finish() {
    if (!IsComplete()) throw std::logic_error("page " + std::to_string(FNext) + " of the text file is missing");
    FTarget.Write(FHeld);
    FHeld.clear();
    FTarget.Write(FFooter);
    FTarget.Commit();
}

}  // namespace kestrune
