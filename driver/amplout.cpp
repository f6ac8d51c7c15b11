// The result returned to AMPL: solve result code, message and solution in the .sol file.
#include "driver/asl_glue.h"

namespace orva {

namespace {
struct result_entry {
    const char *msg;
    int code;
};
// Indexed by the result code of solvelp; every code of 9 or more takes entry 9.
const result_entry results[] = {
    {"optimal solution", 0},
    {"suboptimal solution", 100},
    {"iteration limit", 400},
    {"primal infeasible", 201},
    {"dual infeasible", 202},
    {"primal and/or dual infeasible", 203},
    {"primal infeasible -- inconsistent equations", 210},
    {"primal unbounded", 301},
    {"dual unbounded", 302},
    {"resource limit", 500},
};
} // namespace

void amplout(ASL *asl, LP *lp, int result) {
    const unsigned idx = static_cast<unsigned>(result) >= 9u ? 9u : static_cast<unsigned>(result);
    const result_entry &e = results[idx];
    solve_code = e.code;

    char buf[256];
    int len = Snprintf(buf, sizeof buf, "%s: ", Oinfo.bsname);
    auto append = [&](const char *fmt, auto... args) {
        if (len < 0 || static_cast<size_t>(len) >= sizeof buf) return;
        const int w = Snprintf(buf + len, sizeof buf - len, fmt, args...);
        if (w > 0) len += w;
    };
    append("%s (%d %siterations, %d evaluations)", e.msg, lp->iter, lp->quadratic ? "QP " : "",
           evals.fun_count);
    // The ASL divides the duals it writes by its Lagrangian scale (-1 when minimising,
    // +1 when maximising); handing it the negated multipliers makes AMPL receive
    // d(objective)/d(right-hand side) in both senses.
    for (int i = 0; i < lp->m; ++i) lp->y[i] = -lp->y[i];
    if (result == 0 || result == 1 || result == 2) {
        char pobj[32], dobj[32];
        g_fmtop_ASL(pobj, lp->primal_obj);
        g_fmtop_ASL(dobj, lp->dual_obj);
        append("\nprimal objective %s", pobj);
        append("\n  dual objective %s", dobj);
    }
    write_sol_ASL(asl, buf, lp->x, lp->y, &Oinfo);
}

} // namespace orva
