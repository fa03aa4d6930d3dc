#pragma once

namespace pelora::cpu {

// Instruction-set extensions the processor and the operating system both support (the
// AVX ones need the OS to save the wide registers). Read once; false on processors
// other than x86. The same answers on every compiler, unlike the compilers' own
// built-in queries, which not all of them accept for every feature.
struct CpuFeatures {
    bool avx = false;
    bool avx2 = false;
    bool fma = false;
    bool f16c = false;

    static const CpuFeatures& current();
};

}  // namespace pelora::cpu
