// The converter window against kestrune-text on the same document: both
// whole programs, each started afresh per round, alternating in one run.
//
//   window_bench [--file X.pdf] [--rounds N] [--pages N] [--smoke]
//
// The document is source2e.pdf of the TeX Live documentation when it is
// installed (1,221 pages), else a generated one (--pages, default 1000);
// --file takes any document. kestrune-text runs with its default number of
// workers; the window (kestrune FILE, on the offscreen platform) converts its
// file argument with its own worker processes, and its time ends when its
// text file appears (the file appears only once complete), after which the
// window is ended. Both must write the same bytes.
//
// Each run is watched from a child process of its own that adopts every
// process the program starts (a subreaper), so the peak memory it reports is
// that of the largest single process among the program and its workers, the
// window's own process included. Prints the medians and their ratios, window
// against kestrune-text; exit status 1 when either ratio exceeds 1.10 (not
// with --smoke, which only checks that the run completes).
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"
#include "support/PdfBuilder.h"

extern char** environ;

namespace {

constexpr double MaxRatio = 1.10;
const char* const DefaultDocument = "/usr/share/doc/texlive-doc/latex/base/source2e.pdf";

struct Measure {
    double Seconds = 0;
    long PeakKiB = 0;  // the largest process of the run
    double CpuSeconds = 0;  // of all its processes
    bool Ok = false;
};

// Runs Argv (with Environment added) in a watching child process. With
// WaitFor set, the run ends when that file appears (the program is then
// sent SIGTERM); otherwise when the program exits with status 0.
Measure Watch(const QList<QByteArray>& Argv, const QList<QByteArray>& Environment, const QByteArray& WaitFor) {
    int pipe[2];
    if (::pipe(pipe) != 0) return {};
    const pid_t watcher = ::fork();
    if (watcher < 0) return {};
    if (watcher == 0) {
        ::close(pipe[0]);
        // Orphaned workers come to this process, so their peak memory counts.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        std::vector<char*> argv, envp;
        for (const QByteArray& a : Argv) argv.push_back(const_cast<char*>(a.constData()));
        argv.push_back(nullptr);
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        for (const QByteArray& e : Environment) envp.push_back(const_cast<char*>(e.constData()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        Measure m;
        const auto start = std::chrono::steady_clock::now();
        pid_t program = -1;
        if (posix_spawn(&program, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
            int status = 0;
            if (WaitFor.isEmpty()) {
                ::waitpid(program, &status, 0);
                m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            } else {
                struct stat st {};
                while (::stat(WaitFor.constData(), &st) != 0) {
                    if (::waitpid(program, &status, WNOHANG) == program) break;  // ended without it
                    ::usleep(1000);
                }
                m.Ok = ::stat(WaitFor.constData(), &st) == 0;
            }
            m.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (!WaitFor.isEmpty()) ::kill(program, SIGTERM);
            while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
            }
            rusage usage {};
            ::getrusage(RUSAGE_CHILDREN, &usage);
            m.PeakKiB = usage.ru_maxrss;
            m.CpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        }
        const ssize_t written = ::write(pipe[1], &m, sizeof m);
        ::_exit(written == ssize_t(sizeof m) ? 0 : 1);
    }
    ::close(pipe[1]);
    Measure m;
    const bool read = ::read(pipe[0], &m, sizeof m) == ssize_t(sizeof m);
    ::close(pipe[0]);
    ::waitpid(watcher, nullptr, 0);
    return read ? m : Measure{};
}

QByteArray ReadFile(const QString& Path) {
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    if (!bench::ParseOptions(argc, argv, true, "window_bench [--file X.pdf] [--rounds N] [--pages N] [--smoke]",
                             options))
        return 2;
    const int rounds = options.Rounds > 0 ? options.Rounds : 5;
    QTemporaryDir dir;
    if (!dir.isValid()) return 2;

    // The document, in a folder of each program's own: the window writes its
    // text file beside the PDF.
    QByteArray document;
    QString name;
    if (!options.File.isEmpty() || (options.Pages == 0 && QFile::exists(DefaultDocument))) {
        name = options.File.isEmpty() ? QString::fromLatin1(DefaultDocument) : options.File;
        document = ReadFile(name);
    } else {
        const int pages = options.Pages > 0 ? options.Pages : 1000;
        document = testing_support::VariedTextPdf(pages);
        name = QStringLiteral("generated, %1 pages").arg(pages);
    }
    if (document.isEmpty()) {
        std::fprintf(stderr, "window_bench: cannot read %s\n", qPrintable(name));
        return 2;
    }
    QDir(dir.path()).mkdir("window");
    QDir(dir.path()).mkdir("text");
    const QString windowPdf = dir.filePath("window/doc.pdf"), windowText = dir.filePath("window/doc.txt");
    const QString textPdf = dir.filePath("text/doc.pdf"), textText = dir.filePath("text/doc.txt");
    for (const QString& path : {windowPdf, textPdf}) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(document) != document.size()) return 2;
    }

    const QList<QByteArray> windowArgv = {KESTRUNE_PROGRAM, QFile::encodeName(windowPdf)};
    const QList<QByteArray> textArgv = {KESTRUNE_TEXT_PROGRAM, "-q", QFile::encodeName(textPdf)};
    const QList<QByteArray> offscreen = {"QT_QPA_PLATFORM=offscreen"};
    QList<double> windowSeconds, textSeconds, windowPeak, textPeak;
    for (int round = 0; round < rounds; ++round) {
        // Alternating which goes first, so that neither always meets a warmer machine.
        for (int turn = 0; turn < 2; ++turn) {
            const bool window = (round + turn) % 2 == 0;
            QFile::remove(window ? windowText : textText);
            const Measure m = window ? Watch(windowArgv, offscreen, QFile::encodeName(windowText))
                                     : Watch(textArgv, {}, {});
            if (!m.Ok) {
                std::fprintf(stderr, "window_bench: %s did not write its text file\n", window ? "kestrune" : "kestrune-text");
                return 1;
            }
            (window ? windowSeconds : textSeconds).append(m.Seconds);
            if (std::getenv("WINDOW_BENCH_VERBOSE"))
                std::fprintf(stderr, "%s %.3f s, processor %.3f s, %ld KiB\n", window ? "window" : "text", m.Seconds,
                             m.CpuSeconds, m.PeakKiB);
            (window ? windowPeak : textPeak).append(m.PeakKiB / 1024.0);
        }
        if (ReadFile(windowText) != ReadFile(textText)) {
            std::fprintf(stderr, "window_bench: the window and kestrune-text wrote different files\n");
            return 1;
        }
    }

    const double timeRatio = bench::Median(windowSeconds) / bench::Median(textSeconds);
    const double peakRatio = bench::Median(windowPeak) / bench::Median(textPeak);
    std::printf("document: %s\n", qPrintable(name));
    std::printf("wall time, median of %d: window %.3f s, kestrune-text %.3f s, ratio %.3f (at most %.2f)\n", rounds,
                bench::Median(windowSeconds), bench::Median(textSeconds), timeRatio, MaxRatio);
    std::printf("peak memory of the largest process, median: window %.1f MiB, kestrune-text %.1f MiB, ratio %.3f "
                "(at most %.2f)\n",
                bench::Median(windowPeak), bench::Median(textPeak), peakRatio, MaxRatio);
    if (options.Smoke) return 0;
    return timeRatio <= MaxRatio && peakRatio <= MaxRatio ? 0 : 1;
}
