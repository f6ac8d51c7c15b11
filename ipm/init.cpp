// Default initial point: creates the ten iterate vectors and raises every slack and
// dual that a variable's or row's class has to at least bndpush; the duals of bounds
// too far away to become active then start centred with the other pairs.
#include <algorithm>

#include "ipm/ipm.h"
#include "ipm/solver.h"
#include "linalg/factor.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva {

namespace {

// A vector of the iterate the record may already hold: an array of the record's own is
// resized (keeping its values), a borrowed one used as it is; absent, it starts at zero.
double *keep_or_zero(double *p, bool borrowed, const char *name, const char *expr, int len) {
    if (p && borrowed) return p;
    if (p) return xrealloc<double>(p, name, expr, len);
    return xcalloc<double>(name, expr, len);
}

// Creates the ten iterate vectors in the record: w, z, y, x keep what the record holds,
// p, q, s, t, v, g start at zero (the classes that have no use for an entry leave it
// alone).  Each goes into the record as soon as it is made, so the record owns every
// block even when a later allocation fails.
void make_iterate(LP *lp) {
    const int m = lp->m, n = lp->n;
    lp->w = keep_or_zero(lp->w, false, "w", "m", m);
    lp->z = keep_or_zero(lp->z, false, "z", "n", n);
    // Any older p..g belong to the record; replace them.
    free_slack_vectors(lp);
    struct item {
        double *LP::*v;
        const char *name;
        bool rows;
    };
    static constexpr item fresh[] = {{&LP::p, "p", true},  {&LP::q, "q", true},  {&LP::s, "s", false},
                                     {&LP::t, "t", false}, {&LP::v, "v", true},  {&LP::g, "g", false}};
    for (const item &it : fresh) {
        const int len = it.rows ? m : n;
        double *a = xmalloc<double>(it.name, it.rows ? "m" : "n", len);
        std::fill(a, a + len, 0.0);
        lp->*it.v = a;
    }
    lp->y = keep_or_zero(lp->y, (lp->borrowed & BORROWED_Y) != 0, "y", "m", m);
    lp->x = keep_or_zero(lp->x, (lp->borrowed & BORROWED_X) != 0, "x", "n", n);
}

// Start of a convex QP without a guess: the solution of the reduced system with unit
// diagonals (free rows left out by a huge one) for the right-hand side (c, b), in the
// work vectors en, em (diagonals) and x0, y0.
void convex_qp_start(LP *lp, double *en, double *em, double *x0, double *y0) {
    const int m = lp->m, n = lp->n;
    for (int j = 0; j < n; ++j) {
        en[j] = 1.0;
        x0[j] = lp->c[j];
    }
    for (int i = 0; i < m; ++i) {
        if (lp->rngmark[i] == 4) {
            em[i] = 1e300;
            y0[i] = 0.0;
        } else {
            em[i] = 1.0;
            y0[i] = lp->b[i];
        }
    }
    inv_num(lp, en, em);
    solve(lp, en, em, x0, y0);
    for (int j = 0; j < n; ++j) lp->x[j] = x0[j];
    for (int i = 0; i < m; ++i) lp->y[i] = y0[i];
}

// The variables' slacks and duals: z = c + Qx - A'y, then every pair of the variable's
// class raised to at least bp.
void column_slacks(LP *lp, double *Qx, double bp) {
    const int m = lp->m, n = lp->n;
    const double *x = lp->x, *l = lp->l, *u = lp->u;
    double *z = lp->z, *g = lp->g, *t = lp->t, *s = lp->s;
    smx(n, m, lp->At, lp->kAt, lp->iAt, lp->y, z);
    smx(n, n, lp->Q, lp->kQ, lp->iQ, x, Qx);
    for (int j = 0; j < n; ++j) z[j] = lp->c[j] - z[j] + Qx[j];
    for (int j = 0; j < n; ++j) {
        switch (lp->bndmark[j]) {
        case 1:
            g[j] = std::max(x[j], 0.0) + bp;
            t[j] = std::max(-x[j], 0.0) + bp;
            z[j] = g[j];
            s[j] = t[j];
            break;
        case 2:
            g[j] = std::max(x[j] - l[j], bp);
            z[j] = std::max(z[j], bp);
            break;
        case 4:
            t[j] = std::max(u[j] - x[j], bp);
            s[j] = std::max(-z[j], bp);
            break;
        case 8:
            g[j] = std::max(x[j] - l[j], bp);
            t[j] = std::max(u[j] - x[j], bp);
            z[j] = std::max(z[j], 0.0) + bp;
            s[j] = std::max(-z[j], 0.0) + bp;
            break;
        default: break;
        }
    }
}

// The rows' slacks and duals: w = Ax - b, then every pair of the row's class raised to
// at least bp.
void row_slacks(LP *lp, double bp) {
    const int m = lp->m, n = lp->n;
    const int *rngmark = lp->rngmark;
    double *w = lp->w, *p = lp->p, *q = lp->q, *v = lp->v, *y = lp->y;
    smx(m, n, lp->A, lp->kA, lp->iA, lp->x, w);
    for (int i = 0; i < m; ++i)
        if (rngmark[i] != 4) w[i] -= lp->b[i];
    for (int i = 0; i < m; ++i) {
        switch (rngmark[i]) {
        case 1:
            w[i] = std::max(w[i], bp);
            p[i] = std::max(lp->r[i] - w[i], bp);
            v[i] = std::max(y[i], 0.0) + bp;
            q[i] = std::max(-y[i], 0.0) + bp;
            break;
        case 2:
            w[i] = std::max(w[i], bp);
            v[i] = std::max(y[i], bp);
            y[i] = std::max(y[i], bp);
            break;
        default: break;
        }
    }
}

// honor_bnds_init: x moved inside its bounds, the bound slacks taken from it.
void honor_initial_bounds(LP *lp, double bp) {
    const double *l = lp->l, *u = lp->u;
    double *x = lp->x, *g = lp->g, *t = lp->t;
    for (int j = 0; j < lp->n; ++j) {
        switch (lp->bndmark[j]) {
        case 8:
            if (x[j] <= l[j]) x[j] = std::max(x[j], 0.9 * l[j] + 0.1 * u[j]);
            if (x[j] >= u[j]) x[j] = std::min(x[j], 0.9 * u[j] + 0.1 * l[j]);
            g[j] = x[j] - l[j];
            t[j] = u[j] - x[j];
            break;
        case 4:
            if (x[j] >= u[j]) x[j] = u[j] - bp;
            t[j] = u[j] - x[j];
            break;
        case 2:
            if (x[j] <= l[j]) x[j] = l[j] + bp;
            g[j] = x[j] - l[j];
            break;
        default: break;
        }
    }
}

// Bound duals of far bounds.  A bound whose slack is ipm::FAR_SLACK or more (a finite
// bound of 1e8 is the usual case) would start with a product slack*bndpush many orders
// above the others: the mean complementarity, the centering and the dual objective are
// then those of bounds that never become active, and the duals of such a bound need
// many short steps to fall.  Its dual starts instead at the mean product of the other
// pairs over its slack (bndpush^2 over it when there are none), so that the pair starts
// centred with the rest.
void centre_far_duals(LP *lp, double bp) {
    using ipm::FAR_SLACK, ipm::HAS_W, ipm::RANGE, ipm::LOWER, ipm::UPPER, ipm::BOXED;
    const int m = lp->m, n = lp->n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *g = lp->g, *t = lp->t, *w = lp->w, *p = lp->p, *v = lp->v, *q = lp->q;
    double *z = lp->z, *s = lp->s;
    double sum = 0.0;
    int count = 0, far = 0;
    auto add = [&](double slack, double dual) {
        if (slack < FAR_SLACK) {
            sum += slack * dual;
            ++count;
        } else {
            ++far;
        }
    };
    for (int j = 0; j < n; ++j) {
        if (bnd[j] & (LOWER | BOXED)) add(g[j], z[j]);
        if (bnd[j] & (UPPER | BOXED)) add(t[j], s[j]);
    }
    for (int i = 0; i < m; ++i) {
        if (rng[i] & HAS_W) add(w[i], v[i]);
        if (rng[i] == RANGE) add(p[i], q[i]);
    }
    if (far == 0) return;
    const double mean = count > 0 ? sum / count : bp * bp;
    // Not below the floor that every step keeps (a tiny bndpush and a start far away).
    auto centred = [mean](double slack) { return std::max(mean / slack, ipm::FLOOR); };
    for (int j = 0; j < n; ++j) {
        if ((bnd[j] & (LOWER | BOXED)) && g[j] >= FAR_SLACK) z[j] = centred(g[j]);
        if ((bnd[j] & (UPPER | BOXED)) && t[j] >= FAR_SLACK) s[j] = centred(t[j]);
    }
}

} // namespace

void deflt_init(LP *lp) {
    const int m = lp->m, n = lp->n;
    if (lp->bndpush == -1.0) lp->bndpush = lp->qnz == 0 ? 100.0 : 1.0;
    const double bp = lp->bndpush;
    const bool had_guess = lp->x != nullptr || lp->y != nullptr;

    // The temporaries' allocations come first, as their failure messages always have.
    const owned<double> en = make_owned<double>("en", "n", n), em = make_owned<double>("em", "m", m);
    const owned<double> x0 = make_owned<double>("x0", "n", n), y0 = make_owned<double>("y0", "m", m);
    const owned<double> Qx = make_owned<double>("Qx", "n", n);
    make_iterate(lp);
    if (lp->nl_update(lp, 1) != 0) my_exit(50, "cannot evaluate obj and/or constraint at initial solution \n");
    // The hook may have replaced arrays: the steps below take them afresh.
    if (!had_guess && lp->convex != 0 && lp->quadratic != 0)
        convex_qp_start(lp, en.get(), em.get(), x0.get(), y0.get());
    column_slacks(lp, Qx.get(), bp);
    row_slacks(lp, bp);
    if (lp->honor_bnds_init == 1) honor_initial_bounds(lp, bp);
    centre_far_duals(lp, bp);
    for (int i = 0; i < lp->m; ++i)
        if (lp->rngmark[i] == 2 && lp->y[i] <= 0) lp->y[i] = bp;
}

} // namespace orva
