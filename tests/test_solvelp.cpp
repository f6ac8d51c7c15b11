// solvelp on small problems with known solutions: primal and dual values, objective
// sense, every row and variable class, infeasible and unbounded problems, limits, the
// stopping-rule protocol, and degenerate sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ipm/ipm.h"
#include "ipm_testutil.h"
#include "lp/alloc.h"
#include "lp/lp.h"
#include "testlp.h"

using namespace orva;
using namespace orva::testing;

namespace {

struct solved {
    int rc = -1;
    int iter = 0;
    double obj = 0, dual_obj = 0;
    std::vector<double> x, y;
};

solved run_solve(const dense_problem &d, int max = 1, void (*tweak)(LP *) = nullptr) {
    LP *lp = make_lp(d);
    lp->verbose = 0;
    lp->max = max;
    if (tweak) tweak(lp);
    solved s;
    s.rc = solvelp(lp);
    s.iter = lp->iter;
    s.obj = lp->primal_obj;
    s.dual_obj = lp->dual_obj;
    s.x.assign(lp->x, lp->x + lp->n);
    s.y.assign(lp->y, lp->y + lp->m);
    closelp(lp);
    return s;
}

void expect_near_all(const std::vector<double> &got, const std::vector<double> &want, double tol) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], want[k], tol) << "entry " << k;
}

} // namespace

TEST(SolveLP, SmallLinearProgram) {
    const solved s = run_solve(small_lp());
    EXPECT_EQ(s.rc, 0);
    expect_near_all(s.x, {1.6, 1.2}, 1e-6);
    expect_near_all(s.y, {0.4, 0.2}, 1e-6);
    EXPECT_NEAR(s.obj, -2.8, 1e-7);
    EXPECT_NEAR(s.dual_obj, -2.8, 1e-7);
}

TEST(SolveLP, EachSolveFactorsItsOwnPattern) {
    // Two problems with the same sizes and counts of entries but other patterns, the
    // first record still open: the second solve orders and factors its own matrix.
    dense_problem a;
    a.m = a.n = 3;
    a.A = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    a.b = {1, 2, 3};
    a.r = {inf, inf, inf};
    a.c = {1, 1, 1};
    dense_problem b = a;
    b.A = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
    LP *first = make_lp(a);
    first->verbose = 0;
    ASSERT_EQ(solvelp(first), 0);
    const solved s = run_solve(b);
    EXPECT_EQ(s.rc, 0);
    expect_near_all(s.x, {2, 3, 1}, 1e-6);
    closelp(first);
}

TEST(SolveLP, MaximisationKeepsPointAndDualsOfTheMinimisedObjective) {
    // max x1 + x2 over the same region: the method minimises max*(c'x), so x and y are
    // those of the minimisation above while the objective value keeps its own sign.
    dense_problem d = small_lp();
    d.c = {1, 1};
    d.f = 10;
    const solved s = run_solve(d, -1);
    EXPECT_EQ(s.rc, 0);
    expect_near_all(s.x, {1.6, 1.2}, 1e-6);
    expect_near_all(s.y, {0.4, 0.2}, 1e-6);
    EXPECT_NEAR(s.obj, 12.8, 1e-7);
}

TEST(SolveLP, RangedAndEqualityRowsWithBoxedVariables) {
    // max x1 + x2 s.t. 1 <= x1 + x2 <= 3 (ranged), x1 - x2 = 0.5, 0 <= x <= 10.
    dense_problem d;
    d.m = 2;
    d.n = 2;
    d.A = {{1, 1}, {1, -1}};
    d.b = {1, 0.5};
    d.r = {2, 0};
    d.c = {1, 1};
    d.l = {0, 0};
    d.u = {10, 10};
    const solved s = run_solve(d, -1);
    EXPECT_EQ(s.rc, 0);
    expect_near_all(s.x, {1.75, 1.25}, 1e-6);
    // The minimised objective -(x1 + x2) rises with the top of the range: y = -1 there.
    expect_near_all(s.y, {-1.0, 0.0}, 1e-6);
    EXPECT_NEAR(s.obj, 3.0, 1e-7);
}

TEST(SolveLP, FreeVariableFreeRowAndLowerBound) {
    // min x1 + 2 x2 s.t. x1 - x2 >= -1, x1 + x2 >= 1, free row x1 + 5 x2; x1 free, x2 >= 0.
    dense_problem d;
    d.m = 3;
    d.n = 2;
    d.A = {{1, -1}, {1, 1}, {1, 5}};
    d.b = {-1, 1, -inf};
    d.r = {inf, inf, inf};
    d.c = {1, 2};
    d.l = {-inf, 0};
    d.u = {inf, inf};
    const solved s = run_solve(d);
    EXPECT_EQ(s.rc, 0);
    expect_near_all(s.x, {1.0, 0.0}, 1e-6);
    expect_near_all(s.y, {0.0, 1.0, 0.0}, 1e-6);
    EXPECT_NEAR(s.obj, 1.0, 1e-7);
}

TEST(SolveLP, UpperBoundOnlyVariablesAndHugeBounds) {
    // max x1 + x2 s.t. x1 <= 2, x2 <= 3 with lower bounds beyond -1e8 (so infinite), and
    // x1 + x2 >= -100.
    dense_problem d;
    d.m = 1;
    d.n = 2;
    d.A = {{1, 1}};
    d.b = {-100};
    d.r = {inf};
    d.c = {1, 1};
    d.l = {-1e20, -2e8};
    d.u = {2, 3};
    const solved s = run_solve(d, -1);
    EXPECT_EQ(s.rc, 0);
    expect_near_all(s.x, {2.0, 3.0}, 1e-6);
    expect_near_all(s.y, {0.0}, 1e-6);
    EXPECT_NEAR(s.obj, 5.0, 1e-7);
}

TEST(SolveLP, ConvexQuadraticPrograms) {
    dense_problem d = small_qp();
    for (int convex = 0; convex <= 1; ++convex) {
        SCOPED_TRACE(convex ? "declared convex" : "perturbation search on");
        static int cv;
        cv = convex;
        const solved s = run_solve(d, 1, [](LP *lp) {
            lp->convex = cv;
            lp->quadratic = 1;
        });
        EXPECT_EQ(s.rc, 0);
        expect_near_all(s.x, {0.5, 1.5}, 1e-5);
        expect_near_all(s.y, {1.0}, 1e-5);
        EXPECT_NEAR(s.obj, 0.5, 1e-6);
    }
    // The same as a maximisation of the negated objective.
    dense_problem dm = d;
    dm.c = {2, 4};
    dm.Q = {{-2, 0}, {0, -2}};
    dm.f = -5;
    const solved s = run_solve(dm, -1);
    EXPECT_EQ(s.rc, 0);
    expect_near_all(s.x, {0.5, 1.5}, 1e-5);
    expect_near_all(s.y, {1.0}, 1e-5);
    EXPECT_NEAR(s.obj, -0.5, 1e-6);
}

TEST(SolveLP, EqualityQPInFreeVariablesTakesNewtonSteps) {
    // min x1^2/2 + x2^2/2 - x1 - x2 s.t. x1 + x2 = 1, x free: the eqqp mode solves it by
    // a full Newton step.
    dense_problem d;
    d.m = 1;
    d.n = 2;
    d.A = {{1, 1}};
    d.b = {1};
    d.r = {0};
    d.c = {-1, -1};
    d.Q = {{1, 0}, {0, 1}};
    d.l = {-inf, -inf};
    const solved s = run_solve(d, 1, [](LP *lp) {
        lp->lincons = 1;
        lp->quadratic = 1;
    });
    EXPECT_EQ(s.rc, 0);
    EXPECT_LE(s.iter, 3);
    expect_near_all(s.x, {0.5, 0.5}, 1e-9);
    expect_near_all(s.y, {-0.5}, 1e-9);
    EXPECT_NEAR(s.obj, -0.75, 1e-9);
}

TEST(SolveLP, ResidualsThatMoveTheObjectiveKeepTheIterationGoing) {
    // min x2^2/2 + x3^2/2 + x4^2/2 + 1000 x4 s.t. x1 + x2 = 1e6, x3 + x4 = 1, x free;
    // optimum x = (1e6, 0, 500.5, -499.5), objective -249499.75.  The start has no dual
    // residual and violates only the small row, by 1: relative to |b| + 1 that is
    // within inftol, there are no complementary pairs, yet y2 = 500 times the residual
    // still moves the objective in its third figure.
    dense_problem d;
    d.m = 2;
    d.n = 4;
    d.A = {{1, 1, 0, 0}, {0, 0, 1, 1}};
    d.b = {1e6, 1};
    d.r = {0, 0};
    d.c = {0, 0, 0, 1000};
    d.Q = {{0, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    d.l = {-inf, -inf, -inf, -inf};
    const solved s = run_solve(d, 1, [](LP *lp) {
        lp->inftol = 1e-6;
        lp->x = xmalloc<double>("x", "n", 4);
        lp->y = xmalloc<double>("y", "m", 2);
        const double x0[] = {1e6, 0, 500, -500}, y0[] = {0, 500};
        std::copy(x0, x0 + 4, lp->x);
        std::copy(y0, y0 + 2, lp->y);
    });
    EXPECT_EQ(s.rc, 0);
    EXPECT_GT(s.iter, 1);
    EXPECT_NEAR(s.obj, -249499.75, 1e-6 * 249499.75);
    EXPECT_NEAR(s.dual_obj, s.obj, 1e-7 * 249499.75);
}

namespace {
// x a hair below its bound 3, so the point is feasible to 1e-11, with a bound dual of
// 0.01 where the optimum has 1: the objective must rise along the direction.
void start_below_bound(LP *lp) {
    deflt_init(lp);
    lp->x[0] = 3 - 1e-11;
    lp->g[0] = 1e-12;
    lp->z[0] = 0.01;
    lp->nl_update_fg(lp);
}
} // namespace

TEST(SolveLP, QuadraticStepThatRaisesTheMeritIsTaken) {
    // min (x - 2)^2/2 s.t. x >= 3: optimum x = 3, objective 0.5.  Every direction from the
    // start raises the merit (D0 > 0) while the infeasibility cannot fall a hundredfold,
    // so halving could never pass the merit test (it used to take steps of 2^-10 to the
    // iteration limit).
    dense_problem d;
    d.m = 0;
    d.n = 1;
    d.c = {-2};
    d.Q = {{1}};
    d.f = 2;
    d.l = {3};
    const solved s = run_solve(d, 1, [](LP *lp) {
        lp->quadratic = 1;
        lp->init = start_below_bound;
        lp->itnlim = 100;
    });
    EXPECT_EQ(s.rc, 0);
    EXPECT_LT(s.iter, 40);
    EXPECT_NEAR(s.x[0], 3.0, 1e-8);
    EXPECT_NEAR(s.obj, 0.5, 1e-8);
}

TEST(SolveLP, InfeasibleAndUnboundedProblems) {
    // x1 + x2 >= 3 with 0 <= x <= 1: no primal point, the dual is unbounded.
    dense_problem inf1;
    inf1.m = 1;
    inf1.n = 2;
    inf1.A = {{1, 1}};
    inf1.b = {3};
    inf1.r = {inf};
    inf1.c = {1, 1};
    inf1.l = {0, 0};
    inf1.u = {1, 1};
    EXPECT_EQ(run_solve(inf1).rc, 8);

    // x1 = 1 and a row without entries that must equal 2: no iteration can help.  Its
    // right-hand side within the feasibility tolerance leaves the problem solvable.
    dense_problem empty;
    empty.m = 2;
    empty.n = 1;
    empty.A = {{1}, {0}};
    empty.b = {1, 2};
    empty.r = {0, 0};
    empty.c = {1};
    const solved e = run_solve(empty);
    EXPECT_EQ(e.rc, 3);
    EXPECT_EQ(e.iter, 1);
    empty.b[1] = 1e-9;
    EXPECT_EQ(run_solve(empty).rc, 0);

    // min -x1 s.t. x1 - x2 >= 0, x >= 0: primal unbounded.
    dense_problem unb;
    unb.m = 1;
    unb.n = 2;
    unb.A = {{1, -1}};
    unb.b = {0};
    unb.r = {inf};
    unb.c = {-1, 0};
    const solved s = run_solve(unb);
    EXPECT_EQ(s.rc, 7);
    for (double v : s.x) EXPECT_TRUE(std::isfinite(v));
}

TEST(SolveLP, RaysAtTheIterationLimitNameTheVerdict) {
    // Small LPs whose iterate runs away to the iteration limit: the direction it took
    // is a certificate.  x free with x >= 2 and -x >= -1; x free with x = 1 and x = 2
    // (both: the multipliers grow, no primal point); min -x1 s.t. x1 - x2 = 0 (x grows,
    // unbounded); min -x1 - x2 s.t. x1 >= 2, -x1 >= -1 (x2 unbounded, no primal point).
    // The first two may also end earlier through the stopping rule's own verdict on the
    // growing multipliers, "PRIMAL INFEASIBLE" (3), which says the same.
    struct lp_case {
        std::vector<std::vector<double>> A;
        std::vector<double> b, r, c, l;
        int rc, rc_too;
    };
    const std::vector<lp_case> cases = {
        {{{1}, {-1}}, {2, -1}, {inf, inf}, {1}, {-inf}, 8, 3},
        {{{1}, {1}}, {1, 2}, {0, 0}, {1}, {-inf}, 8, 3},
        {{{1, -1}}, {0}, {0}, {-1, 0}, {0, 0}, 7, 7},
        {{{1, 0}, {-1, 0}}, {2, -1}, {inf, inf}, {-1, -1}, {0, 0}, 5, 5},
    };
    for (const lp_case &k : cases) {
        dense_problem d;
        d.m = static_cast<int>(k.A.size());
        d.n = static_cast<int>(k.A[0].size());
        d.A = k.A;
        d.b = k.b;
        d.r = k.r;
        d.c = k.c;
        d.l = k.l;
        const solved s = run_solve(d);
        EXPECT_TRUE(s.rc == k.rc || s.rc == k.rc_too) << "case with verdict " << k.rc << ": " << s.rc;
    }
}

TEST(SolveLP, IterationAndTimeLimits) {
    const dense_problem d = small_lp();
    // No iteration at all: the initial point stays, no report is made.
    for (int lim : {0, -3}) {
        static int L;
        L = lim;
        const solved s = run_solve(d, 1, [](LP *lp) { lp->itnlim = L; });
        EXPECT_EQ(s.rc, 2);
        EXPECT_EQ(s.iter, 0);
        expect_near_all(s.x, {0.0, 0.0}, 0.0);
    }
    const solved neg_time = run_solve(d, 1, [](LP *lp) { lp->timlim = -1; });
    EXPECT_EQ(neg_time.rc, 9);
    EXPECT_EQ(neg_time.iter, 0);

    // itnlim = k performs k steps; the limit is tested before the time.
    for (int k : {1, 3}) {
        static int K;
        K = k;
        const solved s = run_solve(d, 1, [](LP *lp) {
            lp->itnlim = K;
            if (K == 1) lp->timlim = 0;
        });
        EXPECT_EQ(s.rc, 2);
        EXPECT_EQ(s.iter, k);
        EXPECT_NE(s.x[0], 0.0);  // a step was taken
    }
    // A time limit of 0 ends after the first step.
    const solved zero_time = run_solve(d, 1, [](LP *lp) { lp->timlim = 0; });
    EXPECT_EQ(zero_time.rc, 9);
    EXPECT_EQ(zero_time.iter, 1);
}

namespace {
std::vector<std::vector<double>> seen_x;
int stop_code = 0, stop_at = 0;
int recording_rule(LP *lp) {
    seen_x.emplace_back(lp->x, lp->x + lp->n);
    return lp->iter == stop_at ? stop_code : -1;
}
} // namespace

TEST(SolveLP, StoppingRuleProtocol) {
    // A positive code returns the iterate before the last step and that code.
    for (int code : {5, 20}) {
        seen_x.clear();
        stop_code = code;
        stop_at = 3;
        LP *lp = make_lp(small_lp());
        lp->verbose = 0;
        lp->st_rule = recording_rule;
        EXPECT_EQ(solvelp(lp), code);
        ASSERT_EQ(seen_x.size(), 3u);
        for (int j = 0; j < 2; ++j) EXPECT_EQ(lp->x[j], seen_x[1][j]);
        closelp(lp);
    }
    // A positive code at the first report keeps the current iterate.
    seen_x.clear();
    stop_code = 11;
    stop_at = 1;
    LP *lp = make_lp(small_lp());
    lp->verbose = 0;
    lp->st_rule = recording_rule;
    EXPECT_EQ(solvelp(lp), 11);
    for (int j = 0; j < 2; ++j) EXPECT_EQ(lp->x[j], seen_x[0][j]);
    closelp(lp);
}

TEST(SolveLP, NoComplementaryPairs) {
    // No variables and only a free row: there is no complementary pair at all.  The
    // iteration must not divide by the pair count.
    LP *lp = openlp();
    lp->verbose = 0;
    lp->m = 1;
    lp->n = 0;
    lp->nz = 0;
    lp->A = xmalloc<double>("A", "nz", 0);
    lp->iA = xmalloc<int>("iA", "nz", 0);
    lp->kA = xcalloc<int>("kA", "n+1", 1);
    lp->b = xmalloc<double>("b", "m", 1);
    lp->b[0] = -inf;
    lp->r = xmalloc<double>("r", "m", 1);
    lp->r[0] = inf;
    lp->f = 2.5;
    EXPECT_EQ(solvelp(lp), 0);
    EXPECT_EQ(lp->primal_obj, 2.5);
    EXPECT_EQ(lp->dual_obj, 2.5);
    EXPECT_EQ(lp->y[0], 0.0);
    closelp(lp);

    // Nothing at all.
    LP *empty = openlp();
    empty->verbose = 0;
    empty->kA = xcalloc<int>("kA", "n+1", 1);
    empty->A = xmalloc<double>("A", "nz", 0);
    empty->iA = xmalloc<int>("iA", "nz", 0);
    EXPECT_EQ(solvelp(empty), 0);
    closelp(empty);
}

namespace {
// Starts from the default point, then makes the products of one pair underflow to 0.
void init_with_zero_product(LP *lp) {
    deflt_init(lp);
    lp->g[0] = 1e-200;
    lp->z[0] = 1e-200;
}
// Every product underflows: the average complementarity itself is 0.
void init_all_products_zero(LP *lp) {
    deflt_init(lp);
    for (int j = 0; j < lp->n; ++j) lp->g[j] = lp->z[j] = 1e-170;
    for (int i = 0; i < lp->m; ++i) lp->w[i] = lp->v[i] = 1e-170;
}
} // namespace

TEST(SolveLP, ZeroComplementarityProductsGiveNoNaN) {
    // A QP (centering on) whose smallest complementarity product is exactly 0.
    dense_problem d = small_qp();
    d.f = 0;
    for (auto init : {init_with_zero_product, init_all_products_zero}) {
        static void (*I)(LP *);
        I = init;
        const solved s = run_solve(d, 1, [](LP *lp) {
            lp->init = I;
            lp->itnlim = 60;
        });
        for (double v : s.x) EXPECT_TRUE(std::isfinite(v));
        for (double v : s.y) EXPECT_TRUE(std::isfinite(v));
        EXPECT_TRUE(std::isfinite(s.obj));
        if (init == init_with_zero_product) {
            EXPECT_EQ(s.rc, 0);
            expect_near_all(s.x, {0.5, 1.5}, 1e-5);
        }
    }
}

namespace {
// The iterate as the initial-point hook left it.
struct start_point {
    std::vector<double> x, y, g, t, z, s, w;
};
start_point captured;
void (*start_under_test)(LP *) = nullptr;
void capture_start(LP *lp) {
    start_under_test(lp);
    const int n = lp->n, m = lp->m;
    captured = {{lp->x, lp->x + n}, {lp->y, lp->y + m}, {lp->g, lp->g + n},
                {lp->t, lp->t + n}, {lp->z, lp->z + n}, {lp->s, lp->s + n}, {lp->w, lp->w + m}};
}
} // namespace

TEST(SolveLP, LeastSquaresStartFollowsTheDataNotTheirScale) {
    // min 1e6 x0 + 3e6 x1 s.t. x0 + x1 = 2, 0 <= x <= 10: optimum x = (2, 0).  x is the
    // point nearest the boxes' middle (5, 5) that meets the row, whatever the costs; y the
    // multiplier with the least reduced costs, c - A'y = (-1e6, 1e6), which the bound
    // duals carry as z - s; every bound slack is shifted by one amount.
    dense_problem d;
    d.m = 1;
    d.n = 2;
    d.A = {{1, 1}};
    d.b = {2};
    d.r = {0};
    d.c = {1e6, 3e6};
    d.l = {0, 0};
    d.u = {10, 10};
    start_under_test = lsq_init;
    const solved s = run_solve(d, 1, [](LP *lp) {
        lp->lincons = 1;
        lp->init = capture_start;
    });
    EXPECT_EQ(s.rc, 0);
    expect_near_all(s.x, {2, 0}, 1e-6);
    const start_point a = captured;
    expect_near_all(a.x, {1, 1}, 1e-3);
    EXPECT_NEAR(a.y[0], 2e6, 1e2);
    EXPECT_NEAR(a.z[0] - a.s[0], -1e6, 1e2);
    EXPECT_NEAR(a.z[1] - a.s[1], 1e6, 1e2);
    const double shift = a.g[0] - a.x[0];
    EXPECT_GT(shift, 0);
    for (int j = 0; j < 2; ++j) {
        EXPECT_NEAR(a.g[j] - a.x[j], shift, 1e-9 * shift);
        EXPECT_NEAR(a.t[j] - (10 - a.x[j]), shift, 1e-9 * shift);
        EXPECT_GT(std::min(a.z[j], a.s[j]), 0);
    }
    // With a guess the start is the described one.
    std::vector<start_point> with_guess;
    for (auto init : {deflt_init, lsq_init}) {
        start_under_test = init;
        run_solve(d, 1, [](LP *lp) {
            lp->lincons = 1;
            lp->init = capture_start;
            lp->itnlim = 1;
            lp->x = xcalloc<double>("x", "n", 2);
            lp->x[0] = 3;
        });
        with_guess.push_back(captured);
    }
    EXPECT_EQ(with_guess[0].x, with_guess[1].x);
    EXPECT_EQ(with_guess[0].g, with_guess[1].g);
    EXPECT_EQ(with_guess[0].z, with_guess[1].z);
}

TEST(SolveLP, RowsScaledStartOfAQPInFreeVariables) {
    // min |x|^2/2 + c'x over 40 free variables whose second differences are >= 0 (a convex
    // fit of the data -c).  x starts at 0, every row at A x - b = 0: the plain start shifts
    // the rows' slacks by 1.5, the rows-scaled one by far less, one amount for all of them.
    // One bounded variable (no longer inequality form) leaves the plain start.  Both solve
    // to the same optimum.
    const int n = 40;
    dense_problem d;
    d.m = n - 2;
    d.n = n;
    d.A.assign(n - 2, std::vector<double>(n, 0.0));
    for (int i = 0; i < n - 2; ++i) {
        d.A[i][i] = d.A[i][i + 2] = 1;
        d.A[i][i + 1] = -2;
    }
    d.b.assign(n - 2, 0.0);
    d.r.assign(n - 2, inf);
    d.Q.assign(n, std::vector<double>(n, 0.0));
    for (int j = 0; j < n; ++j) {
        d.Q[j][j] = 1;
        d.c.push_back(-std::sin(0.15 * j));
    }
    d.l.assign(n, -inf);
    d.u.assign(n, inf);
    std::vector<start_point> starts;
    std::vector<solved> runs;
    for (auto init : {lsq_init, lsq_rows_init}) {
        start_under_test = init;
        runs.push_back(run_solve(d, 1, [](LP *lp) {
            lp->quadratic = 1;
            lp->init = capture_start;
        }));
        starts.push_back(captured);
    }
    EXPECT_GE(*std::min_element(starts[0].w.begin(), starts[0].w.end()), 1.0);
    const auto [lo, hi] = std::minmax_element(starts[1].w.begin(), starts[1].w.end());
    EXPECT_GT(*lo, 0);
    EXPECT_LT(*hi, 0.1);
    EXPECT_NEAR(*hi, *lo, 1e-12);
    for (const solved &s : runs) EXPECT_EQ(s.rc, 0);
    EXPECT_NEAR(runs[1].obj, runs[0].obj, 1e-7 * std::fabs(runs[0].obj));
    d.l[0] = -1e3;
    auto first = [](LP *lp) {
        lp->quadratic = 1;
        lp->init = capture_start;
        lp->itnlim = 1;
    };
    start_under_test = lsq_rows_init;
    run_solve(d, 1, first);
    const start_point rows = captured;
    start_under_test = lsq_init;
    run_solve(d, 1, first);
    EXPECT_EQ(rows.w, captured.w);
}

namespace {
double near_product = 0, far_product = 0;  // at the default start
void init_and_record(LP *lp) {
    deflt_init(lp);
    near_product = lp->g[0] * lp->z[0];
    far_product = lp->t[0] * lp->s[0];
}
} // namespace

TEST(SolveLP, DualsOfFarBoundsStartCentred) {
    // min (x - 3)^2/2, 0 <= x <= 1e8: the upper bound's pair starts with the product of the
    // lower one, not with 1e8 times it (its dual at bndpush).
    dense_problem d;
    d.n = 1;
    d.c = {-3};
    d.Q = {{1}};
    d.f = 4.5;
    d.l = {0};
    d.u = {1e8};
    const solved s = run_solve(d, 1, [](LP *lp) { lp->init = init_and_record; });
    EXPECT_NEAR(far_product, near_product, 1e-12 * near_product);
    EXPECT_EQ(s.rc, 0);
    EXPECT_NEAR(s.x[0], 3.0, 1e-6);
}

namespace {
int corrector_under_test = 1;

// The fit of a convex sequence to noisy data d: every second difference
// x[i-1] - 2 x[i] + x[i+1] >= 0; as a QP min 1/2 |x - d|^2 over free x, as an LP
// min -d'x over -1 <= x <= 1.  Most rows end active, one after another from the ends in.
dense_problem convex_fit(int n, bool quadratic) {
    const int m = n - 2;
    dense_problem p;
    p.m = m;
    p.n = n;
    p.A.assign(m, std::vector<double>(n, 0.0));
    for (int i = 0; i < m; ++i) {
        p.A[i][i] = 1;
        p.A[i][i + 1] = -2;
        p.A[i][i + 2] = 1;
    }
    p.b.assign(m, 0.0);
    p.r.assign(m, inf);
    p.l.assign(n, quadratic ? -inf : -1.0);
    p.u.assign(n, quadratic ? inf : 1.0);
    p.c.resize(n);
    for (int j = 0; j < n; ++j) p.c[j] = std::fabs((j - n / 2.0) / n) - 0.3 * std::sin(7.0 * j);
    if (quadratic) {
        p.Q.assign(n, std::vector<double>(n, 0.0));
        for (int j = 0; j < n; ++j) p.Q[j][j] = 1;
    }
    return p;
}
} // namespace

TEST(SolveLP, CorrectorsReachTheSameOptimumAndCutTheIterationsOfTheConvexFit) {
    // pred_corr 1: the fixed centering; 2: the adaptive one; 3 and 5: with up to 1 and 3
    // centrality correctors (adaptive centering for the QP, fixed for the LP).
    for (bool quadratic : {true, false}) {
        SCOPED_TRACE(quadratic ? "QP" : "LP");
        const dense_problem p = convex_fit(quadratic ? 500 : 200, quadratic);
        std::vector<solved> runs;
        for (int pc : {1, 2, 3, 5}) {
            SCOPED_TRACE(pc);
            corrector_under_test = pc;
            runs.push_back(run_solve(p, 1, [](LP *lp) {
                lp->convex = 1;
                lp->quadratic = 1;
                lp->pred_corr = corrector_under_test;
                lp->mufactor = 0;
            }));
            EXPECT_EQ(runs.back().rc, 0);
            EXPECT_NEAR(runs.back().obj, runs[0].obj, 1e-7 * (1 + std::fabs(runs[0].obj)));
            expect_near_all(runs.back().x, runs[0].x, 1e-4);
        }
        if (quadratic) {
            EXPECT_LT(runs[2].iter, runs[0].iter);
        }
    }
}
