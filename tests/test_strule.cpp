// The default stopping rule, the SIGINT handler and the interrupt prompt: the rule on
// its own with standard input prepared, and the whole road (a signal sent to a running
// solve, answered on standard input).
#include <gtest/gtest.h>

#include <csignal>
#include <cmath>
#include <string>
#include <thread>

#include "ipm/ipm.h"
#include "ipm_testutil.h"
#include "lp/lp.h"
#include "testlp.h"

using namespace orva;
using namespace orva::testing;

namespace {

const char *const PROMPT = "ORVA: Do you want to stop now? (y/n) ";

// Calls the rule with one report; inftol 1e-6, inftol2 1e5, sf_req 8.
int rule(LP *lp, int iter, double P, double D, int sigfig = 0) {
    lp->iter = iter;
    lp->primal_inf = P;
    lp->dual_inf = D;
    lp->sigfig = sigfig;
    return deflt_st_rule(lp);
}

LP *rule_record() {
    LP *lp = openlp();
    lp->inftol = 1e-6;
    lp->inftol2 = 1e5;
    return lp;
}

} // namespace

TEST(StRule, Verdicts) {
    interrupted = 0;
    LP *lp = rule_record();
    EXPECT_EQ(rule(lp, 1, 1e-7, 1e-7, 8), 0);
    EXPECT_EQ(rule(lp, 1, 1e-7, 1e-7, 7), -1);  // not enough figures
    EXPECT_EQ(rule(lp, 1, 1e-5, 1e-7, 9), -1);  // not feasible
    // Blow-up after a primal and dual feasible point.
    EXPECT_EQ(rule(lp, 1, 1e-7, 1e-7), -1);
    EXPECT_EQ(rule(lp, 2, 2e5, 1e-7), 1);
    // After a point that was primal feasible only: dual infeasible.
    EXPECT_EQ(rule(lp, 1, 1e-7, 3.0), -1);
    EXPECT_EQ(rule(lp, 2, 1e-7, 1e6), 4);
    // After a point that was dual feasible only: primal infeasible.
    EXPECT_EQ(rule(lp, 1, 3.0, 1e-7), -1);
    EXPECT_EQ(rule(lp, 2, 2e5, 1e-7), 3);
    // Neither: go on.
    EXPECT_EQ(rule(lp, 1, 3.0, 3.0), -1);
    EXPECT_EQ(rule(lp, 2, 3e5, 3e5), -1);
    // Iteration 1 forgets the previous values: no jump from a previous run.
    EXPECT_EQ(rule(lp, 1, 1e-7, 1e-7), -1);
    EXPECT_EQ(rule(lp, 1, 2e5, 1e-7), -1);
    // A growth within inftol2 is no jump.
    EXPECT_EQ(rule(lp, 1, 1e-7, 1e-7), -1);
    EXPECT_EQ(rule(lp, 2, 9e4, 1e-7), -1);
    closelp(lp);
}

TEST(StRule, NotANumberNeverConvergesNorJumps) {
    interrupted = 0;
    LP *lp = rule_record();
    const double nan = std::nan("");
    EXPECT_EQ(rule(lp, 1, nan, 1e-7, 60), -1);
    EXPECT_EQ(rule(lp, 1, 1e-7, 1e-7), -1);
    EXPECT_EQ(rule(lp, 2, nan, 1e-7), -1);
    // The other value can still jump.
    EXPECT_EQ(rule(lp, 1, 1e-7, 1e-7), -1);
    EXPECT_EQ(rule(lp, 2, nan, 1e6), 1);
    closelp(lp);
}

namespace {
// In a child: raise the flag, call the rule on an optimal report, print the code, the
// flag, and whatever standard input still holds.
int prompt_child(int iter, double P) {
    LP *lp = rule_record();
    interrupted = 1;
    const int code = rule(lp, iter, P, 1e-7, 9);
    const int flag = interrupted;
    std::string rest;
    int ch;
    while ((ch = std::getchar()) != EOF) rest += static_cast<char>(ch);
    std::printf("|code=%d flag=%d rest=[%s]", code, flag, rest.c_str());
    return 0;
}
} // namespace

TEST(StRule, InterruptPrompt) {
    struct {
        const char *input;
        const char *tail;
    } cases[] = {
        {"y\nmore", "|code=6 flag=1 rest=[\nmore]"},          // stop, even though optimal
        {"n\n", "|code=0 flag=0 rest=[\n]"},                   // declined: the rule's own code
        {"yes\n", "|code=0 flag=0 rest=[\n]"},                 // only a lone "y" counts
        {"Y\n", "|code=0 flag=0 rest=[\n]"},
        {"", "|code=0 flag=0 rest=[]"},                        // end of input counts as no
        {"   \n\t y", "|code=6 flag=1 rest=[]"},               // leading white space skipped
        {"yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy y\n", "|code=0 flag=0 rest=[y\n]"},
        {"yyyyyyyyy\n", "|code=0 flag=0 rest=[\n]"},           // nine characters, not "y"
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input);
        const child_result r = in_child([] { return prompt_child(1, 1e-7); }, c.input);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, std::string(PROMPT) + c.tail);
    }
}

TEST(StRule, NoPromptWithoutInterrupt) {
    const child_result r = in_child(
        [] {
            LP *lp = rule_record();
            interrupted = 0;
            const int code = rule(lp, 1, 1e-7, 1e-7, 9);
            std::string rest;
            int ch;
            while ((ch = std::getchar()) != EOF) rest += static_cast<char>(ch);
            std::printf("code=%d rest=[%s]", code, rest.c_str());
            return 0;
        },
        "y\n");
    EXPECT_EQ(r.out, "code=0 rest=[y\n]");
}

TEST(StRule, HandlerOnlyRaisesTheFlag) {
    interrupted = 0;
    handler(SIGINT);
    EXPECT_EQ(interrupted, 1);
    interrupted = 0;
    handler(SIGTERM);
    EXPECT_EQ(interrupted, 0);
}

namespace {

// A solve that pauses inside its third step until the interrupt flag is raised, so that
// the parent can send SIGINT at a known point.
int pausing_update_fg(LP *lp) {
    static bool announced = false;
    if (lp->iter == 3 && !announced) {
        announced = true;
        std::printf("<waiting>\n");
        std::fflush(stdout);
        for (int k = 0; k < 20000 && interrupted == 0; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return nl_update_mps(lp);
}

int interrupted_solve() {
    interrupted = 0;
    LP *lp = make_lp(small_lp());
    lp->verbose = 1;
    lp->nl_update_fg = pausing_update_fg;
    const int rc = solvelp(lp);
    std::printf("<rc=%d iter=%d>\n", rc, lp->iter);
    return rc;
}

child_result solve_and_interrupt(const std::string &answer, int signals) {
    return in_child(interrupted_solve, answer, "", [signals](pid_t pid, const std::string &out) {
        ASSERT_TRUE(wait_for_text(out, "<waiting>"));
        for (int k = 0; k < signals; ++k) kill(pid, SIGINT);
    });
}

int count(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

} // namespace

TEST(StRule, SigintDuringASolveAnsweredYes) {
    const child_result r = solve_and_interrupt("y\n", 1);
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(count(r.out, PROMPT), 1);
    // The prompt comes at the stopping test of the next iteration.
    EXPECT_NE(r.out.find(std::string(PROMPT) + "<rc=6 iter=4>"), std::string::npos) << r.out;
}

TEST(StRule, SigintDuringASolveAnsweredNo) {
    // Three signals before the next stopping test still give one prompt; "n" goes on.
    const child_result r = solve_and_interrupt("n\n", 3);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.out, PROMPT), 1);
    EXPECT_NE(r.out.find("<rc=0 iter="), std::string::npos) << r.out;
}

TEST(StRule, SigintDuringASolveWithClosedInput) {
    const child_result r = solve_and_interrupt("", 1);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.out, PROMPT), 1);
}
