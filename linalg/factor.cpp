// Numeric phase of the sparse LDL' factorization (supernodal, left-looking),
// getpertval, inv_clo and the read-only view of the work space.
//
// Each supernode J is assembled in a dense front: an (h+1) x c column-major block
// whose row 0 is J's first column's diagonal and whose row t+1 is the t-th entry of
// that column's structure, so column cc of J holds its diagonal at row cc and its
// entries of L below.  The front is loaded from A and Q, receives the updates of
// every earlier supernode K whose structure reaches J (the K wait in a linked list
// per supernode, as in any left-looking scheme), is factored column by column with
// the pivot rule, and is copied into L's column storage (AAt).  Large updates go
// through BLAS dgemm on packed blocks; small ones use plain loops.
#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "linalg/factor.h"
#include "linalg/factor_info.h"
#include "linalg/factor_ws.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva {

namespace detail {
factor_ws ws;
}

using detail::ws;

namespace {

constexpr int panel_width = 32;     // columns factored before a BLAS trailing update
constexpr int source_block = 256;   // source columns packed at a time for an update

// Grows one of the module's dense buffers to at least `need` doubles.
void reserve(double *&buf, long long &have, long long need, const char *name) {
    if (need <= have) return;
    const long long want = std::max(need, have + have / 2);
    buf = xrealloc<double>(buf, name, "size", want);
    have = want;
}

long long pack_have = 0, wpack_have = 0, ctmp_have = 0, front_have = 0;

// Factor state shared by the routines of one inv_num call.
struct numctx {
    const LP *lp;
    const double *Dn, *Dm;
    int n, m;
    int verbose;
    double maxdiag;
    int *link, *length, *indmap;
    double *temp;  // tmpsiz doubles: one column of a small update
};

// Subtracts from the front of J the update of the earlier supernode K.
void update_from(numctx &cx, int K, int J, double *F, int ld) {
    const int fK = ws.xsuper[K], cK = ws.xsuper[K + 1] - fK;
    const int hK = ws.kAAt[fK + 1] - ws.kAAt[fK];
    const int nrem = cx.length[K];
    const int t0 = hK - nrem;
    const int *rows = ws.iAAt + ws.kAAt[fK] + t0;
    const int f = ws.xsuper[J], endJ = ws.xsuper[J + 1];
    int nt = 0;
    while (nt < nrem && rows[nt] < endJ) ++nt;
    const int *indmap = cx.indmap;
    const bool contiguous = indmap[rows[nrem - 1]] - indmap[rows[0]] == nrem - 1;
    const double *AAt = ws.AAt;
    const double *dK = ws.diag + fK;

    // Column k of K from its first remaining row: AAt + kAAt[fK+k] + (t0 - k).
    auto colK = [&](int k) { return AAt + ws.kAAt[fK + k] + (t0 - k); };

    const double work = static_cast<double>(nrem) * nt * cK;
    if (cK >= 4 && nt >= 4 && work >= 4096.0) {
        // BLAS: P = K's remaining rows (packed), W = D_K times K's target rows,
        // C = P W' subtracted from J.
        const int r0 = indmap[rows[0]];
        double *Fdst = F + static_cast<long long>(rows[0] - f) * ld + r0;
        for (int k0 = 0; k0 < cK; k0 += source_block) {
            const int kb = std::min(source_block, cK - k0);
            reserve(ws.pack, pack_have, static_cast<long long>(nrem) * kb, "pack");
            reserve(ws.wpack, wpack_have, static_cast<long long>(nt) * kb, "wpack");
            double *P = ws.pack, *Wp = ws.wpack;
            for (int k = 0; k < kb; ++k) {
                const double *src = colK(k0 + k);
                double *dst = P + static_cast<long long>(k) * nrem;
                std::memcpy(dst, src, sizeof(double) * nrem);
                const double dk = dK[k0 + k];
                double *wd = Wp + static_cast<long long>(k) * nt;
                for (int a = 0; a < nt; ++a) wd[a] = dk * src[a];
            }
            if (contiguous) {
                cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, nrem, nt, kb, -1.0, P, nrem,
                            Wp, nt, 1.0, Fdst, ld);
            } else {
                reserve(ws.ctmp, ctmp_have, static_cast<long long>(nrem) * nt, "ctmp");
                double *C = ws.ctmp;
                cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, nrem, nt, kb, 1.0, P, nrem,
                            Wp, nt, 0.0, C, nrem);
                for (int a = 0; a < nt; ++a) {
                    double *Fc = F + static_cast<long long>(rows[a] - f) * ld;
                    const double *Cc = C + static_cast<long long>(a) * nrem;
                    for (int b = a; b < nrem; ++b) Fc[indmap[rows[b]]] -= Cc[b];
                }
            }
        }
        return;
    }

    // Plain path: one target column at a time, source columns four at a time.
    double *acc = cx.temp;
    for (int a = 0; a < nt; ++a) {
        double *Fc = F + static_cast<long long>(rows[a] - f) * ld;
        const int len = nrem - a;
        double *out;
        if (contiguous) {
            out = Fc + indmap[rows[a]];
        } else {
            out = acc;
            for (int i = 0; i < len; ++i) acc[i] = 0.0;
        }
        int k = 0;
        for (; k + 4 <= cK; k += 4) {
            const double *L0 = colK(k) + a, *L1 = colK(k + 1) + a, *L2 = colK(k + 2) + a,
                         *L3 = colK(k + 3) + a;
            const double w0 = dK[k] * L0[0], w1 = dK[k + 1] * L1[0], w2 = dK[k + 2] * L2[0],
                         w3 = dK[k + 3] * L3[0];
            if (contiguous)
                for (int i = 0; i < len; ++i) out[i] -= L0[i] * w0 + L1[i] * w1 + L2[i] * w2 + L3[i] * w3;
            else
                for (int i = 0; i < len; ++i) out[i] += L0[i] * w0 + L1[i] * w1 + L2[i] * w2 + L3[i] * w3;
        }
        for (; k < cK; ++k) {
            const double *L0 = colK(k) + a;
            const double w0 = dK[k] * L0[0];
            if (w0 == 0.0) continue;
            if (contiguous)
                for (int i = 0; i < len; ++i) out[i] -= L0[i] * w0;
            else
                for (int i = 0; i < len; ++i) out[i] += L0[i] * w0;
        }
        if (!contiguous) {
            const int *rr = rows + a;
            for (int i = 0; i < len; ++i) {
                Fc[indmap[rr[i]]] -= acc[i];
                acc[i] = 0.0;
            }
        }
    }
}

// The pivot rule for column j of the front (position p); returns the pivot.
double pivot(numctx &cx, int p, double *col, int j, int h) {
    double d = col[j];
    const int v = ws.perm[p];
    const int n = cx.n;
    const int len = h - j;  // entries of L below the diagonal
    double *below = col + j + 1;
    if (ws.epsnum * cx.maxdiag >= std::fabs(d)) {
        ++ws.ndep;
        if (cx.verbose >= 3) {
            if (v < n) {
                if (cx.lp->collab)
                    std::printf("dep col: i=%d, lab=%s, dn=%10.2e \n", v, cx.lp->collab[v], cx.Dn[v]);
            } else if (cx.lp->rowlab) {
                std::printf("dep row: i=%d, lab=%s, dm=%10.2e \n", v - n, cx.lp->rowlab[v - n],
                            cx.Dm[v - n]);
            }
        }
        double big = 0.0;
        for (int i = 0; i < len; ++i) big = std::max(big, std::fabs(below[i]));
        if (len == 0 || big < 0.01)
            ws.mark[p] = 0;
        else
            d = v < n ? -1e-8 : 1e-8;
    }
    ws.diag[p] = d;
    if (ws.mark[p]) {
        for (int i = 0; i < len; ++i) below[i] /= d;
    } else {
        for (int i = 0; i < len; ++i) below[i] = 0.0;
    }
    return d;
}

// Factors the assembled front of supernode J (first position f, c columns).
void factor_front(numctx &cx, int f, int c, int h, double *F, int ld) {
    for (int j0 = 0; j0 < c; j0 += panel_width) {
        const int j1 = std::min(c, j0 + panel_width);
        for (int j = j0; j < j1; ++j) {
            double *col = F + static_cast<long long>(j) * ld;
            const int len = ld - j;
            double *out = col + j;
            int k = j0;
            for (; k + 4 <= j; k += 4) {
                const double *L0 = F + static_cast<long long>(k) * ld + j;
                const double *L1 = L0 + ld, *L2 = L1 + ld, *L3 = L2 + ld;
                const double w0 = ws.diag[f + k] * L0[0], w1 = ws.diag[f + k + 1] * L1[0],
                             w2 = ws.diag[f + k + 2] * L2[0], w3 = ws.diag[f + k + 3] * L3[0];
                for (int i = 0; i < len; ++i) out[i] -= L0[i] * w0 + L1[i] * w1 + L2[i] * w2 + L3[i] * w3;
            }
            for (; k < j; ++k) {
                const double *L0 = F + static_cast<long long>(k) * ld + j;
                const double w0 = ws.diag[f + k] * L0[0];
                if (w0 == 0.0) continue;
                for (int i = 0; i < len; ++i) out[i] -= L0[i] * w0;
            }
            pivot(cx, f + j, col, j, h);
        }
        if (j1 >= c) break;
        // Trailing update of columns j1..c-1 by the panel j0..j1-1.
        const int kb = j1 - j0, nc = c - j1;
        reserve(ws.wpack, wpack_have, static_cast<long long>(nc) * kb, "wpack");
        double *Wp = ws.wpack;
        for (int k = 0; k < kb; ++k) {
            const double dk = ws.diag[f + j0 + k];
            const double *src = F + static_cast<long long>(j0 + k) * ld + j1;
            double *wd = Wp + static_cast<long long>(k) * nc;
            for (int a = 0; a < nc; ++a) wd[a] = dk * src[a];
        }
        constexpr int cb = 128;  // column blocks keep the wasted upper triangle small
        for (int c0 = j1; c0 < c; c0 += cb) {
            const int w = std::min(cb, c - c0);
            cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, ld - c0, w, kb, -1.0,
                        F + static_cast<long long>(j0) * ld + c0, ld, Wp + (c0 - j1), nc, 1.0,
                        F + static_cast<long long>(c0) * ld + c0, ld);
        }
    }
}

extern "C" void openblas_set_num_threads(int) __attribute__((weak));

} // namespace

void inv_num(LP *lp, const double *Dn, const double *Dm) {
    // A record whose sizes changed since the symbolic phase gets a new one.
    if (ws.diag) {
        const int nzA = lp->n > 0 ? lp->kA[lp->n] : 0;
        const int nzQ = (lp->qnz > 0 && lp->kQ) ? lp->kQ[lp->n] : 0;
        if (lp->n != ws.n || lp->m != ws.m || nzA != ws.nzA || nzQ != ws.nzQ) inv_clo();
    }
    if (!ws.diag) {
        static bool blas_set = false;
        if (!blas_set) {
            if (openblas_set_num_threads) openblas_set_num_threads(1);
            blas_set = true;
        }
        detail::symbolic(lp);
    }
    const int n = ws.n, m = ws.m, N = n + m;
    const int *perm = ws.perm, *iperm = ws.iperm;
    double *diag = ws.diag;
    const double eps = ws.epsdiag;
    const double *Q = lp->Q;
    const int *kQ = lp->qnz > 0 ? lp->kQ : nullptr, *iQ = lp->iQ;
    const double qsign = -static_cast<double>(lp->max);

    // Diagonal of K.
    for (int j = 0; j < n; ++j) {
        const double a = Dn[j] + lp->pert_primal;
        diag[iperm[j]] = -(a > eps ? a : eps);
    }
    for (int i = 0; i < m; ++i) {
        const double a = Dm[i] + lp->pert_dual;
        diag[iperm[n + i]] = a > eps ? a : eps;
    }
    if (kQ)
        for (int j = 0; j < n; ++j)
            for (int k = kQ[j]; k < kQ[j + 1]; ++k)
                if (iQ[k] == j) diag[iperm[j]] += qsign * Q[k];
    for (int p = 0; p < N; ++p) ws.mark[p] = 1;

    numctx cx;
    cx.lp = lp;
    cx.Dn = Dn;
    cx.Dm = Dm;
    cx.n = n;
    cx.m = m;
    cx.verbose = lp->verbose;
    cx.maxdiag = maxv(diag, N);
    const int ns = ws.nsuper;
    cx.link = xmalloc<int>("link", "nsuper", ns);
    cx.indmap = xmalloc<int>("indmap", "m2", N);
    cx.length = xmalloc<int>("length", "nsuper", ns);
    int *relind = xmalloc<int>("relind", "m2", N);  // kept for the work-space contract
    cx.temp = xcalloc<double>("temp", "tmpsiz", ws.tmpsiz);
    ws.ndep = 0;
    for (int S = 0; S < ns; ++S) cx.link[S] = -1;

    reserve(ws.front, front_have, ws.frontsiz, "front");
    double *F = ws.front;
    const double *A = lp->A;
    const int nzA = ws.nzA;

    for (int J = 0; J < ns; ++J) {
        const int f = ws.xsuper[J], c = ws.xsuper[J + 1] - f;
        const int h = ws.kAAt[f + 1] - ws.kAAt[f];
        const int ld = h + 1;
        const int *Jrows = ws.iAAt + ws.kAAt[f];
        std::memset(F, 0, sizeof(double) * static_cast<size_t>(ld) * c);
        cx.indmap[f] = 0;
        for (int t = 0; t < h; ++t) cx.indmap[Jrows[t]] = t + 1;

        // Load K's entries of J's columns.
        for (int cc = 0; cc < c; ++cc) {
            F[static_cast<long long>(cc) * ld + cc] = diag[f + cc];
            for (int e = ws.ldstart[f + cc]; e < ws.ldstart[f + cc + 1]; ++e) {
                const int s = ws.ldsrc[e];
                F[ws.ldoff[e]] += s < nzA ? A[s] : qsign * Q[s - nzA];
            }
        }

        // Updates from the supernodes waiting for J.
        int K = cx.link[J];
        while (K != -1) {
            const int next = cx.link[K];
            update_from(cx, K, J, F, ld);
            // K moves on to the supernode of its next remaining row.
            const int fK = ws.xsuper[K];
            const int hK = ws.kAAt[fK + 1] - ws.kAAt[fK];
            const int *rows = ws.iAAt + ws.kAAt[fK] + (hK - cx.length[K]);
            int nt = 0;
            const int endJ = f + c;
            while (nt < cx.length[K] && rows[nt] < endJ) ++nt;
            if (nt < cx.length[K]) {
                const int S = ws.snode[perm[rows[nt]]];
                cx.length[K] -= nt;
                cx.link[K] = cx.link[S];
                cx.link[S] = K;
            } else {
                cx.length[K] = 0;
            }
            K = next;
        }

        factor_front(cx, f, c, h, F, ld);

        // Store J's columns of L.
        for (int cc = 0; cc < c; ++cc)
            std::memcpy(ws.AAt + ws.kAAt[f + cc], F + static_cast<long long>(cc) * ld + cc + 1,
                        sizeof(double) * (h - cc));

        // J waits for the supernode of its first row below its own columns.
        const int below = h - c + 1;
        if (below > 0) {
            const int S = ws.snode[perm[Jrows[c - 1]]];
            cx.length[J] = below;
            cx.link[J] = cx.link[S];
            cx.link[S] = J;
        } else {
            cx.length[J] = 0;
        }
    }

    xfree(cx.link);
    xfree(cx.temp);
    xfree(cx.indmap);
    xfree(relind);
    xfree(cx.length);

    // Checks of the pivots.
    if (lp->verbose >= 3)
        for (int p = 0; p < N; ++p) {
            const bool col = perm[p] < n;
            if (col ? diag[p] > 0 : diag[p] < 0)
                std::printf("nonconvex subproblem: diag[%4d] = %10.2e \n", p, diag[p]);
        }
    double mindiag = std::numeric_limits<double>::infinity();
    for (int p = 0; p < N; ++p) mindiag = std::min(mindiag, std::fabs(diag[p]));
    if (mindiag < 1e-14) {
        ws.epsdiag *= 10.0;
        if (lp->verbose >= 2)
            std::printf("mindiag = %10.2e, epsdiag = %10.2e\n", mindiag, ws.epsdiag);
    }
    if (lp->verbose == 2 && ws.ndep > 0)
        std::printf("     dep rows:    %d, more info: verbose=3, orva_auxfiles=rc\n", ws.ndep);
}

double getpertval(int a, int b) {
    if (a + b <= 0) return std::numeric_limits<double>::infinity();
    double best = -std::numeric_limits<double>::infinity();
    bool any = false;
    if (!ws.diag) return best;
    const int lim = std::min(a + b, ws.n + ws.m);
    for (int p = 0; p < lim; ++p) {
        if (ws.perm[p] >= b) continue;
        const double d = ws.diag[p];
        if (std::isnan(d)) continue;
        if (!any || d > best) best = d;
        any = true;
    }
    return any ? 1.1 * best : best;
}

void inv_clo() {
    xfree(ws.perm);
    xfree(ws.iperm);
    xfree(ws.iAAt);
    xfree(ws.kAAt);
    xfree(ws.mark);
    xfree(ws.AAt);
    xfree(ws.diag);
    xfree(ws.y_k);
    xfree(ws.x_k);
    xfree(ws.r);
    xfree(ws.s);
    xfree(ws.z);
    xfree(ws.Qx);
    xfree(ws.snode);
    xfree(ws.xsuper);
    xfree(ws.split);
    xfree(ws.ldstart);
    xfree(ws.ldoff);
    xfree(ws.ldsrc);
    xfree(ws.front);
    xfree(ws.pack);
    xfree(ws.wpack);
    xfree(ws.ctmp);
    pack_have = wpack_have = ctmp_have = front_have = 0;
    ws = detail::factor_ws{};
}

factor_view factor_info() {
    factor_view v;
    v.built = ws.diag != nullptr;
    v.n = ws.n;
    v.m = ws.m;
    v.perm = ws.perm;
    v.iperm = ws.iperm;
    v.snode = ws.snode;
    v.xsuper = ws.xsuper;
    v.nsuper = ws.nsuper;
    v.split = ws.split;
    v.kAAt = ws.kAAt;
    v.iAAt = ws.iAAt;
    v.AAt = ws.AAt;
    v.diag = ws.diag;
    v.mark = ws.mark;
    v.lnz = ws.lnz;
    v.tmpsiz = ws.tmpsiz;
    v.ndep = ws.ndep;
    v.epsdiag = ws.epsdiag;
    v.arith_ops = ws.arith_ops;
    v.window = ws.window;
    v.dense = ws.dense;
    v.pdf = ws.pdf_used;
    v.method = ws.method;
    v.symbolic_seconds = ws.symbolic_seconds;
    return v;
}

} // namespace orva
