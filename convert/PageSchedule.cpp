#include "convert/PageSchedule.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>

#include "convert/Conversion.h"
#include "convert/FileNames.h"
#include "convert/SafeFiles.h"

namespace kestrune {

namespace {

// The first range of a document, done before its page count is known.
constexpr int FirstRangePages = 16;
// Later ranges: each a share of what is left (1 / (RangeShare x workers)), so
// they shrink towards the end and the last ones leave little idle time,
// within these bounds.
constexpr int RangeShare = 2;
constexpr int MinRangePages = 8;
constexpr int MaxRangePages = 64;

// The message of the exception that an event raised.
QString Raised() { return ErrorMessage(std::current_exception()); }

}  // namespace

// Recognising a page takes a second or more, against a millisecond for its
// text: where pages may be recognised, ranges are short so that the workers
// share even a short scanned document; where all are, one page each.
TPageSchedule::TRangeSizes TPageSchedule::RangeSizes(TOcrMode Mode) {
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

TPageSchedule::TFileIdentity TPageSchedule::IdentityOf(const struct stat& Status) {
    return TFileIdentity{Status.st_dev, Status.st_ino, Status.st_size, Status.st_mtim};
}

TPageSchedule::TPageSchedule(const QList<TDocumentJob>& Jobs, const TWorkerPool::TEvents& Events, int Workers,
                             double TimeLimit)
    : FEvents(&Events), FWorkers(Workers), FTimeLimit(TimeLimit), FUnfinished(int(Jobs.size())) {
    for (const TDocumentJob& job : Jobs) {
        TDocument& d = FDocuments.emplace_back();
        d.Job = job;
        d.Sizes = RangeSizes(job.Ocr.Mode);
        const int first = std::max(job.FirstPage, 1);
        const int last = int(std::min<qint64>(job.LastPage, qint64(first) + d.Sizes.First - 1));
        d.Ranges.append({first, last});
    }
}

TPageSchedule::~TPageSchedule() = default;

void TPageSchedule::SkipPast() {
    while (FNextWaiting < FDocuments.size() && FDocuments[FNextWaiting].State != TDocument::Waiting) ++FNextWaiting;
    while (FFirstActive < FNextWaiting && FDocuments[FFirstActive].State == TDocument::Finished) ++FFirstActive;
}

void TPageSchedule::CallEvent(int Doc, const std::function<void()>& Event) {
    if (AroundEvent) AroundEvent(Doc, Event);
    else Event();
}

// --- ranges -------------------------------------------------------------

// Ranges are given out in page order and never return to waiting, and
// NextPage only grows: both indices move forward, so that finding a
// document's next range costs the same however many it has.
void TPageSchedule::Advance(TDocument& d) const {
    while (d.NextRange < d.Ranges.size() && d.Ranges[d.NextRange].State != TRange::Waiting) ++d.NextRange;
    while (d.CurrentRange + 1 < d.Ranges.size() && d.Ranges[d.CurrentRange].Last < d.NextPage) ++d.CurrentRange;
}

int TPageSchedule::Assignable(int Doc) {
    TDocument& d = FDocuments[Doc];
    if (d.State == TDocument::Finished) return -1;
    Advance(d);
    const int r = d.NextRange;
    if (r >= d.Ranges.size() || d.Ranges[r].First > d.ErrorPage) return -1;  // past a failure: never needed
    return r <= d.CurrentRange + Window() ? r : -1;
}

int TPageSchedule::AssignableCount(int Doc) {
    if (Assignable(Doc) < 0) return 0;
    const TDocument& d = FDocuments[Doc];
    int last = std::min(int(d.Ranges.size()) - 1, d.CurrentRange + Window());
    while (last >= d.NextRange && d.Ranges[last].First > d.ErrorPage) --last;
    return std::max(0, last - d.NextRange + 1);
}

bool TPageSchedule::Give(int Doc, int R) {
    if (!OpenFile(Doc)) return false;
    TDocument& d = FDocuments[Doc];
    d.Ranges[R].State = TRange::Running;
    if (d.State == TDocument::Waiting) {
        d.State = TDocument::Running;
        d.Started = Clock::now();
        if (FTimeLimit > 0)
            d.Deadline = d.Started + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(std::min(FTimeLimit, LongestTimeLimit)));
    }
    return true;
}

bool TPageSchedule::ShortOf(int Doc, int R, int Pages) const {
    const TDocument& d = FDocuments[Doc];
    if (d.Result.PageCount < 0 || d.State == TDocument::Finished) return false;
    const TRange& range = d.Ranges[R];
    const qint64 expected = qint64(std::min(range.Last, d.Result.LastPage)) - std::max(range.First, 1) + 1;
    return Pages < std::max<qint64>(expected, 0);
}

// --- the document's file ------------------------------------------------

// Opens d's file for the workers, once; a failure fails the document.
bool TPageSchedule::OpenFile(int Doc) {
    TDocument& d = FDocuments[Doc];
    if (d.Fd >= 0) return true;
    int fd = d.Job.Descriptor;
    if (fd < 0) {
        d.File = std::make_shared<TDescriptor>(::open(EncodeName(d.Job.FileName).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
        if (!d.File->IsOpen()) {
            Fail(Doc, 0, errno == ENOENT ? QStringLiteral("No such file") : SystemMessage(errno), true);
            return false;
        }
        fd = d.File->Get();
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        Fail(Doc, 0, SystemMessage(errno), true);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        // A pipe or device cannot be read by several workers: read once into a file.
        try {
            d.File = std::make_shared<TDescriptor>(SpoolToUnnamedFile(fd, ShownName(d.Job.FileName)));
        } catch (const std::exception&) {
            Fail(Doc, 0, Raised(), true);
            return false;
        }
        fd = d.File->Get();
        ::fstat(fd, &status);
    }
    d.Fd = fd;
    d.Opened = IdentityOf(status);
    return true;
}

bool TPageSchedule::Changed(int Doc) const {
    const TDocument& d = FDocuments[Doc];
    if (!d.Opened || d.Fd < 0) return false;
    struct stat now {};
    if (::fstat(d.Fd, &now) != 0 || !(IdentityOf(now) == *d.Opened)) return true;
    if (d.Job.Descriptor >= 0) return false;  // the caller's file has no name to check
    struct stat named {};
    return ::stat(EncodeName(d.Job.FileName).constData(), &named) != 0 || named.st_dev != now.st_dev ||
           named.st_ino != now.st_ino;
}

// --- what the workers report --------------------------------------------

void TPageSchedule::PageCountArrived(int Doc, int Count) {
    TDocument& d = FDocuments[Doc];
    if (d.State == TDocument::Finished) return;
    if (d.Result.PageCount >= 0) {
        // Workers that see different documents: the file was replaced or rewritten.
        if (Count != d.Result.PageCount) Fail(Doc, 0, ChangedMessage(), true);
        return;
    }
    d.Result.PageCount = Count;
    d.Result.FirstPage = std::max(d.Job.FirstPage, 1);
    d.Result.LastPage = std::min(d.Job.LastPage, Count);
    d.NextPage = d.Result.FirstPage;
    if (d.Result.FirstPage > d.Result.LastPage) {
        // Nothing to convert; the worker's range ends without pages.
        Finish(Doc);
        return;
    }
    try {
        CallEvent(Doc, [&] {
            if (FEvents->Started) FEvents->Started(Doc, Count, d.Result.FirstPage, d.Result.LastPage);
        });
    } catch (...) {
        Fail(Doc, d.NextPage, Raised(), true);
        return;
    }
    TRange& first = d.Ranges[0];
    first.Last = std::min(first.Last, d.Result.LastPage);
    for (qint64 page = qint64(first.Last) + 1; page <= d.Result.LastPage;) {
        const qint64 rest = d.Result.LastPage - page + 1;
        const qint64 size = FWorkers == 1 ? rest
                                          : std::clamp<qint64>((rest + FWorkers * RangeShare - 1) / (FWorkers * RangeShare),
                                                               d.Sizes.Min, d.Sizes.Max);
        d.Ranges.append({int(page), int(std::min<qint64>(d.Result.LastPage, page + size - 1))});
        page += size;
    }
}

void TPageSchedule::PageArrived(int Doc, int Page, QByteArray Bytes, const TPageFacts& Facts) {
    TDocument& d = FDocuments[Doc];
    if (d.State == TDocument::Finished) return;
    ++d.PagesDone;
    // Counted on arrival: a document that fails reports none of them.
    d.Result.PagesWithoutText += Facts.Textless;
    d.Result.Recognition.Add(Page, Facts);
    if (FEvents->Progress) FEvents->Progress(Doc, d.PagesDone);
    if (Page != d.NextPage) {
        d.Early.emplace(Page, std::move(Bytes));
        return;
    }
    try {
        CallEvent(Doc, [&] {
            for (;;) {
                if (FEvents->Page) FEvents->Page(Doc, d.NextPage, Bytes);
                ++d.Result.PagesWritten;
                ++d.NextPage;
                const auto next = d.Early.find(d.NextPage);
                if (next == d.Early.end()) break;
                Bytes = std::move(next->second);
                d.Early.erase(next);
            }
        });
    } catch (...) {
        Fail(Doc, d.NextPage, Raised(), true);
        return;
    }
    Check(Doc);
}

void TPageSchedule::Fail(int Doc, int Page, const QString& Message, bool Final) {
    TDocument& d = FDocuments[Doc];
    if (d.State == TDocument::Finished) return;
    if (Page < d.ErrorPage) {
        d.ErrorPage = Page;
        d.Error = Message;
    }
    if (Final) Finish(Doc);
    else Check(Doc);
}

void TPageSchedule::Check(int Doc) {
    const TDocument& d = FDocuments[Doc];
    if (d.NextPage >= d.ErrorPage || (d.Result.PageCount >= 0 && d.NextPage > d.Result.LastPage)) Finish(Doc);
}

void TPageSchedule::Finish(int Doc) {
    TDocument& d = FDocuments[Doc];
    if (d.State == TDocument::Finished) return;
    const bool started = d.State == TDocument::Running;
    d.State = TDocument::Finished;
    d.Early.clear();
    if (d.ErrorPage == INT_MAX && Changed(Doc)) {
        d.ErrorPage = 0;
        d.Error = ChangedMessage();
    }
    d.Result.Failed = d.ErrorPage != INT_MAX;
    d.Result.Error = d.Error;
    d.File.reset();
    d.Fd = -1;
    if (started)
        d.Result.Seconds = std::chrono::duration<double>(Clock::now() - d.Started).count();
    --FUnfinished;
    CallEvent(Doc, [&] {
        if (FEvents->Finished) FEvents->Finished(Doc, d.Result);
    });
}

// --- deadlines ----------------------------------------------------------

void TPageSchedule::Postpone(int Doc, Clock::duration Spent) {
    for (int doc = FFirstActive; doc < FNextWaiting; ++doc)
        if (doc != Doc && FDocuments[doc].State == TDocument::Running) FDocuments[doc].Deadline += Spent;
}

}  // namespace kestrune
