// The check that comes before any work: no planned write (a text file, -o,
// the report) may land on an input, the list of --files-from or another
// planned write. Places are compared by device and inode where they exist,
// and by their full name otherwise (folders resolved, names compared the way
// their file system does: without case where it ignores case).
#pragma once

#include <QList>
#include <QString>

namespace kestrune {

struct TBatchInput;
struct TOptions;

// Refuses, in Inputs, each input whose text file is an input, the list, or the
// text file of an earlier input (the line names both). Returns the error for
// a command line that cannot run at all (exit status 2): -o with more than
// one input, or a report that would replace an input, the list or a text
// file; empty when the run may go ahead.
QString CheckOutputPlan(const TOptions& Options, QList<TBatchInput>& Inputs);

}  // namespace kestrune
