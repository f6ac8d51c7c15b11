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

// Whether the direction is finite in every entry that the step uses.  A factorization
// that broke down (an overflow in the elimination turns into NaN) gives a solution of
// NaNs; stepping along it would destroy the iterate.
bool finite_direction(const run &R) {
    const LP *lp = R.lp;
    bool ok = true;
    for (int j = 0; j < R.n && ok; ++j) {
        const int cls = lp->bndmark[j];
        ok = finite(R.dx[j]);
        if (cls & HAS_G) ok = ok && finite(R.dg[j]) && finite(R.dz[j]);
        if (cls & HAS_T) ok = ok && finite(R.dt[j]) && finite(R.ds[j]);
    }
    for (int i = 0; i < R.m && ok; ++i) {
        const int cls = lp->rngmark[i];
        ok = finite(R.dy[i]);
        if (cls & HAS_W) ok = ok && finite(R.dw[i]) && finite(R.dv[i]);
        if (cls == RANGE) ok = ok && finite(R.dp[i]) && finite(R.dq[i]);
    }
    return ok;
}

// Factors the reduced system with the current pert_primal.
void factor(run &R) { inv_num(R.lp, R.Dn, R.Dm); }

// Perturbation search: shifts the primal diagonal until every primal pivot is safely
// negative, and for unconstrained problems refines the shift by inverse iteration.
void perturbation_search(run &R, double lam_prev) {
    LP *lp = R.lp;
    const int m = lp->m, n = lp->n;
    double d = getpertval(m, n);
    if (lp->verbose >= 3 && d > 0) std::printf("pert1 = %10e \n", d);
    R.pcount = 0;
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
        d = getpertval(m, n);
    } while (d > -1e-12 && made < 30);

    if (R.pcount == 1) {
        // The first shift passed: try smaller ones.
        R.pcount = -1;
        do {
            lam /= f;
            lp->pert_primal = lam;
            factor(R);
            --R.pcount;
            d = getpertval(m, n);
        } while (d <= -1e-12 && R.pcount >= -29);
        if (d >= -1e-12) {
            // Back up to a passing shift.  A shift that passed before passes again; the
            // bound only guards against a factorization that changed in between.
            for (int k = 0; k < 60 && d > -1e-12; ++k) {
                lam *= f;
                lp->pert_primal = lam;
                factor(R);
                ++R.pcount;
                d = getpertval(m, n);
            }
        }
    }

    if (m == 0 && R.pcount != 0) {
        // Inverse power iteration for the eigenvalue of the shifted matrix nearest zero.
        for (int j = 0; j < n; ++j) R.eigv[j] = 1.0;
        double nu = 0, nu_prev = -INF;
        for (int k = 0; k < 300; ++k) {
            solve(lp, R.Dn, R.Dm, R.eigv, R.eigv);
            nu = std::sqrt(dotprod(R.eigv, R.eigv, n));
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

resid_sums residuals(run &R, measures *meas) {
    LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *x = lp->x, *y = lp->y, *z = lp->z, *s = lp->s, *g = lp->g, *t = lp->t;
    const double *p = lp->p, *q = lp->q, *v = lp->v;
    double *w = lp->w;
    const double *b = lp->b, *r = lp->r, *c = lp->c, *l = lp->l, *u = lp->u;
    const double sense = lp->max;
    resid_sums S;
    measures M;

    // Rows: rho = b - Ax + w, beta, alpha.
    smx(m, n, lp->A, lp->kA, lp->iA, x, R.rho);
    for (int i = 0; i < m; ++i) {
        const int cls = rng[i];
        if (!(cls & HAS_W)) {
            R.rho[i] = 0.0;
            continue;
        }
        const double bax = b[i] - R.rho[i];
        if (meas) {
            M.bnorm2 += b[i] * b[i];
            if (cls == ONESIDED) {
                raise_to(M.pmax, bax);
                raise_to(M.dmax, -y[i]);
                M.compl_sum += std::fabs(y[i] * bax);
            } else if (r[i] == 0) {
                raise_to(M.pmax, std::fabs(bax));
            } else {
                raise_to(M.pmax, bax);
                raise_to(M.pmax, -bax - r[i]);
                M.compl_sum += std::fabs((y[i] + q[i]) * bax) + std::fabs(q[i] * (-bax - r[i]));
            }
        }
        R.rho[i] = bax + w[i];
        if (cls == ONESIDED) {
            R.beta[i] = y[i] - v[i];
        } else {
            R.beta[i] = y[i] + q[i] - v[i];
            R.alpha[i] = r[i] - w[i] - p[i];
        }
    }
    if (lp->sdp && lp->sdpnum > 0 && lp->sdpblock) {
        long long rows = 0;
        for (int k = 0; k < lp->sdpnum; ++k) rows += lp->sdpblock[k];
        const int last = static_cast<int>(std::min<long long>(rows, m));
        for (int i = 0; i < last; ++i)
            if ((rng[i] & HAS_W) && R.rho[i] < w[i]) {
                w[i] -= R.rho[i];
                R.rho[i] = 0.0;
            }
    }
    for (int i = 0; i < m; ++i) {
        const int cls = rng[i];
        if (cls & HAS_W) S.rho2 += R.rho[i] * R.rho[i];
        if (cls == RANGE) S.alpha2 += R.alpha[i] * R.alpha[i];
        if (cls == ONESIDED) S.beta2 += R.beta[i] * R.beta[i];
    }

    // Columns: sigma, tau, nu.
    smx(n, m, lp->At, lp->kAt, lp->iAt, y, R.sigma);
    smx(n, n, lp->Q, lp->kQ, lp->iQ, x, R.Qx);
    double cq2 = 0.0;
    for (int j = 0; j < n; ++j) {
        const double cq = c[j] + R.Qx[j];
        cq2 += cq * cq;
        const double sig = sense * cq - R.sigma[j];
        const int cls = bnd[j];
        if (meas) {
            switch (cls) {
            case FREE: raise_to(M.dmax, std::fabs(sig)); break;
            case LOWER:
                raise_to(M.dmax, -sig);
                raise_to(M.pmax, l[j] - x[j]);
                M.compl_sum += std::fabs(z[j] * (l[j] - x[j]));
                break;
            case UPPER:
                raise_to(M.dmax, sig);
                raise_to(M.pmax, x[j] - u[j]);
                M.compl_sum += std::fabs(s[j] * (u[j] - x[j]));
                break;
            case BOXED:
                raise_to(M.pmax, l[j] - x[j]);
                raise_to(M.pmax, x[j] - u[j]);
                M.compl_sum += std::fabs(z[j] * (l[j] - x[j])) + std::fabs(s[j] * (u[j] - x[j]));
                break;
            default: break;
            }
        }
        switch (cls) {
        case FREE:
            R.sigma[j] = sig - z[j];
            R.nu[j] = g[j] - x[j] - t[j];
            R.tau[j] = -z[j] - s[j];
            S.tau1 += R.tau[j] * R.tau[j];
            break;
        case LOWER:
            R.sigma[j] = sig - z[j];
            R.nu[j] = l[j] - x[j] + g[j];
            S.nu28 += R.nu[j] * R.nu[j];
            break;
        case UPPER:
            R.sigma[j] = sig + s[j];
            R.tau[j] = u[j] - x[j] - t[j];
            S.tau48 += R.tau[j] * R.tau[j];
            break;
        case BOXED:
            R.sigma[j] = sig + s[j] - z[j];
            R.tau[j] = u[j] - x[j] - t[j];
            R.nu[j] = l[j] - x[j] + g[j];
            S.tau48 += R.tau[j] * R.tau[j];
            S.nu28 += R.nu[j] * R.nu[j];
            break;
        default: R.sigma[j] = sig; break;
        }
        S.sigma2 += R.sigma[j] * R.sigma[j];
        // Any reduced cost of a boxed variable splits into its two bound duals; what
        // must vanish is the residual of that split, else the complementarity sum says
        // nothing about the gap.
        if (meas && cls == BOXED) raise_to(M.dmax, std::fabs(R.sigma[j]));
    }
    if (meas) {
        M.cqnorm = std::sqrt(cq2);
        *meas = M;
    }
    return S;
}

bool finite_iterate(const run &R) {
    const LP *lp = R.lp;
    bool ok = finite(lp->primal_obj);
    for (int j = 0; j < R.n && ok; ++j) {
        const int cls = lp->bndmark[j];
        ok = finite(lp->x[j]);
        if (cls & HAS_G) ok = ok && finite(lp->g[j]) && finite(lp->z[j]);
        if (cls & HAS_T) ok = ok && finite(lp->t[j]) && finite(lp->s[j]);
    }
    for (int i = 0; i < R.m && ok; ++i) {
        const int cls = lp->rngmark[i];
        ok = finite(lp->y[i]);
        if (cls & HAS_W) ok = ok && finite(lp->w[i]) && finite(lp->v[i]);
        if (cls == RANGE) ok = ok && finite(lp->p[i]) && finite(lp->q[i]);
    }
    return ok;
}

void ratio_test(run &R, double start, bool dy_terms, double &ap, double &ad) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *x = lp->x, *l = lp->l, *u = lp->u;
    ap = ad = start;
    // NaN ratios (0/0) never raise a ratio.
    auto up = [](double &a, double v) {
        if (v > a) a = v;
    };
    const bool hb = lp->honor_bnds != 0;
    for (int j = 0; j < n; ++j) {
        const int cls = bnd[j];
        if (cls & HAS_G) {
            up(ap, -R.dg[j] / lp->g[j]);
            up(ad, -R.dz[j] / lp->z[j]);
            if (hb && cls != FREE) up(ap, -R.dx[j] / (x[j] - l[j]));
        }
        if (cls & HAS_T) {
            up(ap, -R.dt[j] / lp->t[j]);
            up(ad, -R.ds[j] / lp->s[j]);
            if (hb && cls != FREE) up(ap, R.dx[j] / (u[j] - x[j]));
        }
    }
    for (int i = 0; i < m; ++i) {
        const int cls = rng[i];
        if (cls & HAS_W) {
            up(ap, -R.dw[i] / lp->w[i]);
            up(ad, -R.dv[i] / lp->v[i]);
        }
        if (cls == RANGE) {
            up(ap, -R.dp[i] / lp->p[i]);
            up(ad, -R.dq[i] / lp->q[i]);
        }
        if (cls == ONESIDED && dy_terms) up(ad, -R.dy[i] / lp->y[i]);
    }
}

bool directions(run &R) {
    LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    const double *g = lp->g, *t = lp->t, *z = lp->z, *s = lp->s;
    const double *w = lp->w, *p = lp->p, *q = lp->q, *v = lp->v;

    // Diagonal of the reduced system.
    if (R.eqqp) {
        for (int j = 0; j < n; ++j) R.Dn[j] = 0.0;
        for (int i = 0; i < m; ++i) R.Dm[i] = 0.0;
    } else {
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

    // Factorization; nonconvex problems search for a shift of the primal diagonal.
    const double lam_prev = lp->pert_primal;
    lp->pert_primal = 0.0;
    if (!(R.eqqp && lp->quadratic)) factor(R);
    if (lp->qnz > 0 && lp->convex == 0) perturbation_search(R, lam_prev);

    // Centering of the predictor.
    const double K = compl_total(lp);
    double xi = INF;
    xi = mincompl(s, t, n, bnd, HAS_T, xi);
    xi = mincompl(z, g, n, bnd, HAS_G, xi);
    xi = mincompl(v, w, m, rng, HAS_W, xi);
    xi = mincompl(p, q, m, rng, RANGE, xi);
    double mu = 0.0;
    const double mubar = R.npairs > 0 ? K / R.npairs : 0.0;
    if (!R.eqqp && mubar > 0) {
        // A zero smallest product makes the ratio 0 and the factor its cap of 3.
        const double ratio = xi / mubar;
        const double f = ratio > 0 ? std::min(3.0, (1 - ratio) * (1 - lp->steplen) / ratio) : 3.0;
        mu = lp->mufactor * f * f * f * mubar;
    }

    // Predictor right-hand side.
    if (!R.eqqp) {
        for (int j = 0; j < n; ++j) {
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
        for (int i = 0; i < m; ++i) {
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
    reduced_rhs(R);
    solve(lp, R.Dn, R.Dm, R.dx, R.dy);
    back_substitute(R);
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
    const double K2 = compl_total(lp);
    const double a = std::max({1.0, R.ap_pred, R.ad_pred});
    const double muc = R.npairs > 0 ? 2 * ((a - 1) / (a + 10)) * ((a - 1) / (a + 10)) * K2 / R.npairs : 0.0;
    for (int j = 0; j < n; ++j) {
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
    for (int i = 0; i < m; ++i) {
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
    reduced_rhs(R);
    solve(lp, R.Dn, R.Dm, R.dx, R.dy);
    back_substitute(R);
    if (lp->verbose >= 5) dump_directions(R, false);
    R.mu = muc;
    return finite_direction(R);
}

} // namespace orva::ipm
