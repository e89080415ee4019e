// The worker side of kestrune-text's worker processes: kestrune-text started
// with worker::WorkerArgument converts the page ranges its parent sends over
// the socket worker::WorkerSocket (see WorkerProtocol.h).
#pragma once

#include <QString>

#include "convert/SafeFiles.h"

namespace kestrune {

// Serves the parent until it closes the socket; returns the exit status.
// Standard input and output are not used (the parent's may carry a document
// or its text), so anything the engine prints cannot disturb them.
//
// A page whose reading met a refused allocation fails (with "not enough
// memory", naming the page and the limit), also when the engine or Tesseract
// went on without what they could not allocate and gave an empty page.
int RunConversionWorker();

// A worker's standard error is a file in memory that the pool reads when the
// worker ends, so that what the worker's libraries print (Leptonica,
// Tesseract, the C++ runtime) never reaches the user raw. A worker about to
// die of a failure it can name (a refused allocation, an exception nothing
// caught) leaves its reason there as its last line.
//
// A new such file, its writes appended; not open in a sanitizer build, whose
// workers report on the program's own standard error.
TDescriptor NewWorkerErrorFile();

// The reason, in words, that what a worker left in ErrorFile gives for its
// end (one line for the user); empty when it gives none.
QString WorkerFailureReason(int ErrorFile);

}  // namespace kestrune
