// The interior-point iteration: measures, iteration log, stopping rule, limits, result.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ipm/ipm.h"
#include "ipm/solver.h"
#include "linalg/kernels.h"
#include "lp/lp.h"

namespace orva {

const char *const result_messages[15] = {
    "OPTIMAL SOLUTION FOUND",
    "SUBOPTIMAL SOLUTION FOUND",
    "ITERATION LIMIT",
    "PRIMAL INFEASIBLE",
    "DUAL INFEASIBLE",
    "PRIMAL and/or DUAL INFEASIBLE",
    "PRIMAL and/or DUAL INFEASIBLE (INCONSISTENT EQUATIONS)",
    "PRIMAL UNBOUNDED",
    "DUAL UNBOUNDED",
    "TIME LIMIT",
    "CURRENT POINT CANNOT BE IMPROVED",
    "PRIMAL INFEASIBLE OR BAD STARTING GUESS",
    "PRIMAL UNBOUNDED/DUAL INFEASIBLE",
    "DUAL UNBOUNDED/PRIMAL INFEASIBLE",
    "PRIMAL AND DUAL UNBOUNDED",
};

namespace ipm {

namespace {

// A row without entries reads 0 whatever x is.  Returns the first such row whose sides
// keep 0 out by more than the feasibility tolerance allows (the stopping test measures
// that violation relative to |b| + 1, so it could never pass), or -1.
int unsatisfiable_empty_row(const run &R) {
    const LP *lp = R.lp;
    for (int i = 0; i < R.m; ++i) {
        const int cls = lp->rngmark[i];
        if (!(cls & HAS_W) || lp->kAt[i + 1] != lp->kAt[i]) continue;
        double miss = lp->b[i];  // 0 below the lower side
        if (cls == RANGE) miss = std::max(miss, -(lp->b[i] + lp->r[i]));  // or above the upper one
        if (miss > lp->inftol * (R.bnorm + 1)) return i;
    }
    return -1;
}

// Rays at the iteration limit.  A linear program that is infeasible or unbounded makes
// its iterate grow without bound along a certificate: x along a direction d with Ad
// feasible for the rows' sides at infinity, d within the bounds' sides and c'd < 0 (the
// objective falls without end), or the multipliers along a direction with A'y + z - s = 0
// and b'y - r'q + l'z - u's > 0 (the dual objective rises without end).  Both are looked
// for once the iterate has grown 1e8 times beyond the data, with relative tolerance 1e-6.
constexpr double RAY_GROWTH = 1e8, RAY_TOL = 1e-6;

// Largest finite side or bound, and largest |A| and |c|.
struct data_scale {
    double sides = 0, amax = 0, cmax = 0;
};
data_scale scale_of(const run &R) {
    const LP *lp = R.lp;
    data_scale d;
    auto side = [&d](double v) {
        if (std::isfinite(v)) d.sides = std::max(d.sides, std::fabs(v));
    };
    for (int i = 0; i < R.m; ++i)
        if (lp->rngmark[i] & HAS_W) {
            side(lp->b[i]);
            if (lp->rngmark[i] == RANGE) side(lp->b[i] + lp->r[i]);
        }
    for (int j = 0; j < R.n; ++j) {
        if (lp->bndmark[j] & (LOWER | BOXED)) side(lp->l[j]);
        if (lp->bndmark[j] & (UPPER | BOXED)) side(lp->u[j]);
        d.cmax = std::max(d.cmax, std::fabs(lp->c[j]));
    }
    for (int k = 0; k < lp->kA[R.n]; ++k) d.amax = std::max(d.amax, std::fabs(lp->A[k]));
    return d;
}

// Whether x has grown along a direction of unbounded descent.
bool primal_ray(const run &R, const data_scale &d) {
    const LP *lp = R.lp;
    double X = 0;
    for (int j = 0; j < R.n; ++j) X = std::max(X, std::fabs(lp->x[j]));
    if (!(X > RAY_GROWTH * (1 + d.sides))) return false;
    const double tx = RAY_TOL * X, ta = RAY_TOL * X * d.amax;
    std::vector<double> Ax(R.m);
    smx(R.m, R.n, lp->A, lp->kA, lp->iA, lp->x, Ax.data());
    for (int i = 0; i < R.m; ++i) {
        const int cls = lp->rngmark[i];
        if (cls == RANGE && std::fabs(Ax[i]) > ta) return false;
        if (cls == ONESIDED && Ax[i] < -ta) return false;
    }
    for (int j = 0; j < R.n; ++j) {
        const int cls = lp->bndmark[j];
        const double x = lp->x[j];
        if ((cls == LOWER && x < -tx) || (cls == UPPER && x > tx) || (cls == BOXED && std::fabs(x) > tx))
            return false;
    }
    return lp->max * dotprod(lp->c, lp->x, R.n) < -RAY_TOL * X * d.cmax;
}

// Whether the multipliers have grown along a direction of unbounded dual ascent.
bool dual_ray(const run &R, const data_scale &d) {
    const LP *lp = R.lp;
    const int *rng = lp->rngmark, *bnd = lp->bndmark;
    double S = 0;
    for (int i = 0; i < R.m; ++i) {
        S = std::max(S, std::fabs(lp->y[i]));
        if (rng[i] == RANGE) S = std::max(S, lp->q[i]);
    }
    for (int j = 0; j < R.n; ++j) {
        if (bnd[j] & (LOWER | BOXED)) S = std::max(S, lp->z[j]);
        if (bnd[j] & (UPPER | BOXED)) S = std::max(S, lp->s[j]);
    }
    if (!(S > RAY_GROWTH * (1 + d.cmax))) return false;
    const double ts = RAY_TOL * S;
    for (int i = 0; i < R.m; ++i) {
        if (rng[i] == ONESIDED && lp->y[i] < -ts) return false;
        if (rng[i] == FREEROW && std::fabs(lp->y[i]) > ts) return false;
    }
    std::vector<double> Aty(R.n);
    smx(R.n, R.m, lp->At, lp->kAt, lp->iAt, lp->y, Aty.data());
    double gain = 0;
    for (int i = 0; i < R.m; ++i) {
        if (rng[i] & HAS_W) gain += lp->b[i] * lp->y[i];
        if (rng[i] == RANGE) gain -= lp->r[i] * lp->q[i];
    }
    for (int j = 0; j < R.n; ++j) {
        double r = Aty[j];
        if (bnd[j] & (LOWER | BOXED)) r += lp->z[j], gain += lp->l[j] * lp->z[j];
        if (bnd[j] & (UPPER | BOXED)) r -= lp->s[j], gain -= lp->u[j] * lp->s[j];
        if (std::fabs(r) > ts * d.amax) return false;
    }
    return gain > ts * (1 + d.sides);
}

// Result of a linear program that reached the iteration limit: 7 (unbounded) or 8 (no
// primal point: the dual is unbounded) when its iterate shows the ray and the other
// side is feasible, 4 or 3 when only the ray's own verdict holds, 5 with both rays, else
// 2.  Problems whose constraints a hook re-linearises keep 2.
int limit_verdict(const run &R) {
    const LP *lp = R.lp;
    if (lp->qnz != 0 || !(lp->lincons != 0 || lp->nl_update == nl_update_dummy)) return 2;
    const data_scale d = scale_of(R);
    const bool pr = primal_ray(R, d), dr = dual_ray(R, d);
    if (pr && dr) return 5;
    if (pr) return lp->primal_inf <= lp->inftol ? 7 : 4;
    if (dr) return lp->dual_inf <= lp->inftol ? 8 : 3;
    return 2;
}

// Significant figures to which P and D agree.
int significant_figures(double P, double D) {
    const double lg = std::log10(std::fabs(P - D) / (std::fabs(P) + 1) + 1e-60);
    if (!(lg < 0)) return 0;
    const double e = -lg;
    const double whole = std::floor(e);
    return static_cast<int>(whole) + (e - whole > 0.5 ? 1 : 0);
}

void write_iterate(const LP *lp) {
    char name[32];
    std::snprintf(name, sizeof name, "x.%02d", lp->iter);
    std::FILE *f = std::fopen(name, "w");
    if (!f) {
        const std::string text = std::string("cannot open file ") + name + "\n";
        my_exit(2, text.c_str());
    }
    for (int j = 0; j < lp->n; ++j) std::fprintf(f, "%0.1e\n", lp->x[j]);
    std::fclose(f);
}

void log_line(const LP *lp, int pcount, int mcount) {
    std::printf("%3u  %14.6e  %8.1e   %14.6e  %8.1e   ", static_cast<unsigned>(lp->iter), lp->primal_obj,
                lp->primal_inf, lp->dual_obj, lp->dual_inf);
    if (lp->sigfig > 0)
        std::printf("%2d ", lp->sigfig);
    else
        std::printf("   ");
    std::printf("  %2s %2s  ", lp->primal_inf <= lp->inftol ? "PF" : "  ",
                lp->dual_inf <= lp->inftol ? "DF" : "  ");
    if (pcount != 0)
        std::printf("%3d ", pcount);
    else
        std::printf("    ");
    if (mcount != 0) std::printf("%2d", mcount);
    std::printf("\n");
}

void dump_column_matrix(const char *title, int cols, const int *start, const int *idx, const double *val,
                        const char *fmt) {
    std::printf("\n%s", title);
    for (int j = 0; j < cols; ++j) {
        for (int k = start[j]; k < start[j + 1]; ++k) std::printf(fmt, idx[k], val[k]);
        std::printf("\n");
    }
}

void dump_vector(const char *title, const double *v, int len) {
    std::printf("\n%s", title);
    for (int k = 0; k < len; ++k) std::printf("%10.5f \n", v[k]);
}

} // namespace

void dump_data(run &R) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    std::printf("\nx g z s t: ");
    for (int j = 0; j < n; ++j)
        std::printf("%14.7e %14.7e %14.7e %14.7e %14.7e \n", lp->x[j], lp->g[j], lp->z[j], lp->s[j], lp->t[j]);
    std::printf("\ny v w p q: ");
    for (int i = 0; i < m; ++i)
        std::printf("%14.7e %14.7e %14.7e %14.7e %14.7e \n", lp->y[i], lp->v[i], lp->w[i], lp->p[i], lp->q[i]);
    dump_column_matrix("Q: ", n, lp->kQ, lp->iQ, lp->Q, "%5d %10.5e \n");
    dump_column_matrix("A: ", n, lp->kA, lp->iA, lp->A, "%5d %10.5f \n");
    dump_column_matrix("At: ", m, lp->kAt, lp->iAt, lp->At, "%5d %10.5f \n");
    dump_vector("b: ", lp->b, m);
    dump_vector("c: ", lp->c, n);
    dump_vector("u: ", lp->u, n);
    dump_vector("l: ", lp->l, n);
    dump_vector("r: ", lp->r, m);
    std::printf("\nrngmark: ");
    for (int i = 0; i < m; ++i) std::printf("%2d \n", lp->rngmark[i]);
    std::printf("\nf: %10.5f \n", lp->f);
}

void dump_directions(run &R, bool labelled) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    std::printf("\ndx dg dz ds dt: ");
    for (int j = 0; j < n; ++j) {
        if (labelled)
            std::printf("%14.6e %14.6e %14.6e %14.6e %14.6e %s \n", R.dx[j], R.dg[j], R.dz[j], R.ds[j], R.dt[j],
                        lp->collab[j]);
        else
            std::printf("%14.6e %14.6e %14.6e %14.6e %14.6e \n", R.dx[j], R.dg[j], R.dz[j], R.ds[j], R.dt[j]);
    }
    std::printf("dy dv dw dp dq: ");
    for (int i = 0; i < m; ++i) {
        if (labelled)
            std::printf("%14.6e %14.6e %14.6e %14.6e %14.6e %s \n", R.dy[i], R.dv[i], R.dw[i], R.dp[i], R.dq[i],
                        lp->rowlab[i]);
        else
            std::printf("%14.6e %14.6e %14.6e %14.6e %14.6e \n", R.dy[i], R.dv[i], R.dw[i], R.dp[i], R.dq[i]);
    }
    if (!labelled) return;
    std::printf("\ngz st: ");
    for (int j = 0; j < n; ++j) std::printf("%14.6e %14.6e \n", lp->g[j] * lp->z[j], lp->s[j] * lp->t[j]);
    std::printf("vw pq: ");
    for (int i = 0; i < m; ++i) std::printf("%14.6e %14.6e \n", lp->v[i] * lp->w[i], lp->p[i] * lp->q[i]);
    std::printf("\n");
}

// A point that is primal and dual feasible but whose objectives do not agree to sf_req
// figures, with x times the dual residual making most of what separates them: the dual
// residual has to keep falling.  When DUAL_GAP_RUN such iterations in a row have not
// halved the relative gap, the columns' diagonal floor is what holds it: a column whose true
// diagonal lies far below the floor (a basic column, z/g tiny) takes its reduced cost into a
// primal move of that cost over the floor instead of into y, and the step leaves the floor
// times that move as its new residual, iteration after iteration.  The floor then goes down
// tenfold, and again after each further such run (not below the tiny-pivot size).  Steps of
// ten keep the factor stable: a single drop to the lowest floor late in a run of an
// ill-conditioned problem spoiled its solves (feasibility lost, the dual running away).  Only
// without a quadratic part, where a column's diagonal is its floor alone (on a quadratic
// program with free variables the lowering only slowed the run down threefold), and without
// a primal shift.
constexpr int DUAL_GAP_RUN = 3;

void watch_dual_residual(run &R, const measures &M) {
    LP *lp = R.lp;
    const bool stuck = lp->qnz == 0 && lp->primal_inf <= lp->inftol && lp->dual_inf <= lp->inftol &&
                       lp->sigfig < lp->sf_req && lp->pert_primal == 0.0 && M.gap_dual >= 0.5 * M.gap;
    const double gap = std::fabs(lp->primal_obj - lp->dual_obj) / (std::fabs(lp->primal_obj) + 1);
    if (!stuck || !(gap > 0.5 * R.dual_gap_ref) || R.dual_gap_iters == 0) {
        R.dual_gap_ref = gap;
        R.dual_gap_iters = stuck ? 1 : 0;
        return;
    }
    if (++R.dual_gap_iters < DUAL_GAP_RUN) return;
    R.dual_gap_iters = 0;
    R.fact.lower_column_floor(lp);
}
} // namespace ipm

int solvelp(LP *lp) {
    using namespace ipm;
    run R;
    R.lp = lp;
    const factorization_in_use factoring(R.fact);
    lp->iter = 0;
    setup(R);

    int result;
    if (lp->itnlim <= 0) {
        result = 2;
    } else if (lp->timlim < 0) {
        result = 9;
    } else {
        lp->iter = 1;
        double elapsed = 0.0;
        for (;;) {
            if (!finite_iterate(R)) {
                // Only a broken evaluation or step makes the iterate not a number;
                // go back to the last point that was one and say it was not improved.
                if (R.stepped) restore(R);
                result = 10;
                break;
            }
            measures M;
            const resid_sums S = residuals(R, &M);
            if (!R.have_bnorm) {
                R.bnorm = std::sqrt(M.bnorm2);
                R.have_bnorm = true;
            }
            R.cqnorm = M.cqnorm;
            R.top = S;
            const double P = lp->primal_obj;
            const double D = P - lp->max * M.gap;

            lp->elaptime = elapsed;
            lp->primal_inf = M.pmax / (R.bnorm + 1);
            lp->dual_inf = M.dmax / (R.cqnorm + 1);
            lp->sigfig = significant_figures(P, D);
            lp->primal_obj = P;
            lp->dual_obj = D;

            if (lp->verbose >= 4) dump_data(R);
            if (lp->verbose >= 3) write_iterate(lp);
            if (lp->verbose != 0) log_line(lp, R.pcount, R.mcount);

            if (lp->iter == 1) {
                const int row = unsatisfiable_empty_row(R);
                if (row >= 0) {
                    if (lp->verbose >= 2)
                        std::printf("row %s has no entries and cannot be satisfied\n", lp->rowlab[row]);
                    result = 3;
                    break;
                }
            }

            const int code = lp->st_rule(lp);
            if (code > 0) {
                if (R.stepped) restore(R);
                result = code;
                break;
            }
            if (code == 0) {
                result = 0;
                break;
            }

            watch_dual_residual(R, M);
            bool usable = directions(R);
            if (!usable) {
                // The factorization broke down (its overflow left NaN in the direction).
                // It raises its diagonal floor after such pivots: try once more from the
                // same point, with the residuals formed afresh since the direction
                // computation updates them.
                residuals(R, nullptr);
                usable = directions(R);
            }
            if (!usable) {
                // Still no usable direction: stop at this point rather than step into NaN.
                result = 10;
                break;
            }
            const int unb = take_step(R);
            if (unb > 0) {
                result = unb;
                break;
            }

            const double now = cputimer();
            if (lp->iter >= lp->itnlim) {
                result = limit_verdict(R);
                break;
            }
            if (now > lp->timlim) {
                result = 9;
                break;
            }
            ++lp->iter;
            elapsed = now;
        }
    }

    if (lp->verbose >= 4) dump_directions(R, true);
    lp->nl_close(lp);
    if (lp->verbose >= 2) {
        std::printf("----------------------\n");
        if (result >= 0 && result <= 14) std::printf("%s\n", result_messages[result]);
    }
    return result;
}

} // namespace orva
