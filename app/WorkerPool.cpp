#include "app/WorkerPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <list>
#include <map>
#include <poll.h>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/Conversion.h"
#include "app/ConversionWorker.h"
#include "app/FileNames.h"
#include "app/MemoryWatch.h"
#include "app/SafeFiles.h"
#include "app/WorkerProtocol.h"

extern char** environ;

namespace kestrune {

using namespace worker;
using Clock = std::chrono::steady_clock;

namespace {

// The first range of a document, done before its page count is known.
constexpr int FirstRangePages = 16;
// Later ranges: each a share of what is left (1 / (RangeShare x workers)), so
// they shrink towards the end and the last ones leave little idle time,
// within these bounds.
constexpr int RangeShare = 2;
constexpr int MinRangePages = 8;
constexpr int MaxRangePages = 64;
// A document's file size that promises work for one more worker before its
// page count is known: started at once, a worker is ready when the ranges
// come, rather than taking its start-up time then. Smaller documents start
// no worker of their own beyond the first.
constexpr qint64 BytesPerEarlyWorker = 256 * 1024;
// A time limit beyond this (some 30 years) is no limit: the clock's
// nanoseconds would overflow before it.
constexpr double LongestTimeLimit = 1e9;
// A refused start (the process limit, memory) is tried again after a pause
// that doubles from the first, up to the last; with no worker running, the
// documents fail after this many attempts.
constexpr auto FirstStartPause = std::chrono::milliseconds(100);
constexpr auto LastStartPause = std::chrono::seconds(5);
constexpr int StartAttempts = 5;
// Idle workers left at the end are given this long to end on their own.
constexpr auto EndingGrace = std::chrono::seconds(2);

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

std::optional<TFileIdentity> IdentityOf(const struct stat& Status) {
    return TFileIdentity{Status.st_dev, Status.st_ino, Status.st_size, Status.st_mtim};
}

// The page counts of a document's ranges: the first, and the bounds of the later ones.
struct TRangeSizes {
    int First, Min, Max;
};

// Recognising a page takes a second or more, against a millisecond for its
// text: where pages may be recognised, ranges are short so that the workers
// share even a short scanned document; where all are, one page each.
TRangeSizes RangeSizes(TOcrMode Mode) {
    switch (Mode) {
    case TOcrMode::Never:
        break;
    case TOcrMode::Auto:
        return {1, 1, 16};
    case TOcrMode::Always:
        return {1, 1, 1};
    }
    return {FirstRangePages, MinRangePages, MaxRangePages};
}

// The environment of the workers: the parent's, with Tesseract's OpenMP
// threads limited to one, as the workers themselves are the parallel part.
QByteArrayList WorkerEnvironment() {
    static constexpr char Limit[] = "OMP_THREAD_LIMIT=";
    QByteArrayList entries;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, Limit, sizeof Limit - 1) != 0) entries.append(*e);
    entries.append(QByteArray(Limit) + "1");
    return entries;
}

}  // namespace

QString TimeLimitMessage(double Seconds) {
    return QStringLiteral("time limit reached (%1 s)").arg(QString::number(Seconds, 'g', 6));
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

struct TWorkerPool::TState {
    struct TRange {
        int First = 0;
        int Last = 0;
        enum { Waiting, Running, Done } State = Waiting;
    };

    struct TDocument {
        TDocumentJob Job;
        enum { Waiting, Running, Finished } State = Waiting;
        TJobResult Result;
        QList<TRange> Ranges;     // in page order
        int NextRange = 0;        // the ranges before it are no longer waiting
        int CurrentRange = 0;     // the range that holds NextPage
        std::shared_ptr<TDescriptor> File;  // the file, open while the document runs (when the pool opened it)
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
        qint64 Size = 0;          // of the file
    };

    struct TWorker {
        pid_t Pid = -1;
        int Fd = -1;
        TDescriptor Errors;       // its standard error (NewWorkerErrorFile), read when it ends
        TFrameBuffer Buffer;
        bool Ready = false;
        bool Killed = false;      // stopped by the pool; its end is no news
        int Document = -1;        // the range it works on, or -1 when idle
        int Range = -1;
        int PagesInRange = 0;
        bool Counted = false;     // the page count of its range's document arrived
        int OpenDocument = -1;    // the document it has open
        Clock::time_point Heard;  // when it last sent something, or was given a range
    };

    int Jobs = 1;
    double TimeLimit = 0;
    QByteArray Program;
    QByteArray ProgramName;
    QByteArrayList Environment;   // the workers' (see WorkerEnvironment)
    QList<TDocument> Documents;
    std::list<TWorker> Workers;
    const TEvents* Events = nullptr;
    int Unfinished = 0;
    int FirstActive = 0;          // the documents before it have finished
    int NextWaiting = 0;          // the first document not started yet
    QString StartError;           // why the last start failed
    int StartFailures = 0;        // starts refused in a row
    Clock::time_point NextStart;  // no start before this, after a refused one
    double SilenceLimit = TWorkerPool::DefaultSilenceLimit;
    qint64 MemoryLimit = 0;
    // Cancel's flag, and the pipe that wakes the loop from its wait for it.
    std::atomic<bool> Cancelled{false};
    int Wake[2] = {-1, -1};

    TState() {
        if (::pipe2(Wake, O_CLOEXEC | O_NONBLOCK) != 0) Wake[0] = Wake[1] = -1;
    }

    ~TState() {
        for (const int fd : Wake)
            if (fd >= 0) ::close(fd);
        // Idle workers end when their socket closes (woken first, should one
        // be stopped); the others are killed, and so is an idle one that has
        // not ended after a grace period.
        for (TWorker& w : Workers) {
            if (w.Fd >= 0) ::close(w.Fd);
            w.Fd = -1;
            if (w.Pid <= 0) continue;
            if (!w.Ready || w.Killed || w.Document >= 0) ::kill(w.Pid, SIGKILL);
            else ::kill(w.Pid, SIGCONT);
        }
        const Clock::time_point giveUp = Clock::now() + EndingGrace;
        for (TWorker& w : Workers) {
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

    // Ranges running ahead of the first unfinished one, at most; a bound on the
    // pages held until the ones before them arrive.
    int Window() const { return 4 * Jobs; }

    // --- documents ------------------------------------------------------

    // Ranges are given out in page order and never return to waiting, and
    // NextPage only grows: both indices move forward, so that finding a
    // document's next range costs the same however many it has.
    void Advance(TDocument& d) const {
        while (d.NextRange < d.Ranges.size() && d.Ranges[d.NextRange].State != TRange::Waiting) ++d.NextRange;
        while (d.CurrentRange + 1 < d.Ranges.size() && d.Ranges[d.CurrentRange].Last < d.NextPage) ++d.CurrentRange;
    }

    // The range of d that may be given to a worker now (the first waiting one,
    // if it lies within the window after the range that holds NextPage); -1
    // when none.
    int Assignable(TDocument& d) const {
        if (d.State == TDocument::Finished) return -1;
        Advance(d);
        const int r = d.NextRange;
        if (r >= d.Ranges.size() || d.Ranges[r].First > d.ErrorPage) return -1;  // past a failure: never needed
        return r <= d.CurrentRange + Window() ? r : -1;
    }

    // The number of d's ranges that may be given out now.
    int AssignableCount(TDocument& d) const {
        if (Assignable(d) < 0) return 0;
        int last = std::min(int(d.Ranges.size()) - 1, d.CurrentRange + Window());
        while (last >= d.NextRange && d.Ranges[last].First > d.ErrorPage) --last;
        return std::max(0, last - d.NextRange + 1);
    }

    void Finish(int doc) {
        TDocument& d = Documents[doc];
        if (d.State == TDocument::Finished) return;
        const bool started = d.State == TDocument::Running;
        d.State = TDocument::Finished;
        d.Early.clear();
        if (d.ErrorPage == INT_MAX && Changed(d)) {
            d.ErrorPage = 0;
            d.Error = ChangedMessage();
        }
        d.Result.Failed = d.ErrorPage != INT_MAX;
        d.Result.Error = d.Error;
        d.File.reset();
        d.Fd = -1;
        if (started)
            d.Result.Seconds = std::chrono::duration<double>(Clock::now() - d.Started).count();
        --Unfinished;
        if (Events->Finished) Events->Finished(doc, d.Result);
    }

    // A failure at Page (0: while opening). The document ends once every
    // page before it is in, as the error of the lowest page is the one to tell.
    void Fail(int doc, int Page, const QString& Message, bool Final = false) {
        TDocument& d = Documents[doc];
        if (d.State == TDocument::Finished) return;
        if (Page < d.ErrorPage) {
            d.ErrorPage = Page;
            d.Error = Message;
        }
        if (Final) Finish(doc);
        else Check(doc);
    }

    // Ends the document once it is complete, or once its failure is settled.
    void Check(int doc) {
        const TDocument& d = Documents[doc];
        if (d.NextPage >= d.ErrorPage || (d.Result.PageCount >= 0 && d.NextPage > d.Result.LastPage)) Finish(doc);
    }

    static QString ChangedMessage() { return QStringLiteral("the file changed while it was read"); }

    // Whether d's file is no longer what it was when opened: written to, or
    // its name now given to another file.
    static bool Changed(const TDocument& d) {
        if (!d.Opened || d.Fd < 0) return false;
        struct stat now {};
        if (::fstat(d.Fd, &now) != 0 || !(IdentityOf(now) == d.Opened)) return true;
        if (d.Job.Descriptor >= 0) return false;  // the caller's file has no name to check
        struct stat named {};
        return ::stat(EncodeName(d.Job.FileName).constData(), &named) != 0 || named.st_dev != now.st_dev ||
               named.st_ino != now.st_ino;
    }

    // Opens d's file for the workers, once; a failure fails the document.
    bool OpenFile(int doc) {
        TDocument& d = Documents[doc];
        if (d.Fd >= 0) return true;
        int fd = d.Job.Descriptor;
        if (fd < 0) {
            d.File = std::make_shared<TDescriptor>(::open(EncodeName(d.Job.FileName).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
            if (!d.File->IsOpen()) {
                Fail(doc, 0, errno == ENOENT ? QStringLiteral("No such file") : SystemMessage(errno), true);
                return false;
            }
            fd = d.File->Get();
        }
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            Fail(doc, 0, SystemMessage(errno), true);
            return false;
        }
        if (!S_ISREG(status.st_mode)) {
            // A pipe or device cannot be read by several workers: read once into a file.
            try {
                d.File = std::make_shared<TDescriptor>(SpoolToUnnamedFile(fd, ShownName(d.Job.FileName)));
            } catch (const std::exception&) {
                Fail(doc, 0, Raised(), true);
                return false;
            }
            fd = d.File->Get();
            ::fstat(fd, &status);
        }
        d.Fd = fd;
        d.Opened = IdentityOf(status);
        return true;
    }

    // The message of the exception that an event raised.
    static QString Raised() { return ErrorMessage(std::current_exception()); }

    void PageCountArrived(int doc, int Count) {
        TDocument& d = Documents[doc];
        if (d.State == TDocument::Finished) return;
        if (d.Result.PageCount >= 0) {
            // Workers that see different documents: the file was replaced or rewritten.
            if (Count != d.Result.PageCount) Fail(doc, 0, ChangedMessage(), true);
            return;
        }
        d.Result.PageCount = Count;
        d.Result.FirstPage = std::max(d.Job.FirstPage, 1);
        d.Result.LastPage = std::min(d.Job.LastPage, Count);
        d.NextPage = d.Result.FirstPage;
        if (d.Result.FirstPage > d.Result.LastPage) {
            // Nothing to convert; the worker's range ends without pages.
            Finish(doc);
            return;
        }
        try {
            if (Events->Started) Events->Started(doc, Count, d.Result.FirstPage, d.Result.LastPage);
        } catch (...) {
            Fail(doc, d.NextPage, Raised(), true);
            return;
        }
        TRange& first = d.Ranges[0];
        first.Last = std::min(first.Last, d.Result.LastPage);
        for (qint64 page = qint64(first.Last) + 1; page <= d.Result.LastPage;) {
            const qint64 rest = d.Result.LastPage - page + 1;
            const qint64 size = Jobs == 1 ? rest
                                          : std::clamp<qint64>((rest + Jobs * RangeShare - 1) / (Jobs * RangeShare),
                                                               d.Sizes.Min, d.Sizes.Max);
            d.Ranges.append({int(page), int(std::min<qint64>(d.Result.LastPage, page + size - 1))});
            page += size;
        }
    }

    void PageArrived(int doc, int Page, QByteArray Bytes, const TPageFacts& Facts) {
        TDocument& d = Documents[doc];
        if (d.State == TDocument::Finished) return;
        ++d.PagesDone;
        // Counted on arrival: a document that fails reports none of them.
        d.Result.PagesWithoutText += Facts.Textless;
        if (Facts.RecognizedDpi > 0) {
            ++d.Result.PagesRecognized;
            if (Facts.RecognizedDpi < d.Job.Ocr.Dpi) d.Result.PagesLowered.append({Page, Facts.RecognizedDpi});
        }
        if (Events->Progress) Events->Progress(doc, d.PagesDone);
        if (Page != d.NextPage) {
            d.Early.emplace(Page, std::move(Bytes));
            return;
        }
        try {
            for (;;) {
                if (Events->Page) Events->Page(doc, d.NextPage, Bytes);
                ++d.Result.PagesWritten;
                ++d.NextPage;
                const auto next = d.Early.find(d.NextPage);
                if (next == d.Early.end()) break;
                Bytes = std::move(next->second);
                d.Early.erase(next);
            }
        } catch (...) {
            Fail(doc, d.NextPage, Raised(), true);
            return;
        }
        Check(doc);
    }

    // --- workers --------------------------------------------------------

    bool Start() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            StartError = QString::fromLocal8Bit(strerror(errno));
            return false;
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
        char* argv[] = {ProgramName.data(), const_cast<char*>(WorkerArgument), nullptr};
        std::vector<char*> envp;
        for (QByteArray& entry : Environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        pid_t pid = -1;
        const int error = pair[1] < 0 ? errno : posix_spawn(&pid, Program.constData(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (pair[1] >= 0) ::close(pair[1]);
        if (error != 0) {
            ::close(pair[0]);
            StartError = QString::fromLocal8Bit(strerror(error));
            return false;
        }
        ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
        // Set before the worker is given anything to read.
        if (MemoryLimit > 0) {
            const rlimit limit{rlim_t(MemoryLimit), rlim_t(MemoryLimit)};
            ::prlimit(pid, RLIMIT_DATA, &limit, nullptr);
        }
        TWorker& w = Workers.emplace_back();
        w.Pid = pid;
        w.Fd = pair[0];
        w.Errors = std::move(errors);
        w.Heard = Clock::now();
        return true;
    }

    // Gives range of doc to w; false when the document's file cannot be opened (it has then failed).
    bool Assign(TWorker& w, int doc, int range) {
        if (!OpenFile(doc)) return false;
        TDocument& d = Documents[doc];
        TRange& r = d.Ranges[range];
        r.State = TRange::Running;
        if (d.State == TDocument::Waiting) {
            d.State = TDocument::Running;
            d.Started = Clock::now();
            if (TimeLimit > 0)
                d.Deadline = d.Started + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(std::min(TimeLimit, LongestTimeLimit)));
        }
        w.Document = doc;
        w.Range = range;
        w.PagesInRange = 0;
        w.Counted = false;
        w.OpenDocument = doc;
        w.Heard = Clock::now();
        TPayload convert;
        convert.Text(d.Job.FileName).Text(d.Job.Password).Int(r.First).Int(r.Last);
        convert.Int(int(d.Job.Ocr.Mode)).Text(d.Job.Ocr.Languages).Int(d.Job.Ocr.Dpi);
        const TPageFormat& format = d.Job.Format;
        convert.Int(int(format.Format)).Int(format.Layout).Int(format.CrLf).Int(format.ByteOrderMark);
        const QByteArray frame = convert.Frame(TMessage::Convert);
        // A worker that is gone shows as the end of its socket in the loop.
        SendWithDescriptor(w.Fd, frame, d.Fd);
        return true;
    }

    // Gives each idle worker a range, the next one of its open document first;
    // returns the number of ranges still waiting for a worker.
    int AssignAll() {
        for (TWorker& w : Workers) {
            if (!w.Ready || w.Killed || w.Document >= 0) continue;
            bool given = false;
            if (w.OpenDocument >= 0) {
                const int r = Assignable(Documents[w.OpenDocument]);
                if (r >= 0) given = Assign(w, w.OpenDocument, r);
            }
            for (int doc = FirstActive; doc < NextWaiting && !given; ++doc) {
                const int r = Assignable(Documents[doc]);
                if (r >= 0) given = Assign(w, doc, r);
            }
            // A document whose file cannot be opened has failed; the next one is tried.
            while (!given && NextWaiting < Documents.size()) {
                given = Assign(w, NextWaiting, 0);
                SkipPast();
            }
            SkipPast();
        }
        // What is waiting, as far as it may want another worker: the ranges of
        // the started documents, and the next few documents to start.
        const auto early = [&](const TDocument& d) {
            return d.State != TDocument::Finished && d.Result.PageCount < 0
                       ? int(std::min<qint64>(d.Size / BytesPerEarlyWorker, Jobs))
                       : 0;
        };
        int waiting = 0;
        for (int doc = FirstActive; doc < NextWaiting; ++doc) {
            TDocument& d = Documents[doc];
            waiting += AssignableCount(d) + early(d);
        }
        for (int doc = NextWaiting; doc < std::min(int(Documents.size()), NextWaiting + Jobs); ++doc)
            waiting += 1 + early(Documents[doc]);
        return waiting;
    }

    // Documents start in order, so those before NextWaiting have started and
    // those before FirstActive have finished: the loop looks only in between,
    // however long the batch.
    void SkipPast() {
        while (NextWaiting < Documents.size() && Documents[NextWaiting].State != TDocument::Waiting) ++NextWaiting;
        while (FirstActive < NextWaiting && Documents[FirstActive].State == TDocument::Finished) ++FirstActive;
    }

    void StartWorkers(int Waiting) {
        // After a refused start, the workers there are must do for a while.
        if (Clock::now() < NextStart) return;
        int starting = 0;
        for (const TWorker& w : Workers)
            if (!w.Ready) ++starting;
        int wanted = std::min(Waiting - starting, Jobs - int(Workers.size()));
        while (wanted-- > 0)
            if (!Start()) {
                StartRefused();
                break;
            }
    }

    void StartRefused() {
        ++StartFailures;
        const auto pause = std::min<Clock::duration>(FirstStartPause * (1 << std::min(StartFailures - 1, 16)), LastStartPause);
        NextStart = Clock::now() + pause;
    }

    // A frame from worker w.
    void Received(TWorker& w, TMessage Type, const QByteArray& Payload) {
        TPayloadReader r(Payload);
        switch (Type) {
        case TMessage::Ready:
            w.Ready = true;
            StartFailures = 0;
            StartError.clear();
            return;
        case TMessage::PageCount: {
            const int count = r.Int();
            if (w.Document < 0 || r.Failed()) break;
            w.Counted = true;
            PageCountArrived(w.Document, count);
            return;
        }
        case TMessage::Page: {
            const int page = r.Int();
            QByteArray bytes = r.Bytes();
            TPageFacts facts;
            facts.Textless = r.Int() != 0;
            facts.RecognizedDpi = r.Int();
            if (w.Document < 0 || r.Failed()) break;
            ++w.PagesInRange;
            PageArrived(w.Document, page, std::move(bytes), facts);
            return;
        }
        case TMessage::Done:
        case TMessage::Error: {
            if (w.Document < 0) break;
            const int doc = w.Document;
            const int range = w.Range;
            w.Document = w.Range = -1;
            TDocument& d = Documents[doc];
            d.Ranges[range].State = TRange::Done;
            if (Type == TMessage::Error) {
                const int page = r.Int();
                const QString message = r.Text();
                if (r.Failed()) break;
                w.OpenDocument = -1;  // the worker has closed it
                Fail(doc, page, message);
            } else if (ShortOf(d, d.Ranges[range], w)) {
                // Done without all its pages: the worker saw another document than the others.
                Fail(doc, 0, ChangedMessage(), true);
            } else {
                Check(doc);
            }
            return;
        }
        default:
            break;
        }
        // Out of step with the protocol: this worker cannot be trusted further.
        Ended(w, QStringLiteral("broke the protocol"));
    }

    // Whether w's range ended with fewer pages than the document's count promised.
    static bool ShortOf(const TDocument& d, const TRange& Range, const TWorker& w) {
        if (!w.Counted || d.Result.PageCount < 0 || d.State == TDocument::Finished) return false;
        const qint64 expected = qint64(std::min(Range.Last, d.Result.LastPage)) - std::max(Range.First, 1) + 1;
        return w.PagesInRange < std::max<qint64>(expected, 0);
    }

    // Worker w is gone (or to be dropped, for What it did): its range's
    // document fails at the page it was on, saying how the process ended.
    void Ended(TWorker& w, QString What = {}) {
        int status = 0;
        if (w.Fd >= 0) ::close(w.Fd);
        w.Fd = -1;
        if (!What.isEmpty()) ::kill(w.Pid, SIGKILL);
        while (::waitpid(w.Pid, &status, 0) < 0 && errno == EINTR) {
        }
        w.Pid = -1;
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
        if (!w.Ready && !w.Killed) {
            StartError = QStringLiteral("it ") + What;
            StartRefused();
        }
        if (w.Document >= 0 && !w.Killed) {
            TDocument& d = Documents[w.Document];
            TRange& range = d.Ranges[w.Range];
            range.State = TRange::Done;
            // A file cut short under a worker's mapping ends it with SIGBUS: the change is the news.
            Fail(w.Document, w.Counted ? std::max(range.First, 1) + w.PagesInRange : 0,
                 Changed(d) ? ChangedMessage() : !told.isEmpty() ? told : QStringLiteral("its worker process ") + What);
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
        for (int doc = FirstActive; doc < NextWaiting; ++doc) {
            TDocument& d = Documents[doc];
            if (d.State != TDocument::Running || now < d.Deadline) continue;
            for (TWorker& w : Workers)
                if (w.Document == doc && !w.Killed) {
                    w.Killed = true;
                    ::kill(w.Pid, SIGKILL);
                }
            d.ErrorPage = -1;  // before everything else
            d.Error = TimeLimitMessage(TimeLimit);
            Finish(doc);
        }
    }

    int PollTimeout() const {
        const Clock::time_point now = Clock::now();
        Clock::duration least = Clock::duration::max();
        for (const TWorker& w : Workers)
            if (w.Fd >= 0 && w.Document >= 0 && !w.Killed) least = std::min(least, w.Heard + Silence() - now);
        if (now < NextStart) least = std::min(least, NextStart - now);
        if (TimeLimit > 0)
            for (int doc = FirstActive; doc < NextWaiting; ++doc)
                if (Documents[doc].State == TDocument::Running) least = std::min(least, Documents[doc].Deadline - now);
        if (least == Clock::duration::max()) return -1;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(least).count();
        return int(std::clamp<long long>(ms, 0, INT_MAX));
    }

    // Cancel's effect: the workers killed (their ends are no news), every
    // document not yet finished failed.
    void CancelAll() {
        for (TWorker& w : Workers)
            if (w.Pid > 0 && !w.Killed) {
                w.Killed = true;
                ::kill(w.Pid, SIGKILL);
            }
        for (int doc = FirstActive; doc < Documents.size(); ++doc) Fail(doc, -1, QStringLiteral("cancelled"), true);
    }

    void Loop() {
        while (Unfinished > 0) {
            if (Cancelled) {
                CancelAll();
                return;
            }
            Workers.remove_if([](const TWorker& w) { return w.Fd < 0 && w.Pid < 0; });
            const int waiting = AssignAll();
            if (waiting > 0) StartWorkers(waiting);
            if (Unfinished == 0) break;  // the last documents failed to open
            if (Workers.empty()) {
                // Nothing runs: wait for the next attempt to start one, or,
                // after the last, fail what is left.
                if (StartFailures > 0 && StartFailures < StartAttempts) {
                    std::this_thread::sleep_until(NextStart);
                    continue;
                }
                if (StartError.isEmpty()) StartError = QStringLiteral("no worker process");
                for (int doc = 0; doc < Documents.size(); ++doc)
                    Fail(doc, 0, QStringLiteral("cannot start a worker process: %1").arg(StartError), true);
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

TWorkerPool::TWorkerPool(int Jobs, double TimeLimit, const QString& Program) : F(std::make_unique<TState>()) {
    F->Jobs = std::max(Jobs, 1);
    F->TimeLimit = TimeLimit > 0 && TimeLimit < LongestTimeLimit ? TimeLimit : 0;
    const QString program = Program == QLatin1String("/proc/self/exe") ? OwnProgramPath() : Program;
    F->Program = EncodeName(program);
    F->ProgramName = QFile::encodeName(QFileInfo(program).canonicalFilePath());
    if (F->ProgramName.isEmpty()) F->ProgramName = F->Program;
    F->Environment = WorkerEnvironment();
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
    F->Documents.clear();
    F->Events = &Events;
    F->Unfinished = int(Jobs.size());
    F->StartError.clear();
    F->StartFailures = 0;
    F->FirstActive = F->NextWaiting = 0;
    for (const TDocumentJob& job : Jobs) {
        TState::TDocument& d = F->Documents.emplace_back();
        d.Job = job;
        d.Sizes = RangeSizes(job.Ocr.Mode);
        struct stat status {};
        if (job.Descriptor >= 0 ? ::fstat(job.Descriptor, &status) == 0
                                : ::stat(EncodeName(job.FileName).constData(), &status) == 0)
            d.Size = status.st_size;
        const int first = std::max(job.FirstPage, 1);
        const int last = int(std::min<qint64>(job.LastPage, qint64(first) + d.Sizes.First - 1));
        d.Ranges.append({first, last});
    }
    for (TState::TWorker& w : F->Workers) w.OpenDocument = -1;
    F->Loop();
    F->Events = nullptr;
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
