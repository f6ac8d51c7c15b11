// Solves with the factor of the last inv_num, with iterative refinement against the
// unclamped system.  Positions whose pivots were declared dependent are neither
// used nor divided: values within the threshold g are zeroed, larger ones pass.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "linalg/factor.h"
#include "linalg/factor_ws.h"
#include "linalg/factorization.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva {

namespace {
// y[i] -= l[i] * a over len entries (l and y do not overlap).
inline void axpy_neg(int len, double a, const double *__restrict l, double *__restrict y) {
    for (int i = 0; i < len; ++i) y[i] -= l[i] * a;
}

// z := K^-1 z with the factor, z in position order: forward substitution with the unit
// lower factor, the diagonal, backward substitution.  Positions whose pivots were declared
// dependent are skipped, their values within g zeroed.
void substitute(const detail::factor_ws &ws, double *z, double g) {
    const int N = ws.n + ws.m;
    const int *kAAt = ws.kAAt, *iAAt = ws.iAAt, *mark = ws.mark;
    const double *AAt = ws.AAt, *diag = ws.diag;
    // Whether the entries k0..k1-1 of a column have consecutive rows (the rows ascend).
    auto contiguous = [iAAt](int k0, int k1) { return k1 > k0 && iAAt[k1 - 1] - iAAt[k0] == k1 - k0 - 1; };

    // Forward substitution with the unit lower factor.  A column whose rows are a
    // contiguous range (the dense window, the tails of supernodes) is applied without
    // its row indices; every entry takes the same operations in the same order.
    for (int p = 0; p < N; ++p) {
        if (mark[p]) {
            const double zp = z[p];
            const int k0 = kAAt[p], k1 = kAAt[p + 1];
            if (zp == 0.0 || k1 == k0) continue;
            if (contiguous(k0, k1))
                axpy_neg(k1 - k0, zp, AAt + k0, z + iAAt[k0]);
            else
                for (int k = k0; k < k1; ++k) z[iAAt[k]] -= AAt[k] * zp;
        } else if (std::fabs(z[p]) <= g) {
            z[p] = 0.0;
        }
    }
    // Diagonal.
    for (int p = N - 1; p >= 0; --p) {
        if (mark[p])
            z[p] /= diag[p];
        else if (std::fabs(z[p]) <= g)
            z[p] = 0.0;
    }
    // Backward substitution.
    for (int p = N - 1; p >= 0; --p) {
        if (mark[p]) {
            const int k0 = kAAt[p], k1 = kAAt[p + 1];
            double sum = 0.0;
            if (contiguous(k0, k1)) {
                const double *zr = z + iAAt[k0];
                for (int k = 0; k < k1 - k0; ++k) sum += AAt[k0 + k] * zr[k];
            } else {
                for (int k = k0; k < k1; ++k) sum += AAt[k] * z[iAAt[k]];
            }
            z[p] -= sum;
        } else if (std::fabs(z[p]) <= g) {
            z[p] = 0.0;
        }
    }
}
} // namespace

solve_status factorization::solve(const LP *lp, const double *Dn, const double *Dm, double *bx, double *by) {
    detail::factor_ws &ws = ws_;
    const int n = lp->n, m = lp->m, N = n + m;
    if (!ws.diag || n != ws.n || m != ws.m) return solve_status::no_factor;

    ws.y_k = xresize<double>(ws.y_k, "y_k", "m", m);
    ws.x_k = xresize<double>(ws.x_k, "x_k", "n", n);
    ws.r = xresize<double>(ws.r, "r", "m", m);
    ws.s = xresize<double>(ws.s, "s", "n", n);
    ws.z = xresize<double>(ws.z, "z", "m2", N);
    ws.Qx = xresize<double>(ws.Qx, "Qx", "n", n);
    double *x_k = ws.x_k, *y_k = ws.y_k, *r = ws.r, *s = ws.s, *z = ws.z, *Qx = ws.Qx;
    const int *iperm = ws.iperm;
    const bool haveQ = lp->qnz > 0 && lp->kQ;
    const double maxs = lp->max;
    const double pp = lp->pert_primal, pd = lp->pert_dual;

    const double B = std::max(maxv(bx, n), maxv(by, m));
    const double tol = 1e-10 * (B + 1.0);
    double previous = std::numeric_limits<double>::infinity();
    double f = 0;
    int pass = 0;
    for (;;) {
        // Right-hand side (pass 0) or residual, in position order.
        const double *px = pass == 0 ? bx : s;
        const double *py = pass == 0 ? by : r;
        for (int j = 0; j < n; ++j) z[iperm[j]] = px[j];
        for (int i = 0; i < m; ++i) z[iperm[n + i]] = py[i];
        const double g = ws.ndep == 0 ? 0.0 : ws.epssol * maxv(z, m);

        substitute(ws, z, g);
        // Solution (pass 0) or correction.
        if (pass == 0) {
            for (int j = 0; j < n; ++j) x_k[j] = z[iperm[j]];
            for (int i = 0; i < m; ++i) y_k[i] = z[iperm[n + i]];
        } else {
            for (int j = 0; j < n; ++j) x_k[j] += z[iperm[j]];
            for (int i = 0; i < m; ++i) y_k[i] += z[iperm[n + i]];
        }

        // Residuals of the unclamped system.
        smx(m, n, lp->A, lp->kA, lp->iA, x_k, r);
        smx(n, m, lp->At, lp->kAt, lp->iAt, y_k, s);
        if (haveQ)
            smx(n, n, lp->Q, lp->kQ, lp->iQ, x_k, Qx);
        else
            for (int j = 0; j < n; ++j) Qx[j] = 0.0;
        for (int j = 0; j < n; ++j)
            s[j] = bx[j] - (s[j] - Dn[j] * x_k[j] - (maxs * Qx[j] + pp * x_k[j]));
        for (int i = 0; i < m; ++i) r[i] = by[i] - (Dm[i] * y_k[i] + r[i] + pd * y_k[i]);
        f = std::max(maxv(r, m), maxv(s, n));
        if (pass > 0 && lp->verbose >= 3)
            std::printf("refinement(%3d): %8.2e %8.2e %8.2e \n", pass, maxv(s, n), maxv(r, m),
                        f / (B + 1.0));
        if (f <= tol || f >= 0.5 * previous) break;
        previous = f;
        ++pass;
    }
    // Refinement that stalled two orders above its goal, the residual in the row
    // equations, while some rows' diagonals were raised to the floor: the floor, not the
    // data, holds the solution back (rows that the steps are making active, their true
    // diagonal w/v far below it, and a Schur complement of the rows whose smallest
    // eigenvalues lie below it too; each pass then recovers only a sliver of what the
    // floor took).  The next factor lowers the rows' floor.  Only for a system factored
    // without a shift of its primal diagonal: there the matrix is quasi-definite as it
    // stands, so the rows' pivots of independent rows keep their size without a floor.
    const double rres = maxv(r, m);
    ws.solved = true;
    ws.solve_share = std::max(ws.solve_share, f / (B + 1.0));
    if (f > 100 * tol && pp == 0.0 && ws.rows_clamped > 0 && rres >= maxv(s, n)) ws.rows_floor_hurts = true;
    // A last correction that made the residual larger is taken back.
    if (pass > 0 && f > previous) {
        for (int j = 0; j < n; ++j) x_k[j] -= z[iperm[j]];
        for (int i = 0; i < m; ++i) y_k[i] -= z[iperm[n + i]];
    }
    if (n > 0) std::memcpy(bx, x_k, sizeof(double) * n);
    if (m > 0) std::memcpy(by, y_k, sizeof(double) * m);
    const bool finite = std::all_of(x_k, x_k + n, [](double v) { return std::isfinite(v); }) &&
                        std::all_of(y_k, y_k + m, [](double v) { return std::isfinite(v); });
    return f <= tol && finite ? solve_status::converged : solve_status::stalled;
}

} // namespace orva
