#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "files/specs.h"
#include "lp/lp.h"
#include "testlp.h"

using namespace orva;

namespace {

class Specs : public ::testing::Test {
  protected:
    void SetUp() override { reset_opns(); }
    void TearDown() override {
        reset_opns();
        closelp(lp);
    }
    // Applies the table to a fresh record.
    LP *apply() {
        closelp(lp);
        lp = openlp();
        set_opns(lp);
        return lp;
    }
    std::string specs_file(const std::string &text) {
        const std::string path = orva::testing::scratch_dir("specs" + std::to_string(counter++)) + "/specs";
        std::ofstream(path) << text;
        return path;
    }
    keyword *find(const char *name) {
        const char *p = name;
        return binsearch(&p);
    }
    LP *lp = nullptr;
    int counter = 0;
};

} // namespace

TEST_F(Specs, DefaultsThatDifferFromTheRecord) {
    apply();
    EXPECT_EQ(lp->inftol, 1e-6);
    EXPECT_EQ(lp->verbose, 0);            // outlev 0 defers to verbose, also 0
    EXPECT_EQ(lp->pred_corr, 0);          // a flag starts at 0
    EXPECT_TRUE(std::isinf(lp->timlim));  // timlim -1 leaves the record's value
}

TEST_F(Specs, BinsearchMatchesWholeNamesIgnoringCase) {
    const char *text = "MAXIT=50 rest";
    const char *p = text;
    keyword *k = binsearch(&p);
    ASSERT_NE(k, nullptr);
    EXPECT_STREQ(k->name, "maxit");
    EXPECT_EQ(p, text + 5);
    // Every name of the table is found, including the ones that prefix others.
    for (const char *name : {"bndpush", "honor_bnds", "honor_bnds_init", "inftol", "inftol2", "max", "maximize",
                             "min", "mindeg", "verbose", "timlim", "sdp"}) {
        keyword *e = find(name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_STREQ(e->name, name);
    }
    EXPECT_EQ(opns_failures(), 0);
    p = "maxi";  // a prefix of a name is not the name
    EXPECT_EQ(binsearch(&p), nullptr);
    EXPECT_EQ(opns_failures(), 1);
}

TEST_F(Specs, SpecsFileSetsEntries) {
    EXPECT_EQ(rd_specs(specs_file("* a comment line\n"
                                  "inftol 1e-8\n"
                                  "\n"
                                  "CONVEX   T   anything after the value\n"
                                  "dense -1\n"
                                  "iterlim 200\n"
                                  "maxit 50\n"
                                  "min T\n"
                                  "max T\n"
                                  "noreord T\n"
                                  "minlocfil T\n"
                                  "outlev 0\n"
                                  "verbose 3\n"
                                  "quadratic T\n"
                                  "timlim 60\n")
                           .c_str()),
              0);
    apply();
    EXPECT_EQ(lp->inftol, 1e-8);
    EXPECT_EQ(lp->convex, 1);
    EXPECT_EQ(lp->dense, -1);
    EXPECT_EQ(lp->itnlim, 50);  // iterlim exactly 200 defers to maxit
    EXPECT_EQ(lp->max, 1);      // min wins over max
    EXPECT_EQ(lp->method, 0);   // noreord wins over minlocfil
    EXPECT_EQ(lp->verbose, 3);  // outlev 0 defers to verbose
    EXPECT_EQ(lp->quadratic, 1);
    EXPECT_EQ(lp->lincons, 1);
    EXPECT_EQ(lp->timlim, 60.0);
}

TEST_F(Specs, SensePriorityAndOutputLevel) {
    ASSERT_EQ(rd_opns("maximize primal outlev=4 verbose=1 minlocfil iterlim=30"), 1);
    apply();
    EXPECT_EQ(lp->max, -1);
    EXPECT_EQ(lp->pdf, 1);
    EXPECT_EQ(lp->verbose, 4);
    EXPECT_EQ(lp->method, 2);
    EXPECT_EQ(lp->itnlim, 30);
    ASSERT_EQ(rd_opns("dual"), 1);
    apply();
    EXPECT_EQ(lp->pdf, 2);
    // The library orderings and the priority by fill (which wins over primal and dual).
    ASSERT_EQ(rd_opns("amd lessfill"), 1);
    apply();
    EXPECT_EQ(lp->method, 2);  // minlocfil, still set, comes first
    EXPECT_EQ(lp->pdf, 3);
    reset_opns();
    ASSERT_EQ(rd_opns("nesdis"), 1);
    apply();
    EXPECT_EQ(lp->method, 4);
    reset_opns();
    ASSERT_EQ(rd_opns("amd"), 1);
    apply();
    EXPECT_EQ(lp->method, 3);
    reset_opns();
    ASSERT_EQ(rd_opns("autoord"), 1);
    apply();
    EXPECT_EQ(lp->method, 5);
}

TEST_F(Specs, SpecsFileStopsAtTheFirstBadLine) {
    // A real must start with a digit.
    EXPECT_EQ(rd_specs(specs_file("inftol 1e-8\nsteplen .9\nconvex T\n").c_str()), 2);
    EXPECT_EQ(find("inftol")->rval, 1e-8);
    EXPECT_EQ(find("steplen")->rval, 0.95);
    EXPECT_EQ(find("convex")->ival, 0);  // never reached
    reset_opns();
    EXPECT_EQ(rd_specs(specs_file("convex X\n").c_str()), 1);   // flags are T or F
    EXPECT_EQ(rd_specs(specs_file("sigfig +3\n").c_str()), 1);  // no sign on integers but "-"
    EXPECT_EQ(rd_specs(specs_file("1abc 3\n").c_str()), 1);     // a keyword starts with a letter
    EXPECT_EQ(rd_specs(specs_file("sigfig\n").c_str()), 1);     // a value is required
    // A value longer than 14 characters is refused rather than read cut short.
    EXPECT_EQ(rd_specs(specs_file("inftol 1.00000000000001\n").c_str()), 1);
    EXPECT_EQ(find("inftol")->rval, 1e-6);
    // A line longer than the 79 readable characters does not spill into another line.
    EXPECT_EQ(rd_specs(specs_file("sigfig 6 " + std::string(100, 'x') + " inftol 1\nverbose 2\n").c_str()), 0);
    EXPECT_EQ(find("sigfig")->ival, 6);
    EXPECT_EQ(find("verbose")->ival, 2);
    EXPECT_EQ(rd_specs("/nonexistent/specs"), -1);
    EXPECT_EQ(rd_specs("/"), -1);  // a folder is no file to read
    // A NUL byte does not make the line look long and swallow the next one.
    EXPECT_EQ(rd_specs(specs_file("sigfig 7" + std::string(1, '\0') + "\nverbose 3\n").c_str()), 0);
    EXPECT_EQ(find("sigfig")->ival, 7);
    EXPECT_EQ(find("verbose")->ival, 3);
}

TEST_F(Specs, OptionStrings) {
    EXPECT_EQ(rd_opns("inftol=1e-7 convex"), 1);
    EXPECT_EQ(find("inftol")->rval, 1e-7);
    EXPECT_EQ(find("convex")->ival, 1);
    EXPECT_EQ(rd_opns("  sigfig = 6  "), 1);
    EXPECT_EQ(find("sigfig")->ival, 6);
    EXPECT_EQ(rd_opns("inftol 1e-7 convex"), 0);  // a value needs "="
    EXPECT_EQ(rd_opns("dense=-1"), 0);            // and starts with a digit
    EXPECT_EQ(rd_opns("=3"), 0);
    EXPECT_EQ(rd_opns(""), 1);
    EXPECT_EQ(rd_opns("pred_corr=3"), 1);  // a flag given a whole number
    EXPECT_EQ(find("pred_corr")->ival, 3);
    EXPECT_EQ(rd_opns("pred_corr=2.5"), 0);
    EXPECT_EQ(opns_failures(), 0);
}

TEST_F(Specs, NumbersThatWrapOrLieOutOfRangeAreRefused) {
    for (const char *word : {"iterlim=4294967296", "maxit=2147483648", "steplen=2", "steplen=1", "sigfig=61",
                             "pred_corr=11"}) {
        EXPECT_EQ(rd_opns(word), 0) << word;
        std::string line = word;  // the same as a specs file's line
        line[line.find('=')] = ' ';
        EXPECT_EQ(rd_specs(specs_file(line + "\n").c_str()), 1) << word;
    }
    EXPECT_EQ(find("iterlim")->ival, 500);
    EXPECT_EQ(find("steplen")->rval, 0.95);
    EXPECT_EQ(rd_opns("iterlim=2147483647 steplen=0.5"), 1);
    EXPECT_EQ(find("iterlim")->ival, 2147483647);
}

TEST_F(Specs, OneUnknownKeywordRefusesEveryLaterOne) {
    EXPECT_EQ(rd_opns("convex nosuchword=3"), 0);
    EXPECT_EQ(find("convex")->ival, 1);  // set before the failure, kept
    EXPECT_EQ(rd_opns("sigfig=5"), 0);
    EXPECT_EQ(find("sigfig")->ival, 8);
    EXPECT_EQ(rd_specs(specs_file("sigfig 5\n").c_str()), 1);
    EXPECT_EQ(find("sigfig")->ival, 8);
    reset_opns();
    EXPECT_EQ(rd_specs(specs_file("sigfig 5\nbogus 1\ninftol 1\n").c_str()), 2);
    EXPECT_EQ(rd_opns("inftol=1"), 0);
    EXPECT_EQ(find("sigfig")->ival, 5);
}
