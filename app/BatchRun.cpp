#include "app/BatchRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sys/mman.h>
#include <unistd.h>

#include "app/BatchInputs.h"
#include "app/Conversion.h"
#include "app/Report.h"
#include "app/TextOptions.h"
#include "app/TextOutput.h"
#include "app/WorkerPool.h"
#include "component/FileError.h"

namespace kestrune {

namespace {

void PrintError(const QString& Text) {
    std::fprintf(stderr, "kestrune-text: %s\n", Text.toLocal8Bit().constData());
}

QString PageCountText(int Count) {
    return Count == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(Count);
}

// Standard input's PDF, for the workers to open: its bytes in a memory file
// that they inherit, named by its descriptor. Raises EFileError.
class TStandardInputCopy {
public:
    QString Path() {
        if (FDescriptor >= 0) return Name();
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            throw EFileError(QStringLiteral("Cannot read standard input. %1").arg(in.errorString()));
        const QByteArray bytes = in.readAll();
        if (in.error() != QFileDevice::NoError)
            throw EFileError(QStringLiteral("Cannot read standard input. %1").arg(in.errorString()));
        // Above the descriptors a worker sets up for itself; inherited, as it is not close-on-exec.
        const int memory = ::memfd_create("kestrune-text standard input", 0);
        FDescriptor = memory < 0 ? -1 : ::fcntl(memory, F_DUPFD, 10);
        const int error = errno;
        if (memory >= 0) ::close(memory);
        if (FDescriptor < 0)
            throw EFileError(QStringLiteral("Cannot hold standard input. %1").arg(QString::fromLocal8Bit(strerror(error))));
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(FDescriptor, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                throw EFileError(QStringLiteral("Cannot hold standard input. %1").arg(QString::fromLocal8Bit(strerror(errno))));
            done += n;
        }
        return Name();
    }
    ~TStandardInputCopy() {
        if (FDescriptor >= 0) ::close(FDescriptor);
    }

private:
    QString Name() const { return QStringLiteral("/proc/self/fd/%1").arg(FDescriptor); }
    int FDescriptor = -1;
};

TReportEntry Entry(const TBatchInput& Input) {
    TReportEntry entry;
    entry.Input = Input.Input;
    entry.Output = Input.Target;
    return entry;
}

// Whether the text file Target exists and is newer than the PDF Input.
bool UpToDate(const QString& Input, const QString& Target) {
    const QFileInfo target(Target);
    return target.isFile() && target.lastModified() > QFileInfo(Input).lastModified();
}

// The progress line on a terminal: pages done by all workers.
class TProgress {
public:
    explicit TProgress(bool Shown) : FShown(Shown) {}

    void Started(int Job, const QString& Input, int Pages) { FActive[Job] = {Input.toLocal8Bit(), 0, Pages}; }
    void Done(int Job, int Pages) {
        if (!FShown || !FActive.count(Job)) return;
        FActive[Job].Done = Pages;
        if (FActive.size() == 1) {
            std::fprintf(stderr, "\r\033[K%s: page %d of %d", FActive[Job].Name.constData(), Pages, FActive[Job].Total);
        } else {
            int done = 0, total = 0;
            for (const auto& [job, document] : FActive) {
                done += document.Done;
                total += document.Total;
            }
            std::fprintf(stderr, "\r\033[K%d files: page %d of %d", int(FActive.size()), done, total);
        }
        std::fflush(stderr);
    }
    void Ended(int Job) { FActive.erase(Job); }
    // Clears the line before other output.
    void Clear() {
        if (FShown) std::fputs("\r\033[K", stderr);
    }

private:
    struct TDocument {
        QByteArray Name;
        int Done = 0;
        int Total = 0;
    };
    bool FShown;
    std::map<int, TDocument> FActive;
};

class TRun {
public:
    explicit TRun(const TOptions& Options) : FOptions(Options), FProgress(!Options.Quiet && isatty(STDERR_FILENO)) {}

    int Run() {
        FClock.start();
        try {
            FInputs = CollectInputs(FOptions);
            if (!FOptions.Report.isEmpty()) FReport.emplace(FOptions.Report);
        } catch (const std::exception&) {
            PrintError(ErrorMessage(std::current_exception()));
            return 1;
        }
        FLines.resize(FInputs.size());
        QList<TDocumentJob> jobs;
        for (int i = 0; i < FInputs.size(); ++i) {
            const TBatchInput& input = FInputs[i];
            TReportEntry entry = Entry(input);
            if (!input.Refusal.isEmpty()) {
                Fail(i, entry, input.Refusal);
                continue;
            }
            TDocumentJob job;
            job.Password = FOptions.Password;
            job.FirstPage = FOptions.FirstPage.value_or(1);
            job.LastPage = FOptions.LastPage.value_or(std::numeric_limits<int>::max());
            try {
                if (input.Input == QLatin1String("-")) {
                    job.FileName = FStandardInput.Path();
                } else {
                    const QFileInfo info(input.Input);
                    if (!info.exists()) throw EFileError(QStringLiteral("No such file"));
                    if (info.isDir()) throw EFileError(QStringLiteral("Is a folder, not a file"));
                    CheckTargetIsNotInput(input.Input, input.Target);
                    job.FileName = input.Input;
                }
            } catch (const std::exception&) {
                Fail(i, entry, ErrorMessage(std::current_exception()));
                continue;
            }
            if (FOptions.Update && input.Target != QLatin1String("-") && UpToDate(input.Input, input.Target)) {
                entry.Status = TInputStatus::Skipped;
                End(i, entry);
                continue;
            }
            FJobInputs.append(i);
            jobs.append(job);
        }

        TWorkerPool pool(FOptions.Jobs, FOptions.TimeoutSeconds.value_or(0));
        TWorkerPool::TEvents events;
        events.Started = [&](int Job, int, int First, int Last) { Started(Job, First, Last); };
        events.Page = [&](int Job, int Page, const QByteArray& Bytes) { FSinks[Job]->Add(Page, Bytes); };
        events.Progress = [&](int Job, int Done) { FProgress.Done(Job, Done); };
        events.Finished = [&](int Job, const TJobResult& Result) { Finished(Job, Result); };
        pool.Run(jobs, events);

        FProgress.Clear();
        if (IsBatch(FOptions) && !FOptions.Quiet)
            PrintError(QStringLiteral("%1 converted, %2 skipped, %3 failed, %4 in %5 s")
                           .arg(FCounts[int(TInputStatus::Converted)])
                           .arg(FCounts[int(TInputStatus::Skipped)])
                           .arg(FCounts[int(TInputStatus::Failed)])
                           .arg(PageCountText(FPages))
                           .arg(QString::number(FClock.nsecsElapsed() / 1e9, 'f', 1)));
        return FCounts[int(TInputStatus::Failed)] > 0 || FReportFailed ? 1 : 0;
    }

private:
    void Started(int Job, int First, int Last) {
        const TBatchInput& input = FInputs[FJobInputs[Job]];
        if (!FOptions.OutputDir.isEmpty()) QDir().mkpath(QFileInfo(input.Target).path());
        // Each page goes into the target as soon as the pages before it are in;
        // a regular file is replaced only once the last page is (TTextTarget).
        FTargets[Job] = std::make_unique<TTextTarget>(input.Target);
        FSinks[Job] = std::make_unique<TPageSink>(*FTargets[Job], First, Last);
        FProgress.Started(Job, input.Input, Last - First + 1);
    }

    void Finished(int Job, const TJobResult& Result) {
        const int index = FJobInputs[Job];
        const TBatchInput& input = FInputs[index];
        FProgress.Ended(Job);
        TReportEntry entry = Entry(input);
        entry.Seconds = Result.Seconds;
        // The target goes with its sink; one that was not committed leaves the old file as it was.
        std::unique_ptr<TPageSink> sink = std::move(FSinks[Job]);
        std::unique_ptr<TTextTarget> target = std::move(FTargets[Job]);
        FSinks.erase(Job);
        FTargets.erase(Job);
        if (Result.Failed) {
            Fail(index, entry, Result.Error);
            return;
        }
        if (Result.PageCount == 0) {
            entry.Status = TInputStatus::Skipped;
            End(index, entry, FOptions.Quiet ? QString() : QStringLiteral("%1: the document has no pages; no text file written").arg(input.Input));
            return;
        }
        if (Result.FirstPage > Result.LastPage) {
            Fail(index, entry,
                 QStringLiteral("no page in the range %1 to %2; the document has %3")
                     .arg(FOptions.FirstPage.value_or(1))
                     .arg(FOptions.LastPage ? QString::number(*FOptions.LastPage) : QStringLiteral("the end"),
                          PageCountText(Result.PageCount)));
            return;
        }
        try {
            sink->Finish();
        } catch (const std::exception&) {
            Fail(index, entry, ErrorMessage(std::current_exception()));
            return;
        }
        entry.Pages = Result.PagesWritten;
        entry.Bytes = target->BytesWritten();
        FPages += entry.Pages;
        End(index, entry);
    }

    void Fail(int Index, TReportEntry& Entry, const QString& Error) {
        Entry.Status = TInputStatus::Failed;
        Entry.Error = Error;
        End(Index, Entry, QStringLiteral("%1: %2").arg(Entry.Input, Error));
    }

    // Input Index has ended: its report line now, its message line (if any)
    // once the inputs before it have ended, so that the lines keep input order.
    void End(int Index, const TReportEntry& Entry, const QString& Line = {}) {
        ++FCounts[int(Entry.Status)];
        if (FReport && !FReportFailed) {
            try {
                FReport->Add(Entry);
            } catch (const std::exception&) {
                FReportFailed = true;
                FProgress.Clear();
                PrintError(ErrorMessage(std::current_exception()));
            }
        }
        FLines[Index] = Line;
        FEnded.insert(Index);
        bool cleared = false;
        while (FEnded.count(FNextLine)) {
            if (!FLines[FNextLine].isEmpty()) {
                if (!cleared) FProgress.Clear();
                cleared = true;
                PrintError(FLines[FNextLine]);
            }
            FLines[FNextLine].clear();
            ++FNextLine;
        }
    }

    const TOptions& FOptions;
    TProgress FProgress;
    QElapsedTimer FClock;
    QList<TBatchInput> FInputs;
    QList<int> FJobInputs;  // the input of each job
    std::optional<TReport> FReport;
    bool FReportFailed = false;
    TStandardInputCopy FStandardInput;
    std::map<int, std::unique_ptr<TTextTarget>> FTargets;
    std::map<int, std::unique_ptr<TPageSink>> FSinks;
    QStringList FLines;
    std::set<int> FEnded;
    int FNextLine = 0;
    int FCounts[3] = {0, 0, 0};
    int FPages = 0;
};

}  // namespace

int ConvertInputs(const TOptions& Options) { return TRun(Options).Run(); }

}  // namespace kestrune
