// The command line of kestrune-text: its options, read by QCommandLineParser
// and checked, and the help text that documents them.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "convert/PageReader.h"
#include "convert/PageFormat.h"

namespace kestrune {

// The first and last page to convert, counted from 1; empty when First > Last.
struct TPageRange {
    int First = 1;
    int Last = 0;

    bool IsEmpty() const { return First > Last; }
    int Count() const { return IsEmpty() ? 0 : Last - First + 1; }
};

// What the command line asks for. Every value has been checked: numbers are in
// range, paths are not empty, and options that exclude each other are not both set.
struct TOptions {
    // The input arguments in order: PDF files (or folders); "-" is standard input.
    QStringList Files;
    // -o: where the single input's text goes; "-" is standard output. Empty:
    // beside each input (standard output for the input "-").
    QString Output;
    // --password, else what --password-fd reads, else $KESTRUNE_PASSWORD:
    // used to open every input.
    QString Password;
    // -q: no progress, no notes, no summary; error lines still appear.
    bool Quiet = false;
    // -f / -l: the pages to convert; unset means from the first / to the last page.
    std::optional<int> FirstPage;
    std::optional<int> LastPage;
    // -j: the number of worker processes (default: the online processors, at
    // least 1), at most MaxJobs().
    int Jobs = 1;
    // The -j asked for, when it was more than MaxJobs() allows; the run notes it.
    std::optional<long long> JobsAsked;
    // --memory-limit: the memory each worker may take, in MiB; unset: the
    // pool's default (DefaultMemoryLimit); 0: no limit.
    std::optional<int> MemoryLimitMiB;
    // --timeout: the time one document may take, in seconds (> 0); unset: no limit.
    std::optional<double> TimeoutSeconds;
    // --files-from: a file listing further inputs ("-": standard input); empty: none.
    QString FilesFrom;
    // -0: the list of --files-from is separated by NUL bytes rather than line ends.
    bool NulSeparated = false;
    // --output-dir: the folder that receives the text files; empty: beside the inputs.
    QString OutputDir;
    // --update: skip an input whose text file exists and is newer than it.
    bool Update = false;
    // --report: the JSON Lines report file; empty: no report.
    QString Report;
    // --skip-hidden: a folder scan passes over names that begin with a dot.
    bool SkipHidden = false;
    // --ocr, --ocr-lang, --ocr-dpi, --ocr-rotate, --ocr-clean: which pages are recognised, how.
    TOcrSettings Ocr;
    // --format, --layout, --eol, --bom / --no-bom: what each page becomes.
    TPageFormat Format;

    // Whether -f or -l was given.
    bool HasPageRange() const { return FirstPage || LastPage; }
    // The pages of a document of PageCount pages that -f and -l choose, clipped to it.
    TPageRange PageRange(int PageCount) const;
    // The target of the input File: -o, standard output for "-", else the text
    // file beside it, with the format's extension (--output-dir is applied by
    // the batch, not here).
    QString TargetOf(const QString& File) const;
    // --timeout in whole milliseconds, rounded up (a limit beyond any real run
    // saturates); -1 when there is no limit.
    qint64 TimeoutMilliseconds() const;
};

// The outcome of reading a command line: what to do, with which options.
struct TCommandLine {
    enum class TAction { Convert, Help, Version, Error };
    TAction Action = TAction::Error;
    TOptions Options;
    // For Error: the line to show, without the program name (exit status 2).
    QString Error;
};

// The most worker processes a run starts: twice the online processors (at
// least 4), and no more than the open-file limit leaves room for (each worker
// takes descriptors in this process: its socket, its document, its output).
int MaxJobs();

// Reads Arguments (the program name first, as QCoreApplication::arguments()
// gives them). Needs a QCoreApplication.
TCommandLine ParseCommandLine(const QStringList& Arguments);

// The text of --help: usage, every option, the output, the exit status.
QString HelpText();

// The text of --version: "kestrune-text VERSION", without a line end.
QString VersionText();

}  // namespace kestrune
