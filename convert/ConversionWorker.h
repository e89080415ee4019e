// The worker side of kestrune-text's worker processes: kestrune-text started
// with worker::WorkerArgument converts the page ranges its parent sends over
// the socket worker::WorkerSocket (see WorkerProtocol.h).
#pragma once

namespace kestrune {

// Serves the parent until it closes the socket; returns the exit status.
// Standard input and output are not used (the parent's may carry a document
// or its text), so anything the engine prints cannot disturb them.
int RunConversionWorker();

}  // namespace kestrune
