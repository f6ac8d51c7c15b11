// The BLAS of the factorization's large updates.
#pragma once

namespace orva {

// Makes the BLAS run on one thread and, when OpenBLAS did not recognise the processor
// and fell back to its SSE3 kernels, chooses its kernels by the instruction sets the
// processor reports (AVX-512 or AVX2).  Once per process, before the first BLAS call;
// the factorization's analysis calls it.
void blas_setup();

// The name of the kernel set OpenBLAS uses (null with another BLAS).
const char *blas_kernels();

} // namespace orva
