#include <cstdio>

#include "driver/driver.h"

namespace orva {

int main1(int argc, char **argv) {
    (void)argc;
    std::fprintf(stderr, "usage: %s [options] stub [-AMPL] [<assignment> ...]\n", argv[0]);
    return 1;
}

} // namespace orva
