// Read-only view of the factorization work space, for tests and benchmarks.
#pragma once

#include <vector>

namespace orva {

struct factor_view {
    bool built = false;        // a work space exists (after inv_num, before inv_clo)
    int n = 0, m = 0;          // sizes at the symbolic phase
    const int *perm = nullptr; // node at each position
    const int *iperm = nullptr;
    const int *snode = nullptr;  // supernode of each node
    const int *xsuper = nullptr; // nsuper+1 first positions
    int nsuper = 0;
    const int *split = nullptr;  // column-chunk sizes
    const int *kAAt = nullptr;   // L by columns (positions)
    const int *iAAt = nullptr;
    const double *AAt = nullptr;
    const double *diag = nullptr;
    const int *mark = nullptr;
    int lnz = 0;
    long long tmpsiz = 0;
    int ndep = 0;
    double epsdiag = 0;          // the module's current copy (the columns' floor)
    double epsrow = 0;           // the rows' floor
    double arith_ops = 0;
    int window = 0;              // size of the dense window
    int dense = 0;               // dense threshold in force
    int pdf = 0;                 // ordering priority in force (1 primal, 2 dual)
    int method = 0;
    int nblk = 0;                // blocks of columns sharing a structure (numeric phase)
    const int *xblk = nullptr;   // first column of each block, in the numeric phase's order
    std::vector<long long> bsize; // front size of each block (doubles)
    double symbolic_seconds = 0; // processor seconds of the last symbolic phase
};

// A snapshot of the current factorization's work space (pointers stay valid until
// inv_clo).
factor_view factor_info();

} // namespace orva
