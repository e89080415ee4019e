// One small file per invocation, as find -exec, xargs -n 1, GNU parallel or a
// mail filter run a converter: each program started afresh for one document,
// alternating in one run, N invocations each:
//   - the bare engine loop (bare_text: load the engine, open, read each
//     page's text, write; no Qt, no component),
//   - kestrune-text -j 1 and kestrune-text with its default workers,
//   - pdftotext, where it is installed.
// Prints, per document, each program's median processor time per invocation
// (user + system of the program and every process it started) and its median
// peak memory (the largest single process among them, so a worker counts on
// its own), with the ratios to the bare loop. All write the same text but
// pdftotext, whose text is its own.
//
//   invocation_bench [--file X.pdf]... [--rounds N] [--smoke]
//
// Without --file: a one-page and a ten-page document of the TeX Live
// documentation when installed (ltnews01.pdf, cfgguide.pdf), else generated
// ones.
//
// Then a large document (--large X.pdf; by default the 1,221-page
// source2e.pdf when installed, not with --smoke), converted --large-rounds
// times (3) by the bare loop, kestrune-text -j 1 and with its default workers:
// what the workers cost over one (processor time, against -j 1) and what they
// gain (wall time, against the bare loop).
//
// Timings are reported, never judged: exit status 1 only when a program
// fails or writes other bytes than the bare loop.
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"

extern char** environ;

namespace {

struct TMeasure {
    bool Ok = false;
    double Cpu = 0;      // seconds, the program and its descendants
    long PeakKiB = 0;    // the largest single process among them
    double Wall = 0;     // seconds, from the start to the program's end
};

// Runs Arguments in a child that adopts every process the program starts (a
// subreaper), so that each descendant's processor time and peak memory are
// counted when it ends, whoever its parent was.
TMeasure Measure(const QStringList& Arguments) {
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    const pid_t watcher = ::fork();
    if (watcher == 0) {
        ::close(pipeFds[0]);
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        std::vector<QByteArray> bytes;
        for (const QString& a : Arguments) bytes.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& b : bytes) argv.push_back(b.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t program = -1;
        TMeasure m;
        if (posix_spawnp(&program, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            bool ok = false;
            double cpu = 0;
            long peak = 0;
            for (;;) {
                int status = 0;
                rusage usage{};
                const pid_t ended = ::wait4(-1, &status, 0, &usage);
                if (ended < 0) break;
                cpu += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
                peak = std::max(peak, usage.ru_maxrss);
                if (ended == program) ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            m = {ok, cpu, peak};
        }
        if (::write(pipeFds[1], &m, sizeof m) != sizeof m) _exit(1);
        _exit(0);
    }
    ::close(pipeFds[1]);
    TMeasure m;
    if (::read(pipeFds[0], &m, sizeof m) != sizeof m) m = {};
    ::close(pipeFds[0]);
    ::waitpid(watcher, nullptr, 0);
    m.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return m;
}

struct TWay {
    const char* Name;
    std::function<QStringList(const QString& Pdf, const QString& Out)> Arguments;
    bool SameBytes;  // writes the bare loop's bytes
    QList<double> Cpu;
    QList<double> Peak;
    QList<double> Wall;
};

QByteArray Read(const QString& Path) {
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

int main(int argc, char** argv) {
    QStringList files;
    int rounds = 100;
    int largeRounds = 3;
    QString large;
    bool smoke = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--file") && i + 1 < argc) files << QString::fromLocal8Bit(argv[++i]);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--large") && i + 1 < argc) large = QString::fromLocal8Bit(argv[++i]);
        else if (!std::strcmp(argv[i], "--large-rounds") && i + 1 < argc) largeRounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--smoke")) smoke = true;
        else {
            std::fputs("usage: invocation_bench [--file X.pdf]... [--rounds N] [--large X.pdf] [--large-rounds N] [--smoke]\n",
                       stderr);
            return 2;
        }
    }
    if (smoke) rounds = largeRounds = 1;
    const QString manual = QStringLiteral("/usr/share/doc/texlive-doc/latex/base/source2e.pdf");
    if (large.isEmpty() && !smoke && QFileInfo::exists(manual)) large = manual;
    QTemporaryDir dir;
    if (files.isEmpty()) {
        const QString tex = QStringLiteral("/usr/share/doc/texlive-doc/latex/base/");
        for (const char* name : {"ltnews01.pdf", "cfgguide.pdf"})
            if (QFileInfo::exists(tex + name)) files << tex + name;
        if (files.isEmpty()) {
            for (int pages : {1, 10}) {
                QList<QStringList> content;
                for (int p = 0; p < pages; ++p) content << QStringList{QStringLiteral("Page %1 of a small letter").arg(p + 1)};
                const QString path = dir.filePath(QStringLiteral("small-%1.pdf").arg(pages));
                QFile f(path);
                if (!f.open(QIODevice::WriteOnly) || f.write(testing_support::SimpleTextPdf(content)) < 0) return 1;
                files << path;
            }
        }
    }

    QList<TWay> ways{
        {"bare engine loop", [](const QString& Pdf, const QString& Out) {
             return QStringList{QStringLiteral(KESTRUNE_BARE_TEXT), QStringLiteral(KESTRUNE_ENGINE), Pdf, Out}; }, true, {}, {}, {}},
        {"kestrune-text -j 1", [](const QString& Pdf, const QString& Out) {
             return QStringList{QStringLiteral(KESTRUNE_TEXT_PROGRAM), "-q", "-j", "1", "-o", Out, Pdf}; }, true, {}, {}, {}},
        {"kestrune-text", [](const QString& Pdf, const QString& Out) {
             return QStringList{QStringLiteral(KESTRUNE_TEXT_PROGRAM), "-q", "-o", Out, Pdf}; }, true, {}, {}, {}},
    };
    if (!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        ways.append({"pdftotext", [](const QString& Pdf, const QString& Out) {
                         return QStringList{QStringLiteral("pdftotext"), Pdf, Out}; }, false, {}, {}, {}});

    int status = 0;
    // Runs each way Rounds times on File, alternating; false when one fails.
    const auto measureAll = [&](QList<TWay*> Ways, const QString& File, int Rounds) {
        for (TWay* way : Ways) way->Cpu.clear(), way->Peak.clear(), way->Wall.clear();
        const QString bareOut = dir.filePath(QStringLiteral("bare.txt"));
        for (int round = 0; round < Rounds; ++round) {
            // The order turns every round, so that drift of the machine falls on all alike.
            for (qsizetype k = 0; k < Ways.size(); ++k) {
                TWay& way = *Ways[(k + round) % Ways.size()];
                const QString out = &way == Ways[0] ? bareOut : dir.filePath(QStringLiteral("out.txt"));
                const TMeasure m = Measure(way.Arguments(File, out));
                if (!m.Ok) {
                    std::fprintf(stderr, "invocation_bench: %s failed on %s\n", way.Name, qPrintable(File));
                    return false;
                }
                way.Cpu.append(m.Cpu);
                way.Peak.append(m.PeakKiB);
                way.Wall.append(m.Wall);
                // The bare loop keeps the engine's line-end hyphen marks (U+FFFE),
                // which the converter resolves: a text that has them is not compared.
                const QByteArray bare = round == 0 && &way != Ways[0] && way.SameBytes ? Read(bareOut) : QByteArray();
                if (!bare.isEmpty() && !bare.contains("\xEF\xBF\xBE") && Read(out) != bare) {
                    std::fprintf(stderr, "invocation_bench: %s wrote other bytes than the bare loop\n", way.Name);
                    status = 1;
                }
            }
        }
        return true;
    };
    QList<TWay*> all;
    for (TWay& way : ways) all << &way;
    for (const QString& file : files) {
        if (!measureAll(all, file, rounds)) return 1;
        const double bareCpu = bench::Median(ways[0].Cpu);
        const double barePeak = bench::Median(ways[0].Peak);
        std::printf("%s, %d invocations each: processor time and peak memory per invocation (median)\n",
                    qPrintable(QFileInfo(file).fileName()), rounds);
        for (const TWay& way : ways) {
            const double cpu = bench::Median(way.Cpu), peak = bench::Median(way.Peak);
            std::printf("  %-20s %.4f s (%.2fx)  %.1f MiB (%+.1f MiB)\n", way.Name, cpu, bareCpu > 0 ? cpu / bareCpu : 0,
                        peak / 1024, (peak - barePeak) / 1024);
        }
    }
    if (!large.isEmpty()) {
        // The bare loop, -j 1 and the default workers.
        if (!measureAll({&ways[0], &ways[1], &ways[2]}, large, largeRounds)) return 1;
        const double oneCpu = bench::Median(ways[1].Cpu), bareWall = bench::Median(ways[0].Wall);
        std::printf("%s, %d conversions each: processor time (against -j 1) and wall time (against the bare loop), "
                    "median; %d processors\n",
                    qPrintable(QFileInfo(large).fileName()), largeRounds, int(::sysconf(_SC_NPROCESSORS_ONLN)));
        for (int k = 0; k < 3; ++k) {
            const double cpu = bench::Median(ways[k].Cpu), wall = bench::Median(ways[k].Wall);
            std::printf("  %-20s cpu %.2f s (%.2fx)  wall %.2f s (%.2fx)\n", ways[k].Name, cpu, oneCpu > 0 ? cpu / oneCpu : 0,
                        wall, bareWall > 0 ? wall / bareWall : 0);
        }
    }
    return status;
}
