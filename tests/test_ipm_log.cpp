// The iteration log and the diagnostic output of the verbose levels: exact text at
// levels 1, 2 and 3 on a tiny problem, the iterate files, the dumps of levels 4 and 5,
// and the final message.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ipm/ipm.h"
#include "ipm_testutil.h"
#include "lp/lp.h"
#include "testlp.h"

using namespace orva;
using namespace orva::testing;

namespace {

const std::string HEADER =
    "-----------------------------------------------------------------------------\n"
    "     |         Primal          |           Dual          | Sig               \n"
    "Iter |  Obj Value     Infeas   |   Obj Value     Infeas  | Fig  Status  P   M\n"
    "- - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - -\n";

const std::string STATS = "variables: non-neg      2,  free        0,  bdd          0,  total        2\n"
                          "constraints: eq         0,  ineq        2,  ranged       0,  total        2\n"
                          "nonzeros:    A          4,  Q           0\n";

// The iteration reports as the stopping rule saw them, turned into log lines.
std::vector<std::string> expected_lines;
int recording_rule(LP *lp) {
    char buf[200];
    int k = std::snprintf(buf, sizeof buf, "%3u  %14.6e  %8.1e   %14.6e  %8.1e   ", (unsigned)lp->iter,
                          lp->primal_obj, lp->primal_inf, lp->dual_obj, lp->dual_inf);
    k += lp->sigfig > 0 ? std::snprintf(buf + k, sizeof buf - k, "%2d ", lp->sigfig)
                        : std::snprintf(buf + k, sizeof buf - k, "   ");
    std::snprintf(buf + k, sizeof buf - k, "  %2s %2s      ", lp->primal_inf <= lp->inftol ? "PF" : "  ",
                  lp->dual_inf <= lp->inftol ? "DF" : "  ");
    expected_lines.push_back(buf);
    return deflt_st_rule(lp);
}

std::string solve_captured(int verbose, int *rc = nullptr, LP **keep = nullptr) {
    expected_lines.clear();
    LP *lp = make_lp(small_lp());
    lp->verbose = verbose;
    lp->st_rule = recording_rule;
    ::testing::internal::CaptureStdout();
    const int r = solvelp(lp);
    const std::string out = ::testing::internal::GetCapturedStdout();
    if (rc) *rc = r;
    if (keep)
        *keep = lp;
    else
        closelp(lp);
    return out;
}

std::string joined(const std::vector<std::string> &lines) {
    std::string s;
    for (const auto &l : lines) s += l + "\n";
    return s;
}

int count(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

} // namespace

TEST(IpmLog, Verbose1PrintsIterationLinesOnly) {
    int rc = -1;
    const std::string out = solve_captured(1, &rc);
    EXPECT_EQ(rc, 0);
    ASSERT_GE(expected_lines.size(), 3u);
    EXPECT_EQ(out, joined(expected_lines));
    // The first line of this problem: the origin, primal feasible, dual objective from
    // the complementarity of the initial point.
    EXPECT_EQ(expected_lines[0],
              "  1    0.000000e+00   0.0e+00    -1.000000e+03   0.0e+00        PF DF      ");
}

TEST(IpmLog, Verbose2AddsStatisticsHeaderAndFinalMessage) {
    const std::string out = solve_captured(2);
    // The first factorization reports the size of L after the first iteration line.
    std::vector<std::string> with_factor = expected_lines;
    ASSERT_GE(with_factor.size(), 2u);
    with_factor.insert(with_factor.begin() + 1, "nonzeros:    L          5,  arith_ops                 28");
    EXPECT_EQ(out, STATS + HEADER + joined(with_factor) + "----------------------\nOPTIMAL SOLUTION FOUND\n");
}

TEST(IpmLog, Verbose0PrintsNothing) { EXPECT_EQ(solve_captured(0), ""); }

TEST(IpmLog, Verbose3DumpsSettingsStepLengthsAndIterateFiles) {
    const std::string dir = scratch_dir("ipmlog3");
    const child_result r = in_child(
        [] {
            LP *lp = nullptr;
            const std::string out = solve_captured(3, nullptr, &lp);
            // Hand the parent the expected lines and the final x through the output.
            std::printf("%s", out.c_str());
            std::printf("#LINES\n%s#X", joined(expected_lines).c_str());
            for (int j = 0; j < lp->n; ++j) std::printf("%0.1e\n", lp->x[j]);
            return static_cast<int>(expected_lines.size());
        },
        "", dir);
    const int nlines = r.status;
    ASSERT_GE(nlines, 3);
    const size_t cut = r.out.find("#LINES\n");
    ASSERT_NE(cut, std::string::npos);
    std::string log = r.out.substr(0, cut);
    // The first factorization reports its ordering and the size of L (its own output).
    const size_t f0 = log.find("primal fillin estimate:");
    ASSERT_NE(f0, std::string::npos);
    const size_t f1 = log.find("nonzeros:    L", f0);
    ASSERT_NE(f1, std::string::npos);
    log.erase(f0, log.find('\n', f1) + 1 - f0);
    const size_t xcut = r.out.find("#X");
    const std::vector<std::string> want = lines_of(r.out.substr(cut + 7, xcut - cut - 7));
    const std::string final_x = r.out.substr(xcut + 2);

    const std::string dump = "max= 1 \npred_corr= 1 \nsf_req= 8 \nitnlim=500 \nverbose= 3 \nmethod= 1 \n"
                             "dense=-1 \npdf= 0 \nhonor_bnds= 0 \nhonor_bnds_init= -1 \nconvex= 0 \n"
                             "quadratic =  0 \ninftol= 1.000e-05 \ninftol2= 1.000e+05 \n"
                             "steplen= 9.500e-01 \nmufactor= 0.000e+00 \ntimlim=       inf \n"
                             "epssol= 1.000e-06 \nepsnum= 0.000e+00 \nepscdn= 1.000e-12 \n"
                             "epsdiag= 1.000e-10 \nstablty= 1.000e+00 \nbndpush= 1.000e+02 \n";
    ASSERT_EQ(log.substr(0, STATS.size() + HEADER.size() + dump.size()), STATS + HEADER + dump);
    // Then each iteration line followed by the step lengths of its step, the last line
    // without a step, and the final message.
    const std::vector<std::string> rest = lines_of(log.substr(STATS.size() + HEADER.size() + dump.size()));
    ASSERT_EQ(rest.size(), 2 * want.size() - 1 + 2);
    for (size_t k = 0; k < want.size(); ++k) {
        EXPECT_EQ(rest[2 * k], want[k]);
        if (k + 1 < want.size()) {
            EXPECT_EQ(rest[2 * k + 1].rfind("alphap = ", 0), 0u) << rest[2 * k + 1];
            EXPECT_NE(rest[2 * k + 1].find(", alphad = "), std::string::npos);
        }
    }
    EXPECT_EQ(rest[rest.size() - 2], "----------------------");
    EXPECT_EQ(rest.back(), "OPTIMAL SOLUTION FOUND");

    // One iterate file per iteration; the last holds the final x.
    for (int k = 1; k <= nlines; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "x.%02d", k);
        struct stat st {};
        EXPECT_EQ(stat((dir + "/" + name).c_str(), &st), 0) << name;
    }
    char last[16];
    std::snprintf(last, sizeof last, "x.%02d", nlines);
    EXPECT_EQ(read_file(dir + "/" + last), final_x);
    char beyond[16];
    std::snprintf(beyond, sizeof beyond, "x.%02d", nlines + 1);
    struct stat st {};
    EXPECT_NE(stat((dir + "/" + beyond).c_str(), &st), 0);
}

TEST(IpmLog, UnwritableIterateFileIsError2) {
    const std::string dir = scratch_dir("ipmlogerr");
    mkdir((dir + "/x.01").c_str(), 0755);  // a folder where the file should go
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    LP *lp = make_lp(small_lp());
    lp->verbose = 3;
    ::testing::internal::CaptureStdout();
    const std::optional<error> e = thrown_by([lp] { solvelp(lp); });
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(chdir(here), 0);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->code(), 2);
    EXPECT_EQ(e->output(), "ORVA ERROR(2): cannot open file x.01\n\n");
    EXPECT_EQ(out.find("ORVA ERROR"), std::string::npos);  // printed by the programs only
    closelp(lp);
}

TEST(IpmLog, Verbose4And5Dumps) {
    const std::string dir = scratch_dir("ipmlog45");
    for (int level : {4, 5}) {
        static int L;
        L = level;
        const child_result r = in_child(
            [] {
                LP *lp = make_lp(small_lp());
                lp->verbose = L;
                const int rc = solvelp(lp);
                std::printf("#ITER %d\n", lp->iter);
                return rc;
            },
            "", dir);
        EXPECT_EQ(r.status, 0);
        const size_t at = r.out.find("#ITER ");
        ASSERT_NE(at, std::string::npos);
        const int iters = std::atoi(r.out.c_str() + at + 6);
        EXPECT_EQ(count(r.out, "\nx g z s t: "), iters);
        EXPECT_EQ(count(r.out, "\ny v w p q: "), iters);
        EXPECT_EQ(count(r.out, "\nrngmark: "), iters);
        // The data dump of an iteration: A by columns, then b.
        EXPECT_NE(r.out.find("\nA:     0   -1.00000 \n    1   -3.00000 \n\n    0   -2.00000 \n    1   -1.00000 \n\n"
                             "\nAt: "),
                  std::string::npos);
        EXPECT_NE(r.out.find("\nb:   -4.00000 \n  -6.00000 \n"), std::string::npos);
        EXPECT_NE(r.out.find("\nf:    0.00000 \n"), std::string::npos);
        // Directions: the last after the loop (labelled); at level 5 also the predictor
        // and corrector of every step.
        const int steps = iters - 1;
        EXPECT_EQ(count(r.out, "dx dg dz ds dt: "), level == 4 ? 1 : 1 + 2 * steps);
        EXPECT_EQ(count(r.out, "\ngz st: "), level == 4 ? 1 : 1 + steps);
        EXPECT_NE(r.out.find(" C0       \n"), std::string::npos);
        EXPECT_NE(r.out.find(" R1       \n"), std::string::npos);
    }
}

namespace {
int stop20(LP *) { return 20; }
} // namespace

TEST(IpmLog, CodesWithoutMessagePrintOnlyTheDashes) {
    LP *lp = make_lp(small_lp());
    lp->verbose = 2;
    lp->st_rule = stop20;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(solvelp(lp), 20);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string tail = "   \n----------------------\n";
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    closelp(lp);

    // itnlim = 0: header, no line, the message.
    LP *lp2 = make_lp(small_lp());
    lp2->verbose = 2;
    lp2->itnlim = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(solvelp(lp2), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), STATS + HEADER + "----------------------\nITERATION LIMIT\n");
    closelp(lp2);
}
