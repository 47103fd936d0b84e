// The kernels of the hot paths, each with the processor features it needs,
// and the one that runs. Decoding runs fills rows with one of two fills;
// serving a skewed chart upright reads its tiles with one of six kernels.
// Tests and benchmarks may ask for any kernel the processor can run.
#pragma once

#include <cstdint>
#include <span>

enum class SkewKernel : int32_t {
    vbmi_blocks,      // 8 x 8 blocks through byte permutes; their ragged ends by AVX-512 gathers
    avx2_blocks,      // 8 x 8 blocks through byte shuffles; their ragged ends by AVX2 gathers
    avx512_gathers,   // rows, sixteen pixels a gather
    avx2_gathers,     // rows, eight pixels a gather
    sse2,             // rows, four coordinates at a time, pixels read one by one
    scalar,           // rows, a pixel at a time
};

enum class RunKernel : int32_t {
    masked,   // runs filled with masked stores (AVX-512)
    plain,    // runs filled with whole 16-byte stores (SSE2, every build's baseline)
};

template <typename Kernel>
struct KernelInfo {
    Kernel kernel;
    const char *name;    // as benchmarks and nvch-host --version print it
    const char *needs;   // the processor features, as a message names them
    bool (*has)();       // whether this processor (and its system) has what it needs
};

// Every kernel, best first.
std::span<const KernelInfo<SkewKernel>> skew_kernels();
std::span<const KernelInfo<RunKernel>> run_kernels();

const KernelInfo<SkewKernel> &skew_kernel_info(SkewKernel kernel);
const KernelInfo<RunKernel> &run_kernel_info(RunKernel kernel);

// Whether this processor (and its system) runs `kernel`.
bool skew_kernel_runs(SkewKernel kernel);

// The first kernel of the list that this processor runs.
SkewKernel skew_kernel_best();
RunKernel run_kernel_best();

// "runs: vbmi_blocks (skewed serving), masked (run decoding)": the kernels
// that run here, for benchmarks and nvch-host --version.
const char *kernels_in_use();
