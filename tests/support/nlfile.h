// Writing small AMPL .nl problem files (the ASCII "g" format) for the tests.
//
// Expressions are given in the format's own prefix notation, one token per line, e.g.
// "o2\nv0\nv1\n" for x0*x1 ("o0" +, "o1" -, "o2" *, "o3" /, "o5" ^, "o16" unary -,
// "o43" log, "o44" exp, "o41" sin; "n2.5" a constant, "v3" variable 3).  Variables that
// appear in an expression must be the leading ones: set `nnl` to their number.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orva::testing {

struct nl_row {
    std::map<int, double> lin;   // linear coefficients
    std::string expr;            // nonlinear part ("" for a linear row); such rows come first
    double lo = -__builtin_inf(), up = __builtin_inf();
    int complements = -1;        // >= 0: complementarity with this variable
};

struct nl_objective {
    std::map<int, double> lin;
    std::string expr;            // nonlinear part, or a constant "n5" for the objective constant
    bool maximize = false;
};

struct nl_model {
    int n = 0;
    int nnl = 0;                 // number of leading variables that appear nonlinearly
    std::vector<nl_row> rows;
    std::vector<nl_objective> objs;
    std::vector<std::pair<double, double>> bounds;  // per variable; empty: all free
    std::vector<std::pair<int, double>> x0, y0;     // initial guesses (sparse)
    int nbv = 0, niv = 0;        // linear binary / integer variables (counted, not reordered)
};

// The text of the .nl file.
std::string nl_text(const nl_model &p);
// The same problem in the binary form (this machine's byte order, or with other_order the
// opposite one, stated in the header), converted from the text that nl_text writes:
// segment letters and node types stay bytes, integers become 32-bit, numbers doubles,
// bound types their digit.
std::string nl_binary(const std::string &text, bool other_order = false);
// Writes dir/stem.nl; returns the stem path (dir/stem).
std::string write_nl(const std::string &dir, const std::string &stem, const nl_model &p);

} // namespace orva::testing
