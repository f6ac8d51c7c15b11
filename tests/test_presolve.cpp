// Presolve and postsolve: each reduction's round trip on a small problem, checked
// against a solve of the same problem without presolve, and what presolve decides alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cctype>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ipm/ipm.h"
#include "lp/lp.h"
#include "presolve/presolve.h"
#include "testlp.h"

using namespace orva;
using orva::testing::dense_problem;
using orva::testing::inf;
using orva::testing::make_lp;

namespace {

struct round_trip {
    const char *name;
    dense_problem p;
    int opts;
    std::vector<int> whys;  // reductions that must have been made
    bool unique_duals;      // the problem's duals are unique: compare them too
};

void PrintTo(const round_trip &t, std::ostream *os) { *os << t.name; }

int made(const prep *ps, int why) {
    int k = 0;
    for (const prep_pass &pp : ps->passes) k += pp.why[why];
    return k;
}

// A problem: rows b <= Ax <= b + r, costs c, bounds l and u (empty: 0 and +inf), Q.
dense_problem prob(int m, int n, std::vector<std::vector<double>> A, std::vector<double> b, std::vector<double> r,
                   std::vector<double> c, std::vector<double> l = {}, std::vector<double> u = {},
                   std::vector<std::vector<double>> Q = {}) {
    dense_problem p;
    p.m = m;
    p.n = n;
    p.A = std::move(A);
    p.b = std::move(b);
    p.r = std::move(r);
    p.c = std::move(c);
    p.l = std::move(l);
    p.u = std::move(u);
    p.Q = std::move(Q);
    return p;
}

LP *quiet(const dense_problem &p) {
    LP *lp = make_lp(p);
    lp->verbose = 0;
    return lp;
}

const std::vector<round_trip> &cases() {
    static const std::vector<round_trip> list = {
        // min x0 + 2x1 + 5x2 - x3: x0 + x1 + x2 >= 3, an empty row 0 >= -1, x2 fixed at 1,
        // x3 in no row with bounds [0, 4]: x = (2, 0, 1, 4).
        {"empty and fixed", prob(2, 4, {{1, 1, 1, 0}, {0, 0, 0, 0}}, {3, -1}, {inf, inf}, {1, 2, 5, -1}, {0, 0, 1, 0},
                                 {inf, inf, 1, 4}),
         PO_BASIC, {PW_EMPTYROW, PW_FIXEDCOL, PW_EMPTYCOL}, true},
        // min -x0 - x1: x0 + 2x1 <= 4 (as -x0 - 2x1 >= -4), the singleton x0 <= 3, the
        // redundant x0 + x1 >= -10: x = (3, 0.5), y = (0.5, 0.5, 0).
        {"singleton and redundant", prob(3, 2, {{-1, -2}, {-1, 0}, {1, 1}}, {-4, -3, -10}, {inf, inf, inf}, {-1, -1}),
         PO_BASIC,
         {PW_SINGLETON, PW_REDUNDANT}, true},
        // x0 + x1 <= 0 with x >= 0 forces both to 0; x2 meets x0 + x1 + x2 >= 1.  The
        // forcing row's dual is any value from 3 up.
        {"forcing", prob(2, 3, {{-1, -1, 0}, {1, 1, 1}}, {0, 1}, {inf, inf}, {-1, -2, 1}), PO_BASIC, {PW_FORCING, PW_FORCEDCOL},
         false},
        // 2x0 + 2x1 >= 6 is parallel to x0 + x1 >= 2 and tighter: x = (3, 0), y = (0, 0.5).
        {"duplicate", prob(2, 2, {{1, 1}, {2, 2}}, {2, 6}, {inf, inf}, {1, 2}), PO_BASIC, {PW_DUPLICATE}, true},
        // x2 free only in x0 + x1 + x2 = 4, x0 >= 1: x = (1, 0, 3), y = (0.5, 0).
        {"free column singleton", prob(2, 3, {{1, 1, 1}, {1, -1, 0}}, {4, -2}, {0, inf}, {1, 1, 0.5}, {1, 0, -inf}),
         PO_BASIC | PO_COLSING, {PW_FREECOL}, true},
        // x0 in [0, 10] only in x0 + x1 + x2 = 2 with x1 in [0.5, 1], x2 in [0, 1]:
        // x = (1.5, 0.5, 0).
        {"implied-free column singleton",
         prob(2, 3, {{1, 1, 1}, {0, 1, -1}}, {2, -0.5}, {0, inf}, {1, 3, 2}, {0, 0.5, 0}, {10, 1, 1}), PO_BASIC | PO_COLSING,
         {PW_IMPLFREE}, true},
        // x0 - x1 = 1 with x0 <= 2.5: x1 <= 1.5 holds at the optimum x = (2.5, 1.5, 1).
        {"doubleton", prob(2, 3, {{1, -1, 0}, {1, 1, 1}}, {1, 5}, {0, inf}, {2, 1, 3}, {0, 0, 0}, {2.5, inf, inf}),
         PO_BASIC | PO_DOUBLETON, {PW_DOUBLETON, PW_SUBSTCOL}, true},
        // A QP with x2 fixed at 1 inside Q and x3 in no row with only its own Q term.
        {"QP with a fixed column in Q",
         prob(1, 4, {{1, 1, 0, 0}}, {3}, {inf}, {-1, -1, 0, -4}, {-inf, -inf, 1, 0}, {inf, inf, 1, 1},
              {{2, 1, 0, 0}, {1, 2, 1, 0}, {0, 1, 2, 0}, {0, 0, 0, 2}}),
         PO_ALL, {PW_FIXEDCOL, PW_EMPTYCOL}, true},
    };
    return list;
}

class PresolveRoundTrip : public ::testing::TestWithParam<round_trip> {};

} // namespace

TEST_P(PresolveRoundTrip, RestoresTheSolutionOfTheProblemAsGiven) {
    const round_trip &t = GetParam();
    LP *plain = quiet(t.p);
    ASSERT_EQ(solvelp(plain), 0);
    ASSERT_TRUE(chksol(plain).ok);

    LP *lp = quiet(t.p);
    prep *ps = presolve(lp, t.opts);
    ASSERT_EQ(ps->status, 0);
    for (int why : t.whys) EXPECT_GT(made(ps, why), 0) << prep_why_names[why];
    EXPECT_EQ(solvelp(ps->red), 0);
    const solcheck ck = postsolve(ps, lp);
    EXPECT_TRUE(ck.ok) << "primal " << ck.pres << " dual " << ck.dres << " complementarity " << ck.cmax;
    EXPECT_NEAR(lp->primal_obj, plain->primal_obj, 1e-6 * (1 + std::fabs(plain->primal_obj)));
    for (int j = 0; j < lp->n; ++j) {
        EXPECT_NEAR(lp->x[j], plain->x[j], 1e-5) << "x" << j;
        // The reduced cost; its split between the bounds of a fixed column is free.
        const double rc = lp->z[j] - lp->s[j];
        const double rc0 = plain->l[j] == -inf ? -plain->s[j] : plain->u[j] == inf ? plain->z[j]
                                                                                    : plain->z[j] - plain->s[j];
        if (t.unique_duals) {
            EXPECT_NEAR(rc, rc0, 1e-5) << "reduced cost " << j;
        }
    }
    for (int i = 0; i < lp->m && t.unique_duals; ++i) EXPECT_NEAR(lp->y[i], plain->y[i], 1e-5) << "y" << i;
    freeprep(ps);
    closelp(lp);
    closelp(plain);
}

INSTANTIATE_TEST_SUITE_P(Reductions, PresolveRoundTrip, ::testing::ValuesIn(cases()),
                         [](const auto &info) {
                             std::string s = info.param.name;
                             for (char &ch : s)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return s;
                         });

TEST(Presolve, ReducesToNothingAndStillSolves) {
    // Every row goes (a singleton, then redundant), every column is fixed: m = n = 0.
    const dense_problem p = prob(2, 2, {{1, 0}, {1, 1}}, {1, 0}, {inf, inf}, {1, 1}, {0, 0}, {5, 5});
    LP *lp = quiet(p);
    prep *ps = presolve(lp);
    ASSERT_EQ(ps->status, 0);
    EXPECT_EQ(ps->red->m, 0);
    EXPECT_EQ(ps->red->n, 0);
    EXPECT_EQ(solvelp(ps->red), 0);
    const solcheck ck = postsolve(ps, lp);
    EXPECT_TRUE(ck.ok);
    EXPECT_DOUBLE_EQ(lp->x[0], 1);
    EXPECT_DOUBLE_EQ(lp->x[1], 0);
    EXPECT_DOUBLE_EQ(lp->primal_obj, 1);
    EXPECT_DOUBLE_EQ(lp->y[0], 1);  // the singleton row's bound was the active one
    freeprep(ps);
    closelp(lp);
}

TEST(Presolve, InfeasibleAndUnboundedEndWithTheSolversCodes) {
    struct verdict_case {
        dense_problem p;
        int code;
    };
    const std::vector<verdict_case> list = {
        // An empty row 0 >= 1.
        {prob(2, 1, {{1}, {0}}, {0, 1}, {inf, inf}, {1}), 8},
        // x0 + x1 <= 1 and x0 + x1 >= 3 (parallel rows that exclude each other).
        {prob(2, 2, {{-1, -1}, {1, 1}}, {-1, 3}, {inf, inf}, {1, 1}), 8},
        // x1 in no row, its cost -1, no upper bound.
        {prob(1, 2, {{1, 0}}, {1}, {inf}, {1, -1}), 7},
        // The same as a QP: the solver's blow-up verdicts.
        {prob(2, 1, {{1}, {0}}, {0, 1}, {inf, inf}, {1}, {}, {}, {{1}}), 3},
        {prob(1, 2, {{1, 0}}, {1}, {inf}, {1, -1}, {}, {}, {{1, 0}, {0, 0}}), 4},
    };
    for (const auto &v : list) {
        LP *lp = quiet(v.p);
        prep *ps = presolve(lp);
        EXPECT_EQ(ps->status, v.code);
        EXPECT_EQ(ps->red, nullptr);
        EXPECT_FALSE(ps->reason.empty());
        freeprep(ps);
        closelp(lp);
    }
}

TEST(Presolve, PassesOnWhatItDoesNotTake) {
    // A negative range: copied as it is, for solvelp to refuse.
    const dense_problem p = prob(1, 1, {{1}}, {0}, {-1}, {1});
    LP *lp = quiet(p);
    prep *ps = presolve(lp);
    EXPECT_TRUE(ps->skipped);
    ASSERT_NE(ps->red, nullptr);
    EXPECT_EQ(ps->red->m, 1);
    EXPECT_EQ(ps->red->r[0], -1);
    freeprep(ps);
    closelp(lp);
}

TEST(Presolve, CheckSeesTheGapThatBoundDualsHide) {
    // min x over x >= 0 at x = 5 with z = 0: the solver's measures pass (no reduced cost of
    // the wrong sign, no product), the reduced cost 1 leaves a gap of 5.
    LP *lp = quiet(prob(0, 1, {}, {}, {}, {1}));
    lp->x = static_cast<double *>(std::calloc(1, sizeof(double)));
    lp->z = static_cast<double *>(std::calloc(1, sizeof(double)));
    lp->s = static_cast<double *>(std::calloc(1, sizeof(double)));
    lp->x[0] = 5;
    solcheck ck = chksol(lp);
    EXPECT_TRUE(ck.ok);
    EXPECT_EQ(ck.gapfig, 0);
    lp->x[0] = 0;
    ck = chksol(lp);
    EXPECT_GE(ck.gapfig, 8);
    closelp(lp);
}

TEST(Presolve, NoOptimalClaimWithAWrongObjective) {
    // forplan: the solver's stopping test passes on the reduced problem at a point 20 %
    // off the optimum, whose reduced costs show it.
    if (!orva::testing::have_shared_data()) GTEST_SKIP() << "no shared test data";
    const auto r = orva::testing::run(orva::testing::bin("orva-mps") + " verbose=1 " +
                                      orva::testing::shared_data("lp/forplan.mps"));
    const double obj = std::atof(r.out.c_str() + r.out.rfind("primal objective: ") + 18);
    if (r.out.find("\nOPTIMAL SOLUTION FOUND\nprimal objective") != std::string::npos) {
        EXPECT_NEAR(obj, -664.21896127, 664.2e-6) << r.out;
    }
}
