// The primal-dual interior-point method and its default hooks.
#pragma once

#include <csignal>

namespace orva {

struct LP;

// Solves the problem held in the record; returns the result code (0..14, or a
// positive code of a caller's stopping rule).
int solvelp(LP *lp);

// Default initial-point hook: creates the iterate and pushes it away from its bounds.
void deflt_init(LP *lp);
// Least-squares start (keyword lsqinit): for a linear or quadratic problem without a
// guess, x nearest to the bounds' reference point that meets the rows and y with the
// least reduced costs, each from one solve with a common factorization; then slacks and
// duals shifted as two blocks into the interior, scaled to the data.  Any other problem
// gets the default start.
void lsq_init(LP *lp);
// The least-squares start with the rows' slacks at their own scale (keyword lsqrows): for
// a quadratic program in inequality form (free variables, one-sided rows) the rows'
// slacks are shifted and balanced as a block of their own, from the shift that moves x by
// a tenth of its scale where a unit shift would move it further.  Otherwise the
// least-squares start.
void lsq_rows_init(LP *lp);
// Default stopping rule: -1 go on, 0 optimal, 1/3/4 blow-up verdicts, 6 user stop.
int deflt_st_rule(LP *lp);
// The default rule's verdict on the iteration report (-1, 0, 1, 3 or 4), without asking
// about a pending interrupt: deflt_st_rule is this verdict followed by the terminal
// prompt.  A caller that stops on the interrupt flag its own way builds its rule on it.
int st_verdict(LP *lp);
// SIGINT handler installed by solvelp: only raises the interrupt flag.
void handler(int sig);

// Set by handler(), read (and cleared on a "no") by deflt_st_rule.
extern volatile std::sig_atomic_t interrupted;

// Messages of the result codes 0..14.
extern const char *const result_messages[15];

} // namespace orva
