// Reading an .nl problem through the ASL into the lp record.
#include <sys/stat.h>

#include <vector>

#include "driver/asl_glue.h"
#include "driver/nlcheck.h"

namespace orva {

namespace {
constexpr double inf = std::numeric_limits<double>::infinity();
} // namespace

// The ASL answers the degree question only on a record of the fg kind whose expressions
// were converted by its QP reader, so a second, temporary record reads the same file for
// it; the pfgh record is then made current again.
int objective_degree(ASL *asl, const char *stem, int o) {
    ASL *tmp = ASL_alloc(ASL_read_fg);
    FILE *nl = jac0dim_ASL(tmp, stem, static_cast<ftnlen>(std::strlen(stem)));
    int deg = 3;
    if (nl) {
        qp_read_ASL(tmp, nl, 0);
        deg = degree_ASL(tmp, o, nullptr);
    }
    ASL_free(&tmp);
    set_cur_ASL(asl);
    return deg;
}

namespace {

// Refuses an .nl file whose header or segments would make the ASL's reader write outside
// its arrays (the ASL trusts them): the message names the file and the line, as the
// ASL's own for a line it cannot read, and the program ends with status 1.  The degree
// of the selected objective comes back when the pass could tell it, else -1.
int check_nl(ASL *asl) {
    const nl_counts cnt{n_var, n_con, n_obj, n_lcon, nlc,  nlo,  nlvc,  nlvo, nlvb,  nwv,   nfunc, nbv,
                        niv,   nlvbi, nlvci, nlvoi, nzc,  nzo,  comb,  comc, como,  comc1, como1};
    struct stat st {};
    const long long bytes = stat(filename, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
    char why[200] = "";
    if (!nl_header_ok(cnt, bytes, why, sizeof why)) {
        Fprintf(Stderr, "bad header in %s: %s\n", filename, why);
        mainexit_ASL(1);
    }
    std::FILE *f = std::fopen(filename, binary_nl ? "rb" : "r");
    if (!f) return -1;  // the ASL has it open; it reports its own read errors
    nl_degree deg;
    if (opts.objno > 0 && opts.objno <= n_obj) deg.objective = opts.objno - 1;
    if (binary_nl) {
        const long long at = nl_binary_check(f, cnt, why, sizeof why, &deg);
        std::fclose(f);
        if (at >= 0) {
            Fprintf(Stderr, "bad file %s at byte %lld: %s\n", filename, at, why);
            mainexit_ASL(1);
        }
        return deg.value;
    }
    const long long line = nl_segments_check(f, cnt, why, sizeof why, &deg);
    std::fclose(f);
    if (line > 0) {
        Fprintf(Stderr, "bad line %lld of %s: %s\n", line, filename, why);
        mainexit_ASL(1);
    }
    return deg.value;
}

// The Jacobian and gradient lists as read: every entry names a variable and the Jacobian
// entries fill the nz places column by column (the record is built from them by index).
void check_gradients(ASL *asl, int n, int nz) {
    // Column j's entries must take the places from the sum of the earlier columns' counts on,
    // in the order of their rows, as the reader lays them out from a sound file: the
    // column starts of A are taken from these places.
    std::vector<long long> next(static_cast<size_t>(n) + 1, 0);
    const char *why = nullptr;
    long long entries = 0;
    for (int i = 0; i < n_con && !why; ++i)
        for (cgrad *cg = Cgrad[i]; cg; cg = cg->next) {
            if (cg->varno < 0 || cg->varno >= n) {
                why = "a Jacobian entry out of range";
                break;
            }
            ++next[static_cast<size_t>(cg->varno) + 1];
            ++entries;
        }
    if (!why && entries != nz) why = "Jacobian entries do not match the header";
    for (int j = 0; j < n && !why; ++j) next[j + 1] += next[j];
    for (int i = 0; i < n_con && !why; ++i)
        for (cgrad *cg = Cgrad[i]; cg; cg = cg->next)
            if (cg->goff != next[cg->varno]++) {
                why = "a Jacobian entry out of column order";
                break;
            }
    for (int o = 0; o < n_obj && !why; ++o)
        for (ograd *og = Ograd[o]; og; og = og->next)
            if (og->varno < 0 || og->varno >= n) {
                why = "a gradient entry out of range";
                break;
            }
    if (why) {
        Fprintf(Stderr, "bad file %s: %s\n", filename, why);
        mainexit_ASL(1);
    }
}

// A value the method cannot compute with: a bound that is not a number or is infinite on
// the wrong side, a coefficient, constant or initial value that is not a finite number.
// Such a file is refused like a damaged one (the ASL reads the numbers as written).
void check_values(ASL *asl, int m, int n) {
    char why[120] = "";
    auto bounds = [&](const double *lo, const double *up, int count, const char *what) {
        for (int i = 0; i < count && !why[0]; ++i)
            if (std::isnan(lo[i]) || std::isnan(up[i]) || lo[i] == inf || up[i] == -inf)
                Snprintf(why, sizeof why, "%s %d has a bound that is not a number or is infinite on the wrong side",
                         what, i);
    };
    auto finite = [&](const double *v, int count, const char *what) {
        for (int i = 0; v && i < count && !why[0]; ++i)
            if (!std::isfinite(v[i])) Snprintf(why, sizeof why, "the %s of entry %d is not a finite number", what, i);
    };
    bounds(LUv, Uvx, n, "variable");
    bounds(LUrhs, Urhsx, m, "constraint");
    for (int i = 0; i < n_con && !why[0]; ++i)
        for (cgrad *cg = Cgrad[i]; cg && !why[0]; cg = cg->next)
            if (!std::isfinite(cg->coef))
                Snprintf(why, sizeof why, "a coefficient of constraint %d is not a finite number", i);
    for (int o = 0; o < n_obj && !why[0]; ++o) {
        for (ograd *og = Ograd[o]; og && !why[0]; og = og->next)
            if (!std::isfinite(og->coef))
                Snprintf(why, sizeof why, "a coefficient of objective %d is not a finite number", o);
        if (!why[0] && !std::isfinite(objconst_ASL(asl, o)))
            Snprintf(why, sizeof why, "the constant of objective %d is not a finite number", o);
    }
    finite(X0, n, "primal initial value");
    finite(pi0, m, "dual initial value");
    if (why[0]) {
        Fprintf(Stderr, "bad file %s: %s\n", filename, why);
        mainexit_ASL(1);
    }
}

// Reads the header and refuses a problem with complementarity constraints (result 600
// in the .sol file); the counts m, n and nz come back, the file stays open for the read.
FILE *read_header(ASL *asl, char *stem, int &m, int &n, int &nz) {
    if (!stem) usage_ASL(&Oinfo, 1);
    set_cur_ASL(asl);
    want_xpi0 = 3;
    fint M = 0, N = 0, NO = 0, NZ = 0, MXROW = 0, MXCOL = 0;
    FILE *nl = jac_dim_ASL(asl, stem, &M, &N, &NO, &NZ, &MXROW, &MXCOL, static_cast<ftnlen>(std::strlen(stem)));
    m = M;
    n = N;
    nz = NZ;
    if (n_cc > 0) {
        char msg[1024];
        Snprintf(msg, sizeof msg, "%s: %s contains complementarity constraints.", Oinfo.bsname, filename);
        solve_code = 600;
        if (write_result(asl, msg, nullptr, nullptr)) mainexit_ASL(2);
        mainexit_ASL((amplflag || (Oinfo.wantsol & 1)) ? 0 : 4);
    }
    return nl;
}

// Flags quadratic (an objective of degree 2 and no nonlinear constraints) and lincons.
// `degree` is the objective's degree as the check of the file found it (-1: not found,
// and then the file is read again to learn it).
void problem_type(ASL *asl, const char *stem, LP *lp, int degree) {
    if (nlc == 0) {
        no_nonlin_cons = 1;
        if (nlo > 0 && opts.objno > 0 && opts.objno <= n_obj &&
            (degree >= 0 ? degree : objective_degree(asl, stem, opts.objno - 1)) == 2) {
            lp->quadratic = 1;
            if (opts.outlev != 0) {
                Printf("It's a QP.\n");
                need_nl = 0;
            }
        }
    }
    lp->lincons = no_nonlin_cons ? 1 : 0;
}

// The linear objective, its constant and the sense; an objective number outside the
// problem's objectives means no objective.
void objective_into(ASL *asl, LP *lp, int n) {
    lp->c = static_cast<double *>(mymalloc_ASL(static_cast<size_t>(n > 0 ? n : 1) * sizeof(double)));
    for (int j = 0; j < n; ++j) lp->c[j] = 0.0;
    lp->f = 0.0;
    if (opts.objno <= 0 || opts.objno > n_obj) {
        obj_no = -1;
        if (opts.sense == 0) opts.sense = -1;
        return;
    }
    const int o = opts.objno - 1;
    obj_no = o;
    for (ograd *og = Ograd[o]; og; og = og->next) lp->c[og->varno] = og->coef;
    if (opts.sense == 0) opts.sense = objtype[o] ? -1 : 1;
    lp->f = objconst_ASL(asl, o);
}

// Sizes, the bound arrays (the ASL's own) and the matrix arrays.
void matrix_arrays(ASL *asl, LP *lp, int m, int n, int nz) {
    auto ints = [](int count) {
        return static_cast<int *>(mymalloc_ASL(static_cast<size_t>(count > 0 ? count : 1) * sizeof(int)));
    };
    lp->A = static_cast<double *>(mymalloc_ASL(static_cast<size_t>(nz > 0 ? nz : 1) * sizeof(double)));
    lp->m = m;
    lp->n = n;
    lp->nz = nz;
    lp->b = LUrhs;
    lp->r = Urhsx;
    lp->l = LUv;
    lp->u = Uvx;
    lp->borrowed = BORROWED_B | BORROWED_R | BORROWED_L | BORROWED_U;
    lp->kA = ints(n + 1);
    for (int j = 0; j < n; ++j) lp->kA[j] = -1;
    lp->kA[n] = nz;
    lp->iA = ints(nz);
    lp->varsgn = ints(n);
    lp->kAt = ints(m + 1);
    lp->kAt[m] = nz;
}

// Rows, last to first: rows with only an upper side are negated; r becomes the range;
// the Jacobian entries fill A by their places.
void rows_into(ASL *asl, LP *lp, int m, int n, int nz) {
    int k = nz;
    for (int i = m - 1; i >= 0; --i) {
        double sign = 1.0;
        if (lp->b[i] <= negInfinity) {
            conscale_ASL(asl, i, -1.0, nullptr);
            sign = -1.0;
        }
        if (lp->r[i] >= Infinity)
            lp->r[i] = inf;
        else
            lp->r[i] = lp->r[i] - lp->b[i];
        if (lp->b[i] <= negInfinity) lp->b[i] = -inf;
        for (cgrad *cg = Cgrad[i]; cg; cg = cg->next) {
            const int p = cg->goff;
            // A column starts at its first place (a variable named twice in one row has two).
            if (lp->kA[cg->varno] < 0 || p < lp->kA[cg->varno]) lp->kA[cg->varno] = p;
            lp->iA[p] = i;
            lp->A[p] = sign * cg->coef;
            --k;
        }
        lp->kAt[i] = k;
    }
    for (int j = n - 1; j >= 0; --j)
        if (lp->kA[j] == -1) lp->kA[j] = lp->kA[j + 1];
}

// Columns: variables bounded above only are negated; infinite bounds become IEEE ones.
void columns_into(ASL *asl, LP *lp, int n) {
    for (int j = 0; j < n; ++j) {
        lp->varsgn[j] = 1;
        if (lp->l[j] <= negInfinity && lp->u[j] < Infinity) {
            varscale_ASL(asl, j, -1.0, nullptr);
            lp->c[j] = -lp->c[j];
            for (int p = lp->kA[j]; p < lp->kA[j + 1]; ++p) lp->A[p] = -lp->A[p];
        }
        if (lp->l[j] <= negInfinity) lp->l[j] = -inf;
        if (lp->u[j] >= Infinity) lp->u[j] = inf;
    }
    const int nint = nbv + niv + nlvbi + nlvci + nlvoi;
    if (nint != 0) {
        Printf("ignoring integrality of %d variables\n", nint);
        need_nl = 0;
    }
}

// The Lagrangian's scale and the initial guesses the file gives (unless ignored).
void initial_guesses(ASL *asl, LP *lp, int m, int n) {
    // The solver's multipliers are the negatives of the ASL's once the Lagrangian is scaled
    // by -sense (the ASL scales the given duals by that factor as well).
    lagscale_ASL(asl, -static_cast<double>(opts.sense), nullptr);
    if (opts.ignore_initsol != 0) return;
    if (pi0) {
        lp->y = pi0;
        lp->borrowed |= BORROWED_Y;
        for (int i = 0; i < m; ++i) lp->y[i] = -lp->y[i];
    }
    if (opts.zero_initsol != 0) {
        lp->x = static_cast<double *>(std::calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(double)));
        if (!lp->x && n >= 1) {
            Printf("CALLOC(kp->x,N=%d,double): cannot allocate space", n);
            mainexit_ASL(1);
        }
    } else if (X0) {
        lp->x = X0;
        lp->borrowed |= BORROWED_X;
    }
}

} // namespace

int amplin(ASL *asl, char *stem, LP *lp) {
    int m = 0, n = 0, nz = 0;
    FILE *nl = read_header(asl, stem, m, n, nz);
    const int degree = check_nl(asl);
    pfgh_read_ASL(asl, nl, 0x10006C);
    check_gradients(asl, n, nz);
    check_values(asl, m, n);
    problem_type(asl, stem, lp, degree);
    objective_into(asl, lp, n);
    matrix_arrays(asl, lp, m, n, nz);
    rows_into(asl, lp, m, n, nz);
    columns_into(asl, lp, n);
    initial_guesses(asl, lp, m, n);
    return 0;
}

void update_kp(LP *lp) {
    lp->inftol = opts.inftol;
    lp->sf_req = opts.sigfig;
    lp->verbose = opts.outlev;
    lp->max = opts.sense == 0 ? 1 : opts.sense;
    lp->itnlim = opts.iterlim;
    lp->timlim = opts.timlim;
    lp->inftol2 = opts.inftol2;
    lp->mufactor = opts.mufactor;
    lp->pred_corr = opts.pred_corr;
    lp->steplen = opts.steplen;
    lp->epssol = opts.epssol;
    lp->epsnum = opts.epsnum;
    lp->epsdiag = opts.epsdiag;
    lp->stablty = opts.stablty;
    lp->method = opts.method;
    lp->dense = opts.dense;
    lp->pdf = opts.pdf;
    lp->bndpush = opts.bndpush;
    lp->honor_bnds = opts.honor_bnds;
    lp->honor_bnds_init = opts.honor_bnds_init;
    lp->convex = opts.convex;
    lp->sdp = opts.sdp;
    lp->penalty = opts.penalty;
    // MPS set names: at most 10 characters and a terminating NUL.
    auto name10 = [](char *field, const char *setting) {
        if (setting) {
            std::strncpy(field, setting, 10);
            field[10] = '\0';
        } else {
            field[0] = '\0';
        }
    };
    name10(lp->obj, opts.obj);
    name10(lp->rhs, opts.rhs);
    name10(lp->ranges, opts.ranges);
    name10(lp->bounds, opts.bounds);
}

} // namespace orva
