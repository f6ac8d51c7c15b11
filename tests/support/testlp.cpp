#include "testlp.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "lp/alloc.h"

// In the sanitizer build, a request no machine can hold must come back as a null pointer
// (as without the sanitizer), so that the tests can see the allocation failure messages.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace orva::testing {

namespace {
double *copy_or_null(const std::vector<double> &v, const char *name) {
    if (v.empty()) return nullptr;
    double *p = xmalloc<double>(name, "len", static_cast<long long>(v.size()));
    for (size_t i = 0; i < v.size(); ++i) p[i] = v[i];
    return p;
}

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
} // namespace

LP *make_lp(const dense_problem &p) {
    LP *lp = openlp();
    lp->m = p.m;
    lp->n = p.n;
    std::vector<double> val;
    std::vector<int> row, start{0};
    for (int j = 0; j < p.n; ++j) {
        for (int i = 0; i < p.m; ++i) {
            const double a = p.A.empty() ? 0.0 : p.A[i][j];
            if (a != 0.0) {
                val.push_back(a);
                row.push_back(i);
            }
        }
        start.push_back(static_cast<int>(val.size()));
    }
    lp->nz = static_cast<int>(val.size());
    lp->A = xmalloc<double>("A", "nz", lp->nz);
    lp->iA = xmalloc<int>("iA", "nz", lp->nz);
    lp->kA = xmalloc<int>("kA", "n+1", p.n + 1);
    for (int k = 0; k < lp->nz; ++k) {
        lp->A[k] = val[k];
        lp->iA[k] = row[k];
    }
    for (int j = 0; j <= p.n; ++j) lp->kA[j] = start[j];
    lp->b = copy_or_null(p.b, "b");
    lp->r = copy_or_null(p.r, "r");
    lp->c = copy_or_null(p.c, "c");
    lp->l = copy_or_null(p.l, "l");
    lp->u = copy_or_null(p.u, "u");
    lp->f = p.f;
    if (!p.Q.empty()) {
        std::vector<double> qv;
        std::vector<int> qi, qs{0};
        for (int j = 0; j < p.n; ++j) {
            for (int i = 0; i < p.n; ++i)
                if (p.Q[i][j] != 0.0) {
                    qv.push_back(p.Q[i][j]);
                    qi.push_back(i);
                }
            qs.push_back(static_cast<int>(qv.size()));
        }
        lp->qnz = static_cast<int>(qv.size());
        lp->Q = xmalloc<double>("Q", "qnz", lp->qnz);
        lp->iQ = xmalloc<int>("iQ", "qnz", lp->qnz);
        lp->kQ = xmalloc<int>("kQ", "n+1", p.n + 1);
        for (int k = 0; k < lp->qnz; ++k) {
            lp->Q[k] = qv[k];
            lp->iQ[k] = qi[k];
        }
        for (int j = 0; j <= p.n; ++j) lp->kQ[j] = qs[j];
    }
    return lp;
}

run_result run(const std::string &cmdline, const std::string &input) {
    static int counter = 0;
    const std::string base = "/tmp/orva-run-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const std::string in = base + ".in", out = base + ".out", err = base + ".err";
    {
        std::ofstream f(in, std::ios::binary);
        f << input;
    }
    const std::string full = "(" + cmdline + ") <" + in + " >" + out + " 2>" + err;
    const int rc = std::system(full.c_str());
    run_result r;
    r.status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    std::remove(in.c_str());
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

std::string bin(const std::string &program) {
    const char *dir = std::getenv("ORVA_BIN");
#ifdef ORVA_BINARY_DIR
    std::string d = dir ? dir : ORVA_BINARY_DIR;
#else
    std::string d = dir ? dir : ".";
#endif
    return d + "/" + program;
}

namespace {
// The scratch folders of this test program, removed when it ends (kept when
// ORVA_KEEP_SCRATCH is set, to look at the files of a failed test).
struct scratch_folders {
    std::vector<std::string> dirs;
    ~scratch_folders() {
        if (std::getenv("ORVA_KEEP_SCRATCH")) return;
        for (const std::string &d : dirs) std::system(("rm -rf '" + d + "'").c_str());
    }
};
scratch_folders scratch;
} // namespace

std::string scratch_dir(const std::string &tag) {
    const std::string d = "/tmp/orva-test-" + tag + "-" + std::to_string(getpid());
    std::system(("rm -rf '" + d + "'").c_str());
    mkdir(d.c_str(), 0755);
    if (std::find(scratch.dirs.begin(), scratch.dirs.end(), d) == scratch.dirs.end()) scratch.dirs.push_back(d);
    return d;
}

bool have_shared_data() {
    struct stat st {};
    return stat(shared_data("").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string shared_data(const std::string &rel) {
    const char *env = std::getenv("ORVA_SHARED_DATA");
#ifdef ORVA_SHARED_DATA
    std::string d = env ? env : ORVA_SHARED_DATA;
#else
    std::string d = env ? env : "../shared/data";
#endif
    return rel.empty() ? d : d + "/" + rel;
}

} // namespace orva::testing
