// Driver-internal: the ASL headers and the process-wide option settings.
// Included only by the driver's own source files (the ASL defines many short macros).
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "driver/ampl.h"
#include "lp/alloc.h"
#include "lp/lp.h"

#include "asl_pfgh.h"
#include "getstub.h"

#undef exit

namespace orva {

// Settings written by the option keywords (one variable each; several keywords may
// share one).
struct ampl_settings {
    double inftol = 1e-6;
    int sense = 0;  // 0 from the model, 1 minimise, -1 maximise
    int sigfig = 8;
    int outlev = 0;
    int objno = 1;
    int iterlim = 500;
    double timlim = 0.0;
    double inftol2 = 1e8;
    double mufactor = -1.0;
    int pred_corr = -1;
    double steplen = 0.95;
    double epssol = 1e-6;
    double epsnum = 0.0;
    double epsdiag = 1e-10;
    double stablty = 1.0;
    int method = 1;
    int dense = -1;
    int pdf = 0;
    double bndpush = -1.0;
    int honor_bnds = -1;
    int honor_bnds_init = 0;
    int lsqinit = 0;
    int lsqrows = 0;
    int lp_only = 0;
    int ignore_initsol = 0;
    int zero_initsol = 0;
    int convex = 0;
    int sdp = 0;
    char *bounds = nullptr;
    char *obj = nullptr;
    char *ranges = nullptr;
    char *rhs = nullptr;
    double penalty = 1.0;
    int timing = 0;
};
extern ampl_settings opts;
extern Option_Info Oinfo;

// Set by the intake when the problem has no nonlinear constraints.
extern char no_nonlin_cons;

} // namespace orva
