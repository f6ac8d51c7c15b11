// Set-up of a solve: completes the problem data a caller may leave out, builds the
// transpose, classifies variables and rows, allocates the work vectors and calls the
// set-up and initial-point hooks.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <string>

#include "ipm/ipm.h"
#include "ipm/solver.h"
#include "linalg/factor.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva::ipm {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

char **default_labels(char prefix, int count, const char *listname, const char *listexpr,
                      const char *itemname) {
    char **lab = xmalloc<char *>(listname, listexpr, count);
    for (int i = 0; i < count; ++i) lab[i] = default_label(prefix, i, itemname);
    return lab;
}

// A zero-filled work vector (its allocation message says MALLOC, as every work vector's).
double *work(const char *name, const char *expr, int len) {
    double *v = xmalloc<double>(name, expr, len);
    for (int k = 0; k < len; ++k) v[k] = 0.0;
    return v;
}

const char *label_or(char **lab, int k) { return lab && lab[k] ? lab[k] : "?"; }

} // namespace

char *default_label(char prefix, int index, const char *itemname) {
    // "R%-7d": 8 characters and the terminator for indices below 10 000 000; larger
    // indices get a buffer as wide as their text needs.
    const char fmt[] = {prefix, '%', '-', '7', 'd', '\0'};
    const int len = std::snprintf(nullptr, 0, fmt, index) + 1;
    const int size = len > 9 ? len : 9;
    char *lab = xmalloc<char>(itemname, "9", size);
    std::snprintf(lab, size, fmt, index);
    return lab;
}

void setup(run &R) {
    LP *lp = R.lp;
    std::signal(SIGINT, handler);

    int m = lp->m, n = lp->n;

    // Labels.
    if (!lp->rowlab) lp->rowlab = default_labels('R', m, "rowlab", "m", "rowlab[i]");
    if (!lp->collab) lp->collab = default_labels('C', n, "collab", "n", "collab[j]");

    // Absent data.
    if (!lp->b) lp->b = xcalloc<double>("b", "m", m);
    if (!lp->c) lp->c = xcalloc<double>("c", "n", n);
    if (!lp->r) lp->r = xcalloc<double>("r", "m", m);
    if (!lp->l) lp->l = xcalloc<double>("l", "n", n);
    if (!lp->u) {
        lp->u = xmalloc<double>("u", "n", n);
        for (int j = 0; j < n; ++j) lp->u[j] = INF;
    }
    if (!lp->kQ) {
        xfree(lp->Q);
        xfree(lp->iQ);
        lp->Q = xmalloc<double>("Q", "qnz", 0);
        lp->iQ = xmalloc<int>("iQ", "qnz", 0);
        lp->kQ = xcalloc<int>("kQ", "n+1", n + 1);
        lp->qnz = 0;
    }

    // Transpose, then transpose back: the counting transpose sorts the row indices of
    // every column, so that a repeated entry shows up as two equal neighbours.
    {
        const int nz = lp->kA[n];
        lp->iAt = xresize<int>(lp->iAt, "iAt", "nz", nz);
        lp->kAt = xresize<int>(lp->kAt, "kAt", "m+1", m + 1);
        lp->At = xresize<double>(lp->At, "At", "nz", nz);
        atnum(m, n, lp->kA, lp->iA, lp->A, lp->kAt, lp->iAt, lp->At);
        atnum(n, m, lp->kAt, lp->iAt, lp->At, lp->kA, lp->iA, lp->A);
        for (int j = 0; j < n; ++j)
            for (int k = lp->kA[j] + 1; k < lp->kA[j + 1]; ++k)
                if (lp->iA[k] == lp->iA[k - 1]) {
                    // Labels of any length: the texts grow with them.
                    const std::string where = std::string("(") + label_or(lp->rowlab, lp->iA[k]) +
                                              "," + label_or(lp->collab, j) + ")";
                    const std::string text = "multiple entry in matrix at " + where +
                                             " \n(these labels may be incorrect unless NOPREP is set) \n";
                    my_exit(40, text.c_str());
                }
    }

    lp->nl_init(lp);
    m = lp->m;
    n = lp->n;

    // Automatic settings.
    if (lp->honor_bnds == -1) lp->honor_bnds = 0;
    if (lp->pred_corr == -1) lp->pred_corr = lp->qnz == 0 ? 1 : 0;
    if (lp->mufactor == -1.0) lp->mufactor = lp->qnz != 0 ? 0.1 : 0.0;
    if (lp->pred_corr == 1 && lp->mufactor != 0) {
        lp->mufactor = 0;
        std::printf("setting mufactor = 0, since pred_corr = 1 \n");
    }

    // Variables: clamp huge bounds, classify.
    lp->bndmark = xresize<int>(lp->bndmark, "bndmark", "n", n);
    R.nfree = R.nlower = R.nupper = R.nboxed = 0;
    for (int j = 0; j < n; ++j) {
        double &l = lp->l[j], &u = lp->u[j];
        if (l < -1e8) l = -INF;
        if (u > 1e8) u = INF;
        const bool lfin = l != -INF, ufin = u != INF;
        int code;
        if (!ufin)
            code = lfin ? LOWER : FREE;
        else
            code = lfin ? BOXED : UPPER;
        lp->bndmark[j] = code;
        switch (code) {
        case FREE: ++R.nfree; break;
        case LOWER: ++R.nlower; break;
        case UPPER: ++R.nupper; break;
        default: ++R.nboxed; break;
        }
    }

    // Rows.
    lp->rngmark = xresize<int>(lp->rngmark, "rngmark", "m", m);
    R.neq = R.nineq = R.nranged = 0;
    for (int i = 0; i < m; ++i) {
        const double r = lp->r[i];
        if (r == 0) {
            lp->rngmark[i] = RANGE;
            ++R.neq;
        } else if (r > 0 && r < INF) {
            lp->rngmark[i] = RANGE;
            ++R.nranged;
        } else if (r == INF) {
            if (lp->b[i] == -INF) {
                lp->rngmark[i] = FREEROW;
            } else {
                lp->rngmark[i] = ONESIDED;
                ++R.nineq;
            }
        } else {
            const std::string text =
                std::string("negative ranges not allowed: ") + label_or(lp->rowlab, i) + " \n";
            my_exit(31, text.c_str());
        }
    }
    R.npairs = (R.nlower + R.nupper + R.nineq) + 2.0 * (R.nfree + R.nboxed + R.neq + R.nranged);

    if (lp->verbose >= 2) {
        std::printf("variables: non-neg %6d,  free %8d,  bdd %10d,  total %8d\n", R.nlower, R.nfree,
                    R.nboxed, n);
        std::printf("constraints: eq %9d,  ineq %8d,  ranged %7d,  total %8d\n", R.neq, R.nineq,
                    R.nranged, m);
        std::printf("nonzeros:    A %10d,  Q %11d\n", lp->nz, lp->qnz);
    }

    // Work vectors.
    R.m = m;
    R.n = n;
    R.dw = work("dw", "m", m);
    R.dx = work("dx", "n", n);
    R.dy = work("dy", "m", m);
    R.dz = work("dz", "n", n);
    R.dp = work("dp", "m", m);
    R.dq = work("dq", "m", m);
    R.ds = work("ds", "n", n);
    R.dt = work("dt", "n", n);
    R.dv = work("dv", "m", m);
    R.dg = work("dg", "n", n);
    R.w0 = work("w0", "m", m);
    R.x0 = work("x0", "n", n);
    R.y0 = work("y0", "m", m);
    R.z0 = work("z0", "n", n);
    R.p0 = work("p0", "m", m);
    R.q0 = work("q0", "m", m);
    R.s0 = work("s0", "n", n);
    R.t0 = work("t0", "n", n);
    R.v0 = work("v0", "m", m);
    R.g0 = work("g0", "n", n);
    R.alpha = work("alpha", "m", m);
    R.beta = work("beta", "m", m);
    R.rho = work("rho", "m", m);
    R.sigma = work("sigma", "n", n);
    R.tau = work("tau", "n", n);
    R.nu = work("nu", "n", n);
    R.gammaz = work("gammaz", "n", n);
    R.gammaw = work("gammaw", "m", m);
    R.gammas = work("gammas", "n", n);
    R.gammaq = work("gammaq", "m", m);
    R.Dn = work("Dn", "n", n);
    R.Dm = work("Dm", "m", m);
    R.Qx = work("Qx", "n", n);
    R.eigv = work("eigv", "n", n);

    if (lp->verbose >= 2) {
        std::printf(
            "-----------------------------------------------------------------------------\n"
            "     |         Primal          |           Dual          | Sig               \n"
            "Iter |  Obj Value     Infeas   |   Obj Value     Infeas  | Fig  Status  P   M\n"
            "- - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - -\n");
    }

    lp->init(lp);

    // An equality-constrained convex QP in free variables whose reduced matrix factors
    // without perturbation is solved by plain Newton steps.
    R.eqqp = 0;
    if (lp->lincons != 0 && (lp->m == 0 || R.neq == lp->m) && R.nfree == lp->n &&
        (lp->quadratic != 0 || lp->convex != 0)) {
        for (int j = 0; j < R.n; ++j) R.Dn[j] = 0.0;
        for (int i = 0; i < R.m; ++i) R.Dm[i] = 0.0;
        lp->nl_update(lp, 1);
        inv_num(lp, R.Dn, R.Dm);
        if (getpertval(lp->m, lp->n) < -1e-12) {
            for (int j = 0; j < lp->n; ++j) lp->z[j] = lp->s[j] = 0.0;
            for (int i = 0; i < lp->m; ++i) lp->w[i] = lp->p[i] = 0.0;
            R.eqqp = 1;
        }
    }

    if (lp->verbose >= 3) {
        std::printf("max=%2d \npred_corr=%2d \nsf_req=%2d \nitnlim=%2d \nverbose=%2d \nmethod=%2d "
                    "\ndense=%2d \npdf=%2d \nhonor_bnds=%2d \nhonor_bnds_init= %2d \nconvex=%2d "
                    "\nquadratic = %2d \n",
                    lp->max, lp->pred_corr, lp->sf_req, lp->itnlim, lp->verbose, lp->method,
                    lp->dense, lp->pdf, lp->honor_bnds, lp->honor_bnds_init, lp->convex,
                    lp->quadratic);
        std::printf("inftol=%10.3e \n", lp->inftol);
        std::printf("inftol2=%10.3e \n", lp->inftol2);
        std::printf("steplen=%10.3e \n", lp->steplen);
        std::printf("mufactor=%10.3e \n", lp->mufactor);
        std::printf("timlim=%10.3e \n", lp->timlim);
        std::printf("epssol=%10.3e \n", lp->epssol);
        std::printf("epsnum=%10.3e \n", lp->epsnum);
        std::printf("epscdn=%10.3e \n", lp->epscdn);
        std::printf("epsdiag=%10.3e \n", lp->epsdiag);
        std::printf("stablty=%10.3e \n", lp->stablty);
        std::printf("bndpush=%10.3e \n", lp->bndpush);
    }
}

void release(run &R) {
    double **vecs[] = {&R.dw,    &R.dx,     &R.dy,     &R.dz,     &R.dp,     &R.dq,  &R.ds,
                       &R.dt,    &R.dv,     &R.dg,     &R.w0,     &R.x0,     &R.y0,  &R.z0,
                       &R.p0,    &R.q0,     &R.s0,     &R.t0,     &R.v0,     &R.g0,  &R.alpha,
                       &R.beta,  &R.rho,    &R.sigma,  &R.tau,    &R.nu,     &R.gammaz,
                       &R.gammaw, &R.gammas, &R.gammaq, &R.Dn,    &R.Dm,     &R.Qx,  &R.eigv};
    for (double **v : vecs) xfree(*v);
}

} // namespace orva::ipm
