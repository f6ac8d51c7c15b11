// Default initial point: creates the ten iterate vectors and raises every slack and
// dual that a variable's or row's class has to at least bndpush; the duals of bounds
// too far away to become active then start centred with the other pairs.
#include <algorithm>
#include <cmath>

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

// Kinds of complementary pairs: a variable's bound, a row's pair of an equation or range,
// a one-sided row's pair.
enum pair_kind { BOUND_PAIR, RANGE_PAIR, ONESIDED_PAIR };

// Calls f(slack, dual, kind) for every complementary pair of the iterate, by the classes.
template <class F> void each_pair(LP *lp, F f) {
    for (int j = 0; j < lp->n; ++j) {
        const int k = lp->bndmark[j];
        if (k & (1 | 2 | 8)) f(lp->g[j], lp->z[j], BOUND_PAIR);
        if (k & (1 | 4 | 8)) f(lp->t[j], lp->s[j], BOUND_PAIR);
    }
    for (int i = 0; i < lp->m; ++i) {
        const int k = lp->rngmark[i];
        if (k & (1 | 2)) f(lp->w[i], lp->v[i], k == 2 ? ONESIDED_PAIR : RANGE_PAIR);
        if (k == 1) f(lp->p[i], lp->q[i], RANGE_PAIR);
    }
}

// Reference point of a box: its middle, or for a box wider than a far slack (a bound of
// 1e8 that stands for none) the bound nearer to 0.
double box_reference(double l, double u) {
    if (u - l < 2 * ipm::FAR_SLACK) return 0.5 * (l + u);
    return std::abs(l) <= std::abs(u) ? l : u;
}

// The least-squares estimates of the least-squares start, from one factorization of the
// reduced system with unit column diagonals and small row diagonals (free rows left out
// by a huge one):
//   x: nearest to a reference point inside the bounds (the middle of a box, the bound of
//      a one-sided variable, 0 for a free one) among the points that meet the rows'
//      targets (b, the middle of a ranged row) in the least-squares sense;
//   y: the multipliers whose reduced costs max(c + Qx) - A'y are smallest in norm.
// Each comes from its own right-hand side, so that neither the costs' scale moves x nor
// the right-hand sides' scale moves y.  On return z holds the reduced costs and w = Ax - b.
void least_squares_estimates(LP *lp, double *en, double *em, double *x0, double *y0, double *Qx) {
    const int m = lp->m, n = lp->n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *l = lp->l, *u = lp->u, *b = lp->b, *r = lp->r;
    double *x = lp->x, *y = lp->y, *z = lp->z, *w = lp->w;
    // Row diagonal: small enough that the rows' targets are met closely, large enough that
    // dependent rows leave the system well posed.
    constexpr double row_diag = 1e-4;
    for (int j = 0; j < n; ++j) {
        en[j] = 1.0;
        x[j] = bnd[j] == 2 ? l[j] : bnd[j] == 4 ? u[j] : bnd[j] == 8 ? box_reference(l[j], u[j]) : 0.0;
        x0[j] = 0.0;
    }
    for (int i = 0; i < m; ++i) em[i] = rng[i] == 4 ? 1e300 : row_diag;
    inv_num(lp, en, em);
    // x = xref + d with -d + A'y = 0, A d + Em y = target - A xref.
    smx(m, n, lp->A, lp->kA, lp->iA, x, y0);
    for (int i = 0; i < m; ++i) {
        const double target = rng[i] == 1 && r[i] > 0 && std::isfinite(r[i]) ? b[i] + 0.5 * r[i] : b[i];
        y0[i] = rng[i] == 4 ? 0.0 : target - y0[i];
    }
    solve(lp, en, em, x0, y0);
    for (int j = 0; j < n; ++j) x[j] += x0[j];
    // y from -(max Q + I) d + A'y = max(c + Qx), A d + Em y = 0.
    smx(n, n, lp->Q, lp->kQ, lp->iQ, x, Qx);
    for (int j = 0; j < n; ++j) x0[j] = lp->max * (lp->c[j] + Qx[j]);
    for (int i = 0; i < m; ++i) y0[i] = 0.0;
    solve(lp, en, em, x0, y0);
    for (int i = 0; i < m; ++i) y[i] = rng[i] == 4 ? 0.0 : y0[i];
    smx(n, m, lp->At, lp->kAt, lp->iAt, y, z);
    for (int j = 0; j < n; ++j) z[j] = lp->max * (lp->c[j] + Qx[j]) - z[j];
    smx(m, n, lp->A, lp->kA, lp->iA, x, w);
    for (int i = 0; i < m; ++i)
        if (rng[i] != 4) w[i] -= b[i];
}

// Slacks and duals from the estimates, before any shift: the slacks as x and Ax give them,
// the duals split from the reduced costs and multipliers by sign (0 where the class has
// no use for a sign, as for the free variables' pairs).
void raw_pairs(LP *lp) {
    const double *x = lp->x, *l = lp->l, *u = lp->u, *r = lp->r, *y = lp->y;
    double *g = lp->g, *t = lp->t, *z = lp->z, *s = lp->s, *w = lp->w, *p = lp->p, *v = lp->v, *q = lp->q;
    for (int j = 0; j < lp->n; ++j) {
        const double zr = z[j];
        switch (lp->bndmark[j]) {
        case 1:
            g[j] = std::max(x[j], 0.0);
            t[j] = std::max(-x[j], 0.0);
            z[j] = s[j] = 0.0;
            break;
        case 2: g[j] = x[j] - l[j]; break;
        case 4:
            t[j] = u[j] - x[j];
            s[j] = -zr;
            break;
        case 8:
            g[j] = x[j] - l[j];
            t[j] = u[j] - x[j];
            z[j] = std::max(zr, 0.0);
            s[j] = std::max(-zr, 0.0);
            break;
        default: break;
        }
    }
    for (int i = 0; i < lp->m; ++i) {
        switch (lp->rngmark[i]) {
        case 1:
            p[i] = r[i] - w[i];
            v[i] = std::max(y[i], 0.0);
            q[i] = std::max(-y[i], 0.0);
            break;
        case 2: v[i] = y[i]; break;
        default: break;
        }
    }
}

// Shifts the slacks and duals into the interior: first so that the most negative of each
// kind becomes positive (1.5 times its size, at least `floor`), then each by half the
// pairs' total product over the other kind's sum, which balances the products against
// each other.  Every slack moves by one amount and every dual by another; with a
// `row_floor` (> 0) the one-sided rows' slacks form a block of their own, with that floor
// and a balance over their own pairs.  A one-sided row's multiplier is its dual v again.
void shift_pairs(LP *lp, double floor, double row_floor = 0.0) {
    const bool split = row_floor > 0;
    auto block = [split](pair_kind k) { return split && k == ONESIDED_PAIR ? 1 : 0; };
    double smin[2] = {INFINITY, INFINITY}, dmin = INFINITY;
    each_pair(lp, [&](double a, double d, pair_kind k) {
        smin[block(k)] = std::min(smin[block(k)], a);
        dmin = std::min(dmin, d);
    });
    double ds[2] = {std::max(-1.5 * smin[0], floor), std::max(-1.5 * smin[1], row_floor)};
    double dd = std::max(-1.5 * dmin, floor);
    // The far bounds' pairs are left out of the balance: their duals start centred with
    // the rest afterwards (centre_far_duals).
    double prod[2] = {0, 0}, dsum[2] = {0, 0}, ssum = 0;
    each_pair(lp, [&](double a, double d, pair_kind k) {
        const int b = block(k);
        if (k == BOUND_PAIR && a + ds[b] >= ipm::FAR_SLACK) return;
        prod[b] += (a + ds[b]) * (d + dd);
        ssum += a + ds[b];
        dsum[b] += d + dd;
    });
    for (int b = 0; b < 2; ++b)
        if (dsum[b] > 0) ds[b] += 0.5 * prod[b] / dsum[b];
    if (ssum > 0) dd += 0.5 * (prod[0] + prod[1]) / ssum;
    each_pair(lp, [&](double &a, double &d, pair_kind k) {
        a += ds[block(k)];
        d += dd;
    });
    for (int i = 0; i < lp->m; ++i)
        if (lp->rngmark[i] == 2) lp->y[i] = lp->v[i];
}

// Floor of the rows' slacks for the rows' own block, or 0 for no block of their own.  In
// a quadratic program in inequality form (every variable free, every row one-sided) the
// rows carry every constraint, and the only other pairs are the free variables' splits,
// whose slacks carry |x|: a common shift lets |x| set the rows' shift through the balance
// of products (powell20: 498, against 79 from the rows' own pairs).  The rows' slacks
// form a block of their own there.  A row whose slack is shifted away from A x - b is left
// infeasible by the shift, which x has to make up; where meeting a unit shift of every row
// (by the least change of x, from the factorization of the estimates) moves x by more than
// its own scale (max(1, |x|)), as for rows of second differences, a shift of 1 or more
// leaves the rows so far from feasible that they become active one after another, a few
// dozen per iteration.  Their floor is then the shift that moves x by a tenth of its
// scale, else 1.
double onesided_row_floor(LP *lp, double *en, double *em, double *x0, double *y0) {
    const int m = lp->m, n = lp->n;
    const int *rng = lp->rngmark, *bnd = lp->bndmark;
    const bool inequality_form = lp->qnz > 0 && m > 0 && std::all_of(rng, rng + m, [](int k) { return k == 2; }) &&
                                 std::all_of(bnd, bnd + n, [](int k) { return k == 1; });
    if (!inequality_form) return 0.0;
    for (int j = 0; j < n; ++j) x0[j] = 0.0;
    for (int i = 0; i < m; ++i) y0[i] = 1.0;
    solve(lp, en, em, x0, y0);
    double move = 0.0, scale = 1.0;
    for (int j = 0; j < n; ++j) {
        move = std::max(move, std::fabs(x0[j]));
        scale = std::max(scale, std::fabs(lp->x[j]));
    }
    return move > scale ? 0.1 * scale / move : 1.0;
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

namespace {

// The least-squares start; `rows_scaled` lets the rows' slacks of a quadratic program in
// inequality form start as a block of their own (onesided_row_floor).
void lsq_start(LP *lp, bool rows_scaled) {
    // Only for a problem whose record is the problem itself (linear rows, a linear or
    // quadratic objective) and without a guess: otherwise the described start.
    const bool had_guess = lp->x != nullptr || lp->y != nullptr;
    const bool model = lp->quadratic != 0 || (lp->lincons != 0 && lp->qnz == 0);
    if (had_guess || !model) {
        deflt_init(lp);
        return;
    }
    const int m = lp->m, n = lp->n;
    const owned<double> en = make_owned<double>("en", "n", n), em = make_owned<double>("em", "m", m);
    const owned<double> x0 = make_owned<double>("x0", "n", n), y0 = make_owned<double>("y0", "m", m);
    const owned<double> Qx = make_owned<double>("Qx", "n", n);
    make_iterate(lp);
    if (lp->nl_update(lp, 1) != 0) my_exit(50, "cannot evaluate obj and/or constraint at initial solution \n");
    least_squares_estimates(lp, en.get(), em.get(), x0.get(), y0.get(), Qx.get());
    const double row_floor = rows_scaled ? onesided_row_floor(lp, en.get(), em.get(), x0.get(), y0.get()) : 0.0;
    raw_pairs(lp);
    shift_pairs(lp, 1.0, row_floor);
    centre_far_duals(lp, 1.0);
}

} // namespace

void lsq_init(LP *lp) { lsq_start(lp, false); }

void lsq_rows_init(LP *lp) { lsq_start(lp, true); }

} // namespace orva
