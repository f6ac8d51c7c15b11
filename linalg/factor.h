// The entry points of the factorization: thin calls on the current instance of
// linalg/factorization.h (one process-wide object, or the solve's own while solvelp runs),
// whose header states the contract.
//
// Their behaviour, in the terms of the system's description: the first inv_num (or the
// first after inv_clo, or after the record's sizes changed) analyses the pattern of A
// and Q, copying the factorization's settings from the record; every inv_num factors K
// for the record's current values; solve and getpertval read the last factor; inv_clo
// releases the work space.
#pragma once

#include "linalg/factorization.h"

namespace orva {

struct LP;

// Factors K for the record's current A, Q, pert_primal and pert_dual.
factor_status inv_num(LP *lp, const double *Dn, const double *Dm);
// 1.1 times the largest pivot among positions p < a+b whose node is a column (perm[p] < b);
// -inf when there is none, +inf when a+b <= 0.
double getpertval(int a, int b);
// Releases the current instance's work space (closelp calls it: during a solve, a
// record closed by a hook takes the solve's factor with it, which the next inv_num
// analyses again).
void inv_clo();
// Solves K [x; y] = [bx; by] with iterative refinement; x overwrites bx, y overwrites by.
// With no factor of a system of these sizes, bx and by stay as they are (no_factor).
solve_status solve(LP *lp, const double *Dn, const double *Dm, double *bx, double *by);

} // namespace orva
