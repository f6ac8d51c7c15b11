// Evaluation hooks: through the ASL they rewrite the record's A, b, c, f and Q as the
// quadratic model of the problem at the current point, so that the interior-point
// iteration only ever sees a quadratic program.
#include <algorithm>

#include "driver/asl_glue.h"
#include "linalg/kernels.h"

namespace orva {

namespace {
// Work vectors of the hooks, grown on demand and kept for the process.
double *Hf_a = nullptr;      // Q x, for the update hook
int *iwork = nullptr;        // allocated only (kept for the record's layout of work)
int *iwork_fg = nullptr;     // likewise, for the update-values hook
double *Hf_a_h = nullptr;    // Q x, for the objective-model hook
double *Hf_a_fg = nullptr;   // Q x, for the update-values hook

// The objective's gradient and Q x at the last candidate point of a quadratic program,
// whose Q is constant: the update that accepts that point takes them from here instead of
// evaluating them again (the values are the same bit for bit).
struct candidate {
    const ASL *asl = nullptr;  // the record they were taken from (null: none kept)
    int n = 0;
    double *x = nullptr;       // the point
    double *g = nullptr;       // the objective's gradient there (Q x is in Hf_a_fg)
};
candidate cand;

// The selected objective (-1: none).
int objective(ASL *asl) { return obj_no; }

// Whether all of v[0..count) are finite numbers: an overflow or a NaN in a function value
// is an evaluation failure like one the ASL reports (the caller halves its step, or, at
// the initial point, ends the run with a message).
bool all_finite(const double *v, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

// Copies the Jacobian values of rows [first, last) from A (column-wise positions) into the
// row-wise transpose, walking each row's entry list in increasing column order.
void rows_into_At(ASL *asl, LP *lp, int first, int last) {
    for (int i = first; i < last; ++i) {
        int k = lp->kAt[i];
        for (cgrad *cg = Cgrad[i]; cg; cg = cg->next) lp->At[k++] = lp->A[cg->goff];
    }
}

// Lower sides of the nonlinear rows for their linearisation at x: the row reads
// b0 <= c(x) + grad c(x)'(x' - x) <= b0 + r, that is b = b0 - (c(x) - grad c(x)'x).
void linearise_rows(ASL *asl, LP *lp) {
    for (int i = 0; i < nlc; ++i) {
        double d = lp->R[i];
        for (int k = lp->kAt[i]; k < lp->kAt[i + 1]; ++k) d -= lp->At[k] * lp->x[lp->iAt[k]];
        lp->b[i] = lp->b0[i] - d;
    }
}

// f and c of the quadratic model at x: f + c'x + x'Qx/2 equals F + g'(x' - x) + ... around x.
// Hx receives Q x, or holds it already when `have_Hx` is set.
void quadratic_model(LP *lp, double F, double *Hx, bool have_Hx = false) {
    const int n = lp->n;
    if (!have_Hx) smx(n, n, lp->Q, lp->kQ, lp->iQ, lp->x, Hx);
    const double s = dotprod(lp->c, lp->x, n);
    lp->f = F + (0.5 * dotprod(lp->x, Hx, n) - s);
    for (int j = 0; j < n; ++j) lp->c[j] -= Hx[j];
}

// Whether the objective's gradient must be refreshed at every update: always with a
// Hessian; also for a nonlinear objective linearised only (lp_only), since otherwise c
// would keep the constant coefficients read at intake and the model would be wrong.
bool wants_gradient(ASL *asl, const LP *lp) {
    return lp->qnz > 0 || (objective(asl) >= 0 && objective(asl) < nlo);
}

// Whether Q is the constant Hessian of a quadratic program, evaluated already.
bool constant_q(const LP *lp) { return opts.lp_only == 0 && lp->qnz > 0 && lp->quadratic && evals.hes_count > 0; }

// Keeps the gradient (in c) and the point of a candidate of a quadratic program.
void keep_candidate(ASL *asl, const LP *lp) {
    const int n = lp->n;
    cand.x = xrealloc<double>(cand.x, "x", "n", n);
    cand.g = xrealloc<double>(cand.g, "c", "n", n);
    std::copy(lp->x, lp->x + n, cand.x);
    std::copy(lp->c, lp->c + n, cand.g);
    cand.n = n;
    cand.asl = asl;
}

// Whether the kept candidate is the record's current point.
bool at_candidate(const ASL *asl, const LP *lp) {
    return cand.asl == asl && cand.n == lp->n && constant_q(lp) &&
           std::equal(lp->x, lp->x + lp->n, cand.x);
}
} // namespace

int nl_init_ampl(LP *lp) {
    ASL *asl = cur_ASL;
    const int m = lp->m;
    if (opts.lp_only == 0) {
        const int o = objective(asl);
        sphsetup(o, 0, m > 0 ? 1 : 0, 0);
        // The structure arrays now are the ASL's; the ones the solver made for an empty Q go.
        if (lp->kQ != sputinfo->hcolstarts) xfree(lp->kQ);
        if (lp->iQ != sputinfo->hrownos) xfree(lp->iQ);
        lp->kQ = sputinfo->hcolstarts;
        lp->iQ = sputinfo->hrownos;
        lp->borrowed |= BORROWED_KQ | BORROWED_IQ;
        lp->qnz = lp->kQ[lp->n];
        lp->Q = xrealloc<double>(lp->Q, "lp->Q", "lp->qnz", lp->qnz);
        for (int k = 0; k < lp->qnz; ++k) lp->Q[k] = 0.0;
    }
    cand.asl = nullptr;
    lp->R = xrealloc<double>(lp->R, "lp->R", "m", m);
    lp->b0 = xrealloc<double>(lp->b0, "lp->b0", "m", m);
    for (int i = 0; i < m; ++i) lp->b0[i] = lp->b[i];
    return 0;
}

int nl_update_ampl(LP *lp, int flag) {
    ASL *asl = cur_ASL;
    const int m = lp->m, n = lp->n, nlcons = nlc;
    const int o = objective(asl);
    fint nerror = 0;

    const double t1 = xectim_();
    n_conjac[1] = nlcons;
    if (flag != 0 && m != 0) {
        evals.con_count++;
        conval(lp->x, lp->R, &nerror);
        if (nerror || !all_finite(lp->R, nlcons)) return 1;
    }
    const double t2 = xectim_();
    if (m != 0) {
        evals.jac_count++;
        jacval(lp->x, lp->A, nullptr);
        rows_into_At(asl, lp, 0, nlcons);
        linearise_rows(asl, lp);
    }
    const double t3 = xectim_();
    iwork = xrealloc<int>(iwork, "iwork", "n+1", n + 1);
    Hf_a = xrealloc<double>(Hf_a, "Hf_a", "n", n);

    double F = 0.0;
    if (o >= 0 && flag != 0) {
        evals.fun_count++;
        F = objval(o, lp->x, &nerror);
        lp->primal_obj = F;
        if (nerror || !std::isfinite(F)) return 1;
    } else if (o >= 0) {
        F = lp->primal_obj;
    }
    const double t4 = xectim_();
    double t5 = t4;
    // After the update-values hook at this same point of a quadratic program, the
    // gradient and Q x it computed are the ones wanted here.
    const bool kept = flag == 0 && o >= 0 && at_candidate(asl, lp);
    if (flag != 0) cand.asl = nullptr;
    if (o >= 0 && wants_gradient(asl, lp)) {
        evals.grad_count++;
        if (kept)
            std::copy(cand.g, cand.g + n, lp->c);
        else
            objgrd(o, lp->x, lp->c, nullptr);
        t5 = xectim_();
    } else if (o < 0 && lp->qnz > 0) {
        // Without an objective the model's linear part is only -Qx of this point: start
        // from zeros rather than from what the previous update left in c.
        for (int j = 0; j < n; ++j) lp->c[j] = 0.0;
    }
    double t6 = t5;
    if (opts.lp_only == 0 && lp->qnz > 0) {
        if (!(lp->quadratic && evals.hes_count > 0)) {
            evals.hes_count++;
            sphes(lp->Q, o, nullptr, m != 0 ? lp->y : nullptr);
            t6 = xectim_();
        }
        if (kept) std::copy(Hf_a_fg, Hf_a_fg + n, Hf_a);
        quadratic_model(lp, F, Hf_a, kept);
    } else {
        lp->f = F - dotprod(lp->c, lp->x, n);
    }
    evals.con_time += t2 - t1;
    evals.jac_time += t3 - t2;
    evals.fun_time += t4 - t3;
    evals.grad_time += t5 - t4;
    evals.hes_time += t6 - t5;
    return 0;
}

int nl_update_fg_ampl(LP *lp) {
    ASL *asl = cur_ASL;
    const int m = lp->m, n = lp->n;
    const int o = objective(asl);
    fint nerror = 0;

    evals.fun_count++;
    cand.asl = nullptr;
    const double t1 = xectim_();
    (void)t1;
    if (m != 0) {
        n_conjac[1] = m;
        evals.con_count++;
        conval(lp->x, lp->R, &nerror);
    }
    const double t2 = xectim_();
    if (nerror || !all_finite(lp->R, m)) return 1;
    if (m != 0) {
        // Only the nonlinear rows' Jacobian values change: the linear rows keep the
        // coefficients read at intake in A and At.
        n_conjac[1] = nlc;
        evals.jac_count++;
        jacval(lp->x, lp->A, nullptr);
        rows_into_At(asl, lp, 0, nlc);
        // The nonlinear rows' lower sides follow their new linearisation, so that the
        // residual b - Ax + w at this point is the true b0 - c(x) + w of the row.
        linearise_rows(asl, lp);
    }
    iwork_fg = xrealloc<int>(iwork_fg, "iwork", "n+1", n + 1);
    if (o < 0) return 0;
    lp->primal_obj = objval(o, lp->x, &nerror);
    const double t3 = xectim_();
    evals.fun_time += t3 - t2;
    if (nerror || !std::isfinite(lp->primal_obj)) return 1;
    if (wants_gradient(asl, lp)) {
        objgrd(o, lp->x, lp->c, nullptr);
        // The solver forms the dual residual at this point from c + Qx: keep c the model's
        // linear term (gradient minus Qx) so that c + Qx is the gradient here, as after a
        // full update, instead of counting the curvature twice.
        if (lp->qnz > 0) {
            Hf_a_fg = xrealloc<double>(Hf_a_fg, "Hf_a", "n", n);
            smx(n, n, lp->Q, lp->kQ, lp->iQ, lp->x, Hf_a_fg);
            if (constant_q(lp)) keep_candidate(asl, lp);
            for (int j = 0; j < n; ++j) lp->c[j] -= Hf_a_fg[j];
        }
        evals.grad_time += xectim_() - t3;
    }
    return 0;
}

int nl_update_h_ampl(LP *lp) {
    ASL *asl = cur_ASL;
    const int m = lp->m, n = lp->n;
    const int o = objective(asl);
    if (opts.lp_only == 0 && lp->qnz > 0 && !(lp->quadratic && evals.hes_count > 0)) {
        const double t = xectim_();
        evals.hes_count++;
        sphes(lp->Q, o, nullptr, m != 0 ? lp->y : nullptr);
        evals.hes_time += xectim_() - t;
    }
    Hf_a_h = xrealloc<double>(Hf_a_h, "Hf_a", "n", n);
    const double F = lp->primal_obj;
    if (opts.lp_only != 0 || lp->qnz == 0)
        lp->f = F - dotprod(lp->c, lp->x, n);
    else
        quadratic_model(lp, F, Hf_a_h);
    return 0;
}

void nl_close_ampl(LP *) {}

} // namespace orva
