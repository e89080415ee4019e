#include "engine/FpuMask.h"

#include <cstdint>

namespace kestrune {
namespace {

constexpr std::uint16_t kX87Masks = 0x3F;
// MXCSR holds the same six masks in the same order, at bits 7 to 12, and the
// matching exception flags at bits 0 to 5. Doubles on x86-64 use SSE, so the
// x87 word alone would mask nothing that C++ code computes.
constexpr int kMxcsrMaskShift = 7;
constexpr std::uint32_t kMxcsrFlags = 0x3F;

std::uint16_t ReadX87() {
    std::uint16_t cw;
    asm volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

void WriteX87(std::uint16_t cw) {
    // Clear pending exceptions first, so that unmasking cannot trap on a stale flag.
    asm volatile("fnclex\n\tfldcw %0" : : "m"(cw));
}

std::uint32_t ReadMxcsr() {
    std::uint32_t v;
    asm volatile("stmxcsr %0" : "=m"(v));
    return v;
}

void WriteMxcsr(std::uint32_t v) { asm volatile("ldmxcsr %0" : : "m"(v)); }

void SetMasks(int masks) {
    const auto bits = static_cast<std::uint16_t>(masks & kX87Masks);
    WriteX87(static_cast<std::uint16_t>((ReadX87() & ~kX87Masks) | bits));
    const std::uint32_t sseMasks = kX87Masks << kMxcsrMaskShift;
    WriteMxcsr((ReadMxcsr() & ~sseMasks & ~kMxcsrFlags) | (std::uint32_t(bits) << kMxcsrMaskShift));
}

}  // namespace

int SaveFpuMask() {
    const int saved = ReadX87() & kX87Masks;
    SetMasks(kX87Masks);
    return saved;
}

void RestoreFpuMask(int Saved) { SetMasks(Saved); }

}  // namespace kestrune
