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

// Fields, in order.  Each line: what it holds [its length] and who fills it.  "filler"
// is whoever fills the problem: the AMPL intake (driver/amplin.cpp), the MPS reader
// (files/readlp.cpp) or a program of its own; "openlp" means openlp sets it and nothing
// else changes it unless a setting does.  Every array is a heap block of the record's
// own, released by closelp, unless its BORROWED_* bit is set.
struct LP {
    int m;      // rows; filler (a hook may change it)
    int n;      // columns; filler (a hook may change it)
    int nz;     // stored entries of A; filler
    double *A;  // values of A by columns [nz]; filler, rewritten by the nonlinear hooks
    int *iA;    // row index of each entry of A [nz], ascending within a column after set-up; filler
    int *kA;    // column starts of A [n+1], kA[n] = nz; filler
    double *b;  // lower side of each row [m]; filler (null: zeros), rewritten by the nonlinear hooks
    double *c;  // linear objective [n]; filler, rewritten by the nonlinear hooks (null: zeros)
    double f;   // objective constant; filler, rewritten by the nonlinear hooks
    double *r;  // range of each row [m]: 0 equality, +inf one-sided; filler (null: zeros)
    double *l;  // lower bounds [n]; filler (null: zeros); solvelp turns those below -1e8 into -inf
    double *u;  // upper bounds [n]; filler (null: +inf); solvelp turns those above 1e8 into +inf
    int *varsgn;    // per-variable sign marker [n]; filler (1: as read; MPS: 2 for integer columns)
    char **rowlab;  // row labels [m], each its own block; filler, else "R%-7d" by solvelp
    char **collab;  // column labels [n], each its own block; filler, else "C%-7d" by solvelp
    int qnz;    // stored entries of Q (both triangles); filler, the nonlinear hooks
    double *Q;  // values of Q by columns [qnz]; filler, the nonlinear hooks (Hessian of the Lagrangian)
    int *iQ;    // row index of each entry of Q [qnz]; filler, the AMPL set-up hook (the ASL's)
    int *kQ;    // column starts of Q [n+1]; filler (null: none, made empty by solvelp), AMPL set-up hook
    double *At; // values of A by rows [nz]; solvelp set-up, rewritten by the nonlinear hooks
    int *iAt;   // column index of each entry of At [nz]; solvelp set-up
    int *kAt;   // row starts of At [m+1]; solvelp set-up
    int *bndmark; // variable class [n]: 1 free, 2 lower only, 4 upper only, 8 both; solvelp set-up
    int *rngmark; // row class [m]: 1 equality or range, 2 one-sided, 4 free; solvelp set-up
    // The iterate: x, y (an initial guess may be put there before the solve; the
    // solution is left there), w, z (kept by the initial-point hook when present), and
    // p, q, s, t, v, g (made anew by the initial-point hook at every solve).
    double *w;  // row slack of (w, v) [m]; initial-point hook, solvelp
    double *x;  // primal variables [n]; filler (guess) or initial-point hook, solvelp
    double *y;  // dual variables, one per row [m]; filler (guess) or initial-point hook, solvelp
    double *z;  // dual of the lower bound slack g [n]; initial-point hook, solvelp
    double *p;  // range slack of (p, q) [m]; initial-point hook, solvelp
    double *q;  // dual of p [m]; initial-point hook, solvelp
    double *s;  // dual of the upper bound slack t [n]; initial-point hook, solvelp
    double *t;  // upper bound slack u - x [n]; initial-point hook, solvelp
    double *v;  // dual of w [m]; initial-point hook, solvelp
    double *g;  // lower bound slack x - l [n]; initial-point hook, solvelp
    // Settings: openlp's defaults, set by the options (AMPL keywords, specs files);
    // solvelp resolves the automatic ones (-1) at set-up.
    int max;          // objective sense: 1 minimise, -1 maximise
    double inftol;    // feasibility tolerance
    double inftol2;   // second feasibility tolerance (blow-up test of the stopping rule)
    double steplen;   // fraction of the step to the boundary
    double mufactor;  // centering factor (-1: automatic)
    int pred_corr;    // 1 predictor-corrector, 0 predictor only (-1: automatic)
    int sf_req;       // significant figures required of the objectives' agreement
    int itnlim;       // iteration limit
    double timlim;    // processor-time limit in seconds
    int verbose;      // output level: 0 nothing, 1 iteration lines, 2 statistics, 3+ diagnostics
    double epssol;    // threshold factor of the solves at dependent positions
    double epsnum;    // dependent-pivot tolerance of the factorization
    double epscdn;    // conditioning tolerance (no option sets it; only the verbose-3 dump shows it)
    double epsdiag;   // floor of the reduced system's diagonal
    double stablty;   // weight of the ordering's tier penalty
    int method;       // ordering: 0 none, 1 minimum degree, 2 minimum local fill, 3 approximate
                      // minimum degree, 4 nested dissection, 5 minimum degree or, when it
                      // needs less than half the operations, nested dissection
    int dense;        // dense-node threshold of the ordering (-1: automatic)
    int pdf;          // ordering priority: 0 automatic, 1 primal, 2 dual, 3 the automatic
                      // one unless the other needs less than half the operations
    double bndpush;   // least initial distance from the bounds (-1: automatic)
    int honor_bnds;   // the step keeps x within its bounds (-1: automatic, off)
    int honor_bnds_init; // the initial point is moved within the bounds (1)
    int convex;       // 1: asserted convex (no perturbation search)
    int quadratic;    // 1: linear rows and a quadratic objective; AMPL intake, MPS reader, options
    int lincons;      // 1: no nonlinear rows; AMPL intake, options
    int sdp;          // 1: asserted a semidefinite program (steps shortened by block tests)
    char name[15];    // problem name (MPS NAME line); MPS reader
    char obj[11];     // MPS objective row name (10 characters and NUL); options, MPS reader
    char rhs[11];     // MPS right-hand-side set name; options, MPS reader
    char ranges[11];  // MPS RANGES set name; options, MPS reader
    char bounds[11];  // MPS BOUNDS set name; options, MPS reader
    int *tier;        // elimination classes of the ordering [n+m], 0 or 1; a caller (none in this system)
    char **param;     // MPS parameter strings [np], each its own block; MPS reader
    int np;           // count of param; MPS reader
    // Hooks, in slot order (defaults from openlp; the AMPL driver replaces the nl_ ones).
    // Never called by anything in this system: hook, nl_update_h, objval, objgrad and
    // hessian; conval and congrad only by MPS update routines of their own.
    st_rule_fn st_rule;             // once per iteration: 0 converged, > 0 stop, < 0 go on
    init_fn init;                   // once before the first iteration: the initial point
    nl_init_fn nl_init;             // once at set-up (result not examined)
    nl_update_fn nl_update;         // 1 at the initial point (and the eqqp test), 0 after each step
    nl_update_fg_fn nl_update_fg;   // after each candidate step; non-zero: not evaluable there
    nl_update_fg_fn nl_update_h;    // (never called)
    nl_close_fn nl_close;           // once at the end of the solve
    hook_fn hook;                   // (never called)
    objval_fn objval;               // (never called)
    objgrad_fn objgrad;             // (never called)
    hessian_fn hessian;             // (never called)
    conval_fn conval;               // (not on the solver's road)
    congrad_fn congrad;             // (not on the solver's road)
    // Iteration report, written by solvelp at the top of every iteration.
    int iter;           // number of the current iteration
    double elaptime;    // processor seconds at the end of the previous iteration
    double primal_inf;  // relative primal infeasibility
    double dual_inf;    // relative dual infeasibility
    int sigfig;         // significant figures to which the objectives agree
    double primal_obj;  // objective at x; the update hooks
    double dual_obj;    // dual objective
    double *R;   // row activities A x [m]; set-up hook (made), update hooks (filled)
    double *b0;  // b as it stood when the set-up hook ran [m]; set-up hook
    double pert_primal; // shift of the primal diagonal; the perturbation search of solvelp
    double pert_dual;   // shift of the dual diagonal (nothing changes it)
    int sdpnum;         // number of semidefinite blocks; solvelp from "sdpblocks.orva"
    int *sdpblock;      // order of each semidefinite block [sdpnum]; solvelp
    double penalty;     // penalty parameter (option; stored, read by nothing)
    unsigned borrowed;  // BORROWED_* bits: arrays lent by the filler (below); filler
};

// Bits of LP::borrowed: arrays of the record that belong to the one who filled it (the
// AMPL driver lends the ASL's own b, r, l, u, the initial guesses x, y and the structure
// of the Hessian iQ, kQ).  The library never resizes or frees a borrowed array; it has
// the record's length.
enum : unsigned {
    BORROWED_B = 1u << 0,
    BORROWED_R = 1u << 1,
    BORROWED_L = 1u << 2,
    BORROWED_U = 1u << 3,
    BORROWED_X = 1u << 4,
    BORROWED_Y = 1u << 5,
    BORROWED_IQ = 1u << 6,
    BORROWED_KQ = 1u << 7,
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
