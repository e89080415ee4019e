// Converting documents in worker processes: kestrune-text itself, started in
// its hidden worker mode (the engine is process-wide and not thread-safe, so
// parallel work takes processes, each opening the document itself).
//
// A document is done in ranges of pages, which idle workers take in document
// order; the first range is small, and once its worker reports the page count
// the rest of the document becomes ranges that any worker may take. A small
// document thus stays with one worker unless another one is idle anyway, and a
// second worker is started only when there is a range waiting for it. The
// pages reach the caller in page order, whichever worker did them, so the
// bytes are those of a single process; only a few ranges run ahead of the
// first unfinished one, so the pages held in memory do not grow with the text.
//
// Failures: where pages fail, a document fails with the error a single process
// would have met first (the document not opening, else the lowest failing
// page). A worker that dies (from a signal, or exiting) fails its document as
// an error at the page it was on; a document that runs past the time limit has
// its workers killed. Either costs that document only; the others go on in
// other workers.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <limits>
#include <memory>
#include <sys/types.h>
#include <utility>

#include "convert/PageReader.h"

#include "convert/PageFormat.h"

namespace kestrune {

// One document to convert.
struct TDocumentJob {
    // Opened by the pool once (a name as DecodeName makes it, so that any
    // bytes the system allows name the file) and passed open to each worker
    // that takes a range of it; a file that changes meanwhile fails.
    QString FileName;
    QString Password;
    // The pages wanted, counted from 1; clipped to the document.
    int FirstPage = 1;
    int LastPage = std::numeric_limits<int>::max();
    // Which pages are recognised rather than read from their text layer.
    TOcrSettings Ocr;
    // An open file to read instead of opening FileName (standard input's
    // copy, say); the caller keeps it open until Run returns.
    int Descriptor = -1;
    // What each page becomes.
    TPageFormat Format = {};
};

// How a document ended.
struct TJobResult {
    bool Failed = false;
    QString Error;        // the message for a failure
    int PageCount = -1;   // the document's page count; -1 when it never opened
    int FirstPage = 1;    // the clipped range: FirstPage > LastPage when it holds no page
    int LastPage = 0;
    int PagesWritten = 0; // pages handed to the Page event
    double Seconds = 0;   // from the first range's start to the end
    // Of the pages handed to the Page event: those that show something but
    // hold no text character (recognised or not), and what the recognised
    // ones came to.
    int PagesWithoutText = 0;
    TRecognitionTally Recognition;
};

class TWorkerPool {
public:
    // The events of a run, each called on the thread that called Run.
    struct TEvents {
        // The document opened; [First, Last] (not empty) are the pages that follow.
        // May raise: the document then fails with the exception's message.
        std::function<void(int Job, int PageCount, int First, int Last)> Started;
        // A page's bytes (in the job's format), in page order. May
        // raise, with the same effect.
        std::function<void(int Job, int Page, const QByteArray& Bytes)> Page;
        // Pages converted so far for the document, by all workers, in any order.
        std::function<void(int Job, int PagesDone)> Progress;
        // The document is done: converted, without pages in range, or failed.
        std::function<void(int Job, const TJobResult& Result)> Finished;
    };

    // Program: kestrune-text (by default the running program itself, also
    // where /proc is missing); at most Jobs workers at a time (at least 1);
    // TimeLimit in seconds per document, 0 for none (a limit beyond decades
    // is none).
    explicit TWorkerPool(int Jobs, double TimeLimit = 0, const QString& Program = QStringLiteral("/proc/self/exe"));
    // Stops the workers that are left.
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    // Converts the documents; returns when each has been reported Finished.
    void Run(const QList<TDocumentJob>& Jobs, const TEvents& Events);

    // Ends the Run in progress at once, from any thread: its workers are
    // killed and every document not yet reported fails with "cancelled". A
    // Run that starts later ends the same way: a cancelled pool is done with.
    void Cancel();

    // The process ids of the running workers.
    QList<pid_t> WorkerProcesses() const;

    // A worker busy with a range that sends nothing for this long (stopped,
    // or stuck) is ended and its document fails. Default: DefaultSilenceLimit.
    static constexpr double DefaultSilenceLimit = 600;
    void SetSilenceLimit(double Seconds);
    // The memory each worker may take (its data segment, RLIMIT_DATA), in
    // bytes; 0 for no limit. By default DefaultMemoryLimit(Jobs). A document
    // that needs more fails ("not enough memory", naming the page).
    void SetMemoryLimit(qint64 Bytes);

private:
    struct TState;
    std::unique_ptr<TState> F;
};

// The workers' memory limit unless set: the physical memory shared among
// Jobs workers, from MinDefaultMemoryLimit (a page recognised at the largest
// size, 40 million pixels, needs 400 to 450 MB) to MaxDefaultMemoryLimit (room
// for a page whose image alone decodes to more than a gigabyte, while an
// image that asks for more than that at once is refused at once, and a
// document that grows without end stops there, not where the machine runs
// out), in whole MiB. 0 (none) in a sanitizer build, whose shadow memory
// passes any limit.
inline constexpr qint64 MinDefaultMemoryLimit = qint64(1) << 30;
inline constexpr qint64 MaxDefaultMemoryLimit = qint64(4) << 30;
qint64 DefaultMemoryLimit(int Jobs);

// "SIGSEGV (Segmentation fault)": a signal's name and description.
QString SignalName(int Signal);

// "time limit reached (30 s)": the error of a document past its time limit.
QString TimeLimitMessage(double Seconds);

// The path the running program was started from, for starting copies of it:
// /proc/self/exe where /proc is mounted, else argv[0] as found then.
QString OwnProgramPath();

}  // namespace kestrune
