#include "platform/cpu/CpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace pelora::cpu {

namespace {

CpuFeatures detect() {
    CpuFeatures features;
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return features;
    // AVX state (XMM and YMM registers) must be enabled by the OS, as XGETBV reports.
    bool wideRegisters = false;
    if (ecx & bit_OSXSAVE) {
        unsigned low = 0, high = 0;
        __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        wideRegisters = (low & 0x6) == 0x6;
    }
    features.avx = wideRegisters && (ecx & bit_AVX);
    features.fma = features.avx && (ecx & bit_FMA);
    features.f16c = features.avx && (ecx & bit_F16C);
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) features.avx2 = features.avx && (ebx & bit_AVX2);
#endif
    return features;
}

}  // namespace

const CpuFeatures& CpuFeatures::current() {
    static const CpuFeatures features = detect();
    return features;
}

}  // namespace pelora::cpu
