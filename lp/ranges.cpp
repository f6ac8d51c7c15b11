#include "lp/ranges.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace orva {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double none = std::numeric_limits<double>::quiet_NaN();

// From lo to hi (each itself excluded when open), or exactly `automatic`, the setting's
// "choose for me" value.  Tolerances are not negative; a step of the full length to the
// boundary leaves the interior the method works in, so steplen stays below 1; the
// objectives' agreement is measured up to 60 figures, so more can never be reached.
struct value_range {
    const char *name;
    double lo;
    bool lo_open;
    double hi;
    bool hi_open;
    double automatic;
};
const value_range ranges[] = {
    {"bndpush", 0.0, true, inf, false, -1.0},   {"epsdiag", 0.0, false, inf, false, none},
    {"epsnum", 0.0, false, inf, false, none},   {"epssol", 0.0, false, inf, false, none},
    {"inftol", 0.0, false, inf, false, none},   {"inftol2", 0.0, false, inf, false, none},
    {"mufactor", 0.0, false, inf, false, -1.0}, {"pred_corr", 0.0, false, 10.0, false, -1.0},
    {"sigfig", -inf, false, 60.0, false, none},
    {"stablty", 0.0, false, inf, false, none},  {"steplen", 0.0, true, 1.0, true, none},
};

} // namespace

bool setting_in_range(const char *name, double v, char *why, std::size_t len) {
    if (std::isnan(v)) {
        std::snprintf(why, len, "%s takes numbers only", name);
        return false;
    }
    for (const value_range &r : ranges) {
        if (std::strcmp(r.name, name) != 0) continue;
        if (v == r.automatic || ((r.lo_open ? v > r.lo : v >= r.lo) && (r.hi_open ? v < r.hi : v <= r.hi)))
            return true;
        char upper[40] = "";
        if (r.hi < inf) std::snprintf(upper, sizeof upper, " %s %g", r.hi_open ? "below" : "up to", r.hi);
        if (r.lo > -inf)
            std::snprintf(why, len, "%s takes values %s %g%s%s", name, r.lo_open ? "above" : "from", r.lo, upper,
                          std::isnan(r.automatic) ? "" : " (or -1: automatic)");
        else
            std::snprintf(why, len, "%s takes values%s", name, upper);
        return false;
    }
    return true;
}

} // namespace orva
