// Residuals, the reduced-system diagonal, the factorization with its perturbation
// search, and the predictor and corrector directions.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "ipm/solver.h"
#include "linalg/factor.h"
#include "linalg/kernels.h"
#include "lp/lp.h"

namespace orva::ipm {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Largest of `cur` and `v`; a NaN wins and stays, so that a broken iterate never looks
// feasible.
inline void raise_to(double &cur, double v) {
    if (!(v <= cur) && !std::isnan(cur)) cur = v;
}

// Complementarity total K over all pairs.
double compl_total(const LP *lp) {
    const int m = lp->m, n = lp->n;
    return dotprodm(lp->s, lp->t, n, lp->bndmark, HAS_T) + dotprodm(lp->z, lp->g, n, lp->bndmark, HAS_G) +
           dotprodm(lp->v, lp->w, m, lp->rngmark, HAS_W) + dotprodm(lp->p, lp->q, m, lp->rngmark, RANGE);
}

// Reduced right-hand side dx, dy from the residuals.
void reduced_rhs(run &R) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *g = lp->g, *t = lp->t, *z = lp->z, *s = lp->s, *p = lp->p, *q = lp->q;
    if (R.eqqp) {
        for (int j = 0; j < n; ++j) R.dx[j] = R.sigma[j];
        for (int i = 0; i < m; ++i) R.dy[i] = rng[i] & HAS_W ? R.rho[i] : 0.0;
        return;
    }
    for (int j = 0; j < n; ++j) {
        double k = 0.0;
        switch (bnd[j]) {
        case FREE: k = R.Dn[j] * (t[j] * R.tau[j] / s[j] + R.nu[j]); break;
        case LOWER: k = z[j] * R.nu[j] / g[j]; break;
        case UPPER: k = s[j] * R.tau[j] / t[j]; break;
        case BOXED: k = s[j] * R.tau[j] / t[j] + z[j] * R.nu[j] / g[j]; break;
        default: break;
        }
        R.dx[j] = R.sigma[j] - k;
    }
    for (int i = 0; i < m; ++i) {
        switch (rng[i]) {
        case RANGE: R.dy[i] = R.rho[i] - R.beta[i] * R.Dm[i] + R.Dm[i] * q[i] * R.alpha[i] / p[i]; break;
        case ONESIDED: R.dy[i] = R.rho[i] - R.beta[i] * R.Dm[i]; break;
        default: R.dy[i] = 0.0; break;  // free row: nothing to correct
        }
    }
}

// Directions of the bound slacks and duals from dx, dy.
void back_substitute(run &R) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *g = lp->g, *t = lp->t, *z = lp->z, *s = lp->s;
    const double *w = lp->w, *p = lp->p, *q = lp->q, *v = lp->v;
    if (R.eqqp) {
        // Newton step of the equality-constrained QP: the bound duals s and the range
        // slacks p go to zero, nothing else but x and y moves.  (z, s, w, p start at
        // zero here, so the general formulas would divide 0 by 0.)
        for (int j = 0; j < n; ++j) {
            R.dz[j] = R.dg[j] = R.dt[j] = 0.0;
            R.gammas[j] = -s[j];
            R.ds[j] = -s[j];
        }
        for (int i = 0; i < m; ++i) {
            R.dw[i] = R.dq[i] = R.dv[i] = 0.0;
            R.gammaq[i] = -q[i];
            R.dp[i] = -p[i];
        }
        return;
    }
    for (int j = 0; j < n; ++j) {
        switch (bnd[j]) {
        case LOWER:
            R.dz[j] = (R.nu[j] - R.dx[j]) * z[j] / g[j];
            R.dg[j] = (R.gammaz[j] - R.dz[j]) * g[j] / z[j];
            break;
        case UPPER:
            R.ds[j] = (R.dx[j] - R.tau[j]) * s[j] / t[j];
            R.dt[j] = (R.gammas[j] - R.ds[j]) * t[j] / s[j];
            break;
        case BOXED:
            R.dz[j] = (R.nu[j] - R.dx[j]) * z[j] / g[j];
            R.dg[j] = (R.gammaz[j] - R.dz[j]) * g[j] / z[j];
            R.ds[j] = (R.dx[j] - R.tau[j]) * s[j] / t[j];
            R.dt[j] = (R.gammas[j] - R.ds[j]) * t[j] / s[j];
            break;
        case FREE:
            R.dz[j] = (t[j] * R.tau[j] / s[j] + R.nu[j] - R.dx[j]) * R.Dn[j];
            R.dg[j] = (R.gammaz[j] - R.dz[j]) * g[j] / z[j];
            R.dt[j] = -R.Dn[j] * t[j] * (R.tau[j] * g[j] / z[j] - R.nu[j] + R.dx[j]) / s[j];
            R.ds[j] = R.gammas[j] - R.dt[j] * s[j] / t[j];
            break;
        default: break;
        }
    }
    for (int i = 0; i < m; ++i) {
        const int cls = rng[i];
        if (!(cls & HAS_W)) continue;
        R.dw[i] = -(R.beta[i] + R.dy[i]) * R.Dm[i];
        if (cls == RANGE) {
            R.dw[i] += R.Dm[i] * q[i] * R.alpha[i] / p[i];
            R.dq[i] = (R.dw[i] - R.alpha[i]) * q[i] / p[i];
            R.dp[i] = (R.gammaq[i] - R.dq[i]) * p[i] / q[i];
        }
        R.dv[i] = (R.gammaw[i] - R.dw[i]) * v[i] / w[i];
    }
}

inline bool finite(double v) { return std::isfinite(v); }

// Whether every quantity that the classes use is a finite number: of the direction
// (`direction`) or of the record's iterate.
bool all_finite(const run &R, bool direction) {
    const LP *lp = R.lp;
    for (const side_slots *S : {&column_side, &row_side}) {
        const int len = side_len(R, *S);
        const int *cls = side_class(R, *S);
        const double *var = direction ? (R.*S->dvar).get() : lp->*S->var;
        const auto pa = pair_arrays_of(R, *S);
        for (int k = 0; k < len; ++k) {
            if (!finite(var[k])) return false;
            for (const pair_arrays &P : pa) {
                if (!(cls[k] & P.mask)) continue;
                const double a = direction ? P.dslack[k] : P.slack[k];
                const double b = direction ? P.ddual[k] : P.dual[k];
                if (!finite(a) || !finite(b)) return false;
            }
        }
    }
    return true;
}

// Whether the direction is finite in every entry that the step uses.  A factorization
// that broke down (an overflow in the elimination turns into NaN) gives a solution of
// NaNs; stepping along it would destroy the iterate.
bool finite_direction(const run &R) { return all_finite(R, true); }

// Factors the reduced system with the current pert_primal.
void factor(run &R) { inv_num(R.lp, R.Dn.get(), R.Dm.get()); }

// The shift the last factor still asks for: 1.1 times its largest primal pivot, or none
// (-1) when the factor has the signs of a system whose primal block is negative definite
// on the directions the rows leave free: n negative pivots and m positive ones (dependent
// pivots, left out of the solves, counted with the rows).  A column eliminated before
// the rows that constrain it keeps the sign of its own curvature, so its pivot can be
// positive although no feasible direction has negative curvature; the signs over all
// pivots do not depend on the elimination order.  Shifting by that pivot would damp
// every step as if the curvature were there (a run from a saddle point crept away from
// it by 3% per iteration).
double shift_needed(const run &R, int m, int n) {
    const double d = getpertval(m, n);
    if (d <= -1e-12) return d;
    const inertia in = R.fact.pivot_signs();
    const bool signs = in.negative == n && in.positive + in.zero == m && in.zero <= R.fact.ndep();
    return signs ? -1.0 : d;
}

// Perturbation search: shifts the primal diagonal until the factor's pivots have the
// signs above, and for unconstrained problems refines the shift by inverse iteration.
void perturbation_search(run &R, double lam_prev) {
    LP *lp = R.lp;
    const int m = lp->m, n = lp->n;
    double d = getpertval(m, n);
    if (lp->verbose >= 3 && d > 0) std::printf("pert1 = %10e \n", d);
    R.pcount = 0;
    if (d <= -1e-12) return;
    d = shift_needed(R, m, n);
    if (d <= -1e-12) return;

    const double f = m == 0 ? 5.0 : 2.0;
    double lam = (lam_prev > 0 ? lam_prev : d) / f;
    int made = 0;
    do {
        lam *= f;
        lp->pert_primal = lam;
        factor(R);
        ++R.pcount;
        ++made;
        d = shift_needed(R, m, n);
    } while (d > -1e-12 && made < 30);

    if (R.pcount == 1) {
        // The first shift passed: try smaller ones.
        R.pcount = -1;
        do {
            lam /= f;
            lp->pert_primal = lam;
            factor(R);
            --R.pcount;
            d = shift_needed(R, m, n);
        } while (d <= -1e-12 && R.pcount >= -29);
        if (d >= -1e-12) {
            // Back up to a passing shift.  A shift that passed before passes again; the
            // bound only guards against a factorization that changed in between.
            for (int k = 0; k < 60 && d > -1e-12; ++k) {
                lam *= f;
                lp->pert_primal = lam;
                factor(R);
                ++R.pcount;
                d = shift_needed(R, m, n);
            }
        }
    }

    if (m == 0 && R.pcount != 0) {
        // Inverse power iteration for the eigenvalue of the shifted matrix nearest zero.
        for (int j = 0; j < n; ++j) R.eigv[j] = 1.0;
        double nu = 0, nu_prev = -INF;
        for (int k = 0; k < 300; ++k) {
            solve(lp, R.Dn.get(), R.Dm.get(), R.eigv.get(), R.eigv.get());
            nu = std::sqrt(dotprod(R.eigv.get(), R.eigv.get(), n));
            if (!(nu > 0) || !std::isfinite(nu)) break;
            for (int j = 0; j < n; ++j) R.eigv[j] /= nu;
            if (std::fabs(nu - nu_prev) <= 1e-4) break;
            nu_prev = nu;
        }
        if (nu > 0 && std::isfinite(nu)) {
            const double found = lp->pert_primal;
            const double lam1 = found - 1.0 / nu;
            lp->pert_primal = std::min(1.6 * lam1, lam1 + 1000.0);
            factor(R);
            if (getpertval(0, n) > -1e-12) {
                lp->pert_primal = found;
                factor(R);
            }
        }
    }
}

} // namespace

namespace {

// The record's arrays that the residuals read.
struct iterate_view {
    const int *bnd, *rng;
    const double *x, *y, *z, *s, *g, *t, *p, *q, *v, *w;
    const double *b, *r, *c, *l, *u;
    explicit iterate_view(const LP *lp)
        : bnd(lp->bndmark), rng(lp->rngmark), x(lp->x), y(lp->y), z(lp->z), s(lp->s), g(lp->g), t(lp->t),
          p(lp->p), q(lp->q), v(lp->v), w(lp->w), b(lp->b), r(lp->r), c(lp->c), l(lp->l), u(lp->u) {}
};

// Row i's part of the measures: its primal violation, the dual violation of a
// one-sided row's y, and its terms of the gap; bax = b - Ax.  An equality row has no
// complementarity, but y times its residual still moves the objective.
inline void row_measures(const iterate_view &I, int i, double bax, measures &M) {
    M.bnorm2 += I.b[i] * I.b[i];
    if (I.rng[i] == ONESIDED) {
        raise_to(M.pmax, bax);
        raise_to(M.dmax, -I.y[i]);
        M.gap += std::fabs(I.y[i] * bax);
    } else if (I.r[i] == 0) {
        raise_to(M.pmax, std::fabs(bax));
        M.gap += std::fabs(I.y[i] * bax);
    } else {
        raise_to(M.pmax, bax);
        raise_to(M.pmax, -bax - I.r[i]);
        M.gap += std::fabs((I.y[i] + I.q[i]) * bax) + std::fabs(I.q[i] * (-bax - I.r[i]));
    }
}

// Rows: rho = b - Ax + w, beta, alpha (zero rho for free rows); with M, their measures.
void row_residuals(run &R, measures *M) {
    const LP *lp = R.lp;
    const iterate_view I(lp);
    smx(R.m, R.n, lp->A, lp->kA, lp->iA, lp->x, R.rho.get());
    double *rho = R.rho.get(), *beta = R.beta.get(), *alpha = R.alpha.get();
    for (int i = 0; i < R.m; ++i) {
        const int cls = I.rng[i];
        if (!(cls & HAS_W)) {
            if (M) M->gap += std::fabs(I.y[i] * rho[i]);  // a free row's y still enters A'y
            rho[i] = 0.0;
            continue;
        }
        const double bax = I.b[i] - rho[i];
        if (M) row_measures(I, i, bax, *M);
        rho[i] = bax + I.w[i];
        if (cls == ONESIDED) {
            beta[i] = I.y[i] - I.v[i];
        } else {
            beta[i] = I.y[i] + I.q[i] - I.v[i];
            alpha[i] = I.r[i] - I.w[i] - I.p[i];
        }
    }
}

// Semidefinite blocks: a row of the blocks whose residual is below its slack takes the
// residual into the slack.
void sdp_adjust(run &R) {
    LP *lp = R.lp;
    long long rows = 0;
    for (int k = 0; k < lp->sdpnum; ++k) rows += lp->sdpblock[k];
    const int last = static_cast<int>(std::min<long long>(rows, R.m));
    for (int i = 0; i < last; ++i)
        if ((lp->rngmark[i] & HAS_W) && R.rho[i] < lp->w[i]) {
            lp->w[i] -= R.rho[i];
            R.rho[i] = 0.0;
        }
}

void row_sums(const run &R, resid_sums &S) {
    const int *rng = R.lp->rngmark;
    const double *rho = R.rho.get(), *alpha = R.alpha.get(), *beta = R.beta.get();
    for (int i = 0; i < R.m; ++i) {
        const int cls = rng[i];
        if (cls & HAS_W) S.rho2 += rho[i] * rho[i];
        if (cls == RANGE) S.alpha2 += alpha[i] * alpha[i];
        if (cls == ONESIDED) S.beta2 += beta[i] * beta[i];
    }
}

// Variable j's part of the measures: the dual violation of its reduced cost sig, the
// violation of its bounds and its terms of the gap: the complementarity of its bounds
// and x times what is left of sig once the bound duals have taken their share.
inline void column_measures(const iterate_view &I, int j, double sig, measures &M) {
    const double *x = I.x, *l = I.l, *u = I.u, *z = I.z, *s = I.s;
    double comp = 0.0, dual = 0.0;  // the bounds' complementarity; x times the dual residual
    switch (I.bnd[j]) {
    case FREE:
        raise_to(M.dmax, std::fabs(sig));
        dual = std::fabs(x[j] * sig);
        break;
    case LOWER:
        raise_to(M.dmax, -sig);
        raise_to(M.pmax, l[j] - x[j]);
        comp = std::fabs(z[j] * (l[j] - x[j]));
        dual = std::fabs(x[j] * (sig - z[j]));
        break;
    case UPPER:
        raise_to(M.dmax, sig);
        raise_to(M.pmax, x[j] - u[j]);
        comp = std::fabs(s[j] * (u[j] - x[j]));
        dual = std::fabs(x[j] * (sig + s[j]));
        break;
    case BOXED:
        raise_to(M.pmax, l[j] - x[j]);
        raise_to(M.pmax, x[j] - u[j]);
        comp = std::fabs(z[j] * (l[j] - x[j])) + std::fabs(s[j] * (u[j] - x[j]));
        dual = std::fabs(x[j] * (sig - z[j] + s[j]));
        break;
    default: return;
    }
    M.gap += comp + dual;
    M.gap_dual += dual;
}

// The residual vectors of the variables.
struct column_resid {
    double *sigma, *tau, *nu;
};

// Variable j's residuals sigma, tau, nu from its reduced cost sig, and their sums.
inline void column_residual(const iterate_view &I, const column_resid &V, int j, double sig, resid_sums &S) {
    const double *x = I.x, *l = I.l, *u = I.u, *z = I.z, *s = I.s, *g = I.g, *t = I.t;
    double *sigma = V.sigma, *tau = V.tau, *nu = V.nu;
    switch (I.bnd[j]) {
    case FREE:
        sigma[j] = sig - z[j];
        nu[j] = g[j] - x[j] - t[j];
        tau[j] = -z[j] - s[j];
        S.tau1 += tau[j] * tau[j];
        break;
    case LOWER:
        sigma[j] = sig - z[j];
        nu[j] = l[j] - x[j] + g[j];
        S.nu28 += nu[j] * nu[j];
        break;
    case UPPER:
        sigma[j] = sig + s[j];
        tau[j] = u[j] - x[j] - t[j];
        S.tau48 += tau[j] * tau[j];
        break;
    case BOXED:
        sigma[j] = sig + s[j] - z[j];
        tau[j] = u[j] - x[j] - t[j];
        nu[j] = l[j] - x[j] + g[j];
        S.tau48 += tau[j] * tau[j];
        S.nu28 += nu[j] * nu[j];
        break;
    default: sigma[j] = sig; break;
    }
    S.sigma2 += sigma[j] * sigma[j];
}

// Columns: sigma = max(c + Qx) - A'y - z + s, tau, nu (and Qx); with M, their measures
// and |c + Qx|.
void column_residuals(run &R, resid_sums &S, measures *M) {
    const LP *lp = R.lp;
    const iterate_view I(lp);
    const column_resid V{R.sigma.get(), R.tau.get(), R.nu.get()};
    const double *Qx = R.Qx.get();
    smx(R.n, R.m, lp->At, lp->kAt, lp->iAt, lp->y, V.sigma);
    smx(R.n, R.n, lp->Q, lp->kQ, lp->iQ, lp->x, R.Qx.get());
    const double sense = lp->max;
    double cq2 = 0.0;
    for (int j = 0; j < R.n; ++j) {
        const double cq = I.c[j] + Qx[j];
        cq2 += cq * cq;
        const double sig = sense * cq - V.sigma[j];
        if (M) column_measures(I, j, sig, *M);
        column_residual(I, V, j, sig, S);
        // Any reduced cost of a boxed variable splits into its two bound duals; what
        // must vanish is the residual of that split.
        if (M && I.bnd[j] == BOXED) raise_to(M->dmax, std::fabs(V.sigma[j]));
    }
    if (M) M->cqnorm = std::sqrt(cq2);
}

} // namespace

resid_sums residuals(run &R, measures *meas) {
    const LP *lp = R.lp;
    resid_sums S;
    measures M;
    measures *pm = meas ? &M : nullptr;
    row_residuals(R, pm);
    if (lp->sdp && lp->sdpnum > 0 && lp->sdpblock) sdp_adjust(R);
    row_sums(R, S);
    column_residuals(R, S, pm);
    if (meas) *meas = M;
    return S;
}

bool finite_iterate(const run &R) { return finite(R.lp->primal_obj) && all_finite(R, false); }

void ratio_test(run &R, double start, bool dy_terms, double &ap, double &ad) {
    const LP *lp = R.lp;
    const double *x = lp->x, *l = lp->l, *u = lp->u;
    ap = ad = start;
    // NaN ratios (0/0) never raise a ratio.
    auto up = [](double &a, double v) {
        if (v > a) a = v;
    };
    const bool hb = lp->honor_bnds != 0;
    for (const side_slots *S : {&column_side, &row_side}) {
        const int len = side_len(R, *S);
        const int *cls = side_class(R, *S);
        const auto pa = pair_arrays_of(R, *S);
        for (int k = 0; k < len; ++k) {
            for (const pair_arrays &P : pa)
                if (cls[k] & P.mask) {
                    up(ap, -P.dslack[k] / P.slack[k]);
                    up(ad, -P.ddual[k] / P.dual[k]);
                }
            if (S->rows) {
                if (cls[k] == ONESIDED && dy_terms) up(ad, -R.dy[k] / lp->y[k]);
            } else if (hb && cls[k] != FREE) {
                // Bounds honoured: the step keeps x within them too.
                if (cls[k] & HAS_G) up(ap, -R.dx[k] / (x[k] - l[k]));
                if (cls[k] & HAS_T) up(ap, R.dx[k] / (u[k] - x[k]));
            }
        }
    }
}

namespace {

// Diagonals Dn, Dm of the reduced system from the pairs (zero in eqqp mode; 1e300 for
// free rows).
void set_diagonals(run &R) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *g = lp->g, *t = lp->t, *z = lp->z, *s = lp->s;
    const double *w = lp->w, *p = lp->p, *q = lp->q, *v = lp->v;
    if (R.eqqp) {
        for (int j = 0; j < n; ++j) R.Dn[j] = 0.0;
        for (int i = 0; i < m; ++i) R.Dm[i] = 0.0;
        return;
    }
    for (int j = 0; j < n; ++j) {
        switch (bnd[j]) {
        case FREE: R.Dn[j] = 1.0 / (g[j] / z[j] + t[j] / s[j]); break;
        case LOWER: R.Dn[j] = z[j] / g[j]; break;
        case UPPER: R.Dn[j] = s[j] / t[j]; break;
        case BOXED: R.Dn[j] = z[j] / g[j] + s[j] / t[j]; break;
        default: R.Dn[j] = 0.0; break;
        }
    }
    for (int i = 0; i < m; ++i) {
        switch (rng[i]) {
        case RANGE: R.Dm[i] = 1.0 / (v[i] / w[i] + q[i] / p[i]); break;
        case ONESIDED: R.Dm[i] = w[i] / v[i]; break;
        default: R.Dm[i] = 1e300; break;
        }
    }
}

// Factorization; nonconvex problems search for a shift of the primal diagonal,
// starting from the last one.
void factor_with_shift(run &R) {
    LP *lp = R.lp;
    const double lam_prev = lp->pert_primal;
    lp->pert_primal = 0.0;
    if (!(R.eqqp && lp->quadratic)) factor(R);
    if (lp->qnz > 0 && lp->convex == 0) perturbation_search(R, lam_prev);
}

// Sum, count and smallest of the complementarity products of the pairs whose slack is
// below FAR_SLACK.
struct near_products {
    double sum = 0.0;
    int count = 0;
    double least = INF;
};
near_products near_pairs(const run &R) {
    const LP *lp = R.lp;
    near_products N;
    for (const side_slots *S : {&column_side, &row_side}) {
        const int len = side_len(R, *S);
        const int *cls = side_class(R, *S);
        for (int k = 0; k < len; ++k)
            for (const pair_slot &P : S->pairs)
                if ((cls[k] & P.mask) && (lp->*P.slack)[k] < FAR_SLACK) {
                    const double prod = (lp->*P.slack)[k] * (lp->*P.dual)[k];
                    N.sum += prod;
                    ++N.count;
                    N.least = std::min(N.least, prod);
                }
    }
    return N;
}

// Centering of the predictor, from the smallest complementarity product and the mean.
double predictor_centering(const run &R) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double K = compl_total(lp);
    double xi = INF;
    xi = mincompl(lp->s, lp->t, n, bnd, HAS_T, xi);
    xi = mincompl(lp->z, lp->g, n, bnd, HAS_G, xi);
    xi = mincompl(lp->v, lp->w, m, rng, HAS_W, xi);
    xi = mincompl(lp->p, lp->q, m, rng, RANGE, xi);
    double mu = 0.0;
    double mubar = R.npairs > 0 ? K / R.npairs : 0.0;
    // Pairs whose slack is the distance to a large finite bound start with products of
    // that size (their duals at bndpush).  When such pairs hold most of K, the mean
    // describes them alone, and a target taken from it pushes every other pair out by
    // as many orders (equality rows' duals towards the same size, steps cut to nothing by
    // the ratio test).  The mean and the smallest product are then those of the other
    // pairs; the far pairs get the same target, so that their duals fall towards
    // mu/slack, and they stay in K, in the gap and in the stopping test.
    const near_products N = near_pairs(R);
    if (N.count > 0 && K - N.sum > 0.5 * K) {
        mubar = N.sum / N.count;
        xi = N.least;
    }
    if (!R.eqqp && mubar > 0) {
        // A zero smallest product makes the ratio 0 and the factor its cap of 3.
        const double ratio = xi / mubar;
        const double f = ratio > 0 ? std::min(3.0, (1 - ratio) * (1 - lp->steplen) / ratio) : 3.0;
        mu = lp->mufactor * f * f * f * mubar;
    }
    return mu;
}

// Predictor right-hand side: the complementarity terms gamma for the centering mu and
// their share of the residuals tau, nu, alpha, beta.
void predictor_rhs(run &R, double mu) {
    const LP *lp = R.lp;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *g = lp->g, *t = lp->t, *z = lp->z, *s = lp->s;
    const double *w = lp->w, *p = lp->p, *q = lp->q, *v = lp->v;
    for (int j = 0; j < R.n; ++j) {
        switch (bnd[j]) {
        case FREE:
            R.gammas[j] = mu / t[j] - s[j];
            R.gammaz[j] = mu / g[j] - z[j];
            R.tau[j] -= R.gammas[j];
            R.nu[j] += R.gammaz[j] * g[j] / z[j];
            break;
        case LOWER:
            R.gammaz[j] = mu / g[j] - z[j];
            R.nu[j] += R.gammaz[j] * g[j] / z[j];
            break;
        case UPPER:
            R.gammas[j] = mu / t[j] - s[j];
            R.tau[j] -= R.gammas[j] * t[j] / s[j];
            break;
        case BOXED:
            R.gammas[j] = mu / t[j] - s[j];
            R.gammaz[j] = mu / g[j] - z[j];
            R.tau[j] -= R.gammas[j] * t[j] / s[j];
            R.nu[j] += R.gammaz[j] * g[j] / z[j];
            break;
        default: break;
        }
    }
    for (int i = 0; i < R.m; ++i) {
        const int cls = rng[i];
        if (cls == RANGE) {
            R.gammaq[i] = mu / p[i] - q[i];
            R.alpha[i] -= p[i] * R.gammaq[i] / q[i];
        }
        if (cls & HAS_W) {
            R.gammaw[i] = mu / v[i] - w[i];
            R.beta[i] -= v[i] * R.gammaw[i] / w[i];
        }
    }
}

// Centering of the corrector, from the predictor's ratios.
double corrector_centering(const run &R) {
    const double K2 = compl_total(R.lp);
    const double a = std::max({1.0, R.ap_pred, R.ad_pred});
    return R.npairs > 0 ? 2 * ((a - 1) / (a + 10)) * ((a - 1) / (a + 10)) * K2 / R.npairs : 0.0;
}

// Corrector right-hand side: the second-order terms of the predictor direction and the
// centering muc, in gamma and in the residuals tau, nu, alpha, beta.
void corrector_rhs(run &R, double muc) {
    const LP *lp = R.lp;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *g = lp->g, *t = lp->t, *z = lp->z, *s = lp->s;
    const double *w = lp->w, *p = lp->p, *q = lp->q, *v = lp->v;
    for (int j = 0; j < R.n; ++j) {
        const int cls = bnd[j];
        double es = 0, ez = 0;
        if (cls & HAS_T) es = muc / t[j] - R.ds[j] * R.dt[j] / t[j];
        if (cls & HAS_G) ez = muc / g[j] - R.dg[j] * R.dz[j] / g[j];
        switch (cls) {
        case FREE:
            R.tau[j] -= es;
            R.nu[j] += g[j] * ez / z[j];
            R.gammas[j] = es - s[j];
            R.gammaz[j] = ez - z[j];
            break;
        case LOWER:
            R.nu[j] += g[j] * ez / z[j];
            R.gammaz[j] = ez - z[j];
            break;
        case UPPER:
            R.tau[j] -= t[j] * es / s[j];
            R.gammas[j] = es - s[j];
            break;
        case BOXED:
            R.tau[j] -= t[j] * es / s[j];
            R.nu[j] += g[j] * ez / z[j];
            R.gammas[j] = es - s[j];
            R.gammaz[j] = ez - z[j];
            break;
        default: break;
        }
    }
    for (int i = 0; i < R.m; ++i) {
        const int cls = rng[i];
        if (!(cls & HAS_W)) continue;
        const double ew = muc / v[i] - R.dv[i] * R.dw[i] / v[i];
        R.beta[i] -= v[i] * ew / w[i];
        R.gammaw[i] = ew - w[i];
        if (cls == RANGE) {
            const double eq = muc / p[i] - R.dp[i] * R.dq[i] / p[i];
            R.alpha[i] -= p[i] * eq / q[i];
            R.gammaq[i] = eq - q[i];
        }
    }
}

// The direction for the current right-hand side: reduced system, solve, the slacks' and
// duals' directions.
void solve_direction(run &R) {
    reduced_rhs(R);
    solve(R.lp, R.Dn.get(), R.Dm.get(), R.dx.get(), R.dy.get());
    back_substitute(R);
}

// Right-hand side for new target products.  Every pair (slack a, dual b) asks the
// direction for b da + a db = T - a b; the target T that the last right-hand side asked is
// read back from the pair's gamma (T = (gamma + b) a; for (w, v), whose gamma is on the
// slack, T = (gamma + w) v), and f(T, a, b, da, db) gives the new one from it, the pair's
// values and its entries of the direction in the d-vectors.  The residuals tau, nu,
// alpha, beta start again from their values at the top of the iteration (`base`:
// tau, nu over n, alpha, beta over m).
template <class Retarget> void retarget_rhs(run &R, const double *base, Retarget f) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *g = lp->g, *t = lp->t, *z = lp->z, *s = lp->s;
    const double *w = lp->w, *p = lp->p, *q = lp->q, *v = lp->v;
    const double *tau0 = base, *nu0 = base + n, *alpha0 = base + 2 * n, *beta0 = base + 2 * n + m;
    for (int j = 0; j < n; ++j) {
        const int cls = bnd[j];
        R.tau[j] = tau0[j];
        R.nu[j] = nu0[j];
        if (cls & HAS_T) {
            const double T = f((R.gammas[j] + s[j]) * t[j], t[j], s[j], R.dt[j], R.ds[j]);
            R.gammas[j] = T / t[j] - s[j];
            R.tau[j] -= cls == FREE ? R.gammas[j] : R.gammas[j] * t[j] / s[j];
        }
        if (cls & HAS_G) {
            const double T = f((R.gammaz[j] + z[j]) * g[j], g[j], z[j], R.dg[j], R.dz[j]);
            R.gammaz[j] = T / g[j] - z[j];
            R.nu[j] += R.gammaz[j] * g[j] / z[j];
        }
    }
    for (int i = 0; i < m; ++i) {
        const int cls = rng[i];
        if (!(cls & HAS_W)) continue;
        const double T = f((R.gammaw[i] + w[i]) * v[i], w[i], v[i], R.dw[i], R.dv[i]);
        R.gammaw[i] = T / v[i] - w[i];
        R.beta[i] = beta0[i] - v[i] * R.gammaw[i] / w[i];
        if (cls == RANGE) {
            const double Tq = f((R.gammaq[i] + q[i]) * p[i], p[i], q[i], R.dp[i], R.dq[i]);
            R.gammaq[i] = Tq / p[i] - q[i];
            R.alpha[i] = alpha0[i] - p[i] * R.gammaq[i] / q[i];
        }
    }
}

// Calls f(slack, dual, dslack, ddual) for every pair of the iterate.
template <class F> void for_pairs(const run &R, F f) {
    for (const side_slots *S : {&column_side, &row_side}) {
        const int len = side_len(R, *S);
        const int *cls = side_class(R, *S);
        const auto pa = pair_arrays_of(R, *S);
        for (int k = 0; k < len; ++k)
            for (const pair_arrays &P : pa)
                if (cls[k] & P.mask) f(P.slack[k], P.dual[k], P.dslack[k], P.ddual[k]);
    }
}

// Step lengths (at most 1) of the direction in the d-vectors by the ratio test; one
// common length for problems with a quadratic or Hessian part, as the step takes them.
struct steps {
    double p = 1, d = 1;
    double sum() const { return p + d; }
};
steps step_lengths(run &R) {
    double ap = 0, ad = 0;
    ratio_test(R, 0.0, R.lp->honor_bnds != 0, ap, ad);
    steps a{1.0 / std::max(1.0, ap), 1.0 / std::max(1.0, ad)};
    if (R.lp->qnz != 0) a.p = a.d = std::min(a.p, a.d);
    return a;
}

// The d-vectors, copied to (`out`) or from `keep` (5 n + 5 m entries).
void copy_direction(run &R, double *keep, bool out) {
    const int n = R.n, m = R.m;
    double *cols[] = {R.dx.get(), R.dg.get(), R.dz.get(), R.ds.get(), R.dt.get()};
    double *rows[] = {R.dy.get(), R.dw.get(), R.dv.get(), R.dp.get(), R.dq.get()};
    for (double *d : cols) {
        if (out) std::copy(d, d + n, keep);
        else std::copy(keep, keep + n, d);
        keep += n;
    }
    for (double *d : rows) {
        if (out) std::copy(d, d + m, keep);
        else std::copy(keep, keep + m, d);
        keep += m;
    }
}

// The scratch block of the correctors, made at the first use in a solve: room for a
// direction, then the residuals tau, nu, alpha, beta as the top of the iteration formed
// them, stored here before the predictor's right-hand side changes them.
double *corrector_scratch(run &R) {
    const int n = R.n, m = R.m;
    if (!R.keep) R.keep = make_owned<double>("keep", "7*(n+m)", 7LL * (n + m));
    double *base = R.keep.get() + 5LL * (n + m);
    std::copy(R.tau.get(), R.tau.get() + n, base);
    std::copy(R.nu.get(), R.nu.get() + n, base + n);
    std::copy(R.alpha.get(), R.alpha.get() + m, base + 2 * n);
    std::copy(R.beta.get(), R.beta.get() + m, base + 2 * n + m);
    return R.keep.get();
}

// Mehrotra's adaptive centering (pred_corr = 2, and the correctors' centering for problems
// with a quadratic or Hessian part; on linear programs it lost pilot.we, degen3 and
// greenbea, which the fixed centering solves): mu_c = (mu_aff / mu)^3 mu, with mu_aff
// the mean product after the predictor's step (common for a quadratic part), and the
// predictor's full second-order terms.  As for the predictor's centering, when the pairs
// far from their bounds hold most of the complementarity, the means are the other pairs'.
bool adaptive_corrector(run &R, const double *keep) {
    const LP *lp = R.lp;
    const double *base = keep + 5LL * (R.n + R.m);
    double ahp = std::max(1.0, R.ap_pred), ahd = std::max(1.0, R.ad_pred);
    if (lp->qnz != 0) ahp = ahd = std::max(ahp, ahd);
    double K = 0, Kaff = 0, Knear = 0, Knear_aff = 0;
    int near = 0;
    for_pairs(R, [&](double a, double b, double da, double db) {
        const double aff = (a + da / ahp) * (b + db / ahd);
        K += a * b;
        Kaff += aff;
        if (a < FAR_SLACK) {
            Knear += a * b;
            Knear_aff += aff;
            ++near;
        }
    });
    double mu = R.npairs > 0 ? K / R.npairs : 0.0;
    if (near > 0 && K - Knear > 0.5 * K) {
        mu = Knear / near;
        K = Knear;
        Kaff = Knear_aff;
    }
    const double ratio = K > 0 ? std::clamp(Kaff / K, 0.0, 1.0) : 0.0;
    const double muc = ratio * ratio * ratio * mu;
    retarget_rhs(R, base, [muc](double, double, double, double da, double db) { return muc - da * db; });
    solve_direction(R);
    R.mu = muc;
    return finite_direction(R);
}

// Spread of the products that the centrality correctors aim at, as multiples of the
// centering: products below BETA_MIN mu_c or above BETA_MAX mu_c at the trial step are
// pulled to these bounds.  A corrector aims at a step TRIAL_GAIN longer than the current
// one and stays only when it lengthens the step by MIN_GAIN at least.  Steps of LONG_STEP
// and more are left as they are: there is little to gain, and near the end of a solve,
// where the steps are long, the extra solves only add rounding to a nearly singular
// system (pilot.ja, a linear program, broke down there when every step was corrected).
constexpr double BETA_MIN = 0.1, BETA_MAX = 10.0, TRIAL_GAIN = 0.1, MIN_GAIN = 1.01, LONG_STEP = 0.9;

// Gondzio's centrality correctors (pred_corr = 3 to 10: up to pred_corr - 2), after the
// corrector.  Each solves with the same factorization for the corrector's targets plus
// what brings the products at a longer trial step into [BETA_MIN, BETA_MAX] times the
// centering mu_c (pairs far from their bounds are left alone), and replaces the direction
// where that lengthens the step (the sum of the primal and dual lengths).
bool centrality_correctors(run &R, double muc, double *kept) {
    const LP *lp = R.lp;
    const double *base = kept + 5LL * (R.n + R.m);
    steps cur = step_lengths(R);
    const double lo = BETA_MIN * muc, hi = BETA_MAX * muc;
    for (int k = 0; k < lp->pred_corr - 2 && cur.sum() < 2 * LONG_STEP; ++k) {
        const double tp = std::min(1.0, cur.p + TRIAL_GAIN), td = std::min(1.0, cur.d + TRIAL_GAIN);
        copy_direction(R, kept, true);
        retarget_rhs(R, base, [=](double T, double a, double b, double da, double db) {
            if (a >= FAR_SLACK) return T;
            const double prod = (a + tp * da) * (b + td * db);
            if (prod < lo) return T + lo - prod;
            if (prod > hi) return T + std::max(hi - prod, -hi);
            return T;
        });
        solve_direction(R);
        const steps next = finite_direction(R) ? step_lengths(R) : steps{0, 0};
        if (!(next.sum() >= MIN_GAIN * cur.sum())) {
            copy_direction(R, kept, false);
            break;
        }
        cur = next;
    }
    return true;
}

} // namespace

bool directions(run &R) {
    LP *lp = R.lp;
    set_diagonals(R);
    factor_with_shift(R);

    // Predictor.
    double *keep = lp->pred_corr >= 2 && !R.eqqp ? corrector_scratch(R) : nullptr;
    const double mu = predictor_centering(R);
    if (!R.eqqp) predictor_rhs(R, mu);
    solve_direction(R);
    if (lp->verbose >= 5) dump_directions(R, true);
    R.mu = mu;
    R.corrected = false;
    if (!finite_direction(R)) return false;
    ratio_test(R, 0.0, true, R.ap_pred, R.ad_pred);
    if (lp->pred_corr == 0) return true;

    // Corrector: second-order terms of the predictor and a centering from its ratios.
    R.corrected = true;
    if (R.eqqp) {
        // With zero diagonals the reduced right-hand side is the residual itself, so the
        // corrector repeats the Newton direction just computed.
        R.mu = 0.0;
        return true;
    }
    // pred_corr 2, and 3 and above with a quadratic or Hessian part: the adaptive centering.
    bool ok;
    if (lp->pred_corr == 2 || (lp->pred_corr >= 3 && lp->qnz != 0)) {
        ok = adaptive_corrector(R, keep);
    } else {
        const double muc = corrector_centering(R);
        corrector_rhs(R, muc);
        solve_direction(R);
        R.mu = muc;
        ok = finite_direction(R);
    }
    if (ok && lp->pred_corr >= 3) ok = centrality_correctors(R, R.mu, keep);
    if (lp->verbose >= 5) dump_directions(R, false);
    return ok;
}

} // namespace orva::ipm
