// Postsolve: the reduced problem's solution carried back through the stack of
// reductions, and the check of a solution on its problem.
//
// The stack is undone in reverse order.  Before a step is undone the point is a solution
// of the problem as it stood after that step, with the same residuals; undoing it gives
// a solution of the problem before the step.  Rows removed earlier still have y = 0 and
// take no part in the reduced costs formed on the way, which is right: they were not part
// of the problem at that stage.  Q terms count only the columns restored so far (the
// others were folded into the costs stored with the step).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "files/specs.h"
#include "ipm/ipm.h"
#include "lp/alloc.h"
#include "lp/lp.h"
#include "presolve/presolve.h"

namespace orva {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double BIG = 1e8;

double lower_of(const LP *lp, int j) {
    const double l = lp->l ? lp->l[j] : 0.0;
    return l < -BIG ? -INF : l;
}
double upper_of(const LP *lp, int j) {
    const double u = lp->u ? lp->u[j] : INF;
    return u > BIG ? INF : u;
}

// Figures to which P and D agree, as the solver's log counts them.
int figures(double P, double D) {
    const double lg = std::log10(std::fabs(P - D) / (std::fabs(P) + 1) + 1e-60);
    if (!(lg < 0)) return 0;
    const double e = -lg, whole = std::floor(e);
    return static_cast<int>(whole) + (e - whole > 0.5 ? 1 : 0);
}

double *vector_of(double *&p, const char *name, const char *expr, int len) {
    if (!p) p = xmalloc<double>(name, expr, len);
    return p;
}

// Row activities A x, gradients c + Q x and reduced costs max*(c + Q x) - A'y at the
// record's x and y.
struct evaluation {
    std::vector<double> act, grad, rc;
};
evaluation evaluate(const LP *lp) {
    const int m = lp->m, n = lp->n;
    evaluation E;
    E.act.assign(static_cast<std::size_t>(m), 0.0);
    E.grad.assign(static_cast<std::size_t>(n), 0.0);
    E.rc.assign(static_cast<std::size_t>(n), 0.0);
    for (int j = 0; j < n; ++j) {
        double aty = 0;
        for (int p = lp->kA[j]; p < lp->kA[j + 1]; ++p) {
            E.act[lp->iA[p]] += lp->A[p] * lp->x[j];
            aty += lp->A[p] * lp->y[lp->iA[p]];
        }
        E.rc[j] = -aty;
        if (lp->kQ)
            for (int p = lp->kQ[j]; p < lp->kQ[j + 1]; ++p) E.grad[lp->iQ[p]] += lp->Q[p] * lp->x[j];
    }
    for (int j = 0; j < n; ++j) {
        E.grad[j] += lp->c ? lp->c[j] : 0.0;
        E.rc[j] += lp->max * E.grad[j];
    }
    return E;
}

} // namespace

solcheck chksol(const LP *lp) {
    solcheck ck;
    const int m = lp->m, n = lp->n;
    if (!lp->x || (m > 0 && !lp->y)) return ck;
    const evaluation E = evaluate(lp);
    double obj = lp->f, bnorm2 = 0, cq2 = 0, S = 0;
    auto raise = [](double &cur, double v) {
        if (!(v <= cur)) cur = v;  // NaN wins
    };
    for (int i = 0; i < m; ++i) {
        const double b = lp->b ? lp->b[i] : 0.0, r = lp->r ? lp->r[i] : 0.0;
        const double lo = b, hi = r == INF ? INF : b + r, y = lp->y[i], act = E.act[i];
        if (lo == -INF) {  // free row: its dual must be 0
            raise(ck.dres, std::fabs(y));
            continue;
        }
        bnorm2 += b * b;
        raise(ck.pres, lo - act);
        if (hi < INF) raise(ck.pres, act - hi);
        if (hi == INF) raise(ck.dres, -y);
        // The active side's product: y > 0 at the lower side, y < 0 at the upper one.
        // An equation has none (its residual is the primal one), as in the solver's sum.
        if (hi == lo) continue;
        const double prod = std::fabs(y > 0 ? y * (act - lo) : (hi < INF ? -y * (hi - act) : 0.0));
        raise(ck.cmax, prod);
        S += prod;
    }
    double Src = S;  // the same sum with the bound duals taken from the reduced costs
    for (int j = 0; j < n; ++j) {
        const double x = lp->x[j], rc = E.rc[j];
        const double l = lower_of(lp, j), u = upper_of(lp, j);
        const double z = lp->z ? lp->z[j] : 0.0, s = lp->s ? lp->s[j] : 0.0;
        obj += 0.5 * x * (E.grad[j] + (lp->c ? lp->c[j] : 0.0));
        cq2 += E.grad[j] * E.grad[j];
        // The solver's dual measure: a reduced cost of a sign no bound takes; for a
        // column with both bounds, the residual of its split into the two bound duals.
        if (l == -INF && u == INF)
            raise(ck.dres, std::fabs(rc));
        else if (u == INF)
            raise(ck.dres, -rc);
        else if (l == -INF)
            raise(ck.dres, rc);
        else
            raise(ck.dres, std::fabs(rc - z + s));
        if (l > -INF) {
            raise(ck.pres, l - x);
            const double prod = std::fabs(z * (x - l));
            raise(ck.cmax, prod);
            S += prod;
            Src += std::fabs(std::max(rc, 0.0) * (x - l));
        }
        if (u < INF) {
            raise(ck.pres, x - u);
            const double prod = std::fabs(s * (u - x));
            raise(ck.cmax, prod);
            S += prod;
            Src += std::fabs(std::max(-rc, 0.0) * (u - x));
        }
    }
    ck.pobj = obj;
    ck.dobj = ck.pobj - lp->max * S;
    ck.gapfig = figures(ck.pobj, ck.pobj - lp->max * Src);
    ck.primal_inf = ck.pres / (std::sqrt(bnorm2) + 1);
    ck.dual_inf = ck.dres / (std::sqrt(cq2) + 1);
    ck.sigfig = figures(ck.pobj, ck.dobj);
    ck.ok = ck.primal_inf <= lp->inftol && ck.dual_inf <= lp->inftol && ck.sigfig >= lp->sf_req;
    return ck;
}

solcheck postsolve(const prep *ps, LP *lp) {
    const LP *red = ps->red;
    if (!red || !red->x) return {};
    const int m = ps->m, n = ps->n;
    double *x = vector_of(lp->x, "x", "n", n), *y = vector_of(lp->y, "y", "m", m);
    double *z = vector_of(lp->z, "z", "n", n), *s = vector_of(lp->s, "s", "n", n);
    std::fill(x, x + n, 0.0);
    std::fill(y, y + m, 0.0);
    std::fill(z, z + n, 0.0);
    std::fill(s, s + n, 0.0);
    std::vector<char> restored(static_cast<std::size_t>(n), 0);

    // The reduced solution: the bound duals of the bounds the reduced problem has.
    for (int j = 0; j < n; ++j) {
        const int jj = ps->colmap[j];
        if (jj < 0) continue;
        restored[j] = 1;
        x[j] = red->x[jj];
        if (red->l[jj] > -INF && red->z) z[j] = red->z[jj];
        if (red->u[jj] < INF && red->s) s[j] = red->s[jj];
    }
    for (int i = 0; i < m; ++i)
        if (ps->rowmap[i] >= 0 && red->y) y[i] = red->y[ps->rowmap[i]];

    const double sense = lp->max;
    const prep_ent *pool = ps->pool.data();
    for (auto it = ps->stack.rbegin(); it != ps->stack.rend(); ++it) {
        const prep_step &st = *it;
        const prep_ent *ent = pool + st.first;
        switch (st.kind) {
        case PK_DROPROW: y[st.i] = 0.0; break;
        case PK_FIXCOL: {
            const int j = st.j;
            x[j] = st.v;
            restored[j] = 1;
            double g = st.cost;
            if (lp->kQ)
                for (int p = lp->kQ[j]; p < lp->kQ[j + 1]; ++p)
                    if (restored[lp->iQ[p]]) g += lp->Q[p] * x[lp->iQ[p]];
            double rc = sense * g;
            for (int t = 0; t < st.len; ++t) rc -= ent[t].val * y[ent[t].idx];
            z[j] = std::max(rc, 0.0);
            s[j] = std::max(-rc, 0.0);
            break;
        }
        case PK_SINGROW: {
            // The bounds this row gave hold the duals that belong to it.
            const double t = ((st.flags & 1) ? z[st.j] : 0.0) - ((st.flags & 2) ? s[st.j] : 0.0);
            y[st.i] = t / st.a;
            if (st.flags & 1) z[st.j] = 0.0;
            if (st.flags & 2) s[st.j] = 0.0;
            break;
        }
        case PK_FORCEROW: {
            // The columns sit at the bounds that give the forcing side; the row's dual
            // (<= 0 at the upper side, >= 0 at the lower one) is the smallest that
            // leaves every reduced cost with the sign its bound asks for.
            double yi = 0.0;
            for (int t = 0; t < st.len; ++t) {
                const double q = (z[ent[t].idx] - s[ent[t].idx]) / ent[t].val;
                yi = st.v > 0 ? std::min(yi, q) : std::max(yi, q);
            }
            y[st.i] = yi;
            for (int t = 0; t < st.len; ++t) {
                const int j = ent[t].idx;
                const double rc = z[j] - s[j] - ent[t].val * yi;
                z[j] = std::max(rc, 0.0);
                s[j] = std::max(-rc, 0.0);
            }
            break;
        }
        case PK_DUPROW: {
            // Row k is a times row i; the part of row i's dual that belongs to the sides
            // row k gave goes back to row k.
            const double yi = y[st.i];
            double t = 0.0;
            if ((st.flags & 1) && yi > 0) t = yi;
            if ((st.flags & 2) && yi < 0) t = yi;
            y[st.k] = t / st.a;
            y[st.i] = yi - t;
            break;
        }
        case PK_COLSING: {
            const int j = st.j;
            double rest = 0.0;
            for (int t = 0; t < st.len; ++t) rest += ent[t].val * x[ent[t].idx];
            x[j] = (st.v - rest) / st.a;
            restored[j] = 1;
            y[st.i] = sense * st.cost / st.a;
            z[j] = s[j] = 0.0;
            break;
        }
        case PK_DOUBLETON: {
            // a x_j + w x_k = v.  Bounds of x_k that came from x_j's bounds hand their
            // duals to x_j's; the row's dual then makes x_j's reduced cost right.
            const int j = st.j, k = st.k;
            x[j] = (st.v - st.w * x[k]) / st.a;
            restored[j] = 1;
            const double rho = st.w / st.a;
            const double moved = ((st.flags & 1) ? z[k] : 0.0) - ((st.flags & 2) ? s[k] : 0.0);
            if (st.flags & 1) z[k] = 0.0;
            if (st.flags & 2) s[k] = 0.0;
            const double d = -moved / rho;  // z_j - s_j
            z[j] = std::max(d, 0.0);
            s[j] = std::max(-d, 0.0);
            double rc = sense * st.cost - d;
            for (int t = 0; t < st.len; ++t) rc -= ent[t].val * y[ent[t].idx];
            y[st.i] = rc / st.a;
            break;
        }
        default: break;
        }
    }

    lp->iter = red->iter;
    const solcheck ck = chksol(lp);
    lp->primal_obj = ck.pobj;
    lp->dual_obj = ck.dobj;
    if (lp->verbose >= 2)
        std::printf("postsolve: primal residual %.1e, dual residual %.1e, complementarity %.1e (%s)\n", ck.pres,
                    ck.dres, ck.cmax, ck.ok ? "within the tolerances" : "NOT within the tolerances");
    return ck;
}

int solve_presolved(prep *ps, LP *lp) {
    if (ps->status != 0) {
        // Infeasible or unbounded: the solver's result without iterating.
        lp->iter = 0;
        if (lp->verbose >= 1) std::printf("presolve: %s\n", ps->reason.data());
        if (lp->verbose >= 2) std::printf("----------------------\n%s\n", result_messages[ps->status]);
        return ps->status;
    }
    int status = solvelp(ps->red);
    const solcheck ck = postsolve(ps, lp);
    if (status == 0 && (!ck.ok || ck.gapfig < 3)) {
        // The solver's tests passed on the reduced problem, but on the problem as read the
        // point misses the tolerances, or its reduced costs leave a gap of more than 1e-3
        // (the solver's stopping test looks at the signs of the reduced costs of one-sided
        // columns, not at their bound duals): no claim of optimality.
        status = 1;
        if (lp->verbose >= 1)
            std::printf("postsolve: not optimal on the problem as read (objectives agree to %d figures, "
                        "%d by the reduced costs)\n",
                        ck.sigfig, ck.gapfig);
    }
    // The check stands between the solver's message and what follows: the message once
    // more, so that it stays the last line.
    if (lp->verbose >= 2) opt_message(status);
    return status;
}

} // namespace orva
