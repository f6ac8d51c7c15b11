// Numeric phase of the sparse LDL' factorization (supernodal, left-looking),
// the pivots read from it, release and the read-only view of the work space.
//
// The factorization works in a postorder of the elimination tree (the "ip" order
// of the symbolic phase): a topological order, so the factor is L with rows and
// columns relabelled and every pivot is decided on the same value, but columns
// that share a structure are consecutive.  Runs of such columns form blocks; each
// block is assembled in its dense front in S (ld x c, column-major; rows are the
// block's row list), loaded from A and Q, updated by every earlier block whose
// structure reaches it (blocks wait in a linked list per block, as in any
// left-looking scheme), factored column by column with the pivot rule, and copied
// into L's column storage (AAt, by position).  Dependent pivots are reported in
// position order after the factorization.  Large updates go through BLAS dgemm;
// small ones use plain loops compiled for AVX-512, AVX2 and the base instruction
// set.
#include <cblas.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <limits>

#include "linalg/blas.h"
#include "linalg/factor.h"
#include "linalg/factor_info.h"
#include "linalg/factor_ws.h"
#include "linalg/factorization.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

// No contraction of a*b+c into fused multiply-adds (the kernels below are compiled
// for instruction sets that have them): every product is rounded before it is
// added, as in a plain column-by-column factorization.  When large updates of
// opposite sign cancel (a row whose diagonal is clamped to epsdiag makes terms of
// order 1/epsdiag, which later columns take back), their rounding errors then cancel
// with them and the pivot comes out as an exact zero, which the pivot rule declares
// dependent.  Fused, the residue of the products' rounding errors survives as a
// pivot of arbitrary sign and size.
#if defined(__clang__)
#pragma clang fp contract(off)
#else
#pragma GCC optimize("fp-contract=off")
#endif

// The plain update loops are compiled for AVX-512, AVX2 and the base instruction set on
// x86-64 (chosen when the program starts); elsewhere once, for the target.
// (Clang never inlines a function with clones and refuses noinline beside them.)
// The steps of a cloned function are inlined into each of its clones.
#define ORVA_INLINE inline __attribute__((always_inline))

#if defined(__x86_64__) && defined(__clang__)
#define ORVA_CLONED __attribute__((target_clones("avx512f", "avx2", "default")))
#elif defined(__x86_64__)
#define ORVA_CLONED __attribute__((noinline, target_clones("avx512f", "avx2", "default")))
#else
#define ORVA_CLONED __attribute__((noinline))
#endif

namespace orva {

using detail::factor_ws;

namespace {

constexpr int leaf_width = 16;    // columns of a front factored without BLAS
// Column blocks of a front's update by its earlier columns: narrow ones for fronts of
// up to square_rows rows (OpenBLAS takes its unpacked small-matrix path for them),
// wider ones for taller fronts.
constexpr int square_block_small = 24, square_block_large = 48, square_rows = 1024;
constexpr int target_block = 96;  // target columns of one BLAS update between blocks
constexpr int source_block = 64;  // source columns packed at a time
constexpr int scatter_max_cols = 32;  // sources of at most this many columns skip BLAS
// Factors in a row whose solves found the rows' floor in the way before it is lowered.
constexpr int floor_run_to_lower = 3;
// A pivot smaller than this in magnitude raises the diagonal floor epsdiag tenfold.
constexpr double tiny_pivot = 1e-14;

// Grows one of the module's dense buffers to at least `need` doubles.
void reserve(double *&buf, long long &have, long long need, const char *name) {
    if (need <= have) return;
    const long long want = std::max(need, have + have / 2);
    buf = xrealloc<double>(buf, name, "size", want);
    have = want;
}


// Factor state shared by the routines of one inv_num call.
struct numctx {
    factor_ws *W;  // the factorization's work space
    const LP *lp;
    const double *Dn, *Dm;
    int n, m;
    int verbose;
    double maxdiag;
    int *link, *length, *indmap, *relind;
    char *dep;     // dependent pivots, by position
    double *temp;  // tmpsiz doubles: one column of a small update
};

// The update from CK <= 4 source columns (L: SK + k*ldK, pivots dK) whose nrem rows
// are all among the target block's own columns (first column f): straight into its
// front, one target column at a time.
template <int CK>
inline void small_own(const double *SK, int ldK, const double *dK, const int *rows, int nrem, int f,
                      double *F, int ld) {
    const double *L0 = SK, *L1 = SK + ldK, *L2 = SK + 2LL * ldK, *L3 = SK + 3LL * ldK;
    for (int a = 0; a < nrem; ++a) {
        const long long base = static_cast<long long>(rows[a] - f) * ld - f;  // F[base + r]: row r
        const double w0 = dK[0] * L0[a];
        const double w1 = CK > 1 ? dK[1] * L1[a] : 0.0;
        const double w2 = CK > 2 ? dK[2] * L2[a] : 0.0;
        const double w3 = CK > 3 ? dK[3] * L3[a] : 0.0;
        for (int b = a; b < nrem; ++b) {
            double u = L0[b] * w0;
            if constexpr (CK > 1) u += L1[b] * w1;
            if constexpr (CK > 2) u += L2[b] * w2;
            if constexpr (CK > 3) u += L3[b] * w3;
            F[base + rows[b]] -= u;
        }
    }
}

#if defined(__x86_64__)
// Whether the processor has the AVX-512 instructions of scatter_update_512.  Setting
// ORVA_NO_AVX512 in the environment takes the portable paths instead (the tests run both).
bool have_avx512() {
    static const bool yes = __builtin_cpu_supports("avx512f") &&
                            __builtin_cpu_supports("avx512vl") && !std::getenv("ORVA_NO_AVX512");
    return yes;
}

// The update from cK source columns (L: SK + k*ldK, rows 0..nrem) into nt target
// columns of a front (target a is front column rows[a] - f), with W_ak = d_k L_ak: for every target a and row b >= a, F(rel[b], rows[a] - f) minus the sum
// over k of L_bk W_ak (rel == nullptr: row b is front row rel0 + b).  W is stored by
// source columns: W_ak is W[k*nt + a].  Tiles of eight
// rows by four targets are summed in registers, each product rounded before it is
// added, and subtracted from the front through gathers and scatters.
__attribute__((target("avx512f,avx512vl"))) void scatter_update_512(
    const double *SK, long long ldK, int cK, const double *W, int nt, int nrem, const int *rel, int rel0,
    const int *rows, int f, double *F, long long ld) {
    for (int a0 = 0; a0 < nt; a0 += 4) {
        const int na = std::min(4, nt - a0);
        const double *w0 = W + a0;
        const double *w1 = na > 1 ? w0 + 1 : w0, *w2 = na > 2 ? w0 + 2 : w0, *w3 = na > 3 ? w0 + 3 : w0;
        double *col[4];
        for (int j = 0; j < 4; ++j) col[j] = F + static_cast<long long>(rows[a0 + std::min(j, na - 1)] - f) * ld;
        for (int b0 = a0; b0 < nrem; b0 += 8) {
            const int nb = std::min(8, nrem - b0);
            const __mmask8 valid = static_cast<__mmask8>((1u << nb) - 1u);
            __m512d c0 = _mm512_setzero_pd(), c1 = c0, c2 = c0, c3 = c0;
            const double *Lb = SK + b0;
            for (int k = 0; k < cK; ++k) {
                const __m512d l = _mm512_maskz_loadu_pd(valid, Lb + k * ldK);
                const long long o = static_cast<long long>(k) * nt;
                c0 = _mm512_add_pd(c0, _mm512_mul_pd(l, _mm512_set1_pd(w0[o])));
                c1 = _mm512_add_pd(c1, _mm512_mul_pd(l, _mm512_set1_pd(w1[o])));
                c2 = _mm512_add_pd(c2, _mm512_mul_pd(l, _mm512_set1_pd(w2[o])));
                c3 = _mm512_add_pd(c3, _mm512_mul_pd(l, _mm512_set1_pd(w3[o])));
            }
            const __m512d c[4] = {c0, c1, c2, c3};
            // Rows that are consecutive in the front (common: half the tiles) are read
            // and written as one vector instead of being gathered and scattered.
            const int base = rel ? rel[b0] : rel0 + b0;
            if (rel && rel[b0 + nb - 1] - base != nb - 1) {
                const __m256i idx = _mm256_maskz_loadu_epi32(valid, rel + b0);
                for (int j = 0; j < na; ++j) {
                    const __mmask8 m = b0 == a0 ? static_cast<__mmask8>(valid & (0xFFu << j)) : valid;
                    __m512d g = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), m, idx, col[j], 8);
                    g = _mm512_sub_pd(g, c[j]);
                    _mm512_mask_i32scatter_pd(col[j], m, idx, g, 8);
                }
            } else {
                for (int j = 0; j < na; ++j) {
                    const __mmask8 m = b0 == a0 ? static_cast<__mmask8>(valid & (0xFFu << j)) : valid;
                    double *dst = col[j] + base;
                    const __m512d g = _mm512_maskz_loadu_pd(m, dst);
                    _mm512_mask_storeu_pd(dst, m, _mm512_sub_pd(g, c[j]));
                }
            }
        }
    }
}
#else
// No AVX-512 kernel on this architecture: the portable paths do the work.
bool have_avx512() { return false; }
void scatter_update_512(const double *, long long, int, const double *, int, int, const int *,
                        int, const int *, int, double *, long long) {}
#endif

// One update of block J's front by an earlier block K (see update_from): K's columns from
// their first remaining row, its pivots, its remaining rows (the first nt are columns of
// J) and where they fall in J's front.
struct update {
    const double *SK;   // K's column k from its first remaining row: SK + k*ldK
    int ldK, cK;
    const double *dK;   // K's pivots
    const int *rows;    // K's remaining rows (ip order)
    int nrem, nt;
    int f;              // J's first column
    const int *indmap;  // J's front row of each row
    bool contiguous;    // K's rows are consecutive rows of J's front
    int span;           // J's front rows from K's first row to its last
    const int *rel;     // J's front row of each of K's rows (when not contiguous)
    double *F;          // J's front, ld rows
    int ld;
    double work;        // multiply-adds of the update
};

// Sources of 5 to scatter_max_cols columns on AVX-512: W = D_K times K's target rows,
// then tiles of rows summed in registers and scattered into J.
ORVA_INLINE void update_scatter(factor_ws &ws, const update &u) {
    reserve(ws.wpack, ws.wpack_have, static_cast<long long>(u.nt) * u.cK, "wpack");
    double *W = ws.wpack;
    for (int k = 0; k < u.cK; ++k) {
        const double dk = u.dK[k];
        const double *Lk = u.SK + k * static_cast<long long>(u.ldK);
        double *Wk = W + static_cast<long long>(k) * u.nt;
        for (int a = 0; a < u.nt; ++a) Wk[a] = dk * Lk[a];
    }
    scatter_update_512(u.SK, u.ldK, u.cK, W, u.nt, u.nrem, u.contiguous ? nullptr : u.rel, u.indmap[u.rows[0]],
                       u.rows, u.f, u.F, u.ld);
}

// K's rows fill most of their span of J's rows: expand them into that span (zeros
// elsewhere) and update J in place with BLAS, as if the rows were contiguous.
ORVA_INLINE void update_expanded(factor_ws &ws, const update &u) {
    const int *rows = u.rows, *rel = u.rel;
    const int nrem = u.nrem, nt = u.nt, cK = u.cK, ldK = u.ldK, span = u.span, f = u.f, ld = u.ld;
    const double *SK = u.SK, *dK = u.dK;
    const int r0J = u.indmap[rows[0]];
    const int tspan = rows[nt - 1] - rows[0] + 1;  // J's columns that the targets reach
    double *Fbase = u.F + static_cast<long long>(rows[0] - f) * ld + r0J;
    for (int k0 = 0; k0 < cK; k0 += source_block) {
        const int kb = std::min(source_block, cK - k0);
        reserve(ws.ctmp, ws.ctmp_have, static_cast<long long>(span) * kb, "ctmp");
        reserve(ws.wpack, ws.wpack_have, static_cast<long long>(tspan) * kb, "wpack");
        double *P = ws.ctmp, *Wp = ws.wpack;
        std::memset(P, 0, sizeof(double) * static_cast<size_t>(span) * kb);
        for (int k = 0; k < kb; ++k) {
            const double *src = SK + static_cast<long long>(k0 + k) * ldK;
            double *pc = P + static_cast<long long>(k) * span;
            for (int b = 0; b < nrem; ++b) pc[rel[b] - r0J] = src[b];
            // J's own columns are its first rows: the targets are P's first tspan rows.
            const double dk = dK[k0 + k];
            double *wd = Wp + static_cast<long long>(k) * tspan;
            for (int a = 0; a < tspan; ++a) wd[a] = dk * pc[a];
        }
        for (int a0 = 0; a0 < tspan; a0 += target_block) {
            const int w = std::min(target_block, tspan - a0);
            cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, span - a0, w, kb, -1.0, P + a0,
                        span, Wp + a0, tspan, 1.0, Fbase + static_cast<long long>(a0) * ld + a0, ld);
        }
    }
}

// BLAS, by groups of target columns (each with the rows at and below its first one, so
// that only the lower triangle of the targets' square is computed up to the group's own
// small triangle) and of source columns: W = D_K times K's target rows (packed), C =
// L_K(rows) W' subtracted from J in place when K's rows are contiguous in J, else
// through C and a scatter.
ORVA_INLINE void update_blas(factor_ws &ws, const update &u) {
    const int *rows = u.rows, *rel = u.rel, *indmap = u.indmap;
    const int nrem = u.nrem, nt = u.nt, cK = u.cK, ldK = u.ldK, f = u.f, ld = u.ld;
    const bool contiguous = u.contiguous;
    const double *SK = u.SK, *dK = u.dK;
    double *F = u.F;
    for (int a0 = 0; a0 < nt; a0 += target_block) {
        const int w = std::min(target_block, nt - a0), mrows = nrem - a0;
        double *C = nullptr;
        if (!contiguous) {
            reserve(ws.ctmp, ws.ctmp_have, static_cast<long long>(mrows) * w, "ctmp");
            C = ws.ctmp;
        }
        for (int k0 = 0; k0 < cK; k0 += source_block) {
            const int kb = std::min(source_block, cK - k0);
            reserve(ws.wpack, ws.wpack_have, static_cast<long long>(w) * kb, "wpack");
            double *Wp = ws.wpack;
            for (int k = 0; k < kb; ++k) {
                const double *src = SK + static_cast<long long>(k0 + k) * ldK + a0;
                const double dk = dK[k0 + k];
                double *wd = Wp + static_cast<long long>(k) * w;
                for (int a = 0; a < w; ++a) wd[a] = dk * src[a];
            }
            const double *Ablk = SK + static_cast<long long>(k0) * ldK + a0;
            if (contiguous) {
                double *Fdst = F + static_cast<long long>(rows[a0] - f) * ld + indmap[rows[a0]];
                cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, mrows, w, kb, -1.0, Ablk, ldK,
                            Wp, w, 1.0, Fdst, ld);
            } else {
                cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, mrows, w, kb, 1.0, Ablk, ldK, Wp,
                            w, k0 == 0 ? 0.0 : 1.0, C, mrows);
            }
        }
        if (!contiguous)
            for (int a = 0; a < w; ++a) {
                double *Fc = F + static_cast<long long>(rows[a0 + a] - f) * ld;
                const double *Cc = C + static_cast<long long>(a) * mrows;
                const int *rr = rel + a0;
                for (int b = a; b < mrows; ++b) Fc[rr[b]] -= Cc[b];
            }
    }
}

// Up to four source columns, rows not contiguous: straight into J's rows.
ORVA_INLINE void update_few(const update &u) {
    const int *rows = u.rows, *rel = u.rel;
    const int nrem = u.nrem, nt = u.nt, cK = u.cK, ldK = u.ldK, f = u.f, ld = u.ld;
    const double *SK = u.SK, *dK = u.dK;
    double *F = u.F;
    auto colK = [&](int k) { return SK + static_cast<long long>(k) * ldK; };
    const double *L0 = colK(0), *L1 = cK > 1 ? colK(1) : nullptr, *L2 = cK > 2 ? colK(2) : nullptr,
                 *L3 = cK > 3 ? colK(3) : nullptr;
    for (int a = 0; a < nt; ++a) {
        double *Fc = F + static_cast<long long>(rows[a] - f) * ld;
        const int *rr = rel;
        const double w0 = dK[0] * L0[a];
        if (cK == 1) {
            if (w0 != 0.0)
                for (int b = a; b < nrem; ++b) Fc[rr[b]] -= L0[b] * w0;
        } else if (cK == 2) {
            const double w1 = dK[1] * L1[a];
            for (int b = a; b < nrem; ++b) Fc[rr[b]] -= L0[b] * w0 + L1[b] * w1;
        } else if (cK == 3) {
            const double w1 = dK[1] * L1[a], w2 = dK[2] * L2[a];
            for (int b = a; b < nrem; ++b) Fc[rr[b]] -= L0[b] * w0 + L1[b] * w1 + L2[b] * w2;
        } else {
            const double w1 = dK[1] * L1[a], w2 = dK[2] * L2[a], w3 = dK[3] * L3[a];
            for (int b = a; b < nrem; ++b)
                Fc[rr[b]] -= L0[b] * w0 + L1[b] * w1 + L2[b] * w2 + L3[b] * w3;
        }
    }
}

// Plain path: one target column at a time, source columns four at a time (into the
// front when K's rows are contiguous in it, else through temp and a scatter).
ORVA_INLINE void update_plain(const update &u, double *temp) {
    const int *rows = u.rows, *rel = u.rel, *indmap = u.indmap;
    const int nrem = u.nrem, nt = u.nt, cK = u.cK, ldK = u.ldK, f = u.f, ld = u.ld;
    const bool contiguous = u.contiguous;
    const double *SK = u.SK, *dK = u.dK;
    double *F = u.F;
    auto colK = [&](int k) { return SK + static_cast<long long>(k) * ldK; };
    double *acc = temp;
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
        const double sg = contiguous ? -1.0 : 1.0;
        int k = 0;
        for (; k + 4 <= cK; k += 4) {
            const double *L0 = colK(k) + a, *L1 = colK(k + 1) + a, *L2 = colK(k + 2) + a,
                         *L3 = colK(k + 3) + a;
            const double w0 = sg * dK[k] * L0[0], w1 = sg * dK[k + 1] * L1[0],
                         w2 = sg * dK[k + 2] * L2[0], w3 = sg * dK[k + 3] * L3[0];
            for (int i = 0; i < len; ++i) out[i] += L0[i] * w0 + L1[i] * w1 + L2[i] * w2 + L3[i] * w3;
        }
        for (; k < cK; ++k) {
            const double *L0 = colK(k) + a;
            const double w0 = sg * dK[k] * L0[0];
            if (w0 == 0.0) continue;
            for (int i = 0; i < len; ++i) out[i] += L0[i] * w0;
        }
        if (!contiguous) {
            const int *rr = rel + a;
            for (int i = 0; i < len; ++i) Fc[rr[i]] -= acc[i];
        }
    }
}

// Subtracts from the front of block J (ld rows) the update of the earlier block K:
// for every target column t of J among K's remaining rows and every remaining row
// r at or below t, the sum over K's columns k of L_rk d_k L_tk.  Returns the number of
// K's rows that are columns of J.  The way is chosen by the update's shape; each
// computes every entry with the same products, rounded before they are added.
ORVA_CLONED int update_from(numctx &cx, int K, int J, double *F, int ld) {
    factor_ws &ws = *cx.W;
    const int fK = ws.xblk[K], cK = ws.xblk[K + 1] - fK;
    const int ldK = ws.bstart[K + 1] - ws.bstart[K];
    const int nrem = cx.length[K];
    const int r0 = ldK - nrem;
    const int *rows = ws.brows + ws.bstart[K] + r0;
    const int f = ws.xblk[J], endJ = ws.xblk[J + 1];
    // K's column k from its first remaining row: SK + k*ldK (a block without a front
    // is one column, held in AAt from its front row 1 on).
    const double *SK = ws.soff[K + 1] > ws.soff[K]
                           ? ws.S + ws.soff[K] + r0
                           : ws.AAt + ws.kAAt[ws.ip2pos[fK]] + (r0 - 1);
    const double *dK = ws.dip + fK;
    if (cK <= 4 && rows[nrem - 1] < endJ) {
        // Every remaining row is one of J's own columns, which are J's first rows in
        // order: row r of K is row r - f of J's front.
        switch (cK) {
        case 1: small_own<1>(SK, ldK, dK, rows, nrem, f, F, ld); break;
        case 2: small_own<2>(SK, ldK, dK, rows, nrem, f, F, ld); break;
        case 3: small_own<3>(SK, ldK, dK, rows, nrem, f, F, ld); break;
        default: small_own<4>(SK, ldK, dK, rows, nrem, f, F, ld); break;
        }
        return nrem;
    }
    update u;
    u.SK = SK;
    u.ldK = ldK;
    u.cK = cK;
    u.dK = dK;
    u.rows = rows;
    u.nrem = nrem;
    u.nt = static_cast<int>(std::lower_bound(rows, rows + nrem, endJ) - rows);
    u.f = f;
    u.indmap = cx.indmap;
    u.contiguous = u.indmap[rows[nrem - 1]] - u.indmap[rows[0]] == nrem - 1;
    u.span = u.indmap[rows[nrem - 1]] - u.indmap[rows[0]] + 1;
    u.F = F;
    u.ld = ld;
    u.work = static_cast<double>(nrem) * u.nt * cK;
    // Rows of J that K's remaining rows are (relative indices), when not contiguous.
    int *rel = cx.relind;
    if (!u.contiguous)
        for (int b = 0; b < nrem; ++b) rel[b] = u.indmap[rows[b]];
    u.rel = rel;

    const bool blas = cK >= 4 && u.nt >= 2 && u.work >= 2048.0;
    if (cK > 4 && cK <= scatter_max_cols && !(u.contiguous && blas) && have_avx512())
        update_scatter(ws, u);
    else if (!u.contiguous && blas && u.nt >= 8 && 10LL * nrem >= 6LL * u.span)
        update_expanded(ws, u);
    else if (blas)
        update_blas(ws, u);
    else if (!u.contiguous && cK <= 4)
        update_few(u);
    else
        update_plain(u, cx.temp);
    return u.nt;
}

// The pivot rule for column i of the ip order, with value d and the len entries of its
// column below the diagonal; returns the pivot.  Dependent pivots are flagged in
// cx.dep (by position) and reported afterwards.
inline double pivot_rule(numctx &cx, int i, double d, double *below, int len) {
    factor_ws &ws = *cx.W;
    const int p = ws.ip2pos[i];
    const int v = ws.perm[p];
    if (ws.epsnum * cx.maxdiag >= std::fabs(d)) {
        ++ws.ndep;
        cx.dep[p] = 1;
        // Rows of the front outside the column's structure hold zeros, so the largest
        // entry is that of the column of L (0 when it has no entries).
        double big = 0.0;
        for (int k = 0; k < len; ++k) big = std::max(big, std::fabs(below[k]));
        if (big < 0.01)
            ws.mark[p] = 0;
        else
            d = v < cx.n ? -1e-8 : 1e-8;
    }
    ws.dip[i] = d;
    if (ws.mark[p]) {
        const double inv = 1.0 / d;
        for (int k = 0; k < len; ++k) below[k] *= inv;
    } else {
        for (int k = 0; k < len; ++k) below[k] = 0.0;
    }
    return d;
}

// The pivot rule for column j of a front (h: its last row), column i of the ip order.
inline double pivot(numctx &cx, int i, double *col, int j, int h) {
    return pivot_rule(cx, i, col[j], col + j + 1, h - j);
}

// Columns [j0, j1) of a front, column by column: each is updated by the earlier
// columns of the range (those before j0 have been applied already), then the pivot
// rule decides it and it is scaled.
ORVA_CLONED void factor_columns(
    numctx &cx, int f, int j0, int j1, int h, double *F, int ld) {
    const double *dip = cx.W->dip;
    for (int j = j0; j < j1; ++j) {
        double *col = F + static_cast<long long>(j) * ld;
        const int len = ld - j;
        double *out = col + j;
        int k = j0;
        for (; k + 4 <= j; k += 4) {
            const double *L0 = F + static_cast<long long>(k) * ld + j;
            const double *L1 = L0 + ld, *L2 = L1 + ld, *L3 = L2 + ld;
            const double w0 = dip[f + k] * L0[0], w1 = dip[f + k + 1] * L1[0],
                         w2 = dip[f + k + 2] * L2[0], w3 = dip[f + k + 3] * L3[0];
            for (int i = 0; i < len; ++i) out[i] -= L0[i] * w0 + L1[i] * w1 + L2[i] * w2 + L3[i] * w3;
        }
        for (; k < j; ++k) {
            const double *L0 = F + static_cast<long long>(k) * ld + j;
            const double w0 = dip[f + k] * L0[0];
            if (w0 == 0.0) continue;
            for (int i = 0; i < len; ++i) out[i] -= L0[i] * w0;
        }
        pivot(cx, f + j, col, j, h);
    }
}

// Factors columns [j0, j1) of the front of the block starting at f: recursively, the
// first half, then the update of the second half by it (BLAS), then the second half.
void factor_range(numctx &cx, int f, int j0, int j1, int h, double *F, int ld) {
    factor_ws &ws = *cx.W;
    if (j1 - j0 <= leaf_width) {
        factor_columns(cx, f, j0, j1, h, F, ld);
        return;
    }
    const int mid = j0 + (j1 - j0) / 2;
    factor_range(cx, f, j0, mid, h, F, ld);
    // Columns [mid, j1), rows from mid down, minus L(:, j0:mid) D L(mid:j1, j0:mid)',
    // by column blocks, each from its own diagonal down (the upper triangles of the
    // blocks' squares are never computed).
    const int kb = mid - j0;
    const int sq = ld <= square_rows ? square_block_small : square_block_large;
    for (int c0 = mid; c0 < j1; c0 += sq) {
        const int w = std::min(sq, j1 - c0);
        reserve(ws.wpack, ws.wpack_have, static_cast<long long>(w) * kb, "wpack");
        double *Wp = ws.wpack;
        for (int k = 0; k < kb; ++k) {
            const double dk = ws.dip[f + j0 + k];
            const double *src = F + static_cast<long long>(j0 + k) * ld + c0;
            double *wd = Wp + static_cast<long long>(k) * w;
            for (int a = 0; a < w; ++a) wd[a] = dk * src[a];
        }
        cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, ld - c0, w, kb, -1.0,
                    F + static_cast<long long>(j0) * ld + c0, ld, Wp, w, 1.0,
                    F + static_cast<long long>(c0) * ld + c0, ld);
    }
    factor_range(cx, f, mid, j1, h, F, ld);
}

// Factors the assembled front of a block (first column f, c columns, ld rows).
void factor_front(numctx &cx, int f, int c, int h, double *F, int ld) {
    factor_range(cx, f, 0, c, h, F, ld);
}


// Dn'_j = max(Dn[j] + pert_primal, epsdiag) and Dm'_i likewise, K's diagonal by position
// (with -max Q_jj added to the columns'); every pivot starts accepted.
void load_diagonal(factor_ws &ws, const LP *lp, const double *Dn, const double *Dm) {
    const int n = ws.n, m = ws.m, N = n + m;
    const int *iperm = ws.iperm;
    double *diag = ws.diag;
    const double eps = ws.epsdiag, epsrow = ws.epsrow;
    const double *Q = lp->Q;
    const int *kQ = lp->qnz > 0 ? lp->kQ : nullptr, *iQ = lp->iQ;
    const double qsign = -static_cast<double>(lp->max);
    for (int j = 0; j < n; ++j) {
        const double a = Dn[j] + lp->pert_primal;
        diag[iperm[j]] = -(a > eps ? a : eps);
    }
    ws.rows_clamped = 0;
    for (int i = 0; i < m; ++i) {
        const double a = Dm[i] + lp->pert_dual;
        if (!(a > epsrow)) ++ws.rows_clamped;
        diag[iperm[n + i]] = a > epsrow ? a : epsrow;
    }
    if (kQ)
        for (int j = 0; j < n; ++j)
            for (int k = kQ[j]; k < kQ[j + 1]; ++k)
                if (iQ[k] == j) diag[iperm[j]] += qsign * Q[k];
    for (int p = 0; p < N; ++p) ws.mark[p] = 1;
}

// Block J waits, with its `len` remaining rows from its front row `first` on, in the
// list of the block that holds that row.
inline void wait_for(numctx &cx, int J, int len, int first_row) {
    if (len > 0) {
        const int S = cx.W->blkof[first_row];
        cx.length[J] = len;
        cx.link[J] = cx.link[S];
        cx.link[S] = J;
    } else {
        cx.length[J] = 0;
    }
}

// A single column without children (block J, column f): loaded, decided and scaled in
// place, in L's column storage.
void factor_leaf(numctx &cx, int J, const double *A, const double *Q, double qsign) {
    factor_ws &ws = *cx.W;
    const int f = ws.xblk[J];
    const int *Jrows = ws.brows + ws.bstart[J];
    const int len = ws.bstart[J + 1] - ws.bstart[J] - 1;
    double *below = ws.AAt + ws.kAAt[ws.ip2pos[f]];  // front row t is below[t-1]
    for (int t = 0; t < len; ++t) below[t] = 0.0;
    for (int e = ws.ldstart[f]; e < ws.ldstart[f + 1]; ++e) {
        const int s = ws.ldsrc[e];
        below[ws.ldoff[e] - 1] += s < ws.nzA ? A[s] : qsign * Q[s - ws.nzA];
    }
    pivot_rule(cx, f, ws.dip[f], below, len);
    wait_for(cx, J, len, len > 0 ? Jrows[1] : 0);
}

// The front of block J (first column f, c columns, ld rows): its lower trapezoid zeroed,
// the relative index of each of its rows in cx.indmap, K's entries of its columns added.
void assemble_front(numctx &cx, int J, double *F, const double *A, const double *Q, double qsign) {
    factor_ws &ws = *cx.W;
    const int f = ws.xblk[J], c = ws.xblk[J + 1] - f;
    const int *Jrows = ws.brows + ws.bstart[J];
    const int ld = ws.bstart[J + 1] - ws.bstart[J];
    // Only the lower trapezoid of the front is ever read.
    for (int cc = 0; cc < c; ++cc)
        std::memset(F + static_cast<long long>(cc) * ld + cc, 0, sizeof(double) * (ld - cc));
    for (int t = 0; t < ld; ++t) cx.indmap[Jrows[t]] = t;
    for (int cc = 0; cc < c; ++cc) {
        F[static_cast<long long>(cc) * ld + cc] = ws.dip[f + cc];
        for (int e = ws.ldstart[f + cc]; e < ws.ldstart[f + cc + 1]; ++e) {
            const int s = ws.ldsrc[e];
            F[ws.ldoff[e]] += s < ws.nzA ? A[s] : qsign * Q[s - ws.nzA];
        }
    }
}

// The updates from the blocks waiting for J; each moves on to the block of its next
// remaining row.
void apply_updates(numctx &cx, int J, double *F, int ld) {
    factor_ws &ws = *cx.W;
    int K = cx.link[J];
    while (K != -1) {
        const int next = cx.link[K];
        const int nt = update_from(cx, K, J, F, ld);
        const int ldK = ws.bstart[K + 1] - ws.bstart[K];
        const int *rows = ws.brows + ws.bstart[K] + (ldK - cx.length[K]);
        if (nt < cx.length[K]) {
            const int S = ws.blkof[rows[nt]];
            cx.length[K] -= nt;
            cx.link[K] = cx.link[S];
            cx.link[S] = K;
        } else {
            cx.length[K] = 0;
        }
        K = next;
    }
}

// Copies block J's columns of L from its front into L's column storage (a column's
// structure may be a part of the front's rows).
void store_columns(const factor_ws &ws, int J, const double *F, int ld) {
    const int f = ws.xblk[J], c = ws.xblk[J + 1] - f;
    for (int cc = 0; cc < c; ++cc) {
        const int q = ws.ip2pos[f + cc];
        const double *src = F + static_cast<long long>(cc) * ld;
        const int len = ws.kAAt[q + 1] - ws.kAAt[q];
        double *dst = ws.AAt + ws.kAAt[q];
        // The rows of a column are its ancestors in the elimination tree, which
        // every topological order lists alike: when the column has every row of
        // the front below its diagonal, they are in the same order.
        const int r0 = ws.runstart[f + cc], r1 = ws.runstart[f + cc + 1];
        if (r0 == r1) {
            std::memcpy(dst, src + cc + 1, sizeof(double) * len);
        } else {
            for (int r = r0; r < r1; ++r) {
                const int t = ws.runs[2 * r], n = ws.runs[2 * r + 1];
                std::memcpy(dst, src + t, sizeof(double) * n);
                dst += n;
            }
        }
    }
}

// The blocks in order: each assembled, updated by the blocks before it, factored and
// stored (a leaf column straight in L's storage).
void factor_blocks(numctx &cx) {
    factor_ws &ws = *cx.W;
    const LP *lp = cx.lp;
    const double *A = lp->A, *Q = lp->Q;
    const double qsign = -static_cast<double>(lp->max);
    for (int J = 0; J < ws.nblk; ++J) {
        if (ws.soff[J + 1] == ws.soff[J]) {
            factor_leaf(cx, J, A, Q, qsign);
            continue;
        }
        const int f = ws.xblk[J], c = ws.xblk[J + 1] - f;
        const int ld = ws.bstart[J + 1] - ws.bstart[J];
        double *F = ws.S + ws.soff[J];
        assemble_front(cx, J, F, A, Q, qsign);
        apply_updates(cx, J, F, ld);
        factor_front(cx, f, c, ld - 1, F, ld);
        store_columns(ws, J, F, ld);
        // J waits for the block of its first row below its own columns.
        wait_for(cx, J, ld - c, ld - c > 0 ? ws.brows[ws.bstart[J] + c] : 0);
    }
}

// Dependent pivots in position order, at verbose 3 (with the label, when there are labels).
void report_dependent(const factor_ws &ws, const LP *lp, const char *dep, const double *Dn, const double *Dm) {
    const int n = ws.n, N = ws.n + ws.m;
    for (int p = 0; p < N; ++p) {
        if (!dep[p]) continue;
        const int v = ws.perm[p];
        if (v < n) {
            if (lp->collab) std::printf("dep col: i=%d, lab=%s, dn=%10.2e \n", v, lp->collab[v], Dn[v]);
        } else if (lp->rowlab) {
            std::printf("dep row: i=%d, lab=%s, dm=%10.2e \n", v - n, lp->rowlab[v - n], Dm[v - n]);
        }
    }
}

// Pivots of the wrong sign (verbose 3), the diagonal floor raised after a tiny pivot, and
// the count of dependent pivots (verbose exactly 2).
void check_pivots(factor_ws &ws, const LP *lp) {
    const int n = ws.n, N = ws.n + ws.m;
    const double *diag = ws.diag;
    if (lp->verbose >= 3)
        for (int p = 0; p < N; ++p) {
            const bool col = ws.perm[p] < n;
            if (col ? diag[p] > 0 : diag[p] < 0)
                std::printf("nonconvex subproblem: diag[%4d] = %10.2e \n", p, diag[p]);
        }
    // A tiny pivot raises the floor of its own block.  A tiny row pivot (rows nearly
    // dependent) is no reason to raise the columns' floor: a column whose diagonal sits
    // on that floor moves by its reduced cost over the floor, so a raised one holds back
    // the steps that would fix those reduced costs.
    double mincol = std::numeric_limits<double>::infinity(), minrow = mincol;
    for (int p = 0; p < N; ++p) {
        double &mn = ws.perm[p] < n ? mincol : minrow;
        mn = std::min(mn, std::fabs(diag[p]));
    }
    if (mincol < tiny_pivot || minrow < tiny_pivot) {
        if (mincol < tiny_pivot) ws.epsdiag *= 10.0;
        if (minrow < tiny_pivot) ws.epsrow *= 10.0;
        if (lp->verbose >= 2)
            std::printf("mindiag = %10.2e, epsdiag = %10.2e\n", std::min(mincol, minrow),
                        mincol < tiny_pivot ? ws.epsdiag : ws.epsrow);
    }
    if (lp->verbose == 2 && ws.ndep > 0)
        std::printf("     dep rows:    %d, more info: verbose=3, orva_auxfiles=rc\n", ws.ndep);
}

} // namespace

bool factorization::fits(const LP *lp) const {
    const int nzA = lp->n > 0 ? lp->kA[lp->n] : 0;
    const int nzQ = (lp->qnz > 0 && lp->kQ) ? lp->kQ[lp->n] : 0;
    return lp->n == ws_.n && lp->m == ws_.m && nzA == ws_.nzA && nzQ == ws_.nzQ;
}

void factorization::analyse(const LP *lp) {
    release();
    symbolic(lp);
}

void factorization::symbolic(const LP *lp) {
    detail::release(ws_);
    ws_.keep_dense = keep_dense_;
    blas_setup();
    try {
        detail::symbolic(ws_, lp);
    } catch (...) {
        release();  // a work space half built is no work space
        throw;
    }
}

factor_status factorization::factor(const LP *lp, const double *Dn, const double *Dm) {
    // A record whose sizes changed since the symbolic phase gets a new one.
    if (analysed() && !fits(lp)) release();
    if (reanalyse_) {
        reanalyse_ = false;
        symbolic(lp);
    }
    if (!analysed()) analyse(lp);
    factor_ws &ws = ws_;
    const int N = ws.n + ws.m;
    // Solves that could not get the row equations right past the rows' floor (see
    // solve), with factor after factor: active rows whose true diagonal lies far below
    // the floor.  A factor that no solve used (a shift of the perturbation search that
    // was tried and left) neither counts nor breaks the run.
    if (ws.solved) {
        ws.floor_run = ws.rows_floor_hurts ? ws.floor_run + 1 : 0;
        if (ws.share_at_lowering >= 0) {
            // The first solves with a lowered floor: did it help?
            if (ws.solve_share > 0.1 * ws.share_at_lowering) {
                ws.epsrow = ws.epsrow_before;
                ws.epsrow_min = ws.epsrow;
                ws.floor_run = 0;
                if (lp->verbose >= 3) std::printf("rows' floor back to %10.2e\n", ws.epsrow);
            }
            ws.share_at_lowering = -1;
        }
        ws.solved = ws.rows_floor_hurts = false;
    }
    if (ws.floor_run >= floor_run_to_lower && ws.epsrow > ws.epsrow_min) {
        ws.floor_run = 0;
        ws.share_at_lowering = ws.solve_share;
        ws.epsrow_before = ws.epsrow;
        ws.epsrow = ws.epsrow_min;
        if (lp->verbose >= 3) std::printf("rows' floor lowered to %10.2e\n", ws.epsrow);
    }
    ws.solve_share = 0;
    load_diagonal(ws, lp, Dn, Dm);

    numctx cx;
    cx.W = &ws;
    cx.lp = lp;
    cx.Dn = Dn;
    cx.Dm = Dm;
    cx.n = ws.n;
    cx.m = ws.m;
    cx.verbose = lp->verbose;
    cx.maxdiag = maxv(ws.diag, N);
    if (!ws.dip) ws.dip = xmalloc<double>("dip", "m2", N);
    for (int i = 0; i < N; ++i) ws.dip[i] = ws.diag[ws.ip2pos[i]];
    // The call's temporaries, released when it returns (or an allocation fails).
    const owned<char> dep(xcalloc<char>("dep", "m2", N));
    const int ns = ws.nblk;  // at most nsuper
    const owned<int> link = make_owned<int>("link", "nsuper", ns);
    const owned<int> indmap = make_owned<int>("indmap", "m2", N);
    const owned<int> length = make_owned<int>("length", "nsuper", ns);
    const owned<int> relind = make_owned<int>("relind", "m2", N);
    const owned<double> temp(xcalloc<double>("temp", "tmpsiz", ws.tmpsiz));
    cx.dep = dep.get();
    cx.link = link.get();
    cx.indmap = indmap.get();
    cx.length = length.get();
    cx.relind = relind.get();
    cx.temp = temp.get();
    ws.ndep = 0;
    for (int S = 0; S < ns; ++S) cx.link[S] = -1;
    if (!ws.S) ws.S = xmalloc<double>("S", "ssize", ws.ssize);

    factor_blocks(cx);

    for (int i = 0; i < N; ++i) ws.diag[ws.ip2pos[i]] = ws.dip[i];
    if (lp->verbose >= 3) report_dependent(ws, lp, cx.dep, Dn, Dm);
    check_pivots(ws, lp);
    watch_signs(ws, lp);

    for (int p = 0; p < N; ++p)
        if (!std::isfinite(ws.diag[p])) return factor_status::breakdown;
    return ws.ndep > 0 ? factor_status::dependent : factor_status::ok;
}

bool factorization::lower_column_floor(const LP *lp) {
    if (!analysed() || !(ws_.epsdiag > tiny_pivot)) return false;
    ws_.epsdiag = std::max(ws_.epsdiag * 0.1, tiny_pivot);
    if (lp->verbose >= 2) std::printf("columns' floor lowered to %10.2e\n", ws_.epsdiag);
    return true;
}

inertia factorization::pivot_signs() const {
    inertia in;
    for (int p = 0; p < ws_.n + ws_.m && ws_.diag; ++p) {
        const double d = ws_.diag[p];
        if (!ws_.mark[p] || !(d == d))
            ++in.zero;
        else if (d > 0)
            ++in.positive;
        else
            ++in.negative;
    }
    return in;
}

double factorization::largest_primal_pivot(int limit, int cols) const {
    double best = -std::numeric_limits<double>::infinity();
    bool any = false;
    if (!ws_.diag) return best;
    const int lim = std::min(limit, ws_.n + ws_.m);
    for (int p = 0; p < lim; ++p) {
        if (ws_.perm[p] >= cols) continue;
        const double d = ws_.diag[p];
        if (std::isnan(d)) continue;
        if (!any || d > best) best = d;
        any = true;
    }
    return best;
}

void factorization::release() {
    detail::release(ws_);
    wrong_sign_run_ = 0;
    keep_dense_ = reanalyse_ = false;
}

// A linear program's K is quasi-definite whatever the order: its column pivots are
// negative and its row pivots positive in exact arithmetic.  A pivot of the wrong sign is
// rounding, and in an order that eliminates dense columns after the rows (their pivots
// -Dn' - sum a^2/Dm' cancel terms as large as 1/floor) it comes back factor after
// factor and spoils every solve.  After three such factors in a row the structure is
// analysed again, at the next factor, with the dense nodes kept in their tier.
void factorization::watch_signs(const detail::factor_ws &ws, const LP *lp) {
    if (lp->qnz != 0 || keep_dense_ || ws.dense_moved == 0) return;
    bool wrong = false;
    for (int p = 0; p < ws.n + ws.m && !wrong; ++p) wrong = ws.perm[p] < ws.n && ws.diag[p] > 0;
    wrong_sign_run_ = wrong ? wrong_sign_run_ + 1 : 0;
    if (wrong_sign_run_ < 3) return;
    keep_dense_ = reanalyse_ = true;
    if (lp->verbose >= 2) std::printf("pivots of the wrong sign: dense columns kept in their tier\n");
}

namespace detail {
void release(factor_ws &ws) {
    for (int **a : {&ws.perm, &ws.iperm, &ws.iAAt, &ws.kAAt, &ws.mark, &ws.snode, &ws.xsuper, &ws.split,
                    &ws.ip2pos, &ws.pos2ip, &ws.runstart, &ws.runs, &ws.xblk, &ws.blkof, &ws.ldstart,
                    &ws.ldsrc, &ws.bstart, &ws.brows})
        xfree(*a);
    for (double **a : {&ws.AAt, &ws.diag, &ws.y_k, &ws.x_k, &ws.r, &ws.s, &ws.z, &ws.Qx, &ws.dip, &ws.S,
                       &ws.wpack, &ws.ctmp})
        xfree(*a);
    xfree(ws.ldoff);
    xfree(ws.soff);
    ws = factor_ws{};
}
} // namespace detail

factor_view factorization::view() const {
    const factor_ws &ws = ws_;
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
    v.epsrow = ws.epsrow;
    v.arith_ops = ws.arith_ops;
    v.window = ws.window;
    v.dense = ws.dense;
    v.pdf = ws.pdf_used;
    v.method = ws.method;
    v.nblk = ws.nblk;
    v.xblk = ws.xblk;
    for (int b = 0; b < ws.nblk; ++b) v.bsize.push_back(ws.soff[b + 1] - ws.soff[b]);
    v.symbolic_seconds = ws.symbolic_seconds;
    return v;
}

} // namespace orva
