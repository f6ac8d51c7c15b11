// Solves with iterative refinement.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "factor_testutil.h"

using namespace orva;
using namespace orva::testing;

TEST(Solve, RandomSystemsAreSolvedToTheTolerance) {
    std::vector<random_shape> specs = {{20, 30, 0.15}, {50, 20, 0.1, true}, {15, 60, 0.1, true, 2, 1},
                                      {40, 40, 0.1, false, 0, 0, 5}};
    unsigned seed = 40;
    for (auto r : specs) {
        r.seed = ++seed;
        LP *lp = make_lp(random_problem(r));
        finish_lp(lp);
        lp->verbose = 3;
        const auto Dn = spread(lp->n, seed, 1e-2, 1e2), Dm = spread(lp->m, seed + 1, 1e-2, 1e2);
        ::testing::internal::CaptureStdout();
        inv_num(lp, Dn.data(), Dm.data());
        const auto bx0 = spread(lp->n, seed + 2, 0.1, 10), by0 = spread(lp->m, seed + 3, 0.1, 10);
        std::vector<double> bx = bx0, by = by0;
        solve(lp, Dn.data(), Dm.data(), bx.data(), by.data());
        const std::string out = ::testing::internal::GetCapturedStdout();
        const double B = std::max(maxv(bx0.data(), lp->n), maxv(by0.data(), lp->m));
        EXPECT_LE(residual(lp, Dn.data(), Dm.data(), bx0.data(), by0.data(), bx.data(), by.data()),
                  1e-10 * (B + 1));
        EXPECT_EQ(out.find("refinement("), std::string::npos) << "an exact factor needs no pass";
        inv_clo();
        closelp(lp);
    }
}

TEST(Solve, ZeroRightHandSideGivesZero) {
    random_shape r{10, 14, 0.3, true};
    LP *lp = make_lp(random_problem(r));
    finish_lp(lp);
    lp->verbose = 0;
    std::vector<double> Dn(14, 1.0), Dm(10, 1.0), bx(14, 0.0), by(10, 0.0);
    inv_num(lp, Dn.data(), Dm.data());
    solve(lp, Dn.data(), Dm.data(), bx.data(), by.data());
    for (double x : bx) EXPECT_EQ(x, 0.0);
    for (double y : by) EXPECT_EQ(y, 0.0);
    inv_clo();
    closelp(lp);
}

TEST(Solve, RefinementRepairsTheClampedDiagonal) {
    // The factor uses max(Dn, epsdiag) = 1 while the system has 0.8: every pass
    // shrinks the error by 0.2 until the tolerance is met.
    dense_problem p;
    p.n = 1;
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->epsdiag = 1.0;
    lp->verbose = 3;
    std::vector<double> Dn{0.8};
    double b = 2.0;
    ::testing::internal::CaptureStdout();
    inv_num(lp, Dn.data(), nullptr);
    solve(lp, Dn.data(), nullptr, &b, &b);  // m = 0: one array for both
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NEAR(b, -2.0 / 0.8, 1e-9);
    EXPECT_NE(out.find("refinement(  1): "), std::string::npos) << out;
    EXPECT_NE(out.find("refinement(  2): "), std::string::npos) << out;
    inv_clo();
    closelp(lp);
}

TEST(Solve, ACorrectionThatGrowsTheResidualIsTakenBack) {
    // Factor -1 for the system 3x = b: the correction quadruples the residual.
    dense_problem p;
    p.n = 1;
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->epsdiag = 1.0;
    lp->verbose = 3;
    std::vector<double> Dn{-3.0};
    double bx = 1.0, by = 0.0;
    ::testing::internal::CaptureStdout();
    inv_num(lp, Dn.data(), nullptr);
    solve(lp, Dn.data(), nullptr, &bx, &by);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(bx, -1.0) << "the first-pass solution is kept";
    EXPECT_NE(out.find("refinement(  1): 1.60e+01 0.00e+00 8.00e+00 \n"), std::string::npos) << out;
    EXPECT_EQ(out.find("refinement(  2)"), std::string::npos) << out;
    inv_clo();
    closelp(lp);
}

TEST(Solve, DependentPositionWithinThresholdEndsAtZero) {
    // Row 1 is empty with Dm = 0: a dependent pivot with mark 0.
    dense_problem p;
    p.m = 2;
    p.n = 2;
    p.A = {{1.0, 2.0}, {0.0, 0.0}};
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->verbose = 0;
    lp->epsnum = 1e-6;
    std::vector<double> Dn{1.0, 2.0}, Dm{1.0, 0.0};
    inv_num(lp, Dn.data(), Dm.data());
    ASSERT_EQ(factor_info().ndep, 1);
    ASSERT_EQ(factor_info().mark[factor_info().iperm[3]], 0);
    std::vector<double> bx{1.0, -1.0}, by{0.5, 0.0};
    const std::vector<double> bx0 = bx, by0 = by;
    solve(lp, Dn.data(), Dm.data(), bx.data(), by.data());
    EXPECT_EQ(by[1], 0.0);
    // The other equations hold.
    const double res = residual(lp, Dn.data(), Dm.data(), bx0.data(), by0.data(), bx.data(), by.data());
    EXPECT_LE(res, 1e-9);
    inv_clo();
    closelp(lp);
}

TEST(Solve, FreeRowsAndPerturbations) {
    random_shape r{25, 30, 0.12, true};
    r.seed = 3;
    LP *lp = make_lp(random_problem(r));
    std::vector<int> rng(25, 1);
    for (int i = 0; i < 25; i += 5) rng[i] = 4;
    finish_lp(lp, {}, rng);
    lp->verbose = 0;
    lp->pert_primal = 0.3;
    lp->pert_dual = 0.1;
    auto Dn = spread(30, 5, 0.1, 10), Dm = spread(25, 6, 0.1, 10);
    for (int i = 0; i < 25; i += 5) Dm[i] = 1e300;
    inv_num(lp, Dn.data(), Dm.data());
    expect_matches_reference(lp, Dn.data(), Dm.data());
    auto bx = spread(30, 7, 1, 2), by = spread(25, 8, 1, 2);
    const auto bx0 = bx, by0 = by;
    solve(lp, Dn.data(), Dm.data(), bx.data(), by.data());
    // Free rows: y = 0 up to the huge diagonal; the residual is measured without them.
    for (int i = 0; i < 25; i += 5) EXPECT_LE(std::fabs(by[i]), 1e-290);
    std::vector<double> Dm_finite = Dm;
    for (int i = 0; i < 25; i += 5) Dm_finite[i] = 0.0;  // their residual is by - Ax exactly
    double worst = 0;
    {
        std::vector<double> y0 = by;
        for (int i = 0; i < 25; i += 5) y0[i] = 0.0;
        for (int j = 0; j < 30; ++j) {
            double s = -(Dn[j] + lp->pert_primal) * bx[j];
            for (int k = lp->kQ[j]; k < lp->kQ[j + 1]; ++k) s -= lp->Q[k] * bx[lp->iQ[k]];
            for (int k = lp->kA[j]; k < lp->kA[j + 1]; ++k) s += lp->A[k] * y0[lp->iA[k]];
            worst = std::max(worst, std::fabs(bx0[j] - s));
        }
    }
    EXPECT_LE(worst, 1e-9);
    inv_clo();
    closelp(lp);
}
