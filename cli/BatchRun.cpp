#include "cli/BatchRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/BatchInputs.h"
#include "convert/Conversion.h"
#include "convert/FileNames.h"
#include "cli/OutputPlan.h"
#include "convert/PageRecognition.h"
#include "convert/PdfOutput.h"
#include "cli/Report.h"
#include "convert/SafeFiles.h"
#include "cli/TextOptions.h"
#include "convert/TextOutput.h"
#include "convert/WorkerPool.h"
#include "component/FileError.h"
#include "ocr/Recognition.h"

namespace kestrune {

namespace {

void PrintError(const QString& Text) {
    std::fprintf(stderr, "kestrune-text: %s\n", Text.toUtf8().constData());
}

QString PageCountText(int Count) {
    return Count == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(Count);
}

TReportEntry Entry(const TBatchInput& Input) {
    TReportEntry entry;
    entry.Input = Input.Input;
    entry.Output = Input.Target;
    return entry;
}

// Whether the text file Target exists and is newer than the PDF Input.
bool UpToDate(const QString& Input, const QString& Target) {
    struct stat input {}, target {};
    if (::stat(EncodeName(Input).constData(), &input) != 0 || ::stat(EncodeName(Target).constData(), &target) != 0)
        return false;
    const auto time = [](const struct stat& s) { return std::make_pair(s.st_mtim.tv_sec, s.st_mtim.tv_nsec); };
    return S_ISREG(target.st_mode) && time(target) > time(input);
}

// Why the input Path cannot be converted before a worker tries; empty when it may be.
QString InputProblem(const QString& Path) {
    struct stat status {};
    if (::stat(EncodeName(Path).constData(), &status) != 0)
        return errno == ENOENT ? QStringLiteral("No such file") : SystemMessage(errno);
    if (S_ISDIR(status.st_mode)) return QStringLiteral("Is a folder, not a file");
    return {};
}

// Creates the folder Path and those above it, as mkdir -p does.
void MakeFolders(const QByteArray& Path) {
    for (qsizetype slash = Path.indexOf('/', 1); ; slash = Path.indexOf('/', slash + 1)) {
        ::mkdir((slash < 0 ? Path : Path.left(slash)).constData(), 0777);
        if (slash < 0) return;
    }
}

// The progress line on a terminal: pages done by all workers.
class TProgress {
public:
    explicit TProgress(bool Shown) : FShown(Shown) {}

    void Started(int Job, const QString& Input, int Pages) { FActive[Job] = {ShownName(Input).toUtf8(), 0, Pages}; }
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
        } catch (const std::exception&) {
            PrintError(ErrorMessage(std::current_exception()));
            return 1;
        }
        // Nothing is written, nor any report begun, before every write is known safe.
        const QString planError = CheckOutputPlan(FOptions, FInputs);
        if (!planError.isEmpty()) {
            PrintError(planError);
            return 2;
        }
        // A report that cannot be made is refused like the plan: before any work.
        try {
            if (!FOptions.Report.isEmpty()) FReport.emplace(FOptions.Report);
        } catch (const std::exception&) {
            PrintError(ErrorMessage(std::current_exception()));
            return 2;
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
            job.Format = FOptions.Format;
            job.FirstPage = FOptions.FirstPage.value_or(1);
            job.LastPage = FOptions.LastPage.value_or(std::numeric_limits<int>::max());
            job.Ocr = FOptions.Ocr;
            job.FileName = input.Input;
            if (input.Input == QLatin1String("-")) {
                try {
                    // Spooled to a file rather than held in memory; the workers read it through its descriptor.
                    if (!FStandardInput.IsOpen()) FStandardInput = SpoolToUnnamedFile(STDIN_FILENO, QStringLiteral("standard input"));
                } catch (const std::exception&) {
                    Fail(i, entry, ErrorMessage(std::current_exception()));
                    continue;
                }
                job.Descriptor = FStandardInput.Get();
            } else if (const QString problem = InputProblem(input.Input); !problem.isEmpty()) {
                Fail(i, entry, problem);
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

        if (FOptions.JobsAsked && !FOptions.Quiet)
            PrintError(QStringLiteral("note: -j %1 lowered to %2 (what the processors and the open-file limit allow)")
                           .arg(*FOptions.JobsAsked)
                           .arg(FOptions.Jobs));
        // Pages to recognise are read by workers of the recognition worker
        // program where this one cannot render them (kestrune-text).
        const bool recognising = FOptions.Ocr.Mode != TOcrMode::Never && !PageRecognitionInstalled();
        TWorkerPool pool(FOptions.Jobs, FOptions.TimeoutSeconds.value_or(0),
                         recognising ? RecognitionWorkerProgram() : QStringLiteral("/proc/self/exe"));
        if (FOptions.MemoryLimitMiB) pool.SetMemoryLimit(qint64(*FOptions.MemoryLimitMiB) << 20);
        TWorkerPool::TEvents events;
        events.Started = [&](int Job, int, int First, int Last) { Started(Job, First, Last); };
        events.Page = [&](int Job, int Page, const QByteArray& Bytes) {
            if (Pdf()) FCopies[Job]->Add(Page, Bytes);
            else FSinks[Job]->Add(Page, Bytes);
        };
        events.Progress = [&](int Job, int Done) { FProgress.Done(Job, Done); };
        events.Finished = [&](int Job, const TJobResult& Result) { Finished(Job, Result); };
        pool.Run(jobs, events);

        FProgress.Clear();
        if (IsBatch(FOptions) && !FOptions.Quiet)
            PrintError(QStringLiteral("%1 converted, %2 skipped, %3 failed, %4%5 in %6 s")
                           .arg(FCounts[int(TInputStatus::Converted)])
                           .arg(FCounts[int(TInputStatus::Skipped)])
                           .arg(FCounts[int(TInputStatus::Failed)])
                           .arg(PageCountText(FPages))
                           .arg(RecognisedText())
                           .arg(QString::number(FClock.nsecsElapsed() / 1e9, 'f', 1)));
        return FCounts[int(TInputStatus::Failed)] > 0 || FReportFailed ? 1 : 0;
    }

private:
    void Started(int Job, int First, int Last) {
        const TBatchInput& input = FInputs[FJobInputs[Job]];
        // Each page goes into the target as soon as the pages before it are in;
        // a regular file is replaced only once the last page is (TTextTarget).
        FTargets[Job] = OpenTarget(input);
        if (FOptions.TimeoutSeconds)
            // Capped at some 30 years, within the clock's range of nanoseconds.
            FTargets[Job]->SetDeadline(TTextTarget::TClock::now() +
                                           std::chrono::milliseconds(std::min<qint64>(FOptions.TimeoutMilliseconds(), 1000000000000)),
                                       TimeLimitMessage(*FOptions.TimeoutSeconds));
        FProgress.Started(Job, input.Input, Last - First + 1);
        if (Pdf()) {
            // Before any page is recognised: a document that takes no text layer fails now.
            const int descriptor = input.Input == QLatin1String("-") ? FStandardInput.Get() : -1;
            FCopies[Job] = std::make_unique<TPdfOutput>(input.Input, descriptor, FOptions.Password,
                                                        recognition::GlyphlessFontFile(), *FTargets[Job]);
            return;
        }
        const QString title = input.Input == QLatin1String("-") ? QStringLiteral("standard input")
                                                                : QFileInfo(input.Input).fileName();
        FSinks[Job] = std::make_unique<TPageSink>(*FTargets[Job], First, Last, FOptions.Format.Header(title),
                                                  FOptions.Format.Footer());
        FSinks[Job]->SetSeam(FOptions.Format.Seam());
    }

    bool Pdf() const { return FOptions.Format.Format == TOutputFormat::Pdf; }

    // The target of an input: under --output-dir created beneath the output
    // folder without following any link there; -o may name a FIFO or device
    // through a link.
    std::unique_ptr<TTextTarget> OpenTarget(const TBatchInput& Input) {
        if (Input.TargetBeneath.isEmpty()) {
            const auto mode = FOptions.Output.isEmpty() ? TTextTarget::TMode::WriteIntoNodes
                                                        : TTextTarget::TMode::WriteIntoLinkedNodes;
            return std::make_unique<TTextTarget>(Input.Target, mode);
        }
        if (!FOutputFolder.IsOpen()) {
            MakeFolders(EncodeName(FOptions.OutputDir));
            FOutputFolder = OpenFolder(EncodeName(FOptions.OutputDir), Input.Target);
        }
        const qsizetype slash = Input.TargetBeneath.lastIndexOf(QLatin1Char('/'));
        TDescriptor folder = OpenFolderBeneath(FOutputFolder.Get(), EncodeName(Input.TargetBeneath.left(qMax<qsizetype>(slash, 0))),
                                               true, Input.Target);
        return std::make_unique<TTextTarget>(std::move(folder), EncodeName(Input.TargetBeneath.mid(slash + 1)), Input.Target);
    }

    void Finished(int Job, const TJobResult& Result) {
        const int index = FJobInputs[Job];
        const TBatchInput& input = FInputs[index];
        FProgress.Ended(Job);
        TReportEntry entry = Entry(input);
        entry.Seconds = Result.Seconds;
        // The target goes with its sink; one that was not committed leaves the old file as it was.
        std::unique_ptr<TPageSink> sink = std::move(FSinks[Job]);
        std::unique_ptr<TPdfOutput> copy = std::move(FCopies[Job]);
        std::unique_ptr<TTextTarget> target = std::move(FTargets[Job]);
        FSinks.erase(Job);
        FCopies.erase(Job);
        FTargets.erase(Job);
        if (Result.Failed) {
            Fail(index, entry, Result.Error);
            return;
        }
        if (Result.PageCount == 0) {
            entry.Status = TInputStatus::Skipped;
            End(index, entry, FOptions.Quiet ? QString() : QStringLiteral("%1: the document has no pages; no text file written").arg(ShownName(input.Input)));
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
            if (copy) copy->Finish();
            else sink->Finish();
        } catch (const std::exception&) {
            Fail(index, entry, ErrorMessage(std::current_exception()));
            return;
        }
        entry.Pages = Result.PagesWritten;
        entry.PagesRecognized = Result.Recognition.Pages;
        entry.PagesTurned = Result.Recognition.Turned;
        entry.Confidence = Result.Recognition.MeanConfidence();
        entry.PagesLowConfidence = Result.Recognition.LowConfident;
        entry.Bytes = target->BytesWritten();
        FPages += entry.Pages;
        FPagesRecognized += entry.PagesRecognized;
        FPagesTurned += entry.PagesTurned;
        FPagesLowConfidence += entry.PagesLowConfidence;
        const bool unchanged = copy && copy->PagesLaid() == 0 && copy->PagesReplaced() == 0;
        End(index, entry,
            FOptions.Quiet ? QString() : unchanged ? CopiedNote(input.Input, Result) : RecognitionNote(input.Input, Result));
    }

    // The note on a searchable copy that got no words: the copy is the input.
    static QString CopiedNote(const QString& Input, const TJobResult& Result) {
        if (Result.Recognition.Pages == 0)
            return QStringLiteral("%1: no page to recognise (each has text of its own or shows nothing); copied "
                                  "unchanged")
                .arg(ShownName(Input));
        return QStringLiteral("%1: no word recognised on %2; copied unchanged")
            .arg(ShownName(Input), Result.Recognition.Pages == 1 ? QStringLiteral("the recognised page")
                                                                 : QStringLiteral("its %1 recognised pages")
                                                                       .arg(Result.Recognition.Pages));
    }

    // The note on a converted document's recognition: its pages without text
    // when none were recognised, its pages read at a lower resolution when
    // they were too large; empty when there is nothing to say.
    QString RecognitionNote(const QString& Input, const TJobResult& Result) const {
        if (FOptions.Ocr.Mode == TOcrMode::Never) {
            if (Result.PagesWithoutText == 0) return {};
            return QStringLiteral("%1: no text on %2 of %3 (scanned pages?); --ocr auto reads them")
                .arg(Input)
                .arg(Result.PagesWithoutText)
                .arg(PageCountText(Result.PagesWritten));
        }
        const QList<TRecognitionTally::TLowered>& lowered = Result.Recognition.Lowered;
        if (lowered.isEmpty()) return {};
        return QStringLiteral("%1: %2 too large to recognise at %3 dpi, read at the highest resolution within the "
                              "pixel limit (page %4 at %5 dpi)")
            .arg(Input, PageCountText(int(lowered.size())))
            .arg(lowered.first().Meant)
            .arg(lowered.first().Page)
            .arg(lowered.first().Dpi);
    }

    // The summary's part on recognition: " (4 recognised, 1 turned, 1 low
    // confidence)", the last two when there are any; empty without --ocr.
    QString RecognisedText() const {
        if (FOptions.Ocr.Mode == TOcrMode::Never) return {};
        QString text = QStringLiteral(" (%1 recognised").arg(FPagesRecognized);
        if (FPagesTurned > 0) text += QStringLiteral(", %1 turned").arg(FPagesTurned);
        if (FPagesLowConfidence > 0) text += QStringLiteral(", %1 low confidence").arg(FPagesLowConfidence);
        return text + QLatin1Char(')');
    }

    void Fail(int Index, TReportEntry& Entry, const QString& Error) {
        Entry.Status = TInputStatus::Failed;
        Entry.Error = Error;
        End(Index, Entry, QStringLiteral("%1: %2").arg(ShownName(Entry.Input), Error));
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
    TDescriptor FStandardInput;   // standard input's PDF, spooled
    TDescriptor FOutputFolder;    // --output-dir, once opened
    std::map<int, std::unique_ptr<TTextTarget>> FTargets;
    std::map<int, std::unique_ptr<TPageSink>> FSinks;
    std::map<int, std::unique_ptr<TPdfOutput>> FCopies;  // --format pdf: the copies, instead of sinks
    QStringList FLines;
    std::set<int> FEnded;
    int FNextLine = 0;
    int FCounts[3] = {0, 0, 0};
    int FPages = 0;
    int FPagesRecognized = 0;
    int FPagesTurned = 0;
    int FPagesLowConfidence = 0;
};

}  // namespace

int ConvertInputs(const TOptions& Options) { return TRun(Options).Run(); }

}  // namespace kestrune
