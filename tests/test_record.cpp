// The lp record: defaults, default hooks, release; the allocation helper's failure path.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "ipm_testutil.h"
#include "testlp.h"

#include "ipm/ipm.h"
#include "lp/alloc.h"
#include "lp/lp.h"

using namespace orva;
using namespace orva::testing;

TEST(Record, FreshRecordHasItsDefaultsAndHooks) {
    LP *lp = openlp();
    EXPECT_EQ(lp->m, 0);
    EXPECT_EQ(lp->n, 0);
    EXPECT_EQ(lp->nz, 0);
    EXPECT_EQ(lp->qnz, 0);
    EXPECT_EQ(lp->max, 1);
    EXPECT_EQ(lp->sf_req, 8);
    EXPECT_EQ(lp->itnlim, 500);
    EXPECT_EQ(lp->timlim, std::numeric_limits<double>::infinity());
    EXPECT_EQ(lp->verbose, 2);
    EXPECT_EQ(lp->inftol, 1e-5);
    EXPECT_EQ(lp->inftol2, 1e5);
    EXPECT_EQ(lp->steplen, 0.95);
    EXPECT_EQ(lp->mufactor, -1.0);
    EXPECT_EQ(lp->pred_corr, -1);
    EXPECT_EQ(lp->epssol, 1e-6);
    EXPECT_EQ(lp->epsnum, 0.0);
    EXPECT_EQ(lp->epscdn, 1e-12);
    EXPECT_EQ(lp->epsdiag, 1e-10);
    EXPECT_EQ(lp->stablty, 1.0);
    EXPECT_EQ(lp->method, 1);
    EXPECT_EQ(lp->dense, -1);
    EXPECT_EQ(lp->pdf, 0);
    EXPECT_EQ(lp->bndpush, -1.0);
    EXPECT_EQ(lp->honor_bnds, -1);
    EXPECT_EQ(lp->honor_bnds_init, -1);
    EXPECT_EQ(lp->convex, 0);
    EXPECT_EQ(lp->penalty, 1.0);
    EXPECT_EQ(lp->pert_primal, 0.0);
    EXPECT_EQ(lp->pert_dual, 0.0);
    for (const char *name : {lp->obj, lp->rhs, lp->ranges, lp->bounds, lp->name})
        EXPECT_STREQ(name, "");
    EXPECT_EQ(lp->st_rule, &deflt_st_rule);
    EXPECT_EQ(lp->init, &deflt_init);
    EXPECT_EQ(lp->nl_init, &nl_init_mps);
    EXPECT_EQ(lp->nl_update, &nl_update_dummy);
    EXPECT_EQ(lp->nl_update_fg, &nl_update_mps);
    EXPECT_EQ(lp->nl_update_h, &nl_update_mps);
    EXPECT_EQ(lp->nl_close, &nl_close_mps);
    EXPECT_EQ(lp->hook, &deflt_hook);
    EXPECT_EQ(lp->objval(lp), 0.0);
    EXPECT_EQ(lp->r, nullptr);
    EXPECT_EQ(lp->x, nullptr);
    EXPECT_EQ(lp->rowlab, nullptr);
    closelp(lp);
}

TEST(Record, DefaultUpdateHooksAndRelease) {
    // f + c'x + x'Qx/2 and R = Ax, with Q holding both triangles.
    dense_problem p;
    p.m = 2;
    p.n = 3;
    p.A = {{1, 0, 2}, {0, -1, 1}};
    p.b = {1, 2};
    p.c = {1, 2, 3};
    p.f = 0.5;
    p.Q = {{2, 1, 0}, {1, 4, 0}, {0, 0, 0}};
    LP *lp = make_lp(p);
    double x[3] = {1, -1, 2};
    lp->x = x;
    EXPECT_NE(nl_init_mps(lp), 0);
    ASSERT_NE(lp->b0, nullptr);
    EXPECT_EQ(lp->b0[1], 2.0);
    lp->b[1] = 7.0;  // b0 keeps the sides as they were at set-up
    EXPECT_EQ(lp->b0[1], 2.0);
    EXPECT_EQ(nl_update_dummy(lp, 1), 0);
    // quadratic term: (2*1 + 1*(-1))*1 + (1*1 + 4*(-1))*(-1) = 1 + 3 = 4, halved
    EXPECT_DOUBLE_EQ(lp->primal_obj, 0.5 + (1 - 2 + 6) + 2.0);
    EXPECT_DOUBLE_EQ(lp->R[0], 5.0);
    EXPECT_DOUBLE_EQ(lp->R[1], 3.0);
    // A second set-up replaces the copies without leaking the first ones.
    EXPECT_NE(nl_init_mps(lp), 0);
    EXPECT_EQ(lp->b0[1], 7.0);
    lp->x = nullptr;

    // Labels: absent row labels with m > 0 release nothing; column labels are released.
    lp->collab = xmalloc<char *>("collab", "n", 3);
    for (int j = 0; j < 3; ++j) lp->collab[j] = static_cast<char *>(std::calloc(9, 1));
    closelp(lp);  // the sanitizer build checks that everything went

    // m = 0: the set-up hook succeeds with nothing to copy.
    LP *e = openlp();
    e->nz = 0;
    EXPECT_NE(nl_init_mps(e), 0);
    closelp(e);
}

TEST(Record, BorrowedArraysStayTheLendersOwn) {
    // x and y lent by the caller (arrays on the stack, as the ASL lends its own): the
    // solve starts from them and leaves the solution in them without resizing them, and
    // closelp leaves them alone.
    dense_problem p;
    p.m = 1;
    p.n = 2;
    p.A = {{1, 1}};
    p.b = {1};
    p.r = {inf};
    p.c = {1, 2};
    p.l = {0, 0};
    p.u = {inf, inf};
    LP *lp = make_lp(p);
    lp->verbose = 0;
    double x[2] = {0.5, 0.5}, y[1] = {0.0};
    lp->x = x;
    lp->y = y;
    lp->borrowed = BORROWED_X | BORROWED_Y;
    EXPECT_EQ(solvelp(lp), 0);
    EXPECT_EQ(lp->x, x);
    EXPECT_EQ(lp->y, y);
    EXPECT_NEAR(x[0], 1.0, 1e-6);
    EXPECT_NEAR(y[0], 1.0, 1e-6);
    closelp(lp);
}

TEST(Record, AllocationFailureNamesTheArrayAndReturnsToTheCaller) {
    // Zero-length blocks are valid, never null.
    int *z = xmalloc<int>("iwork", "m", 0);
    ASSERT_NE(z, nullptr);
    z = xrealloc<int>(z, "iwork", "m", 0);
    ASSERT_NE(z, nullptr);
    xfree(z);
    EXPECT_EQ(z, nullptr);
    double *c = xcalloc<double>("c", "n", 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c[i], 0.0);
    xfree(c);

    // Requests no machine can hold (elements of a megabyte, so the byte count stays in
    // range): the message names the operation, the array, its length expression and
    // count, and the element type, without a line feed; a failed resize leaves the block.
    using megabyte = std::array<char, 1 << 20>;
    megabyte *kept = xmalloc<megabyte>("x_k", "n", 1, "double");
    const struct {
        std::function<void()> call;
        const char *message;
    } cases[] = {
        {[] { xmalloc<megabyte>("dx", "n", 2000000000, "double"); },
         "MALLOC(dx,n=2000000000,double): cannot allocate space"},
        {[kept] { xrealloc<megabyte>(kept, "x_k", "n", 2000000000, "double"); },
         "REALLOC(x_k,n=2000000000,double): cannot reallocate space"},
        {[] { xcalloc<megabyte>("colhisto", "n+m+1", 2000000001, "int"); },
         "CALLOC(colhisto,n+m+1=2000000001,int): cannot allocate space"},
    };
    for (const auto &c : cases) {
        const std::optional<error> e = thrown_by(c.call);
        ASSERT_TRUE(e.has_value()) << c.message;
        EXPECT_EQ(e->kind(), error_kind::allocation);
        EXPECT_EQ(e->code(), 0);
        EXPECT_EQ(e->output(), c.message);
        EXPECT_EQ(e->status(), 1);
    }
    std::free(kept);

    // One inside a solve (the initial-point hook asks for too much): the solve's storage
    // goes on the way out and the record stays valid for closelp.
    LP *lp = make_lp(small_lp());
    lp->verbose = 0;
    lp->init = [](LP *rec) {
        deflt_init(rec);
        xmalloc<megabyte>("start", "n", 2000000000, "double");
    };
    const std::optional<error> e = thrown_by([lp] { solvelp(lp); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->output(), "MALLOC(start,n=2000000000,double): cannot allocate space");
    closelp(lp);
}
