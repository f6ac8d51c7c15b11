#include <cstdio>

#include "files/specs.h"
#include "ipm/ipm.h"

namespace orva {

void opt_message(int code) {
    if (code >= 0 && code <= 14) std::printf("%s\n", result_messages[code]);
}

} // namespace orva
