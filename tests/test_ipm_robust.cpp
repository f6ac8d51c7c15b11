// Robustness of the iteration: a direction or an iterate that is not a number ends the
// solve at the last sound point with "CURRENT POINT CANNOT BE IMPROVED" instead of
// iterating on NaN; a stop that returns to the saved iterate returns its objective
// values too.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "ipm/ipm.h"
#include "ipm_testutil.h"
#include "lp/lp.h"
#include "testlp.h"

using namespace orva;
using namespace orva::testing;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// What the stopping rule saw at each report.
struct report {
    std::vector<double> x, y;
    double obj, dual_obj;
};
std::vector<report> seen;
int record_rule(LP *lp) {
    seen.push_back({{lp->x, lp->x + lp->n}, {lp->y, lp->y + lp->m}, lp->primal_obj, lp->dual_obj});
    return deflt_st_rule(lp);
}

// After the step of iteration `spoil_at` the update hook spoils one number of the record.
int spoil_at = 0;
enum class spoil { rhs, x } what;
int spoiling_update(LP *lp, int flag) {
    if (flag == 0 && lp->iter == spoil_at) {
        if (what == spoil::rhs)
            lp->b[0] = NaN;  // the next residuals, and so the direction, are NaN
        else
            lp->x[0] = NaN;  // the iterate itself
    }
    return 0;
}

LP *spoiled_lp(spoil w, int at) {
    seen.clear();
    what = w;
    spoil_at = at;
    LP *lp = make_lp(small_lp());
    lp->verbose = 1;
    lp->st_rule = record_rule;
    lp->nl_update = spoiling_update;
    return lp;
}

std::string solve_log(LP *lp, int *rc) {
    ::testing::internal::CaptureStdout();
    *rc = solvelp(lp);
    return ::testing::internal::GetCapturedStdout();
}

bool all_finite(const double *v, int len) {
    for (int k = 0; k < len; ++k)
        if (!std::isfinite(v[k])) return false;
    return true;
}

} // namespace

TEST(IpmRobust, NaNDirectionStopsAtTheCurrentPoint) {
    LP *lp = spoiled_lp(spoil::rhs, 2);
    int rc;
    const std::string out = solve_log(lp, &rc);
    EXPECT_EQ(rc, 10);
    EXPECT_STREQ(result_messages[10], "CURRENT POINT CANNOT BE IMPROVED");
    // Iteration 3 reports the NaN residual, then no step is taken along its direction.
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(iteration_lines(out).size(), 3u) << out;
    EXPECT_EQ(lp->iter, 3);
    EXPECT_TRUE(std::isnan(lp->primal_inf));
    // The point stays the one reported at iteration 3, and every quantity is a number.
    for (int j = 0; j < 2; ++j) EXPECT_EQ(lp->x[j], seen[2].x[j]);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(lp->y[i], seen[2].y[i]);
    EXPECT_TRUE(all_finite(lp->x, 2) && all_finite(lp->g, 2) && all_finite(lp->z, 2));
    EXPECT_TRUE(all_finite(lp->y, 2) && all_finite(lp->w, 2) && all_finite(lp->v, 2));
    closelp(lp);
}

TEST(IpmRobust, NaNIterateGoesBackToTheSavedPoint) {
    LP *lp = spoiled_lp(spoil::x, 2);
    int rc;
    const std::string out = solve_log(lp, &rc);
    EXPECT_EQ(rc, 10);
    // The NaN point is never reported: two lines, then the point of the second one.
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(iteration_lines(out).size(), 2u) << out;
    EXPECT_EQ(out.find("nan"), std::string::npos) << out;
    for (int j = 0; j < 2; ++j) EXPECT_EQ(lp->x[j], seen[1].x[j]);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(lp->y[i], seen[1].y[i]);
    EXPECT_EQ(lp->primal_obj, seen[1].obj);
    EXPECT_EQ(lp->dual_obj, seen[1].dual_obj);
    closelp(lp);

    // A NaN initial point: nothing to go back to, no iteration is made on it.
    LP *lp0 = make_lp(small_lp());
    lp0->verbose = 0;
    lp0->init = [](LP *p) {
        deflt_init(p);
        p->z[1] = NaN;
    };
    EXPECT_EQ(solvelp(lp0), 10);
    closelp(lp0);
}

namespace {
int stop_at_three(LP *lp) {
    record_rule(lp);
    return lp->iter == 3 ? 1 : -1;
}
} // namespace

TEST(IpmRobust, StopWithAPositiveCodeReturnsTheObjectivesOfTheSavedPoint) {
    seen.clear();
    LP *lp = make_lp(small_lp());
    lp->verbose = 0;
    lp->st_rule = stop_at_three;
    EXPECT_EQ(solvelp(lp), 1);
    ASSERT_EQ(seen.size(), 3u);
    // The point of iteration 2 comes back, and with it the objective values reported
    // for it, not those of the point that was left.
    for (int j = 0; j < 2; ++j) EXPECT_EQ(lp->x[j], seen[1].x[j]);
    EXPECT_EQ(lp->primal_obj, seen[1].obj);
    EXPECT_EQ(lp->dual_obj, seen[1].dual_obj);
    EXPECT_NE(seen[1].obj, seen[2].obj);
    closelp(lp);
}
