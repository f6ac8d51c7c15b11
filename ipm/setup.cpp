// Set-up of a solve: completes the problem data a caller may leave out, builds the
// transpose, classifies variables and rows, allocates the work vectors and calls the
// set-up and initial-point hooks.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "ipm/ipm.h"
#include "ipm/solver.h"
#include "linalg/factor.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva::ipm {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Default labels for a record's rows or columns, put into `list` (null entries first, so
// that the record owns every label made even when an allocation fails).
void default_labels(char **&list, char prefix, int count, const char *listname, const char *listexpr,
                    const char *itemname) {
    list = xmalloc<char *>(listname, listexpr, count);
    for (int i = 0; i < count; ++i) list[i] = nullptr;
    for (int i = 0; i < count; ++i) list[i] = default_label(prefix, i, itemname);
}

const char *label_or(char **lab, int k) { return lab && lab[k] ? lab[k] : "?"; }

} // namespace

char *default_label(char prefix, int index, const char *itemname) {
    // The text of prefix and "%-7d" (the index left-justified in 7 characters), written
    // by hand: the AMPL path labels every row and column this way, and two formatted
    // prints per label cost as much as a few iterations of a small problem.  The buffer
    // holds 8 characters and the terminator, or as many as a longer index needs.
    char digits[12];
    int nd = 0;
    unsigned v = index < 0 ? 0u - static_cast<unsigned>(index) : static_cast<unsigned>(index);
    do {
        digits[nd++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    const int len = 1 + (index < 0 ? 1 : 0) + nd;
    const int size = len + 1 > 9 ? len + 1 : 9;
    char *lab = xmalloc<char>(itemname, "9", size);
    int k = 0;
    lab[k++] = prefix;
    if (index < 0) lab[k++] = '-';
    while (nd > 0) lab[k++] = digits[--nd];
    while (k < 8) lab[k++] = ' ';
    lab[k] = '\0';
    return lab;
}

namespace {

// Labels and the arrays a caller may leave out (zeros; no upper bounds; no Q).
void complete_data(LP *lp) {
    const int m = lp->m, n = lp->n;
    if (!lp->rowlab) default_labels(lp->rowlab, 'R', m, "rowlab", "m", "rowlab[i]");
    if (!lp->collab) default_labels(lp->collab, 'C', n, "collab", "n", "collab[j]");
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
        if (lp->borrowed & BORROWED_IQ)
            lp->iQ = nullptr;  // not the record's to free
        else
            xfree(lp->iQ);
        lp->borrowed &= ~(BORROWED_IQ | BORROWED_KQ);
        lp->Q = xmalloc<double>("Q", "qnz", 0);
        lp->iQ = xmalloc<int>("iQ", "qnz", 0);
        lp->kQ = xcalloc<int>("kQ", "n+1", n + 1);
        lp->qnz = 0;
    }
}

// Builds the transpose, then transposes back: the counting transpose sorts the row
// indices of every column, so that a repeated entry shows up as two equal neighbours
// (data error 40).
void transpose_and_check(LP *lp) {
    const int m = lp->m, n = lp->n;
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
                const std::string where = std::string("(") + label_or(lp->rowlab, lp->iA[k]) + "," +
                                          label_or(lp->collab, j) + ")";
                const std::string text = "multiple entry in matrix at " + where +
                                         " \n(these labels may be incorrect unless NOPREP is set) \n";
                my_exit(40, text.c_str());
            }
}

// Settings left at "automatic" (-1) get their values from the problem.
void automatic_settings(LP *lp) {
    if (lp->honor_bnds == -1) lp->honor_bnds = 0;
    if (lp->pred_corr == -1) lp->pred_corr = lp->qnz == 0 ? 1 : 0;
    if (lp->mufactor == -1.0) lp->mufactor = lp->qnz != 0 ? 0.1 : 0.0;
    if (lp->pred_corr >= 2) lp->mufactor = 0;  // the corrector's own centering
    if (lp->pred_corr == 1 && lp->mufactor != 0) {
        lp->mufactor = 0;
        std::printf("setting mufactor = 0, since pred_corr = 1 \n");
    }
}

// Variables: bounds beyond 1e8 become infinite; bndmark and the class counts.
void classify_columns(run &R) {
    LP *lp = R.lp;
    const int n = lp->n;
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
}

// Rows: rngmark and the class counts; a negative range is data error 31.
void classify_rows(run &R) {
    LP *lp = R.lp;
    const int m = lp->m;
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
}

void print_statistics(const run &R) {
    const LP *lp = R.lp;
    std::printf("variables: non-neg %6d,  free %8d,  bdd %10d,  total %8d\n", R.nlower, R.nfree,
                R.nboxed, lp->n);
    std::printf("constraints: eq %9d,  ineq %8d,  ranged %7d,  total %8d\n", R.neq, R.nineq,
                R.nranged, lp->m);
    std::printf("nonzeros:    A %10d,  Q %11d\n", lp->nz, lp->qnz);
}

// The work vectors, zero-filled, for the record's current sizes.
void allocate_work(run &R) {
    const int m = R.lp->m, n = R.lp->n;
    R.m = m;
    R.n = n;
    struct item {
        vec run::*v;
        const char *name;
        bool rows;
    };
    static constexpr item items[] = {
        {&run::dw, "dw", true},         {&run::dx, "dx", false},        {&run::dy, "dy", true},
        {&run::dz, "dz", false},        {&run::dp, "dp", true},         {&run::dq, "dq", true},
        {&run::ds, "ds", false},        {&run::dt, "dt", false},        {&run::dv, "dv", true},
        {&run::dg, "dg", false},        {&run::w0, "w0", true},         {&run::x0, "x0", false},
        {&run::y0, "y0", true},         {&run::z0, "z0", false},        {&run::p0, "p0", true},
        {&run::q0, "q0", true},         {&run::s0, "s0", false},        {&run::t0, "t0", false},
        {&run::v0, "v0", true},         {&run::g0, "g0", false},        {&run::alpha, "alpha", true},
        {&run::beta, "beta", true},     {&run::rho, "rho", true},       {&run::sigma, "sigma", false},
        {&run::tau, "tau", false},      {&run::nu, "nu", false},        {&run::gammaz, "gammaz", false},
        {&run::gammaw, "gammaw", true}, {&run::gammas, "gammas", false}, {&run::gammaq, "gammaq", true},
        {&run::Dn, "Dn", false},        {&run::Dm, "Dm", true},         {&run::Qx, "Qx", false},
        {&run::eigv, "eigv", false},
    };
    for (const item &it : items) {
        const int len = it.rows ? m : n;
        // Its allocation message says MALLOC, as every work vector's.
        vec v = make_owned<double>(it.name, it.rows ? "m" : "n", len);
        for (int k = 0; k < len; ++k) v[k] = 0.0;
        R.*it.v = std::move(v);
    }
}

void print_header() {
    std::printf("-----------------------------------------------------------------------------\n"
                "     |         Primal          |           Dual          | Sig               \n"
                "Iter |  Obj Value     Infeas   |   Obj Value     Infeas  | Fig  Status  P   M\n"
                "- - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - -\n");
}

// An equality-constrained convex QP in free variables whose reduced matrix factors
// without perturbation is solved by plain Newton steps (eqqp mode).
void eqqp_test(run &R) {
    LP *lp = R.lp;
    R.eqqp = 0;
    if (lp->lincons != 0 && (lp->m == 0 || R.neq == lp->m) && R.nfree == lp->n &&
        (lp->quadratic != 0 || lp->convex != 0)) {
        for (int j = 0; j < R.n; ++j) R.Dn[j] = 0.0;
        for (int i = 0; i < R.m; ++i) R.Dm[i] = 0.0;
        lp->nl_update(lp, 1);
        inv_num(lp, R.Dn.get(), R.Dm.get());
        if (getpertval(lp->m, lp->n) < -1e-12) {
            for (int j = 0; j < lp->n; ++j) lp->z[j] = lp->s[j] = 0.0;
            for (int i = 0; i < lp->m; ++i) lp->w[i] = lp->p[i] = 0.0;
            R.eqqp = 1;
        }
    }
}

void print_settings(const LP *lp) {
    std::printf("max=%2d \npred_corr=%2d \nsf_req=%2d \nitnlim=%2d \nverbose=%2d \nmethod=%2d "
                "\ndense=%2d \npdf=%2d \nhonor_bnds=%2d \nhonor_bnds_init= %2d \nconvex=%2d "
                "\nquadratic = %2d \n",
                lp->max, lp->pred_corr, lp->sf_req, lp->itnlim, lp->verbose, lp->method, lp->dense,
                lp->pdf, lp->honor_bnds, lp->honor_bnds_init, lp->convex, lp->quadratic);
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

} // namespace

void setup(run &R) {
    LP *lp = R.lp;
    std::signal(SIGINT, handler);
    complete_data(lp);
    transpose_and_check(lp);
    lp->nl_init(lp);  // may change the sizes: everything below reads them afresh
    automatic_settings(lp);
    classify_columns(R);
    classify_rows(R);
    if (lp->verbose >= 2) print_statistics(R);
    allocate_work(R);
    if (lp->verbose >= 2) print_header();
    lp->init(lp);
    eqqp_test(R);
    if (lp->verbose >= 3) print_settings(lp);
}

} // namespace orva::ipm
