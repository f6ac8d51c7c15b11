// Checks of an .nl file before the ASL reads it.  The ASL trusts the counts of the
// header and the indices of the segments: a damaged file makes it write outside its
// arrays.  These checks refuse such a file with a message instead.
#pragma once

#include <cstddef>
#include <cstdio>

namespace orva {

// The counts of an .nl header, as the ASL has read them.
struct nl_counts {
    long long vars, cons, objs, lcons;
    long long nl_cons, nl_objs, nlv_c, nlv_o, nlv_b;
    long long net_vars, n_funcs;
    long long bin_vars, int_vars, nlv_b_int, nlv_c_int, nlv_o_int;
    long long jac_nz, grad_nz;
    long long com_b, com_c, com_o, com_c1, com_o1;
};

// The degree of one objective's nonlinear expression (the O segment, with the defined
// variables it uses), found by the check on its way through the file: 0 constant, 1 linear,
// 2 quadratic, 3 anything else, as the ASL's reader of quadratic problems classifies the
// expression; -1 when the check could not tell (it stopped before, or met a form whose
// reading it does not follow).
struct nl_degree {
    long long objective = -1;  // the objective wanted (-1: none)
    int value = -1;
};

// Whether the header's counts are consistent with each other and with a file of
// `bytes` bytes; on failure `why` holds the reason.
bool nl_header_ok(const nl_counts &c, long long bytes, char *why, std::size_t len);

// Scans the segments of a text .nl file (f at its start): every index names an existing
// constraint, objective, variable or defined variable, every count matches what follows,
// and the Jacobian entries match the column counts of the k segment.  Returns 0 when
// the file passes, else the number of the first offending line (why: the reason).  With
// `deg`, the degree of its objective comes back there.
long long nl_segments_check(std::FILE *f, const nl_counts &c, char *why, std::size_t len,
                            nl_degree *deg = nullptr);

// The same checks on a binary .nl file (in either IEEE byte order), as far as they go: a
// part the check does not read (a string, a function call, a piecewise-linear term) ends
// it with the file accepted.  Returns -1 when the file passes, else the byte offset at
// which the fault was found.
long long nl_binary_check(std::FILE *f, const nl_counts &c, char *why, std::size_t len,
                          nl_degree *deg = nullptr);

} // namespace orva
