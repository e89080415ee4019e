// The inputs of a kestrune-text run: the file arguments, then the paths listed
// by --files-from, each folder among them standing for every .pdf file below
// it; and for each input, where its text goes.
#pragma once

#include <QFile>
#include <QList>
#include <QString>

namespace kestrune {

struct TOptions;

// Paths are names as DecodeName makes them (FileNames.h): bytes that are not
// UTF-8 survive, and EncodeName gives them back to the system.
struct TBatchInput {
    QString Input;    // the path as shown in messages and the report ("-": standard input)
    QString Target;   // the text file ("-": standard output); empty when refused
    // With --output-dir: Target's path below the output folder, which the text
    // file is created beneath, following no link; empty otherwise.
    QString TargetBeneath;
    QString Refusal;  // why the input is not converted at all (an error); empty when it is
};

// The inputs in order: each folder is searched recursively for files whose
// name ends in ".pdf" in any case, hidden ones too (unless --skip-hidden), in
// the order of their paths; symbolic links to folders are not followed, and a
// subfolder that cannot be read, or a link named *.pdf that leads nowhere, is
// an input refused with the reason. With --output-dir, a text file keeps the
// input's path relative to its folder argument, or to the current folder for
// a file; a path that leads out of it is refused, and so is a folder without
// any such file. Raises EFileError when the list of --files-from cannot be read.
QList<TBatchInput> CollectInputs(const TOptions& Options);

// Opens the file Path (a name from DecodeName) for reading into File.
bool OpenByName(QFile& File, const QString& Path);

// Whether the run is a batch: a list, a folder, an output folder, --update or
// a report; a batch ends with a summary line.
bool IsBatch(const TOptions& Options);

}  // namespace kestrune
