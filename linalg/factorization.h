// The sparse LDL' factorization of the reduced (quasi-definite) system and its solves.
//
//     K = [ -(max*Q + Dn')   A' ]     columns first (n), then rows (m),
//         [       A         Dm' ]
//
// with Dn'_j = max(Dn[j] + pert_primal, epsdiag) and Dm'_i = max(Dm[i] + pert_dual, epsdiag)
// (pert_primal, pert_dual and max from the lp record, epsdiag the object's own copy).
//
// The contract, in the order of use:
//
//   analyse(lp)    orders the graph of A and Q (A's and Q's patterns, not their values),
//                  builds the structure of L, its supernodes, the column blocking and the
//                  dense fronts of the numeric phase.  It copies the settings it uses from
//                  the record now (epssol, epsnum, epsdiag, stablty, method, dense, pdf,
//                  convex): later changes of the record's settings are not seen until the
//                  next analyse.  At verbose 2 and above it prints the size of L; at 3 and
//                  above the ordering's figures.
//   factor(lp, Dn, Dm)
//                  loads K's values and factors it without pivoting, in the order of the
//                  analysis.  Pivots with |d| <= epsnum * max|K_ii| are dependent: counted
//                  (ndep), and either neutralised (column of L zeroed, the pivot not used by
//                  the solves) or, when their column of L has an entry of at least 0.01,
//                  replaced by -1e-8 (columns) or +1e-8 (rows).  When the smallest pivot is
//                  below 1e-14 the object's epsdiag grows tenfold, for the later calls (it
//                  stays raised until the next analyse).  The rows' floor is kept apart
//                  from the columns' (epsrow): when the solves of three factors in a row
//                  stall with the residual in the row equations while rows sat on it, the
//                  next factor lowers it to a millionth of epsdiag, and puts it back for
//                  good when the solves with the lowered floor do no better (see
//                  solve.cpp).  A linear program whose factors show a column pivot of
//                  the wrong sign three times in a row, in an order that moved dense nodes
//                  behind the rows, is analysed again at the next factor with those nodes
//                  kept in their tier (once, until release).  It prints dependent pivots and
//                  wrong-signed pivots at verbose 3, the raised epsdiag at 2, the count of
//                  dependent pivots at exactly 2.  A record whose sizes or counts of entries
//                  of A and Q differ from the analysis is analysed again first.
//                  Returns ok, dependent (some pivot dependent) or breakdown (a pivot that
//                  is not a finite number: the factor is unusable, a solve gives NaN).
//   pivot_signs(), ndep(), largest_primal_pivot(limit, cols)
//                  what the interior-point method reads from the factor: the signs of the
//                  pivots, the count of dependent ones, and the largest pivot of a column
//                  (a convex problem's are all negative; see getpertval).
//   solve(lp, Dn, Dm, bx, by)
//                  solves K [x; y] = [bx; by] for the values of the last factor, then
//                  refines against the unclamped system (the Dn, Dm, pert_primal, pert_dual
//                  of that factor) while each pass at least halves the residual, taking
//                  back a last pass that made it larger.  x overwrites bx, y overwrites by
//                  (both are read in full first; with m = 0 they may be the same array).
//                  At verbose 3 each refinement pass prints its residuals.  Returns
//                  converged (largest residual within 1e-10 (1 + largest |rhs|) and a
//                  finite solution), stalled (refinement stopped above it), or no_factor
//                  (nothing factored for a system of these sizes: bx and by are left as
//                  they were).
//   release()      frees everything; the next factor analyses again.
//
// The object keeps its work space between calls (the structure, the fronts, the solve
// vectors).  A failed allocation throws orva::error: in analyse the object is left
// released, in factor it stays analysed but its factor is unusable until the next
// complete factor, in solve it keeps the last factor.
//
// The entry points of linalg/factor.h (inv_num, getpertval, solve, inv_clo) work on the
// current instance: one process-wide object, or, while solvelp runs, the solve's own
// (ipm/solver.h), so that the initial-point hook and the iterations share one factor and
// a solve never sees another record's structure.
//
// Where an ordering plugs in: the analysis runs the elimination order chosen by the
// `method` setting (linalg/order.cpp, `eliminate`); every later step (supernode starts,
// column blocking, postorder, fronts, load lists) only needs what an ordering produces:
// the order (perm, iperm), the supernode of each node and the structure of L by
// positions (kAAt, iAAt with ascending rows), its size and the largest elimination step.
#pragma once

#include "linalg/factor_ws.h"

namespace orva {

struct LP;
struct factor_view;

enum class factor_status {
    ok,         // every pivot accepted
    dependent,  // ndep() > 0 pivots declared dependent (and neutralised)
    breakdown,  // a pivot is not a finite number
};

enum class solve_status {
    converged,  // residual within the tolerance, finite solution
    stalled,    // refinement stopped above the tolerance (or the solution is not finite)
    no_factor,  // no factor of a system of these sizes: the right-hand side is untouched
};

// Signs of the pivots of the last factor.
struct inertia {
    int positive = 0, negative = 0;
    int zero = 0;  // dependent pivots left out of the solves, and pivots that are not numbers
};

class factorization {
public:
    factorization() = default;
    factorization(const factorization &) = delete;
    factorization &operator=(const factorization &) = delete;
    ~factorization() { release(); }

    void analyse(const LP *lp);
    bool analysed() const { return ws_.diag != nullptr; }
    // Whether the analysis fits the record (sizes and counts of entries of A and Q).
    bool fits(const LP *lp) const;

    factor_status factor(const LP *lp, const double *Dn, const double *Dm);
    inertia pivot_signs() const;
    int ndep() const { return ws_.ndep; }
    // Largest pivot among positions p < limit whose node is a column below `cols`
    // (perm[p] < cols), NaN pivots left out; -inf when there is none (or nothing is
    // factored).
    double largest_primal_pivot(int limit, int cols) const;

    solve_status solve(const LP *lp, const double *Dn, const double *Dm, double *bx, double *by);

    // Lowers the columns' diagonal floor tenfold from the next factor on, not below the
    // pivot size that would raise it again; false when it is there already or nothing is
    // factored.
    bool lower_column_floor(const LP *lp);

    void release();
    // Read-only view of the work space, for tests and benchmarks.
    factor_view view() const;

private:
    detail::factor_ws ws_;
    // Factors in a row of a linear program with pivots of the wrong sign, and whether the
    // structure is to be analysed again with its dense nodes kept in their tier (see
    // factor); both go with release().
    // The symbolic phase of analyse, keeping the object's own state (keep_dense_).
    void symbolic(const LP *lp);
    void watch_signs(const detail::factor_ws &ws, const LP *lp);
    int wrong_sign_run_ = 0;
    bool keep_dense_ = false, reanalyse_ = false;
};

// Makes `f` the instance that the entry points of linalg/factor.h work on, for the life
// of this object (solvelp holds one for its own factorization).
class factorization_in_use {
public:
    explicit factorization_in_use(factorization &f);
    ~factorization_in_use();
    factorization_in_use(const factorization_in_use &) = delete;
    factorization_in_use &operator=(const factorization_in_use &) = delete;

private:
    factorization *previous_;
};

} // namespace orva
