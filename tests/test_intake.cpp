// Reading .nl problems into the lp record: every field the intake writes, checked
// against the file it was read from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "aslprobe.h"
#include "intake.h"
#include "nlfile.h"
#include "testlp.h"

#include "driver/ampl.h"
#include "lp/lp.h"


using namespace orva;
using namespace orva::testing;

namespace {

// Five rows of every kind and five variables of every kind:
//   r0:  2 <= x0 + 2 x1            r3: 1 <= 3 x3 + x1 <= 3   (range)
//   r1:  x0 - x2 <= 5   (negated)  r4:  free row x2 + x3
//   r2:  x2 + x3 = 4
//   x0 >= 0, x1 <= 3 (negated), x2 free, 1 <= x3 <= 2, x4 >= 0 with no entries.
nl_model rows_and_bounds() {
    nl_model p;
    p.n = 5;
    nl_row r0, r1, r2, r3, r4;
    r0.lin = {{0, 1.0}, {1, 2.0}};
    r0.lo = 2;
    r1.lin = {{0, 1.0}, {2, -1.0}};
    r1.up = 5;
    r2.lin = {{2, 1.0}, {3, 1.0}};
    r2.lo = r2.up = 4;
    r3.lin = {{1, 1.0}, {3, 3.0}};
    r3.lo = 1;
    r3.up = 3;
    r4.lin = {{2, 1.0}, {3, 1.0}};
    p.rows = {r0, r1, r2, r3, r4};
    nl_objective o;
    o.lin = {{0, 1.0}, {1, -2.0}, {3, 0.5}, {4, 7.0}};
    o.expr = "n2.5\n";  // objective constant
    p.objs = {o};
    p.bounds = {{0, inf}, {-inf, 3}, {-inf, inf}, {1, 2}, {0, inf}};
    return p;
}

} // namespace

TEST(Intake, RowsBoundsAndMatrixAsRead) {
    const std::string dir = scratch_dir("intake");
    const std::string stem = write_nl(dir, "rb", rows_and_bounds());
    ampl_intake in(stem);
    LP *lp = in.lp;
    ASSERT_EQ(lp->m, 5);
    ASSERT_EQ(lp->n, 5);
    ASSERT_EQ(lp->nz, 10);
    EXPECT_EQ(lp->lincons, 1);
    EXPECT_EQ(lp->quadratic, 0);
    // Rows: lower side and range; r1 turned into -x0 + x2 >= -5; the free row, having no
    // finite lower side, is negated too and stays free.
    EXPECT_EQ(in.dbls(lp->b, 5), (std::vector<double>{2, -5, 4, 1, -inf}));
    EXPECT_EQ(in.dbls(lp->r, 5), (std::vector<double>{inf, inf, 0, 2, inf}));
    // Variables: x1 <= 3 became -x1 >= -3.
    EXPECT_EQ(in.dbls(lp->l, 5), (std::vector<double>{0, -3, -inf, 1, 0}));
    EXPECT_EQ(in.dbls(lp->u, 5), (std::vector<double>{inf, inf, inf, 2, inf}));
    EXPECT_EQ(in.ints(lp->varsgn, 5), (std::vector<int>{1, 1, 1, 1, 1}));
    // Matrix by columns, in the ASL's column order; rows 1 and 4 and column 1 negated.
    EXPECT_EQ(in.ints(lp->kA, 6), (std::vector<int>{0, 2, 4, 7, 10, 10}));
    EXPECT_EQ(in.ints(lp->iA, 10), (std::vector<int>{0, 1, 0, 3, 1, 2, 4, 2, 3, 4}));
    EXPECT_EQ(in.dbls(lp->A, 10), (std::vector<double>{1, -1, -2, -1, 1, 1, -1, 1, 3, -1}));
    // Row starts of the transpose (counts of rows before each row).
    EXPECT_EQ(in.ints(lp->kAt, 6), (std::vector<int>{0, 2, 4, 6, 8, 10}));
    // Objective: coefficients (x1's negated), constant, sense.
    EXPECT_EQ(in.dbls(lp->c, 5), (std::vector<double>{1, 2, 0, 0.5, 7}));
    EXPECT_EQ(lp->f, 2.5);
    EXPECT_EQ(lp->max, 1);
    EXPECT_EQ(lp->x, nullptr);
    EXPECT_EQ(lp->y, nullptr);
    // The ASL evaluates the negated row and variable consistently with the record.
    // x holds the solver's variables: x1 is the negated model variable.
    double x[5] = {1, -2, 3, 1.5, 0}, body[5];
    ASSERT_TRUE(asl_conval(in.asl, x, body));
    EXPECT_DOUBLE_EQ(body[0], 1.0 + 2.0 * 2.0);       // model x1 = 2
    EXPECT_DOUBLE_EQ(body[1], -(1.0 - 3.0));          // row 1 negated
    EXPECT_DOUBLE_EQ(body[3], 2.0 + 3.0 * 1.5);
    EXPECT_DOUBLE_EQ(asl_objval(in.asl, 0, x), 2.5 + 1.0 + (-2.0) * 2.0 + 0.5 * 1.5);
}

TEST(Intake, SettingsAndSenseSelection) {
    const std::string dir = scratch_dir("intake-sense");
    nl_model p = rows_and_bounds();
    p.objs[0].maximize = true;
    nl_objective second;
    second.lin = {{2, 4.0}};
    p.objs.push_back(second);
    const std::string stem = write_nl(dir, "sense", p);
    {
        ampl_intake in(stem);  // the model maximises
        EXPECT_EQ(in.lp->max, -1);
        EXPECT_EQ(in.lp->verbose, 0);
        EXPECT_EQ(in.lp->inftol, 1e-6);
        EXPECT_EQ(in.lp->inftol2, 1e8);
        EXPECT_EQ(in.lp->honor_bnds_init, 0);
        EXPECT_EQ(in.lp->epscdn, 1e-12);
    }
    {
        ampl_intake in(stem, {"min"});  // an explicit min overrides the model
        EXPECT_EQ(in.lp->max, 1);
    }
    {
        ampl_intake in(stem, {"objno=2"});  // second objective, which minimises
        EXPECT_EQ(in.lp->max, 1);
        EXPECT_EQ(in.dbls(in.lp->c, 5), (std::vector<double>{0, 0, 4, 0, 0}));
        EXPECT_EQ(in.lp->f, 0.0);
    }
    {
        ampl_intake in(stem, {"objno=2", "max"});
        EXPECT_EQ(in.lp->max, -1);
    }
    {
        ampl_intake in(stem, {"objno=0"});  // no objective: zero costs, sense -1 unless min given
        EXPECT_EQ(in.dbls(in.lp->c, 5), (std::vector<double>(5, 0.0)));
        EXPECT_EQ(in.lp->f, 0.0);
        EXPECT_EQ(in.lp->max, -1);
        EXPECT_EQ(asl_obj_no(in.asl), -1);
    }
    {
        ampl_intake in(stem, {"objno=0", "minimize"});
        EXPECT_EQ(in.lp->max, 1);
    }
    {
        ampl_intake in(stem, {"objno=3"});  // beyond the number of objectives: none
        EXPECT_EQ(asl_obj_no(in.asl), -1);
    }
    {
        // Later words override earlier ones for a shared setting; every keyword lands.
        ampl_intake in(stem, {"maxit=50", "iterlim=70", "noreord", "mindeg", "outlev=2",
                         "verbose=3", "timlim=12.5", "dual", "primal", "sigfig=6",
                         "inftol=1e-7", "inftol2=1e3", "mufactor=0.2", "pred_corr=0",
                         "steplen=0.9", "epssol=1e-9", "epsnum=1e-12", "epsdiag=1e-11",
                         "stablty=0.5", "dense=40", "bndpush=3", "honor_bnds=1",
                         "honor_bnds_init=1", "convex", "sdp", "penalty=4",
                         "obj=ABCDEFGHIJKLMN", "rhs=RHS1", "ranges=RNG", "bounds=BND"});
        LP *lp = in.lp;
        EXPECT_EQ(lp->itnlim, 70);
        EXPECT_EQ(lp->method, 1);
        EXPECT_EQ(lp->verbose, 3);
        EXPECT_EQ(lp->timlim, 12.5);
        EXPECT_EQ(lp->pdf, 1);
        EXPECT_EQ(lp->sf_req, 6);
        EXPECT_EQ(lp->inftol, 1e-7);
        EXPECT_EQ(lp->inftol2, 1e3);
        EXPECT_EQ(lp->mufactor, 0.2);
        EXPECT_EQ(lp->pred_corr, 0);
        EXPECT_EQ(lp->steplen, 0.9);
        EXPECT_EQ(lp->epssol, 1e-9);
        EXPECT_EQ(lp->epsnum, 1e-12);
        EXPECT_EQ(lp->epsdiag, 1e-11);
        EXPECT_EQ(lp->stablty, 0.5);
        EXPECT_EQ(lp->dense, 40);
        EXPECT_EQ(lp->bndpush, 3.0);
        EXPECT_EQ(lp->honor_bnds, 1);
        EXPECT_EQ(lp->honor_bnds_init, 1);
        EXPECT_EQ(lp->convex, 1);
        EXPECT_EQ(lp->sdp, 1);
        EXPECT_EQ(lp->penalty, 4.0);
        EXPECT_STREQ(lp->obj, "ABCDEFGHIJ");
        EXPECT_STREQ(lp->rhs, "RHS1");
        EXPECT_STREQ(lp->ranges, "RNG");
        EXPECT_STREQ(lp->bounds, "BND");
        EXPECT_EQ(lp->max, -1);  // still the model's sense
    }
    {
        ampl_intake in(stem, {"minlocfil", "timlim=0"});
        EXPECT_EQ(in.lp->method, 2);
        EXPECT_EQ(in.lp->timlim, 0.0);
        EXPECT_STREQ(in.lp->obj, "");
    }
    {
        ampl_intake in(stem, {"noreord"});
        EXPECT_EQ(in.lp->method, 0);
    }
}

TEST(Intake, InitialGuesses) {
    const std::string dir = scratch_dir("intake-guess");
    nl_model p = rows_and_bounds();
    p.x0 = {{0, 1.5}, {1, -2.0}, {3, 1.25}};
    p.y0 = {{1, 3.0}, {3, -0.5}};
    const std::string stem = write_nl(dir, "guess", p);
    {
        ampl_intake in(stem);
        ASSERT_NE(in.lp->x, nullptr);
        ASSERT_NE(in.lp->y, nullptr);
        EXPECT_EQ(in.lp->x, in.guess_x());
        EXPECT_EQ(in.lp->y, in.guess_y());
        // x1 is negated, so its guess is too; row 1 is negated, so its dual is too.
        EXPECT_EQ(in.dbls(in.lp->x, 5), (std::vector<double>{1.5, 2.0, 0, 1.25, 0}));
        EXPECT_EQ(in.dbls(in.lp->y, 5), (std::vector<double>{0, -3.0, 0, -0.5, 0}));
    }
    {
        ampl_intake in(stem, {"zero_initsol"});
        ASSERT_NE(in.lp->x, nullptr);
        EXPECT_NE(in.lp->x, in.guess_x());
        EXPECT_EQ(in.dbls(in.lp->x, 5), (std::vector<double>(5, 0.0)));
        EXPECT_EQ(in.lp->y, in.guess_y());
    }
    {
        ampl_intake in(stem, {"ignore_initsol", "zero_initsol"});
        EXPECT_EQ(in.lp->x, nullptr);
        EXPECT_EQ(in.lp->y, nullptr);
    }
}

TEST(Intake, ProblemTypeAndDegree) {
    const std::string dir = scratch_dir("intake-type");
    // Quadratic objective x0^2 + x0 x1 with a linear row: a QP.
    nl_model qp;
    qp.n = 2;
    qp.nnl = 2;
    nl_row r;
    r.lin = {{0, 1.0}, {1, 1.0}};
    r.lo = 1;
    qp.rows = {r};
    nl_objective qo;
    qo.expr = "o0\no5\nv0\nn2\no2\nv0\nv1\n";
    qp.objs = {qo};
    const std::string qstem = write_nl(dir, "qp", qp);
    {
        ampl_intake in(qstem, {"outlev=1"});
        EXPECT_EQ(in.lp->quadratic, 1);
        EXPECT_EQ(in.lp->lincons, 1);
        EXPECT_NE(in.out.find("It's a QP.\n"), std::string::npos) << in.out;
        EXPECT_EQ(objective_degree(in.asl, qstem.c_str(), 0), 2);
    }
    {
        ampl_intake in(qstem);  // quiet at outlev 0
        EXPECT_EQ(in.lp->quadratic, 1);
        EXPECT_EQ(in.out.find("QP"), std::string::npos);
    }
    {
        ampl_intake in(qstem, {"objno=0"});  // no objective selected: not a QP
        EXPECT_EQ(in.lp->quadratic, 0);
    }
    // exp(x0) + x1: a general nonlinear objective.
    nl_model nlp = qp;
    nlp.objs[0].expr = "o44\nv0\n";
    nlp.objs[0].lin = {{1, 1.0}};
    const std::string nstem = write_nl(dir, "nlp", nlp);
    {
        ampl_intake in(nstem);
        EXPECT_EQ(in.lp->quadratic, 0);
        EXPECT_EQ(in.lp->lincons, 1);
        EXPECT_EQ(objective_degree(in.asl, nstem.c_str(), 0), 3);
    }
    // A nonlinear constraint x0*x1 >= 1 with the quadratic objective: neither flag.
    nl_model qc = qp;
    nl_row nr;
    nr.expr = "o2\nv0\nv1\n";
    nr.lo = 1;
    qc.rows.insert(qc.rows.begin(), nr);
    const std::string cstem = write_nl(dir, "qc", qc);
    {
        ampl_intake in(cstem, {"outlev=1"});
        EXPECT_EQ(in.lp->quadratic, 0);
        EXPECT_EQ(in.lp->lincons, 0);
        EXPECT_EQ(in.out.find("QP"), std::string::npos);
    }
    // A linear objective has degree 1.
    const std::string lstem = write_nl(dir, "lp", rows_and_bounds());
    {
        ampl_intake in(lstem);
        EXPECT_EQ(objective_degree(in.asl, lstem.c_str(), 0), 1);
        // The pfgh record is current again and still evaluates.
        EXPECT_EQ(asl_current(), in.asl);
        double x[5] = {0, 0, 0, 0, 0};
        EXPECT_DOUBLE_EQ(asl_objval(in.asl, 0, x), 2.5);
    }
}

// The check of the file tells the objective's degree as the ASL's reader of quadratic
// problems does (in both forms of the file), or leaves it unknown; the intake then asks
// the ASL.  0 constant, 1 linear, 2 quadratic, 3 anything else, -1 unknown.
TEST(Intake, ObjectiveDegreeFromTheCheckOfTheFile) {
    const std::string dir = scratch_dir("intake-degree");
    const struct {
        const char *expr;
        int degree;
    } cases[] = {
        {"o5\nv0\nn2\n", 2},                                // x0^2
        {"o2\nn3\no2\nv0\nv1\n", 2},                        // 3 (x0 x1)
        {"o3\no5\nv0\nn2\nn4\n", 2},                        // x0^2 / 4
        {"o16\no1\no5\nv0\nn2\no2\nv1\nv2\n", 2},          // -(x0^2 - x1 x2)
        {"o54\n3\no5\nv0\nn2\nv1\no2\nv1\nv2\n", 2},       // sum of three terms
        {"o5\no0\nv0\nv1\nn2\n", 2},                        // (x0 + x1)^2
        {"o5\nv0\nn3\n", 3},                                // x0^3
        {"o5\no2\nv0\nv1\nn2\n", 3},                        // (x0 x1)^2
        {"o2\no2\nv0\nv1\nv2\n", 3},                        // x0 x1 x2
        {"o3\nv0\nv1\n", 3},                                // x0 / x1
        {"o5\nn2\nv0\n", 3},                                // 2^x0
        {"o44\nv0\n", 3},                                    // exp(x0)
        {"o2\nn2\nn3\n", 0},                                // a constant product
        {"o5\nv0\no16\nn-2\n", -1},                         // an exponent the reader may fold
    };
    for (const auto &t : cases) {
        nl_model p;
        p.n = 3;
        p.nnl = 3;
        nl_row r;
        r.lin = {{0, 1.0}, {1, 1.0}, {2, 1.0}};
        r.lo = 1;
        p.rows = {r};
        nl_objective o;
        o.expr = t.expr;
        p.objs = {o};
        const std::string stem = write_nl(dir, "deg", p);
        ampl_intake in(stem);
        const int asl = objective_degree(in.asl, stem.c_str(), 0);
        EXPECT_EQ(in.lp->quadratic, asl == 2 ? 1 : 0) << t.expr;
        if (t.degree >= 0) {
            EXPECT_EQ(t.degree == 2, asl == 2) << t.expr;
        }
        const nl_counts cnt = asl_counts(in.asl);
        for (const bool binary : {false, true}) {
            const std::string path = dir + (binary ? "/deg.bin" : "/deg.nl");
            if (binary) std::ofstream(path, std::ios::binary) << nl_binary(nl_text(p));
            std::FILE *f = std::fopen(path.c_str(), "rb");
            ASSERT_NE(f, nullptr);
            char why[200] = "";
            nl_degree deg;
            deg.objective = 0;
            const long long at = binary ? nl_binary_check(f, cnt, why, sizeof why, &deg)
                                        : nl_segments_check(f, cnt, why, sizeof why, &deg);
            std::fclose(f);
            EXPECT_EQ(at, binary ? -1 : 0) << why;
            EXPECT_EQ(deg.value, t.degree) << t.expr << (binary ? " (binary)" : "");
        }
    }
}

TEST(Intake, IntegralityIsReportedAndIgnored) {
    const std::string dir = scratch_dir("intake-int");
    nl_model p = rows_and_bounds();
    p.nbv = 1;
    p.niv = 1;
    const std::string stem = write_nl(dir, "int", p);
    ampl_intake in(stem);
    EXPECT_NE(in.out.find("ignoring integrality of 2 variables\n"), std::string::npos) << in.out;
    EXPECT_EQ(in.lp->n, 5);
}
