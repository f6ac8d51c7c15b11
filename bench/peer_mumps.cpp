// MUMPS as the factorization benchmark's peer (see peer_mumps.h).  Without its
// development files (Debian: libmumps-seq-dev) the benchmark is built without it.
#include "bench/peer_mumps.h"

#include <ctime>

#ifdef ORVA_PEER_MUMPS
#include <dmumps_c.h>
#include <mpi.h>
#endif

namespace orva::bench {

#ifdef ORVA_PEER_MUMPS

namespace {

// Processor seconds, as the benchmark measures its own factorization.
double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

} // namespace

bool peer_mumps_built() { return true; }

peer_result peer_mumps(const sym_triplets &K, const std::vector<int> &perm_in, int reps,
                       const std::function<void()> &between) {
    peer_result res;
    static bool mpi_up = false;
    if (!mpi_up) {
        int argc = 0;
        char **argv = nullptr;
        MPI_Init(&argc, &argv);
        mpi_up = true;
    }
    DMUMPS_STRUC_C id{};
    id.comm_fortran = -987654;  // MPI_COMM_WORLD of the sequential library
    id.par = 1;
    id.sym = 2;  // symmetric, not necessarily definite: LDL'
    id.job = -1;
    dmumps_c(&id);
    if (id.infog[0] < 0) {
        res.what = "initialisation failed, INFOG(1)=" + std::to_string(id.infog[0]);
        return res;
    }
    // Quiet; no preprocessing of the matrix, no scaling, and no numerical pivoting:
    // the quasi-definite system is factored in the given order with the pivots it
    // has, as orva factors it.
    id.icntl[0] = id.icntl[1] = id.icntl[2] = -1;
    id.icntl[3] = 0;
    id.icntl[5] = 0;   // ICNTL(6): no column permutation
    id.icntl[7] = 0;   // ICNTL(8): no scaling
    id.icntl[11] = 1;  // ICNTL(12): plain ordering of the symmetric matrix
    id.cntl[0] = 0.0;  // CNTL(1): pivot threshold 0, static pivots
    std::vector<int> row = K.row, col = K.col, perm = perm_in;
    std::vector<double> val = K.val;
    id.n = K.n;
    id.nnz = static_cast<MUMPS_INT8>(val.size());
    id.irn = row.data();
    id.jcn = col.data();
    id.a = val.data();
    if (!perm.empty()) {
        id.icntl[6] = 1;  // ICNTL(7): the pivot order is given in PERM_IN
        id.perm_in = perm.data();
    }
    double t0 = cpu_seconds();
    id.job = 1;
    dmumps_c(&id);
    res.analysis_s = cpu_seconds() - t0;
    if (id.infog[0] < 0) {
        res.what = "analysis failed, INFOG(1)=" + std::to_string(id.infog[0]);
    } else {
        for (int r = 0; r < reps; ++r) {
            t0 = cpu_seconds();
            id.job = 2;
            dmumps_c(&id);
            res.times.push_back(cpu_seconds() - t0);
            if (id.infog[0] < 0) {
                res.what = "factorization failed, INFOG(1)=" + std::to_string(id.infog[0]) +
                           " INFOG(2)=" + std::to_string(id.infog[1]);
                break;
            }
            if (between) between();
        }
        if (res.what.empty()) {
            res.ok = true;
            res.flops = id.rinfog[2];  // RINFOG(3): operations of the elimination
            // INFOG(29): entries in the factors (negative: millions).
            res.entries = id.infog[28] >= 0 ? id.infog[28] : -1000000LL * id.infog[28];
        }
    }
    id.job = -2;
    dmumps_c(&id);
    return res;
}

#else

bool peer_mumps_built() { return false; }

peer_result peer_mumps(const sym_triplets &, const std::vector<int> &, int, const std::function<void()> &) {
    peer_result res;
    res.what = "not built (no MUMPS development files)";
    return res;
}

#endif

} // namespace orva::bench
