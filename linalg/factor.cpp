// Interim dense LDL' of the reduced system in natural order, used until the sparse
// supernodal factorization replaces this file.  Small problems only.
#include "linalg/factor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "linalg/kernels.h"
#include "lp/lp.h"

namespace orva {

namespace {
struct dense_ws {
    int n = 0, m = 0;
    std::vector<double> L;  // row-major (n+m)^2, unit lower triangle
    std::vector<double> d;
    bool built = false;
} ws;
} // namespace

void inv_num(LP *lp, const double *Dn, const double *Dm) {
    const int n = lp->n, m = lp->m, N = n + m;
    ws.n = n;
    ws.m = m;
    ws.L.assign(static_cast<size_t>(N) * N, 0.0);
    ws.d.assign(N, 0.0);
    auto K = [&](int i, int j) -> double & { return ws.L[static_cast<size_t>(i) * N + j]; };
    for (int j = 0; j < n; ++j) K(j, j) = -std::max(Dn[j] + lp->pert_primal, lp->epsdiag);
    for (int i = 0; i < m; ++i) K(n + i, n + i) = std::max(Dm[i] + lp->pert_dual, lp->epsdiag);
    for (int j = 0; j < n; ++j) {
        for (int k = lp->kA[j]; k < lp->kA[j + 1]; ++k) {
            K(n + lp->iA[k], j) += lp->A[k];
            K(j, n + lp->iA[k]) += lp->A[k];
        }
        if (lp->kQ)
            for (int k = lp->kQ[j]; k < lp->kQ[j + 1]; ++k) K(lp->iQ[k], j) -= lp->max * lp->Q[k];
    }
    for (int j = 0; j < N; ++j) {
        double dj = K(j, j);
        for (int k = 0; k < j; ++k) dj -= K(j, k) * K(j, k) * ws.d[k];
        if (dj == 0.0) dj = j < n ? -1e-8 : 1e-8;
        ws.d[j] = dj;
        for (int i = j + 1; i < N; ++i) {
            double v = K(i, j);
            for (int k = 0; k < j; ++k) v -= K(i, k) * ws.d[k] * K(j, k);
            K(i, j) = v / dj;
        }
    }
    ws.built = true;
}

double getpertval(int a, int b) {
    if (a + b <= 0) return std::numeric_limits<double>::infinity();
    double v = -std::numeric_limits<double>::infinity();
    for (int p = 0; p < a + b && p < static_cast<int>(ws.d.size()); ++p)
        if (p < b && !std::isnan(ws.d[p])) v = std::max(v, ws.d[p]);
    return v == -std::numeric_limits<double>::infinity() ? v : 1.1 * v;
}

void inv_clo() {
    ws = dense_ws{};
}

void solve(LP *lp, const double *Dn, const double *Dm, double *bx, double *by) {
    const int n = ws.n, m = ws.m, N = n + m;
    std::vector<double> rhs(N), z(N), sol(N, 0.0), res(N);
    for (int j = 0; j < n; ++j) rhs[j] = bx[j];
    for (int i = 0; i < m; ++i) rhs[n + i] = by[i];
    auto apply = [&](const std::vector<double> &v, std::vector<double> &out) {
        for (int j = 0; j < n; ++j) out[j] = -(Dn[j] + lp->pert_primal) * v[j];
        for (int i = 0; i < m; ++i) out[n + i] = (Dm[i] + lp->pert_dual) * v[n + i];
        for (int j = 0; j < n; ++j) {
            for (int k = lp->kA[j]; k < lp->kA[j + 1]; ++k) {
                out[j] += lp->A[k] * v[n + lp->iA[k]];
                out[n + lp->iA[k]] += lp->A[k] * v[j];
            }
            if (lp->kQ)
                for (int k = lp->kQ[j]; k < lp->kQ[j + 1]; ++k)
                    out[lp->iQ[k]] -= lp->max * lp->Q[k] * v[j];
        }
    };
    auto lsolve = [&](std::vector<double> &v) {
        for (int j = 0; j < N; ++j)
            for (int i = j + 1; i < N; ++i) v[i] -= ws.L[static_cast<size_t>(i) * N + j] * v[j];
        for (int j = 0; j < N; ++j) v[j] /= ws.d[j];
        for (int j = N - 1; j >= 0; --j)
            for (int i = j + 1; i < N; ++i) v[j] -= ws.L[static_cast<size_t>(i) * N + j] * v[i];
    };
    z = rhs;
    for (int pass = 0; pass < 5; ++pass) {
        lsolve(z);
        for (int k = 0; k < N; ++k) sol[k] += z[k];
        apply(sol, res);
        for (int k = 0; k < N; ++k) z[k] = rhs[k] - res[k];
        if (maxv(z.data(), N) <= 1e-12 * (1 + maxv(rhs.data(), N))) break;
    }
    for (int j = 0; j < n; ++j) bx[j] = sol[j];
    for (int i = 0; i < m; ++i) by[i] = sol[n + i];
}

} // namespace orva
