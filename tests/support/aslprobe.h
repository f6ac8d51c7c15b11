// Queries of the ASL for the tests, kept out of the test sources (the ASL's headers
// define many short macros).
#pragma once

#include <string>
#include <vector>

#include "driver/nlcheck.h"

struct ASL;

namespace orva::testing {

// The header's counts as the ASL read them.
nl_counts asl_counts(ASL *asl);

double *asl_x0(ASL *asl);
double *asl_pi0(ASL *asl);
int asl_obj_no(ASL *asl);
ASL *asl_current();
void asl_free(ASL *&asl);
// Constraint bodies at x (all rows); false when the ASL reported an evaluation error.
bool asl_conval(ASL *asl, double *x, double *body);
double asl_objval(ASL *asl, int o, double *x);

// What AMPL receives: the .sol file of `stem`, read back through the ASL.
struct sol_file {
    bool ok = false;
    int code = -1;  // the solve result code
    std::string message;
    std::vector<double> x, y;
};
sol_file read_sol(const std::string &stem);

} // namespace orva::testing
