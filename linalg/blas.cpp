// Set-up of the BLAS that the factorization's large updates call (dgemm).
//
// OpenBLAS built for several processors (Debian's) picks its kernels when it loads, by the
// processor's family and model number.  A model it does not know yet falls back to its
// oldest x86-64 kernels (SSE3, "Prescott"), whatever the processor can do: on a recent
// Xeon with AVX-512 its dgemm then runs at a quarter of the speed of its own AVX-512
// kernels.  When that has happened (and the user has not chosen kernels through
// OPENBLAS_CORETYPE), the kernels are chosen again by the instruction sets the processor
// reports, through OpenBLAS's own forced choice.  Other BLAS libraries are left alone.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "linalg/blas.h"

extern "C" {
void openblas_set_num_threads(int) __attribute__((weak));
char *openblas_get_corename(void) __attribute__((weak));
void gotoblas_dynamic_init(void) __attribute__((weak));
void gotoblas_dynamic_quit(void) __attribute__((weak));
}

namespace orva {

namespace {

// The OpenBLAS kernel set for what the processor reports; null when the fallback is
// as good as it gets.
const char *kernels_for_processor() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512cd"))
        return "SkylakeX";
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return "Haswell";
#endif
    return nullptr;
}

void choose_kernels() {
    if (openblas_set_num_threads) openblas_set_num_threads(1);
    if (!openblas_get_corename || !gotoblas_dynamic_init || !gotoblas_dynamic_quit) return;
    if (std::getenv("OPENBLAS_CORETYPE")) return;  // the user's choice
    const char *core = openblas_get_corename();
    if (!core || std::strcmp(core, "Prescott") != 0) return;
    const char *better = kernels_for_processor();
    if (!better) return;
    // OpenBLAS reads the forced choice from its environment variable; it is set only
    // for this call, so that programs started later choose for themselves.
    setenv("OPENBLAS_CORETYPE", better, 1);
    gotoblas_dynamic_quit();
    gotoblas_dynamic_init();
    unsetenv("OPENBLAS_CORETYPE");
}

} // namespace

void blas_setup() {
    static std::once_flag done;
    std::call_once(done, choose_kernels);
}

const char *blas_kernels() {
    return openblas_get_corename ? openblas_get_corename() : nullptr;
}

} // namespace orva
