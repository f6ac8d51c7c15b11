// Default initial point: creates the ten iterate vectors and raises every slack and
// dual that a variable's or row's class has to at least bndpush.
#include <algorithm>

#include "ipm/ipm.h"
#include "linalg/factor.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva {

namespace {
// Resizes a vector the caller may have supplied (keeping its values) or creates zeros.
double *keep_or_zero(double *p, const char *name, const char *expr, int len) {
    if (p) return xrealloc<double>(p, name, expr, len);
    return xcalloc<double>(name, expr, len);
}
} // namespace

void deflt_init(LP *lp) {
    const int m = lp->m, n = lp->n;
    if (lp->bndpush == -1.0) lp->bndpush = lp->qnz == 0 ? 100.0 : 1.0;
    const double bp = lp->bndpush;
    const bool had_guess = lp->x != nullptr || lp->y != nullptr;

    double *en = xmalloc<double>("en", "n", n);
    double *em = xmalloc<double>("em", "m", m);
    double *x0 = xmalloc<double>("x0", "n", n);
    double *y0 = xmalloc<double>("y0", "m", m);
    double *Qx = xmalloc<double>("Qx", "n", n);

    double *w = keep_or_zero(lp->w, "w", "m", m);
    double *z = keep_or_zero(lp->z, "z", "n", n);
    double *p = xmalloc<double>("p", "m", m);
    double *q = xmalloc<double>("q", "m", m);
    double *s = xmalloc<double>("s", "n", n);
    double *t = xmalloc<double>("t", "n", n);
    double *v = xmalloc<double>("v", "m", m);
    double *g = xmalloc<double>("g", "n", n);
    // The classes that have no use for an entry leave it alone; start those at zero.
    for (double *a : {p, q, v}) std::fill(a, a + m, 0.0);
    for (double *a : {s, t, g}) std::fill(a, a + n, 0.0);
    double *y = keep_or_zero(lp->y, "y", "m", m);
    lp->y = y;
    double *x = keep_or_zero(lp->x, "x", "n", n);
    // Any older p..g belong to the record (it releases them in closelp); replace them.
    free_slack_vectors(lp);
    lp->w = w;
    lp->z = z;
    lp->p = p;
    lp->q = q;
    lp->s = s;
    lp->t = t;
    lp->v = v;
    lp->g = g;

    lp->x = x;
    if (lp->nl_update(lp, 1) != 0) my_exit(50, "cannot evaluate obj and/or constraint at initial solution \n");
    // The hook may have replaced arrays; take everything afresh.
    x = lp->x;
    y = lp->y;
    w = lp->w;
    z = lp->z;
    p = lp->p;
    q = lp->q;
    s = lp->s;
    t = lp->t;
    v = lp->v;
    g = lp->g;

    const int *bndmark = lp->bndmark, *rngmark = lp->rngmark;
    if (!had_guess && lp->convex != 0 && lp->quadratic != 0) {
        for (int j = 0; j < n; ++j) {
            en[j] = 1.0;
            x0[j] = lp->c[j];
        }
        for (int i = 0; i < m; ++i) {
            if (rngmark[i] == 4) {
                em[i] = 1e300;
                y0[i] = 0.0;
            } else {
                em[i] = 1.0;
                y0[i] = lp->b[i];
            }
        }
        inv_num(lp, en, em);
        solve(lp, en, em, x0, y0);
        for (int j = 0; j < n; ++j) x[j] = x0[j];
        for (int i = 0; i < m; ++i) y[i] = y0[i];
    }

    // z = c + Qx - A'y
    smx(n, m, lp->At, lp->kAt, lp->iAt, y, z);
    smx(n, n, lp->Q, lp->kQ, lp->iQ, x, Qx);
    for (int j = 0; j < n; ++j) z[j] = lp->c[j] - z[j] + Qx[j];

    const double *l = lp->l, *u = lp->u;
    for (int j = 0; j < n; ++j) {
        switch (bndmark[j]) {
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

    smx(m, n, lp->A, lp->kA, lp->iA, x, w);
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

    if (lp->honor_bnds_init == 1) {
        for (int j = 0; j < n; ++j) {
            switch (bndmark[j]) {
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
    for (int i = 0; i < m; ++i)
        if (rngmark[i] == 2 && y[i] <= 0) y[i] = bp;

    xfree(en);
    xfree(em);
    xfree(x0);
    xfree(y0);
    xfree(Qx);
}

} // namespace orva
