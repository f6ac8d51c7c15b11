// The orva-mps program, run as a user would.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "mps_lines.h"
#include "testlp.h"

using mpstest::line;
using orva::testing::bin;
using orva::testing::run;

namespace {

// min -x - 2y  s.t.  x + y <= 4,  x - y >= -2 (ranged: at most 3),  0 <= x <= 3,  y free
// above -1.  Optimum x = 1, y = 3: -7; with the objective constant 10 (RHS -10): 3.
const std::string lp_text = "NAME          SMALL\nROWS\n" + line("N", "COST") + line("L", "CAP") + line("G", "DIFF") +
                            "COLUMNS\n" + line("", "X", "COST", "-1.", "CAP", "1.") + line("", "X", "DIFF", "1.") +
                            line("", "Y", "COST", "-2.", "CAP", "1.") + line("", "Y", "DIFF", "-1.") + "RHS\n" +
                            line("", "RHS", "CAP", "4.", "DIFF", "-2.") + line("", "RHS", "COST", "-10.") +
                            "RANGES\n" + line("", "RNG", "DIFF", "5.") + "BOUNDS\n" + line("UP", "BND", "X", "3.") +
                            line("LO", "BND", "Y", "-1.") + "ENDATA\n";

// min x^2 + xy + y^2 - 3x  s.t. x + y = 1: x = 1.5 - ... solved by hand below.
//   Q = [[2, 1], [1, 2]], c = (-3, 0); with y = 1 - x: x^2 + x(1-x) + (1-x)^2 - 3x
//   = x^2 - 4x + 1, minimum at x = 2: -3.
const std::string qp_text = "NAME          QP\nROWS\n" + line("N", "OBJ") + line("E", "SUM") + "COLUMNS\n" +
                            line("", "X", "OBJ", "-3.", "SUM", "1.") + line("", "Y", "SUM", "1.") + "RHS\n" +
                            line("", "RHS", "SUM", "1.") + "BOUNDS\n" + line("FR", "BND", "X") + line("FR", "BND", "Y") +
                            "QUADOBJ\n" + line("", "X", "X", "2.", "Y", "1.") + line("", "Y", "Y", "2.") + "ENDATA\n";

std::string program() { return bin("orva-mps"); }

std::string slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The value after "key: " on the last line that has it.
double value_of(const std::string &out, const std::string &key) {
    const std::size_t at = out.rfind("\n" + key + ": ");
    if (at == std::string::npos) return NAN;
    return std::atof(out.c_str() + at + key.size() + 3);
}

// The last n lines of a text.
std::string tail(const std::string &text, int n) {
    std::size_t at = text.size();
    if (at && text[at - 1] == '\n') --at;
    for (int k = 0; k < n && at != std::string::npos && at > 0; ++k) at = text.rfind('\n', at - 1);
    return at == std::string::npos ? text : text.substr(at + 1);
}

class MpsProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = orva::testing::scratch_dir("mpsprog");
        lp = mpstest::write_file(dir, "small.mps", lp_text);
        qp = mpstest::write_file(dir, "qp.qps", qp_text);
    }
    std::string dir, lp, qp;
};

} // namespace

TEST_F(MpsProgram, SolvesAndEndsWithTheFourLines) {
    const auto r = run(program() + " " + lp);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Iter |"), std::string::npos);  // the log is on by default
    const std::string end = tail(r.out, 5);
    EXPECT_EQ(end.rfind("OPTIMAL SOLUTION FOUND\nprimal objective: ", 0), 0u) << end;
    EXPECT_NE(end.find("\ndual objective: "), std::string::npos);
    EXPECT_NE(end.find("\niterations: "), std::string::npos);
    EXPECT_NE(end.find("\nseconds: "), std::string::npos);
    EXPECT_NEAR(value_of(r.out, "primal objective"), 3.0, 1e-6);
    EXPECT_NEAR(value_of(r.out, "dual objective"), 3.0, 1e-5);
    EXPECT_GT(value_of(r.out, "iterations"), 0);
}

TEST_F(MpsProgram, QuietRunPrintsOnlyTheResult) {
    const auto r = run(program() + " verbose=0 " + qp);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("OPTIMAL SOLUTION FOUND\nprimal objective: ", 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5);
    EXPECT_NEAR(value_of(r.out, "primal objective"), -3.0, 1e-6);
}

TEST_F(MpsProgram, SettingsFromWordsAndSpecsFile) {
    // An iteration limit of 1 stops the solve: still exit status 0.
    auto r = run(program() + " iterlim=1 verbose=1 " + lp);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(tail(r.out, 5).rfind("ITERATION LIMIT\n", 0), 0u) << r.out;
    EXPECT_EQ(value_of(r.out, "iterations"), 1);
    const std::string specs = mpstest::write_file(dir, "specs", "* limits\niterlim 2\nverbose 0\n");
    r = run(program() + " -s " + specs + " " + lp);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("ITERATION LIMIT\n", 0), 0u) << r.out;
    EXPECT_EQ(value_of(r.out, "iterations"), 2);
    // Words come after the specs file and override it; a flag by its bare name.
    r = run(program() + " -s " + specs + " iterlim=50 convex " + lp);
    EXPECT_EQ(r.out.rfind("OPTIMAL SOLUTION FOUND\n", 0), 0u) << r.out;
    // The ordering: nested dissection by the cheaper priority unless a flag chooses.  (At
    // verbose 3 the iterates go to files x.NN of the working folder.)
    const std::string by_fill = "Ordering priority favors ";
    const std::string by_fill_tail = " by fill (the estimates chose ";
    const std::string in_dir = "cd " + dir + " && ";
    r = run(in_dir + program() + " verbose=3 presolve=0 " + lp);
    EXPECT_NE(r.out.find(by_fill_tail), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("method= 5"), std::string::npos);
    r = run(in_dir + program() + " verbose=3 presolve=0 mindeg primal " + lp);
    EXPECT_EQ(r.out.find(by_fill_tail), std::string::npos);
    EXPECT_NE(r.out.find("method= 1"), std::string::npos);
    EXPECT_EQ(r.out.find(by_fill), std::string::npos);  // a given priority is not announced
    r = run(in_dir + program() + " verbose=3 presolve=0 amd lessfill " + lp);
    EXPECT_NE(r.out.find(by_fill_tail), std::string::npos);
    EXPECT_NE(r.out.find("method= 3"), std::string::npos);
    // The start: the least-squares one unless bndpush is given (the described start's
    // setting); the flag lsqinit asks for it by name.
    auto first_line = [&](const std::string &words) {
        const std::string out = run(program() + " verbose=1 iterlim=1 " + words + " " + lp).out;
        const size_t at = out.find("\n  1 ");
        return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at + 1) - at);
    };
    const std::string lsq = first_line("");
    EXPECT_FALSE(lsq.empty());
    EXPECT_NE(first_line("bndpush=100"), lsq);
    EXPECT_EQ(first_line("bndpush=100 lsqinit"), lsq);
}

TEST_F(MpsProgram, ReportAndProblemFiles) {
    const std::string sol = dir + "/out.sol", mps = dir + "/out.mps";
    auto r = run(program() + " verbose=0 -o " + sol + " -w " + mps + " " + lp);
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string report = slurp(sol);
    EXPECT_EQ(report.rfind("COLUMNS SECTION\n", 0), 0u);
    EXPECT_NE(report.find("ROWS SECTION\n"), std::string::npos);
    EXPECT_EQ(report.find("OB\n"), std::string::npos) << report;  // the solution is feasible
    // The written problem solves to the same optimum.
    r = run(program() + " verbose=0 " + mps);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(value_of(r.out, "primal objective"), 3.0, 1e-6);

    // Output that cannot be written (the device that is always full) is an error: the
    // problem file before the solve, the report after it, once the result is printed.
    if (std::ifstream("/dev/full")) {
        r = run(program() + " verbose=0 -w /dev/full " + lp);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot write file /dev/full"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("primal objective"), std::string::npos) << r.out;
        r = run(program() + " verbose=0 -o /dev/full " + lp);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot write file /dev/full"), std::string::npos) << r.err;
        EXPECT_NEAR(value_of(r.out, "primal objective"), 3.0, 1e-6);
        r = run(program() + " verbose=0 " + lp + " >/dev/full");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot write standard output"), std::string::npos) << r.err;
    }
    // A report that cannot even be opened (a folder) keeps the result lines too.
    r = run(program() + " verbose=0 -o " + dir + " " + lp);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write file " + dir), std::string::npos) << r.err;
    EXPECT_NEAR(value_of(r.out, "primal objective"), 3.0, 1e-6) << r.out;
}

TEST_F(MpsProgram, PresolveLineReportAndSwitch) {
    // SMALL with a column Z in [0, 1] that the singleton row ONE (Z >= 1) fixes at 1 and that
    // takes one unit of CAP: the same optimum x = 1, y = 3, objective 4.
    const std::string text = "NAME          PREP\nROWS\n" + line("N", "COST") + line("L", "CAP") + line("G", "DIFF") +
                             line("G", "ONE") + "COLUMNS\n" + line("", "X", "COST", "-1.", "CAP", "1.") +
                             line("", "X", "DIFF", "1.") + line("", "Y", "COST", "-2.", "CAP", "1.") +
                             line("", "Y", "DIFF", "-1.") + line("", "Z", "COST", "1.", "CAP", "1.") +
                             line("", "Z", "ONE", "1.") + "RHS\n" + line("", "RHS", "CAP", "5.", "DIFF", "-2.") +
                             line("", "RHS", "ONE", "1.", "COST", "-10.") + "RANGES\n" + line("", "RNG", "DIFF", "5.") +
                             "BOUNDS\n" + line("UP", "BND", "X", "3.") + line("LO", "BND", "Y", "-1.") +
                             line("UP", "BND", "Z", "1.") + "ENDATA\n";
    const std::string mps = mpstest::write_file(dir, "prep.mps", text);
    const std::string rep = dir + "/prep.txt", sol = dir + "/prep.sol";
    auto r = run(program() + " -p " + rep + " -o " + sol + " " + mps);
    EXPECT_EQ(r.status, 0) << r.out;
    // The summary before the log, the check after the solve, the message before the end.
    const std::size_t at = r.out.find("presolve: removed 1 rows, 1 columns, 2 nonzeros (2 reductions) in ");
    EXPECT_LT(at, r.out.find("Iter |")) << r.out;
    EXPECT_NE(r.out.find("\npostsolve: primal residual "), std::string::npos);
    EXPECT_NE(r.out.find("(within the tolerances)\n"), std::string::npos);
    EXPECT_EQ(tail(r.out, 5).rfind("OPTIMAL SOLUTION FOUND\nprimal objective: ", 0), 0u) << r.out;
    EXPECT_NEAR(value_of(r.out, "primal objective"), 4.0, 1e-6);
    const std::string report = slurp(rep);
    EXPECT_EQ(report.rfind("PRESOLVE REPORT PREP\n", 0), 0u) << report;
    EXPECT_NE(report.find("row    ONE        pass   1  singleton row: gives column Z its lower bound"),
              std::string::npos) << report;
    EXPECT_NE(report.find("column Z          pass   1  fixed column: at 1"), std::string::npos) << report;
    // The solution report shows the problem as read: Z at 1 and the row ONE with its dual.
    const std::string out = slurp(sol);
    EXPECT_NE(out.find("       2    Z          1.000000e+00"), std::string::npos) << out;
    EXPECT_NE(out.find("       2    ONE        2.500000e+00   1.000000e+00"), std::string::npos) << out;
    EXPECT_EQ(out.find("OB\n"), std::string::npos) << out;

    // Off by a word or a specs line: no presolve line, the same optimum.
    const std::string specs = mpstest::write_file(dir, "nopre", "presolve 0\n");
    for (const std::string &how : {std::string(" presolve=0 "), " -s " + specs + " "}) {
        r = run(program() + how + mps);
        EXPECT_EQ(r.out.find("presolve"), std::string::npos) << r.out;
        EXPECT_NEAR(value_of(r.out, "primal objective"), 4.0, 1e-6) << r.out;
    }
}

TEST_F(MpsProgram, MaximisationWrittenAndReadBack) {
    // The negated objective maximised: max x + 2y - 10 has the optimum -3.
    const std::string mps = dir + "/max.mps";
    const std::string neg = mpstest::write_file(dir, "neg.mps",
                                                "NAME          NEG\nROWS\n" + line("N", "COST") + line("L", "CAP") +
                                                    line("G", "DIFF") + "COLUMNS\n" +
                                                    line("", "X", "COST", "1.", "CAP", "1.") + line("", "X", "DIFF", "1.") +
                                                    line("", "Y", "COST", "2.", "CAP", "1.") + line("", "Y", "DIFF", "-1.") +
                                                    "RHS\n" + line("", "RHS", "CAP", "4.", "DIFF", "-2.") +
                                                    line("", "RHS", "COST", "10.") + "RANGES\n" + line("", "RNG", "DIFF", "5.") +
                                                    "BOUNDS\n" + line("UP", "BND", "X", "3.") + line("LO", "BND", "Y", "-1.") +
                                                    "ENDATA\n");
    auto r = run(program() + " verbose=0 max -w " + mps + " " + neg);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(value_of(r.out, "primal objective"), -3.0, 1e-6);
    EXPECT_EQ(slurp(mps).rfind("MAX\nNAME", 0), 0u);
    r = run(program() + " verbose=0 " + mps);  // the MAX line keeps the sense
    EXPECT_NEAR(value_of(r.out, "primal objective"), -3.0, 1e-6) << r.out;
    // So does a free-layout OBJSENSE section.
    std::string objsense = slurp(neg);
    objsense.insert(objsense.find("ROWS"), "OBJSENSE\n    MAX\n");
    r = run(program() + " verbose=0 " + mpstest::write_file(dir, "sense.mps", objsense));
    EXPECT_NEAR(value_of(r.out, "primal objective"), -3.0, 1e-6) << r.out;
}

TEST_F(MpsProgram, StandardInputAndSeveralFiles) {
    auto r = run(program() + " verbose=0 -", qp_text);
    EXPECT_EQ(r.status, 0);
    EXPECT_NEAR(value_of(r.out, "primal objective"), -3.0, 1e-6) << r.out;
    const std::size_t cut = lp_text.find("RHS\n");
    const std::string a = mpstest::write_file(dir, "a.mps", lp_text.substr(0, cut));
    const std::string b = mpstest::write_file(dir, "b.mps", lp_text.substr(cut));
    r = run(program() + " verbose=0 " + a + " " + b);
    EXPECT_NEAR(value_of(r.out, "primal objective"), 3.0, 1e-6) << r.out;
}

TEST_F(MpsProgram, UsageAndFailures) {
    auto r = run(program() + " -h");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: orva-mps [options] FILE...", 0), 0u);
    r = run(program());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no problem file given"), std::string::npos);
    r = run(program() + " -x " + lp);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown option -x"), std::string::npos);
    r = run(program() + " " + dir + "/missing.mps");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open file " + dir + "/missing.mps"), std::string::npos);
    r = run(program() + " nosuch=3 " + lp);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("bad setting: nosuch=3"), std::string::npos);
    r = run(program() + " inftol=-1 " + lp);
    EXPECT_EQ(r.status, 1);
    r = run(program() + " -s " + mpstest::write_file(dir, "bad", "sigfig 6\nsteplen .5\n") + " " + lp);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("at line 2"), std::string::npos) << r.err;
    r = run(program() + " -s " + dir + "/nospecs " + lp);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read specs file"), std::string::npos);
    r = run(program() + " -s " + dir + " " + lp);  // a folder
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read specs file " + dir), std::string::npos) << r.err;
    r = run(program() + " -o");
    EXPECT_EQ(r.status, 1);
    // Data errors of the reader end the run with status 1 and their message.
    const std::string bad = mpstest::write_file(dir, "order.mps",
                                                "NAME          X\nROWS\n" + line("N", "OBJ") + line("G", "R") +
                                                    "COLUMNS\n" + line("", "A", "R", "1.") + line("", "B", "R", "1.") +
                                                    line("", "A", "OBJ", "1.") + "ENDATA\n");
    r = run(program() + " " + bad);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ORVA ERROR(35): column A        out of order in COLUMNS section"), std::string::npos);
}
