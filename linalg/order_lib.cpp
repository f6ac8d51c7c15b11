// Elimination orders from ordering libraries, and the structure of L that an order
// implies.
//
// Method 3 is SuiteSparse's constrained approximate minimum degree (CAMD) with the tiers
// as its constraint sets, so that every tier-0 node still comes before every tier-1 node
// and the reduced system stays quasi-definite in the order.  Method 4 orders the tier-0
// nodes the same way and the tier-1 nodes by METIS's nested dissection of the graph they
// form once the tier-0 nodes are eliminated (two tier-1 nodes are adjacent there when a
// path joins them through tier-0 nodes only: every connected group of tier-0 nodes makes
// its tier-1 neighbours a clique).  When that graph would be too large to write out (a
// trailing block that is dense anyway), method 4 keeps the minimum-degree order.
//
// The structure of L follows from the order: column k holds the later neighbours of its
// node and the structures of its children in the elimination tree (the parent of a column
// is its first row).  Supernodes are runs of columns of one kind (primal or dual) whose
// structures nest: each column's parent is the next column and its structure is the
// next one's plus that column.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <metis.h>
#include <suitesparse/camd.h>

#include "linalg/factor_ws.h"
#include "linalg/order_lib.h"
#include "lp/alloc.h"

namespace orva::detail {

namespace {

// The graph as compressed columns (every edge in both lists).
struct pattern {
    owned<int> Ap, Ai;
};

pattern graph_pattern(int N, const int *degree, int *const *nbrs) {
    pattern P;
    P.Ap.reset(xmalloc<int>("Ap", "n+m+1", static_cast<long long>(N) + 1));
    long long nz = 0;
    for (int v = 0; v < N; ++v) nz += degree[v];
    if (nz > INT_MAX) {
        char msg[96];
        std::snprintf(msg, sizeof msg, "MALLOC(Ai,nz=%lld,int): cannot allocate space", nz);
        alloc_failed(msg);
    }
    P.Ai.reset(xmalloc<int>("Ai", "nz", nz));
    int k = 0;
    for (int v = 0; v < N; ++v) {
        P.Ap[v] = k;
        for (int a = 0; a < degree[v]; ++a) P.Ai[k++] = nbrs[v][a];
    }
    P.Ap[N] = k;
    return P;
}

// Approximate minimum degree with the tiers as constraint sets (tier 0 first).
void camd_perm(int N, const pattern &P, const int *tier, int *perm) {
    if (N == 0) return;
    double control[CAMD_CONTROL];
    camd_defaults(control);
    const int status = camd_order(N, P.Ap.get(), P.Ai.get(), perm, control, nullptr, tier);
    if (status == CAMD_OUT_OF_MEMORY) {
        char msg[96];
        std::snprintf(msg, sizeof msg, "MALLOC(camd,n+m=%d,int): cannot allocate space", N);
        alloc_failed(msg);
    }
    // The order must keep every tier-0 node before every tier-1 node; a stable partition
    // makes sure of it whatever the library did with nodes it took for dense.
    std::stable_partition(perm, perm + N, [tier](int v) { return tier[v] == 0; });
}

// Nested dissection of the tier-1 nodes in the graph left after eliminating the tier-0
// ones; perm's tier-0 part (its first n0 entries) is kept.  Returns false (perm
// unchanged) when that graph would take more than `limit` adjacency entries.
bool dissect_tier1(int N, const int *degree, int *const *nbrs, const int *tier, int *perm, long long limit) {
    std::vector<int> t1(N, -1), nodes1;
    for (int v = 0; v < N; ++v)
        if (tier[v] != 0) {
            t1[v] = static_cast<int>(nodes1.size());
            nodes1.push_back(v);
        }
    const int N1 = static_cast<int>(nodes1.size());
    if (N1 < 2) return true;
    // Connected groups of tier-0 nodes (union-find) and their tier-1 neighbours.
    std::vector<int> up(N);
    for (int v = 0; v < N; ++v) up[v] = v;
    auto root = [&up](int v) {
        while (up[v] != v) v = up[v] = up[up[v]];
        return v;
    };
    for (int v = 0; v < N; ++v)
        if (tier[v] == 0)
            for (int a = 0; a < degree[v]; ++a) {
                const int u = nbrs[v][a];
                if (tier[u] == 0) up[root(v)] = root(u);
            }
    std::vector<int> gstart(N + 1, 0), gnodes;  // tier-0 nodes grouped by root
    for (int v = 0; v < N; ++v)
        if (tier[v] == 0) ++gstart[root(v) + 1];
    for (int v = 0; v < N; ++v) gstart[v + 1] += gstart[v];
    gnodes.resize(gstart[N]);
    {
        std::vector<int> fill(gstart.begin(), gstart.end() - 1);
        for (int v = 0; v < N; ++v)
            if (tier[v] == 0) gnodes[fill[root(v)]++] = v;
    }
    // Each group's boundary, and the size of the cliques they make.
    std::vector<int> stamp(N, -1), bstart{0}, bnodes;
    long long entries = 0;
    for (int r = 0; r < N; ++r) {
        if (gstart[r + 1] == gstart[r]) continue;
        const std::size_t b0 = bnodes.size();
        for (int g = gstart[r]; g < gstart[r + 1]; ++g) {
            const int v = gnodes[g];
            for (int a = 0; a < degree[v]; ++a) {
                const int u = nbrs[v][a];
                if (tier[u] != 0 && stamp[u] != r) {
                    stamp[u] = r;
                    bnodes.push_back(t1[u]);
                }
            }
        }
        const long long b = static_cast<long long>(bnodes.size() - b0);
        entries += b * (b - 1);
        if (entries > limit) return false;
        bstart.push_back(static_cast<int>(bnodes.size()));
    }
    for (int i = 0; i < N1; ++i) entries += degree[nodes1[i]];
    if (entries > limit) return false;
    // The tier-1 graph: direct edges and the groups' cliques, duplicates dropped.
    std::vector<std::vector<int>> groups_of(N1);  // groups each tier-1 node borders
    const int ngroups = static_cast<int>(bstart.size()) - 1;
    for (int g = 0; g < ngroups; ++g)
        for (int k = bstart[g]; k < bstart[g + 1]; ++k) groups_of[bnodes[k]].push_back(g);
    std::vector<idx_t> xadj(N1 + 1, 0), adj;
    adj.reserve(static_cast<std::size_t>(std::min<long long>(entries, INT_MAX)));
    std::vector<int> seen(N1, -1);
    for (int i = 0; i < N1; ++i) {
        seen[i] = i;
        const int v = nodes1[i];
        for (int a = 0; a < degree[v]; ++a) {
            const int u = nbrs[v][a];
            if (tier[u] != 0 && seen[t1[u]] != i) {
                seen[t1[u]] = i;
                adj.push_back(t1[u]);
            }
        }
        for (const int g : groups_of[i])
            for (int k = bstart[g]; k < bstart[g + 1]; ++k)
                if (seen[bnodes[k]] != i) {
                    seen[bnodes[k]] = i;
                    adj.push_back(bnodes[k]);
                }
        if (adj.size() > static_cast<std::size_t>(INT_MAX)) return false;
        xadj[i + 1] = static_cast<idx_t>(adj.size());
    }
    idx_t nv = N1;
    idx_t options[METIS_NOPTIONS];
    METIS_SetDefaultOptions(options);
    options[METIS_OPTION_NUMBERING] = 0;
    std::vector<idx_t> mperm(N1), miperm(N1);
    if (adj.empty()) adj.push_back(0);  // METIS wants an array even without edges
    const int status = METIS_NodeND(&nv, xadj.data(), adj.data(), nullptr, options, mperm.data(), miperm.data());
    if (status == METIS_ERROR_MEMORY) {
        char msg[96];
        std::snprintf(msg, sizeof msg, "MALLOC(metis,n=%d,int): cannot allocate space", N1);
        alloc_failed(msg);
    }
    if (status != METIS_OK) return false;
    const int n0 = N - N1;
    for (int k = 0; k < N1; ++k) perm[n0 + k] = nodes1[mperm[k]];
    return true;
}

} // namespace

void order_by_library(factor_ws &W, int N, int n, const int *degree, int *const *nbrs, const int *tier,
                      int method) {
    W.perm = xmalloc<int>("perm", "m", N);
    W.iperm = xmalloc<int>("iperm", "m", N);
    {
        const pattern P = graph_pattern(N, degree, nbrs);
        camd_perm(N, P, tier, W.perm);
    }
    if (method == 4) {
        // The tier-1 graph may hold at most about as many entries as a factor of a few
        // times the graph itself would; beyond it the trailing block is dense anyway.
        long long nz = 0;
        for (int v = 0; v < N; ++v) nz += degree[v];
        dissect_tier1(N, degree, nbrs, tier, W.perm, std::max<long long>(8 * nz, 1LL << 22));
    }
    for (int q = 0; q < N; ++q) W.iperm[W.perm[q]] = q;
    structure_of_order(W, N, n, degree, nbrs);
}

void structure_of_order(factor_ws &W, int N, int n, const int *degree, int *const *nbrs) {
    const int *perm = W.perm, *iperm = W.iperm;
    W.kAAt = xmalloc<int>("kAAt", "m+1", static_cast<long long>(N) + 1);
    W.snode = xmalloc<int>("snode", "m", N);
    long long cap = 0;
    for (int v = 0; v < N; ++v) cap += degree[v];
    cap = std::max<long long>(cap / 2, 16);
    W.iAAt = xmalloc<int>("iAAt", "lnz", cap);
    const owned<int> parent(xmalloc<int>("iwork", "m", N));
    const owned<int> head(xmalloc<int>("iwork", "m", N));
    const owned<int> next(xmalloc<int>("iwork", "m", N));
    const owned<int> mark(xmalloc<int>("iwork", "m", N));
    for (int q = 0; q < N; ++q) head[q] = mark[q] = -1;
    long long lnz = 0;
    auto add = [&](int q, int k) {
        if (q <= k || mark[q] == k) return;
        mark[q] = k;
        if (lnz == cap) {
            long long grown = 2 * cap;
            if (lnz + 1 > INT_MAX) {
                char msg[128];
                std::snprintf(msg, sizeof msg, "REALLOC(iAAt,lnz=%lld,int): cannot reallocate space", lnz + 1);
                alloc_failed(msg);
            }
            grown = std::min<long long>(grown, INT_MAX);
            W.iAAt = xrealloc<int>(W.iAAt, "iAAt", "lnz", grown);
            cap = grown;
        }
        W.iAAt[lnz++] = q;
    };
    W.kAAt[0] = 0;
    double ops = 0;
    for (int k = 0; k < N; ++k) {
        const int v = perm[k];
        for (int a = 0; a < degree[v]; ++a) add(iperm[nbrs[v][a]], k);
        for (int c = head[k]; c >= 0; c = next[c])
            for (int e = W.kAAt[c]; e < W.kAAt[c + 1]; ++e) add(W.iAAt[e], k);
        W.kAAt[k + 1] = static_cast<int>(lnz);
        const double len = W.kAAt[k + 1] - W.kAAt[k];
        ops += len * len;
        if (W.ops_budget > 0 && ops > W.ops_budget) throw over_budget{};
        int par = -1;
        for (int e = W.kAAt[k]; e < W.kAAt[k + 1]; ++e)
            if (par < 0 || W.iAAt[e] < par) par = W.iAAt[e];
        parent[k] = par;
        if (par >= 0) {
            next[k] = head[par];
            head[par] = k;
        }
    }
    W.lnz = static_cast<int>(lnz);
    // Supernodes, the largest elimination step and the dense window.
    auto len = [&W](int q) { return W.kAAt[q + 1] - W.kAAt[q]; };
    W.nsuper = 0;
    W.tmpsiz = 0;
    int first = 0;
    for (int q = 0; q < N; ++q) {
        const bool joins = q > 0 && parent[q - 1] == q && len(q - 1) == len(q) + 1 &&
                           (perm[q] < n) == (perm[q - 1] < n);
        if (q > 0 && !joins) {
            ++W.nsuper;
            first = q;
        }
        W.snode[perm[q]] = W.nsuper;
        const long long s = q - first + 1, d = len(first);
        W.tmpsiz = std::max(W.tmpsiz, s * d - s * (s - 1) / 2);
    }
    if (N > 0) ++W.nsuper;
    int window = N;
    for (int q = N - 1; q >= 0 && len(q) == N - 1 - q; --q) window = q;
    W.window = N - window;
    // Rows by node, as the elimination leaves them.
    for (long long e = 0; e < lnz; ++e) W.iAAt[e] = perm[W.iAAt[e]];
}

} // namespace orva::detail
