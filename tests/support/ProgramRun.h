// Running a program as a test meets it: the built kestrune-text or kestrune,
// or a tool or shell around them, in a folder and environment of the test's
// choosing, with its standard output and error collected.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

namespace testing_support {

struct RunOptions {
    QString WorkingDirectory{};  // empty: this process's
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    // Written to the program's standard input, which is then closed: the
    // program never waits on it.
    QByteArray Input{};
    // Standard error goes into Out, interleaved as the program wrote it.
    bool MergeChannels = false;
    // Runs in the child just before the program starts (resource limits,
    // signal dispositions); async-signal-safe calls only.
    std::function<void()> InChild{};
    // How long the program may take to end; longer fails the test.
    std::chrono::milliseconds Timeout = std::chrono::minutes(2);
};

struct RunResult {
    int ExitCode = -1;  // -1 unless the program ended by itself (exit or return)
    QProcess::ExitStatus ExitStatus = QProcess::CrashExit;
    QByteArray Out{};
    QByteArray Err{};
};

// A program started at construction, for tests that act on it while it runs
// (send it a signal, drain a pipe it writes); Finish waits for its end.
class ProgramRun {
public:
    ProgramRun(const QString& Program, const QStringList& Arguments, const RunOptions& Options = {});
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Whether it started (a test failure, naming the reason, when not).
    bool Started();
    pid_t Pid() const { return pid_t(FProcess.processId()); }
    QProcess& Process() { return FProcess; }
    // Waits for the end, within the options' time limit (a test failure when
    // it does not come), and collects what the program wrote. Ending by a
    // signal is no failure here: the caller may have sent it.
    RunResult Finish();
    // Whether Finish saw the program end.
    bool Ended() const { return FEnded; }

private:
    QProcess FProcess;
    QString FName;  // the program and its arguments, for messages
    std::chrono::milliseconds FTimeout;
    bool FEnded = false;
};

// Runs Program to its end. Not ending within the time limit, or ending by a
// signal, fails the test.
RunResult RunProgram(const QString& Program, const QStringList& Arguments, const RunOptions& Options = {});

}  // namespace testing_support
