// Whole runs of the program as AMPL starts it: problems with known solutions, read back
// from the .sol file as AMPL receives them; limits, evaluation failures, timing report.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "aslprobe.h"
#include "nlfile.h"
#include "testlp.h"

using namespace orva::testing;

namespace {

std::string orva_bin() { return bin("orva"); }

struct solved {
    run_result run;
    sol_file sol;
};

solved solve(const std::string &stem, const std::string &words = "") {
    solved s;
    std::remove((stem + ".sol").c_str());
    s.run = run(orva_bin() + " " + stem + " -AMPL " + words);
    s.sol = read_sol(stem);
    return s;
}

// max 3 x0 + 2 x1 - x2  s.t.  x0 + x1 + x2 <= 4,  x0 + 3 x1 >= 1 (slack),  x0 - x2 = 1,
// x0 <= 2 (upper bound only), x1 >= 0, 0 <= x2 <= 5.  With x2 = x0 - 1 the objective is
// 2 x0 + 2 x1 + 1 over 2 x0 + x1 <= 5, x0 >= 1: optimum x = (1, 3, 0), objective 9, duals
// y = (2, 0, 1) (rows 0 and 2 binding, x2 at its lower bound with reduced cost -2).
// The same problem minimising the negated objective has the negated duals.
nl_model lp_model(bool maximize) {
    nl_model p;
    p.n = 3;
    nl_row r0, r1, r2;
    r0.lin = {{0, 1.0}, {1, 1.0}, {2, 1.0}};
    r0.up = 4;
    r1.lin = {{0, 1.0}, {1, 3.0}};
    r1.lo = 1;
    r2.lin = {{0, 1.0}, {2, -1.0}};
    r2.lo = r2.up = 1;
    p.rows = {r0, r1, r2};
    nl_objective o;
    const double s = maximize ? 1.0 : -1.0;  // the minimisation is of the negated objective
    o.lin = {{0, 3.0 * s}, {1, 2.0 * s}, {2, -1.0 * s}};
    o.maximize = maximize;
    p.objs = {o};
    p.bounds = {{-inf, 2}, {0, inf}, {0, 5}};
    return p;
}

} // namespace

TEST(AmplSolve, LinearProgramInBothSenses) {
    const std::string dir = scratch_dir("ampl-lp");
    for (bool maximize : {true, false}) {
        const std::string stem = write_nl(dir, maximize ? "lpmax" : "lpmin", lp_model(maximize));
        const solved s = solve(stem);
        EXPECT_EQ(s.run.status, 0) << s.run.out;
        ASSERT_TRUE(s.sol.ok);
        EXPECT_EQ(s.sol.code, 0);
        EXPECT_EQ(s.sol.message.rfind("ORVA 7.03: optimal solution (", 0), 0u) << s.sol.message;
        ASSERT_EQ(s.sol.x.size(), 3u);
        EXPECT_NEAR(s.sol.x[0], 1.0, 1e-6);
        EXPECT_NEAR(s.sol.x[1], 3.0, 1e-6);
        EXPECT_NEAR(s.sol.x[2], 0.0, 1e-6);
        // Duals as d(objective)/d(rhs), row 0 (x0 + x1 + x2 <= 4) negated inside the solver,
        // the variable x0 (upper bound only) likewise.
        ASSERT_EQ(s.sol.y.size(), 3u);
        const double sign = maximize ? 1.0 : -1.0;
        EXPECT_NEAR(s.sol.y[0], 2.0 * sign, 1e-6);
        EXPECT_NEAR(s.sol.y[1], 0.0, 1e-6);
        EXPECT_NEAR(s.sol.y[2], 1.0 * sign, 1e-6);
        const double obj = std::stod(s.sol.message.substr(s.sol.message.find("primal objective ") + 17));
        EXPECT_NEAR(obj, 9.0 * sign, 1e-6);
    }
}

TEST(AmplSolve, QuadraticAndNonlinearPrograms) {
    const std::string dir = scratch_dir("ampl-nlp");
    // min (x0-1)^2 + (x1-2)^2  s.t.  x0^2 + x1^2 <= 1: x* = (1,2)/sqrt5, dual 1 - sqrt5.
    nl_model p;
    p.n = 2;
    p.nnl = 2;
    nl_row c;
    c.expr = "o0\no5\nv0\nn2\no5\nv1\nn2\n";
    c.up = 1;
    p.rows = {c};
    nl_objective o;
    o.expr = "o0\no5\no0\nv0\nn-1\nn2\no5\no0\nv1\nn-2\nn2\n";
    p.objs = {o};
    const std::string stem = write_nl(dir, "circle", p);
    const solved s = solve(stem);
    ASSERT_TRUE(s.sol.ok) << s.run.out;
    EXPECT_EQ(s.sol.code, 0) << s.sol.message;
    EXPECT_EQ(s.sol.message.find("QP"), std::string::npos);
    const double r5 = std::sqrt(5.0);
    EXPECT_NEAR(s.sol.x[0], 1 / r5, 1e-6);
    EXPECT_NEAR(s.sol.x[1], 2 / r5, 1e-6);
    EXPECT_NEAR(s.sol.y[0], 1 - r5, 1e-6);

    // The same objective over the half-plane x0 + x1 <= 1 is a QP: x* = (0, 1), dual -2.
    nl_model q = p;
    q.rows[0].expr.clear();
    q.rows[0].lin = {{0, 1.0}, {1, 1.0}};
    const std::string qstem = write_nl(dir, "half", q);
    const solved t = solve(qstem);
    ASSERT_TRUE(t.sol.ok);
    EXPECT_EQ(t.sol.code, 0) << t.sol.message;
    EXPECT_NE(t.sol.message.find(" QP iterations"), std::string::npos) << t.sol.message;
    EXPECT_NEAR(t.sol.x[0], 0.0, 1e-6);
    EXPECT_NEAR(t.sol.x[1], 1.0, 1e-6);
    EXPECT_NEAR(t.sol.y[0], -2.0, 1e-6);
}

TEST(AmplSolve, EvaluationFailures) {
    const std::string dir = scratch_dir("ampl-eval");
    // min x0 - log(x0), no bounds, started at 10: the first full step leaves the domain of
    // log, the step is halved until it can be evaluated; the minimum is at x0 = 1.
    nl_model p;
    p.n = 1;
    p.nnl = 1;
    nl_objective o;
    o.expr = "o16\no43\nv0\n";
    o.lin = {{0, 1.0}};
    p.objs = {o};
    p.x0 = {{0, 10.0}};
    const std::string stem = write_nl(dir, "logx", p);
    const solved s = solve(stem);
    ASSERT_TRUE(s.sol.ok) << s.run.out;
    EXPECT_EQ(s.sol.code, 0) << s.sol.message;
    EXPECT_NEAR(s.sol.x[0], 1.0, 1e-6);

    // Started where the objective cannot be evaluated: data error 50, status 1, no .sol.
    p.x0 = {{0, -1.0}};
    const std::string bad = write_nl(dir, "badstart", p);
    const solved b = solve(bad);
    EXPECT_EQ(b.run.status, 1);
    EXPECT_NE(b.run.out.find("ORVA ERROR(50): cannot evaluate obj and/or constraint at initial "
                             "solution"),
              std::string::npos)
        << b.run.out;
    EXPECT_FALSE(b.sol.ok);

    // A start where the objective overflows is the same failure, not a solve of NaNs.
    p.x0 = {{0, 1e308}};
    p.objs[0].expr = "o5\nv0\nn2\n";
    const solved huge = solve(write_nl(dir, "hugestart", p));
    EXPECT_EQ(huge.run.status, 1);
    EXPECT_NE(huge.run.out.find("ORVA ERROR(50)"), std::string::npos) << huge.run.out;
    EXPECT_FALSE(huge.sol.ok);
}

TEST(AmplSolve, LimitsAndTimingReport) {
    const std::string dir = scratch_dir("ampl-limits");
    const std::string stem = write_nl(dir, "lp", lp_model(true));
    const solved none = solve(stem, "iterlim=0");
    EXPECT_EQ(none.sol.code, 400);
    EXPECT_EQ(none.sol.message.rfind("ORVA 7.03: iteration limit (0 iterations", 0), 0u)
        << none.sol.message;
    const solved two = solve(stem, "maxit=2");
    EXPECT_EQ(two.sol.code, 400);
    EXPECT_NE(two.sol.message.find("(2 iterations"), std::string::npos) << two.sol.message;
    const solved neg = solve(stem, "timlim=-1");
    EXPECT_EQ(neg.sol.code, 500);
    EXPECT_EQ(neg.sol.message.rfind("ORVA 7.03: resource limit (", 0), 0u) << neg.sol.message;
    EXPECT_EQ(neg.sol.message.find("objective"), std::string::npos);

    // timing=3: the report on standard output, then the same on standard error.
    const solved timed = solve(stem, "timing=3");
    const auto report = [](const std::string &text) {
        const size_t at = text.find("\nTimes (seconds):\nInput =  ");
        return at == std::string::npos ? std::string() : text.substr(at);
    };
    const std::string out = report(timed.run.out), err = report(timed.run.err);
    ASSERT_FALSE(out.empty()) << timed.run.out;
    EXPECT_EQ(out, err);
    for (const char *line : {"\nnn nonlinear evaluations = t seconds:\n\t", "   functions = ",
                             "   gradients = ", " constraints = ", "   Jacobians = ",
                             "\t   0    Hessians = 0\n",
                             "Total nonlinear evaluation seconds = "})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    const solved quiet = solve(stem);
    EXPECT_EQ(report(quiet.run.out), "");
    EXPECT_EQ(report(quiet.run.err), "");
}

// Damaged files (a header count, an index, a count of a segment changed) end with a
// message naming the file and exit status 1, before the ASL's reader could write outside
// its arrays; no .sol file is written.
TEST(AmplSolve, DamagedFilesAreRefused) {
    const std::string dir = scratch_dir("ampl-damaged");
    // min (x0-1)^2 + x1  s.t.  x0^2 + x1 <= 4,  x0 + x2 >= 1,  x2 <= 3, with x0^2 written
    // as (if x0 >= -100 then x0^2 else 0), so that the binary check walks a conditional.
    nl_model p;
    p.n = 3;
    p.nnl = 1;
    nl_row c0, c1;
    c0.expr = "o35\no28\nv0\nn-100\no5\nv0\nn2\nn0\n";
    c0.lin = {{1, 1.0}};
    c0.up = 4;
    c1.lin = {{0, 1.0}, {2, 1.0}};
    c1.lo = 1;
    p.rows = {c0, c1};
    nl_objective o;
    o.expr = "o5\no0\nv0\nn-1\nn2\n";
    o.lin = {{1, 1.0}};
    p.objs = {o};
    p.bounds = {{-10, 10}, {-10, 10}, {-10, 3}};
    // Two suffixes as AMPL writes them before the problem's segments (an integer one on
    // variables, a real one on constraints), which the reader skips: the checks must read
    // past them in both forms.
    std::string text = nl_text(p);
    const size_t body = [&] {
        size_t at = 0;
        for (int h = 0; h < 10; ++h) at = text.find('\n', at) + 1;
        return at;
    }();
    text.insert(body, "S0 2 priority\n0 3\n2 1\nS5 1 lbd\n1 0.5\n");
    // The objective's nonlinear part as a defined variable used by it alone (its kind is
    // the objective's number after the constraints': 3).
    const std::string obj_expr = "O0 0\no5\no0\nv0\nn-1\nn2\n";
    const size_t at_obj = text.find(obj_expr);
    ASSERT_NE(at_obj, std::string::npos);
    text.replace(at_obj, obj_expr.size(), "V3 0 3\no5\no0\nv0\nn-1\nn2\nO0 0\nv3\n");
    text.replace(text.find(" 0 0 0 0 0\n", text.find(" 0 0\n", text.find("\n 4 2\n"))), 11, " 0 0 0 0 1\n");
    {
        const std::string stem = dir + "/intact";
        {
            std::ofstream f(stem + ".nl", std::ios::binary);
            f << text;
        }
        const solved s = solve(stem);
        ASSERT_TRUE(s.sol.ok) << s.run.out << s.run.err;
        EXPECT_EQ(s.sol.code, 0) << s.sol.message;
    }
    // The original text of one line and its damaged replacement, each line whole.
    auto lines = [](const std::string &t) {
        std::vector<std::string> v;
        size_t a = 0;
        while (a < t.size()) {
            const size_t e = t.find('\n', a);
            v.push_back(t.substr(a, e - a));
            a = e + 1;
        }
        return v;
    };
    const std::vector<std::string> orig = lines(text);
    struct damage {
        int line;              // 0-based line of the file, or -1: the first line starting with `at`
        std::string at, with;  // the replacement line
        const char *expect;    // part of the message
    };
    // J0's first entry, the k segment's entry, the first expression reference to x0.
    auto first = [&](const std::string &start) {
        for (size_t i = 10; i < orig.size(); ++i)
            if (orig[i].rfind(start, 0) == 0) return static_cast<int>(i);
        return -1;
    };
    const int j0 = first("J0");
    const int k = first("k");
    const int v0 = first("v0");
    ASSERT_GT(j0, 0);
    ASSERT_GT(k, 0);
    ASSERT_GT(v0, 0);
    const std::vector<damage> cases = {
        {1, "", " 2147483647 2 1 0 0", "bad header"},          // absurd variable count
        {4, "", " 4 1 1", "bad header"},                        // more nonlinear variables than variables
        {9, "", " 0 0 -1 0 0", "bad header"},                   // a negative count
        {j0 + 1, "", "7 1", "bad line"},                        // a Jacobian entry of no variable
        {j0 + 1, "", orig[j0 + 2], "bad line"},                 // the same variable twice in a row
        {k + 1, "", "3", "bad line"},                           // column counts that do not add up
        {v0, "", "v9", "bad line"},                             // an expression of no variable
        {v0, "", "v3", "bad line"},                             // a defined variable never given
        {first("C1"), "", "C0", "bad line"},                    // a constraint given twice
        {first("J1"), "", "J0 2", "bad line"},                  // a row's entries given twice
        {first("o5"), "", "o57", "not supported"},              // round(), which the reader cannot evaluate
        {first("r") + 1, "", "9 1", "bad line"},                // an unknown bound type
        {first("S0") + 1, "", "7 3", "bad line"},               // a suffix value of no variable
        {first("S5"), "", "S5 9 lbd", "bad line"},              // more suffix values than constraints
        {first("V3"), "", "V3 0 1", "bad line"},                // defined variable of another kind
        {first("V3"), "", "V3 0 0", "bad line"},
        {9, "", " 0 0 1 0 0", "bad line"},                      // its count moved to another kind
        {4, "", " 1 1 0", "bad line"},                          // x0 not counted nonlinear in the objective
        {7, "", " 4 3", "bad line"},                            // more gradient entries announced than given
        {first("O0"), "", "O0 7", "bad line"},                  // neither minimise nor maximise
        {first("O0"), "", "O0 -1", "bad line"},
        {1, "", " 4294967299 2 1 0 0", "bad line"},             // a count that wraps around to 3
        {first("b") + 1, "", "0 nan 10", "not a number"},       // a bound that is not a number
        {first("J1") + 1, "", "0 inf", "not a finite number"},  // an infinite coefficient
    };
    // Each damage in the text form and in the binary form (where the segments' faults are
    // reported with a byte offset).
    const std::string stem = dir + "/damaged";
    auto refused = [&](const std::string &file, const std::string &expect, const std::string &what) {
        {
            std::ofstream f(stem + ".nl", std::ios::binary);
            f << file;
        }
        const solved s = solve(stem);
        EXPECT_EQ(s.run.status, 1) << what << "\n" << s.run.out << s.run.err;
        EXPECT_NE((s.run.out + s.run.err).find(expect), std::string::npos) << what << "\n" << s.run.out << s.run.err;
        EXPECT_FALSE(s.sol.ok) << what;
    };
    // Each text form, then in the binary forms (where a segment's fault is reported at a byte).
    auto refused_all = [&](const std::string &t, const std::string &expect, const std::string &what) {
        refused(t, expect, what);
        const std::string bexpect = expect == "bad line" ? "at byte" : expect;
        refused(nl_binary(t), bexpect, what + " (binary)");
        refused(nl_binary(t, true), bexpect, what + " (binary, other byte order)");
    };
    for (const damage &d : cases) {
        ASSERT_GE(d.line, 0);
        std::vector<std::string> l = orig;
        l[d.line] = d.with;
        std::string t;
        for (const std::string &s : l) t += s + "\n";
        refused_all(t, d.expect, "line " + std::to_string(d.line) + " -> " + d.with);
    }
    // Cut short before any of its segments, the file lacks what its header announces.
    std::string prefix;
    for (size_t i = 0; i < orig.size(); ++i) {
        if (i >= 10 && std::string("CLOVSrbkJGx").find(orig[i][0]) != std::string::npos)
            refused_all(prefix, "bad line", "cut before line " + std::to_string(i));
        prefix += orig[i] + "\n";
    }

    // The intact problem in the binary form solves as the text does; cut short before its
    // objective, it is refused.
    const std::string bin = nl_binary(text);
    {
        std::ofstream f(stem + ".nl", std::ios::binary);
        f << bin;
    }
    std::remove((stem + ".sol").c_str());
    const run_result r = run(orva_bin() + " " + stem + " -AMPL outlev=1");
    const run_result rt = run(orva_bin() + " " + dir + "/intact -AMPL outlev=1");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, rt.out);  // the same iterations
    {
        std::ofstream f(stem + ".nl", std::ios::binary);
        f << nl_binary(text, true);
    }
    const run_result rs = run(orva_bin() + " " + stem + " -AMPL outlev=1");
    EXPECT_EQ(rs.status, 0) << rs.out << rs.err;
    EXPECT_EQ(rs.out, rt.out);  // the reader swaps the numbers
    const size_t obj = bin.find(std::string("O\0\0\0\0", 5));
    ASSERT_NE(obj, std::string::npos);
    refused(bin.substr(0, obj), "at byte", "cut before O0");
}

// The ASL does not check its writes of the .sol file: a file cut short (here by a file
// size limit, as a full disk would, without the limit's signal ending the run) or a device
// that refuses the writes must end the run with status 2 and a message, not with a normal
// exit.  The same run with room for the file is complete and reads back.
TEST(AmplSolve, SolutionFileCutShortIsReported) {
    const std::string dir = scratch_dir("ampl-solfile");
    // min sum (j+1) x_j  s.t.  sum x_j >= 1,  0 <= x_j <= 10, 300 variables: the .sol file
    // holds 301 values, well over 1024 bytes in either form.
    nl_model p;
    p.n = 300;
    nl_row r;
    nl_objective o;
    for (int j = 0; j < p.n; ++j) {
        r.lin[j] = 1.0;
        o.lin[j] = j + 1.0;
        p.bounds.push_back({0.0, 10.0});
    }
    r.lo = 1.0;
    p.rows = {r};
    p.objs = {o};
    const std::string text_stem = write_nl(dir, "text", p);
    const std::string bin_stem = dir + "/binary";
    {
        std::ofstream f(bin_stem + ".nl", std::ios::binary);
        f << nl_binary(nl_text(p));
    }
    for (const std::string &stem : {text_stem, bin_stem}) {
        SCOPED_TRACE(stem);
        // ulimit -f counts blocks of 1024 bytes; the limit also applies to the captured
        // output, which stays well below it.
        auto limited = [&](int blocks) {
            std::remove((stem + ".sol").c_str());
            return run("ulimit -f " + std::to_string(blocks) + "; exec " + orva_bin() + " " + stem + " -AMPL");
        };
        const run_result cut = limited(1);
        EXPECT_EQ(cut.status, 2) << cut.out << cut.err;
        EXPECT_NE(cut.err.find("can't write " + stem + ".sol"), std::string::npos) << cut.err;
        const run_result whole = limited(1000);
        EXPECT_EQ(whole.status, 0) << whole.out << whole.err;
        const sol_file sol = read_sol(stem);
        ASSERT_TRUE(sol.ok);
        EXPECT_EQ(sol.message.rfind("ORVA 7.03: optimal solution", 0), 0u) << sol.message;
        ASSERT_EQ(sol.x.size(), 300u);
        EXPECT_NEAR(sol.x[0], 1.0, 1e-6);
    }
    // A target that is no regular file, and the log, are checked as they are written.
    std::remove((text_stem + ".sol").c_str());
    ASSERT_EQ(symlink("/dev/full", (text_stem + ".sol").c_str()), 0);
    const run_result full = run(orva_bin() + " " + text_stem + " -AMPL");
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("can't write " + text_stem + ".sol"), std::string::npos) << full.err;
    std::remove((text_stem + ".sol").c_str());
    const run_result log = run(orva_bin() + " " + text_stem + " -AMPL outlev=1 >/dev/full");
    EXPECT_EQ(log.status, 2);
    EXPECT_NE(log.err.find("can't write standard output"), std::string::npos) << log.err;
}

namespace {

// A public problem that the AMPL path (and orva-mps when `mps`) must solve to its optimum.
struct public_case {
    const char *name;
    double optimum;
    bool mps;
};

// Solves each case's SET-nl/NAME.nl through the AMPL path in the scratch folder FOLDER and,
// for the marked ones, SET/NAME.EXT with orva-mps; both must end optimal within 1e-6.
void expect_optimal(std::span<const public_case> cases, const std::string &set, const std::string &ext,
                    const char *folder) {
    const std::string dir = scratch_dir(folder);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const double tol = 1e-6 * std::fabs(c.optimum);
        const std::string stem = dir + "/" + c.name;
        ASSERT_EQ(symlink(shared_data(set + "-nl/" + c.name + ".nl").c_str(), (stem + ".nl").c_str()), 0);
        const solved s = solve(stem);
        ASSERT_TRUE(s.sol.ok) << s.run.out << s.run.err;
        EXPECT_EQ(s.sol.message.rfind("ORVA 7.03: optimal solution (", 0), 0u) << s.sol.message;
        const double obj = std::stod(s.sol.message.substr(s.sol.message.find("primal objective ") + 17));
        EXPECT_NEAR(obj, c.optimum, tol);
        if (!c.mps) continue;
        const run_result mps = run(bin("orva-mps") + " " + shared_data(set + "/" + c.name + "." + ext));
        EXPECT_NE(mps.out.find("OPTIMAL SOLUTION FOUND"), std::string::npos) << mps.out;
        const auto at = mps.out.find("primal objective: ");
        ASSERT_NE(at, std::string::npos) << mps.out;
        EXPECT_NEAR(std::stod(mps.out.substr(at + 18)), c.optimum, tol);
    }
}

} // namespace

TEST(AmplSolve, ConvexQuadraticProgramsThatStalledWithoutTheCorrector) {
    // liswet12, a least-squares fit under convexity rows (second differences >= 0):
    // thousands of rows become active, their diagonals w/v fall far below the rows' floor
    // of the factor, and the Schur complement of those rows has eigenvalues below it too;
    // the AMPL path, without the corrector, also crawled along the boundary with short
    // steps.  qpilotno, near feasibility, kept its objectives 1e-2 apart (the centering
    // held the complementarity at its mean) until the dual ran away; huestis took steps of
    // 1e-3 and less for hundreds of iterations.  All ended at a limit or a false verdict.
    if (!have_shared_data()) GTEST_SKIP() << "no shared test data";
    const public_case cases[] = {{"liswet12", 1.7369274e+03, true}, {"qpilotno", 4.7285869e+06, false},
                                 {"huestis", 3.48244628e+11, false}};
    expect_optimal(cases, "qp", "qps", "ampl-qp");
}

TEST(AmplSolve, LinearProgramsThatStalledOnTheFactorsDiagonal) {
    // forplan: the ordering moves its dense columns behind the rows, where their pivots
    // -Dn' - sum a^2/Dm' cancel terms of the size of 1/floor; one of them came out
    // positive factor after factor and every solve was spoiled (iteration limit).
    // pilot87: feasible on both sides from iteration ~45, but basic columns whose z/g lies
    // far below the columns' floor kept their reduced costs (the step moved x by the cost
    // over the floor instead of fixing y): 7 figures of 8 until the iteration limit.
    if (!have_shared_data()) GTEST_SKIP() << "no shared test data";
    const public_case cases[] = {{"forplan", -664.21896127, false}, {"pilot87", 301.71034734, true}};
    expect_optimal(cases, "lp", "mps", "ampl-lp-diag");
}
