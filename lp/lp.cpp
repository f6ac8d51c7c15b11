#include "lp/lp.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <ctime>
#include <limits>
#include <string>

#include "ipm/ipm.h"
#include "linalg/factor.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/error.h"

namespace orva {

LP *openlp() {
    LP *lp = xmalloc<LP>("lp", "1", 1, "ORVA");
    // Everything starts zero (null arrays, zero counts), so that whatever the record may
    // release later is either null or its own block.
    *lp = LP{};
    lp->m = 0;
    lp->n = 0;
    lp->nz = 0;
    lp->f = 0.0;
    lp->qnz = 0;
    lp->max = 1;
    lp->inftol = 1e-5;
    lp->inftol2 = 1e5;
    lp->steplen = 0.95;
    lp->mufactor = -1.0;
    lp->pred_corr = -1;
    lp->sf_req = 8;
    lp->itnlim = 500;
    lp->timlim = std::numeric_limits<double>::infinity();
    lp->verbose = 2;
    lp->epssol = 1e-6;
    lp->epsnum = 0.0;
    lp->epscdn = 1e-12;
    lp->epsdiag = 1e-10;
    lp->stablty = 1.0;
    lp->method = 1;
    lp->dense = -1;
    lp->pdf = 0;
    lp->bndpush = -1.0;
    lp->honor_bnds = -1;
    lp->honor_bnds_init = -1;
    lp->convex = 0;
    lp->quadratic = 0;
    lp->lincons = 0;
    lp->sdp = 0;
    lp->name[0] = lp->obj[0] = lp->rhs[0] = lp->ranges[0] = lp->bounds[0] = '\0';
    lp->st_rule = deflt_st_rule;
    lp->init = deflt_init;
    lp->nl_init = nl_init_mps;
    lp->nl_update = nl_update_dummy;
    lp->nl_update_fg = nl_update_mps;
    lp->nl_update_h = nl_update_mps;
    lp->nl_close = nl_close_mps;
    lp->hook = deflt_hook;
    lp->objval = objval_dummy;
    lp->objgrad = objgrad_dummy;
    lp->hessian = hessian_dummy;
    lp->conval = conval_dummy;
    lp->congrad = congrad_dummy;
    lp->pert_primal = 0.0;
    lp->pert_dual = 0.0;
    lp->sdpnum = 0;
    lp->penalty = 1.0;
    return lp;
}

namespace {
void free_strings(char **list, int count) {
    if (list && count > 0)
        for (int i = 0; i < count; ++i) std::free(list[i]);
}
} // namespace

void free_slack_vectors(LP *lp) {
    for (double **a : {&lp->p, &lp->q, &lp->s, &lp->t, &lp->v, &lp->g}) xfree(*a);
}

void closelp(LP *lp) {
    if (!lp) return;
    const int m = lp->m, n = lp->n, np = lp->np;
    xfree(lp->A);
    xfree(lp->iA);
    xfree(lp->kA);
    xfree(lp->At);
    xfree(lp->iAt);
    xfree(lp->kAt);
    // Borrowed arrays belong to the one who lent them: only forgotten here.
    const auto release = [lp](auto *&a, unsigned bit) {
        if (lp->borrowed & bit)
            a = nullptr;
        else
            xfree(a);
    };
    release(lp->b, BORROWED_B);
    xfree(lp->c);
    release(lp->r, BORROWED_R);
    release(lp->l, BORROWED_L);
    release(lp->u, BORROWED_U);
    xfree(lp->varsgn);
    xfree(lp->Q);
    release(lp->iQ, BORROWED_IQ);
    release(lp->kQ, BORROWED_KQ);
    xfree(lp->w);
    release(lp->x, BORROWED_X);
    release(lp->y, BORROWED_Y);
    xfree(lp->z);
    // The record starts zero-filled, so p..g are either null or the record's own blocks.
    free_slack_vectors(lp);
    free_strings(lp->rowlab, m);
    free_strings(lp->collab, n);
    free_strings(lp->param, np);
    xfree(lp->rowlab);
    xfree(lp->collab);
    xfree(lp->param);
    xfree(lp->bndmark);
    xfree(lp->rngmark);
    xfree(lp->R);
    xfree(lp->b0);
    xfree(lp->sdpblock);
    std::free(lp);
    inv_clo();
}

int nl_init_mps(LP *lp) {
    const int m = lp->m;
    // A record solved again gets fresh copies; the earlier ones are the record's own.
    xfree(lp->b0);
    xfree(lp->R);
    lp->b0 = xmalloc<double>("lp->b0", "lp->m", m);
    for (int i = 0; i < m; ++i) lp->b0[i] = lp->b[i];
    lp->R = xmalloc<double>("lp->R", "lp->m", m);
    return 1;
}

int nl_update_mps(LP *lp) {
    const int n = lp->n;
    double quad = 0.0;
    if (n > 0 && lp->kQ) {
        for (int j = 0; j < n; ++j)
            for (int k = lp->kQ[j]; k < lp->kQ[j + 1]; ++k)
                quad += lp->x[lp->iQ[k]] * lp->Q[k] * lp->x[j];
        quad /= 2;
    }
    lp->primal_obj = lp->f + dotprod(lp->c, lp->x, n) + quad;
    // Row activities go to R when the set-up hook made it (a replacement may not have).
    if (lp->R) smx(lp->m, n, lp->A, lp->kA, lp->iA, lp->x, lp->R);
    return 0;
}

int nl_update_dummy(LP *lp, int) {
    nl_update_mps(lp);
    return 0;
}

void nl_close_mps(LP *) {}
void deflt_hook(LP *) {}
double objval_dummy(LP *) { return 0.0; }
void objgrad_dummy(LP *) {}
void hessian_dummy(LP *) {}
void conval_dummy(double *, double *) {}
void congrad_dummy(double *, double *, double *) {}

void my_exit(int code, const char *text) {
    char head[32];
    std::snprintf(head, sizeof head, "ORVA ERROR(%d): ", code);
    throw error(error_kind::data, code, text, head + std::string(text) + "\n");
}

int report(const error &e) {
    std::fputs(e.output().c_str(), stdout);
    std::fflush(stdout);
    return e.status();
}

double cputimer() { return static_cast<double>(std::clock()) / 1e6; }

} // namespace orva
