// What the window tells of its runs: the line under the edit box for one
// file, for several and for a stopped run, and the list of every file's
// outcome behind the line's "details".
//
// A run lasts from the window being idle to its being idle again: one file,
// or several when files were queued (dropped, named on the command line, a
// folder's, chosen during a run).
#pragma once

#include <QList>
#include <QString>

#include "window/ResultLine.h"

namespace kestrune {

struct TFileOutcome {
    enum class TKind {
        Written,       // its text file written
        NoPages,       // a document without pages: nothing to write
        Failed,        // Error says why
        Stopped,       // stopped while it was converted: nothing written
        NotConverted,  // waiting when the run was stopped
    };
    TKind Kind = TKind::Failed;
    QString FileName;      // the PDF file, as converted
    QString Error;         // for Failed: the message, without the file's name
    QString TextFileName;  // for Written
    // For Written: the pages written, those recognised, and those that show
    // something but hold no text character (the count kestrune-text gives).
    int Pages = 0;
    int Recognized = 0;
    int WithoutText = 0;
    bool Ocr = false;  // the check box was on: pages without text were recognised
};

// The line for one file: "doc.txt written: 12 pages", "Nothing written for doc.pdf"...
TResultLine::TLine FileLine(const TFileOutcome& Outcome);

class TRunReport {
public:
    void Add(const TFileOutcome& Outcome) { FOutcomes.append(Outcome); }
    void Clear() { FOutcomes.clear(); }
    bool IsEmpty() const { return FOutcomes.isEmpty(); }

    // During the run: the files ended so far and the Waiting ones ("1
    // converted; 2 more waiting"); empty for a first file with none waiting.
    QString RunningLine(qsizetype Waiting) const;
    // At its end: the line of its one file; for several, the counts ("3
    // files: 2 converted, 1 failed") with the details; for a stopped run,
    // that nothing was written for the file stopped and how many before it
    // were ("; 1 file written").
    TResultLine::TLine EndLine() const;
    // The details: the end line's words, then each file with its outcome, a line each.
    QString Summary() const;
    QString Details() const;

private:
    qsizetype Count(TFileOutcome::TKind Kind) const;

    QList<TFileOutcome> FOutcomes;
};

}  // namespace kestrune
