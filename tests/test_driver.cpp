// The orva program as AMPL and users start it: options, usage, bad input, refusals.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "aslprobe.h"
#include "nlfile.h"
#include "testlp.h"

using namespace orva::testing;

namespace {
const std::vector<std::string> keywords = {
    "amd", "autoord", "bndpush", "bounds", "convex", "dense", "dual", "epsdiag", "epsnum", "epssol", "honor_bnds",
    "honor_bnds_init", "ignore_initsol", "inftol", "inftol2", "iterlim", "lessfill", "lp_only", "lsqinit", "lsqrows", "max",
    "maximize", "maxit", "min", "mindeg", "minimize", "minlocfil", "mufactor", "nesdis", "noreord", "obj",
    "objno", "outlev", "penalty", "pred_corr", "primal", "ranges", "rhs", "sdp", "sigfig",
    "stablty", "steplen", "timing", "timlim", "verbose", "version", "wantsol", "zero_initsol"};

std::string orva_bin() { return bin("orva"); }

// A small LP: min x0 + x1 s.t. x0 + 2 x1 >= 2, x >= 0.
nl_model small_lp() {
    nl_model p;
    p.n = 2;
    nl_row r;
    r.lin = {{0, 1.0}, {1, 2.0}};
    r.lo = 2;
    p.rows = {r};
    nl_objective o;
    o.lin = {{0, 1.0}, {1, 1.0}};
    p.objs = {o};
    p.bounds = {{0, inf}, {0, inf}};
    return p;
}
} // namespace

TEST(Driver, KeywordListingUsageAndVersion) {
    const run_result list = run(orva_bin() + " -=");
    EXPECT_EQ(list.status, 0);
    // Every keyword at the start of its own line, in byte order, and nothing else there.
    std::istringstream in(list.out);
    std::string line;
    std::vector<std::string> seen;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '\t') seen.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(seen, keywords);
    EXPECT_NE(list.out.find("wantsol          solution report without -AMPL: sum of\n\t\t1 ==> "
                            "write .sol file\n"),
              std::string::npos);

    const run_result none = run(orva_bin());
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("usage: "), std::string::npos);
    EXPECT_NE(none.err.find(" [options] stub [-AMPL] [<assignment> ...]"), std::string::npos);

    const run_result ver = run(orva_bin() + " -v");
    EXPECT_EQ(ver.status, 0);
    EXPECT_NE(ver.out.find("Version 7.03 (20150119)"), std::string::npos) << ver.out;
}

TEST(Driver, BadOptionsAndBadFilesEndWithStatusOne) {
    const std::string dir = scratch_dir("driver-bad");
    const std::string stem = write_nl(dir, "lp", small_lp());

    const run_result unknown = run(orva_bin() + " " + stem + " nosuchkeyword=3");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE((unknown.out + unknown.err).find("nosuchkeyword"), std::string::npos);

    const run_result badnum = run(orva_bin() + " " + stem + " iterlim=abc");
    EXPECT_EQ(badnum.status, 1);
    EXPECT_NE((badnum.out + badnum.err).find("abc"), std::string::npos);

    // Options from the environment are parsed too, before the command line's.
    const run_result envbad = run("orva_options='iterlim=xyz' " + orva_bin() + " " + stem);
    EXPECT_EQ(envbad.status, 1);

    const run_result missing = run(orva_bin() + " " + dir + "/nosuchfile");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE((missing.out + missing.err).find("nosuchfile.nl"), std::string::npos);

    // A truncated file and a file that is not an .nl file at all.
    const std::string text = nl_text(small_lp());
    std::ofstream(dir + "/cut.nl") << text.substr(0, text.size() / 2);
    const run_result cut = run(orva_bin() + " " + dir + "/cut");
    EXPECT_EQ(cut.status, 1) << cut.out << cut.err;
    EXPECT_FALSE((cut.out + cut.err).empty());
    std::ofstream(dir + "/junk.nl") << "this is not a problem\n\x01\x02\x03";
    const run_result junk = run(orva_bin() + " " + dir + "/junk");
    EXPECT_EQ(junk.status, 1) << junk.out << junk.err;
    EXPECT_FALSE((junk.out + junk.err).empty());
    std::ofstream(dir + "/empty.nl") << "";
    const run_result empty = run(orva_bin() + " " + dir + "/empty");
    EXPECT_EQ(empty.status, 1) << empty.out << empty.err;
}

// A value that does not parse whole, wraps around, or lies outside what the setting takes
// is refused before anything is solved, never read as 0 or as another number.
TEST(Driver, OptionValuesAreCheckedWhole) {
    const std::string dir = scratch_dir("driver-values");
    const std::string stem = write_nl(dir, "lp", small_lp());
    for (const char *word : {"iterlim", "iterlim=", "iterlim=4294967296", "maxit=2147483648", "maxit=5x",
                             "timlim=", "inftol=-1", "inftol=nan", "steplen=2", "steplen=1", "bndpush=-2",
                             "sigfig=61"}) {
        std::remove((stem + ".sol").c_str());
        const run_result r = run(orva_bin() + " " + stem + " -AMPL " + word);
        EXPECT_EQ(r.status, 1) << word << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(word), std::string::npos) << word << "\n" << r.err;
        EXPECT_FALSE(std::ifstream(stem + ".sol")) << word;
    }
    for (const char *word : {"iterlim=2147483647", "steplen=0.5", "bndpush=-1", "sigfig=60"}) {
        const run_result r = run(orva_bin() + " " + stem + " -AMPL " + word);
        EXPECT_EQ(r.status, 0) << word << "\n" << r.out << r.err;
    }
}

TEST(Driver, ComplementarityProblemsAreRefused) {
    const std::string dir = scratch_dir("driver-mpec");
    nl_model p = small_lp();
    nl_row cc;
    cc.lin = {{0, 1.0}};
    cc.complements = 1;  // x0 complements x1
    p.rows.push_back(cc);
    const std::string stem = write_nl(dir, "mpec", p);

    // Run by hand: the message is printed, no .sol file unless asked for, status 4.
    const run_result plain = run(orva_bin() + " " + stem);
    EXPECT_EQ(plain.status, 4);
    EXPECT_NE(plain.out.find("ORVA 7.03: " + stem + ".nl contains complementarity constraints."),
              std::string::npos)
        << plain.out;
    EXPECT_FALSE(read_sol(stem).ok);

    const run_result ampl = run(orva_bin() + " " + stem + " -AMPL");
    EXPECT_EQ(ampl.status, 0);
    EXPECT_EQ(read_sol(stem).code, 600);

    std::remove((stem + ".sol").c_str());
    const run_result ws = run(orva_bin() + " " + stem + " wantsol=1");
    EXPECT_EQ(ws.status, 0);
    EXPECT_EQ(read_sol(stem).code, 600);
}
