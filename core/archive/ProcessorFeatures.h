// What the processor (and, for the wide registers, the system) offers beyond the build's baseline, read
// once with CPUID. The 32-bit build runs on processors back to the Pentium Pro, so every faster path is
// chosen at run time.
#pragma once

class CProcessorFeatures {
public:
    static bool Sse2();
    static bool CarrylessMultiply();     // PCLMULQDQ with SSE2
    static bool WideCarrylessMultiply(); // AVX2 and VPCLMULQDQ, YMM state saved by the system
    static bool ShaExtensions();         // SHA-NI with SSSE3 and SSE4.1, which its rounds need around them

private:
    struct SFeatures {
        bool m_sse2 = false;
        bool m_carryless = false;
        bool m_wideCarryless = false;
        bool m_sha = false;
    };
    static const SFeatures& Get();
    static SFeatures Detect();
};
