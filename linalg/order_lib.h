// Elimination orders from ordering libraries (internal to linalg/).
#pragma once

namespace orva::detail {

struct factor_ws;

// Orders the graph of K (N nodes, the first n of them columns; node v's neighbours are
// nbrs[v][0 .. degree[v])) keeping every tier-0 node before every tier-1 node: method 3
// by constrained approximate minimum degree, method 4 by that for tier 0 and nested
// dissection for tier 1.  Leaves in W what every ordering leaves: perm, iperm, kAAt,
// iAAt (rows as node numbers), lnz, snode, nsuper, tmpsiz and window.
void order_by_library(factor_ws &W, int N, int n, const int *degree, int *const *nbrs, const int *tier,
                      int method);

// The structure of L, the supernodes, tmpsiz and the dense window for the order in
// W.perm and W.iperm.
void structure_of_order(factor_ws &W, int N, int n, const int *degree, int *const *nbrs);

} // namespace orva::detail
