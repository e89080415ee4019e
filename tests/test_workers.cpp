// kestrune-text's worker processes, driven through the pool with the built
// program as the worker, and with workers forked from this process (as
// kestrune-text's own are): split conversions against a single process, the
// order of errors, and failures that cost one document only.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <map>

#include "convert/Conversion.h"
#include "convert/WorkerPool.h"
#include "convert/WorkerProcesses.h"
#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"

using namespace kestrune;
using testing_support::SlowTextPdf;
using testing_support::VariedTextPdf;
using testing_support::WriteFile;

namespace {

// What a run reported for each document.
struct TOutcome {
    QByteArray Bytes;  // the pages handed on, in the order they came
    QList<int> Pages;
    TJobResult Result;
    bool Finished = false;
};

QMap<int, TOutcome> RunPool(TWorkerPool& Pool, const QList<TDocumentJob>& Jobs,
                            const std::function<void(int Job, int PagesDone)>& Progress = {}) {
    QMap<int, TOutcome> outcomes;
    TWorkerPool::TEvents events;
    events.Page = [&](int job, int page, const QByteArray& bytes) {
        outcomes[job].Bytes += bytes;
        outcomes[job].Pages.append(page);
    };
    events.Progress = Progress;
    events.Finished = [&](int job, const TJobResult& result) {
        EXPECT_FALSE(outcomes[job].Finished) << "finished twice: " << job;
        outcomes[job].Result = result;
        outcomes[job].Finished = true;
    };
    Pool.Run(Jobs, events);
    for (int job = 0; job < Jobs.size(); ++job) EXPECT_TRUE(outcomes[job].Finished) << job;
    return outcomes;
}

TDocumentJob Job(const QString& File) {
    TDocumentJob job;
    job.FileName = File;
    return job;
}

// The pages of a single process's text file, without the byte-order mark.
QByteArray SingleProcessBytes(const QString& File) {
    TFPdf pdf;
    const TTextFile text = ReadTextFile(pdf, File);
    pdf.SetActive(false);
    return text.Bytes().mid(3);
}

QByteArray ReadCommandLine(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class WorkerFiles : public testing::Test {
protected:
    QString Write(const QString& Name, const QByteArray& Bytes) { return WriteFile(FDir.filePath(Name), Bytes); }
    QTemporaryDir FDir;
};

// Each case twice: workers that are the program executed, and workers forked
// from this (single-threaded) process.
class Workers : public WorkerFiles, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override { AllowForkedWorkers(Forked()); }
    void TearDown() override { AllowForkedWorkers(false); }
    static bool Forked() { return GetParam(); }
    // The pool's program.
    static QString Program() {
        return Forked() ? QStringLiteral("/proc/self/exe") : QStringLiteral(KESTRUNE_TEXT_PROGRAM);
    }
};

INSTANTIATE_TEST_SUITE_P(, Workers, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& Info) { return Info.param ? "Forked" : "Executed"; });

TEST_P(Workers, SplitConversionIsByteIdenticalToASingleProcess) {
    const QString file = Write("varied.pdf", VariedTextPdf(400));
    const QByteArray expected = SingleProcessBytes(file);
    QList<int> inOrder;
    for (int page = 1; page <= 400; ++page) inOrder.append(page);
    for (int jobs : {1, 3}) {
        TWorkerPool pool(jobs, 0, Program());
        const auto outcomes = RunPool(pool, {Job(file)});
        EXPECT_FALSE(outcomes[0].Result.Failed) << outcomes[0].Result.Error.toStdString();
        EXPECT_EQ(outcomes[0].Result.PageCount, 400);
        EXPECT_EQ(outcomes[0].Pages, inOrder) << jobs;
        EXPECT_TRUE(outcomes[0].Bytes == expected) << jobs;
        if (jobs > 1) {
            EXPECT_EQ(pool.WorkerProcesses().size(), jobs) << "the document was not spread";
        }
        // Forked workers are this process's copies (its command line), not a
        // program started afresh in its worker mode.
        for (const pid_t worker : pool.WorkerProcesses())
            EXPECT_EQ(ReadCommandLine(QStringLiteral("/proc/%1/cmdline").arg(worker)) == ReadCommandLine("/proc/self/cmdline"),
                      Forked());
    }

    // A page range, and several files spread over the workers.
    TWorkerPool pool(2, 0, Program());
    const QString small = Write("small.pdf", VariedTextPdf(3));
    TDocumentJob range = Job(file);
    range.FirstPage = 250;
    range.LastPage = 1000;
    const auto outcomes = RunPool(pool, {Job(small), range, Job(file)});
    EXPECT_EQ(outcomes[0].Bytes, SingleProcessBytes(small));
    EXPECT_EQ(outcomes[1].Result.FirstPage, 250);
    EXPECT_EQ(outcomes[1].Result.LastPage, 400);
    EXPECT_TRUE(outcomes[1].Bytes == expected.mid(expected.indexOf("Page 250, line 0")));
    EXPECT_TRUE(outcomes[2].Bytes == expected);
}

// No worker without a range to give it: a one-page file runs one worker,
// however large the file and however many workers are allowed, and a batch
// of two small files two.
TEST_P(Workers, NoWorkerWithoutARange) {
    // One page, and some megabytes of a stream that nothing uses.
    testing_support::PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int page = b.AddTextPage(pages, font, b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (One) Tj ET"));
    b.AddStream("<< >>", QByteArray(4 << 20, 'x'));
    b.SetPageTree(catalog, pages, {page});
    const QString large = Write("large.pdf", b.Build(catalog));
    const QString small = Write("small.pdf", VariedTextPdf(3));
    const struct {
        QList<TDocumentJob> Jobs;
        qsizetype Workers;
    } cases[] = {{{Job(large)}, 1}, {{Job(large), Job(small)}, 2}};
    for (const auto& c : cases) {
        TWorkerPool pool(4, 0, Program());
        qsizetype most = 0;
        const auto outcomes = RunPool(pool, c.Jobs, [&](int, int) { most = std::max(most, pool.WorkerProcesses().size()); });
        for (const TOutcome& outcome : outcomes) EXPECT_FALSE(outcome.Result.Failed) << outcome.Result.Error.toStdString();
        EXPECT_EQ(most, c.Workers);
        EXPECT_EQ(pool.WorkerProcesses().size(), c.Workers);
    }
}

// The error a single process meets first: the open error, else the lowest
// failing page, wherever the workers met them.
TEST_P(Workers, ErrorOrderAcrossWorkers) {
    struct Case {
        QList<int> broken;
        QString error;
    };
    const Case cases[] = {
        {{350}, "Cannot open page 350"},
        {{90, 350}, "Cannot open page 90"},
        {{380, 5}, "Cannot open page 5"},
    };
    TWorkerPool pool(3, 0, Program());
    QList<TDocumentJob> jobs;
    for (const Case& c : cases) jobs.append(Job(Write(QString::number(jobs.size()) + ".pdf", VariedTextPdf(400, c.broken))));
    jobs.append(Job(Write("not-a-pdf.pdf", "junk")));
    const auto outcomes = RunPool(pool, jobs);
    for (int i = 0; i < int(std::size(cases)); ++i) {
        EXPECT_TRUE(outcomes[i].Result.Failed);
        EXPECT_EQ(outcomes[i].Result.Error, cases[i].error);
        // Pages come in order and stop before the failing one.
        EXPECT_LT(outcomes[i].Pages.size(), *std::min_element(cases[i].broken.begin(), cases[i].broken.end()));
    }
    EXPECT_EQ(outcomes[3].Result.Error, "File not in PDF format or corrupted");
    EXPECT_EQ(outcomes[3].Result.PageCount, -1);
}

TEST_P(Workers, AKilledWorkerCostsOnlyItsDocument) {
    const QString big = Write("big.pdf", VariedTextPdf(400));
    const QString small = Write("small.pdf", VariedTextPdf(5));
    // -j 1 runs one worker too; it is killed in the middle of the first document.
    TWorkerPool pool(1, 0, Program());
    const auto outcomes = RunPool(pool, {Job(big), Job(small)}, [&](int job, int done) {
        if (job == 0 && done == 20) {
            ASSERT_EQ(pool.WorkerProcesses().size(), 1);
            ::kill(pool.WorkerProcesses()[0], SIGKILL);
        }
    });
    EXPECT_TRUE(outcomes[0].Result.Failed);
    EXPECT_EQ(outcomes[0].Result.Error, "its worker process was ended by signal SIGKILL (Killed)") << outcomes[0].Result.Error.toStdString();
    EXPECT_FALSE(outcomes[1].Result.Failed);
    EXPECT_EQ(outcomes[1].Bytes, SingleProcessBytes(small));
}

TEST_P(Workers, ATimeLimitCostsOnlyItsDocument) {
    const QString big = Write("big.pdf", SlowTextPdf(200));
    const QString small = Write("small.pdf", VariedTextPdf(2));
    for (int jobs : {1, 2}) {
        TWorkerPool pool(jobs, 0.5, Program());
        const auto outcomes = RunPool(pool, {Job(big), Job(small)});
        EXPECT_TRUE(outcomes[0].Result.Failed);
        EXPECT_EQ(outcomes[0].Result.Error, "time limit reached (0.5 s)");
        EXPECT_FALSE(outcomes[1].Result.Failed) << outcomes[1].Result.Error.toStdString();
        EXPECT_EQ(outcomes[1].Bytes, SingleProcessBytes(small));
    }
}

TEST_F(WorkerFiles, AProgramThatCannotServeFailsEachDocument) {
    TWorkerPool pool(2, 0, QStringLiteral("/bin/false"));
    const auto outcomes = RunPool(pool, {Job(Write("a.pdf", VariedTextPdf(1))), Job(Write("b.pdf", VariedTextPdf(1)))});
    for (int job : {0, 1}) {
        EXPECT_TRUE(outcomes[job].Result.Failed);
        EXPECT_EQ(outcomes[job].Result.Error, "cannot start a worker process: it ended with exit status 1");
    }
}

}  // namespace
