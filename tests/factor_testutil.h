// Helpers of the factorization tests: random reduced systems and an independent
// dense LDL' of the permuted matrix with the same pivot rule.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "linalg/factor.h"
#include "linalg/factor_info.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"
#include "testlp.h"

namespace orva::testing {

// Completes a record as solvelp would before factoring: transpose and classes.
inline void finish_lp(LP *lp, const std::vector<int> &bnd = {}, const std::vector<int> &rng = {}) {
    const int m = lp->m, n = lp->n, nz = n > 0 ? lp->kA[n] : 0;
    lp->At = xmalloc<double>("At", "nz", nz);
    lp->iAt = xmalloc<int>("iAt", "nz", nz);
    lp->kAt = xmalloc<int>("kAt", "m+1", m + 1);
    atnum(m, n, lp->kA, lp->iA, lp->A, lp->kAt, lp->iAt, lp->At);
    lp->bndmark = xmalloc<int>("bndmark", "n", n);
    lp->rngmark = xmalloc<int>("rngmark", "m", m);
    for (int j = 0; j < n; ++j) lp->bndmark[j] = bnd.empty() ? 8 : bnd[j];
    for (int i = 0; i < m; ++i) lp->rngmark[i] = rng.empty() ? 1 : rng[i];
}

struct random_shape {
    int m = 10, n = 15;
    double density = 0.2;
    bool quad = false;        // Q with both triangles (diagonally dominant, convex)
    int dense_cols = 0;       // columns with an entry in every row
    int dense_rows = 0;       // rows with an entry in every column
    int empty_cols = 0;       // last columns without any entry
    unsigned seed = 1;
};

inline dense_problem random_problem(const random_shape &s) {
    std::mt19937 gen(s.seed);
    std::uniform_real_distribution<double> U(-1.0, 1.0), P(0.0, 1.0);
    dense_problem p;
    p.m = s.m;
    p.n = s.n;
    p.A.assign(s.m, std::vector<double>(s.n, 0.0));
    const int live = s.n - s.empty_cols;
    for (int i = 0; i < s.m; ++i)
        for (int j = 0; j < live; ++j) {
            const bool dense = j < s.dense_cols || i < s.dense_rows;
            if (dense || P(gen) < s.density) p.A[i][j] = U(gen);
        }
    for (int i = 0; i < s.m && live > 0; ++i) {
        bool any = false;
        for (int j = 0; j < live; ++j) any |= p.A[i][j] != 0.0;
        if (!any) p.A[i][i % live] = 1.0 + P(gen);
    }
    if (s.quad) {
        p.Q.assign(s.n, std::vector<double>(s.n, 0.0));
        for (int i = 0; i < s.n; ++i)
            for (int j = 0; j < i; ++j)
                if (P(gen) < s.density) p.Q[i][j] = p.Q[j][i] = 0.5 * U(gen);
        for (int i = 0; i < s.n; ++i) {
            double row = 0;
            for (int j = 0; j < s.n; ++j) row += std::fabs(p.Q[i][j]);
            p.Q[i][i] = row + 0.5;
        }
    }
    return p;
}

inline std::vector<double> spread(int len, unsigned seed, double lo, double hi) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> U(std::log(lo), std::log(hi));
    std::vector<double> v(len);
    for (auto &x : v) x = std::exp(U(gen));
    return v;
}

// K in natural node order (columns, then rows) with the clamped diagonals.
inline std::vector<std::vector<double>> dense_K(const LP *lp, const double *Dn, const double *Dm,
                                                double epsdiag) {
    const int n = lp->n, m = lp->m, N = n + m;
    std::vector<std::vector<double>> K(N, std::vector<double>(N, 0.0));
    for (int j = 0; j < n; ++j) K[j][j] = -std::max(Dn[j] + lp->pert_primal, epsdiag);
    for (int i = 0; i < m; ++i) K[n + i][n + i] = std::max(Dm[i] + lp->pert_dual, epsdiag);
    for (int j = 0; j < n; ++j) {
        for (int k = lp->kA[j]; k < lp->kA[j + 1]; ++k) {
            K[n + lp->iA[k]][j] += lp->A[k];
            K[j][n + lp->iA[k]] += lp->A[k];
        }
        if (lp->qnz > 0)
            for (int k = lp->kQ[j]; k < lp->kQ[j + 1]; ++k) K[lp->iQ[k]][j] -= lp->max * lp->Q[k];
    }
    return K;
}

// Plain left-looking LDL' of K permuted by perm, with the factorization's pivot rule.
struct reference {
    std::vector<std::vector<double>> L;  // L[i][j], i > j, by position
    std::vector<double> d;
    std::vector<int> mark;
    int ndep = 0;
};

inline reference ref_ldlt(const std::vector<std::vector<double>> &K, const int *perm, int n,
                          double epsnum) {
    const int N = static_cast<int>(K.size());
    reference R;
    R.L.assign(N, std::vector<double>(N, 0.0));
    R.d.assign(N, 0.0);
    R.mark.assign(N, 1);
    double maxdiag = 0;
    for (int p = 0; p < N; ++p) maxdiag = std::max(maxdiag, std::fabs(K[perm[p]][perm[p]]));
    for (int j = 0; j < N; ++j) {
        double d = K[perm[j]][perm[j]];
        for (int k = 0; k < j; ++k) d -= R.L[j][k] * R.L[j][k] * R.d[k];
        std::vector<double> col(N, 0.0);
        double big = 0;
        for (int i = j + 1; i < N; ++i) {
            double v = K[perm[i]][perm[j]];
            for (int k = 0; k < j; ++k) v -= R.L[i][k] * R.d[k] * R.L[j][k];
            col[i] = v;
            big = std::max(big, std::fabs(v));
        }
        if (epsnum * maxdiag >= std::fabs(d)) {
            ++R.ndep;
            if (big < 0.01)
                R.mark[j] = 0;
            else
                d = perm[j] < n ? -1e-8 : 1e-8;
        }
        R.d[j] = d;
        for (int i = j + 1; i < N; ++i) R.L[i][j] = R.mark[j] ? col[i] / d : 0.0;
    }
    return R;
}

// Compares the module's factor with the reference: every pivot, every entry of L
// (entries outside the computed structure must be zero in the reference).
inline void expect_matches_reference(const LP *lp, const double *Dn, const double *Dm,
                                     double tol = 1e-8) {
    const factor_view v = factor_info();
    ASSERT_TRUE(v.built);
    const int N = v.n + v.m;
    // The reference uses the epsdiag that was in force for this factorization: the
    // module raises its copy after a factorization with a tiny pivot.
    double eps = v.epsdiag;
    double mind = INFINITY;
    for (int p = 0; p < N; ++p) mind = std::min(mind, std::fabs(v.diag[p]));
    if (mind < 1e-14) eps /= 10;
    const auto K = dense_K(lp, Dn, Dm, eps);
    const reference R = ref_ldlt(K, v.perm, v.n, lp->epsnum);
    EXPECT_EQ(v.ndep, R.ndep);
    for (int p = 0; p < N; ++p) {
        EXPECT_EQ(v.mark[p], R.mark[p]) << "position " << p;
        EXPECT_NEAR(v.diag[p], R.d[p], tol * (1 + std::fabs(R.d[p]))) << "pivot " << p;
    }
    std::vector<double> col(N);
    for (int q = 0; q < N; ++q) {
        std::fill(col.begin(), col.end(), 0.0);
        for (int k = v.kAAt[q]; k < v.kAAt[q + 1]; ++k) col[v.iAAt[k]] = v.AAt[k];
        for (int i = q + 1; i < N; ++i)
            EXPECT_NEAR(col[i], R.L[i][q], tol * (1 + std::fabs(R.L[i][q])))
                << "L(" << i << "," << q << ")";
    }
}

// Structural facts that hold for every factorization.
inline void expect_structure_sound(int n, int m) {
    const factor_view v = factor_info();
    ASSERT_TRUE(v.built);
    const int N = n + m;
    ASSERT_EQ(v.n, n);
    ASSERT_EQ(v.m, m);
    std::vector<int> seen(N, 0);
    for (int p = 0; p < N; ++p) {
        ASSERT_GE(v.perm[p], 0);
        ASSERT_LT(v.perm[p], N);
        EXPECT_EQ(v.iperm[v.perm[p]], p);
        ++seen[v.perm[p]];
    }
    for (int u = 0; u < N; ++u) EXPECT_EQ(seen[u], 1);
    EXPECT_EQ(v.kAAt[0], 0);
    EXPECT_EQ(v.kAAt[N], v.lnz);
    for (int q = 0; q < N; ++q)
        for (int k = v.kAAt[q]; k < v.kAAt[q + 1]; ++k) {
            EXPECT_GT(v.iAAt[k], q);
            EXPECT_LT(v.iAAt[k], N);
            if (k > v.kAAt[q]) {
                EXPECT_GT(v.iAAt[k], v.iAAt[k - 1]);
            }
        }
    // Supernodes: consecutive positions of one kind, a dense triangle over one structure.
    EXPECT_EQ(v.xsuper[0], 0);
    EXPECT_EQ(v.xsuper[v.nsuper], N);
    for (int s = 0; s < v.nsuper; ++s) {
        const int f = v.xsuper[s], l = v.xsuper[s + 1];
        ASSERT_LT(f, l);
        int chunks = 0;
        for (int q = f; q < l && v.split[q] > 0; ++q) chunks += v.split[q];
        EXPECT_EQ(chunks, l - f) << "split of supernode " << s;
        for (int q = f; q < l; ++q) {
            EXPECT_EQ(v.snode[v.perm[q]], s);
            EXPECT_EQ(v.perm[q] < n, v.perm[f] < n) << "supernode " << s << " mixes kinds";
            EXPECT_EQ(v.kAAt[q + 1] - v.kAAt[q], v.kAAt[f + 1] - v.kAAt[f] - (q - f));
        }
    }
    double ops = N + 3.0 * v.lnz;
    for (int q = 0; q < N; ++q) ops += double(v.kAAt[q + 1] - v.kAAt[q]) * (v.kAAt[q + 1] - v.kAAt[q]);
    EXPECT_EQ(v.arith_ops, ops);
}

// Largest residual of the unclamped system at (x, y).
inline double residual(const LP *lp, const double *Dn, const double *Dm, const double *bx,
                       const double *by, const double *x, const double *y) {
    const int n = lp->n, m = lp->m;
    double worst = 0;
    std::vector<double> Ax(m, 0.0), Aty(n, 0.0), Qx(n, 0.0);
    for (int j = 0; j < n; ++j) {
        for (int k = lp->kA[j]; k < lp->kA[j + 1]; ++k) {
            Ax[lp->iA[k]] += lp->A[k] * x[j];
            Aty[j] += lp->A[k] * y[lp->iA[k]];
        }
        if (lp->qnz > 0)
            for (int k = lp->kQ[j]; k < lp->kQ[j + 1]; ++k) Qx[lp->iQ[k]] += lp->Q[k] * x[j];
    }
    for (int j = 0; j < n; ++j)
        worst = std::max(worst, std::fabs(bx[j] - (-(Dn[j] + lp->pert_primal) * x[j] -
                                                   lp->max * Qx[j] + Aty[j])));
    for (int i = 0; i < m; ++i)
        worst = std::max(worst, std::fabs(by[i] - (Ax[i] + (Dm[i] + lp->pert_dual) * y[i])));
    return worst;
}

} // namespace orva::testing
