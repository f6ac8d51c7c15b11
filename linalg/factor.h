// Sparse LDL' factorization of the reduced (quasi-definite) system
//
//     K = [ -(max*Q + Dn')   A' ]     columns first (n), then rows (m),
//         [       A         Dm' ]
//
// with Dn'_j = max(Dn[j] + pert_primal, epsdiag) and Dm'_i = max(Dm[i] + pert_dual, epsdiag),
// and the solves with it.  The work space is one set per process: the first inv_num
// orders the matrix and builds the structure of L, later calls refill the numbers,
// inv_clo releases everything.
#pragma once

namespace orva {

struct LP;

// Factors K for the record's current A, Q, pert_primal and pert_dual.
void inv_num(LP *lp, const double *Dn, const double *Dm);
// 1.1 times the largest pivot among positions p < a+b whose node is a column (perm[p] < b);
// -inf when there is none, +inf when a+b <= 0.
double getpertval(int a, int b);
// Releases the factorization work space.
void inv_clo();
// Solves K [x; y] = [bx; by] with iterative refinement; x overwrites bx, y overwrites by.
void solve(LP *lp, const double *Dn, const double *Dm, double *bx, double *by);

} // namespace orva
