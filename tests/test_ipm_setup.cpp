// The set-up of solvelp: completion of absent data, labels, the sorted matrix and its
// transpose, bound clamping and classes, automatic settings, the statistics and the
// settings dump, and the data errors (repeated entry, negative range).
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "ipm/ipm.h"
#include "ipm/solver.h"
#include "ipm_testutil.h"
#include "lp/alloc.h"
#include "lp/lp.h"
#include "testlp.h"

using namespace orva;
using namespace orva::testing;

namespace {

// A record with A only: 2 rows, 3 columns, entries given column by column.
LP *bare_record(const std::vector<std::vector<std::pair<int, double>>> &cols, int m) {
    LP *lp = openlp();
    lp->m = m;
    lp->n = static_cast<int>(cols.size());
    int nz = 0;
    for (const auto &c : cols) nz += static_cast<int>(c.size());
    lp->nz = nz;
    lp->A = xmalloc<double>("A", "nz", nz);
    lp->iA = xmalloc<int>("iA", "nz", nz);
    lp->kA = xmalloc<int>("kA", "n+1", lp->n + 1);
    int k = 0;
    for (int j = 0; j < lp->n; ++j) {
        lp->kA[j] = k;
        for (const auto &[row, val] : cols[j]) {
            lp->iA[k] = row;
            lp->A[k] = val;
            ++k;
        }
    }
    lp->kA[lp->n] = k;
    return lp;
}

} // namespace

TEST(IpmSetup, CompletesAbsentDataSortsAndTransposes) {
    // Entries deliberately out of row order within the columns.
    LP *lp = bare_record({{{1, 2.0}, {0, 1.0}}, {{1, 3.0}}, {{0, 4.0}, {1, 5.0}}}, 2);
    lp->verbose = 0;
    lp->itnlim = 0;
    EXPECT_EQ(solvelp(lp), 2);
    // Labels.
    EXPECT_STREQ(lp->rowlab[0], "R0      ");
    EXPECT_STREQ(lp->rowlab[1], "R1      ");
    EXPECT_STREQ(lp->collab[2], "C2      ");
    // Absent data.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(lp->b[i], 0.0);
        EXPECT_EQ(lp->r[i], 0.0);
        EXPECT_EQ(lp->rngmark[i], 1);
    }
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(lp->c[j], 0.0);
        EXPECT_EQ(lp->l[j], 0.0);
        EXPECT_EQ(lp->u[j], inf);
        EXPECT_EQ(lp->bndmark[j], 2);
    }
    EXPECT_EQ(lp->qnz, 0);
    ASSERT_NE(lp->kQ, nullptr);
    for (int j = 0; j <= 3; ++j) EXPECT_EQ(lp->kQ[j], 0);
    // A sorted within columns.
    const int iA[] = {0, 1, 1, 0, 1};
    const double A[] = {1, 2, 3, 4, 5};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(lp->iA[k], iA[k]);
        EXPECT_EQ(lp->A[k], A[k]);
    }
    // The transpose: row 0 = (1, ., 4), row 1 = (2, 3, 5).
    const int kAt[] = {0, 2, 5};
    const int iAt[] = {0, 2, 0, 1, 2};
    const double At[] = {1, 4, 2, 3, 5};
    for (int i = 0; i <= 2; ++i) EXPECT_EQ(lp->kAt[i], kAt[i]);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(lp->iAt[k], iAt[k]);
        EXPECT_EQ(lp->At[k], At[k]);
    }
    // The initial point exists, with the automatic bndpush of an LP.
    EXPECT_EQ(lp->bndpush, 100.0);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(lp->g[j], 100.0);
    closelp(lp);
}

TEST(IpmSetup, DefaultLabelsOfLargeIndicesFitTheirBuffers) {
    char *a = ipm::default_label('R', 12, "rowlab[i]");
    EXPECT_STREQ(a, "R12     ");
    char *b = ipm::default_label('C', 9999999, "collab[j]");
    EXPECT_STREQ(b, "C9999999");
    char *c = ipm::default_label('R', 10000000, "rowlab[i]");
    EXPECT_STREQ(c, "R10000000");
    char *d = ipm::default_label('C', INT_MAX, "collab[j]");
    EXPECT_STREQ(d, "C2147483647");
    for (char *p : {a, b, c, d}) std::free(p);
}

TEST(IpmSetup, BoundClampingClassesAndStatistics) {
    dense_problem d;
    d.m = 4;
    d.n = 4;
    d.A = {{1, 1, 1, 1}, {1, -1, 0, 0}, {0, 0, 1, 1}, {1, 0, 0, 1}};
    d.b = {-10, 0, 1, -inf};
    d.r = {inf, 0, 5, inf};  // ineq, eq, ranged, free row
    d.c = {1, 1, 1, 1};
    d.l = {-1e8, -1.0000001e8, 0, -inf};
    d.u = {1e9, 1e8, 1e8 + 1, 3};
    LP *lp = make_lp(d);
    lp->verbose = 2;
    lp->itnlim = 0;
    ::testing::internal::CaptureStdout();
    solvelp(lp);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(lp->l[0], -1e8);
    EXPECT_EQ(lp->l[1], -inf);
    EXPECT_EQ(lp->u[0], inf);
    EXPECT_EQ(lp->u[1], 1e8);
    EXPECT_EQ(lp->u[2], inf);
    const int bnd[] = {2, 4, 2, 4};
    for (int j = 0; j < 4; ++j) EXPECT_EQ(lp->bndmark[j], bnd[j]) << j;
    const int rng[] = {2, 1, 1, 4};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lp->rngmark[i], rng[i]) << i;
    const std::string stats =
        "variables: non-neg      2,  free        0,  bdd          0,  total        4\n"
        "constraints: eq         1,  ineq        1,  ranged       1,  total        4\n"
        "nonzeros:    A         10,  Q           0\n";
    EXPECT_EQ(out.substr(0, stats.size()), stats);
    closelp(lp);
}

TEST(IpmSetup, AutomaticSettings) {
    struct {
        bool quadratic;
        int pred_corr;
        double mufactor;
        int want_pc;
        double want_mu;
        bool message;
    } cases[] = {
        {false, -1, -1.0, 1, 0.0, false}, {true, -1, -1.0, 0, 0.1, false}, {false, 1, 0.2, 1, 0.0, true},
        {true, 0, -1.0, 0, 0.1, false},   {true, 1, -1.0, 1, 0.0, true},
    };
    for (const auto &cs : cases) {
        dense_problem d;
        d.m = 1;
        d.n = 1;
        d.A = {{1}};
        d.b = {1};
        d.r = {inf};
        d.c = {1};
        if (cs.quadratic) d.Q = {{1}};
        LP *lp = make_lp(d);
        lp->verbose = 0;
        lp->itnlim = 0;
        lp->pred_corr = cs.pred_corr;
        lp->mufactor = cs.mufactor;
        ::testing::internal::CaptureStdout();
        solvelp(lp);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(lp->pred_corr, cs.want_pc);
        EXPECT_EQ(lp->mufactor, cs.want_mu);
        EXPECT_EQ(lp->honor_bnds, 0);
        EXPECT_EQ(out, cs.message ? "setting mufactor = 0, since pred_corr = 1 \n" : "");
        EXPECT_EQ(lp->bndpush, cs.quadratic ? 1.0 : 100.0);
        closelp(lp);
    }
}

TEST(IpmSetup, SettingsDumpAtVerbose3) {
    LP *lp = make_lp(dense_problem{1, 1, {{1}}, {1}, {inf}, {1}, {}, {}, {}, 0.0});
    lp->verbose = 3;
    lp->itnlim = 0;
    ::testing::internal::CaptureStdout();
    solvelp(lp);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string dump = "max= 1 \npred_corr= 1 \nsf_req= 8 \nitnlim= 0 \nverbose= 3 \nmethod= 1 \n"
                             "dense=-1 \npdf= 0 \nhonor_bnds= 0 \nhonor_bnds_init= -1 \nconvex= 0 \n"
                             "quadratic =  0 \n"
                             "inftol= 1.000e-05 \ninftol2= 1.000e+05 \nsteplen= 9.500e-01 \n"
                             "mufactor= 0.000e+00 \ntimlim=       inf \nepssol= 1.000e-06 \n"
                             "epsnum= 0.000e+00 \nepscdn= 1.000e-12 \nepsdiag= 1.000e-10 \n"
                             "stablty= 1.000e+00 \nbndpush= 1.000e+02 \n";
    EXPECT_NE(out.find(dump), std::string::npos) << out;
    closelp(lp);
}

namespace {

// A data error of the set-up comes back to the caller with its code and the text the
// programs print; the record stays valid for closelp (the sanitizer build checks that
// nothing leaks).
void expect_data_error(LP *lp, int code, const std::string &output) {
    lp->verbose = 0;
    const std::optional<error> e = thrown_by([lp] { solvelp(lp); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->kind(), error_kind::data);
    EXPECT_EQ(e->code(), code);
    EXPECT_EQ(e->output(), output);
    closelp(lp);
}

} // namespace

TEST(IpmSetup, RepeatedEntryIsError40) {
    expect_data_error(bare_record({{{0, 1.0}}, {{3, 1.0}, {1, 2.0}, {3, 5.0}}}, 4), 40,
                      "ORVA ERROR(40): multiple entry in matrix at (R3      ,C1      ) \n"
                      "(these labels may be incorrect unless NOPREP is set) \n\n");
}

TEST(IpmSetup, LongLabelsInErrorMessagesDoNotOverrun) {
    const std::string longrow(400, 'r'), longcol(300, 'c');
    LP *lp = bare_record({{{0, 1.0}, {0, 2.0}}}, 1);
    lp->rowlab = xmalloc<char *>("rowlab", "m", 1);
    lp->rowlab[0] = strdup(longrow.c_str());
    lp->collab = xmalloc<char *>("collab", "n", 1);
    lp->collab[0] = strdup(longcol.c_str());
    expect_data_error(lp, 40, "ORVA ERROR(40): multiple entry in matrix at (" + longrow + "," + longcol +
                                  ") \n(these labels may be incorrect unless NOPREP is set) \n\n");

    lp = bare_record({{{0, 1.0}}}, 1);
    lp->rowlab = xmalloc<char *>("rowlab", "m", 1);
    lp->rowlab[0] = strdup(longrow.c_str());
    lp->r = xmalloc<double>("r", "m", 1);
    lp->r[0] = -1;
    expect_data_error(lp, 31, "ORVA ERROR(31): negative ranges not allowed: " + longrow + " \n\n");
}

TEST(IpmSetup, NegativeOrUndefinedRangeIsError31) {
    for (double bad : {-1e-9, std::nan("")}) {
        dense_problem d;
        d.m = 3;
        d.n = 1;
        d.A = {{1}, {1}, {1}};
        d.b = {0, 0, 0};
        d.r = {0, 1, bad};
        expect_data_error(make_lp(d), 31, "ORVA ERROR(31): negative ranges not allowed: R2       \n\n");
    }
}
