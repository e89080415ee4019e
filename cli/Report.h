// The report of a kestrune-text run (--report): one JSON object per line and
// per input, written as each input ends, so that a run killed at any moment
// leaves a valid report of what it finished.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace kestrune {

enum class TInputStatus { Converted, Skipped, Failed };

// How one input ended.
struct TReportEntry {
    QString Input;
    QString Output;       // the text file (or "-"), also when nothing was written there
    TInputStatus Status = TInputStatus::Converted;
    int Pages = 0;        // pages written to the text file
    int PagesRecognized = 0;  // of those, pages whose text was recognised on their pixels
    int PagesTurned = 0;      // of those, pages read turned upright
    double Confidence = -1;   // the recognised pages' mean confidence (0 to 100); -1: none showed ink
    int PagesLowConfidence = 0;  // recognised pages under TRecognitionTally::LowConfidence
    qint64 Bytes = 0;     // bytes written to the text file
    double Seconds = 0;   // time spent converting
    QString Error;        // for a failure: the error text
};

// The entry as one line of JSON (with its line end): input, output, status
// ("converted", "skipped", "failed"), pages, recognized, when pages were
// recognised turned, confidence (one decimal, null when no recognised page
// showed ink) and low_confidence, then bytes, seconds, and error for a
// failure, in that order.
QByteArray ReportLine(const TReportEntry& Entry);

class TReport {
public:
    // Creates (or empties) the report file Path; a link at its place is
    // refused unless it leads to a FIFO or device. "-" and /dev/stdout are
    // standard output, /dev/fd/N the descriptor N. Raises EFileError.
    explicit TReport(const QString& Path);
    // Appends the entry's line in one write. Raises EFileError.
    void Add(const TReportEntry& Entry);

private:
    QFile FFile;
    QString FPath;
};

}  // namespace kestrune
