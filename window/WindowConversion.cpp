#include "window/WindowConversion.h"

#include <QThread>
#include <algorithm>
#include <exception>
#include <map>

#include "convert/Conversion.h"
#include "convert/TextOutput.h"
#include "convert/WorkerPool.h"

namespace kestrune {

namespace {

// The engine's text for a document that wants a password (or was given a
// wrong one). Only the text crosses from a worker process.
const QString PasswordError = QStringLiteral("Password required or incorrect password");

}  // namespace

TWindowConversion::TWindowConversion(const QString& Program, QObject* Parent) : QObject(Parent), FProgram(Program) {}

TWindowConversion::~TWindowConversion() { Stop(); }

void TWindowConversion::Start(const QString& FileName, const QString& Password, const QString& Target,
                              TOcrMode Ocr) {
    FThread = std::thread([this, FileName, Password, Target, Ocr] { Run(FileName, Password, Target, Ocr); });
}

void TWindowConversion::Stop() {
    {
        const std::lock_guard lock(FLock);
        FStopped = true;
        if (FPool) FPool->Cancel();
    }
    if (FThread.joinable()) FThread.join();
}

void TWindowConversion::Run(QString FileName, QString Password, QString Target, TOcrMode Ocr) {
    // As many workers as kestrune-text takes by default: one per processor.
    // The pool lives and ends on this thread: a worker's parent-death signal
    // follows the thread that started it, so none may outlive its pool here.
    TWorkerPool pool(QThread::idealThreadCount(), 0, FProgram);
    {
        const std::lock_guard lock(FLock);
        if (FStopped) return;
        FPool = &pool;
    }
    // Each report goes to the window's thread; none after Stop.
    const auto post = [this](auto Report) {
        QMetaObject::invokeMethod(
            this,
            [this, Report] {
                if (!FStopped) Report();
            },
            Qt::QueuedConnection);
    };

    std::unique_ptr<TTextTarget> target;
    std::unique_ptr<TPageSink> sink;
    TConversionResult result;
    TWorkerPool::TEvents events;
    int pages = 0;  // those in the range converted
    const auto underWay = [&](int Done) { return int(std::min<qsizetype>(pool.WorkerProcesses().size(), pages - Done)); };
    events.Started = [&](int, int PageCount, int First, int Last) {
        // Raises EFileError when the file cannot be created: the document then
        // fails with that message.
        target = std::make_unique<TTextTarget>(Target, TTextTarget::TMode::Replace);
        sink = std::make_unique<TPageSink>(*target, First, Last);
        pages = Last - First + 1;
        const int begun = underWay(0);
        post([this, PageCount, begun] {
            emit Started(PageCount);
            emit Progress(0, begun);
        });
    };
    events.Page = [&](int, int Page, const QByteArray& Bytes) { sink->Add(Page, Bytes); };
    events.Progress = [&](int, int Done) {
        const int begun = underWay(Done);
        post([this, Done, begun] { emit Progress(Done, begun); });
    };
    events.Finished = [&](int, const TJobResult& Job) {
        result.PageCount = Job.PageCount;
        result.Failed = Job.Failed;
        result.Error = Job.Error;
        if (Job.Failed) {
            result.NeedsPassword = Job.PageCount < 0 && Job.Error == PasswordError;
            return;
        }
        if (!sink) return;  // no pages: no text file
        try {
            sink->Finish();
            result.PagesWritten = Job.PagesWritten;
            result.PagesRecognized = Job.Recognition.Pages;
            result.PagesWithoutText = Job.PagesWithoutText;
        } catch (const std::exception&) {
            result.Failed = true;
            result.Error = ErrorMessage(std::current_exception());
        }
    };
    TDocumentJob job;
    job.FileName = FileName;
    job.Password = Password;
    job.Ocr.Mode = Ocr;
    pool.Run({job}, events);
    {
        const std::lock_guard lock(FLock);
        FPool = nullptr;
    }
    // Not committed (a failure, or Stop): the temporary file goes with the
    // target, and an earlier text file stays as it was.
    sink.reset();
    target.reset();
    post([this, result] { emit Finished(result); });
}

}  // namespace kestrune
