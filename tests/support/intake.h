// One intake of an .nl problem in the test process, as the driver does it: settings reset,
// options parsed, problem read, settings copied into a fresh record.  The destructor
// releases the record's own arrays (b, r, l, u and the initial guesses are the ASL's) and
// the ASL record.
#pragma once

#include <string>
#include <vector>

#include "lp/lp.h"

struct ASL;

namespace orva::testing {

struct ampl_intake {
    ASL *asl = nullptr;
    LP *lp = nullptr;
    std::string out;  // what the option parser and the intake printed

    ampl_intake(const std::string &stem, std::vector<std::string> words = {});
    ~ampl_intake();
    ampl_intake(const ampl_intake &) = delete;
    ampl_intake &operator=(const ampl_intake &) = delete;

    // Arrays the test added to the record, released with it.
    void own(void *p) { owned.push_back(p); }

    double *guess_x() const;
    double *guess_y() const;
    static std::vector<int> ints(const int *p, int k) { return std::vector<int>(p, p + k); }
    static std::vector<double> dbls(const double *p, int k) { return std::vector<double>(p, p + k); }

  private:
    std::vector<void *> owned;
};

} // namespace orva::testing
