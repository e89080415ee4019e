// Allocations that fail in a worker process. Under a memory limit the engine,
// Tesseract and Leptonica meet a refused allocation by leaving something out
// (an image not decoded, a page image not made) more often than by failing:
// the page would come out empty, as if it held nothing. Counting the failures
// of the C allocator, which all of them (and operator new) go through, lets
// the worker tell such a page from an empty one.
#pragma once

#include <QtGlobal>

namespace kestrune {

// The allocations (malloc, calloc, realloc and the aligned ones) of any
// size above 0 that failed in this process so far. Always 0 in a sanitizer
// build, whose own allocator answers these calls.
quint64 AllocationFailures() noexcept;

// Whether AllocationFailures counts: false in a sanitizer build.
bool AllocationsWatched() noexcept;

// This process's data limit (RLIMIT_DATA, what TWorkerPool::SetMemoryLimit
// sets) in MiB; 0 for none.
qint64 DataLimitMiB() noexcept;

}  // namespace kestrune
