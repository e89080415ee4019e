// The worker pool's schedule on its own, its workers simulated by what the
// pool passes on from real ones: every page reaches the Page event once and in
// page order however the ranges are done, with the pages held bounded by the
// window; the lowest failing page wins once the pages before it are in; and a
// document that workers see differently, or whose file changes, fails.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

#include "convert/PageSchedule.h"
#include "support/PdfBuilder.h"

using namespace kestrune;
using testing_support::WriteFile;

namespace {

QByteArray TextOf(int Page) { return "page " + QByteArray::number(Page); }

// What the events reported for document 0.
struct TRecord {
    QList<int> Pages;  // handed to the Page event, in the order they came
    int BytesWrong = 0;
    int Finished = 0;
    TJobResult Result;

    TWorkerPool::TEvents Events() {
        TWorkerPool::TEvents events;
        events.Page = [this](int, int page, const QByteArray& bytes) {
            Pages.append(page);
            BytesWrong += bytes != TextOf(page);
        };
        events.Finished = [this](int, const TJobResult& result) {
            ++Finished;
            Result = result;
        };
        return events;
    }
};

// A worker as the pool passes it on: it takes the next range of document 0
// that the schedule lets out, reports the page count, then its pages in order.
struct TSimulatedWorker {
    TPageSchedule* Schedule;
    int Range = -1;
    int Next = 0;  // the next page of its range to report
    int Pages = 0;
    bool Counted = false;

    bool Take() {
        const int r = Schedule->Assignable(0);
        if (r < 0) return false;
        EXPECT_TRUE(Schedule->Give(0, r));
        Range = r;
        Next = Schedule->Range(0, r).First;
        Pages = 0;
        Counted = false;
        return true;
    }
    void Count(int PageCount) {
        Schedule->PageCountArrived(0, PageCount);
        Counted = true;
    }
    // Reports the next page; false when the range has none left.
    bool Page() {
        if (Next > Schedule->Range(0, Range).Last) return false;
        Schedule->PageArrived(0, Next, TextOf(Next), {});
        ++Next;
        ++Pages;
        return true;
    }
    void Done() {
        Schedule->RangeDone(0, Range);
        if (Schedule->ShortOf(0, Range, Pages)) Schedule->Fail(0, 0, TPageSchedule::ChangedMessage(), true);
        else Schedule->Check(0);
        Range = -1;
    }
    void Error(const QString& Message) {
        Schedule->RangeDone(0, Range);
        Schedule->Fail(0, Next, Message);
        Range = -1;
    }
};

std::vector<TSimulatedWorker> Workers(TPageSchedule& Schedule, int Count) {
    return std::vector<TSimulatedWorker>(Count, TSimulatedWorker{&Schedule});
}

// Runs document 0 to its end, a worker drawn at random at each turn, the
// first one a tenth as often as each other (a slow page, a busy machine), so
// that the others run ahead of it. Returns the most pages held at once, and
// the largest range given out in Largest.
qsizetype RunToEnd(TPageSchedule& Schedule, std::vector<TSimulatedWorker>& Workers, int PageCount, unsigned Seed,
                   int* Largest = nullptr) {
    std::mt19937 random(Seed);
    std::vector<double> weights(Workers.size(), 10);
    weights[0] = 1;
    std::discrete_distribution<int> slowFirst(weights.begin(), weights.end());
    qsizetype held = 0;
    for (qint64 turn = 0; !Schedule.Finished(0); ++turn) {
        if (turn > 100 * qint64(PageCount)) {
            ADD_FAILURE() << "the document never finished";
            break;
        }
        TSimulatedWorker& w = Workers[slowFirst(random)];
        if (w.Range < 0) {
            w.Take();
        } else if (!w.Counted) {
            w.Count(PageCount);
            if (Largest) *Largest = std::max(*Largest, Schedule.Range(0, w.Range).Last - w.Next + 1);
        } else if (!w.Page()) {
            w.Done();
        }
        held = std::max(held, Schedule.HeldPages(0));
    }
    return held;
}

class PageSchedule : public testing::Test {
protected:
    TDocumentJob Job() {
        TDocumentJob job;
        job.FileName = WriteFile(Dir.filePath("a.pdf"), "%PDF-1.4 as the workers find it");
        return job;
    }

    QTemporaryDir Dir;
    TRecord Record;
    TWorkerPool::TEvents Events = Record.Events();
};

TEST_F(PageSchedule, MillionPagesOutOfOrderComeOnceInPageOrder) {
    constexpr int Pages = 1'000'000;
    constexpr int Jobs = 4;
    TPageSchedule schedule({Job()}, Events, Jobs, 0);
    std::vector<TSimulatedWorker> workers = Workers(schedule, Jobs);
    int largest = 0;
    const qsizetype held = RunToEnd(schedule, workers, Pages, 7, &largest);

    ASSERT_EQ(Record.Pages.size(), Pages);
    for (int i = 0; i < Pages; ++i)
        if (Record.Pages[i] != i + 1) FAIL() << "page " << Record.Pages[i] << " handed on at " << i + 1;
    EXPECT_EQ(Record.BytesWrong, 0);
    EXPECT_EQ(Record.Finished, 1);
    EXPECT_FALSE(Record.Result.Failed) << Record.Result.Error.toStdString();
    EXPECT_EQ(Record.Result.PageCount, Pages);
    EXPECT_EQ(Record.Result.PagesWritten, Pages);
    EXPECT_EQ(schedule.Unfinished(), 0);
    // Pages came early (the workers ran ahead), but never more than the
    // ranges of the window hold.
    EXPECT_GT(held, 0);
    EXPECT_LE(held, qsizetype(schedule.Window()) * largest);
}

// Two workers fail on later ranges, in either order, while the first range is
// still out: the lower page's error is the document's, told once the pages
// before it are in, and no range past it is given out meanwhile.
TEST_F(PageSchedule, LowestFailingPageWinsOnceThePagesBeforeItAreIn) {
    for (const bool lowerFirst : {true, false}) {
        SCOPED_TRACE(lowerFirst ? "lower page fails first" : "higher page fails first");
        Record = {};
        TPageSchedule schedule({Job()}, Events, 3, 0);
        std::vector<TSimulatedWorker> workers = Workers(schedule, 3);
        TSimulatedWorker& first = workers[0];
        TSimulatedWorker& lower = workers[1];
        TSimulatedWorker& higher = workers[2];
        ASSERT_TRUE(first.Take());
        first.Count(100);
        ASSERT_TRUE(lower.Take());
        ASSERT_TRUE(higher.Take());
        lower.Count(100);
        higher.Count(100);
        const int failing = schedule.Range(0, lower.Range).First + 2;
        lower.Page();
        lower.Page();
        higher.Page();
        if (lowerFirst) lower.Error("lower");
        higher.Error("higher");
        if (!lowerFirst) lower.Error("lower");

        EXPECT_EQ(schedule.Assignable(0), -1);
        EXPECT_EQ(Record.Finished, 0);
        while (first.Page()) {
        }
        EXPECT_EQ(Record.Finished, 1);
        EXPECT_TRUE(Record.Result.Failed);
        EXPECT_EQ(Record.Result.Error, "lower");
        EXPECT_EQ(Record.Result.PagesWritten, failing - 1);
        QList<int> before(failing - 1);
        std::iota(before.begin(), before.end(), 1);
        EXPECT_EQ(Record.Pages, before);
        first.Done();
        EXPECT_EQ(Record.Finished, 1);
    }
}

// The second worker meets a document other than the one the first one
// converted: the document fails as changed, whatever pages were fine.
TEST_F(PageSchedule, DocumentThatChangesFails) {
    const std::vector<std::pair<const char*, std::function<void(TSimulatedWorker&, const QString&)>>> cases = {
        {"page counts differ", [](TSimulatedWorker& w, const QString&) { w.Count(39); }},
        {"a range ends short of the count",
         [](TSimulatedWorker& w, const QString&) {
             w.Count(40);
             w.Done();
         }},
        {"the file is written to",
         [](TSimulatedWorker& w, const QString& File) {
             w.Count(40);
             QFile file(File);
             ASSERT_TRUE(file.open(QIODevice::Append));
             file.write(" and more");
         }},
        {"the name is given to another file",
         [this](TSimulatedWorker& w, const QString& File) {
             w.Count(40);
             const QString other = WriteFile(Dir.filePath("other.pdf"), "%PDF-1.4 as the workers find it");
             ASSERT_EQ(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(File).constData()), 0);
         }},
    };
    for (const auto& [name, change] : cases) {
        SCOPED_TRACE(name);
        Record = {};
        const TDocumentJob job = Job();
        TPageSchedule schedule({job}, Events, 2, 0);
        std::vector<TSimulatedWorker> workers = Workers(schedule, 2);
        ASSERT_TRUE(workers[0].Take());
        workers[0].Count(40);
        while (workers[0].Page()) {
        }
        workers[0].Done();
        ASSERT_TRUE(workers[1].Take());
        change(workers[1], job.FileName);
        RunToEnd(schedule, workers, 40, 1);

        EXPECT_EQ(Record.Finished, 1);
        EXPECT_TRUE(Record.Result.Failed);
        EXPECT_EQ(Record.Result.Error, TPageSchedule::ChangedMessage());
    }
}

}  // namespace
