// kestrune-text never hangs and holds within the machine's limits: stalled
// outputs and silent workers meet a time limit, a file that changes under a
// run fails, option values are checked for range, scheduling stays linear in
// the pages, refused starts are retried, and closed standard descriptors,
// a missing /proc, a file-descriptor limit and a memory limit are met.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <thread>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/WorkerPool.h"
#include "convert/WorkerProcesses.h"
#include "support/PdfBuilder.h"
#include "support/ProgramRun.h"
#include "support/ScannedPdf.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::PdfBuilder;
using testing_support::ProgramRun;
using testing_support::ReadAll;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::BigImagePdf;
using testing_support::OversizedJbig2Pdf;
using testing_support::OversizedJpxPdf;
using testing_support::SimpleTextPdf;
using testing_support::SlowTextPdf;
using testing_support::VariedTextPdf;
using testing_support::WriteFile;

namespace {

QByteArray TextOf(const QByteArray& Word) { return "\xEF\xBB\xBF" + Word + "\r\n"; }

// A document of 2^Levels pages, each the same page, through a tree whose
// every node lists one shared child twice: a few hundred bytes for any count.
QByteArray SharedPagesPdf(int Levels) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int content = b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (Same) Tj ET");
    int node = b.Add("<< /Type /Page /MediaBox [0 0 612 792] /Contents " + testing_support::Ref(content) +
                     " /Resources << /Font << /F1 " + testing_support::Ref(font) + " >> >> >>");
    for (int level = 1; level <= Levels; ++level)
        node = b.Add("<< /Type /Pages /Kids [" + testing_support::Ref(node) + " " + testing_support::Ref(node) +
                     "] /Count " + QByteArray::number(1 << level) + " >>");
    b.Set(catalog, "<< /Type /Catalog /Pages " + testing_support::Ref(node) + " >>");
    return b.Build(catalog);
}

class RunLimits : public testing::Test {
protected:
    QString Path(const QString& Name) const { return FDir.filePath(Name); }
    QString Write(const QString& Name, const QByteArray& Content) const { return WriteFile(Path(Name), Content); }

    // Program, or kestrune-text, in the test's folder.
    RunResult Run(const QString& Program, const QStringList& Arguments,
                  const QProcessEnvironment& Environment = QProcessEnvironment::systemEnvironment()) {
        return RunProgram(Program, Arguments, {.WorkingDirectory = FDir.path(), .Environment = Environment});
    }
    RunResult Run(const QStringList& Arguments) { return Run(QStringLiteral(KESTRUNE_TEXT_PROGRAM), Arguments); }
    // Through the shell, for what QProcess cannot arrange (closed descriptors, limits, namespaces).
    RunResult Shell(const QString& Script, const QStringList& Arguments) {
        return Run("sh", QStringList{"-c", Script, QStringLiteral(KESTRUNE_TEXT_PROGRAM)} + Arguments);
    }

    QTemporaryDir FDir;
};

// A FIFO without a reader, and one whose reader never reads, count against
// --timeout and fail their document; one whose reader goes fails with the
// reason; the batch goes on each time.
TEST_F(RunLimits, StalledOutputsMeetTheTimeLimit) {
    const QByteArray big = VariedTextPdf(400);  // more text than a pipe holds
    Write("a.pdf", big);
    Write("b.pdf", SimpleTextPdf({{"B"}}));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("a.txt")).constData(), 0644), 0);

    QElapsedTimer clock;
    clock.start();
    RunResult r = Run({"-q", "--timeout", "2", "a.pdf", "b.pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: a.pdf: time limit reached (2 s)\n");
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_EQ(ReadAll(Path("b.txt")), TextOf("B"));

    // A one-page document beside it in a second worker: the time its
    // neighbour's output stalls the run is not charged to it.
    Write("c.pdf", SimpleTextPdf({{"C"}}));
    Write("slow.pdf", SlowTextPdf(10));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("c.txt")).constData(), 0644), 0);
    r = Run({"-q", "-j", "2", "--timeout", "2", "c.pdf", "slow.pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: c.pdf: time limit reached (2 s)\n");
    EXPECT_TRUE(QFile::exists(Path("slow.txt")));

    // A reader that holds the FIFO open and never reads.
    const int reader = ::open(QFile::encodeName(Path("a.txt")).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    r = Run({"-q", "--timeout", "2", "a.pdf", "b.pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: a.pdf: time limit reached (2 s)\n");

    // A reader that goes away once the pipe is full: that document fails, the run goes on.
    char drain[1 << 16];
    while (::read(reader, drain, sizeof drain) > 0) {
    }
    ProgramRun p(QStringLiteral(KESTRUNE_TEXT_PROGRAM), {"-q", "a.pdf", "b.pdf"}, {.WorkingDirectory = FDir.path()});
    // Until the pipe is full: what it holds stops growing.
    for (int queued = 0, before = -1, i = 0; i < 600 && (queued == 0 || queued != before); ++i) {
        before = queued;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::ioctl(reader, FIONREAD, &queued);
    }
    ::close(reader);
    r = p.Finish();
    ASSERT_TRUE(p.Ended());
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: a.pdf: Cannot write file \"a.txt\". Broken pipe\n");
    EXPECT_EQ(ReadAll(Path("b.txt")), TextOf("B"));
}

// What the pool reports for each document.
QMap<int, TJobResult> RunPool(TWorkerPool& Pool, const QList<TDocumentJob>& Jobs,
                              const std::function<void(int Job, int PagesDone)>& Progress = {}) {
    QMap<int, TJobResult> results;
    TWorkerPool::TEvents events;
    events.Progress = Progress;
    events.Finished = [&](int job, const TJobResult& result) { results[job] = result; };
    Pool.Run(Jobs, events);
    return results;
}

TDocumentJob Job(const QString& File) {
    TDocumentJob job;
    job.FileName = File;
    return job;
}

// An event that holds up the loop (a stalled output, say) costs its own
// document's time only: the other documents' deadlines move on by as much.
TEST_F(RunLimits, AStalledEventIsNotChargedToOtherDocuments) {
    // b ends while a's event holds the loop, its news read only after.
    const QList<TDocumentJob> jobs{Job(Write("a.pdf", SimpleTextPdf({{"A"}}))), Job(Write("b.pdf", SlowTextPdf(10)))};
    // A limit well above b's own time (under the sanitizers too), and a stall above the limit.
    TWorkerPool pool(2, 3, QStringLiteral(KESTRUNE_TEXT_PROGRAM));
    QMap<int, TJobResult> results;
    TWorkerPool::TEvents events;
    events.Page = [](int Job, int, const QByteArray&) {
        if (Job != 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(3500));
        throw std::runtime_error("stalled");
    };
    events.Finished = [&](int job, const TJobResult& result) { results[job] = result; };
    pool.Run(jobs, events);
    EXPECT_EQ(results[0].Error, "stalled");
    EXPECT_FALSE(results[1].Failed) << results[1].Error.toStdString();
}

// The workers' environment holds no password: it reaches them over their
// socket. Nor does a forked worker's, whose environment is the parent's.
TEST_F(RunLimits, WorkersGetNoPasswordInTheirEnvironment) {
    qputenv("KESTRUNE_PASSWORD", "secret");
    for (const bool forked : {false, true}) {
        AllowForkedWorkers(forked);
        TWorkerPool pool(1, 0, forked ? QStringLiteral("/proc/self/exe") : QStringLiteral(KESTRUNE_TEXT_PROGRAM));
        QByteArray environment;
        TWorkerPool::TEvents events;
        events.Progress = [&](int, int) {
            for (const pid_t pid : pool.WorkerProcesses())
                environment += ReadAll(QStringLiteral("/proc/%1/environ").arg(pid));
        };
        pool.Run({Job(Write("a.pdf", SimpleTextPdf({{"A"}})))}, events);
        AllowForkedWorkers(false);
        EXPECT_FALSE(environment.isEmpty()) << forked;
        // Tesseract's threads are limited where it can tell: workers that recognise are executed.
        if (!forked) {
            EXPECT_TRUE(environment.contains("OMP_THREAD_LIMIT=1"));
        }
        EXPECT_FALSE(environment.contains("secret")) << forked;
    }
    qunsetenv("KESTRUNE_PASSWORD");
}

// A worker ended by a signal the program itself handles (SIGTERM) ends as a
// worker does, failing its document: it has none of the program's handlers,
// which would remove the program's temporary files and end it as the program.
TEST_F(RunLimits, AWorkerTerminatedCostsOnlyItsDocument) {
    Write("slow.pdf", SlowTextPdf(400));
    Write("b.pdf", SimpleTextPdf({{"B"}}));
    ProgramRun p(QStringLiteral(KESTRUNE_TEXT_PROGRAM), {"-q", "-j", "1", "slow.pdf", "b.pdf"},
                 {.WorkingDirectory = FDir.path()});
    ASSERT_TRUE(p.Started());
    const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(p.Pid());
    if (!QFile::exists(children)) GTEST_SKIP() << "/proc does not list children here";
    pid_t worker = 0;
    for (int i = 0; i < 1000 && !worker; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        worker = ReadAll(children).trimmed().split(' ').value(0).toInt();
    }
    ASSERT_GT(worker, 0);
    // Well into slow.pdf, which takes it seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(worker, SIGTERM);
    const RunResult r = p.Finish();
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "kestrune-text: slow.pdf: its worker process was ended by signal SIGTERM (Terminated)\n");
    EXPECT_EQ(ReadAll(Path("b.txt")), TextOf("B"));
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList({"b.pdf", "b.txt", "slow.pdf"}));
}

// Inputs read and values echoed are bounded, and standard output is one
// destination: the report may take it, a closed one is a write error.
TEST_F(RunLimits, BoundedInputsAndStandardOutput) {
    Write("a.pdf", SimpleTextPdf({{"A"}}));
    struct Case {
        QString script;  // around the program, for descriptors QProcess cannot arrange
        QStringList arguments;
        int exitCode;
        QByteArray out;  // the start of standard output
        QByteArray err;  // the start of standard error
    };
    const QString run = QStringLiteral("exec \"$0\" \"$@\"");
    const Case cases[] = {
        {run + " 3</dev/zero", {"--password-fd", "3", "a.pdf"}, 2, "",
         "kestrune-text: the password from descriptor 3 is longer than 4096 bytes\n"},
        {run, {"--ocr-lang", QString(300, 'x'), "a.pdf"}, 2, "",
         "kestrune-text: option --ocr-lang takes at most 255 characters, not 300\n"},
        {run, {"-j", QString(100000, '9'), "a.pdf"}, 2, "",
         "kestrune-text: option -j needs a number from 1 to 2147483647, not '" + QByteArray(30, '9') + "..." +
             QByteArray(27, '9') + "'\n"},
        {run, {"-q", "--report", "-", "a.pdf"}, 0, "{\"input\":\"a.pdf\",\"output\":\"a.txt\",\"status\":\"converted\"", ""},
        {run, {"-q", "--report", "/dev/stdout", "a.pdf"}, 0, "{\"input\":\"a.pdf\"", ""},
        {run, {"--report", "-", "-o", "-", "a.pdf"}, 2, "",
         "kestrune-text: the report and the text of a.pdf cannot both go to standard output\n"},
        {run + " >&-", {"-o", "-", "a.pdf"}, 1, "", "kestrune-text: a.pdf: Cannot write to standard output. Bad file descriptor\n"},
        {run + " >&-", {"--version"}, 1, "", "kestrune-text: write error: Bad file descriptor\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = Run("sh", QStringList{"-c", c.script, QStringLiteral(KESTRUNE_TEXT_PROGRAM)} + c.arguments);
        const std::string shown = c.arguments.join(' ').left(40).toStdString();
        EXPECT_EQ(r.ExitCode, c.exitCode) << shown;
        EXPECT_TRUE(r.Out.startsWith(c.out)) << shown << ": " << r.Out.data();
        EXPECT_TRUE(r.Err.startsWith(c.err)) << shown << ": " << r.Err.data();
        EXPECT_LT(r.Err.size(), 400) << shown;
    }
}

// A file rewritten in place, or replaced under its name, while two workers
// read it: the document fails with a line, and the run ends.
TEST_F(RunLimits, AFileChangedDuringTheRunFails) {
    const QByteArray big = VariedTextPdf(400);
    const QByteArray small = VariedTextPdf(5);
    for (const bool inPlace : {true, false}) {
        const QString file = Write("changing.pdf", big);
        const QString other = Write("other.pdf", small);
        TWorkerPool pool(2, 0, QStringLiteral(KESTRUNE_TEXT_PROGRAM));
        bool changed = false;
        const auto results = RunPool(pool, {Job(file), Job(other)}, [&](int job, int done) {
            if (job != 0 || done < 40 || changed) return;
            changed = true;
            if (inPlace) {
                WriteFile(file, small);  // truncated and rewritten: the same inode
            } else {
                WriteFile(Path("new.pdf"), small);
                ASSERT_EQ(::rename(QFile::encodeName(Path("new.pdf")).constData(), QFile::encodeName(file).constData()), 0);
            }
        });
        ASSERT_TRUE(changed);
        EXPECT_TRUE(results[0].Failed) << inPlace;
        EXPECT_EQ(results[0].Error, "the file changed while it was read") << inPlace;
        EXPECT_FALSE(results[1].Failed) << results[1].Error.toStdString();
    }
}

// A worker that stops answering (here: stopped) fails its document after the
// silence limit, with no --timeout; a stopped idle worker does not hold the end.
TEST_F(RunLimits, AStoppedWorkerFailsItsDocument) {
    const QString big = Write("big.pdf", testing_support::SlowTextPdf(200));
    const QString small = Write("small.pdf", VariedTextPdf(3));
    auto pool = std::make_unique<TWorkerPool>(1, 0, QStringLiteral(KESTRUNE_TEXT_PROGRAM));
    pool->SetSilenceLimit(1);
    const auto results = RunPool(*pool, {Job(big), Job(small)}, [&](int job, int done) {
        if (job == 0 && done == 2) ::kill(pool->WorkerProcesses().value(0), SIGSTOP);
    });
    EXPECT_EQ(results[0].Error, "its worker process stopped answering (1 s without a word)");
    EXPECT_FALSE(results[1].Failed) << results[1].Error.toStdString();
    for (const pid_t worker : pool->WorkerProcesses()) ::kill(worker, SIGSTOP);
    pool.reset();  // returns: the idle stopped worker is woken, then killed if need be
}

// Option values are checked for range, and values at the edge of the range
// neither overflow nor fail every document.
TEST_F(RunLimits, OptionValuesAtTheirLimits) {
    Write("a.pdf", SimpleTextPdf({{"A"}}));
    struct Case {
        QStringList arguments;
        int exitCode;
        QByteArray err;
    };
    const Case cases[] = {
        {{"--timeout", "1e10", "a.pdf"}, 0, ""},
        {{"-f", "2147483633", "a.pdf"}, 1, "kestrune-text: a.pdf: no page in the range 2147483633 to the end; the document has 1 page\n"},
        {{"-f", "2147483648", "a.pdf"}, 2, "kestrune-text: option -f needs a page number from 1 to 2147483647, not '2147483648'\n"},
        {{"-j", "0", "a.pdf"}, 2, "kestrune-text: option -j needs a number from 1 to 2147483647, not '0'\n"},
        {{"--memory-limit", "1", "a.pdf"}, 2, "kestrune-text: option --memory-limit needs 0 (no limit) or a number of MB from 16 to 16777216, not '1'\n"},
        {{"--memory-limit", "0", "a.pdf"}, 0, ""},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(c.arguments);
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(r.Err.startsWith(c.err)) << r.Err.data();
    }
    const RunResult r = Run({"-j", "2147483647", "a.pdf"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_TRUE(r.Err.startsWith("kestrune-text: note: -j 2147483647 lowered to ")) << r.Err.data();
    EXPECT_EQ(ReadAll(Path("a.txt")), TextOf("A"));
}

// A document of 2^16 shared pages, split into thousands of ranges by two
// workers, gives the bytes of one worker (the scheduling cost per range is
// constant; conversion_bench --jobs measures the time).
TEST_F(RunLimits, ManyPagesInManyRanges) {
    Write("many.pdf", SharedPagesPdf(16));
    const RunResult one = Run({"-j", "1", "-o", "-", "many.pdf"});
    const RunResult two = Run({"-j", "2", "-o", "-", "many.pdf"});
    EXPECT_EQ(one.ExitCode, 0) << one.Err.data();
    EXPECT_EQ(one.Out.size(), 3 + (1 << 16) * qsizetype(sizeof "Same\r\n" - 1));
    EXPECT_TRUE(two.Out == one.Out);
}

// A start that is refused is tried again; when later starts keep failing,
// the workers already running do the work.
TEST_F(RunLimits, RefusedStartsAreRetried) {
    const QString counter = Path("starts");
    // A worker program that fails its Nth start when N is in the list of failing starts.
    const auto script = [&](const QString& Failing) {
        const QString path = Write("worker-" + Failing + ".sh",
                                   ("#!/bin/sh\nn=$(($(cat '" + counter + "' 2>/dev/null || echo 0) + 1))\necho $n > '" +
                                    counter + "'\ncase \" " + Failing + " \" in *\" $n \"*) exit 1;; esac\nexec '" +
                                    KESTRUNE_TEXT_PROGRAM + "' \"$@\"\n")
                                       .toUtf8());
        ::chmod(QFile::encodeName(path).constData(), 0755);
        QFile::remove(counter);
        return path;
    };
    QList<TDocumentJob> jobs;
    for (int i = 0; i < 4; ++i) jobs << Job(Write(QStringLiteral("%1.pdf").arg(i), VariedTextPdf(40)));
    for (const QString failing : {"1", "2 3 4 5 6 7 8 9 10 11 12"}) {
        TWorkerPool pool(3, 0, script(failing));
        const auto results = RunPool(pool, jobs);
        for (int i = 0; i < 4; ++i) EXPECT_FALSE(results[i].Failed) << failing.toStdString() << ": " << results[i].Error.toStdString();
    }
}

// Closed standard descriptors: the program's own files do not take their
// numbers, so that the report and the text files hold only what is theirs.
TEST_F(RunLimits, ClosedStandardDescriptors) {
    Write("a.pdf", SimpleTextPdf({{"A"}}));
    Write("broken.pdf", "junk");
    const RunResult r = Shell("exec \"$0\" \"$@\" <&- >&- 2>&-", {"--report", "report.jsonl", "a.pdf", "broken.pdf"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(ReadAll(Path("a.txt")), TextOf("A"));
    // One line per input, in the order they ended, and nothing else.
    QList<QByteArray> lines = ReadAll(Path("report.jsonl")).trimmed().split('\n');
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("{\"input\":\"a.pdf\",\"output\":\"a.txt\",\"status\":\"converted\"")) << lines[0].data();
    EXPECT_TRUE(lines[1].startsWith("{\"input\":\"broken.pdf\",\"output\":\"broken.txt\",\"status\":\"failed\"")) << lines[1].data();
}

// Under a low open-file limit, -j is lowered with a note and every file converts.
TEST_F(RunLimits, JobsWithinTheOpenFileLimit) {
    for (int i = 0; i < 30; ++i) Write(QStringLiteral("many/%1.pdf").arg(i), SimpleTextPdf({{"M"}}));
    const RunResult r = Shell("ulimit -n 16 && exec \"$0\" \"$@\"", {"-j", "1000", "many"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.data();
    EXPECT_TRUE(r.Err.startsWith("kestrune-text: note: -j 1000 lowered to 1 ")) << r.Err.data();
    EXPECT_TRUE(r.Err.contains("30 converted, 0 skipped, 0 failed")) << r.Err.data();
}

// Without /proc the workers start from the program's own path, and standard
// input still reaches them.
TEST_F(RunLimits, WithoutProc) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the leak checker needs /proc";
#endif
    Write("a.pdf", SimpleTextPdf({{"A"}}));
    if (Run("unshare", {"-m", "sh", "-c", "mount -t tmpfs none /proc"}).ExitCode != 0)
        GTEST_SKIP() << "no mount namespace here";
    const RunResult r = Shell("unshare -m sh -c 'mount -t tmpfs none /proc && exec \"$0\" \"$@\" < a.pdf' \"$0\" \"$@\"",
                           {"-o", "-", "-"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.data();
    EXPECT_EQ(r.Out, TextOf("A"));
}

// Standard input goes to a temporary file without a name, or where the file
// system has none, to a named one removed at once: nothing is left.
TEST_F(RunLimits, StandardInputIsSpooledToAFile) {
    const QByteArray pdf = VariedTextPdf(30);
    Write("in.pdf", pdf);
    const QByteArray expected = Run({"-o", "-", "in.pdf"}).Out;
    QDir().mkpath(Path("tmp"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", Path("tmp"));
    for (const bool shim : {false, true}) {
        if (shim) {
            environment.insert("LD_PRELOAD", KESTRUNE_NO_TMPFILE_SHIM);
            environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        }
        const RunResult r = Run("sh", {"-c", "exec \"$0\" -j 2 - < in.pdf", KESTRUNE_TEXT_PROGRAM}, environment);
        EXPECT_EQ(r.ExitCode, 0) << r.Err.data();
        EXPECT_TRUE(r.Out == expected) << shim;
        EXPECT_TRUE(QDir(Path("tmp")).isEmpty());
    }
}

// A document that needs more memory than a worker may take fails alone, with
// one line naming the page and the limit, and no output: whether the engine
// left out of a page to recognise an image it could not decode, ended the
// process on a content stream it could not inflate, or was asked for some
// 10 GB by an image's code stream (stopped by the default limit). So does a
// page whose image the engine refuses by its size alone, however much memory.
TEST_F(RunLimits, PagesThatCannotBeReadFailTheirDocumentWithALine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's shadow memory does not fit under a data limit";
#endif
    // A content stream that inflates to 64 MiB of blanks; an image of 196 MB.
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const QByteArray zlib = qCompress(QByteArray("BT /F1 12 Tf 72 720 Td (Hi) Tj ET\n") + QByteArray(64 << 20, ' '), 9).mid(4);
    const int content = b.AddStream("<< /Filter /FlateDecode >>", zlib);
    b.SetPageTree(catalog, pages, {b.AddTextPage(pages, font, content)});
    Write("small.pdf", SimpleTextPdf({{"Small"}}));
    struct Case {
        QString name;
        QByteArray pdf;
        QStringList arguments;
        QByteArray reason;
    };
    const QByteArray defaultLimit = QByteArray::number(DefaultMemoryLimit(1) >> 20);
    const Case cases[] = {
        {"image.pdf", BigImagePdf(14000, 14000), {"--ocr", "auto", "--memory-limit", "160"},
         "page 1: not enough memory to recognise the page at 300 dpi (memory limit 160 MB)"},
        {"hungry.pdf", b.Build(catalog), {"--memory-limit", "100"},
         "page 1: not enough memory to read the page (memory limit 100 MB)"},
        {"jpx.pdf", OversizedJpxPdf(50000), {"--ocr", "auto"},
         "page 1: not enough memory to recognise the page at 300 dpi (memory limit " + defaultLimit + " MB)"},
        {"jbig2.pdf", OversizedJbig2Pdf(140000), {"--ocr", "auto", "--memory-limit", "0"},
         "page 1: an image on the page cannot be decoded (too large for the engine, or damaged)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        Write(c.name, c.pdf);
        QFile::remove(Path("small.txt"));
        const RunResult r = Run(QStringList{"-q", "-j", "1"} + c.arguments + QStringList{c.name, "small.pdf"});
        EXPECT_EQ(r.ExitCode, 1);
        // That line alone: none of the libraries' own.
        EXPECT_EQ(r.Err, "kestrune-text: " + c.name.toUtf8() + ": " + c.reason + "\n");
        EXPECT_FALSE(QFile::exists(Path(QString(c.name).replace(".pdf", ".txt"))));
        EXPECT_EQ(ReadAll(Path("small.txt")), TextOf("Small"));
    }
}

// Without a limit set, each worker has the default one (the window's pool as
// kestrune-text's), which --help shows; a limit of 0 lifts it.
TEST_F(RunLimits, WorkersHaveTheDefaultMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "no default limit in a sanitizer build";
#endif
    const QString file = Write("a.pdf", VariedTextPdf(3));
    for (const qint64 set : {qint64(-1), qint64(0), qint64(100) << 20}) {
        TWorkerPool pool(1, 0, QStringLiteral(KESTRUNE_TEXT_PROGRAM));
        if (set >= 0) pool.SetMemoryLimit(set);
        rlimit seen{};
        RunPool(pool, {Job(file)}, [&](int, int) { ::prlimit(pool.WorkerProcesses().value(0), RLIMIT_DATA, nullptr, &seen); });
        const qint64 expected = set < 0 ? DefaultMemoryLimit(1) : set;
        EXPECT_EQ(seen.rlim_cur, expected > 0 ? rlim_t(expected) : RLIM_INFINITY) << set;
    }
    EXPECT_GE(DefaultMemoryLimit(1), MinDefaultMemoryLimit);
    EXPECT_LE(DefaultMemoryLimit(1), MaxDefaultMemoryLimit);
    const int processors = int(::sysconf(_SC_NPROCESSORS_ONLN));
    const QByteArray shown = QStringLiteral("here %1 MB with -j %2").arg(DefaultMemoryLimit(processors) >> 20).arg(processors).toUtf8();
    EXPECT_TRUE(Run({"--help"}).Out.simplified().contains(shown)) << shown.data();
}

}  // namespace
