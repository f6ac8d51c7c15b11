// The factorization benchmark's peer: MUMPS (sequential), the sparse LDL' that Ipopt
// uses for its KKT systems, built in when its development files are installed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orva::bench {

// A symmetric matrix of order n by the entries of its lower triangle (1-based, as the
// peer takes them; repeated entries are summed).
struct sym_triplets {
    int n = 0;
    std::vector<int> row, col;
    std::vector<double> val;
};

struct peer_result {
    bool ok = false;
    std::string what;           // why there is no result, when !ok
    double analysis_s = 0;      // processor seconds of the ordering and symbolic phase
    std::vector<double> times;  // processor seconds of each timed numeric factorization
    double flops = 0;           // the peer's own count for one factorization
    long long entries = 0;      // entries of its factors
};

// Whether the peer is built in.
bool peer_mumps_built();

// Factors K `reps` times with the peer. perm_in: the pivot order as the position
// (1-based) of each variable, or empty for the peer's own ordering. `between` runs
// after each timed factorization (the benchmark's dense reference).
peer_result peer_mumps(const sym_triplets &K, const std::vector<int> &perm_in, int reps,
                       const std::function<void()> &between);

} // namespace orva::bench
