// What the benchmarks share: their command line, the process's CPU time, the
// alternation of the ways compared, and the median of a run's times.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>

#include "support/PdfBuilder.h"

namespace bench {

// The options every benchmark takes: --pages N, --rounds N, --smoke, and
// --file X.pdf where the benchmark reads any document; --jobs N where its
// usage names it.
struct Options {
    int Pages = 0;  // 0: the benchmark's own default
    int Rounds = 0;
    bool Smoke = false;
    QString File;
    int Jobs = 0;   // 0: not given
};

// Reads the command line into Result; false (after printing Usage) for
// anything else, or for --file when AcceptsFile is false.
inline bool ParseOptions(int argc, char** argv, bool AcceptsFile, const char* Usage, Options& Result) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pages") && i + 1 < argc)
            Result.Pages = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            Result.Rounds = std::max(1, std::atoi(argv[++i]));
        else if (AcceptsFile && !std::strcmp(argv[i], "--file") && i + 1 < argc)
            Result.File = QString::fromLocal8Bit(argv[++i]);
        else if (!std::strcmp(argv[i], "--smoke"))
            Result.Smoke = true;
        else if (std::strstr(Usage, "--jobs") && !std::strcmp(argv[i], "--jobs") && i + 1 < argc)
            Result.Jobs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s\n", Usage);
            return false;
        }
    }
    return true;
}

// Adds Helvetica, Times-Roman and Courier (WinAnsi-encoded) to b and returns
// them as font resources /F1 to /F3; Helvetica's object number goes to *First.
inline QByteArray AddThreeFonts(testing_support::PdfBuilder& b, int* First = nullptr) {
    const char* const faces[] = {"Helvetica", "Times-Roman", "Courier"};
    QByteArray resources;
    for (int f = 0; f < 3; ++f) {
        const int font = b.Add(QByteArray("<< /Type /Font /Subtype /Type1 /BaseFont /") + faces[f] +
                               " /Encoding /WinAnsiEncoding >>");
        if (f == 0 && First) *First = font;
        resources += "/F" + QByteArray::number(f + 1) + " " + testing_support::Ref(font) + " ";
    }
    return resources;
}

inline double Median(QList<double> Values) {
    std::sort(Values.begin(), Values.end());
    const qsizetype n = Values.size();
    if (n == 0) return 0;
    return n % 2 ? Values[n / 2] : (Values[n / 2 - 1] + Values[n / 2]) / 2;
}

// The processor time of this process so far, all its threads.
inline double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// Runs A and B Rounds times each, alternating, with the order swapped every
// round, so that drift of the machine falls on both alike.
inline void TimeAlternately(int Rounds, const std::function<void()>& A, const std::function<void()>& B) {
    for (int r = 0; r < Rounds; ++r) {
        (r % 2 == 0 ? A : B)();
        (r % 2 == 0 ? B : A)();
    }
}

// A program's run: its wall time and the processor time of it and its children.
struct TProgramTimes {
    double Wall = 0;
    double Cpu = 0;
};

inline double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

inline TProgramTimes RunProgram(const QString& Program, const QStringList& Arguments) {
    const double cpu = ChildrenCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.start(Program, Arguments);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw std::runtime_error(QStringLiteral("%1 failed: %2").arg(Program, QString::fromLocal8Bit(p.readAllStandardError())).toStdString());
    return {clock.nsecsElapsed() / 1e9, ChildrenCpuSeconds() - cpu};
}

}  // namespace bench
