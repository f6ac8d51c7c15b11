// The lp record: the one structure through which every part of the solver meets.
//
// It holds the problem (sizes, the constraint matrix by columns, right-hand sides,
// ranges, bounds, the objective and its quadratic part, labels), every setting of
// the method, the current iterate, the report of the current iteration and the
// replaceable hooks.  Rows read b[i] <= (A x)[i] <= b[i] + r[i]; bounds l <= x <= u;
// the objective max*(f + c'x + x'Qx/2) is minimised.  Infinite values are IEEE
// infinities.  Matrices are stored by columns: values, 0-based row indices and
// column starts (one more than the number of columns).
#pragma once

namespace orva {

struct LP;

// Hook signatures.
using st_rule_fn = int (*)(LP *);           // 0 converged, > 0 stop with that code, < 0 go on
using init_fn = void (*)(LP *);             // initial point
using nl_init_fn = int (*)(LP *);           // nonlinear set-up
using nl_update_fn = int (*)(LP *, int);    // re-linearise at x (flag 1: evaluate functions too)
using nl_update_fg_fn = int (*)(LP *);      // evaluate objective and rows at a candidate x
using nl_close_fn = void (*)(LP *);         // end of the solve
using hook_fn = void (*)(LP *);             // per-iteration hook (never called)
using objval_fn = double (*)(LP *);         // unused evaluation slots
using objgrad_fn = void (*)(LP *);
using hessian_fn = void (*)(LP *);
using conval_fn = void (*)(double *rowval, double *x);
using congrad_fn = void (*)(double *A, double *At, double *x);

struct LP {
    int m;      // rows
    int n;      // columns
    int nz;     // stored entries of A
    double *A;  // values of A by columns
    int *iA;    // row index of each entry of A
    int *kA;    // column starts of A (n+1)
    double *b;  // lower side of each row
    double *c;  // linear objective
    double f;   // objective constant
    double *r;  // range of each row (0 equality, +inf one-sided)
    double *l;  // lower bounds
    double *u;  // upper bounds
    int *varsgn;
    char **rowlab;
    char **collab;
    int qnz;    // stored entries of Q (both triangles)
    double *Q;
    int *iQ;
    int *kQ;
    double *At; // transpose of A (A by rows), built by solvelp
    int *iAt;
    int *kAt;
    int *bndmark; // variable class: 1 free, 2 lower only, 4 upper only, 8 both
    int *rngmark; // row class: 1 equality or range, 2 one-sided, 4 free
    double *w;
    double *x;
    double *y;
    double *z;
    double *p;
    double *q;
    double *s;
    double *t;
    double *v;
    double *g;
    int max;          // 1 minimise, -1 maximise
    double inftol;
    double inftol2;
    double steplen;
    double mufactor;
    int pred_corr;
    int sf_req;
    int itnlim;
    double timlim;
    int verbose;
    double epssol;
    double epsnum;
    double epscdn;
    double epsdiag;
    double stablty;
    int method;  // ordering: 0 none, 1 minimum degree, 2 minimum local fill,
                 // 3 approximate minimum degree, 4 nested dissection, 5 minimum degree
                 // or, when it needs less than half the operations, nested dissection
    int dense;
    int pdf;     // ordering priority: 0 by the fill estimates, 1 primal, 2 dual,
                 // 3 the estimates' choice unless the other needs less than half the
                 // operations
    double bndpush;
    int honor_bnds;
    int honor_bnds_init;
    int convex;
    int quadratic;
    int lincons;
    int sdp;
    char name[15];
    char obj[11];
    char rhs[11];
    char ranges[11];
    char bounds[11];
    int *tier;
    char **param;
    int np;
    // Hooks, in slot order.
    st_rule_fn st_rule;
    init_fn init;
    nl_init_fn nl_init;
    nl_update_fn nl_update;
    nl_update_fg_fn nl_update_fg;
    nl_update_fg_fn nl_update_h;
    nl_close_fn nl_close;
    hook_fn hook;
    objval_fn objval;
    objgrad_fn objgrad;
    hessian_fn hessian;
    conval_fn conval;
    congrad_fn congrad;
    // Iteration report.
    int iter;
    double elaptime;
    double primal_inf;
    double dual_inf;
    int sigfig;
    double primal_obj;
    double dual_obj;
    double *R;   // row activities at x, written by the update hooks
    double *b0;  // b as it stood when the nonlinear set-up hook ran
    double pert_primal;
    double pert_dual;
    int sdpnum;
    int *sdpblock;
    double penalty;
    unsigned borrowed;  // BORROWED_* bits: arrays lent by the filler (below)
};

// Bits of LP::borrowed: arrays of the record that belong to the one who filled it (the
// AMPL driver lends the ASL's own b, r, l, u and the initial guesses x, y).  The library
// never resizes or frees a borrowed array; it has the record's length.
enum : unsigned {
    BORROWED_B = 1u << 0,
    BORROWED_R = 1u << 1,
    BORROWED_L = 1u << 2,
    BORROWED_U = 1u << 3,
    BORROWED_X = 1u << 4,
    BORROWED_Y = 1u << 5,
};

// Creates a record with its defaults and default hooks; never returns null.
LP *openlp();
// Releases a record and the factorization work space.
void closelp(LP *lp);
// Releases the record's p, q, s, t, v and g (made anew by the initial-point hook at every
// solve) and leaves them null.
void free_slack_vectors(LP *lp);

// Default hooks.
int nl_init_mps(LP *lp);
int nl_update_mps(LP *lp);
int nl_update_dummy(LP *lp, int flag);
void nl_close_mps(LP *lp);
void deflt_hook(LP *lp);
double objval_dummy(LP *lp);
void objgrad_dummy(LP *lp);
void hessian_dummy(LP *lp);
void conval_dummy(double *rowval, double *x);
void congrad_dummy(double *A, double *At, double *x);

// A data error: throws orva::error (lp/error.h) with the code and the text; the
// programs print "ORVA ERROR(code): text\n" and end with status 1.
[[noreturn]] void my_exit(int code, const char *text);
// Processor seconds used by the program.
double cputimer();

} // namespace orva
