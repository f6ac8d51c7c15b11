// Elimination order, supernodes, column blocking and the symbolic-phase messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "factor_testutil.h"

using namespace orva;
using namespace orva::testing;

namespace {
std::string factor_output(LP *lp, const std::vector<double> &Dn, const std::vector<double> &Dm) {
    ::testing::internal::CaptureStdout();
    inv_num(lp, Dn.data(), Dm.data());
    return ::testing::internal::GetCapturedStdout();
}
} // namespace

TEST(Order, MessagesAndStatisticsOfASmallProblem) {
    dense_problem p;
    p.m = 2;
    p.n = 3;
    p.A = {{1, 2, 3}, {4, 5, 6}};
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->convex = 1;
    lp->verbose = 3;
    const std::string out = factor_output(lp, {1, 1, 1}, {1, 1});
    const std::string want =
        "primal fillin estimate:          2\n"
        "dual   fillin estimate:          4\n\n"
        "Ordering priority favors PRIMAL\n"
        "dense:                     9\n"
        "max tier zero degree:      2\n"
        "ordering penalty:          5\n"
        "size of dense window = 3 \n"
        "nonzeros:    L          7,  arith_ops                 39\n";
    EXPECT_EQ(out.substr(0, want.size()), want);
    const factor_view v = factor_info();
    EXPECT_EQ(v.pdf, 1);
    EXPECT_EQ(v.lnz, 7);
    // Columns first; the two rows are eliminated together but stay one supernode.
    EXPECT_EQ(v.perm[3] + v.perm[4], 7);
    EXPECT_EQ(v.nsuper, 4);
    expect_structure_sound(3, 2);
    inv_clo();
    // A linear problem is convex without the assertion; a quadratic one without it
    // gets the dual priority.
    lp->convex = 0;
    EXPECT_NE(factor_output(lp, {1, 1, 1}, {1, 1}).find("favors PRIMAL\n"), std::string::npos);
    inv_clo();
    p.Q = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    LP *qp = make_lp(p);
    finish_lp(qp);
    qp->verbose = 3;
    const std::string out2 = factor_output(qp, {1, 1, 1}, {1, 1});
    EXPECT_NE(out2.find("Ordering priority favors DUAL\n"), std::string::npos);
    EXPECT_EQ(factor_info().pdf, 2);
    inv_clo();
    // A quadratic program: the perturbation search keeps its column pivots negative.
    qp->quadratic = 1;
    EXPECT_NE(factor_output(qp, {1, 1, 1}, {1, 1}).find("favors PRIMAL\n"), std::string::npos);
    inv_clo();
    closelp(qp);
    // A given priority is used without a message; nothing is printed below verbose 2.
    lp->pdf = 1;
    lp->verbose = 1;
    EXPECT_EQ(factor_output(lp, {1, 1, 1}, {1, 1}), "");
    inv_clo();
    closelp(lp);
}

TEST(Order, ColumnsThatQCouplesCountAsOneInThePrimalEstimate) {
    // Three columns with a row each.  With a diagonal Q the primal estimate is that of
    // three one-row columns; when Q couples them they go as one column of three rows, and
    // the estimate (now above three times the dual one) turns the priority to the rows.
    dense_problem p;
    p.m = 3;
    p.n = 3;
    p.A = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    p.Q = {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    for (const bool coupled : {false, true}) {
        if (coupled) p.Q = {{2, 1, 0}, {1, 2, 1}, {0, 1, 2}};
        LP *lp = make_lp(p);
        finish_lp(lp);
        lp->convex = 1;
        lp->verbose = 3;
        const std::string out = factor_output(lp, {1, 1, 1}, {1, 1, 1});
        EXPECT_NE(out.find(coupled ? "primal fillin estimate:          3\n" : "primal fillin estimate:          1\n"),
                  std::string::npos) << out;
        EXPECT_EQ(factor_info().pdf, coupled ? 2 : 1);
        inv_clo();
        closelp(lp);
    }
}

TEST(Order, MethodZeroKeepsTheNaturalOrder) {
    dense_problem p;
    p.m = 3;
    p.n = 4;
    p.A = {{1, 1, 0, 0}, {0, 1, 1, 0}, {0, 0, 1, 1}};
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->verbose = 0;
    lp->method = 0;
    for (int pdf = 1; pdf <= 2; ++pdf) {
        lp->pdf = pdf;
        std::vector<double> Dn(4, 1.0), Dm(3, 1.0);
        inv_num(lp, Dn.data(), Dm.data());
        const factor_view v = factor_info();
        for (int q = 0; q < 7; ++q) EXPECT_EQ(v.perm[q], q);
        expect_matches_reference(lp, Dn.data(), Dm.data());
        inv_clo();
    }
    closelp(lp);
}

TEST(Order, IndistinguishableNeighboursJoinThePivot) {
    // Columns 0 and 2 are adjacent through Q and share row 0: one step, one supernode.
    dense_problem p;
    p.m = 1;
    p.n = 3;
    p.A = {{1, 0, 1}};
    p.Q = {{1, 0, 0.5}, {0, 1, 0}, {0.5, 0, 1}};
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->verbose = 0;
    lp->method = 0;
    lp->pdf = 1;
    std::vector<double> Dn(3, 1.0), Dm(1, 1.0);
    inv_num(lp, Dn.data(), Dm.data());
    const factor_view v = factor_info();
    EXPECT_EQ(v.perm[0], 0);
    EXPECT_EQ(v.perm[1], 2);
    EXPECT_EQ(v.snode[0], v.snode[2]);
    expect_matches_reference(lp, Dn.data(), Dm.data());
    inv_clo();
    closelp(lp);

    // A free column and its row share a step but never a supernode.
    dense_problem p2;
    p2.m = 1;
    p2.n = 1;
    p2.A = {{2.0}};
    lp = make_lp(p2);
    finish_lp(lp, {1}, {1});
    lp->verbose = 0;
    lp->pdf = 1;
    std::vector<double> one{1.0};
    inv_num(lp, one.data(), one.data());
    EXPECT_EQ(factor_info().nsuper, 2);
    expect_structure_sound(1, 1);
    inv_clo();
    closelp(lp);
}

TEST(Order, IdenticalColumnsAreNotMerged) {
    // Two columns with the same rows are not adjacent: different steps.
    dense_problem p;
    p.m = 2;
    p.n = 2;
    p.A = {{1, 2}, {3, 4}};
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->verbose = 0;
    lp->pdf = 1;
    std::vector<double> Dn(2, 1.0), Dm(2, 1.0);
    inv_num(lp, Dn.data(), Dm.data());
    const factor_view v = factor_info();
    EXPECT_NE(v.snode[0], v.snode[1]);
    inv_clo();
    closelp(lp);
}

TEST(Order, TiersDecideWhichKindGoesFirst) {
  // The greedy minimum degree and the library orders (approximate minimum degree under
  // the tiers, nested dissection of tier 1) alike.
  for (int method : {1, 3, 4}) {
    SCOPED_TRACE(method);
    random_shape r{30, 50, 0.08};
    r.seed = 77;
    LP *lp = make_lp(random_problem(r));
    std::vector<int> bnd(50, 8);
    bnd[5] = bnd[17] = 1;  // free variables
    finish_lp(lp, bnd);
    lp->verbose = 0;
    lp->method = method;
    std::vector<double> Dn(50, 1.0), Dm(30, 1.0);
    // Dual priority: rows of degree up to the dense threshold precede all columns.
    lp->pdf = 2;
    inv_num(lp, Dn.data(), Dm.data());
    factor_view v = factor_info();
    {
        // t = 2 free columns: three times one more than the 2nd smallest row degree.
        std::vector<int> deg;
        for (int i = 0; i < 30; ++i) deg.push_back(lp->kAt[i + 1] - lp->kAt[i]);
        std::sort(deg.begin(), deg.end());
        EXPECT_EQ(v.dense, 3 * (deg[1] + 1));
    }
    int first_col = 80;
    for (int j = 0; j < 50; ++j) first_col = std::min(first_col, v.iperm[j]);
    for (int i = 0; i < 30; ++i) {
        const int deg = lp->kAt[i + 1] - lp->kAt[i];
        if (deg <= v.dense) {
            EXPECT_LT(v.iperm[50 + i], first_col) << "row " << i;
        }
    }
    expect_matches_reference(lp, Dn.data(), Dm.data());
    inv_clo();
    // Primal priority: a free variable comes after every bounded variable of low degree.
    lp->pdf = 1;
    inv_num(lp, Dn.data(), Dm.data());
    v = factor_info();
    for (int j = 0; j < 50; ++j) {
        const int deg = lp->kA[j + 1] - lp->kA[j];
        if (bnd[j] != 1 && deg <= v.dense) {  // bounded and of low degree
            EXPECT_LT(v.iperm[j], v.iperm[5]);
            EXPECT_LT(v.iperm[j], v.iperm[17]);
        }
    }
    expect_matches_reference(lp, Dn.data(), Dm.data());
    inv_clo();
    // A supplied classification replaces the priority's (the record keeps its array).
    lp->tier = xmalloc<int>("tier", "n+m", 80);
    for (int k = 0; k < 80; ++k) lp->tier[k] = k < 50 ? 1 : 0;
    lp->dense = 1000;
    inv_num(lp, Dn.data(), Dm.data());
    v = factor_info();
    for (int i = 0; i < 30; ++i)
        for (int j = 0; j < 50; ++j) ASSERT_LT(v.iperm[50 + i], v.iperm[j]);
    EXPECT_EQ(lp->tier[0], 1);
    inv_clo();
    xfree(lp->tier);
    closelp(lp);
  }
}

TEST(Order, ChoicesByTheOperationsTheyNeed) {
    // A wide problem is cheaper with its few rows last (primal priority), a tall one or
    // one with dense columns with its columns last (dual).  Priority 3 keeps the estimates' choice unless
    // the other needs less than half the operations (the primal one only where columns
    // may lead); method 5 keeps minimum degree unless nested dissection needs less than
    // half and the factorization is costly enough to repay trying it.
    const random_shape wide{15, 60, 0.06}, dense{40, 30, 0.06, false, 6}, tall{80, 20, 0.1};
    for (const random_shape *r : {&wide, &dense, &tall})
        for (int method : {1, 4, 5}) {
            SCOPED_TRACE(method);
            LP *lp = make_lp(random_problem(*r));
            finish_lp(lp);
            lp->verbose = 0;
            lp->dense = 1000;  // no column moves to tier 1
            lp->convex = 1;
            std::vector<double> Dn(r->n, 1.0), Dm(r->m, 1.0);
            // ops[method][pdf]: methods 1 and 4 by themselves, then the combined ones.
            auto analyse = [&](int mth, int pdf) {
                lp->method = mth;
                lp->pdf = pdf;
                inv_num(lp, Dn.data(), Dm.data());
                const factor_view v = factor_info();
                const double ops = v.arith_ops;
                const int used = v.pdf;
                if (mth == method && pdf == 3) {
                    expect_structure_sound(r->n, r->m);
                    expect_matches_reference(lp, Dn.data(), Dm.data());
                }
                inv_clo();
                return std::pair<double, int>(ops, used);
            };
            const int est = analyse(1, 0).second;
            auto ops_of = [&](int pdf) {
                if (method != 5) return analyse(method, pdf).first;
                // Nested dissection only where the minimum-degree factor needs more than
                // 5000 operations per entry of the pattern (never, at these sizes).
                const double md = analyse(1, pdf).first, nd = analyse(4, pdf).first;
                const double entries = lp->kA[lp->n] + 0.5 * lp->qnz + lp->n + lp->m;
                return md > 5000 * entries && nd < 0.5 * md ? nd : md;
            };
            const double primal = ops_of(1), dual = ops_of(2);
            const bool want_primal = est == 1 ? !(dual < 0.5 * primal) : primal < 0.5 * dual;
            const auto got = analyse(method, 3);
            EXPECT_EQ(got.second, want_primal ? 1 : 2);
            EXPECT_EQ(got.first, want_primal ? primal : dual);
            if (method == 5) {
                EXPECT_EQ(analyse(5, 2).first, dual);
            }
            // A linear program is convex without the assertion: the same choice.
            lp->convex = 0;
            EXPECT_EQ(analyse(method, 3).second, want_primal ? 1 : 2);
            closelp(lp);
        }
}

TEST(Order, AutomaticThresholdWithNoTarget) {
    random_shape r{10, 10, 0.3};
    LP *lp = make_lp(random_problem(r));
    finish_lp(lp);  // no free variables: t = 0 under the dual priority
    lp->verbose = 0;
    lp->pdf = 2;
    std::vector<double> Dn(10, 1.0), Dm(10, 1.0);
    inv_num(lp, Dn.data(), Dm.data());
    EXPECT_EQ(factor_info().dense, 3);
    inv_clo();
    closelp(lp);
}

TEST(Order, LocalFillPenaltyHoldsPastTheIntRange) {
    // n+m = 50000: the local-fill penalty (n+m)^2 exceeds 32 bits.  Rows (tier 0)
    // must still all precede columns (tier 1).
    const int n = 30000, m = 20000;
    LP *lp = openlp();
    lp->n = n;
    lp->m = m;
    lp->nz = n;
    lp->A = xmalloc<double>("A", "nz", n);
    lp->iA = xmalloc<int>("iA", "nz", n);
    lp->kA = xmalloc<int>("kA", "n+1", n + 1);
    for (int j = 0; j <= n; ++j) lp->kA[j] = j;
    for (int j = 0; j < n; ++j) {
        lp->iA[j] = j % m;
        lp->A[j] = 1.0 + (j % 7);
    }
    finish_lp(lp);
    lp->method = 2;
    lp->pdf = 2;
    lp->verbose = 3;
    std::vector<double> Dn(n, 1.0), Dm(m, 1.0);
    const std::string out = factor_output(lp, Dn, Dm);
    EXPECT_NE(out.find("ordering penalty:      2500000000\n"), std::string::npos) << out.substr(0, 400);
    const factor_view v = factor_info();
    int last_row = 0, first_col = n + m;
    for (int i = 0; i < m; ++i) last_row = std::max(last_row, v.iperm[n + i]);
    for (int j = 0; j < n; ++j) first_col = std::min(first_col, v.iperm[j]);
    EXPECT_LT(last_row, first_col);
    expect_structure_sound(n, m);
    inv_clo();
    closelp(lp);
}

TEST(Order, ColumnBlockingOfADenseSupernode) {
    // A dense Q of order 201: one supernode whose first column has 200 entries.
    const int n = 201;
    dense_problem p;
    p.n = n;
    p.m = 0;
    p.Q.assign(n, std::vector<double>(n, 0.01));
    for (int j = 0; j < n; ++j) p.Q[j][j] = 10.0;
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->verbose = 0;
    std::vector<double> Dn(n, 1.0);
    inv_num(lp, Dn.data(), nullptr);
    const factor_view v = factor_info();
    ASSERT_EQ(v.nsuper, 1);
    EXPECT_EQ(v.window, n);
    // 4h-3 = 797, then columns while the working set stays within 3685 doubles.
    EXPECT_EQ(v.split[0], 18);
    EXPECT_EQ(v.split[1], 20);
    expect_structure_sound(n, 0);
    expect_matches_reference(lp, Dn.data(), nullptr);
    inv_clo();
    closelp(lp);
}

TEST(Order, OneSidedQuadraticPatternIsHandledSafely) {
    // Q with only its lower triangle stored: the graph is made symmetric.
    random_shape r{8, 12, 0.3, true};
    dense_problem p = random_problem(r);
    for (int i = 0; i < 12; ++i)
        for (int j = i + 1; j < 12; ++j) p.Q[i][j] = 0.0;
    LP *lp = make_lp(p);
    finish_lp(lp);
    lp->verbose = 0;
    for (int method = 0; method <= 2; ++method) {
        lp->method = method;
        std::vector<double> Dn(12, 1.0), Dm(8, 1.0);
        inv_num(lp, Dn.data(), Dm.data());
        expect_structure_sound(12, 8);
        inv_clo();
    }
    closelp(lp);
}

namespace {
// Replays the elimination in the order found, on a dense adjacency matrix of the
// problem's graph, and checks each column's structure against the replay; with
// key_is_degree, also that every node eliminated had the least degree of the nodes
// left (nodes eliminated along with the pivot then have the least degree too).
void expect_replay_agrees(const dense_problem &p, bool key_is_degree) {
    const factor_view v = factor_info();
    const int n = p.n, m = p.m, N = n + m;
    std::vector<std::vector<char>> adj(N, std::vector<char>(N, 0));
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j)
            if (p.A[i][j] != 0.0) adj[j][n + i] = adj[n + i][j] = 1;
    if (!p.Q.empty())
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                if (i != j && (p.Q[i][j] != 0.0 || p.Q[j][i] != 0.0)) adj[i][j] = adj[j][i] = 1;
    std::vector<char> done(N, 0);
    for (int q = 0; q < N; ++q) {
        const int u = v.perm[q];
        std::vector<int> nb;
        for (int w = 0; w < N; ++w)
            if (!done[w] && w != u && adj[u][w]) nb.push_back(w);
        auto key = [&](int w) {
            std::vector<int> l;
            for (int x = 0; x < N; ++x)
                if (!done[x] && x != w && adj[w][x]) l.push_back(x);
            if (key_is_degree) return static_cast<long long>(l.size());
            long long fill = 0;
            for (size_t a = 0; a < l.size(); ++a)
                for (size_t b = a + 1; b < l.size(); ++b) fill += !adj[l[a]][l[b]];
            return fill;
        };
        const long long ku = key(u);
        for (int w = 0; w < N; ++w) {
            if (done[w] || w == u) continue;
            ASSERT_LE(ku, key(w)) << "position " << q << ": node " << w << " has a smaller key than " << u;
        }
        std::vector<int> rows;
        for (int w : nb) rows.push_back(v.iperm[w]);
        std::sort(rows.begin(), rows.end());
        ASSERT_EQ(static_cast<size_t>(v.kAAt[q + 1] - v.kAAt[q]), rows.size()) << "column " << q;
        for (size_t k = 0; k < rows.size(); ++k) ASSERT_EQ(v.iAAt[v.kAAt[q] + k], rows[k]) << "column " << q;
        for (int a : nb)
            for (int b : nb)
                if (a != b) adj[a][b] = 1;
        done[u] = 1;
    }
}
} // namespace

TEST(Order, EliminationReplaysOnDenseRowsAndLongRuns) {
    // A few rows reaching many columns, many sparse ones and a sparse Q: the dense
    // rows' lists are long and lose entries at almost every step, and large cliques
    // form late.  The order and the structure must agree with a plain replay.
    for (unsigned seed = 1; seed <= 3; ++seed) {
        random_shape r;
        r.m = 60;
        r.n = 260;
        r.density = 0.015;
        r.dense_rows = 3;
        r.quad = seed == 2;
        r.seed = seed;
        dense_problem p = random_problem(r);
        for (int i = 0; i < r.dense_rows; ++i)  // three fifths of the columns each, not the same
            for (int j = 0; j < r.n; ++j)
                if ((7 * i + j) % 5 < 2) p.A[i][j] = 0.0;
        if (r.quad)  // a sparser Q than random_problem's (which uses A's density)
            for (int i = 0; i < r.n; ++i)
                for (int j = 0; j < r.n; ++j)
                    if (i != j && (std::min(i, j) + 3 * std::max(i, j)) % 7 != 0) p.Q[i][j] = 0.0;
        LP *lp = make_lp(p);
        finish_lp(lp);
        lp->verbose = 0;
        std::vector<double> Dn = spread(r.n, seed, 1e-2, 1e2), Dm = spread(r.m, seed + 7, 1e-2, 1e2);
        for (int method = 1; method <= 2; ++method) {
            SCOPED_TRACE(::testing::Message() << "seed " << seed << " method " << method);
            lp->method = method;
            // One tier and no dense threshold: the key is the degree alone.
            lp->tier = xcalloc<int>("tier", "n+m", r.n + r.m);
            lp->dense = 1 << 30;
            inv_num(lp, Dn.data(), Dm.data());
            expect_structure_sound(r.n, r.m);
            expect_replay_agrees(p, method == 1);
            expect_matches_reference(lp, Dn.data(), Dm.data());
            inv_clo();
            xfree(lp->tier);
            lp->dense = -1;
        }
        closelp(lp);
    }
}
