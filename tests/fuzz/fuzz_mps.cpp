// libFuzzer target: the MPS/QPS reader on arbitrary bytes, the writer on what it read,
// and (ORVA_FUZZ_SOLVE=1) a short solve of small problems.
//
// A refused file (a data error or a failed allocation) comes back as orva::error; the
// record is closed and the next input runs.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/labels.h"
#include "files/mps.h"
#include "ipm/ipm.h"
#include "linalg/factor.h"
#include "lp/error.h"
#include "lp/lp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::string path = "/tmp/orva-fuzz-mps-" + std::to_string(getpid()) + ".mps";
    static const bool solve = std::getenv("ORVA_FUZZ_SOLVE") != nullptr;
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    // No file descriptor may be left open by a refused file: the count is checked below.
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
    } catch (const orva::error &) {
    }
    orva::closelp(lp);
    orva::inv_clo();
    orva::hash_free();
    if (first_fd >= 0) {
        const int next_fd = dup(0);
        if (next_fd != first_fd) std::abort();  // a descriptor leaked
        close(next_fd);
    }
    return 0;
}
