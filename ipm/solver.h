// State of one solvelp call, shared by the phases of the method (set-up, directions,
// step, log).  Internal to ipm/.
//
// The phases never keep pointers into the lp record across a hook call: every phase
// function takes sizes, arrays and settings from the record when it starts, and the
// step loop takes them again after each call of the update-values hook, since a hook
// may replace any array of the record.
#pragma once

#include <array>

#include "linalg/factorization.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva::ipm {

// Class masks of the variables (bndmark) and rows (rngmark).
inline constexpr int FREE = 1, LOWER = 2, UPPER = 4, BOXED = 8;
inline constexpr int HAS_G = FREE | LOWER | BOXED;  // variables with g and z (0xb)
inline constexpr int HAS_T = FREE | UPPER | BOXED;  // variables with t and s (0xd)
inline constexpr int RANGE = 1, ONESIDED = 2, FREEROW = 4;
inline constexpr int HAS_W = RANGE | ONESIDED;      // rows with w and v (3)

// A slack of at least this size is the distance to a bound that no step of the method
// brings near: a hundredth of the magnitude from which a bound counts as infinite.
inline constexpr double FAR_SLACK = 1e6;
// Slacks and duals never go below this after a step.
inline constexpr double FLOOR = 1e-30;

// Squared norms of the residual pieces, taken by residuals().
struct resid_sums {
    double rho2 = 0;    // |rho|^2, rows 1, 2
    double tau48 = 0;   // |tau|^2, variables 4, 8
    double alpha2 = 0;  // |alpha|^2, rows 1
    double nu28 = 0;    // |nu|^2, variables 2, 8
    double sigma2 = 0;  // |sigma|^2, all variables
    double tau1 = 0;    // |tau|^2, free variables
    double beta2 = 0;   // |beta|^2, one-sided rows
    double phi() const { return rho2 + tau48 + alpha2 + nu28; }
    double delta() const { return sigma2 + tau1 + beta2; }
};

// Measures of an iterate, taken at the top of every iteration.
struct measures {
    double pmax = 0, dmax = 0;   // largest primal and dual violations
    double bnorm2 = 0;           // |b|^2 over rows 1, 2
    double cqnorm = 0;           // |c + Qx|
    // What separates the objective from the dual function of the multipliers,
    // max (f - x'Qx/2) + b'y - r'q + l'z - u's: the pairs' complementarity, x times the
    // dual residual and y times the primal one (equality and free rows included), each
    // term counted by its size so that none can hide another.  It vanishes only where
    // all three do.
    double gap = 0;
    double gap_dual = 0;  // its part x times the dual residual
};

// A work vector of the solve: a block allocated with its name in the failure message
// ("MALLOC(dx,n=%d,double)") and released with the solve's state.
using vec = owned<double>;

struct run {
    LP *lp = nullptr;
    int m = 0, n = 0;  // sizes the work vectors were made for

    // The solve's own factorization: the entry points of linalg/factor.h work on it while
    // the solve runs (the initial-point hook's factorizations included).
    factorization fact;

    // Work vectors, owned by the solve, in allocation order (setup allocates them all,
    // zero-filled; they go when the run does).
    vec dw, dx, dy, dz, dp, dq, ds, dt, dv, dg;  // the direction
    vec w0, x0, y0, z0, p0, q0, s0, t0, v0, g0;  // the saved iterate
    vec alpha, beta, rho;                        // row residuals
    vec sigma, tau, nu;                          // column residuals
    vec gammaz, gammaw, gammas, gammaq;          // complementarity terms of the pairs
    vec Dn, Dm;                                  // diagonals of the reduced system
    vec Qx, eigv;                                // Q x; inverse-iteration vector
    vec keep;  // adaptive corrector: a direction and the top residuals (made on first use)

    // Class counts.
    int nfree = 0, nlower = 0, nupper = 0, nboxed = 0;
    int neq = 0, nineq = 0, nranged = 0;
    double npairs = 0;

    int eqqp = 0;

    // Norm of b (rows 1, 2), taken at the first iteration and kept.
    double bnorm = 0;
    bool have_bnorm = false;
    // |c + Qx| of the current iteration.
    double cqnorm = 0;
    // Residual sums at the top of the iteration.
    resid_sums top;

    // Centering of the final direction and the predictor's ratios.
    double mu = 0;
    bool corrected = false;      // the final direction is the corrector's
    double ap_pred = 0, ad_pred = 0;  // ratios of the predictor

    int pcount = 0;  // perturbation count of the last factorization ("P")
    int mcount = 0;  // step-halving count of the last step ("M")
    // Watch over the method without the corrector (see step.cpp): consecutive short
    // steps, the relative gap a run of nearly feasible iterations started from and their
    // count, and whether a stall has switched the corrector on (once per solve).
    int short_steps = 0;
    double gap_ref = 0;
    int gap_iters = 0;
    bool corrector_switched_on = false;
    // Watch over the dual residual at a feasible point (see solvelp.cpp): the relative gap
    // a run of such iterations started from, and their count.
    double dual_gap_ref = 0;
    int dual_gap_iters = 0;
    bool stepped = false;  // a saved iterate exists
    // Objective values reported for the saved iterate; they go back with it.
    double obj0 = 0, dual_obj0 = 0;
};

// The table of the iterate's quantities, by side.  Each side (the variables, classed by
// bndmark, n entries; the rows, classed by rngmark, m entries) has one quantity that
// every entry has (x or y) and two complementary pairs, each a primal slack and its dual
// that exist for the entries whose class has the pair's mask.  Every loop that walks the
// iterate by class (save, restore, move, barrier, ratio test, finite checks) reads it
// from this table: the record's array, the direction's and the saved copy of each.
struct pair_slot {
    int mask;                            // classes that have the pair
    double *LP::*slack, *LP::*dual;      // the record's arrays
    vec run::*dslack, run::*ddual;       // their directions
    vec run::*slack0, run::*dual0;       // their saved values
};
struct side_slots {
    bool rows;                           // rows (m, rngmark) or variables (n, bndmark)
    double *LP::*var;                    // x or y
    vec run::*dvar, run::*var0;
    bool var_primal;                     // x moves with the primal step, y with the dual
    pair_slot pairs[2];
};
inline constexpr side_slots column_side{
    false, &LP::x, &run::dx, &run::x0, true,
    {{HAS_G, &LP::g, &LP::z, &run::dg, &run::dz, &run::g0, &run::z0},
     {HAS_T, &LP::t, &LP::s, &run::dt, &run::ds, &run::t0, &run::s0}}};
inline constexpr side_slots row_side{
    true, &LP::y, &run::dy, &run::y0, false,
    {{HAS_W, &LP::w, &LP::v, &run::dw, &run::dv, &run::w0, &run::v0},
     {RANGE, &LP::p, &LP::q, &run::dp, &run::dq, &run::p0, &run::q0}}};

// A pair's arrays, taken for one pass over its side (the record's may change at a hook
// call: take them again after one).
struct pair_arrays {
    int mask;
    double *slack, *dual, *dslack, *ddual, *slack0, *dual0;
};
inline std::array<pair_arrays, 2> pair_arrays_of(const run &R, const side_slots &S) {
    std::array<pair_arrays, 2> a{};
    for (int k = 0; k < 2; ++k) {
        const pair_slot &P = S.pairs[k];
        a[k] = {P.mask, R.lp->*P.slack, R.lp->*P.dual, (R.*P.dslack).get(), (R.*P.ddual).get(),
                (R.*P.slack0).get(), (R.*P.dual0).get()};
    }
    return a;
}

// Entries and classes of a side.
inline int side_len(const run &R, const side_slots &S) { return S.rows ? R.m : R.n; }
inline const int *side_class(const run &R, const side_slots &S) {
    return S.rows ? R.lp->rngmark : R.lp->bndmark;
}

// Default label of row or column `index`: "R%-7d" or "C%-7d" in a buffer of its own.
char *default_label(char prefix, int index, const char *itemname);

// Set-up: completes and classifies the problem, allocates the work vectors, calls the
// set-up and initial-point hooks, runs the eqqp test.
void setup(run &R);

// Residuals rho, sigma, tau, nu, beta, alpha (and Qx) at the record's iterate.  With
// `meas` also the measures of the iterate (before the SDP adjustment of w).
resid_sums residuals(run &R, measures *meas);

// Diagonals, factorization with perturbation search, predictor and corrector
// directions.  Leaves the final direction in the d-vectors and its centering in R.mu.
// Returns false when the direction holds a value that is not a finite number (the
// factorization broke down); no step must then be taken along it.
bool directions(run &R);

// Whether every quantity of the iterate that the classes use is a finite number.
bool finite_iterate(const run &R);

// Ratio test of a direction: largest -(change)/(value) over the primal and dual
// positive quantities, starting from `start`.  `dy_terms` adds the -dy/y terms of the
// one-sided rows to the dual ratio.
void ratio_test(run &R, double start, bool dy_terms, double &ap, double &ad);

// Step of one iteration: unboundedness tests, step lengths, SDP shortening, saving the
// iterate, the step with merit control and the update hooks, the fall-back from the
// predictor-corrector method.  Returns 7 or 8 on unboundedness, 10 when no step along
// the direction can be evaluated (the iterate stays), else -1.
int take_step(run &R);

// Puts the saved iterate back, with the objective values reported for it.
void restore(run &R);

// Dumps of verbose 4 and 5.
void dump_data(run &R);
void dump_directions(run &R, bool labelled);

} // namespace orva::ipm
