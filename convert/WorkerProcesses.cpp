#include "convert/WorkerProcesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
QByteArrayList WorkerEnvironment() {
    static constexpr char Limit[] = "OMP_THREAD_LIMIT=";
    static constexpr char Password[] = "KESTRUNE_PASSWORD=";
    QByteArrayList entries;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, Limit, sizeof Limit - 1) != 0 && std::strncmp(*e, Password, sizeof Password - 1) != 0)
            entries.append(*e);
    entries.append(QByteArray(Limit) + "1");
    return entries;
}

}  // namespace

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
    const QString program = Program == QLatin1String("/proc/self/exe") ? OwnProgramPath() : Program;
    FProgram = EncodeName(program);
    FProgramName = QFile::encodeName(QFileInfo(program).canonicalFilePath());
    if (FProgramName.isEmpty()) FProgramName = FProgram;
    FEnvironment = WorkerEnvironment();
}

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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], WorkerSocket);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    TDescriptor errors = NewWorkerErrorFile();
    if (errors.IsOpen()) posix_spawn_file_actions_adddup2(&actions, errors.Get(), STDERR_FILENO);
    // Named as the program itself in process lists, whatever path started it.
    char* argv[] = {FProgramName.data(), const_cast<char*>(WorkerArgument), nullptr};
    std::vector<char*> envp;
    for (QByteArray& entry : FEnvironment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int error = pair[1] < 0 ? errno : posix_spawn(&pid, FProgram.constData(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (pair[1] >= 0) ::close(pair[1]);
    if (error != 0) {
        ::close(pair[0]);
        Refused(QString::fromLocal8Bit(strerror(error)));
        return std::nullopt;
    }
    ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    // Set before the worker is given anything to read.
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
        while (::waitpid(w.Pid, nullptr, WNOHANG) == 0) {
            if (Clock::now() >= giveUp) {
                ::kill(w.Pid, SIGKILL);
                while (::waitpid(w.Pid, nullptr, 0) < 0 && errno == EINTR) {
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

}  // namespace kestrune
