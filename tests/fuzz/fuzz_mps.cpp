// libFuzzer target: the MPS/QPS reader on arbitrary bytes, the writer on what it read,
// and (ORVA_FUZZ_SOLVE=1) a short solve of small problems.
//
// A refused file ends the program through my_exit; the fuzz build links this target with
// --wrap for it, so that here it throws instead and the next input can run.  What the
// reader had allocated before it stopped is then not released (the program would have
// ended), which is why runs are kept short (-max_total_time) and repeated.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/labels.h"
#include "files/mps.h"
#include "ipm/ipm.h"
#include "linalg/factor.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace {

struct refused {
    int code;
};

void refuse_alloc(const char *) { throw refused{-1}; }

} // namespace

extern "C" [[noreturn]] void __wrap__ZN4orva7my_exitEiPKc(int code, const char *) { throw refused{code}; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::string path = "/tmp/orva-fuzz-mps-" + std::to_string(getpid()) + ".mps";
    static const bool solve = std::getenv("ORVA_FUZZ_SOLVE") != nullptr;
    orva::alloc_fail = refuse_alloc;
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    // File descriptors at or above this one belong to the reader (left open when it stops).
    const int first_fd = dup(0);
    if (first_fd >= 0) close(first_fd);

    orva::LP *lp = orva::openlp();
    lp->verbose = 0;
    const char *paths[1] = {path.c_str()};
    try {
        orva::readlp(1, paths, lp);
        orva::writelp(lp, "/dev/null");
        if (solve && lp->n + lp->m <= 60) {
            lp->itnlim = 20;
            orva::solvelp(lp);
        }
    } catch (const refused &) {
    }
    orva::closelp(lp);
    orva::inv_clo();
    orva::hash_free();
    if (first_fd >= 0)
        for (int fd = first_fd; fd < first_fd + 16; ++fd) close(fd);
    return 0;
}
