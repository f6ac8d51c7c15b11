// Helpers shared by the tests: building small lp records from dense data and running
// the programs of the build.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lp/error.h"
#include "lp/lp.h"

namespace orva::testing {

inline constexpr double inf = __builtin_inf();

// A small problem in dense form; empty vectors mean "leave absent" (null in the record).
struct dense_problem {
    int m = 0, n = 0;
    std::vector<std::vector<double>> A;  // m rows of n values; zeros are not stored
    std::vector<double> b, r, c, l, u;
    std::vector<std::vector<double>> Q;  // n x n, symmetric; empty: no Q
    double f = 0.0;
};

// A record from openlp() filled with the problem (every array the record's own block).
LP *make_lp(const dense_problem &p);

struct run_result {
    int status = -1;     // exit status, or -1 when the program did not exit normally
    std::string out;     // standard output
    std::string err;     // standard error
};

// Runs a shell command line with the given standard input; captures both outputs.
run_result run(const std::string &cmdline, const std::string &input = "");

// Path of a program of the build (ORVA_BIN from the environment, else the configured
// build folder).
std::string bin(const std::string &program);

// A fresh empty folder for a test's files, removed when the test program ends (kept
// when ORVA_KEEP_SCRATCH is set).
std::string scratch_dir(const std::string &tag);

// The library error that `body` throws, or nothing when it returns.
inline std::optional<error> thrown_by(const std::function<void()> &body) {
    try {
        body();
    } catch (const error &e) {
        return e;
    }
    return std::nullopt;
}

// Whether the public test data is present (../shared/data next to the project).
bool have_shared_data();
std::string shared_data(const std::string &rel);

} // namespace orva::testing
