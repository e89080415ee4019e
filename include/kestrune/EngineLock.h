// The process-wide lock of the engine.
//
// The engine is not thread-safe: it keeps process-wide state (its caches, its
// last-error code, the unsupported-feature handler). Every TFPdf operation that
// calls the engine holds this one recursive lock for its whole duration, so
// that components on different threads take turns. A program that calls bound
// entry points of kestrune::engine itself, while components may be working on
// other threads, holds an EngineLock around those calls too (and around reading
// the last-error code after the call that set it).
#pragma once

#include <mutex>

namespace kestrune {

// The recursive mutex behind EngineLock, for use with std::unique_lock and the like.
std::recursive_mutex& EngineMutex();

// Holds the engine's lock from construction to destruction; the same thread
// may hold it several times over.
class EngineLock {
public:
    EngineLock() : FMutex(EngineMutex()) { FMutex.lock(); }
    ~EngineLock() { FMutex.unlock(); }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;

private:
    std::recursive_mutex& FMutex;
};

}  // namespace kestrune
