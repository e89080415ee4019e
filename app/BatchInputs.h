// The inputs of a kestrune-text run: the file arguments, then the paths listed
// by --files-from, each folder among them standing for every .pdf file below
// it; and for each input, where its text goes.
#pragma once

#include <QList>
#include <QString>

namespace kestrune {

struct TOptions;

struct TBatchInput {
    QString Input;    // the path as shown in messages and the report ("-": standard input)
    QString Target;   // the text file ("-": standard output); empty when refused
    QString Refusal;  // why the input is not converted at all (an error); empty when it is
};

// The inputs in order: each folder is searched recursively for files whose
// name ends in ".pdf" in any case, in the order of their paths (symbolic links
// to folders are not followed). With --output-dir, a text file keeps the
// input's path relative to its folder argument, or to the current folder for
// a file; a path that leads out of it is refused, and so is a folder without
// any such file. Raises EFileError when the
// list of --files-from cannot be read.
QList<TBatchInput> CollectInputs(const TOptions& Options);

// Whether the run is a batch: a list, a folder, an output folder, --update or
// a report; a batch ends with a summary line.
bool IsBatch(const TOptions& Options);

}  // namespace kestrune
