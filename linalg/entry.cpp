// The entry points over the current factorization: the solve's own while a solvelp runs
// (factorization_in_use), else one object for the whole process.
#include <limits>

#include "linalg/factor.h"
#include "linalg/factor_info.h"
#include "linalg/factorization.h"

namespace orva {

namespace {

factorization *current = nullptr;

factorization &process_wide() {
    static factorization f;
    return f;
}

factorization &in_use() { return current ? *current : process_wide(); }

} // namespace

factorization_in_use::factorization_in_use(factorization &f) : previous_(current) { current = &f; }
factorization_in_use::~factorization_in_use() { current = previous_; }

factor_status inv_num(LP *lp, const double *Dn, const double *Dm) { return in_use().factor(lp, Dn, Dm); }

double getpertval(int a, int b) {
    if (a + b <= 0) return std::numeric_limits<double>::infinity();
    // -inf (no column among the positions) stays -inf.
    return 1.1 * in_use().largest_primal_pivot(a + b, b);
}

void inv_clo() { in_use().release(); }

solve_status solve(LP *lp, const double *Dn, const double *Dm, double *bx, double *by) {
    return in_use().solve(lp, Dn, Dm, bx, by);
}

factor_view factor_info() { return in_use().view(); }

} // namespace orva
