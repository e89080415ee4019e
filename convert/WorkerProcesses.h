// The worker processes of a pool: kestrune-text started in its hidden worker
// mode, over a socket of its own. This part starts them (and, after a refused
// start, pauses longer each time before the next attempt), kills and reaps
// them, and ends those left at the end of a run.
//
// A worker of the running program itself may start warm: forked from it, with
// the program's libraries already loaded and initialised, rather than the
// program executed again (see AllowForkedWorkers). Either way it is a process
// of its own, killed, limited and reaped alike.
//
// It knows no document: which range a worker has and what its messages mean
// are the pool's loop (WorkerPool.cpp), and so is when a worker is started or
// ended.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <chrono>
#include <optional>
#include <sys/types.h>
#include <vector>

#include "convert/SafeFiles.h"

namespace kestrune {

// One worker process, and the pool's end of its socket.
struct TWorkerProcess {
    pid_t Pid = -1;
    int Fd = -1;
    TDescriptor Errors;       // its standard error (NewWorkerErrorFile), read when it ends
    bool Ready = false;
    bool Killed = false;      // stopped by the pool; its end is no news
};

// Whether workers of the running program (and the child that makes a
// searchable copy, PdfOutput.h) may be forked from it: off by default, for a
// program that may have threads (the window). kestrune-text allows it; its
// runs that recognise pages take their workers from kestrune-ocr-worker,
// started afresh (Tesseract's OpenMP reads its thread limit,
// OMP_THREAD_LIMIT, see WorkerEnvironment, only as the process starts). Even
// when allowed, a child is forked only from a process that has a single
// thread at that moment (a fork copies only the calling thread, and a lock
// another thread held would stay taken in the child), and only where /proc
// can tell.
void AllowForkedWorkers(bool Allowed);
// Whether this process may fork a child that goes on with the engine: the
// program allowed it (AllowForkedWorkers) and has a single thread now.
bool MayFork();
// In a child just forked: the parent's signal handlers give way to the
// default actions, and the password leaves the environment /proc shows.
void ForgetParentState();

class TWorkerProcesses {
public:
    using Clock = std::chrono::steady_clock;

    // Program: kestrune-text; /proc/self/exe for the running program itself.
    explicit TWorkerProcesses(const QString& Program);

    // Starts a worker that may take MemoryLimit bytes (its data segment,
    // RLIMIT_DATA; 0 for no limit); none when the start is refused (which
    // counts as Refused does).
    std::optional<TWorkerProcess> Start(qint64 MemoryLimit);

    // --- refused starts -------------------------------------------------

    // A start failed, for Why: the workers there are must do for a while.
    void Refused(const QString& Why);
    // A worker came up, or a run begins: the refusals so far are forgotten.
    void ClearRefusals();
    // No start is tried before this, after a refused one.
    Clock::time_point NextStart() const { return FNextStart; }
    bool MayStart() const { return Clock::now() >= FNextStart; }
    // With no worker running: whether another start is to be tried (at
    // NextStart), rather than the documents failing.
    bool Retrying() const;
    // Why no worker could be started.
    QString StartError() const;

    // --- ending ---------------------------------------------------------

    // Kills w; its end is no news.
    static void Kill(TWorkerProcess& w);
    // Closes the pool's end of w's socket and waits for it to end, killing it
    // first when Kill; returns its wait status.
    static int Reap(TWorkerProcess& w, bool Kill);

    // A worker left at the end of a run, and whether it has a range to work on.
    struct TLeft {
        TWorkerProcess* Process;
        bool Busy;
    };
    static void EndAll(const std::vector<TLeft>& Workers);

private:
    // Executes the program in its worker mode on Socket, with Errors as its
    // standard error (when open); returns the error number, 0 when started.
    int Spawn(pid_t& Pid, int Socket, int Errors);

    bool FOwnProgram = false;      // the program is the running one: it may be forked
    QByteArray FProgram;
    QByteArray FProgramName;
    QByteArrayList FEnvironment;   // the workers' (see WorkerEnvironment)
    QString FStartError;           // why the last start failed
    int FStartFailures = 0;        // starts refused in a row
    Clock::time_point FNextStart;
};

}  // namespace kestrune
