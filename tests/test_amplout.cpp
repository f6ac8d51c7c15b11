// What AMPL receives after a solve: result code, message and solution in the .sol file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aslprobe.h"
#include "intake.h"
#include "nlfile.h"
#include "testlp.h"

#include "driver/ampl.h"
#include "ipm/ipm.h"
#include "lp/lp.h"

using namespace orva;
using namespace orva::testing;

namespace {

// x0 + 2 x1 >= 2 (row 0), x0 - x1 <= 1 (row 1, negated by the intake), x >= 0.
nl_model two_rows(bool maximize) {
    nl_model p;
    p.n = 2;
    nl_row r0, r1;
    r0.lin = {{0, 1.0}, {1, 2.0}};
    r0.lo = 2;
    r1.lin = {{0, 1.0}, {1, -1.0}};
    r1.up = 1;
    p.rows = {r0, r1};
    nl_objective o;
    o.lin = {{0, 1.0}, {1, 1.0}};
    o.maximize = maximize;
    p.objs = {o};
    p.bounds = {{0, inf}, {0, inf}};
    return p;
}

// Reads the problem as the driver does (run by AMPL), fakes a finished solve, writes the result.
sol_file result_of(const std::string &stem, int code, int quadratic = 0) {
    {
        ampl_intake in(stem, {"-AMPL"});
        LP *lp = in.lp;
        double x[2] = {1.5, 0.25}, y[2] = {0.75, 2.0};
        lp->x = x;
        lp->y = y;
        lp->iter = 12;
        lp->quadratic = quadratic;
        lp->primal_obj = 1.75;
        lp->dual_obj = 1.5;
        ::testing::internal::CaptureStdout();
        amplout(in.asl, lp, code);
        ::testing::internal::GetCapturedStdout();
        lp->x = nullptr;
    }
    return read_sol(stem);
}

} // namespace

TEST(ResultReturn, CodesAndMessages) {
    const std::string dir = scratch_dir("amplout");
    const std::string stem = write_nl(dir, "p", two_rows(false));
    struct expect {
        int code, ampl;
        const char *text;
        bool objectives;
    };
    const expect table[] = {
        {0, 0, "optimal solution", true},
        {1, 100, "suboptimal solution", true},
        {2, 400, "iteration limit", true},
        {3, 201, "primal infeasible", false},
        {4, 202, "dual infeasible", false},
        {5, 203, "primal and/or dual infeasible", false},
        {6, 210, "primal infeasible -- inconsistent equations", false},
        {7, 301, "primal unbounded", false},
        {8, 204, "primal infeasible (dual unbounded)", false},
        {9, 500, "resource limit", false},
        {14, 500, "resource limit", false},
        {20, 500, "resource limit", false},
        {-3, 500, "resource limit", false},
    };
    for (const expect &e : table) {
        const sol_file s = result_of(stem, e.code);
        ASSERT_TRUE(s.ok) << e.code;
        EXPECT_EQ(s.code, e.ampl) << e.code;
        const std::string head = std::string("ORVA 7.03: ") + e.text + " (12 iterations, 0 evaluations)";
        EXPECT_EQ(s.message.rfind(head, 0), 0u) << s.message;
        const bool has_obj = s.message.find("\nprimal objective 1.75\n  dual objective 1.5") !=
                             std::string::npos;
        EXPECT_EQ(has_obj, e.objectives) << s.message;
    }
    // Code 6 after the user answered the interrupt prompt: a stop he asked for.
    interrupted = 1;
    const sol_file stopped = result_of(stem, 6);
    interrupted = 0;
    EXPECT_EQ(stopped.code, 401);
    EXPECT_EQ(stopped.message.rfind("ORVA 7.03: stopped at the user's interrupt (12 iterations", 0), 0u)
        << stopped.message;
    const sol_file qp = result_of(stem, 0, 1);
    EXPECT_EQ(qp.message.rfind("ORVA 7.03: optimal solution (12 QP iterations, 0 evaluations)", 0), 0u)
        << qp.message;
}

TEST(ResultReturn, SolutionInTheModelsSigns) {
    const std::string dir = scratch_dir("amplout-sign");
    // Minimising: AMPL receives the solver's x and duals; the negated row 1 and its dual
    // are turned back by the ASL.
    const std::string smin = write_nl(dir, "pmin", two_rows(false));
    const sol_file mn = result_of(smin, 0);
    ASSERT_TRUE(mn.ok);
    EXPECT_EQ(mn.x, (std::vector<double>{1.5, 0.25}));
    EXPECT_EQ(mn.y, (std::vector<double>{0.75, -2.0}));
    // Maximising: the duals are d(objective)/d(rhs) of the maximised objective.
    const std::string smax = write_nl(dir, "pmax", two_rows(true));
    const sol_file mx = result_of(smax, 0);
    ASSERT_TRUE(mx.ok);
    EXPECT_EQ(mx.x, (std::vector<double>{1.5, 0.25}));
    EXPECT_EQ(mx.y, (std::vector<double>{-0.75, 2.0}));
}
