#include "lp/best.h"

#include "ipm/ipm.h"
#include "lp/lp.h"

namespace orva {

void best_settings(LP *lp, best_choice which) {
    // Minimum degree, or nested dissection where that needs less than half the operations:
    // on the largest public problems it does (dfl001: 0.62 against 1.30 Gflop per
    // factorization; cvxqp1_l 0.94 against 5.5), while on most others minimum degree
    // orders as well and its factors are the ones the method was tuned with.
    if (which.ordering) lp->method = 5;
    // The fill estimates choose the primal priority for cvxqp1_l, whose factor then takes
    // 49 Gflop against 0.94 for the dual one: the other priority is ordered too and taken
    // when it needs less than half the operations.
    if (which.priority) lp->pdf = 3;
    // The described start puts every slack and dual at a fixed floor (100 for MPS files)
    // and, for a convex quadratic program (which orva-mps makes of every file), x at the
    // solution of one system whose right-hand side mixes costs and rows: dfl001 (costs up
    // to 4e7) took 121 iterations from it, 53 from the least-squares start.  Its variant
    // with the rows' slacks at their own scale changes only quadratic programs in
    // inequality form: liswet1 took 106 iterations from the plain one, 41 from it,
    // powell20 27 and 22.
    if (which.start) lp->init = lsq_rows_init;
}

void best_corrector(LP *lp) {
    // One centrality corrector after a corrector with Mehrotra's adaptive centering:
    // liswet1 took 106 iterations with the described corrector, 67 with this one, powell20
    // 27 and 19; over the public quadratic programs the geometric mean of the iterations
    // fell by 5%.  Linear programs gain less (9% of the iterations) and their degenerate
    // ends are where a longer step breaks down: degen3 and greenbea given as inequality
    // rows ended short of the optimum with it, so they keep the described corrector.
    lp->pred_corr = lp->qnz > 0 ? 3 : 1;
}

} // namespace orva
