#include "convert/WorkerProcesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "convert/FileNames.h"
#include "convert/WorkerPool.h"
#include "convert/ConversionWorker.h"
#include "convert/WorkerProtocol.h"

extern char** environ;

namespace kestrune {

using namespace worker;

namespace {

// A refused start (the process limit, memory) is tried again after a pause
// that doubles from the first, up to the last; with no worker running, the
// documents fail after this many attempts.
constexpr auto FirstStartPause = std::chrono::milliseconds(100);
constexpr auto LastStartPause = std::chrono::seconds(5);
constexpr int StartAttempts = 5;
// Idle workers left at the end are given this long to end on their own.
constexpr auto EndingGrace = std::chrono::seconds(2);

// The environment of the workers: the parent's, with Tesseract's OpenMP
// threads limited to one, as the workers themselves are the parallel part,
// and without the password, which reaches them over their socket (a worker's
// environment is readable longer and by more than the parent's command).
constexpr char ThreadLimit[] = "OMP_THREAD_LIMIT=";
constexpr char Password[] = "KESTRUNE_PASSWORD=";

// Whether Entry ("NAME=value") sets the variable of Prefix ("NAME=").
bool Sets(const char* Entry, const char* Prefix) { return std::strncmp(Entry, Prefix, std::strlen(Prefix)) == 0; }

QByteArrayList WorkerEnvironment() {
    QByteArrayList entries;
    for (char** e = environ; *e; ++e)
        if (!Sets(*e, ThreadLimit) && !Sets(*e, Password)) entries.append(*e);
    entries.append(QByteArray(ThreadLimit) + "1");
    return entries;
}

std::atomic<bool> ForkAllowed{false};

// Whether this process has a single thread: /proc/self/task lists each one.
// False where /proc cannot tell.
bool SingleThreaded() {
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks) return false;
    int threads = 0;
    while (const dirent* entry = ::readdir(tasks))
        if (entry->d_name[0] != '.') ++threads;
    ::closedir(tasks);
    return threads == 1;
}

// Reaps Pid once it has ended, waiting for it up to GiveUp; false when it
// is still running then. Waits on the process's descriptor, so that a run
// ends as soon as its last worker has (a worker ends within a millisecond of
// its socket closing; polling would add its interval to every run); where
// the kernel has no process descriptors, in short sleeps.
bool AwaitExit(pid_t Pid, TWorkerProcesses::Clock::time_point GiveUp) {
    using Clock = TWorkerProcesses::Clock;
#ifdef SYS_pidfd_open
    const int descriptor = int(::syscall(SYS_pidfd_open, Pid, 0));
#else
    const int descriptor = -1;
#endif
    bool ended = false;
    for (;;) {
        const pid_t waited = ::waitpid(Pid, nullptr, WNOHANG);
        if (waited < 0 && errno == EINTR) continue;
        ended = waited != 0;  // ended, or no such child to wait for
        if (ended) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(GiveUp - Clock::now());
        if (left.count() <= 0) break;
        if (descriptor >= 0) {
            pollfd ready{descriptor, POLLIN, 0};
            ::poll(&ready, 1, int(std::min<qint64>(left.count() + 1, 1000)));
        } else {
            std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(1)));
        }
    }
    if (descriptor >= 0) ::close(descriptor);
    return ended;
}

}  // namespace

void AllowForkedWorkers(bool Allowed) { ForkAllowed = Allowed; }

bool MayFork() { return ForkAllowed && SingleThreaded(); }

void ForgetParentState() {
    // The parent's handlers (removing its temporary files, say) are not the
    // child's: as after an exec, handled signals take their default action
    // and ignored ones stay ignored.
    for (int number = 1; number < NSIG; ++number) {
        struct sigaction action {};
        if (::sigaction(number, nullptr, &action) == 0 && action.sa_handler != SIG_IGN && action.sa_handler != SIG_DFL)
            ::signal(number, SIG_DFL);
    }
    // The password's bytes leave the environment that /proc shows.
    for (char** e = environ; *e; ++e)
        if (Sets(*e, Password)) std::memset(*e + sizeof Password - 1, 0, std::strlen(*e + sizeof Password - 1));
    ::unsetenv("KESTRUNE_PASSWORD");
}

QString OwnProgramPath() {
    if (::access("/proc/self/exe", X_OK) == 0) return QStringLiteral("/proc/self/exe");
    const QString started = QCoreApplication::arguments().value(0);
    if (started.contains(QLatin1Char('/'))) return QDir::current().absoluteFilePath(started);
    const QString found = QStandardPaths::findExecutable(started);
    return found.isEmpty() ? started : found;
}

QString SignalName(int Signal) {
    const char* abbreviation = sigabbrev_np(Signal);
    const QString name = abbreviation ? QStringLiteral("SIG") + QString::fromLatin1(abbreviation)
                                      : QStringLiteral("signal %1").arg(Signal);
    return QStringLiteral("%1 (%2)").arg(name, QString::fromLocal8Bit(strsignal(Signal)));
}

TWorkerProcesses::TWorkerProcesses(const QString& Program) {
    FOwnProgram = Program == QLatin1String("/proc/self/exe");
    const QString program = Program == QLatin1String("/proc/self/exe") ? OwnProgramPath() : Program;
    FProgram = EncodeName(program);
    FProgramName = QFile::encodeName(QFileInfo(program).canonicalFilePath());
    if (FProgramName.isEmpty()) FProgramName = FProgram;
    FEnvironment = WorkerEnvironment();
}

int TWorkerProcesses::Spawn(pid_t& Pid, int Socket, int Errors) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Standard error first: the pool's file may have the number the socket takes.
    if (Errors >= 0) posix_spawn_file_actions_adddup2(&actions, Errors, STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, Socket, WorkerSocket);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // Named as the program itself in process lists, whatever path started it.
    char* argv[] = {FProgramName.data(), const_cast<char*>(WorkerArgument), nullptr};
    std::vector<char*> envp;
    for (QByteArray& entry : FEnvironment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int error = posix_spawn(&Pid, FProgram.constData(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

namespace {

// The child's side of a fork in Start: becomes a worker on Socket, as the
// program started in its worker mode would, and never returns.
[[noreturn]] void RunForked(int Socket, int Errors, qint64 MemoryLimit) {
    // The descriptors a started worker has: its socket, /dev/null in and
    // out, the pool's file as standard error, and nothing else of the
    // parent's (another worker's socket kept open here would hide that
    // worker's end from the pool, and its from the worker).
    if (Errors >= 0 && ::dup2(Errors, STDERR_FILENO) < 0) ::_exit(1);
    if (::dup2(Socket, WorkerSocket) < 0) ::_exit(1);
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(null, STDOUT_FILENO) < 0) ::_exit(1);
    if (::close_range(WorkerSocket + 1, ~0U, 0) != 0)
        for (int fd = WorkerSocket + 1; fd < ::sysconf(_SC_OPEN_MAX); ++fd) ::close(fd);
    // Before anything is loaded or read.
    if (MemoryLimit > 0) {
        const rlimit limit{rlim_t(MemoryLimit), rlim_t(MemoryLimit)};
        ::setrlimit(RLIMIT_DATA, &limit);
    }
    ForgetParentState();
    // Never back into the parent's frames below: an exception that escapes
    // ends the worker as in an executed one.
    ::_exit([]() noexcept { return RunConversionWorker(); }());
}

}  // namespace

std::optional<TWorkerProcess> TWorkerProcesses::Start(qint64 MemoryLimit) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        Refused(QString::fromLocal8Bit(strerror(errno)));
        return std::nullopt;
    }
    // The child's end becomes its descriptor WorkerSocket; it must not
    // already be that one, or it would keep its close-on-exec flag.
    if (pair[1] == WorkerSocket) {
        const int moved = ::fcntl(pair[1], F_DUPFD_CLOEXEC, WorkerSocket + 1);
        ::close(pair[1]);
        pair[1] = moved;
    }
    TDescriptor errors = NewWorkerErrorFile();
    pid_t pid = -1;
    int error = 0;
    if (pair[1] < 0) {
        error = errno;
    } else if (FOwnProgram && MayFork()) {
        pid = ::fork();
        if (pid == 0) RunForked(pair[1], errors.Get(), MemoryLimit);
        if (pid < 0) error = errno;
    } else {
        error = Spawn(pid, pair[1], errors.Get());
    }
    if (pair[1] >= 0) ::close(pair[1]);
    if (error != 0) {
        ::close(pair[0]);
        Refused(QString::fromLocal8Bit(strerror(error)));
        return std::nullopt;
    }
    ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    // Set before the worker is given anything to read (a forked one sets it
    // itself, before it loads the engine).
    if (MemoryLimit > 0) {
        const rlimit limit{rlim_t(MemoryLimit), rlim_t(MemoryLimit)};
        ::prlimit(pid, RLIMIT_DATA, &limit, nullptr);
    }
    TWorkerProcess w;
    w.Pid = pid;
    w.Fd = pair[0];
    w.Errors = std::move(errors);
    return w;
}

void TWorkerProcesses::Refused(const QString& Why) {
    FStartError = Why;
    ++FStartFailures;
    const auto pause = std::min<Clock::duration>(FirstStartPause * (1 << std::min(FStartFailures - 1, 16)), LastStartPause);
    FNextStart = Clock::now() + pause;
}

void TWorkerProcesses::ClearRefusals() {
    FStartFailures = 0;
    FStartError.clear();
}

bool TWorkerProcesses::Retrying() const { return FStartFailures > 0 && FStartFailures < StartAttempts; }

QString TWorkerProcesses::StartError() const {
    return FStartError.isEmpty() ? QStringLiteral("no worker process") : FStartError;
}

void TWorkerProcesses::Kill(TWorkerProcess& w) {
    w.Killed = true;
    ::kill(w.Pid, SIGKILL);
}

int TWorkerProcesses::Reap(TWorkerProcess& w, bool Kill) {
    int status = 0;
    if (w.Fd >= 0) ::close(w.Fd);
    w.Fd = -1;
    if (Kill) ::kill(w.Pid, SIGKILL);
    while (::waitpid(w.Pid, &status, 0) < 0 && errno == EINTR) {
    }
    w.Pid = -1;
    return status;
}

void TWorkerProcesses::EndAll(const std::vector<TLeft>& Workers) {
    // Idle workers end when their socket closes (woken first, should one
    // be stopped); the others are killed, and so is an idle one that has
    // not ended after a grace period.
    for (const TLeft& left : Workers) {
        TWorkerProcess& w = *left.Process;
        if (w.Fd >= 0) ::close(w.Fd);
        w.Fd = -1;
        if (w.Pid <= 0) continue;
        if (!w.Ready || w.Killed || left.Busy) ::kill(w.Pid, SIGKILL);
        else ::kill(w.Pid, SIGCONT);
    }
    const Clock::time_point giveUp = Clock::now() + EndingGrace;
    for (const TLeft& left : Workers) {
        TWorkerProcess& w = *left.Process;
        if (w.Pid <= 0) continue;
        if (!AwaitExit(w.Pid, giveUp)) {
            ::kill(w.Pid, SIGKILL);
            while (::waitpid(w.Pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
}

}  // namespace kestrune
