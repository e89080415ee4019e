#include <kestrune/FpuMask.h>

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

// Writes the x87 masks and the SSE masks, every other bit left as it is. The
// SSE flags are cleared with them, as fnclex clears the x87 ones.
void SetMasks(int x87Masks, int sseMasks) {
    const auto bits = static_cast<std::uint16_t>(x87Masks & kX87Masks);
    WriteX87(static_cast<std::uint16_t>((ReadX87() & ~kX87Masks) | bits));
    const std::uint32_t sseMaskBits = kX87Masks << kMxcsrMaskShift;
    WriteMxcsr((ReadMxcsr() & ~sseMaskBits & ~kMxcsrFlags) | (std::uint32_t(sseMasks & kX87Masks) << kMxcsrMaskShift));
}

// A program normally keeps both units' masks alike, and then the saved value is
// just the six x87 bits. When they differ, the SSE masks ride along above them
// (bit 8 says so, bits 9 to 14 hold them), so that restoring gives each unit
// back its own masks.
constexpr int kSseDiffers = 0x100;
constexpr int kSseShift = 9;

}  // namespace

int SaveFpuMask() {
    const int x87 = ReadX87() & kX87Masks;
    const int sse = int((ReadMxcsr() >> kMxcsrMaskShift) & kX87Masks);
    SetMasks(kX87Masks, kX87Masks);
    return sse == x87 ? x87 : x87 | kSseDiffers | (sse << kSseShift);
}

void RestoreFpuMask(int Saved) {
    const int x87 = Saved & kX87Masks;
    SetMasks(x87, (Saved & kSseDiffers) ? (Saved >> kSseShift) & kX87Masks : x87);
}

}  // namespace kestrune
