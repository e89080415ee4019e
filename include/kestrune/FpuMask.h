// Masking floating-point exceptions around engine work.
#pragma once

namespace kestrune {

// Masks all six floating-point exceptions (invalid, denormal, zero divide,
// overflow, underflow, precision) in the x87 control word and, in step with it,
// in the SSE control register (which governs double arithmetic on x86-64),
// clears pending exception flags, and returns the six mask bits that were in
// force (x87 bit order, 0x3F = all masked). Only when the SSE masks differed
// from the x87 ones does the value carry them too, above bit 7.
int SaveFpuMask();

// Puts back the mask bits returned by SaveFpuMask (a plain six-bit value sets
// both units alike), leaving every other bit of both control registers as it
// is now.
void RestoreFpuMask(int Saved);

// Scope guard: SaveFpuMask on construction, RestoreFpuMask on every way out.
class FpuMaskScope {
public:
    FpuMaskScope() : FSaved(SaveFpuMask()) {}
    ~FpuMaskScope() { RestoreFpuMask(FSaved); }
    FpuMaskScope(const FpuMaskScope&) = delete;
    FpuMaskScope& operator=(const FpuMaskScope&) = delete;

private:
    int FSaved;
};

}  // namespace kestrune
