#include "lp/best.h"

#include "lp/lp.h"

namespace orva {

void best_settings(LP *lp, best_choice which) {
    // Nested dissection of the part of the reduced system eliminated last needs about half
    // the operations of minimum degree on the largest public LPs (dfl001: 0.62 against 1.30
    // Gflop per factorization) and a fifth on the largest QPs (cvxqp1_l: 0.94 against 5.5).
    if (which.ordering) lp->method = 4;
    // The fill estimates choose the primal priority for cvxqp1_l, whose factor then takes
    // 49 Gflop against 0.94 for the dual one: both are ordered and the cheaper one kept.
    if (which.priority) lp->pdf = 3;
}

} // namespace orva
