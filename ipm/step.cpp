// Step of one iteration: unboundedness tests, step lengths, shortening for
// semidefinite blocks, the step with its merit test and halving, the update hooks, and
// the fall-back from the predictor-corrector method.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ipm/solver.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva::ipm {

namespace {

// Doublings of the step after failed evaluations before the step is given up.
constexpr int MAX_EVAL_FAILURES = 60;
// Halvings of a step whose candidate keeps multiplying the primal residual.
constexpr int MAX_GROWTH_HALVINGS = 60;

inline double floored(double v) { return v < FLOOR ? FLOOR : v; }

// Reads the block orders of "sdpblocks.orva" into the record and removes the file.
void read_sdp_blocks(LP *lp) {
    const char *name = "sdpblocks.orva";
    std::FILE *f = std::fopen(name, "r");
    if (!f) {
        std::fprintf(stderr, "not an SDP \n");
        return;
    }
    // Count the integers; reading stops at the end of the file or at the first word
    // that is not an integer.
    int count = 0, k;
    while (std::fscanf(f, "%d", &k) == 1) ++count;
    lp->sdpnum = count;
    lp->sdpblock = xrealloc<int>(lp->sdpblock, "lp->sdpblock", "lp->sdpnum", count);
    std::rewind(f);
    for (int i = 0; i < count; ++i)
        if (std::fscanf(f, "%d", &lp->sdpblock[i]) != 1) lp->sdpblock[i] = 0;
    std::fclose(f);
    std::remove(name);
}

// Halves the step until the candidate matrix of every semidefinite block has no pivot
// below -1e-12 in an elimination without pivoting.
void sdp_shorten(run &R, double &ahp, double &ahd) {
    LP *lp = R.lp;
    if (!lp->sdpblock || lp->sdpnum == 0) read_sdp_blocks(lp);
    int shortened = 0;
    const int n = R.n;
    if (lp->sdpblock && lp->sdpnum > 0) {
        const double *x = lp->x;
        long long off = 0;
        for (int b = 0; b < lp->sdpnum; ++b) {
            const int k = lp->sdpblock[b];
            const long long len = static_cast<long long>(k) * (k + 1) / 2;
            if (k <= 0 || off + len > n) break;  // the list does not fit x: test no further
            const owned<double *> rows(xrealloc<double *>(nullptr, "A", "n", k));
            const owned<double> block(xrealloc<double>(nullptr, "A[0]", "n*n", static_cast<long long>(k) * k));
            double **M = rows.get();
            for (int i = 0; i < k; ++i) M[i] = block.get() + static_cast<long long>(i) * k;
            for (int tries = 0;; ++tries) {
                long long e = off;
                for (int j = 0; j < k; ++j)
                    for (int i = j; i < k; ++i, ++e) M[i][j] = M[j][i] = x[e] + R.dx[e] / ahp;
                int bad = -1;
                for (int piv = 0; piv < k && bad < 0; ++piv) {
                    const double d = M[piv][piv];
                    if (d < -1e-12) {
                        bad = piv;
                        break;
                    }
                    if (!(d > 0)) continue;  // a zero pivot eliminates nothing
                    for (int i = piv + 1; i < k; ++i) {
                        const double f = M[i][piv] / d;
                        for (int j = piv; j < k; ++j) M[i][j] -= f * M[piv][j];
                    }
                }
                if (bad < 0 || tries >= MAX_EVAL_FAILURES) break;
                ahp *= 2;
                std::printf("shortening because of %d in %d\n", bad, b);
                ++shortened;
            }
            off += len;
        }
    }
    std::printf("shortened %d times \n", shortened);
    ahd = ahp;
}

// Copies between the record's iterate and the saved one, by the table of pairs.
// `to_saved` copies the record into the saved vectors, else back.
void copy_iterate(run &R, bool to_saved) {
    LP *lp = R.lp;
    auto copy = [to_saved](double *cur, double *saved, int k) {
        if (to_saved)
            saved[k] = cur[k];
        else
            cur[k] = saved[k];
    };
    for (const side_slots *S : {&row_side, &column_side}) {
        const int len = side_len(R, *S);
        const int *cls = side_class(R, *S);
        double *var = lp->*S->var, *var0 = (R.*S->var0).get();
        const auto pa = pair_arrays_of(R, *S);
        for (int k = 0; k < len; ++k) {
            copy(var, var0, k);
            for (const pair_arrays &P : pa)
                if (cls[k] & P.mask) {
                    copy(P.slack, P.slack0, k);
                    copy(P.dual, P.dual0, k);
                }
        }
    }
}

void save(run &R) {
    R.obj0 = R.lp->primal_obj;
    R.dual_obj0 = R.lp->dual_obj;
    copy_iterate(R, true);
}

// The candidate point: saved iterate plus the direction over the reciprocal lengths
// (primal quantities over ahp, dual ones over ahd); slacks and duals stay above FLOOR.
void move(run &R, double ahp, double ahd) {
    LP *lp = R.lp;
    for (const side_slots *S : {&column_side, &row_side}) {
        const int len = side_len(R, *S);
        const int *cls = side_class(R, *S);
        const double hv = S->var_primal ? ahp : ahd;
        double *var = lp->*S->var;
        const double *var0 = (R.*S->var0).get(), *dvar = (R.*S->dvar).get();
        const auto pa = pair_arrays_of(R, *S);
        for (int k = 0; k < len; ++k) {
            var[k] = var0[k] + dvar[k] / hv;
            for (const pair_arrays &P : pa)
                if (cls[k] & P.mask) {
                    P.slack[k] = floored(P.slack0[k] + P.dslack[k] / ahp);
                    P.dual[k] = floored(P.dual0[k] + P.ddual[k] / ahd);
                }
        }
    }
}

// Logarithmic barrier of the slacks, entry by entry, the variables first and then the
// rows (the row slacks are left out in eqqp mode, where they are zero).
double barrier(const run &R) {
    double B = 0.0;
    for (const side_slots *S : {&column_side, &row_side}) {
        if (S->rows && R.eqqp) break;
        const int len = side_len(R, *S);
        const int *cls = side_class(R, *S);
        const auto pa = pair_arrays_of(R, *S);
        for (int k = 0; k < len; ++k)
            for (const pair_arrays &P : pa)
                if (cls[k] & P.mask) B -= std::log(P.slack[k]);
    }
    return B;
}

// Directional derivative of the merit function along the direction: the objective's
// (over the variables) and the barrier's, entry by entry.
double merit_slope(const run &R, double mu) {
    const LP *lp = R.lp;
    double D0 = 0.0;
    const auto cols = pair_arrays_of(R, column_side);
    for (int j = 0; j < R.n; ++j) {
        D0 += R.dx[j] * lp->max * (lp->c[j] + R.Qx[j]);
        for (const pair_arrays &P : cols)
            if (lp->bndmark[j] & P.mask) D0 -= mu * P.dslack[j] / P.slack[j];
    }
    if (!R.eqqp) {
        const auto rows = pair_arrays_of(R, row_side);
        for (int i = 0; i < R.m; ++i)
            for (const pair_arrays &P : rows)
                if (lp->rngmark[i] & P.mask) D0 -= mu * P.dslack[i] / P.slack[i];
    }
    return D0;
}

// Unboundedness of a linear problem along the final direction, from its ratios: 7 when
// the primal can move without limit (feasible, improving the objective), 8 when the dual
// can; -1 otherwise.
int unbounded(const run &R, double ap, double ad) {
    const LP *lp = R.lp;
    const int m = R.m, n = R.n;
    const int *bnd = lp->bndmark, *rng = lp->rngmark;
    if (ap <= -1e-12 && lp->primal_inf <= lp->inftol && lp->max * dotprod(lp->c, R.dx.get(), n) < -1e-15)
        return 7;
    if (ad <= -1e-12 && lp->dual_inf <= lp->inftol) {
        const double gain = dotprodm(lp->b, R.dy.get(), m, rng, HAS_W) +
                            dotprodm(lp->l, R.dz.get(), n, bnd, LOWER | BOXED) -
                            dotprodm(lp->u, R.ds.get(), n, bnd, UPPER | BOXED) -
                            dotprodm(lp->r, R.dq.get(), m, rng, RANGE);
        if (gain > 1e-15) return 8;
    }
    return -1;
}

// A quadratic program runs without the corrector by default, and two ways of stalling
// are known where the corrector does not stall.  Close to feasibility (both residuals
// within 100 inftol) the centering of the method can hold the complementarity at its
// mean, so that the objectives stop closing in; or the ratio test cuts step after step
// below a tenth while slacks about to become active are driven far past zero by the
// first-order direction (their duals jump a hundredfold).  Far from feasibility, a run of
// steps each below a tenth cannot even cut the residuals by two orders in SHORT_RUN of
// them (0.9^40 ~ 0.015).  So the solve goes on with the predictor-corrector method when,
// close to feasibility, GAP_RUN iterations have not halved the relative gap between the
// objectives, or when SHORT_RUN steps in a row were shorter than a tenth.  It is switched on
// once per solve; the fall-back after repeated halvings may still switch it off.
constexpr int GAP_RUN = 10;
constexpr int SHORT_RUN = 40;
constexpr double SHORT_STEP = 10.0;  // reciprocal step length that counts as short

void watch_for_stall(run &R, double ah) {
    LP *lp = R.lp;
    const bool nearly_feasible = lp->primal_inf <= 100 * lp->inftol && lp->dual_inf <= 100 * lp->inftol;
    const double gap = std::fabs(R.obj0 - R.dual_obj0) / (std::fabs(R.obj0) + 1);
    if (!nearly_feasible || !(gap > 0.5 * R.gap_ref) || R.gap_iters == 0) {
        R.gap_ref = gap;
        R.gap_iters = nearly_feasible ? 1 : 0;
    } else {
        ++R.gap_iters;
    }
    R.short_steps = ah > SHORT_STEP ? R.short_steps + 1 : 0;
    if (R.gap_iters <= GAP_RUN && R.short_steps < SHORT_RUN) return;
    R.corrector_switched_on = true;
    lp->pred_corr = 1;
    lp->mufactor = 0.0;
    if (lp->verbose >= 2) std::printf("turning on pred_corr (no progress)\n");
}

// After a step: a corrector's step that needed three halvings or more sends the method
// back to the one without the corrector, from the saved point; a quadratic program
// without the corrector is watched for a stall.
void switch_method(run &R, int M, double ah_ratio) {
    LP *lp = R.lp;
    if (M >= 3 && lp->pred_corr != 0) {
        lp->pred_corr = 0;
        lp->mufactor = 0.1;
        if (lp->verbose >= 2) std::printf("turning off pred_corr (old method)\n");
        restore(R);
        // The hooks last saw the rejected point: evaluate again at the point the
        // iteration goes on from, so that the next residuals and the model are its own.
        lp->nl_update_fg(lp);
        lp->nl_update(lp, 0);
    } else if (lp->quadratic && lp->pred_corr == 0 && !R.corrector_switched_on) {
        watch_for_stall(R, ah_ratio);
    }
}

} // namespace

void restore(run &R) {
    R.lp->primal_obj = R.obj0;
    R.lp->dual_obj = R.dual_obj0;
    copy_iterate(R, false);
}


int take_step(run &R) {
    LP *lp = R.lp;

    // Ratios of the final direction and the unboundedness tests of linear problems.
    double ap = R.ap_pred, ad = R.ad_pred;
    if (R.corrected) {
        ratio_test(R, -1e-12, lp->honor_bnds != 0, ap, ad);
        if (lp->qnz == 0) {
            const int verdict = unbounded(R, ap, ad);
            if (verdict > 0) return verdict;
        }
    }

    // Reciprocal step lengths.
    double ahp = std::max(1.0, ap / lp->steplen);
    double ahd = std::max(1.0, ad / lp->steplen);
    if (lp->verbose >= 3) std::printf("alphap = %10e, alphad = %10e \n", ahp, ahd);
    if (lp->qnz != 0) ahp = ahd = std::max(ahp, ahd);
    const double ah_ratio = std::max(ahp, ahd);
    if (lp->qnz != 0 && lp->sdp == 1) sdp_shorten(R, ahp, ahd);

    save(R);
    R.stepped = true;

    // Merit data at the saved point.
    const double mu = R.mu;
    const resid_sums S0 = residuals(R, nullptr);
    const double Phi0 = S0.phi();
    const double slope = merit_slope(R, mu);
    const double D0 = Phi0 > 1e-30 ? slope : 0.0;
    const double Psi0 = lp->max * lp->primal_obj + mu * barrier(R);
    // Primal infeasibility of the point, over every primal residual (rows, ranges, and
    // both bounds: a point that violates only upper bounds is infeasible too).
    const double pi = std::sqrt(R.top.phi()) / (R.bnorm + 1);
    const double Delta0 = R.top.delta();

    const bool may_halve = lp->qnz > 0 && (lp->convex == 0 || lp->quadratic == 0);
    // The merit comparison asks Psi to fall by a share of D0.  When the slope D0 was
    // taken and is not negative, the direction does not descend Psi and no shorter step
    // can pass: halving would only shrink the step ten times.  A quadratic program is its
    // own model, so its direction is the Newton step of its optimality conditions and is
    // taken without the comparison; other problems keep it (but see `futile` below), since
    // their model may be wrong away from the point.
    const bool merit_applies = Phi0 <= 1e-30 || D0 < 0 || lp->quadratic == 0;
    int M = 0, failures = 0;
    for (;;) {
        if (R.eqqp) ahp = ahd = 1.0;
        move(R, ahp, ahd);
        if (lp->nl_update_fg(lp) != 0) {
            // The functions cannot be evaluated there: halve the step and try again.
            ahp *= 2;
            ahd *= 2;
            if (++failures < MAX_EVAL_FAILURES && !R.eqqp) continue;
            // Not even a tiny step can be evaluated.  The next iteration would compute
            // the same direction from the same point and fail the same way: stay at the
            // saved point and end the solve there.
            restore(R);
            lp->nl_update_fg(lp);
            return 10;
        }
        const resid_sums S1 = residuals(R, nullptr);
        const double Phi1 = S1.phi(), Delta1 = S1.delta();
        const double Psi1 = lp->max * lp->primal_obj + mu * barrier(R);
        bool reject = false, grows = false;
        const double theta = pi > 1e-10 ? Phi0 - 1e-4 * Phi0 / ahp : 0.01 * Phi0;
        if (((Phi1 != 0 && Phi1 > theta) || Phi1 == 0) && merit_applies) {
            // Along a direction on which the merit rises at first order (the primal-dual
            // direction at a point whose duals are far from their centred values), no
            // shorter step passes this comparison: Psi1 - Psi0 ~ slope/ahp stays above
            // 1e-4*slope/ahp however often the step is halved.  A candidate that is primal
            // feasible and does not worsen the dual residual (or keeps it within the
            // tolerance) is then taken instead of being halved to a step that changes
            // nothing; the growth tests below still apply.
            const bool futile = slope > 0 && std::sqrt(Phi1) / (R.bnorm + 1) <= lp->inftol &&
                                (Delta1 <= Delta0 || std::sqrt(Delta1) / (R.cqnorm + 1) <= lp->inftol);
            if (Psi1 > Psi0 + 1e-4 * D0 / ahp && !futile) reject = true;
        }
        // The growth tests compare with the saved point.  At the first iteration the
        // dual residual is zero by the choice of the starting duals, so only the primal
        // test applies there; and since the start's primal residual may be zero too (a
        // feasible start) or anything, the first step is measured against the larger of
        // it and the scale of b: it may reach a relative infeasibility of about 30, but
        // not the 1e13 that a step along a direction without curvature (a linear model
        // whose variables' only bounds are 1e8 away) would bring.
        const bool first = lp->iter < 2;
        const double Phi_ref = first ? std::max(Phi0, (R.bnorm + 1) * (R.bnorm + 1)) : Phi0;
        if (!reject) {
            if (std::sqrt(Phi1) / (R.bnorm + 1) > lp->inftol && Phi1 > 1000 * Phi_ref)
                reject = grows = true;
            else if (!first && std::sqrt(Delta1) / (R.cqnorm + 1) > lp->inftol && Delta1 > 1000 * Delta0)
                reject = true;
        }
        // A candidate whose residuals or merit are not numbers is never better.
        if (std::isnan(Phi1) || std::isnan(Delta1) || std::isnan(Psi1)) reject = true;
        // Ten halvings end the search, except for a candidate that still multiplies the
        // primal residual: taking it would throw the iterate far off (and the stopping
        // rule would read the jump as a verdict), so halving goes on there.
        if (reject && (M <= 9 || (grows && M < MAX_GROWTH_HALVINGS)) && may_halve) {
            ++M;
            ahp *= 2;
            ahd *= 2;
            continue;
        }
        break;
    }
    R.mcount = M;

    lp->nl_update(lp, 0);

    switch_method(R, M, ah_ratio);
    return -1;
}

} // namespace orva::ipm
