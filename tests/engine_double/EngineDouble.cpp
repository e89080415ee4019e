// A test double of the engine library, expanded from the entry-point list.
//
// Every entry answers with a zero value (null handle, false, 0); only the
// last-error code can be set, through KestruneDouble_SetLastError. It serves the
// paths that no real document reaches: a library lacking an entry (built with a
// linker script that hides names) and the engine's error codes.
#include <type_traits>

#include "engine/EngineTypes.h"

namespace {
unsigned long LastError = 0;

template <typename T>
T Zero() {
    if constexpr (!std::is_void_v<T>) return T{};
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) void KestruneDouble_SetLastError(unsigned long code) { LastError = code; }

#define KESTRUNE_ENTRY(ret, name, params) \
    __attribute__((visibility("default"))) ret name params { return Zero<ret>(); }
#define FPDF_GetLastError FPDF_GetLastError_Unused
#include "engine/EntryPoints.def"
#undef FPDF_GetLastError

__attribute__((visibility("default"))) unsigned long FPDF_GetLastError(void) { return LastError; }
}
