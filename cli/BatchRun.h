// A kestrune-text run: every input converted in worker processes, each text
// file written as its pages arrive, one line per failure (and per note) on
// standard error in input order, the report, and for a batch a summary.
#pragma once

namespace kestrune {

struct TOptions;

// Converts what Options name; returns the exit status (0: nothing failed, 1:
// an input failed or the list or report could not be used).
int ConvertInputs(const TOptions& Options);

}  // namespace kestrune
