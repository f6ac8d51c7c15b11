// The AMPL evaluation hooks: the quadratic model of the problem at the current point.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "aslprobe.h"
#include "intake.h"
#include "nlfile.h"
#include "testlp.h"

#include "driver/ampl.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

using namespace orva;
using namespace orva::testing;

namespace {

// Intake of a problem, then the set-up the solver does before the hooks run: the
// transpose and an empty Q; x and y as given.
struct hooked : ampl_intake {
    hooked(const std::string &stem, std::vector<std::string> words, std::vector<double> x,
           std::vector<double> y)
        : ampl_intake(stem, std::move(words)) {
        const int m = lp->m, n = lp->n, nz = lp->nz;
        lp->At = xmalloc<double>("At", "nz", nz);
        lp->iAt = xmalloc<int>("iAt", "nz", nz);
        atnum(m, n, lp->kA, lp->iA, lp->A, lp->kAt, lp->iAt, lp->At);
        lp->kQ = xcalloc<int>("kQ", "n+1", n + 1);
        lp->iQ = xmalloc<int>("iQ", "0", 0);
        lp->Q = xmalloc<double>("Q", "0", 0);
        lp->x = xmalloc<double>("x", "n", n);
        lp->y = xmalloc<double>("y", "m", m);
        for (int j = 0; j < n; ++j) lp->x[j] = x[j];
        for (int i = 0; i < m; ++i) lp->y[i] = y[i];
        nl_init_ampl(lp);
    }
    ~hooked() {
        for (void *p : {(void *)lp->At, (void *)lp->iAt, (void *)lp->Q, (void *)lp->y,
                        (void *)lp->R, (void *)lp->b0})
            own(p);
        if (lp->qnz == 0) {  // still the empty structure made above
            own(lp->kQ);
            own(lp->iQ);
        }
    }
    // The model's objective f + c'x + x'Qx/2 at a point.
    double model(const std::vector<double> &x) const {
        const int n = lp->n;
        std::vector<double> Qx(n);
        smx(n, n, lp->Q, lp->kQ, lp->iQ, x.data(), Qx.data());
        return lp->f + dotprod(lp->c, x.data(), n) + 0.5 * dotprod(x.data(), Qx.data(), n);
    }
    double Qentry(int i, int j) const {
        for (int k = lp->kQ[j]; k < lp->kQ[j + 1]; ++k)
            if (lp->iQ[k] == i) return lp->Q[k];
        return 0.0;
    }
};

// min  x0^2 + 3 x1   s.t.  x0^2 >= 1  (nonlinear row first),  x0 + x1 >= 1
nl_model quad_with_nonlinear_row() {
    nl_model p;
    p.n = 2;
    p.nnl = 1;
    nl_row c0, c1;
    c0.expr = "o5\nv0\nn2\n";
    c0.lo = 1;
    c1.lin = {{0, 1.0}, {1, 1.0}};
    c1.lo = 1;
    p.rows = {c0, c1};
    nl_objective o;
    o.expr = "o5\nv0\nn2\n";
    o.lin = {{1, 3.0}};
    p.objs = {o};
    return p;
}

} // namespace

TEST(Hooks, NonlinearRowIsLinearisedAtThePoint) {
    const std::string dir = scratch_dir("hooks-lin");
    const std::string stem = write_nl(dir, "p", quad_with_nonlinear_row());
    hooked h(stem, {}, {2.0, 0.5}, {3.0, 0.0});
    LP *lp = h.lp;
    ASSERT_GT(lp->qnz, 0);
    EXPECT_EQ(lp->b0[0], 1.0);
    ASSERT_EQ(nl_update_ampl(lp, 1), 0);
    // Row 0 reads 4 x0 >= 1 - (4 - 4*2) = 5 around x0 = 2; the linear row is untouched.
    EXPECT_DOUBLE_EQ(lp->A[lp->kA[0]], 4.0);
    EXPECT_DOUBLE_EQ(lp->At[lp->kAt[0]], 4.0);
    EXPECT_DOUBLE_EQ(lp->b[0], 5.0);
    EXPECT_DOUBLE_EQ(lp->b[1], 1.0);
    EXPECT_DOUBLE_EQ(lp->R[0], 4.0);
    // Hessian of the Lagrangian in the solver's sign: f'' - y c'' = 2 - 3*2 (minimising).
    EXPECT_DOUBLE_EQ(h.Qentry(0, 0), 2.0 - 6.0);
    // The model has the objective's value and gradient at the point.
    EXPECT_DOUBLE_EQ(lp->primal_obj, 4.0 + 1.5);
    EXPECT_NEAR(h.model({2.0, 0.5}), 5.5, 1e-12);
    const double e = 1e-6;
    EXPECT_NEAR((h.model({2.0 + e, 0.5}) - h.model({2.0 - e, 0.5})) / (2 * e), 4.0, 1e-6);
    EXPECT_NEAR((h.model({2.0, 0.5 + e}) - h.model({2.0, 0.5 - e})) / (2 * e), 3.0, 1e-6);
    EXPECT_EQ(evals.con_count, 1);
    EXPECT_EQ(evals.jac_count, 1);
    EXPECT_EQ(evals.fun_count, 1);
    EXPECT_EQ(evals.grad_count, 1);
    EXPECT_EQ(evals.hes_count, 1);
}

TEST(Hooks, MaximisingFlipsTheConstraintTermOfTheHessian) {
    const std::string dir = scratch_dir("hooks-max");
    const std::string stem = write_nl(dir, "p", quad_with_nonlinear_row());
    hooked h(stem, {"max"}, {2.0, 0.5}, {3.0, 0.0});
    ASSERT_EQ(nl_update_ampl(h.lp, 1), 0);
    EXPECT_EQ(h.lp->max, -1);
    // max*(Q) is the Hessian of max*f - y'c: Q = f'' - max*y*c'' = 2 + 6.
    EXPECT_DOUBLE_EQ(h.Qentry(0, 0), 2.0 + 6.0);
}

TEST(Hooks, CandidateValuesFeedTheNextUpdate) {
    const std::string dir = scratch_dir("hooks-fg");
    const std::string stem = write_nl(dir, "p", quad_with_nonlinear_row());
    hooked h(stem, {}, {2.0, 0.5}, {0.0, 0.0});
    LP *lp = h.lp;
    ASSERT_EQ(nl_update_ampl(lp, 1), 0);
    // A candidate point: the update-values hook evaluates rows, Jacobian and objective there.
    lp->x[0] = 3.0;
    lp->x[1] = 1.0;
    ASSERT_EQ(nl_update_fg_ampl(lp), 0);
    EXPECT_DOUBLE_EQ(lp->R[0], 9.0);
    EXPECT_DOUBLE_EQ(lp->R[1], 4.0);
    EXPECT_DOUBLE_EQ(lp->primal_obj, 9.0 + 3.0);
    EXPECT_DOUBLE_EQ(lp->A[lp->kA[0]], 6.0);
    // The first-order data are those of the model at the candidate: c + Qx is the
    // objective's gradient there (2 x0, 3), and the nonlinear row's residual is its own.
    std::vector<double> Qx(2);
    smx(2, 2, lp->Q, lp->kQ, lp->iQ, lp->x, Qx.data());
    EXPECT_DOUBLE_EQ(lp->c[0] + Qx[0], 6.0);
    EXPECT_DOUBLE_EQ(lp->c[1] + Qx[1], 3.0);
    EXPECT_DOUBLE_EQ(lp->b[0] - 6.0 * 3.0, 1.0 - 9.0);
    // Accepting it: flag 0 takes R and primal_obj as left, without evaluating them again.
    const int fun = evals.fun_count, con = evals.con_count;
    ASSERT_EQ(nl_update_ampl(lp, 0), 0);
    EXPECT_EQ(evals.fun_count, fun);
    EXPECT_EQ(evals.con_count, con);
    EXPECT_DOUBLE_EQ(lp->b[0], 1.0 - (9.0 - 6.0 * 3.0));
    EXPECT_NEAR(h.model({3.0, 1.0}), 12.0, 1e-12);
    // The rows of the transpose follow the Jacobian.
    std::vector<double> ax(2), expect = {6.0 * 3.0, 4.0};
    smx(2, 2, lp->A, lp->kA, lp->iA, lp->x, ax.data());
    EXPECT_DOUBLE_EQ(ax[0], expect[0]);
    for (int i = 0; i < 2; ++i) {
        double s = 0;
        for (int k = lp->kAt[i]; k < lp->kAt[i + 1]; ++k) s += lp->At[k] * lp->x[lp->iAt[k]];
        EXPECT_DOUBLE_EQ(s, ax[i]) << "row " << i;
    }
}

TEST(Hooks, QuadraticProgramHessianIsEvaluatedOnce) {
    const std::string dir = scratch_dir("hooks-qp");
    nl_model p = quad_with_nonlinear_row();
    p.rows.erase(p.rows.begin());  // only the linear row: a QP
    p.objs[0].expr = "o0\no5\nv0\nn2\no2\nv0\nv1\n";
    p.nnl = 2;
    const std::string stem = write_nl(dir, "qp", p);
    hooked h(stem, {}, {1.0, 1.0}, {0.0});
    LP *lp = h.lp;
    ASSERT_EQ(lp->quadratic, 1);
    ASSERT_EQ(nl_update_ampl(lp, 1), 0);
    lp->x[0] = -2.0;
    lp->x[1] = 0.5;
    ASSERT_EQ(nl_update_fg_ampl(lp), 0);
    ASSERT_EQ(nl_update_ampl(lp, 0), 0);
    EXPECT_EQ(evals.hes_count, 1);
    EXPECT_DOUBLE_EQ(h.Qentry(0, 0), 2.0);
    EXPECT_DOUBLE_EQ(h.Qentry(0, 1), 1.0);
    EXPECT_DOUBLE_EQ(h.Qentry(1, 0), 1.0);
    // For a quadratic objective the model is the objective itself, everywhere.
    for (auto x : std::vector<std::vector<double>>{{0, 0}, {1, -1}, {3, 2}})
        EXPECT_NEAR(h.model(x), x[0] * x[0] + x[0] * x[1] + 3 * x[1], 1e-12);
}

TEST(Hooks, LinearisationOnlyKeepsQEmpty) {
    const std::string dir = scratch_dir("hooks-lponly");
    const std::string stem = write_nl(dir, "p", quad_with_nonlinear_row());
    hooked h(stem, {"lp_only"}, {2.0, 0.5}, {1.0, 0.0});
    LP *lp = h.lp;
    EXPECT_EQ(lp->qnz, 0);
    ASSERT_EQ(nl_update_ampl(lp, 1), 0);
    EXPECT_EQ(evals.hes_count, 0);
    EXPECT_DOUBLE_EQ(lp->b[0], 5.0);
    // f + c'x is the objective's value and c its gradient at the point.
    EXPECT_NEAR(h.model({2.0, 0.5}), 5.5, 1e-12);
    EXPECT_DOUBLE_EQ(lp->c[0], 4.0);
    EXPECT_DOUBLE_EQ(lp->c[1], 3.0);
}

TEST(Hooks, WithoutObjectiveTheModelIsTheConstraintCurvatureOnly) {
    const std::string dir = scratch_dir("hooks-noobj");
    const std::string stem = write_nl(dir, "p", quad_with_nonlinear_row());
    hooked h(stem, {"objno=0", "min"}, {2.0, 0.5}, {3.0, 0.0});
    LP *lp = h.lp;
    ASSERT_EQ(nl_update_ampl(lp, 1), 0);
    EXPECT_EQ(evals.fun_count, 0);
    EXPECT_EQ(evals.grad_count, 0);
    EXPECT_DOUBLE_EQ(h.Qentry(0, 0), -6.0);
    EXPECT_DOUBLE_EQ(lp->c[0], 12.0);  // -Qx
    EXPECT_DOUBLE_EQ(lp->f, 0.5 * -6.0 * 4.0);
    // A second update at another point starts c afresh (no accumulation of earlier Qx).
    lp->x[0] = 1.0;
    ASSERT_EQ(nl_update_fg_ampl(lp), 0);
    ASSERT_EQ(nl_update_ampl(lp, 0), 0);
    EXPECT_DOUBLE_EQ(lp->c[0], 6.0);
    EXPECT_DOUBLE_EQ(lp->c[1], 0.0);
    EXPECT_NEAR(h.model({1.0, 0.5}), 0.0, 1e-12);
}

TEST(Hooks, EvaluationErrorsAreReported) {
    const std::string dir = scratch_dir("hooks-err");
    nl_model p = quad_with_nonlinear_row();
    p.rows[0].expr = "o43\nv0\n";  // log(x0) >= 1
    p.objs[0].expr = "o43\nv0\n";
    const std::string stem = write_nl(dir, "p", p);
    hooked h(stem, {}, {-1.0, 0.5}, {0.0, 0.0});
    EXPECT_EQ(nl_update_ampl(h.lp, 1), 1);
    EXPECT_EQ(nl_update_fg_ampl(h.lp), 1);
    h.lp->x[0] = 2.0;
    EXPECT_EQ(nl_update_ampl(h.lp, 1), 0);
    EXPECT_NEAR(h.lp->primal_obj, std::log(2.0) + 1.5, 1e-14);
}
