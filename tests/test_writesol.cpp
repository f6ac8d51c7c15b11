#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "files/mps.h"
#include "lp/alloc.h"
#include "lp/lp.h"
#include "testlp.h"

using namespace orva;
using orva::testing::dense_problem;
using orva::testing::make_lp;
using orva::testing::thrown_by;

namespace {

constexpr double inf = orva::testing::inf;

std::string report(const LP *lp) {
    const std::string path = orva::testing::scratch_dir("sol") + "/out.sol";
    EXPECT_EQ(writesol(lp, path.c_str()), 0);
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

double *vec(std::initializer_list<double> v) {
    double *p = xmalloc<double>("v", "n", static_cast<long long>(v.size()));
    int k = 0;
    for (double x : v) p[k++] = x;
    return p;
}

} // namespace

TEST(WriteSol, ColumnAndRowLinesWithTheirFlags) {
    dense_problem p;
    p.m = 4;
    p.n = 5;
    p.A = {{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {1, 1, 0, 0, 0}};
    p.b = {1, -inf, 0, 0};
    p.r = {0, inf, 2, inf};
    p.l = {0, 0, -inf, -inf, 1};
    p.u = {inf, inf, 3, inf, 2};
    LP *lp = make_lp(p);
    lp->inftol = 1e-6;  // flag tolerance 1.2e-6
    // x0 slightly below 0 (within tolerance), x1 clearly below; x2 bounded above only;
    // x3 free; x4 above its upper bound.
    lp->x = vec({1 + 1e-5, -2e-6, 4, -7, 2.5});
    lp->z = vec({0.5, 0.25, 9, 0, 0});
    lp->s = vec({0, 0, 1.5, 0, 0});
    lp->y = vec({1, 2, 3, 4});
    lp->x[0] = -1e-7;
    // Row 0 (equality, b = 1) has activity -1e-7: violated.  Row 1 is free with a large
    // activity: never flagged.  Row 2 ranged [0, 2] with activity 4: flagged.
    const std::string text = report(lp);
    EXPECT_EQ(text,
              "COLUMNS SECTION\n"
              "   index       label  primal_val reduced_cst    lower_bd    upper_bd   OB_flag\n"
              "       0    C0        -1.000000e-07   5.000000e-01   0.000000e+00    Infinity\n"
              "       1    C1        -2.000000e-06   2.500000e-01   0.000000e+00    Infinity      OB\n"
              "       2    C2         4.000000e+00   1.500000e+00   -Infinity   3.000000e+00      OB\n"
              "       3    C3        -7.000000e+00   0.000000e+00   -Infinity    Infinity\n"
              "       4    C4         2.500000e+00   0.000000e+00   1.000000e+00   2.000000e+00      OB\n"
              "ROWS SECTION\n"
              "   index       label    dual_val  row_actvty rght_hnd_sd       range   OB_flag\n"
              "       0    R0         1.000000e+00  -1.000000e-07   1.000000e+00   0.000000e+00     OB\n"
              "       1    R1         2.000000e+00  -2.000000e-06           -inf    Infinity\n"
              "       2    R2         3.000000e+00   4.000000e+00   0.000000e+00   2.000000e+00     OB\n"
              "       3    R3         4.000000e+00  -2.100000e-06   0.000000e+00    Infinity     OB\n"
              "ENDOUT\n");
    closelp(lp);
}

TEST(WriteSol, UnopenablePathIsError2) {
    LP *lp = make_lp(dense_problem{});
    const std::optional<error> e = thrown_by([lp] { writesol(lp, "/nonexistent/dir/out.sol"); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->output(), "ORVA ERROR(2): cannot open file /nonexistent/dir/out.sol\n\n");
    closelp(lp);
}
