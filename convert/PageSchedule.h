// The schedule of a pool's run: the documents, each done in ranges of pages
// that workers take in document order, and the pages handed on in page order
// whichever worker did them. It decides which range may be given out next
// (only a few run ahead of the first unfinished one, so that the pages held
// until their turn stay few), settles failures (the lowest failing page
// wins), finishes documents, keeps each document's file open for the workers
// and notices when it changes, and keeps the documents' deadlines.
//
// The schedule knows no process: how a worker is started, heard, timed or
// ended is the pool's (WorkerPool.cpp), which tells it which range a worker
// took and what came of it. It reports through the caller's events.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sys/stat.h>

#include "convert/PageReader.h"
#include "convert/WorkerPool.h"

namespace kestrune {

class TDescriptor;

// A time limit beyond this (some 30 years) is no limit: the clock's
// nanoseconds would overflow before it.
constexpr double LongestTimeLimit = 1e9;

class TPageSchedule {
public:
    using Clock = std::chrono::steady_clock;

    struct TRange {
        int First = 0;
        int Last = 0;
        enum { Waiting, Running, Done } State = Waiting;
    };

    // The documents of Jobs, for at most Workers workers at a time, each
    // within TimeLimit seconds (0: none), reported through Events, which must
    // stay valid as long as the schedule is told anything.
    TPageSchedule(const QList<TDocumentJob>& Jobs, const TWorkerPool::TEvents& Events, int Workers, double TimeLimit);
    ~TPageSchedule();
    TPageSchedule(const TPageSchedule&) = delete;
    TPageSchedule& operator=(const TPageSchedule&) = delete;

    // Runs an event of document Doc (Event: every event but Progress) for the
    // pool, which times it there (TEventTime); unset, the event just runs.
    std::function<void(int Doc, const std::function<void()>& Event)> AroundEvent;

    // --- documents ------------------------------------------------------

    int Count() const { return int(FDocuments.size()); }
    // Documents not yet reported Finished.
    int Unfinished() const { return FUnfinished; }
    // Documents start in order, so those before NextWaiting have started and
    // those before FirstActive have finished: the loop looks only in between,
    // however long the batch.
    int FirstActive() const { return FFirstActive; }
    int NextWaiting() const { return FNextWaiting; }
    void SkipPast();

    const TDocumentJob& Job(int Doc) const { return FDocuments[Doc].Job; }
    bool Running(int Doc) const { return FDocuments[Doc].State == TDocument::Running; }
    bool Finished(int Doc) const { return FDocuments[Doc].State == TDocument::Finished; }
    // The page count a worker reported; -1 before the first one.
    int PageCount(int Doc) const { return FDocuments[Doc].Result.PageCount; }
    // What the workers are given to read: the file the schedule opened, or the caller's descriptor.
    int Descriptor(int Doc) const { return FDocuments[Doc].Fd; }
    // Pages received before the ones ahead of them, held until their turn.
    qsizetype HeldPages(int Doc) const { return FDocuments[Doc].Early.size(); }

    // --- ranges ---------------------------------------------------------

    const TRange& Range(int Doc, int R) const { return FDocuments[Doc].Ranges[R]; }
    // Ranges running ahead of the first unfinished one, at most; a bound on the
    // pages held until the ones before them arrive.
    int Window() const { return 4 * FWorkers; }
    // The range of Doc that may be given to a worker now (the first waiting
    // one, if it lies within the window after the range that holds the next
    // page to hand on); -1 when none.
    int Assignable(int Doc);
    // The number of Doc's ranges that may be given out now.
    int AssignableCount(int Doc);
    // Range R of Doc goes to a worker: the document starts (its file opened
    // for the workers, its time running) with its first. False when the file
    // cannot be opened: the document has then failed.
    bool Give(int Doc, int R);
    // The worker of range R of Doc is done with it, or gone.
    void RangeDone(int Doc, int R) { FDocuments[Doc].Ranges[R].State = TRange::Done; }
    // Whether range R of Doc, done with Pages pages by a worker that reported
    // the page count, ended with fewer than the document's count promised.
    bool ShortOf(int Doc, int R, int Pages) const;

    // --- what the workers report ----------------------------------------

    void PageCountArrived(int Doc, int Count);
    void PageArrived(int Doc, int Page, QByteArray Bytes, const TPageFacts& Facts);
    // A failure at Page (0: while opening; -1: before everything else). The
    // document ends once every page before it is in (at once when Final), as
    // the error of the lowest page is the one to tell.
    void Fail(int Doc, int Page, const QString& Message, bool Final = false);
    // Ends the document once it is complete, or once its failure is settled.
    void Check(int Doc);

    // Whether Doc's file is no longer what it was when opened: written to, or
    // its name now given to another file.
    bool Changed(int Doc) const;
    static QString ChangedMessage() { return QStringLiteral("the file changed while it was read"); }

    // --- deadlines ------------------------------------------------------

    // When running document Doc reaches the time limit (set only with one).
    Clock::time_point Deadline(int Doc) const { return FDocuments[Doc].Deadline; }
    // Moves the deadlines of the running documents other than Doc on by Spent.
    void Postpone(int Doc, Clock::duration Spent);

private:
    // The identity of an open file, to tell whether it changed while it was read.
    struct TFileIdentity {
        dev_t Device = 0;
        ino_t Node = 0;
        off_t Size = 0;
        timespec Modified{};
        bool operator==(const TFileIdentity& o) const {
            return Device == o.Device && Node == o.Node && Size == o.Size && Modified.tv_sec == o.Modified.tv_sec &&
                   Modified.tv_nsec == o.Modified.tv_nsec;
        }
    };

    // The page counts of a document's ranges: the first, and the bounds of the later ones.
    struct TRangeSizes {
        int First, Min, Max;
    };
    static TRangeSizes RangeSizes(TOcrMode Mode);
    static TFileIdentity IdentityOf(const struct stat& Status);

    struct TDocument {
        TDocumentJob Job;
        enum { Waiting, Running, Finished } State = Waiting;
        TJobResult Result;
        QList<TRange> Ranges;     // in page order
        int NextRange = 0;        // the ranges before it are no longer waiting
        int CurrentRange = 0;     // the range that holds NextPage
        std::shared_ptr<TDescriptor> File;  // the file, open while the document runs (when the schedule opened it)
        int Fd = -1;              // what the workers are given: File, or the caller's descriptor
        std::optional<TFileIdentity> Opened;  // the file as it was when opened
        TRangeSizes Sizes;
        int NextPage = 1;         // the next page to hand on
        std::map<int, QByteArray> Early;  // pages received before NextPage came
        int PagesDone = 0;
        int ErrorPage = INT_MAX;  // the lowest failing page so far (0: opening)
        QString Error;
        Clock::time_point Started;
        Clock::time_point Deadline;
    };

    void Advance(TDocument& d) const;
    bool OpenFile(int Doc);
    void Finish(int Doc);
    void CallEvent(int Doc, const std::function<void()>& Event);

    QList<TDocument> FDocuments;
    const TWorkerPool::TEvents* FEvents;
    int FWorkers;
    double FTimeLimit;
    int FUnfinished = 0;
    int FFirstActive = 0;   // the documents before it have finished
    int FNextWaiting = 0;   // the first document not started yet
};

}  // namespace kestrune
