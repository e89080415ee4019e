// The loop that joins the pool's parts: it reads the workers' frames and
// hands what they report to the schedule (PageSchedule.h), gives idle workers
// the ranges the schedule lets out, decides how many workers to start
// (WorkerProcesses.h), holds documents and workers to their time and silence
// limits, and cancels. It keeps no document's ranges or pages (the
// schedule's) and starts, kills or reaps no process by itself (the
// processes' part does).
#include "convert/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <list>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "convert/ConversionWorker.h"
#include "convert/MemoryWatch.h"
#include "convert/PageSchedule.h"
#include "convert/WorkerProcesses.h"
#include "convert/WorkerProtocol.h"

namespace kestrune {

using namespace worker;
using Clock = std::chrono::steady_clock;

QString TimeLimitMessage(double Seconds) {
    return QStringLiteral("time limit reached (%1 s)").arg(QString::number(Seconds, 'g', 6));
}

struct TWorkerPool::TState {
    struct TWorker : TWorkerProcess {
        TFrameBuffer Buffer;
        int Document = -1;        // the range it works on, or -1 when idle
        int Range = -1;
        int PagesInRange = 0;
        bool Counted = false;     // the page count of its range's document arrived
        int OpenDocument = -1;    // the document it has open
        Clock::time_point Heard;  // when it last sent something, or was given a range
    };

    int Jobs = 1;
    double TimeLimit = 0;
    TWorkerProcesses Processes;
    std::optional<TPageSchedule> Schedule;  // the documents of the Run in progress, or of the last
    std::list<TWorker> Workers;
    double SilenceLimit = TWorkerPool::DefaultSilenceLimit;
    qint64 MemoryLimit = 0;
    // Cancel's flag, and the pipe that wakes the loop from its wait for it.
    std::atomic<bool> Cancelled{false};
    int Wake[2] = {-1, -1};

    explicit TState(const QString& Program) : Processes(Program) {
        if (::pipe2(Wake, O_CLOEXEC | O_NONBLOCK) != 0) Wake[0] = Wake[1] = -1;
    }

    ~TState() {
        for (const int fd : Wake)
            if (fd >= 0) ::close(fd);
        std::vector<TWorkerProcesses::TLeft> left;
        for (TWorker& w : Workers) left.push_back({&w, w.Document >= 0});
        TWorkerProcesses::EndAll(left);
    }

    // An event of document Doc runs on the loop's thread: while it waits (an
    // output without a reader, a slow disk), no other document's worker is
    // heard. The time it takes is that document's alone, so the other running
    // documents' deadlines and their workers' silence move on by as much.
    class TEventTime {
    public:
        TEventTime(TState& State, int Doc) : FState(State), FDoc(Doc), FStart(Clock::now()) {}
        ~TEventTime() {
            const Clock::duration spent = Clock::now() - FStart;
            if (spent < std::chrono::milliseconds(10)) return;
            FState.Schedule->Postpone(FDoc, spent);
            for (TWorker& w : FState.Workers)
                if (w.Document != FDoc) w.Heard += spent;
        }
        TEventTime(const TEventTime&) = delete;
        TEventTime& operator=(const TEventTime&) = delete;

    private:
        TState& FState;
        int FDoc;
        Clock::time_point FStart;
    };

    // --- giving out ranges -----------------------------------------------

    // Gives range of doc to w; false when the document's file cannot be opened (it has then failed).
    bool Assign(TWorker& w, int doc, int range) {
        if (!Schedule->Give(doc, range)) return false;
        const TDocumentJob& job = Schedule->Job(doc);
        const TPageSchedule::TRange& r = Schedule->Range(doc, range);
        w.Document = doc;
        w.Range = range;
        w.PagesInRange = 0;
        w.Counted = false;
        w.OpenDocument = doc;
        w.Heard = Clock::now();
        TPayload convert;
        convert.Text(job.FileName).Text(job.Password).Int(r.First).Int(r.Last);
        job.Ocr.WriteTo(convert);
        job.Format.WriteTo(convert);
        const QByteArray frame = convert.Frame(TMessage::Convert);
        // A worker that is gone shows as the end of its socket in the loop.
        SendWithDescriptor(w.Fd, frame, Schedule->Descriptor(doc));
        return true;
    }

    // Gives each idle worker a range, the next one of its open document first;
    // returns the number of ranges still waiting for a worker.
    int AssignAll() {
        TPageSchedule& s = *Schedule;
        for (TWorker& w : Workers) {
            if (!w.Ready || w.Killed || w.Document >= 0) continue;
            bool given = false;
            if (w.OpenDocument >= 0) {
                const int r = s.Assignable(w.OpenDocument);
                if (r >= 0) given = Assign(w, w.OpenDocument, r);
            }
            for (int doc = s.FirstActive(); doc < s.NextWaiting() && !given; ++doc) {
                const int r = s.Assignable(doc);
                if (r >= 0) given = Assign(w, doc, r);
            }
            // A document whose file cannot be opened has failed; the next one is tried.
            while (!given && s.NextWaiting() < s.Count()) {
                given = Assign(w, s.NextWaiting(), 0);
                s.SkipPast();
            }
            s.SkipPast();
        }
        // What is waiting for a worker: the ranges of the started documents
        // that may be given out now, and the first range of each of the next
        // few documents. Nothing else starts a worker, so a run never has more
        // workers than ranges to give them: a one-page file runs one worker,
        // and a long document gets its others once its page count has come.
        int waiting = 0;
        for (int doc = s.FirstActive(); doc < s.NextWaiting(); ++doc) waiting += s.AssignableCount(doc);
        waiting += std::max(0, std::min(s.Count(), s.NextWaiting() + Jobs) - s.NextWaiting());
        return waiting;
    }

    void StartWorkers(int Waiting) {
        // After a refused start, the workers there are must do for a while.
        if (!Processes.MayStart()) return;
        int starting = 0;
        for (const TWorker& w : Workers)
            if (!w.Ready) ++starting;
        int wanted = std::min(Waiting - starting, Jobs - int(Workers.size()));
        while (wanted-- > 0) {
            std::optional<TWorkerProcess> started = Processes.Start(MemoryLimit);
            if (!started) break;
            TWorker& w = Workers.emplace_back();
            static_cast<TWorkerProcess&>(w) = std::move(*started);
            w.Heard = Clock::now();
        }
    }

    // --- what the workers send -------------------------------------------

    // A frame from worker w.
    void Received(TWorker& w, TMessage Type, const QByteArray& Payload) {
        TPayloadReader r(Payload);
        switch (Type) {
        case TMessage::Ready:
            w.Ready = true;
            Processes.ClearRefusals();
            return;
        case TMessage::PageCount: {
            const int count = r.Int();
            if (w.Document < 0 || r.Failed()) break;
            w.Counted = true;
            Schedule->PageCountArrived(w.Document, count);
            return;
        }
        case TMessage::Page: {
            const int page = r.Int();
            QByteArray bytes = r.Bytes();
            const TPageFacts facts = TPageFacts::ReadFrom(r);
            if (w.Document < 0 || r.Failed()) break;
            ++w.PagesInRange;
            Schedule->PageArrived(w.Document, page, std::move(bytes), facts);
            return;
        }
        case TMessage::Done:
        case TMessage::Error: {
            if (w.Document < 0) break;
            const int doc = w.Document;
            const int range = w.Range;
            w.Document = w.Range = -1;
            Schedule->RangeDone(doc, range);
            if (Type == TMessage::Error) {
                const int page = r.Int();
                const QString message = r.Text();
                if (r.Failed()) break;
                w.OpenDocument = -1;  // the worker has closed it
                Schedule->Fail(doc, page, message);
            } else if (w.Counted && Schedule->ShortOf(doc, range, w.PagesInRange)) {
                // Done without all its pages: the worker saw another document than the others.
                Schedule->Fail(doc, 0, TPageSchedule::ChangedMessage(), true);
            } else {
                Schedule->Check(doc);
            }
            return;
        }
        default:
            break;
        }
        // Out of step with the protocol: this worker cannot be trusted further.
        Ended(w, QStringLiteral("broke the protocol"));
    }

    // Worker w is gone (or to be dropped, for What it did): its range's
    // document fails at the page it was on, saying how the process ended.
    void Ended(TWorker& w, QString What = {}) {
        const int status = TWorkerProcesses::Reap(w, !What.isEmpty());
        // A worker that ended on its own may have said why (a refused
        // allocation, say), or its libraries may have.
        const QString told = What.isEmpty() ? WorkerFailureReason(w.Errors.Get()) : QString();
        w.Errors = TDescriptor();
        if (What.isEmpty()) {
            if (WIFSIGNALED(status))
                What = QStringLiteral("was ended by signal %1").arg(SignalName(WTERMSIG(status)));
            else
                What = QStringLiteral("ended with exit status %1").arg(WEXITSTATUS(status));
        }
        // A worker tells a refused allocation itself, unless it cannot see
        // them (a sanitizer build): then, under a limit, it is a likely cause.
        if (told.isEmpty() && !AllocationsWatched() && WIFSIGNALED(status) && MemoryLimit > 0 &&
            WTERMSIG(status) != SIGKILL)
            What += QStringLiteral(", perhaps out of memory (limit %1 MB)").arg(MemoryLimit >> 20);
        if (!w.Ready && !w.Killed) Processes.Refused(QStringLiteral("it ") + What);
        if (w.Document >= 0 && !w.Killed) {
            const int first = Schedule->Range(w.Document, w.Range).First;
            Schedule->RangeDone(w.Document, w.Range);
            // A file cut short under a worker's mapping ends it with SIGBUS: the change is the news.
            Schedule->Fail(w.Document, w.Counted ? std::max(first, 1) + w.PagesInRange : 0,
                           Schedule->Changed(w.Document) ? TPageSchedule::ChangedMessage()
                           : !told.isEmpty()              ? told
                                                          : QStringLiteral("its worker process ") + What);
        }
        w.Killed = true;
    }

    // Reads what worker w has sent.
    void Read(TWorker& w) {
        char chunk[1 << 16];
        for (;;) {
            const ssize_t n = ::recv(w.Fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            if (n <= 0) {
                Ended(w);
                return;
            }
            w.Heard = Clock::now();
            w.Buffer.Append(chunk, n);
            TMessage type;
            QByteArray payload;
            while (w.Fd >= 0 && w.Buffer.Next(type, payload)) Received(w, type, payload);
            if (w.Fd < 0) return;
            if (w.Buffer.Broken()) {
                Ended(w, QStringLiteral("broke the protocol"));
                return;
            }
        }
    }

    // --- time, silence and cancelling ------------------------------------

    // A busy worker silent past the silence limit is ended, failing its document.
    void CheckSilence() {
        const Clock::time_point now = Clock::now();
        for (TWorker& w : Workers)
            if (w.Fd >= 0 && w.Document >= 0 && !w.Killed && now - w.Heard >= Silence())
                Ended(w, QStringLiteral("stopped answering (%1 s without a word)").arg(QString::number(SilenceLimit, 'g', 6)));
    }

    Clock::duration Silence() const {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::min(SilenceLimit, LongestTimeLimit)));
    }

    // Documents past their time limit fail, and their workers are killed.
    void CheckDeadlines() {
        CheckSilence();
        if (TimeLimit <= 0) return;
        const Clock::time_point now = Clock::now();
        for (int doc = Schedule->FirstActive(); doc < Schedule->NextWaiting(); ++doc) {
            if (!Schedule->Running(doc) || now < Schedule->Deadline(doc)) continue;
            for (TWorker& w : Workers)
                if (w.Document == doc && !w.Killed) TWorkerProcesses::Kill(w);
            // At page -1: before everything else.
            Schedule->Fail(doc, -1, TimeLimitMessage(TimeLimit), true);
        }
    }

    int PollTimeout() const {
        const Clock::time_point now = Clock::now();
        Clock::duration least = Clock::duration::max();
        for (const TWorker& w : Workers)
            if (w.Fd >= 0 && w.Document >= 0 && !w.Killed) least = std::min(least, w.Heard + Silence() - now);
        if (now < Processes.NextStart()) least = std::min(least, Processes.NextStart() - now);
        if (TimeLimit > 0)
            for (int doc = Schedule->FirstActive(); doc < Schedule->NextWaiting(); ++doc)
                if (Schedule->Running(doc)) least = std::min(least, Schedule->Deadline(doc) - now);
        if (least == Clock::duration::max()) return -1;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(least).count();
        return int(std::clamp<long long>(ms, 0, INT_MAX));
    }

    // Cancel's effect: the workers killed (their ends are no news), every
    // document not yet finished failed.
    void CancelAll() {
        for (TWorker& w : Workers)
            if (w.Pid > 0 && !w.Killed) TWorkerProcesses::Kill(w);
        for (int doc = Schedule->FirstActive(); doc < Schedule->Count(); ++doc)
            Schedule->Fail(doc, -1, QStringLiteral("cancelled"), true);
    }

    void Loop() {
        while (Schedule->Unfinished() > 0) {
            if (Cancelled) {
                CancelAll();
                return;
            }
            Workers.remove_if([](const TWorker& w) { return w.Fd < 0 && w.Pid < 0; });
            const int waiting = AssignAll();
            if (waiting > 0) StartWorkers(waiting);
            if (Schedule->Unfinished() == 0) break;  // the last documents failed to open
            if (Workers.empty()) {
                // Nothing runs: wait for the next attempt to start one, or,
                // after the last, fail what is left.
                if (Processes.Retrying()) {
                    std::this_thread::sleep_until(Processes.NextStart());
                    continue;
                }
                const QString error = QStringLiteral("cannot start a worker process: %1").arg(Processes.StartError());
                for (int doc = 0; doc < Schedule->Count(); ++doc) Schedule->Fail(doc, 0, error, true);
                return;
            }
            QList<pollfd> fds;
            QList<TWorker*> owners;
            if (Wake[0] >= 0) {
                fds.append({Wake[0], POLLIN, 0});
                owners.append(nullptr);
            }
            for (TWorker& w : Workers) {
                fds.append({w.Fd, POLLIN, 0});
                owners.append(&w);
            }
            const int n = ::poll(fds.data(), nfds_t(fds.size()), PollTimeout());
            if (n < 0 && errno != EINTR) break;
            for (qsizetype i = 0; i < fds.size(); ++i)
                if (fds[i].revents && owners[i]) Read(*owners[i]);
            CheckDeadlines();
        }
    }
};

TWorkerPool::TWorkerPool(int Jobs, double TimeLimit, const QString& Program) : F(std::make_unique<TState>(Program)) {
    F->Jobs = std::max(Jobs, 1);
    F->TimeLimit = TimeLimit > 0 && TimeLimit < LongestTimeLimit ? TimeLimit : 0;
    F->MemoryLimit = DefaultMemoryLimit(F->Jobs);
}

TWorkerPool::~TWorkerPool() = default;

void TWorkerPool::SetSilenceLimit(double Seconds) { F->SilenceLimit = Seconds > 0 ? Seconds : DefaultSilenceLimit; }

void TWorkerPool::SetMemoryLimit(qint64 Bytes) { F->MemoryLimit = std::max<qint64>(Bytes, 0); }

qint64 DefaultMemoryLimit(int Jobs) {
    // The sanitizers' shadow memory, reserved at start, alone passes any data limit.
    if (!AllocationsWatched()) return 0;
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return MaxDefaultMemoryLimit;
    const qint64 physical = qint64(pages) * pageSize;
    const qint64 share = physical / std::max(Jobs, 1);
    const qint64 limit = std::clamp(share, std::min(MinDefaultMemoryLimit, physical), MaxDefaultMemoryLimit);
    return limit >> 20 << 20;  // whole MiB, as it is shown
}

void TWorkerPool::Run(const QList<TDocumentJob>& Jobs, const TEvents& Events) {
    F->Schedule.emplace(Jobs, Events, F->Jobs, F->TimeLimit);
    F->Schedule->AroundEvent = [this](int Doc, const std::function<void()>& Event) {
        const TState::TEventTime time(*F, Doc);
        Event();
    };
    F->Processes.ClearRefusals();
    for (TState::TWorker& w : F->Workers) w.OpenDocument = -1;
    F->Loop();
}

void TWorkerPool::Cancel() {
    F->Cancelled = true;
    // The byte stays in the pipe: every later wait returns at once too.
    if (F->Wake[1] >= 0)
        while (::write(F->Wake[1], "x", 1) < 0 && errno == EINTR) {
        }
}

QList<pid_t> TWorkerPool::WorkerProcesses() const {
    QList<pid_t> pids;
    for (const TState::TWorker& w : F->Workers)
        if (w.Pid > 0 && w.Fd >= 0) pids.append(w.Pid);
    return pids;
}

}  // namespace kestrune
