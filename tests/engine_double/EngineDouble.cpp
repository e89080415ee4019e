// A test double of the engine library, expanded from the entry-point list.
//
// Every entry answers with a zero value (null handle, false, 0) unless a test
// set another answer for it by name through KestruneDouble_SetResult; the
// last-error code is set through KestruneDouble_SetLastError. It serves the
// paths that no real document reaches: a library lacking an entry (built with a
// linker script that hides names), the engine's error codes, and engine calls
// that fail after a document was obtained.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>

#include <kestrune/EngineTypes.h>

namespace {
unsigned long LastError = 0;

std::map<std::string, long long>& Results() {
    static std::map<std::string, long long> results;
    return results;
}

// The answer set for the entry Name, or zero; a handle is the value taken as an
// address (which the double never dereferences: every entry ignores its arguments).
template <typename T>
T Answer(const char* Name) {
    if constexpr (std::is_void_v<T>) {
        return;
    } else {
        const auto it = Results().find(Name);
        const long long value = it == Results().end() ? 0 : it->second;
        if constexpr (std::is_pointer_v<T>)
            return reinterpret_cast<T>(static_cast<std::intptr_t>(value));
        else if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>)
            return static_cast<T>(value);
        else
            return T{};
    }
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) void KestruneDouble_SetLastError(unsigned long code) { LastError = code; }

// Makes the entry Name answer value from now on (0 restores the default).
__attribute__((visibility("default"))) void KestruneDouble_SetResult(const char* name, long long value) {
    Results()[name] = value;
}

#define KESTRUNE_ENTRY(ret, name, params) \
    __attribute__((visibility("default"))) ret name params { return Answer<ret>(#name); }
#define FPDF_GetLastError FPDF_GetLastError_Unused
#include <kestrune/EntryPoints.def>
#undef FPDF_GetLastError

__attribute__((visibility("default"))) unsigned long FPDF_GetLastError(void) { return LastError; }
}
