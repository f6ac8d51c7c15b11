// Benchmark of the sparse factorization on a real problem.
//
//   orva-bench-factor PROBLEM.nl [reps] [seed] [method] [pdf]
//
// Reads the problem through the ASL, builds the reduced system as the solver does
// (A by columns, its transpose, the variable and row classes, Q with both triangles
// for a nonlinear objective, Dn and Dm spread over 1e-4..1e4), times the symbolic
// phase, the numeric factorization (median of `reps` calls) and one solve, and
// prints one line (times are processor seconds of the process):
//   factor n= m= lnz= flops= symbolic_s= numeric_s= solve_s= gflops= dense_gflops= ratio= rss_mb=
// dense_gflops is the rate of a single-threaded dgemm of order 1000 measured in the
// same run: the median of measurements taken between the factorizations (in a child
// process, so that its matrices do not count in rss_mb).
//
// With the peer built in (MUMPS, the sparse LDL' that Ipopt uses), the same matrix is
// also factored by it, timed the same way, first in orva's pivot order (the same L, so
// that only the numeric phases differ), then in the peer's own order; each gives a line
//   peer mumps order=orva|own analysis_s= numeric_s= gflops= ratio= peer_flops= peer_entries= time_ratio=
// before the final one, where gflops and ratio count orva's arith_ops and time_ratio is
// orva's numeric seconds over the peer's.
#include <cblas.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

// The ASL's headers define short macros (range, ...): the standard headers come first.
#include "asl_pfgh.h"
#include "bench/peer_mumps.h"
#include "linalg/blas.h"
#include "linalg/factor.h"
#include "linalg/factor_info.h"
#include "linalg/kernels.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace {

// Processor time of this process (single-threaded): unlike wall time it does not
// count the time slices that other programs take on a shared machine.
double now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

// Rate of one C = A B of three 1000 x 1000 matrices, single-threaded.
struct dense_bench {
    int n = 1000;
    std::vector<double> A, B, C;
    dense_bench() : A(size_t(n) * n), B(size_t(n) * n), C(size_t(n) * n, 0.0) {
        std::mt19937 gen(1);
        std::uniform_real_distribution<double> U(-1, 1);
        for (auto &x : A) x = U(gen);
        for (auto &x : B) x = U(gen);
    }
    double rate() {
        const double t0 = now();
        cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, 1.0, A.data(), n, B.data(), n,
                    0.0, C.data(), n);
        return 2.0 * n * n * n / (now() - t0) / 1e9;
    }
};

// The dense measurements run in a child process (so that their matrices do not count
// in this process's peak memory), one on each request, interleaved with the
// factorizations so that both see the same load of the machine.
struct dense_child {
    int req = -1, ans = -1;
    pid_t pid = -1;
    dense_child() {
        int a[2], b[2];
        if (pipe(a) != 0 || pipe(b) != 0) return;
        pid = fork();
        if (pid == 0) {
            close(a[1]);
            close(b[0]);
            dense_bench d;
            char c;
            while (read(a[0], &c, 1) == 1) {
                const double r = d.rate();
                if (write(b[1], &r, sizeof r) != sizeof r) break;
            }
            _exit(0);
        }
        close(a[0]);
        close(b[1]);
        req = a[1];
        ans = b[0];
    }
    double measure() {
        if (pid <= 0) return 0.0;
        const char c = 'x';
        double r = 0;
        if (write(req, &c, 1) != 1 || read(ans, &r, sizeof r) != sizeof r) return 0.0;
        return r;
    }
    ~dense_child() {
        if (pid > 0) {
            close(req);
            close(ans);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t k = v.size();
    return k == 0 ? 0.0 : k % 2 ? v[k / 2] : 0.5 * (v[k / 2 - 1] + v[k / 2]);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        Fprintf(Stderr, "usage: %s problem.nl [reps] [seed] [method] [pdf]\n", argv[0]);
        return 2;
    }
    const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1;
    // ordering: 0 none, 1 degree, 2 local fill, 3 approximate degree, 4 nested dissection
    const int method = argc > 4 ? std::atoi(argv[4]) : 1;
    // priority: 0 by the estimates, 1 primal, 2 dual, 3 by fill
    const int pdf = argc > 5 ? std::atoi(argv[5]) : 0;
    orva::blas_setup();  // before the dense child forks, so that both use the same kernels
    dense_child dense;

    ASL *asl = ASL_alloc(ASL_read_pfgh);
    FILE *nl = jac0dim(argv[1], static_cast<fint>(std::strlen(argv[1])));
    if (!nl) {
        Fprintf(Stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    pfgh_read(nl, ASL_findgroups | ASL_sep_U_arrays);

    using namespace orva;
    LP *lp = openlp();
    const int n = n_var, m = n_con;
    lp->n = n;
    lp->m = m;
    // A by columns from the constraint gradients (goff: the column-wise position).
    lp->kA = xcalloc<int>("kA", "n+1", n + 1);
    for (int i = 0; i < m; ++i)
        for (cgrad *cg = Cgrad[i]; cg; cg = cg->next) ++lp->kA[cg->varno + 1];
    for (int j = 0; j < n; ++j) lp->kA[j + 1] += lp->kA[j];
    lp->nz = lp->kA[n];
    lp->A = xmalloc<double>("A", "nz", lp->nz);
    lp->iA = xmalloc<int>("iA", "nz", lp->nz);
    for (int i = 0; i < m; ++i)
        for (cgrad *cg = Cgrad[i]; cg; cg = cg->next) {
            lp->iA[cg->goff] = i;
            lp->A[cg->goff] = cg->coef;
        }
    lp->At = xmalloc<double>("At", "nz", lp->nz);
    lp->iAt = xmalloc<int>("iAt", "nz", lp->nz);
    lp->kAt = xmalloc<int>("kAt", "m+1", m + 1);
    atnum(m, n, lp->kA, lp->iA, lp->A, lp->kAt, lp->iAt, lp->At);

    // Q with both triangles from the Hessian of the objective (upper triangle).
    if (nlo > 0 && n_obj > 0) {
        const fint nh = sphsetup(-1, 1, 1, 1);
        std::vector<double> x(n, 1.0), y(std::max(1, m), 0.0), H(std::max<fint>(1, nh));
        real ow[1] = {1.0};
        xknown(x.data());
        sphes(H.data(), -1, ow, y.data());
        const fint *hcs = sputinfo->hcolstarts, *hrn = sputinfo->hrownos;
        std::vector<int> cnt(n + 1, 0);
        for (int j = 0; j < n; ++j)
            for (fint k = hcs[j]; k < hcs[j + 1]; ++k) {
                ++cnt[j + 1];
                if (hrn[k] != j) ++cnt[hrn[k] + 1];
            }
        for (int j = 0; j < n; ++j) cnt[j + 1] += cnt[j];
        lp->qnz = cnt[n];
        lp->Q = xmalloc<double>("Q", "qnz", lp->qnz);
        lp->iQ = xmalloc<int>("iQ", "qnz", lp->qnz);
        lp->kQ = xmalloc<int>("kQ", "n+1", n + 1);
        std::vector<int> fill(cnt.begin(), cnt.end() - 1);
        for (int j = 0; j <= n; ++j) lp->kQ[j] = cnt[j];
        for (int j = 0; j < n; ++j)
            for (fint k = hcs[j]; k < hcs[j + 1]; ++k) {
                const int i = static_cast<int>(hrn[k]);
                lp->iQ[fill[j]] = i;
                lp->Q[fill[j]++] = H[k];
                if (i != j) {
                    lp->iQ[fill[i]] = j;
                    lp->Q[fill[i]++] = H[k];
                }
            }
        lp->quadratic = 1;
    }

    // Classes from the bounds (beyond 1e8 counts as infinite).
    lp->bndmark = xmalloc<int>("bndmark", "n", n);
    lp->rngmark = xmalloc<int>("rngmark", "m", m);
    auto lo = [&](const real *LU, const real *U, int k) { return U ? LU[k] : LU[2 * k]; };
    auto up = [&](const real *LU, const real *U, int k) { return U ? U[k] : LU[2 * k + 1]; };
    for (int j = 0; j < n; ++j) {
        const bool hl = lo(LUv, Uvx, j) > -1e8, hu = up(LUv, Uvx, j) < 1e8;
        lp->bndmark[j] = hl && hu ? 8 : hl ? 2 : hu ? 4 : 1;
    }
    int free_rows = 0;
    for (int i = 0; i < m; ++i) {
        const bool hl = lo(LUrhs, Urhsx, i) > -1e8, hu = up(LUrhs, Urhsx, i) < 1e8;
        lp->rngmark[i] = hl && hu ? 1 : (hl || hu) ? 2 : 4;
        free_rows += lp->rngmark[i] == 4;
    }

    // A plausible interior point: diagonals spread over 1e-4..1e4, free rows 1e300.
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> U(std::log(1e-4), std::log(1e4));
    std::vector<double> Dn(n), Dm(m);
    for (auto &d : Dn) d = std::exp(U(gen));
    for (int i = 0; i < m; ++i) Dm[i] = lp->rngmark[i] == 4 ? 1e300 : std::exp(U(gen));
    lp->verbose = 0;
    lp->method = method;
    lp->pdf = pdf;
    if (argc > 5) lp->convex = 1;  // a priority asked for: as for a convex problem (orva-mps)

    struct rusage ru0 {};
    getrusage(RUSAGE_SELF, &ru0);
    const double base_mb = ru0.ru_maxrss / 1024.0;  // peak before the factorization
    double t0 = now();
    inv_num(lp, Dn.data(), Dm.data());
    const double first = now() - t0;
    const factor_view v = factor_info();
    if (getenv("ORVA_BENCH_DETAIL")) {
        struct rusage r1 {};
        getrusage(RUSAGE_SELF, &r1);
        long long big = 0;
        for (int s2 = 0; s2 < v.nblk; ++s2) big = std::max<long long>(big, v.bsize[s2]);
        Fprintf(Stderr, "detail: nsuper=%d nblk=%d window=%d maxfront=%lld rss_before=%.1f rss_after_first=%.1f "
                "L_mb=%.1f pdf=%d dense=%d\n", v.nsuper, v.nblk, v.window, big, base_mb, r1.ru_maxrss / 1024.0,
                (12.0 * v.lnz + 4.0 * (n + m + 1)) / 1048576.0, v.pdf, v.dense);
    }
    const double symbolic_s = v.symbolic_seconds;
    std::vector<double> times, rates;
    rates.push_back(dense.measure());
    for (int r = 0; r < reps; ++r) {
        t0 = now();
        inv_num(lp, Dn.data(), Dm.data());
        times.push_back(now() - t0);
        rates.push_back(dense.measure());
    }
    const double numeric_s = median(times);
    const double dense_gflops = median(rates);
    (void)first;
    if (getenv("ORVA_BENCH_DETAIL"))
        Fprintf(Stderr, "detail: numeric min %.4f max %.4f, dense min %.2f max %.2f\n",
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
                *std::min_element(rates.begin(), rates.end()), *std::max_element(rates.begin(), rates.end()));

    std::vector<double> bx(n), by(m);
    for (int j = 0; j < n; ++j) bx[j] = 1.0 + (j % 3);
    for (int i = 0; i < m; ++i) by[i] = 1.0 - (i % 2);
    t0 = now();
    solve(lp, Dn.data(), Dm.data(), bx.data(), by.data());
    const double solve_s = now() - t0;

    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    const double rss_mb = ru.ru_maxrss / 1024.0;

    // The peer runs after the peak memory is taken: its own does not count.
    if (!getenv("ORVA_BENCH_NO_PEER")) {
        // The reduced system as inv_num assembles it: the lower triangle by positions of
        // nodes (columns 0..n-1, then the rows).
        orva::bench::sym_triplets K;
        K.n = n + m;
        const double eps = v.epsdiag, qsign = -static_cast<double>(lp->max);
        std::vector<double> dg(n + m);
        for (int j = 0; j < n; ++j) dg[j] = -std::max(Dn[j] + lp->pert_primal, eps);
        for (int i = 0; i < m; ++i) dg[n + i] = std::max(Dm[i] + lp->pert_dual, v.epsrow);
        auto put = [&K](int r, int c, double x) {
            K.row.push_back(std::max(r, c) + 1);
            K.col.push_back(std::min(r, c) + 1);
            K.val.push_back(x);
        };
        for (int j = 0; j < n; ++j) {
            for (int k = lp->kA[j]; k < lp->kA[j + 1]; ++k) put(n + lp->iA[k], j, lp->A[k]);
            if (lp->qnz > 0)
                for (int k = lp->kQ[j]; k < lp->kQ[j + 1]; ++k) {
                    if (lp->iQ[k] == j) dg[j] += qsign * lp->Q[k];
                    else if (lp->iQ[k] > j) put(lp->iQ[k], j, qsign * lp->Q[k]);
                }
        }
        for (int v2 = 0; v2 < n + m; ++v2) put(v2, v2, dg[v2]);
        std::vector<int> ours(n + m);
        for (int v2 = 0; v2 < n + m; ++v2) ours[v2] = v.iperm[v2] + 1;
        for (int own = 0; own < 2 && orva::bench::peer_mumps_built(); ++own) {
            const auto pr = orva::bench::peer_mumps(K, own ? std::vector<int>() : ours, reps,
                                                    [&dense] { dense.measure(); });
            const char *order = own ? "own" : "orva";
            if (!pr.ok) {
                Printf("peer mumps order=%s failed: %s\n", order, pr.what.c_str());
                continue;
            }
            const double ps = median(pr.times);
            const double pg = v.arith_ops / ps / 1e9;
            Printf("peer mumps order=%s analysis_s=%.4f numeric_s=%.4f gflops=%.3f ratio=%.3f "
                   "peer_flops=%.0f peer_entries=%lld time_ratio=%.3f\n",
                   order, pr.analysis_s, ps, pg, dense_gflops > 0 ? pg / dense_gflops : 0.0, pr.flops,
                   pr.entries, numeric_s / ps);
        }
    }

    const double gflops = v.arith_ops / numeric_s / 1e9;
    Printf("factor n=%d m=%d lnz=%d flops=%.0f symbolic_s=%.4f numeric_s=%.4f solve_s=%.4f "
                "gflops=%.3f dense_gflops=%.3f ratio=%.3f rss_mb=%.1f\n",
                n, m, v.lnz, v.arith_ops, symbolic_s, numeric_s, solve_s, gflops, dense_gflops,
                dense_gflops > 0 ? gflops / dense_gflops : 0.0, rss_mb);
    (void)free_rows;
    inv_clo();
    return 0;
}
