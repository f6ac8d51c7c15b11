// Symbolic phase of the factorization: the fill-reducing elimination order of the
// reduced system, the structure of L, the supernode partition, the column blocking
// and the lists that load K into the numeric phase's dense fronts.
//
// The graph has one node per column j (node j) and one per row i (node n+i), with
// edges for the entries of A and the off-diagonal entries of Q.  Nodes are
// eliminated greedily by a key (index, degree or local fill) plus a penalty that
// keeps tier-1 nodes behind tier-0 ones; neighbours indistinguishable from the
// pivot are eliminated in the same step (mass elimination) and form supernodes.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "linalg/factor_ws.h"
#include "linalg/order_lib.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva::detail {

namespace {

using i64 = std::int64_t;

// 1-based binary min-heap of nodes keyed by hkey; ties never move a node.
struct heap_t {
    int *slot;   // the node at heap position h is slot[h-1]
    int *iheap;  // position of each node
    const i64 *key;
    int size;

    int at(int h) const { return slot[h - 1]; }
    void place(int pos, int v) {
        slot[pos - 1] = v;
        iheap[v] = pos;
    }
    void down(int h) {
        const int v = at(h);
        for (;;) {
            int c = 2 * h;
            if (c > size) break;
            if (c + 1 <= size && key[at(c + 1)] < key[at(c)]) ++c;
            if (!(key[at(c)] < key[v])) break;
            place(h, at(c));
            h = c;
        }
        place(h, v);
    }
    void up(int h) {
        const int v = at(h);
        while (h > 1 && key[at(h / 2)] > key[v]) {
            place(h, at(h / 2));
            h /= 2;
        }
        place(h, v);
    }
    // Removes node x: the last node takes its place and moves the right way.
    void remove(int x) {
        const int pos = iheap[x];
        const int last = at(size);
        --size;
        iheap[x] = 0;
        if (pos > size) return;  // x was the last node
        place(pos, last);
        if (key[last] > key[x])
            down(pos);
        else
            up(pos);
    }
};

// Appends b to node a's list (after its len[a] stored entries), doubling its capacity
// when it is full; a's degree grows by one.
inline void add_nbr(int **nbrs, int *spc, int *len, int *degree, int a, int b, const char *name,
                    const char *expr) {
    if (len[a] == spc[a]) {
        const int grown = spc[a] > 0 ? 2 * spc[a] : 4;
        nbrs[a] = xrealloc<int>(nbrs[a], name, expr, grown);
        spc[a] = grown;
    }
    nbrs[a][len[a]++] = b;
    ++degree[a];
}

// Adjacency bit rows for the nodes of high degree, so that the clique step asks
// "is b a neighbour of a" in one lookup instead of marking all of a's list.  A node
// gets its row once its degree passes thr (about (n+m)/16: the row then takes less
// memory than the list itself).  Bits of eliminated nodes are never cleared: only
// live nodes are asked about.  Without init (local fill) no node has a row and
// every call does nothing.
struct adjbits {
    long long words = 0;
    int thr = 0;
    int nodes = 0;
    std::uint64_t **row = nullptr;

    adjbits() = default;
    adjbits(const adjbits &) = delete;
    adjbits &operator=(const adjbits &) = delete;
    ~adjbits() { release(nodes); }

    void init(int N) {
        nodes = N;
        words = (static_cast<long long>(N) + 63) / 64;
        thr = std::max(64, N / 16);
        row = xcalloc<std::uint64_t *>("adjrow", "m", N);
    }
    bool on(int a) const { return row && row[a]; }
    bool has(int a, int b) const { return (row[a][b >> 6] >> (b & 63)) & 1u; }
    // Records the edge a-b in a's row, if a has one.
    void set(int a, int b) {
        if (on(a)) row[a][b >> 6] |= std::uint64_t{1} << (b & 63);
    }
    // Gives a its row when its degree has passed the threshold.
    void grow(int a, int degree, const int *list, int len) {
        if (!row || row[a] || degree <= thr) return;
        row[a] = xcalloc<std::uint64_t>("adjrow[a]", "words", words);
        for (int k = 0; k < len; ++k) set(a, list[k]);
    }
    void drop(int a) {
        if (row) xfree(row[a]);
    }
    void release(int N) {
        if (!row) return;
        for (int v = 0; v < N; ++v) xfree(row[v]);
        xfree(row);
    }
};

// Drops the eliminated nodes from u's list, keeping the order of the others.
inline void compact(int **nbrs, int *len, const char *gone, int u) {
    int *lu = nbrs[u];
    int keep = 0;
    for (int b = 0; b < len[u]; ++b)
        if (!gone[lu[b]]) lu[keep++] = lu[b];
    len[u] = keep;
}

// The graph of K: node j for column j, node n+i for row i, an edge for every entry of A
// and every off-diagonal entry of Q (listed once, Q's pattern made symmetric).  Each
// node's neighbours are a heap block of their own (grown by the clique step, released
// when the node is eliminated).
struct graph {
    int n = 0, m = 0, N = 0;
    owned<int> degree;       // live neighbours of each node
    owned<int *> nbrs;       // each node's list (null once released)
    owned<int> row_count;    // entries of each row of A (for the fill estimates)

    graph() = default;
    graph(const graph &) = delete;
    graph &operator=(const graph &) = delete;
    ~graph() { release_lists(); }
    void release_lists() {
        if (nbrs)
            for (int v = 0; v < N; ++v) xfree(nbrs[v]);
    }
};

// The settings the factorization keeps (copied now, seen until the next analysis) and
// the sizes of the pattern.
void copy_settings(factor_ws &W, const LP *lp) {
    W.epssol = lp->epssol;
    W.epsnum = lp->epsnum;
    W.epsdiag = lp->epsdiag;
    W.epsrow = lp->epsdiag;
    W.epsrow_min = 1e-6 * lp->epsdiag;
    W.solved = W.rows_floor_hurts = false;
    W.floor_run = 0;
    W.solve_share = 0;
    W.share_at_lowering = -1;
    W.stablty = lp->stablty;
    W.method = lp->method;
    W.dense = lp->dense;
    W.pdf = lp->pdf;
    W.convex = lp->convex;
    W.n = lp->n;
    W.m = lp->m;
    W.nsuper = 0;
    W.tmpsiz = 0;
    W.ndep = 0;
    W.nzA = lp->n > 0 ? lp->kA[lp->n] : 0;
    W.nzQ = lp->qnz > 0 ? lp->kQ[lp->n] : 0;
}

// Pattern of a matrix's transpose (rows x cols matrix by columns): starts (rows+1) and
// the column of each entry, columns ascending within a row.
void transpose_pattern(int rows, int cols, const int *start, const int *idx, int nz, owned<int> &tstart,
                       owned<int> &tidx, const char *cexpr, const char *nzexpr, const char *rexpr) {
    tstart.reset(xcalloc<int>("iwork", cexpr, rows + 1));
    for (int k = 0; k < nz; ++k) ++tstart[idx[k] + 1];
    for (int i = 0; i < rows; ++i) tstart[i + 1] += tstart[i];
    tidx.reset(xmalloc<int>("iwork", nzexpr, nz));
    const owned<int> fillp(xmalloc<int>("iwork", rexpr, rows));
    for (int i = 0; i < rows; ++i) fillp[i] = tstart[i];
    for (int j = 0; j < cols; ++j)
        for (int k = start[j]; k < start[j + 1]; ++k) tidx[fillp[idx[k]]++] = j;
}

// The graph of the record's pattern.
void build_graph(graph &G, const factor_ws &W, const LP *lp) {
    const int n = lp->n, m = lp->m, N = n + m;
    const int *kA = lp->kA, *iA = lp->iA;
    const int *kQ = lp->qnz > 0 ? lp->kQ : nullptr, *iQ = lp->iQ;
    G.n = n;
    G.m = m;
    G.N = N;
    G.degree.reset(xmalloc<int>("degree", "n+m", N));
    G.nbrs.reset(xmalloc<int *>("nbrs", "n+m", N));
    for (int v = 0; v < N; ++v) G.nbrs[v] = nullptr;
    int *degree = G.degree.get();
    int **nbrs = G.nbrs.get();

    owned<int> rstart, ridx;  // rows of A, counted from A itself
    transpose_pattern(m, n, kA, iA, W.nzA, rstart, ridx, "m+1", "nz", "m");
    owned<int> qtstart, qtidx;  // pattern of Q's transpose
    if (kQ) transpose_pattern(n, n, kQ, iQ, W.nzQ, qtstart, qtidx, "n+1", "qnz", "n");
    const owned<int> seen(xcalloc<int>("iwork", "n+m", N));
    for (int j = 0; j < n; ++j) {
        int cap = kA[j + 1] - kA[j];
        if (kQ) cap += (kQ[j + 1] - kQ[j]) + (qtstart[j + 1] - qtstart[j]);
        int *list = nbrs[j] = xmalloc<int>("nbrs[j]", "ne", cap);
        const int tag = j + 1;
        int d = 0;
        for (int k = kA[j]; k < kA[j + 1]; ++k) {
            const int u = n + iA[k];
            if (seen[u] != tag) seen[u] = tag, list[d++] = u;
        }
        if (kQ) {
            for (int k = kQ[j]; k < kQ[j + 1]; ++k) {
                const int u = iQ[k];
                if (u != j && seen[u] != tag) seen[u] = tag, list[d++] = u;
            }
            for (int k = qtstart[j]; k < qtstart[j + 1]; ++k) {
                const int u = qtidx[k];
                if (u != j && seen[u] != tag) seen[u] = tag, list[d++] = u;
            }
        }
        degree[j] = d;
    }
    for (int i = 0; i < m; ++i) {
        const int v = n + i;
        int *list = nbrs[v] = xmalloc<int>("nbrs[n+i]", "ne", rstart[i + 1] - rstart[i]);
        const int tag = v + 1;
        int d = 0;
        for (int k = rstart[i]; k < rstart[i + 1]; ++k) {
            const int u = ridx[k];
            if (seen[u] != tag) seen[u] = tag, list[d++] = u;
        }
        degree[v] = d;
    }
    // The row counts stay for the fill estimates.
    for (int i = m; i > 0; --i) rstart[i] -= rstart[i - 1];
    G.row_count = std::move(rstart);
}

// Row counts of the groups of columns that Q couples (the connected parts of the graph
// of Q's off-diagonal entries): for each group, the number of distinct rows of A in its
// columns.  Without Q, one group per column with that column's count.
std::vector<int> column_group_rows(const LP *lp, int n, int m) {
    const int *kA = lp->kA, *iA = lp->iA;
    const int *kQ = lp->qnz > 0 ? lp->kQ : nullptr, *iQ = lp->iQ;
    std::vector<int> parent(n);
    for (int j = 0; j < n; ++j) parent[j] = j;
    auto root = [&parent](int j) {
        while (parent[j] != j) j = parent[j] = parent[parent[j]];
        return j;
    };
    if (kQ)
        for (int j = 0; j < n; ++j)
            for (int k = kQ[j]; k < kQ[j + 1]; ++k)
                if (iQ[k] >= 0 && iQ[k] < n) parent[root(iQ[k])] = root(j);
    // The columns of each group together (a counting sort by root), then each group's
    // distinct rows, marked with the group's number.
    std::vector<int> start(n + 1, 0), cols(n);
    for (int j = 0; j < n; ++j) ++start[root(j) + 1];
    for (int j = 0; j < n; ++j) start[j + 1] += start[j];
    std::vector<int> next(start.begin(), start.end() - 1);
    for (int j = 0; j < n; ++j) cols[next[root(j)]++] = j;
    std::vector<int> groups, mark(m, -1);
    for (int g = 0; g < n; ++g) {
        if (start[g + 1] == start[g]) continue;
        int c = 0;
        for (int p = start[g]; p < start[g + 1]; ++p)
            for (int k = kA[cols[p]]; k < kA[cols[p] + 1]; ++k)
                if (mark[iA[k]] != g) mark[iA[k]] = g, ++c;
        groups.push_back(c);
    }
    return groups;
}

// Columns may go first when their block is definite: the problem is asserted convex, or
// it is linear (no Q), which is convex whatever the assertion says, or it is a quadratic
// program, whose column pivots the perturbation search keeps negative either way.
bool columns_may_lead(const factor_ws &W, const LP *lp) {
    return W.convex != 0 || !(lp->qnz > 0 && lp->kQ) || lp->quadratic != 0;
}

// The ordering priority: from the fill estimates of eliminating all columns first
// (primal) or all rows first (dual), unless the settings chose one.  Columns that Q
// couples are eliminated together: their rows become one clique, so the primal estimate
// counts each group of coupled columns as one column with the union of their rows
// (without off-diagonal entries in Q every group is a single column).
void choose_priority(factor_ws &W, const LP *lp, const graph &G, int verbose) {
    const int n = G.n, m = G.m;
    double pp = 1.0, pd = 1.0;
    for (const int c : column_group_rows(lp, n, m)) {
        const double t = c / (m + 1.0);
        pp *= 1.0 - t * t;
    }
    for (int i = 0; i < m; ++i) {
        const double t = G.row_count[i + 1] / (n + 1.0);
        pd *= 1.0 - t * t;
    }
    const double primal = (1.0 - pp) * 0.5 * m * static_cast<double>(m);
    const double dual = (1.0 - pd) * 0.5 * n * static_cast<double>(n);
    if (verbose >= 3) {
        std::printf("primal fillin estimate: %10.0f\n", primal);
        std::printf("dual   fillin estimate: %10.0f\n\n", dual);
    }
    if (W.pdf == 0) {
        if (3.0 * dual >= primal && columns_may_lead(W, lp)) {
            W.pdf = 1;
            if (verbose >= 3) std::printf("Ordering priority favors PRIMAL\n");
        } else {
            W.pdf = 2;
            if (verbose >= 3) std::printf("Ordering priority favors DUAL\n");
        }
    }
    W.pdf_used = W.pdf;
}

// Tiers (0 eliminated first, 1 after) by the priority, or as the record classifies
// them; returns the target count t of the dense threshold.
long long assign_tiers(const factor_ws &W, const LP *lp, int *tier) {
    const int n = W.n, m = W.m, N = n + m;
    const int *bndmark = lp->bndmark, *rngmark = lp->rngmark;
    long long t = 0;
    if (W.pdf == 1) {
        for (int j = 0; j < n; ++j) tier[j] = (bndmark && bndmark[j] == 1) ? 1 : 0;
        for (int i = 0; i < m; ++i) tier[n + i] = 1;
        for (int i = 0; i < m; ++i) t += (!rngmark || rngmark[i] != 2) ? 1 : 0;
    } else {
        for (int j = 0; j < n; ++j) tier[j] = 1;
        for (int j = 0; j < n; ++j) t += (bndmark && bndmark[j] == 1) ? 1 : 0;
        for (int i = 0; i < m; ++i) tier[n + i] = (rngmark && rngmark[i] == 4) ? 1 : 0;
    }
    if (lp->tier)
        for (int v = 0; v < N; ++v) tier[v] = lp->tier[v] != 0 ? 1 : 0;
    return t;
}

// Automatic dense threshold: three times the degree below which t tier-0 nodes lie.
void dense_threshold(factor_ws &W, const int *tier, const int *degree, long long t) {
    const int N = W.n + W.m;
    const owned<int> colhisto(xcalloc<int>("colhisto", "n+m+1", static_cast<long long>(N) + 1));
    for (int v = 0; v < N; ++v)
        if (tier[v] == 0) ++colhisto[degree[v]];
    long long d = N + 1, sum = 0;
    for (int k = 0; k <= N; ++k) {
        sum += colhisto[k];
        if (sum >= t) {
            d = k;
            break;
        }
    }
    const float thr = 3.0f * static_cast<float>(d + 1);
    W.dense = thr >= 2147483647.0f ? INT_MAX : static_cast<int>(thr);
}

// Penalty that keeps tier-1 nodes behind tier-0 ones, held in 64 bits (the local-fill
// penalty is about (n+m)^2).
i64 tier_penalty(const factor_ws &W, int method) {
    const int N = W.n + W.m;
    i64 P = 0;
    if (method != 0) {
        double base = std::trunc(W.stablty * N);
        if (!(base == base)) base = 0;
        base = std::clamp(base, -1e15, 1e15);
        P = static_cast<i64>(base);
        if (method == 2) P *= N;
    }
    return P;
}

// The greedy elimination of the graph: the node of least key first (index, degree or
// local fill, plus the tier penalty); neighbours indistinguishable from it go in the
// same step (mass elimination) and form a supernode with it.  It produces what every
// later step of the analysis needs from an ordering: perm and iperm, the supernode of
// each node (snode, nsuper), the structure of L (kAAt; iAAt in node numbers, turned
// into positions by row_positions), lnz, tmpsiz and the dense window.
struct eliminator {
    factor_ws &W;
    graph &G;
    int *tier;
    const int method;
    const i64 P;
    const int N, n;
    int *degree;
    int **nbrs;

    owned<int> dst, spc, heap, iheap, iwork, len;
    owned<i64> locfil, hkey;
    owned<char> gone;
    adjbits adj;  // rows of high-degree nodes (not with local fill, which walks lists anyway)
    heap_t H{};
    int stamp = 0;
    long long cap = 0, lnz = 0;
    double ops = 0;  // sum of the squared column lengths so far
    int window = 0;

    eliminator(factor_ws &W_, graph &G_, int *tier_, int method_, i64 P_)
        : W(W_), G(G_), tier(tier_), method(method_), P(P_), N(G_.N), n(G_.n), degree(G_.degree.get()),
          nbrs(G_.nbrs.get()) {}

    void run();

private:
    void allocate();
    int new_stamp();
    void initial_local_fill();
    void keys_and_heap();
    int absorb(int v, int p, int d, int &J);
    void grow_structure(int p, int k, int d, int v);
    void drop_eliminated(int p, int k, int J, long long s);
    void form_clique(int J, long long s);
    void close_step(int p, int k);
};

void eliminator::allocate() {
    W.perm = xmalloc<int>("perm", "m", N);
    W.iperm = xmalloc<int>("iperm", "m", N);
    dst.reset(xmalloc<int>("dst", "m", N));
    spc.reset(xmalloc<int>("spc", "m", N));
    locfil.reset(xmalloc<i64>("locfil", "m", N, "int"));
    hkey.reset(xmalloc<i64>("hkey", "m", N, "int"));
    heap.reset(xmalloc<int>("heap", "m", N));
    iheap.reset(xmalloc<int>("iheap", "m", N));
    iwork.reset(xmalloc<int>("iwork", "m", N));
    // Eliminated nodes stay in their neighbours' lists until a list is more than half
    // such entries (then it is compacted): removing a node from every neighbour's list
    // at once would scan each of those lists in full at every elimination.  len is
    // the stored length of each list, degree the count of its live entries; the
    // live entries keep their order, so every walk sees the same sequence of nodes.
    len.reset(xmalloc<int>("len", "m", N));
    gone.reset(xcalloc<char>("gone", "m", N));
    if (method != 2) adj.init(N);
    W.snode = xmalloc<int>("snode", "m", N);
    W.kAAt = xmalloc<int>("kAAt", "m+1", static_cast<long long>(N) + 1);
    cap = 0;
    for (int v = 0; v < N; ++v) cap += degree[v];
    cap /= 2;
    W.iAAt = xmalloc<int>("iAAt", "lnz", cap);
    for (int v = 0; v < N; ++v) {
        spc[v] = len[v] = degree[v];
        W.perm[v] = W.iperm[v] = -1;
        iwork[v] = 0;
        locfil[v] = 0;
    }
    W.kAAt[0] = 0;
}

// Stamps are consecutive integers, never reused (restarted only if they would overflow).
int eliminator::new_stamp() {
    if (stamp == INT_MAX) {
        for (int v = 0; v < N; ++v) iwork[v] = 0;
        stamp = 0;
    }
    return ++stamp;
}

// Initial local fill: pairs of neighbours that are not adjacent.
void eliminator::initial_local_fill() {
    for (int v = 0; v < N; ++v) {
        const int *lv = nbrs[v];
        const int dv = degree[v];
        i64 cnt = 0;
        for (int ia = 0; ia < dv; ++ia) {
            const int a = lv[ia];
            const int st = new_stamp();
            for (int k = 0; k < degree[a]; ++k) iwork[nbrs[a][k]] = st;
            for (int ib = ia + 1; ib < dv; ++ib)
                if (iwork[lv[ib]] != st) ++cnt;
        }
        locfil[v] = cnt;
    }
}

// Keys (dense tier-0 nodes join tier 1) and the heap.
void eliminator::keys_and_heap() {
    for (int v = 0; v < N; ++v) {
        hkey[v] = method == 2 ? locfil[v] : method == 1 ? degree[v] : v;
        if (tier[v] == 0 && degree[v] > W.dense) tier[v] = 1;
        hkey[v] += P * tier[v];
    }
    H = heap_t{heap.get(), iheap.get(), hkey.get(), N};
    for (int i = N - 1; i >= 0; --i) {
        H.place(i + 1, i);
        H.down(i + 1);
    }
}

// Places v (of d live neighbours) at position p and, after it, the neighbours
// indistinguishable from it; the other neighbours go to dst (J of them).  Returns the
// position after the step.
int eliminator::absorb(int v, int p, int d, int &J) {
    int *perm = W.perm, *iperm = W.iperm;
    perm[p] = v;
    iperm[v] = p;
    const int *lv = nbrs[v];
    for (int k = 0; k < d; ++k) iperm[lv[k]] = p;
    int k = p + 1;
    J = 0;
    for (int a = 0; a < d; ++a) {
        const int u = lv[a];
        bool same = degree[u] == d && tier[u] == tier[v];
        if (same) {
            const int *lu = nbrs[u];
            for (int b = 0; b < len[u]; ++b)
                if (iperm[lu[b]] < p && !gone[lu[b]]) {
                    same = false;
                    break;
                }
        }
        if (same) {
            perm[k] = u;
            iperm[u] = k;
            ++k;
        } else {
            dst[J++] = u;
        }
    }
    return k;
}

// The columns of L of the nodes at positions p..k-1 (node numbers for now), iAAt grown
// as needed.
void eliminator::grow_structure(int p, int k, int d, int v) {
    const int *perm = W.perm, *iperm = W.iperm;
    int *kAAt = W.kAAt;
    const long long s = k - p;
    const long long e = s * d - s * (s - 1) / 2;
    W.tmpsiz = std::max(W.tmpsiz, e);
    if (lnz + e > cap) {
        long long grown = std::max(2 * cap, lnz + e);
        if (grown > INT_MAX) grown = std::max<long long>(INT_MAX, lnz + e);
        if (lnz + e > INT_MAX) {
            // L would have more entries than the int column starts can address.
            char msg[128];
            std::snprintf(msg, sizeof msg, "REALLOC(iAAt,lnz=%lld,int): cannot reallocate space", lnz + e);
            alloc_failed(msg);
        }
        W.iAAt = xrealloc<int>(W.iAAt, "iAAt", "lnz", grown);
        cap = grown;
    }
    int *iAAt = W.iAAt;
    for (int q = p; q < k; ++q) {
        const int u = perm[q];
        kAAt[q + 1] = kAAt[q] + d - (q - p);
        ops += static_cast<double>(d - (q - p)) * (d - (q - p));
        const int *lu = nbrs[u];
        for (int b = 0; b < len[u]; ++b) {
            const int w = lu[b];  // an eliminated node has iperm[w] < p
            if (iperm[w] > q || (iperm[w] == p && w != v)) iAAt[lnz++] = w;
        }
    }
    if (W.ops_budget > 0 && ops > W.ops_budget) throw over_budget{};
}

// The eliminated nodes leave their neighbours' lists.  The remaining neighbours are
// adjacent to all s of them (the nodes eliminated with v have v's neighbours), so each
// loses s; the entries go when its list is compacted.  Then they leave the heap.
void eliminator::drop_eliminated(int p, int k, int J, long long s) {
    const int *perm = W.perm;
    for (int q = p; q < k; ++q) gone[perm[q]] = 1;
    for (int a = 0; a < J; ++a) {
        const int u = dst[a];
        degree[u] -= static_cast<int>(s);
        // With local fill every remaining neighbour's list is walked in full below,
        // and the counts of common neighbours must see live entries only: those
        // lists are compacted at once.
        if (method == 2 || len[u] - degree[u] > degree[u]) compact(nbrs, len.get(), gone.get(), u);
    }
    for (int q = p; q < k; ++q) H.remove(perm[q]);
    for (int q = p; q < k; ++q) adj.drop(perm[q]);
}

// The remaining neighbours become a clique, then get their new keys.  (With exact local
// fill a clique is formed only where pairs are missing, so it is formed whenever there
// are neighbours; the search finds nothing to add otherwise.)
void eliminator::form_clique(int J, long long s) {
    for (int ia = 0; ia < J; ++ia) {
        const int a = dst[ia];
        const int st = new_stamp();
        const bool bits = adj.on(a);
        // (Eliminated entries get stamped too; only live nodes are looked up.)
        if (!bits)
            for (int b = 0; b < len[a]; ++b) iwork[nbrs[a][b]] = st;
        for (int ib = ia + 1; ib < J; ++ib) {
            const int b = dst[ib];
            if (bits ? adj.has(a, b) : iwork[b] == st) continue;
            if (method == 2) {
                int common = 0;
                const int *lb = nbrs[b];
                for (int c = 0; c < len[b]; ++c) {
                    const int w = lb[c];
                    if (iwork[w] == st) {
                        --locfil[w];
                        hkey[w] = locfil[w] + P * tier[w];
                        H.up(iheap[w]);
                        ++common;
                    }
                }
                locfil[a] += degree[a] - common;
                locfil[b] += degree[b] - common;
            }
            add_nbr(nbrs, spc.get(), len.get(), degree, a, b, "nbrs[nbr]", "spc[nbr]");
            add_nbr(nbrs, spc.get(), len.get(), degree, b, a, "nbrs[nbr2]", "spc[nbr2]");
            if (method == 2) iwork[b] = st;
            adj.set(a, b);
            adj.set(b, a);
        }
    }
    for (int ia = 0; ia < J; ++ia) {
        const int u = dst[ia];
        adj.grow(u, degree[u], nbrs[u], len[u]);
        i64 key;
        if (method == 2) {
            locfil[u] += static_cast<i64>(J - degree[u] - 1) * s;
            key = locfil[u];
        } else {
            key = method == 1 ? degree[u] : u;
        }
        hkey[u] = key + P * tier[u];
        H.up(iheap[u]);
        H.down(iheap[u]);
    }
}

// The eliminated nodes' lists go; their supernodes split where the kind (column or row)
// changes.
void eliminator::close_step(int p, int k) {
    const int *perm = W.perm;
    for (int q = p; q < k; ++q) xfree(nbrs[perm[q]]);
    W.snode[perm[p]] = W.nsuper;
    for (int q = p + 1; q < k; ++q) {
        if ((perm[q] < n) != (perm[q - 1] < n)) ++W.nsuper;
        W.snode[perm[q]] = W.nsuper;
    }
    ++W.nsuper;
}

void eliminator::run() {
    allocate();
    if (method == 2) initial_local_fill();
    keys_and_heap();
    for (int v = 0; v < N; ++v) adj.grow(v, degree[v], nbrs[v], len[v]);
    window = N;
    int p = 0;
    while (p < N) {
        const int v = H.at(1);
        compact(nbrs, len.get(), gone.get(), v);
        const int d = degree[v];
        if (d >= N - 1 - p && window == N) window = p;
        int J = 0;
        const int k = absorb(v, p, d, J);
        grow_structure(p, k, d, v);
        const long long s = k - p;
        drop_eliminated(p, k, J, s);
        if (J >= 1) form_clique(J, s);
        close_step(p, k);
        p = k;
    }
    W.lnz = static_cast<int>(lnz);
    W.window = N - window;
}

// First position of each supernode.
void supernode_starts(factor_ws &W) {
    const int ns = W.nsuper, N = W.n + W.m;
    W.xsuper = xmalloc<int>("xsuper", "nsuper+1", static_cast<long long>(ns) + 1);
    for (int q = N - 1; q >= 0; --q) W.xsuper[W.snode[W.perm[q]]] = q;
    W.xsuper[ns] = N;
}

// A column chunk of a supernode grows while its working set stays within this many
// doubles.
constexpr long long chunk_doubles = 3685;

// Column blocking: the chunk sizes of each supernode, cut from its front.
void column_blocking(factor_ws &W) {
    const int N = W.n + W.m;
    W.split = xmalloc<int>("split", "m", N);
    for (int q = 0; q < N; ++q) W.split[q] = 0;
    for (int S = 0; S < W.nsuper; ++S) {
        const int f = W.xsuper[S];
        int remaining = W.xsuper[S + 1] - f;
        long long h = W.kAAt[f + 1] - W.kAAt[f];
        int idx = f;
        while (remaining > 0) {
            int cnt;
            long long used;
            if (remaining >= 2) {
                cnt = 2, used = 4 * h - 3, h -= 2;
            } else {
                cnt = 1, used = 3 * h - 1, h -= 1;
            }
            remaining -= cnt;
            while (used <= chunk_doubles && remaining > 0) {
                ++cnt, --remaining;
                used += h - 1;
                h -= 1;
            }
            W.split[idx++] = cnt;
        }
    }
}

// L's rows as positions, ascending within each column.
void row_positions(factor_ws &W) {
    const int N = W.n + W.m;
    for (long long q = 0; q < W.lnz; ++q) W.iAAt[q] = W.iperm[W.iAAt[q]];
    for (int q = 0; q < N; ++q) std::sort(W.iAAt + W.kAAt[q], W.iAAt + W.kAAt[q + 1]);
}

void statistics(factor_ws &W, int verbose) {
    const int N = W.n + W.m;
    double ops = 0;
    for (int q = 0; q < N; ++q) {
        const double len = W.kAAt[q + 1] - W.kAAt[q];
        ops += len * len;
    }
    W.arith_ops = ops + 3.0 * static_cast<double>(W.lnz) + N;
    if (verbose >= 2) std::printf("nonzeros:    L %10d,  arith_ops %18.0f\n", W.lnz, W.arith_ops);
}

// The numeric phase works in a postorder of the elimination tree (the parent of column
// q is its first entry): a topological order of the tree, so its factor is the same L
// with rows and columns relabelled, but columns that share a structure become
// consecutive.  Children are visited in ascending position order: the child eliminated
// last is visited last, right before its parent (its chain is the longest shared run).
void postorder(factor_ws &W) {
    const int N = W.n + W.m;
    const int *kAAt = W.kAAt, *iAAt = W.iAAt;
    W.ip2pos = xmalloc<int>("ip2pos", "m2", N);
    W.pos2ip = xmalloc<int>("pos2ip", "m2", N);
    const owned<int> head(xmalloc<int>("iwork", "m2", N));
    const owned<int> next(xmalloc<int>("iwork", "m2", N));
    const owned<int> stack(xmalloc<int>("iwork", "m2", N));
    for (int q = 0; q < N; ++q) head[q] = -1;
    for (int q = N - 1; q >= 0; --q) {
        if (kAAt[q + 1] == kAAt[q]) continue;
        const int par = iAAt[kAAt[q]];
        next[q] = head[par];
        head[par] = q;
    }
    int cnt = 0;
    for (int root = 0; root < N; ++root) {
        if (kAAt[root + 1] != kAAt[root]) continue;  // not a root
        int top = 0;
        stack[top++] = root;
        while (top > 0) {
            const int q = stack[top - 1];
            if (head[q] >= 0) {  // descend into the next child (removed from the list)
                const int ch = head[q];
                head[q] = next[ch];
                stack[top++] = ch;
            } else {
                --top;
                W.ip2pos[cnt] = q;
                W.pos2ip[q] = cnt++;
            }
        }
    }
}

// Column counts and parents in the postorder.
struct tree_view {
    const factor_ws &W;
    int len(int i) const { return W.kAAt[W.ip2pos[i] + 1] - W.kAAt[W.ip2pos[i]]; }
    int parent(int i) const {
        const int q = W.ip2pos[i];
        return W.kAAt[q + 1] > W.kAAt[q] ? W.pos2ip[W.iAAt[W.kAAt[q]]] : -1;
    }
};

// The numeric phase's blocks: runs of consecutive columns (in the postorder) factored in
// one dense front.  First the fundamental runs (each column's parent is the next column
// and the next column's structure is its own without the parent), then a run joins the
// next one when the next one is its parent and the explicit zeros of the common front
// stay few.  Returns the first column of each block (nb+1 entries) in `blkf`.
int choose_blocks(const factor_ws &W, owned<int> &blkf) {
    const int N = W.n + W.m;
    const tree_view T{W};
    const owned<int> runf(xmalloc<int>("iwork", "m2", static_cast<long long>(N) + 1));
    int nrun = 0;
    for (int i = 0; i < N; ++i) {
        const bool joins = i > 0 && T.parent(i - 1) == i && T.len(i - 1) == T.len(i) + 1;
        if (!joins) runf[nrun++] = i;
    }
    runf[nrun] = N;
    blkf.reset(xmalloc<int>("iwork", "m2", static_cast<long long>(N) + 1));
    int nb = 0;
    long long cols = 0, zeros = 0;
    int lastcol = -1;  // last column of the block being grown
    for (int r = 0; r < nrun; ++r) {
        const int f = runf[r], c = runf[r + 1] - f, l = f + c - 1;
        const long long below = T.len(l);
        bool merge = false;
        long long zn = 0;
        if (lastcol >= 0 && T.parent(lastcol) == f) {
            const long long pbelow = T.len(lastcol);
            zn = zeros + cols * (c + below - pbelow);
            const long long nc = cols + c;
            const double tot = 0.5 * nc * (nc + 1) + static_cast<double>(nc) * below;
            const double z = zn / tot;
            merge = nc <= 4 || (nc <= 16 && z < 0.8) || (nc <= 48 && z < 0.1) || z < 0.05;
        }
        if (merge) {
            cols += c;
            zeros = zn;
        } else {
            blkf[nb++] = f;
            cols = c;
            zeros = 0;
        }
        lastcol = l;
    }
    blkf[nb] = N;
    return nb;
}

// Each block's front: its first column, its row list (its own columns, then the rows
// below them, ascending) and its place in S.
void block_fronts(factor_ws &W, const int *blkf, int nb) {
    const int N = W.n + W.m;
    const tree_view T{W};
    W.nblk = nb;
    W.xblk = xmalloc<int>("xblk", "nblk+1", static_cast<long long>(nb) + 1);
    W.bstart = xmalloc<int>("bstart", "nblk+1", static_cast<long long>(nb) + 1);
    W.soff = xmalloc<long long>("soff", "nblk+1", static_cast<long long>(nb) + 1, "long");
    W.blkof = xmalloc<int>("blkof", "m2", N);
    long long nrows = 0, ssize = 0;
    for (int B = 0; B < nb; ++B) {
        const int f = blkf[B], c = blkf[B + 1] - f, l = f + c - 1;
        const long long ld = c + T.len(l);
        W.xblk[B] = f;
        W.bstart[B] = static_cast<int>(std::min<long long>(nrows, INT_MAX));
        W.soff[B] = ssize;
        nrows += ld;
        // A single column without children (a leaf of the tree: in a postorder its
        // last child would be the column right before it) receives no update and
        // is factored straight in L's column storage: it has no front.
        const bool leaf1 = c == 1 && !(f > 0 && T.parent(f - 1) == f);
        if (!leaf1) ssize += ld * c;
        for (int i = f; i <= l; ++i) W.blkof[i] = B;
    }
    W.xblk[nb] = N;
    if (nrows > INT_MAX) {
        char msg[128];
        std::snprintf(msg, sizeof msg, "MALLOC(brows,nrows=%lld,int): cannot allocate space", nrows);
        alloc_failed(msg);
    }
    W.bstart[nb] = static_cast<int>(nrows);
    W.soff[nb] = ssize;
    W.brows = xmalloc<int>("brows", "nrows", nrows);
    for (int B = 0; B < nb; ++B) {
        const int f = blkf[B], c = blkf[B + 1] - f, l = f + c - 1;
        int *br = W.brows + W.bstart[B];
        for (int i = 0; i < c; ++i) br[i] = f + i;
        const int q = W.ip2pos[l];
        int *bl = br + c;
        for (int k2 = W.kAAt[q]; k2 < W.kAAt[q + 1]; ++k2) *bl++ = W.pos2ip[W.iAAt[k2]];
        std::sort(br + c, bl);
    }
    W.ssize = ssize;
}

// Columns whose structure is only a part of their front's rows below the diagonal: the
// runs of consecutive front rows that it consists of (rows of a column are its
// ancestors, listed alike in every topological order), so that the column is copied out
// of the front run by run.
void column_runs(factor_ws &W) {
    const int N = W.n + W.m;
    W.runstart = xcalloc<int>("runstart", "m2+1", static_cast<long long>(N) + 1);
    const owned<int> frow(xmalloc<int>("iwork", "m2", N));  // front row of each column (ip) of the block
    long long nruns = 0, cap = 0;
    for (int B = 0; B < W.nblk; ++B) {
        const int f = W.xblk[B], c = W.xblk[B + 1] - f;
        const int *br = W.brows + W.bstart[B];
        const int ld = W.bstart[B + 1] - W.bstart[B];
        for (int t = 0; t < ld; ++t) frow[br[t]] = t;
        for (int cc = 0; cc < c; ++cc) {
            const int q = W.ip2pos[f + cc];
            const int len = W.kAAt[q + 1] - W.kAAt[q];
            if (len != ld - 1 - cc) {
                int prev = -2;
                for (int k2 = W.kAAt[q]; k2 < W.kAAt[q + 1]; ++k2) {
                    const int t = frow[W.pos2ip[W.iAAt[k2]]];
                    if (t != prev + 1) {
                        if (nruns + 1 > cap) {
                            cap = std::max<long long>(2 * cap, 1024);
                            W.runs = xrealloc<int>(W.runs, "runs", "2*nruns", 2 * cap);
                        }
                        W.runs[2 * nruns] = t;
                        W.runs[2 * nruns + 1] = 0;
                        ++nruns;
                    }
                    ++W.runs[2 * nruns - 1];
                    prev = t;
                }
            }
            W.runstart[f + cc + 1] = static_cast<int>(nruns);
        }
    }
}

// Load lists: each entry of A and Q below the diagonal goes to the column of the
// earlier of its two positions, at its offset in that block's front (an ld x c
// column-major block whose rows are the block's row list).
void load_lists(factor_ws &W, const LP *lp) {
    const int n = W.n, N = W.n + W.m;
    const int *kA = lp->kA, *iA = lp->iA, *iperm = W.iperm;
    const int *kQ = lp->qnz > 0 ? lp->kQ : nullptr, *iQ = lp->iQ;
    W.ldstart = xcalloc<int>("ldstart", "m2+1", static_cast<long long>(N) + 1);
    for (int j = 0; j < n; ++j) {
        for (int k2 = kA[j]; k2 < kA[j + 1]; ++k2)
            ++W.ldstart[std::min(W.pos2ip[iperm[j]], W.pos2ip[iperm[n + iA[k2]]]) + 1];
        if (kQ)
            for (int k2 = kQ[j]; k2 < kQ[j + 1]; ++k2)
                if (iperm[iQ[k2]] > iperm[j]) ++W.ldstart[std::min(W.pos2ip[iperm[j]], W.pos2ip[iperm[iQ[k2]]]) + 1];
    }
    for (int q = 0; q < N; ++q) W.ldstart[q + 1] += W.ldstart[q];
    const int nld = W.ldstart[N];
    W.ldoff = xmalloc<std::int64_t>("ldoff", "nld", nld, "long");
    W.ldsrc = xmalloc<int>("ldsrc", "nld", nld);
    const owned<int> fillp(xmalloc<int>("iwork", "m2", N));
    for (int q = 0; q < N; ++q) fillp[q] = W.ldstart[q];
    // (col, row) are positions; the front is addressed in the postorder.
    auto put = [&](int pcol, int prow, int src) {
        const int col = std::min(W.pos2ip[pcol], W.pos2ip[prow]);
        const int row = std::max(W.pos2ip[pcol], W.pos2ip[prow]);
        const int B = W.blkof[col];
        const int f = W.xblk[B];
        const int *br = W.brows + W.bstart[B];
        const int ld = W.bstart[B + 1] - W.bstart[B];
        const int t2 = static_cast<int>(std::lower_bound(br, br + ld, row) - br);
        W.ldoff[fillp[col]] = static_cast<std::int64_t>(col - f) * ld + t2;
        W.ldsrc[fillp[col]++] = src;
    };
    for (int j = 0; j < n; ++j) {
        const int pj = iperm[j];
        for (int k2 = kA[j]; k2 < kA[j + 1]; ++k2) {
            const int pi = iperm[n + iA[k2]];
            put(std::min(pj, pi), std::max(pj, pi), k2);
        }
        if (kQ)
            for (int k2 = kQ[j]; k2 < kQ[j + 1]; ++k2) {
                const int pi = iperm[iQ[k2]];
                if (pi > pj) put(pj, pi, W.nzA + k2);
            }
    }
}

// The elimination order and the structure of L.  This is where an ordering plugs in:
// any ordering must leave in W what `eliminator::run` leaves (see its comment); the
// rest of the analysis builds on that alone.  Methods 0 to 2 are the greedy elimination
// above; 3 and 4 come from ordering libraries (linalg/order_lib.cpp).
void order(factor_ws &W, graph &G, int *tier, int method, int verbose) {
    const int N = G.N;
    {
        int maxdeg = 0;
        for (int v = 0; v < N; ++v)
            if (tier[v] == 0) maxdeg = std::max(maxdeg, G.degree[v]);
        if (verbose >= 3) std::printf("max tier zero degree:  %5d\n", maxdeg);
    }
    if (method >= 3) {
        // Tier-0 nodes above the dense threshold join tier 1, as with the greedy orders.
        for (int v = 0; v < N; ++v)
            if (tier[v] == 0 && G.degree[v] > W.dense) tier[v] = 1;
        order_by_library(W, N, G.n, G.degree.get(), G.nbrs.get(), tier, method);
    } else {
        const i64 P = tier_penalty(W, method);
        if (verbose >= 3) std::printf("ordering penalty:      %5lld\n", static_cast<long long>(P));
        eliminator E(W, G, tier, method, P);
        E.run();
    }
    supernode_starts(W);
    column_blocking(W);
    if (verbose >= 3) std::printf("size of dense window = %d \n", W.window);
}

// The order and the structure of L for the priority in W.pdf (0: chosen by the fill
// estimates) and one of the methods 0 to 4, up to the statistics.
void order_one(factor_ws &W, const LP *lp, int method, int verbose, bool report) {
    const int N = lp->n + lp->m;
    graph G;
    build_graph(G, W, lp);
    choose_priority(W, lp, G, verbose);
    G.row_count.reset();
    owned<int> tier(xmalloc<int>("tier", "n+m", N));
    const long long t = assign_tiers(W, lp, tier.get());
    if (W.keep_dense)
        W.dense = INT_MAX;
    else if (W.dense < 0)
        dense_threshold(W, tier.get(), G.degree.get(), t);
    W.dense_moved = 0;
    for (int v = 0; v < N; ++v)
        if (tier.get()[v] == 0 && G.degree[v] > W.dense) ++W.dense_moved;
    if (verbose >= 3) std::printf("dense:                 %5d\n", W.dense);
    W.mark = xmalloc<int>("mark", "m+n", N);

    order(W, G, tier.get(), method, verbose);
    row_positions(W);
    statistics(W, report ? verbose : 0);
}

// Releases a work space when it goes.
struct ws_guard {
    factor_ws &W;
    ~ws_guard() { release(W); }
};

// A second candidate analysis, run by `fn(candidate)` from the settings: it replaces the
// one in W when its L needs fewer operations than `limit`, and gives up as soon as it
// needs more (as it does past an ops_budget of W's own).  Returns whether it was kept.
template <class Fn> bool try_candidate(factor_ws &W, factor_ws cand, double limit, Fn fn) {
    ws_guard keep{cand};
    cand.ops_budget = W.ops_budget > 0 ? std::min(limit, W.ops_budget) : limit;
    try {
        fn(cand);
    } catch (const over_budget &) {
        return false;
    }
    if (!(cand.arith_ops < limit)) return false;
    cand.ops_budget = W.ops_budget;
    std::swap(W, cand);
    return true;
}

// The operations of a factorization above which another ordering may pay for its
// analysis: nested dissection of the reduced system's pattern takes about as long as a
// thousand operations of a factorization per entry (aug2dc: 0.1 s for 80 000 entries,
// against 5 ms for a factorization of 1.6e7 operations), and saves at most a share of
// each of some tens of factorizations (cont-101: 0.1 s for nested dissection, which
// needs 0.6 of minimum degree's 1.3e8 operations, 11 ms a factorization).
double another_order_pays(const LP *lp) {
    const double entries = (lp->kA ? lp->kA[lp->n] : 0) + 0.5 * lp->qnz + lp->n + lp->m;
    return 5000.0 * entries;
}

// The order for the priority in W.pdf by the method.  Method 5 is minimum degree, or
// nested dissection when that needs less than half the operations.  Minimum degree runs
// first up to the operations that make trying nested dissection worth its analysis, and
// is kept when it stays below them; otherwise nested dissection runs, and then minimum
// degree again, giving up once it needs twice nested dissection's operations (its own
// elimination can cost seconds where its fill is large).
void order_for_priority(factor_ws &W, const LP *lp, int method, int verbose, bool report = true) {
    if (method != method_best) {
        order_one(W, lp, method, verbose, report);
        return;
    }
    const factor_ws settings = W;
    auto mindeg = [&](factor_ws &c) { order_one(c, lp, method_mindeg, verbose, false); };
    bool md = try_candidate(W, settings, another_order_pays(lp), mindeg);
    if (!md) {
        order_one(W, lp, method_nesdis, verbose, false);
        md = try_candidate(W, settings, 2 * W.arith_ops, mindeg);
    }
    if (verbose >= 3) std::printf("Ordering by %s\n", md ? "minimum degree" : "nested dissection");
    statistics(W, report ? verbose : 0);
}

// Priority by fill: the priority the fill estimates choose, unless the other one needs
// less than half the operations (the primal one only where columns may lead).  The dual
// order is analysed first; the primal candidate gives up as soon as it cannot win.
void order_by_fill(factor_ws &W, const LP *lp, int method, int verbose) {
    const factor_ws settings = W;
    W.pdf = 0;
    {
        // The estimates' choice, without ordering anything yet.
        graph G;
        build_graph(G, W, lp);
        choose_priority(W, lp, G, verbose);
    }
    const int chosen = W.pdf;
    W = settings;
    W.pdf = 2;
    order_for_priority(W, lp, method, verbose, false);
    if (columns_may_lead(W, lp)) {
        factor_ws cand = settings;
        cand.pdf = 1;
        const double limit = chosen == 1 ? 2 * W.arith_ops : 0.5 * W.arith_ops;
        try_candidate(W, cand, limit, [&](factor_ws &c) { order_for_priority(c, lp, method, verbose, false); });
    }
    if (verbose >= 3)
        std::printf("Ordering priority favors %s by fill (the estimates chose %s)\n",
                    W.pdf_used == 1 ? "PRIMAL" : "DUAL", chosen == 1 ? "PRIMAL" : "DUAL");
    statistics(W, verbose);
}

} // namespace

void symbolic(factor_ws &W, const LP *lp) {
    const double t_start = cputimer();
    const int N = lp->n + lp->m;
    const int verbose = lp->verbose;
    copy_settings(W, lp);
    const int method = W.method >= 0 && W.method <= method_best ? W.method : 1;

    if (W.pdf == priority_by_fill)
        order_by_fill(W, lp, method, verbose);
    else
        order_for_priority(W, lp, method, verbose);

    // The graph is gone by now, so that it and L's values are never held together.
    W.iAAt = xrealloc<int>(W.iAAt, "iAAt", "lnz", W.lnz);
    W.AAt = xmalloc<double>("AAt", "lnz", W.lnz);
    W.diag = xmalloc<double>("diag", "m", N);

    postorder(W);
    owned<int> blkf;
    const int nb = choose_blocks(W, blkf);
    block_fronts(W, blkf.get(), nb);
    blkf.reset();
    column_runs(W);
    load_lists(W, lp);

    W.symbolic_seconds = cputimer() - t_start;
}

} // namespace orva::detail
