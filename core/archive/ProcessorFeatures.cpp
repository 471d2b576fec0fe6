#include "core/archive/ProcessorFeatures.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

bool CProcessorFeatures::Sse2()
{
    return Get().m_sse2;
}

bool CProcessorFeatures::CarrylessMultiply()
{
    return Get().m_carryless;
}

bool CProcessorFeatures::WideCarrylessMultiply()
{
    return Get().m_wideCarryless;
}

bool CProcessorFeatures::ShaExtensions()
{
    return Get().m_sha;
}

const CProcessorFeatures::SFeatures& CProcessorFeatures::Get()
{
    static const SFeatures s_features = Detect();
    return s_features;
}

CProcessorFeatures::SFeatures CProcessorFeatures::Detect()
{
    SFeatures features;
#if defined(__i386__) || defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        return features;
    }
    features.m_sse2 = (edx & (1u << 26)) != 0;
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    const bool pclmul = (ecx & (1u << 1)) != 0;
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool avx = (ecx & (1u << 28)) != 0;
    features.m_carryless = features.m_sse2 && pclmul;

    unsigned leaf7b = 0, leaf7c = 0;
    if (__get_cpuid_count(7, 0, &eax, &leaf7b, &leaf7c, &edx)) {
        features.m_sha = features.m_sse2 && ssse3 && sse41 && (leaf7b & (1u << 29)) != 0;
        if (osxsave && avx && pclmul) {
            unsigned xcr0Low = 0, xcr0High = 0;
            __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
            const bool avx2 = (leaf7b & (1u << 5)) != 0;
            const bool vpclmul = (leaf7c & (1u << 10)) != 0;
            features.m_wideCarryless = (xcr0Low & 6u) == 6u && avx2 && vpclmul;
        }
    }
#endif
    return features;
}
