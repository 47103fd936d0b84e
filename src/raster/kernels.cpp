#include "raster/kernels.h"

#if defined(NVCH_TEST_SEAMS)
#include "raster/kernel_faults.h"
#endif

#include <atomic>
#include <cstdio>

namespace {

bool has_vbmi() { return __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw"); }
bool has_avx512() { return __builtin_cpu_supports("avx512f"); }
bool has_avx2() { return __builtin_cpu_supports("avx2"); }
bool has_masked_stores() {
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("bmi2");
}
bool always() { return true; }

// Blocks read through byte shuffles beat gathers, AVX-512 ones too, so
// both block kernels come before every gather.
constexpr KernelInfo<SkewKernel> kSkewKernels[] = {
    {SkewKernel::vbmi_blocks, "vbmi_blocks", "AVX-512 VBMI and BW", has_vbmi},
    {SkewKernel::avx2_blocks, "avx2_blocks", "AVX2", has_avx2},
    {SkewKernel::avx512_gathers, "avx512_gathers", "AVX-512 F", has_avx512},
    {SkewKernel::avx2_gathers, "avx2_gathers", "AVX2", has_avx2},
    {SkewKernel::sse2, "sse2", "SSE2", always},
    {SkewKernel::scalar, "scalar", "nothing", always},
};

constexpr KernelInfo<RunKernel> kRunKernels[] = {
    {RunKernel::masked, "masked", "AVX-512 BW and VL, and BMI2", has_masked_stores},
    {RunKernel::plain, "plain", "SSE2", always},
};

template <typename Kernel, std::size_t N>
const KernelInfo<Kernel> &info_of(const KernelInfo<Kernel> (&table)[N], Kernel kernel) {
    for (const auto &k : table)
        if (k.kernel == kernel) return k;
    return table[N - 1];
}

template <typename Kernel, std::size_t N>
Kernel best_of(const KernelInfo<Kernel> (&table)[N]) {
    for (const auto &k : table)
        if (k.has()) return k.kernel;
    return table[N - 1].kernel;
}

#if defined(NVCH_TEST_SEAMS)
std::atomic<uint32_t> pretend_lacking{0};   // a bit per kernel
bool pretends_lacking(SkewKernel kernel) {
    return (pretend_lacking.load() >> static_cast<int32_t>(kernel) & 1) != 0;
}
#else
constexpr bool pretends_lacking(SkewKernel) { return false; }
#endif

}  // namespace

#if defined(NVCH_TEST_SEAMS)
void skew_kernel_pretend_lacking(SkewKernel kernel, bool lacking) {
    const uint32_t bit = 1u << static_cast<int32_t>(kernel);
    if (lacking)
        pretend_lacking.fetch_or(bit);
    else
        pretend_lacking.fetch_and(~bit);
}
#endif

bool skew_kernel_runs(SkewKernel kernel) { return skew_kernel_info(kernel).has() && !pretends_lacking(kernel); }

std::span<const KernelInfo<SkewKernel>> skew_kernels() { return kSkewKernels; }
std::span<const KernelInfo<RunKernel>> run_kernels() { return kRunKernels; }

const KernelInfo<SkewKernel> &skew_kernel_info(SkewKernel kernel) { return info_of(kSkewKernels, kernel); }
const KernelInfo<RunKernel> &run_kernel_info(RunKernel kernel) { return info_of(kRunKernels, kernel); }

SkewKernel skew_kernel_best() {
    static const SkewKernel best = best_of(kSkewKernels);
    return best;
}

RunKernel run_kernel_best() {
    static const RunKernel best = best_of(kRunKernels);
    return best;
}

const char *kernels_in_use() {
    static const auto text = [] {
        struct Text {
            char bytes[96];
        } t{};
        std::snprintf(t.bytes, sizeof t.bytes, "%s (skewed serving), %s (run decoding)",
                      skew_kernel_info(skew_kernel_best()).name, run_kernel_info(run_kernel_best()).name);
        return t;
    }();
    return text.bytes;
}
