// Work space of one sparse LDL' factorization (internal to linalg/; the object of
// linalg/factorization.h holds one).
//
// The symbolic phase (order.cpp) fills the ordering, the structure of L, the
// supernode partition and the load lists; the numeric phase (factor.cpp) refills
// the values at every call; solve.cpp reads the factor.  release() frees it all.
#pragma once

#include <cstdint>

namespace orva {

struct LP;

namespace detail {

// The `method` values (orderings) and the `pdf` values (priorities) of the settings.
inline constexpr int method_none = 0, method_mindeg = 1, method_minlocfil = 2, method_amd = 3, method_nesdis = 4,
                     method_best = 5;
inline constexpr int priority_auto = 0, priority_primal = 1, priority_dual = 2, priority_by_fill = 3;

struct factor_ws {
    // Settings copied from the record at the start of each symbolic phase.
    double epssol = 0, epsnum = 0, epsdiag = 0, stablty = 0;
    // The floor of the rows' diagonal; it starts at epsdiag and each floor is raised
    // apart, by the tiny pivots of its own block.
    double epsrow = 0;
    // The lowest the rows' floor goes (a millionth of the configured epsdiag); whether a
    // solve with the current factor ran (solved) and found the floor in the way (see
    // solve.cpp); and the number of factors in a row whose solves found it so.  After
    // floor_run_to_lower of them the next factor lowers the rows' floor to epsrow_min.
    // The worst residual that the solves since the last factor left, relative to their
    // right-hand sides (`solve_share`), is kept when the floor is lowered; when the solves
    // with the lowered floor do not leave ten times less, the floor was not what held them
    // back: it goes back to `epsrow_before` and is not lowered again.
    double epsrow_min = 0, epsrow_before = 0;
    bool solved = false, rows_floor_hurts = false;
    int floor_run = 0;
    double solve_share = 0, share_at_lowering = -1;
    int rows_clamped = 0;  // rows of the last factor whose diagonal sat on the floor
    // Dense nodes stay in tier 0 (set by the factorization object before a symbolic phase
    // that must not move them, see factorization::factor); how many nodes the phase moved.
    bool keep_dense = false;
    int dense_moved = 0;
    int method = 1, dense = -1, pdf = 0, convex = 0;

    int n = 0, m = 0;          // sizes at the symbolic phase
    int *perm = nullptr;       // node at each position
    int *iperm = nullptr;      // position of each node
    int *kAAt = nullptr;       // column starts of L (n+m+1)
    int *iAAt = nullptr;       // row positions of L's off-diagonal entries
    double *AAt = nullptr;     // values of L's off-diagonal entries
    double *diag = nullptr;    // D by position; present once the work space is built
    int *mark = nullptr;       // 1 pivot accepted, 0 dependent
    int *snode = nullptr;      // supernode of each node
    int *xsuper = nullptr;     // first position of each supernode (nsuper+1)
    int nsuper = 0;
    int *split = nullptr;      // column-chunk sizes of each supernode
    int lnz = 0;
    long long tmpsiz = 0;      // largest off-diagonal count of one elimination step
    int ndep = 0;
    int window = 0;            // size of the dense window (trailing clique)
    double arith_ops = 0;
    int pdf_used = 0;          // the priority in force (automatic one resolved)
    // When positive, the analysis of a candidate order gives up (throws over_budget) as
    // soon as its L would take more than this many operations (sum of squared column
    // lengths): another candidate already needs fewer.
    double ops_budget = 0;
    double symbolic_seconds = 0;

    // The numeric phase factors the same matrix in a postorder of the elimination
    // tree ("ip" order; the factor is L relabelled), block by block: a block is a run
    // of consecutive columns factored in one dense front (ld x c, column-major; its
    // rows are the block's row list: its own c columns, then the rows below them).
    int *ip2pos = nullptr;      // position of each column of the ip order
    int *pos2ip = nullptr;
    double *dip = nullptr;      // pivots in the ip order
    int nblk = 0;
    int *xblk = nullptr;        // first column (ip) of each block (nblk+1)
    int *blkof = nullptr;       // block of each column (ip)
    int *bstart = nullptr;      // start of each block's row list in brows (nblk+1)
    int *brows = nullptr;       // row lists (ip, ascending)
    long long *soff = nullptr;  // start of each block's front in S (nblk+1); a single
                                // column without children has none (it is factored in AAt)
    long long ssize = 0;
    double *S = nullptr;        // the fronts, kept between calls
    int *runstart = nullptr;    // per column (ip): its runs in runs[2*runstart[i] .. 2*runstart[i+1])
    int *runs = nullptr;        // (first front row, length) pairs; none for a column with every row
    // Loading of K: for each column (ip), the entries of A and Q that fall into it
    // below the diagonal, as (offset in its block's front, source).  A source
    // s < nz is A[s]; s >= nz is Q[s-nz] (times -max).
    int *ldstart = nullptr;     // n+m+1
    std::int64_t *ldoff = nullptr;
    int *ldsrc = nullptr;
    int nzA = 0, nzQ = 0;       // entries of A and Q at the symbolic phase

    // Buffers of the numeric phase's BLAS updates (grown on demand) and their sizes.
    double *wpack = nullptr;
    double *ctmp = nullptr;
    long long wpack_have = 0, ctmp_have = 0;

    // Solve vectors.
    double *x_k = nullptr, *y_k = nullptr, *r = nullptr, *s = nullptr, *z = nullptr, *Qx = nullptr;
};

// Thrown by the analysis of a candidate order that exceeds its ops_budget.
struct over_budget {};

// Symbolic phase: ordering, structure of L, supernodes, column blocking, load lists.
void symbolic(factor_ws &W, const LP *lp);
// Frees every array of the work space and resets it.
void release(factor_ws &W);

} // namespace detail
} // namespace orva
