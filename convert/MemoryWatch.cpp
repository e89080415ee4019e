#include "convert/MemoryWatch.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <sys/resource.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KESTRUNE_SANITIZED_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTRUNE_SANITIZED_ALLOCATOR 1
#endif

namespace kestrune {

namespace {

std::atomic<quint64> Failures{0};

}  // namespace

// Block, the allocator's answer to a request (of no bytes: Wanted false).
void* Counted(void* Block, bool Wanted) noexcept {
    if (!Block && Wanted) Failures.fetch_add(1, std::memory_order_relaxed);
    return Block;
}

quint64 AllocationFailures() noexcept { return Failures.load(std::memory_order_relaxed); }

bool AllocationsWatched() noexcept {
#ifdef KESTRUNE_SANITIZED_ALLOCATOR
    return false;
#else
    return true;
#endif
}

qint64 DataLimitMiB() noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_DATA, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return qint64(limit.rlim_cur >> 20);
}

}  // namespace kestrune

#ifndef KESTRUNE_SANITIZED_ALLOCATOR

// The program's own definitions of the C allocator's entries come first in
// symbol lookup, for every library of the process, those loaded later with
// dlopen (the engine, the recognizer module) included. Each passes the call
// on to the C library's allocator unchanged (so memory from either side may be
// freed by the other), and counts a failure.
extern "C" {
void* __libc_malloc(size_t) noexcept;
void* __libc_calloc(size_t, size_t) noexcept;
void* __libc_realloc(void*, size_t) noexcept;
void* __libc_memalign(size_t, size_t) noexcept;
}

using kestrune::Counted;

extern "C" {
void* malloc(size_t Size) noexcept { return Counted(__libc_malloc(Size), Size > 0); }

// A product that overflows is refused, and counts as a failure too.
void* calloc(size_t Count, size_t Size) noexcept { return Counted(__libc_calloc(Count, Size), Count > 0 && Size > 0); }

// realloc(Block, 0) frees Block and may answer null: no failure.
void* realloc(void* Block, size_t Size) noexcept { return Counted(__libc_realloc(Block, Size), Size > 0); }

void* memalign(size_t Alignment, size_t Size) noexcept { return Counted(__libc_memalign(Alignment, Size), Size > 0); }

void* aligned_alloc(size_t Alignment, size_t Size) noexcept { return Counted(__libc_memalign(Alignment, Size), Size > 0); }

int posix_memalign(void** Block, size_t Alignment, size_t Size) noexcept {
    // posix_memalign's own checks: a power of two, a multiple of a pointer's size.
    if (Alignment % sizeof(void*) != 0 || (Alignment & (Alignment - 1)) != 0 || Alignment == 0) return EINVAL;
    void* block = Counted(__libc_memalign(Alignment, Size), Size > 0);
    if (!block && Size > 0) return ENOMEM;
    *Block = block;
    return 0;
}
}

#endif
