#include "convert/SafeFiles.h"

#include <QByteArrayList>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <set>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "component/FileError.h"

namespace kestrune {

TDescriptor& TDescriptor::operator=(TDescriptor&& Other) noexcept {
    if (this != &Other) {
        if (FFd >= 0) ::close(FFd);
        FFd = Other.Release();
    }
    return *this;
}

TDescriptor::~TDescriptor() {
    if (FFd >= 0) ::close(FFd);
}

int TDescriptor::Release() {
    const int fd = FFd;
    FFd = -1;
    return fd;
}

QString SystemMessage(int Error) { return QString::fromLocal8Bit(std::strerror(Error)); }

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

TDescriptor OpenFolder(const QByteArray& Path, const QString& Shown) {
    const int fd = ::open(Path.isEmpty() ? "." : Path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw EFileError::CannotCreate(Shown, SystemMessage(errno));
    return TDescriptor(fd);
}

namespace {

// openat2 beneath Root without links; -1 with errno ENOSYS where the kernel lacks it.
int OpenBeneathAtOnce(int Root, const QByteArray& Relative) {
#ifdef SYS_openat2
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return int(::syscall(SYS_openat2, Root, Relative.constData(), &how, sizeof how));
#else
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

TDescriptor OpenFolderBeneath(int Root, const QByteArray& Relative, bool Create, const QString& Shown) {
    if (Relative.isEmpty() || Relative == ".") return TDescriptor(::fcntl(Root, F_DUPFD_CLOEXEC, 0));
    const int direct = OpenBeneathAtOnce(Root, Relative);
    if (direct >= 0) return TDescriptor(direct);
    // ELOOP is a link on the way, EXDEV a way out of Root: refused as they are.
    // What is missing is created below, one folder at a time; a kernel without
    // openat2 takes the same walk.
    if (errno == ELOOP || errno == EXDEV)
        throw EFileError::CannotCreate(Shown, QStringLiteral("A symbolic link lies on its path, which is not followed"));
    if (errno != ENOENT && errno != ENOSYS && errno != EPERM && errno != EINVAL)
        throw EFileError::CannotCreate(Shown, SystemMessage(errno));
    TDescriptor folder(::fcntl(Root, F_DUPFD_CLOEXEC, 0));
    for (const QByteArray& part : Relative.split('/')) {
        if (part.isEmpty() || part == ".") continue;
        if (part == "..")
            throw EFileError::CannotCreate(Shown, QStringLiteral("Its path leads out of its folder"));
        int next = ::openat(folder.Get(), part.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && Create) {
            if (::mkdirat(folder.Get(), part.constData(), 0777) != 0 && errno != EEXIST)
                throw EFileError::CannotCreate(Shown, SystemMessage(errno));
            next = ::openat(folder.Get(), part.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            const int error = errno;
            struct stat status {};
            if ((error == ENOTDIR || error == ELOOP) &&
                ::fstatat(folder.Get(), part.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
                throw EFileError::CannotCreate(Shown, QStringLiteral("A symbolic link lies on its path, which is not followed"));
            throw EFileError::CannotCreate(Shown, SystemMessage(error));
        }
        folder = TDescriptor(next);
    }
    return folder;
}

namespace {

const QByteArray TemporaryMark = ".kestrune-";
const QByteArray TemporaryEnd = ".tmp";

QByteArray HostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return "localhost";
    return QByteArray(host).replace('/', '_');
}

}  // namespace

QByteArray TemporaryName(const QByteArray& Name) {
    static const QByteArray letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray random;
    for (int i = 0; i < 6; ++i) random += letters[QRandomGenerator::global()->bounded(int(letters.size()))];
    const QByteArray tail = TemporaryMark + QByteArray::number(::getpid()) + '@' + HostName().left(64) + '-' + random +
                            TemporaryEnd;
    return '.' + Name.left(255 - 1 - tail.size()) + tail;
}

void RemoveLeftoverTemporaries(int Folder) {
    struct stat status {};
    if (::fstat(Folder, &status) != 0) return;
    static std::set<std::pair<dev_t, ino_t>> seen;
    if (!seen.insert({status.st_dev, status.st_ino}).second) return;
    const int listed = ::openat(Folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return;
    DIR* dir = ::fdopendir(listed);
    if (!dir) {
        ::close(listed);
        return;
    }
    const QByteArray host = '@' + HostName().left(64) + '-';
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        // ".NAME.kestrune-PID@HOST-XXXXXX.tmp", written by a run on this host.
        const qsizetype mark = name.lastIndexOf(TemporaryMark);
        if (!name.startsWith('.') || mark < 1 || !name.endsWith(TemporaryEnd)) continue;
        const QByteArray rest = name.mid(mark + TemporaryMark.size());
        const qsizetype at = rest.indexOf('@');
        if (at < 1 || rest.mid(at, host.size()) != host || rest.size() != at + host.size() + 6 + TemporaryEnd.size())
            continue;
        bool ok = false;
        const long pid = rest.left(at).toLong(&ok);
        if (!ok || pid <= 0) continue;
        // Only a writer that is gone leaves its file for good.
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

TDescriptor SpoolToUnnamedFile(int From, const QString& What) {
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    const auto fail = [&](int Error) {
        return EFileError(QStringLiteral("Cannot hold %1. %2").arg(What, SystemMessage(Error)));
    };
    TDescriptor spool(::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!spool.IsOpen()) {
        // A file system without unnamed files: a named one, gone from its folder at once.
        const TDescriptor dir(::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!dir.IsOpen()) throw fail(errno);
        const QByteArray name = TemporaryName("standard-input");
        spool = TDescriptor(::openat(dir.Get(), name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!spool.IsOpen()) throw fail(errno);
        ::unlinkat(dir.Get(), name.constData(), 0);
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(From, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EFileError(QStringLiteral("Cannot read %1. %2").arg(What, SystemMessage(errno)));
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(spool.Get(), buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) throw fail(w < 0 ? errno : ENOSPC);
            done += w;
        }
    }
    ::lseek(spool.Get(), 0, SEEK_SET);
    return spool;
}

// ---- Cleaning up on signals --------------------------------------------------

namespace {

// Slots the handler reads without locks: a slot's name is written before its
// folder is set, and the folder cleared before the name is reused.
constexpr int TemporarySlots = 1024;
struct TTemporarySlot {
    std::atomic<int> Folder{-1};
    char Name[256] = {};
};
TTemporarySlot Temporaries[TemporarySlots];

// The line for each signal handled, made before any arrives.
constexpr int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
char SignalLines[std::size(HandledSignals)][160];

void CleanUpAndExit(int Signal) {
    for (TTemporarySlot& slot : Temporaries) {
        const int folder = slot.Folder.load();
        if (folder >= 0) ::unlinkat(folder, slot.Name, 0);
    }
    for (size_t i = 0; i < std::size(HandledSignals); ++i)
        if (HandledSignals[i] == Signal) {
            ssize_t ignored = ::write(STDERR_FILENO, SignalLines[i], std::strlen(SignalLines[i]));
            (void)ignored;
        }
    ::_exit(128 + Signal);
}

}  // namespace

int RegisterTemporary(int Folder, const QByteArray& Name) {
    for (int i = 0; i < TemporarySlots; ++i) {
        TTemporarySlot& slot = Temporaries[i];
        int expected = -1;
        // Claimed with a folder that names nothing yet, so the handler skips it.
        if (!slot.Folder.compare_exchange_strong(expected, -2)) continue;
        std::strncpy(slot.Name, Name.constData(), sizeof slot.Name - 1);
        slot.Folder.store(Folder);
        return i;
    }
    return -1;  // more than any run keeps at once: the file is only not removed on a signal
}

void ForgetTemporary(int Slot) {
    if (Slot >= 0 && Slot < TemporarySlots) Temporaries[Slot].Folder.store(-1);
}

void InstallCleanupOnSignals() {
    for (size_t i = 0; i < std::size(HandledSignals); ++i) {
        const int signal = HandledSignals[i];
        std::snprintf(SignalLines[i], sizeof SignalLines[i], "kestrune-text: stopped by signal SIG%s (%s)\n",
                      sigabbrev_np(signal), strsignal(signal));
        struct sigaction action {};
        action.sa_handler = CleanUpAndExit;
        sigfillset(&action.sa_mask);  // one cleanup at a time
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace kestrune
