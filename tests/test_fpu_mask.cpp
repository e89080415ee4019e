// The floating-point exception mask on the real control registers: the x87
// control word and, in step with it, MXCSR (which governs double arithmetic on
// x86-64).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>

#include <kestrune/FpuMask.h>

using namespace kestrune;

namespace {

std::uint16_t ReadX87() {
    std::uint16_t cw;
    asm volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
void WriteX87(std::uint16_t cw) { asm volatile("fnclex\n\tfldcw %0" : : "m"(cw)); }
std::uint16_t ReadX87Status() {
    std::uint16_t sw;
    asm volatile("fnstsw %0" : "=m"(sw));
    return sw;
}
std::uint32_t ReadMxcsr() {
    std::uint32_t v;
    asm volatile("stmxcsr %0" : "=m"(v));
    return v;
}
void WriteMxcsr(std::uint32_t v) { asm volatile("ldmxcsr %0" : : "m"(v)); }

constexpr std::uint16_t kX87Masks = 0x3F;
constexpr std::uint16_t kX87Rounding = 0x0C00;
constexpr std::uint32_t kSseMasks = 0x3F << 7;
constexpr std::uint32_t kSseRounding = 0x6000;
constexpr std::uint32_t kSseZeroDivideFlag = 0x04;
constexpr int kZeroDivide = 0x04, kOverflow = 0x08;

// Puts both registers back as they were before the test, whatever it did.
class FpuMask : public ::testing::Test {
protected:
    void SetUp() override {
        FX87 = ReadX87();
        FMxcsr = ReadMxcsr();
    }
    void TearDown() override {
        WriteX87(FX87);
        WriteMxcsr(FMxcsr & ~0x3Fu);
    }
    // Unmasks zero divide and overflow in both registers.
    void UnmaskSome() {
        WriteX87(static_cast<std::uint16_t>(FX87 & ~(kZeroDivide | kOverflow)));
        WriteMxcsr(FMxcsr & ~(std::uint32_t(kZeroDivide | kOverflow) << 7) & ~0x3Fu);
    }
    std::uint16_t FX87 = 0;
    std::uint32_t FMxcsr = 0;
};

double Divide(double a, double b) {
    volatile double x = a, y = b;
    return x / y;
}

}  // namespace

TEST_F(FpuMask, SaveMasksAllSixAndRestorePutsBackOnlyTheMaskBits) {
    UnmaskSome();
    const int expected = kX87Masks & ~(kZeroDivide | kOverflow);

    const int saved = SaveFpuMask();
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(ReadX87() & kX87Masks, kX87Masks);
    EXPECT_EQ(ReadMxcsr() & kSseMasks, kSseMasks);

    // The work in between changes other bits: the rounding modes of both registers.
    WriteX87(static_cast<std::uint16_t>(ReadX87() | kX87Rounding));
    WriteMxcsr(ReadMxcsr() | kSseRounding);

    RestoreFpuMask(saved);
    EXPECT_EQ(ReadX87() & kX87Masks, expected);
    EXPECT_EQ(ReadMxcsr() & kSseMasks, std::uint32_t(expected) << 7);
    EXPECT_EQ(ReadX87() & kX87Rounding, kX87Rounding);
    EXPECT_EQ(ReadMxcsr() & kSseRounding, kSseRounding);
}

TEST_F(FpuMask, DoubleArithmeticDoesNotTrapUnderTheMask) {
    UnmaskSome();
    double quotient = 0;
    {
        FpuMaskScope mask;
        quotient = Divide(1.0, 0.0);  // would raise SIGFPE with zero divide unmasked
    }
    EXPECT_TRUE(std::isinf(quotient));
    EXPECT_EQ(ReadMxcsr() & (std::uint32_t(kZeroDivide) << 7), 0u) << "zero divide is unmasked again";
}

TEST_F(FpuMask, SavingClearsPendingFlagsAndTheScopeRestoresOnException) {
    // Raise zero-divide flags in both units while everything is masked.
    WriteX87(static_cast<std::uint16_t>(FX87 | kX87Masks));
    WriteMxcsr(FMxcsr | kSseMasks);
    EXPECT_TRUE(std::isinf(Divide(1.0, 0.0)));
    asm volatile("fldz\n\tfld1\n\tfdivp\n\tfstp %%st(0)" ::: "st");
    ASSERT_NE(ReadMxcsr() & kSseZeroDivideFlag, 0u);
    ASSERT_NE(ReadX87Status() & kZeroDivide, 0);
    // Unmask in MXCSR only, keeping its flags (an unmasked pending x87 flag
    // would trap at the next x87 instruction).
    WriteMxcsr(ReadMxcsr() & ~(std::uint32_t(kZeroDivide | kOverflow) << 7));
    try {
        FpuMaskScope mask;
        EXPECT_EQ(ReadX87Status() & kX87Masks, 0);
        EXPECT_EQ(ReadMxcsr() & 0x3Fu, 0u);
        throw std::runtime_error("engine work failed");
    } catch (const std::runtime_error&) {
    }
    // Each unit gets its own masks back, though they differed.
    EXPECT_EQ(ReadX87() & kX87Masks, kX87Masks);
    EXPECT_EQ(ReadMxcsr() & kSseMasks, std::uint32_t(kX87Masks & ~(kZeroDivide | kOverflow)) << 7);
    // A plain six-bit value sets both alike.
    RestoreFpuMask(kX87Masks & ~kOverflow);
    EXPECT_EQ(ReadX87() & kX87Masks, kX87Masks & ~kOverflow);
    EXPECT_EQ(ReadMxcsr() & kSseMasks, std::uint32_t(kX87Masks & ~kOverflow) << 7);
}
