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

namespace {

// The original problem's point as postsolve builds it: its arrays, the columns that hold
// a value so far, and the objective's sense.
struct restoring {
    const LP *lp;
    double *x, *y, *z, *s;
    std::vector<char> restored;
    double sense;
};

// The reduced solution in the original numbering: the bound duals of the bounds the
// reduced problem has, zero everywhere else.
void take_reduced(const prep *ps, restoring &P) {
    const LP *red = ps->red;
    for (int j = 0; j < ps->n; ++j) {
        const int jj = ps->colmap[j];
        if (jj < 0) continue;
        P.restored[j] = 1;
        P.x[j] = red->x[jj];
        if (red->l[jj] > -INF && red->z) P.z[j] = red->z[jj];
        if (red->u[jj] < INF && red->s) P.s[j] = red->s[jj];
    }
    for (int i = 0; i < ps->m; ++i)
        if (ps->rowmap[i] >= 0 && red->y) P.y[i] = red->y[ps->rowmap[i]];
}

void undo_fixcol(restoring &P, const prep_step &st, const prep_ent *ent) {
    const LP *lp = P.lp;
    const int j = st.j;
    P.x[j] = st.v;
    P.restored[j] = 1;
    double g = st.cost;
    if (lp->kQ)
        for (int p = lp->kQ[j]; p < lp->kQ[j + 1]; ++p)
            if (P.restored[lp->iQ[p]]) g += lp->Q[p] * P.x[lp->iQ[p]];
    double rc = P.sense * g;
    for (int t = 0; t < st.len; ++t) rc -= ent[t].val * P.y[ent[t].idx];
    P.z[j] = std::max(rc, 0.0);
    P.s[j] = std::max(-rc, 0.0);
}

// The bounds a singleton row gave hold the duals that belong to it.
void undo_singrow(restoring &P, const prep_step &st) {
    const double t = ((st.flags & 1) ? P.z[st.j] : 0.0) - ((st.flags & 2) ? P.s[st.j] : 0.0);
    P.y[st.i] = t / st.a;
    if (st.flags & 1) P.z[st.j] = 0.0;
    if (st.flags & 2) P.s[st.j] = 0.0;
}

// The columns of a forcing row sit at the bounds that give the forcing side; the row's
// dual (<= 0 at the upper side, >= 0 at the lower one) is the smallest that leaves every
// reduced cost with the sign its bound asks for.
void undo_forcerow(restoring &P, const prep_step &st, const prep_ent *ent) {
    double yi = 0.0;
    for (int t = 0; t < st.len; ++t) {
        const double q = (P.z[ent[t].idx] - P.s[ent[t].idx]) / ent[t].val;
        yi = st.v > 0 ? std::min(yi, q) : std::max(yi, q);
    }
    P.y[st.i] = yi;
    for (int t = 0; t < st.len; ++t) {
        const int j = ent[t].idx;
        const double rc = P.z[j] - P.s[j] - ent[t].val * yi;
        P.z[j] = std::max(rc, 0.0);
        P.s[j] = std::max(-rc, 0.0);
    }
}

// Row k is a times row i; the part of row i's dual that belongs to the sides row k gave
// goes back to row k.
void undo_duprow(restoring &P, const prep_step &st) {
    const double yi = P.y[st.i];
    double t = 0.0;
    if ((st.flags & 1) && yi > 0) t = yi;
    if ((st.flags & 2) && yi < 0) t = yi;
    P.y[st.k] = t / st.a;
    P.y[st.i] = yi - t;
}

void undo_colsing(restoring &P, const prep_step &st, const prep_ent *ent) {
    const int j = st.j;
    double rest = 0.0;
    for (int t = 0; t < st.len; ++t) rest += ent[t].val * P.x[ent[t].idx];
    P.x[j] = (st.v - rest) / st.a;
    P.restored[j] = 1;
    P.y[st.i] = P.sense * st.cost / st.a;
    P.z[j] = P.s[j] = 0.0;
}

// a x_j + w x_k = v.  Bounds of x_k that came from x_j's bounds hand their duals to
// x_j's; the row's dual then makes x_j's reduced cost right.
void undo_doubleton(restoring &P, const prep_step &st, const prep_ent *ent) {
    const int j = st.j, k = st.k;
    P.x[j] = (st.v - st.w * P.x[k]) / st.a;
    P.restored[j] = 1;
    const double rho = st.w / st.a;
    const double moved = ((st.flags & 1) ? P.z[k] : 0.0) - ((st.flags & 2) ? P.s[k] : 0.0);
    if (st.flags & 1) P.z[k] = 0.0;
    if (st.flags & 2) P.s[k] = 0.0;
    const double d = -moved / rho;  // z_j - s_j
    P.z[j] = std::max(d, 0.0);
    P.s[j] = std::max(-d, 0.0);
    double rc = P.sense * st.cost - d;
    for (int t = 0; t < st.len; ++t) rc -= ent[t].val * P.y[ent[t].idx];
    P.y[st.i] = rc / st.a;
}

void undo(restoring &P, const prep_step &st, const prep_ent *ent) {
    switch (st.kind) {
    case PK_DROPROW: P.y[st.i] = 0.0; break;
    case PK_FIXCOL: undo_fixcol(P, st, ent); break;
    case PK_SINGROW: undo_singrow(P, st); break;
    case PK_FORCEROW: undo_forcerow(P, st, ent); break;
    case PK_DUPROW: undo_duprow(P, st); break;
    case PK_COLSING: undo_colsing(P, st, ent); break;
    case PK_DOUBLETON: undo_doubleton(P, st, ent); break;
    default: break;
    }
}

}  // namespace

solcheck postsolve(const prep *ps, LP *lp) {
    const LP *red = ps->red;
    if (!red || !red->x) return {};
    const int m = ps->m, n = ps->n;
    restoring P{lp,
                vector_of(lp->x, "x", "n", n),
                vector_of(lp->y, "y", "m", m),
                vector_of(lp->z, "z", "n", n),
                vector_of(lp->s, "s", "n", n),
                std::vector<char>(static_cast<std::size_t>(n), 0),
                static_cast<double>(lp->max)};
    std::fill(P.x, P.x + n, 0.0);
    std::fill(P.y, P.y + m, 0.0);
    std::fill(P.z, P.z + n, 0.0);
    std::fill(P.s, P.s + n, 0.0);

    take_reduced(ps, P);
    const prep_ent *pool = ps->pool.data();
    for (auto it = ps->stack.rbegin(); it != ps->stack.rend(); ++it) undo(P, *it, pool + it->first);

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
