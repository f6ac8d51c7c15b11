#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "files/mps.h"
#include "lp/alloc.h"
#include "lp/lp.h"
#include "mps_lines.h"
#include "testlp.h"

using namespace orva;
using orva::testing::dense_problem;
using orva::testing::make_lp;
using orva::testing::thrown_by;

namespace {

constexpr double inf = orva::testing::inf;

std::string slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void set_labels(LP *lp, const std::vector<std::string> &rows, const std::vector<std::string> &cols) {
    lp->rowlab = xmalloc<char *>("rowlab", "m", lp->m);
    lp->collab = xmalloc<char *>("collab", "n", lp->n);
    for (int i = 0; i < lp->m; ++i) {
        lp->rowlab[i] = xmalloc<char>("s", "len", static_cast<long long>(rows[i].size()) + 1);
        std::snprintf(lp->rowlab[i], rows[i].size() + 1, "%s", rows[i].c_str());
    }
    for (int j = 0; j < lp->n; ++j) {
        lp->collab[j] = xmalloc<char>("s", "len", static_cast<long long>(cols[j].size()) + 1);
        std::snprintf(lp->collab[j], cols[j].size() + 1, "%s", cols[j].c_str());
    }
}

std::string write_text(const LP *lp) {
    const std::string path = orva::testing::scratch_dir("mpsw") + "/out.mps";
    EXPECT_EQ(writelp(lp, path.c_str()), 0);
    return slurp(path);
}

} // namespace

TEST(MpsWriter, LayoutOfEverySection) {
    dense_problem p;
    p.m = 3;
    p.n = 4;
    // Column 0: c = 3 and entries in R0, R1, R2; column 1 empty with c = 0; column 2 with
    // c = 0 and one entry; column 3 empty with c = 5.
    p.A = {{1, 0, 0, 0}, {2, 0, 0, 0}, {4, 0, 6, 0}};
    p.c = {3, 0, 0, 5};
    p.b = {1, -2, 7};
    p.r = {0, inf, 2};
    p.l = {-inf, -inf, 2, 0};
    p.u = {5, inf, 2, inf};
    p.Q = {{2, 1, 0, 0}, {1, 3, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
    LP *lp = make_lp(p);
    set_labels(lp, {"R0", "R1", "R2"}, {"X0", "X1", "X2", "X3"});
    std::snprintf(lp->name, sizeof lp->name, "TEST");
    std::snprintf(lp->obj, sizeof lp->obj, "COST");
    std::snprintf(lp->rhs, sizeof lp->rhs, "RHS");
    std::snprintf(lp->ranges, sizeof lp->ranges, "RNG");
    std::snprintf(lp->bounds, sizeof lp->bounds, "BND");
    EXPECT_EQ(write_text(lp), "NAME              TEST\n"
                              "ROWS\n"
                              " N      COST\n"
                              " E        R0\n"
                              " G        R1\n"
                              " G        R2\n"
                              "COLUMNS\n"
                              "          X0      COST   3.00000e+00         R0   1.00000e+00\n"
                              "          X0        R1   2.00000e+00         R2   4.00000e+00\n"
                              "          X2        R2   6.00000e+00\n"
                              "          X3      COST   5.00000e+00\n"
                              "RHS\n"
                              "         RHS        R0   1.00000e+00         R1  -2.00000e+00\n"
                              "         RHS        R2   7.00000e+00\n"
                              "BOUNDS\n"
                              " MI      BND        X0 \n"
                              " UP      BND        X0   5.00000e+00 \n"
                              " FR      BND        X1 \n"
                              " LO      BND        X2   2.00000e+00 \n"
                              " UP      BND        X2   2.00000e+00 \n"
                              "RANGES\n"
                              "         RNG        R2   2.00000e+00 \n"
                              "QUADS\n"
                              "          X0        X0   2.00000e+00         X1   1.00000e+00\n"
                              "          X1        X1   3.00000e+00\n"
                              "ENDATA\n");
    // A maximisation starts with MAX; an objective constant goes on the objective row.
    lp->max = -1;
    lp->f = 2.5;
    const std::string text = write_text(lp);
    EXPECT_EQ(text.rfind("MAX\nNAME", 0), 0u);
    EXPECT_NE(text.find("RHS\n         RHS      COST  -2.50000e+00         R0   1.00000e+00\n"
                        "         RHS        R1  -2.00000e+00         R2   7.00000e+00\nBOUNDS\n"),
              std::string::npos);
    closelp(lp);
}

TEST(MpsWriter, RoundTripThroughTheReader) {
    dense_problem p;
    p.m = 4;
    p.n = 3;
    p.A = {{1, -2, 0}, {0, 3, 0.5}, {4, 0, -1}, {0, 0, 1}};
    p.c = {1, 0, -2};
    p.b = {1, -2, 3.25, -inf};  // the last row is free
    p.r = {0, inf, 4, inf};
    p.l = {-inf, 1.5, -3};
    p.u = {2, 1.5, inf};
    p.f = -4;
    p.Q = {{2, 0, -1}, {0, 0, 0}, {-1, 0, 6}};
    LP *lp = make_lp(p);
    set_labels(lp, {"EQ", "GE", "RANGED", "FREE"}, {"A", "B", "C"});
    std::snprintf(lp->obj, sizeof lp->obj, "OBJ");
    const std::string dir = orva::testing::scratch_dir("mps-round");
    const std::string path = dir + "/round.mps";
    ASSERT_EQ(writelp(lp, path.c_str()), 0);
    std::string out;
    LP *back = mpstest::read_files({path}, &out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(back->m, lp->m);
    ASSERT_EQ(back->n, lp->n);
    ASSERT_EQ(back->nz, lp->nz);
    EXPECT_EQ(back->f, lp->f);
    for (int i = 0; i < lp->m; ++i) {
        EXPECT_EQ(back->b[i], lp->b[i]) << i;
        EXPECT_EQ(back->r[i], lp->r[i]) << i;
        EXPECT_EQ(std::string(back->rowlab[i]).find(lp->rowlab[i]) != std::string::npos, true);
    }
    for (int j = 0; j < lp->n; ++j) {
        EXPECT_EQ(back->c[j], lp->c[j]) << j;
        EXPECT_EQ(back->l[j], lp->l[j]) << j;
        EXPECT_EQ(back->u[j], lp->u[j]) << j;
        for (int i = 0; i < lp->m; ++i) EXPECT_EQ(mpstest::entry(back, i, j), mpstest::entry(lp, i, j));
        for (int i = 0; i < lp->n; ++i) EXPECT_EQ(mpstest::qentry(back, i, j), mpstest::qentry(lp, i, j));
    }
    EXPECT_EQ(back->qnz, lp->qnz);
    closelp(back);
    closelp(lp);
}

TEST(MpsWriter, RecordWithoutLabelsOrOptionalArrays) {
    dense_problem p;
    p.m = 1;
    p.n = 2;
    p.A = {{1, 1}};
    LP *lp = make_lp(p);  // no b, c, r, l, u, labels or Q
    EXPECT_EQ(write_text(lp), "NAME                  \n"
                              "ROWS\n"
                              " N          \n"
                              " E  R0      \n"
                              "COLUMNS\n"
                              "    C0        R0         1.00000e+00\n"
                              "    C1        R0         1.00000e+00\n"
                              "RHS\nBOUNDS\nRANGES\nQUADS\nENDATA\n");
    closelp(lp);
}

TEST(MpsWriter, UnopenablePathIsError2) {
    LP *lp = make_lp(dense_problem{});
    const std::optional<error> e = thrown_by([lp] { writelp(lp, "/nonexistent/dir/out.mps"); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->output(), "ORVA ERROR(2): cannot open file /nonexistent/dir/out.mps\n\n");
    closelp(lp);
}

TEST(MpsWriter, LongLabelsAreCutToTheirFields) {
    // The free column of an F row is labelled "f." and the row's 8-character label: ten
    // characters, cut to eight when written so that the columns stay aligned.
    const std::string dir = orva::testing::scratch_dir("mps-fit");
    using mpstest::line;
    const std::string in = mpstest::write_file(dir, "fit.mps",
                                               "NAME          FIT\nROWS\n" + line("N", "OBJ") + line("F", "ROW1") +
                                                   "COLUMNS\n" + line("", "X", "ROW1", "2.", "OBJ", "1.") + "RHS\n" +
                                                   line("", "RHS", "ROW1", "3.") + "ENDATA\n");
    LP *lp = mpstest::read_files({in});
    ASSERT_EQ(lp->n, 2);
    EXPECT_STREQ(lp->collab[1], "f.ROW1    ");
    const std::string out = dir + "/back.mps";
    ASSERT_EQ(writelp(lp, out.c_str()), 0);
    std::string printed;
    LP *back = mpstest::read_files({out}, &printed);
    EXPECT_EQ(printed, "");
    ASSERT_EQ(back->n, 2);
    EXPECT_STREQ(back->collab[1], "f.ROW1  ");
    EXPECT_EQ(mpstest::entry(back, 0, 1), -1.0);
    EXPECT_EQ(back->l[1], -inf);
    EXPECT_EQ(back->u[1], inf);
    EXPECT_EQ(mpstest::qentry(back, 1, 1), 1.0);
    EXPECT_EQ(back->b[0], 3.0);
    EXPECT_EQ(back->r[0], 0.0);
    EXPECT_EQ(back->c[0], 1.0);
    closelp(back);
    closelp(lp);
}
