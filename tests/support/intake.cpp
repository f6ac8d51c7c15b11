#include "intake.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "aslprobe.h"
#include "driver/ampl.h"

namespace orva::testing {

ampl_intake::ampl_intake(const std::string &stem, std::vector<std::string> words) {
    reset_settings();
    asl = asl_create();
    lp = openlp();
    std::vector<std::string> args = {"orva", stem};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char *st = nullptr;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(parse_options(asl, argv.data(), &st), 0);
    amplin(asl, st, lp);
    update_kp(lp);
    std::fflush(stdout);
    out = ::testing::internal::GetCapturedStdout();
}

ampl_intake::~ampl_intake() {
    for (void *p : {(void *)lp->A, (void *)lp->iA, (void *)lp->kA, (void *)lp->kAt,
                    (void *)lp->varsgn, (void *)lp->c})
        std::free(p);
    if (lp->x && lp->x != guess_x()) std::free(lp->x);
    for (void *p : owned) std::free(p);
    std::free(lp);
    asl_free(asl);
}

double *ampl_intake::guess_x() const { return asl_x0(asl); }
double *ampl_intake::guess_y() const { return asl_pi0(asl); }

} // namespace orva::testing
