// The window's conversion of one document: run by kestrune-text's worker
// processes (TWorkerPool) on a thread of its own, so that the window stays
// responsive and the engine never runs in the window's process. The text file
// is written as the pages arrive, into a temporary file that replaces the text
// file only once it is complete (TTextTarget, TPageSink): the same bytes as
// kestrune-text, and memory that does not grow with the text.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <mutex>
#include <thread>

#include "convert/PageReader.h"

namespace kestrune {

class TWorkerPool;

// How a conversion ended.
struct TConversionResult {
    bool Failed = false;
    QString Error;          // the message of a failure
    bool NeedsPassword = false;  // failed because the document wants a (another) password
    int PageCount = -1;     // -1 when the document never opened
    int PagesWritten = 0;   // 0 when no text file was written
    // Of the pages written: those recognised, and those that show something
    // but hold no text character (recognised or not), as kestrune-text counts them.
    int PagesRecognized = 0;
    int PagesWithoutText = 0;
};

class TWindowConversion : public QObject {
    Q_OBJECT
public:
    // Program: the program started as a worker (with worker::WorkerArgument).
    explicit TWindowConversion(const QString& Program, QObject* Parent = nullptr);
    // Stops a conversion still running, as Stop does.
    ~TWindowConversion() override;

    // Converts FileName with Password into the text file Target, recognising
    // pages as Ocr says; the signals below report on it. Once per object.
    void Start(const QString& FileName, const QString& Password, const QString& Target,
               TOcrMode Ocr = TOcrMode::Never);
    // Ends the conversion at once and waits for its thread: the workers are
    // killed, no text file is written (an earlier one stays as it was), and no
    // signal comes any more.
    void Stop();

signals:
    // The document opened with PageCount pages.
    void Started(int PageCount);
    // Pages converted so far, and the pages the workers are on now (each a
    // worker's page begun: its share of the work is under way). The pool
    // tells pages done only, so those under way are the workers running, as
    // far as pages remain for them.
    void Progress(int PagesDone, int PagesUnderWay);
    // The conversion ended (not after Stop).
    void Finished(const kestrune::TConversionResult& Result);

private:
    void Run(QString FileName, QString Password, QString Target, TOcrMode Ocr);

    QString FProgram;
    std::thread FThread;
    std::mutex FLock;           // guards FPool and FStopped between the two threads
    TWorkerPool* FPool = nullptr;
    bool FStopped = false;
};

}  // namespace kestrune
