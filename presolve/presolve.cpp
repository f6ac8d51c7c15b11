// The reductions of presolve and the reduced record they leave.
//
// The problem is held with rows as lower and upper sides lo <= Ax <= hi and with the
// matrix twice, by columns and by rows, each list of (index, value) entries.  Removed
// rows and columns are only marked; their entries stay in the other lists until a list
// is next read, which skips and drops them.  Counts of live entries per row and column
// are kept exact.  Every reduction pushes a step with what postsolve needs to undo it.
#include "presolve/presolve.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>

#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva {

const char *const prep_why_names[PW_COUNT] = {
    "empty row",          "free row",         "redundant row",
    "singleton row",      "forcing row",      "duplicate row",
    "column singleton's row", "doubleton equation", "empty column",
    "fixed column",       "forced column",    "free column singleton",
    "implied-free column singleton", "substituted column",
};

std::string prep_label(const LP *lp, bool isrow, int k) {
    char **lab = isrow ? lp->rowlab : lp->collab;
    char text[32];
    const char *from = lab && lab[k] ? lab[k] : text;
    if (from == text) std::snprintf(text, sizeof text, "%c%d", isrow ? 'R' : 'C', k);
    std::string s = from;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double BIG = 1e8;        // bounds beyond count as infinite (as in solvelp)
constexpr double DECIDE = 1e-9;    // relative tolerance of redundancy and forcing tests
constexpr double PIVOT = 1e-3;     // smallest |a| of a substitution relative to its row
constexpr double CANCEL = 1e-12;   // fill below this share of its terms is zero

struct work {
    LP *lp = nullptr;
    prep *ps = nullptr;
    int m = 0, n = 0, opts = 0;
    std::vector<std::vector<prep_ent>> col, row;
    std::vector<int> ccnt, rcnt;
    std::vector<char> calive, ralive;
    std::vector<double> lo, hi, l, u, c;
    double f = 0;
    long long nzlive = 0;
    double itol = 1e-6;  // relative violation beyond which presolve declares infeasibility
    const int *kQ = nullptr, *iQ = nullptr;
    const double *Q = nullptr;
    // Rows and columns to examine in the next pass.
    std::vector<char> rdirty, cdirty;
    std::vector<int> rnext, cnext;
    bool stop = false;
};

prep_pass &pass_counts(work &W) { return W.ps->passes.back(); }
int pass_no(const work &W) { return static_cast<int>(W.ps->passes.size()); }

void touch_row(work &W, int i) {
    if (W.ralive[i] && !W.rdirty[i]) {
        W.rdirty[i] = 1;
        W.rnext.push_back(i);
    }
}
void touch_col(work &W, int j) {
    if (W.calive[j] && !W.cdirty[j]) {
        W.cdirty[j] = 1;
        W.cnext.push_back(j);
    }
}

// The live entries of a column or a row, after dropping the dead ones from its list.
std::vector<prep_ent> &live_col(work &W, int j) {
    auto &v = W.col[j];
    std::erase_if(v, [&](const prep_ent &e) { return !W.ralive[e.idx]; });
    return v;
}
std::vector<prep_ent> &live_row(work &W, int i) {
    auto &v = W.row[i];
    std::erase_if(v, [&](const prep_ent &e) { return !W.calive[e.idx]; });
    return v;
}

void kill_row(work &W, int i) {
    W.ralive[i] = 0;
    for (const prep_ent &e : live_row(W, i)) {
        --W.ccnt[e.idx];
        --W.nzlive;
        touch_col(W, e.idx);
    }
    W.row[i].clear();
    W.row[i].shrink_to_fit();
}
void kill_col(work &W, int j) {
    W.calive[j] = 0;
    for (const prep_ent &e : live_col(W, j)) {
        --W.rcnt[e.idx];
        --W.nzlive;
        touch_row(W, e.idx);
    }
    W.col[j].clear();
    W.col[j].shrink_to_fit();
}

// Q entries of column j with live rows: whether any (or any off the diagonal) exist,
// and the diagonal.
bool has_q(const work &W, int j, bool offdiag_only) {
    if (!W.kQ) return false;
    for (int p = W.kQ[j]; p < W.kQ[j + 1]; ++p) {
        const int k = W.iQ[p];
        if (W.Q[p] != 0.0 && W.calive[k] && (k != j || !offdiag_only)) return true;
    }
    return false;
}
double qdiag(const work &W, int j) {
    double d = 0;
    if (W.kQ)
        for (int p = W.kQ[j]; p < W.kQ[j + 1]; ++p)
            if (W.iQ[p] == j) d += W.Q[p];
    return d;
}

double tol(double rel, double v) { return rel * (1.0 + (std::isfinite(v) ? std::fabs(v) : 0.0)); }

std::string label(const LP *lp, bool isrow, int k) { return prep_label(lp, isrow, k); }

// Ends presolve with a verdict: 1 infeasible, 2 unbounded.
void verdict(work &W, int what, const std::string &text) {
    const bool lp_only = W.lp->qnz == 0;
    // The codes solvelp gives: for an LP its unboundedness tests (8 the dual is
    // unbounded, so the primal infeasible; 7 the primal unbounded), for a QP its
    // blow-up verdicts (3 primal infeasible, 4 dual infeasible).
    W.ps->status = what == 1 ? (lp_only ? 8 : 3) : (lp_only ? 7 : 4);
    W.ps->reason.assign(text.begin(), text.end());
    W.ps->reason.push_back('\0');
    W.stop = true;
}

prep_step &push(work &W, int kind, int why) {
    prep_step s;
    s.kind = kind;
    s.why = why;
    s.pass = pass_no(W);
    s.first = static_cast<int>(W.ps->pool.size());
    W.ps->stack.push_back(s);
    return W.ps->stack.back();
}
void store(work &W, prep_step &s, const std::vector<prep_ent> &list, int skip = -1) {
    for (const prep_ent &e : list)
        if (e.idx != skip) W.ps->pool.push_back(e);
    s.len = static_cast<int>(W.ps->pool.size()) - s.first;
}

void drop_row(work &W, int i, int why) {
    prep_step &s = push(W, PK_DROPROW, why);
    s.i = i;
    ++pass_counts(W).why[why];
    ++pass_counts(W).rows;
    kill_row(W, i);
}

// Fixes column j at v: its entries move into the row sides, its cost and Q terms into
// f and the other columns' costs.
void fix_col(work &W, int j, double v, int why, int by_row = -1) {
    auto &list = live_col(W, j);
    prep_step &s = push(W, PK_FIXCOL, why);
    s.j = j;
    s.i = by_row;
    s.v = v;
    s.cost = W.c[j];
    store(W, s, list);
    if (v != 0.0)
        for (const prep_ent &e : list) {
            W.lo[e.idx] -= e.val * v;
            W.hi[e.idx] -= e.val * v;
        }
    W.f += W.c[j] * v + 0.5 * qdiag(W, j) * v * v;
    if (W.kQ && v != 0.0)
        for (int p = W.kQ[j]; p < W.kQ[j + 1]; ++p) {
            const int k = W.iQ[p];
            if (k != j && W.calive[k]) {
                W.c[k] += W.Q[p] * v;
                touch_col(W, k);
            }
        }
    ++pass_counts(W).why[why];
    ++pass_counts(W).cols;
    kill_col(W, j);
}

// Whether a new lower (upper) bound nb is tighter than the current b by more than the
// decision tolerance.
bool tighter_lo(double nb, double b) { return nb > -INF && (b == -INF || nb > b + tol(DECIDE, nb)); }
bool tighter_hi(double nb, double b) { return nb < INF && (b == INF || nb < b - tol(DECIDE, nb)); }

// A bound solvelp would read as infinite cannot carry a row's constraint.
bool expressible(double nl, double nu, double l, double u, bool lchg, bool uchg) {
    if (lchg && nl < -BIG && l == -INF) return false;
    if (uchg && nu > BIG && u == INF) return false;
    return true;
}

// Applies new bounds to column j; false (and a verdict) when they cross.
bool set_bounds(work &W, int j, double nl, double nu, bool lchg, bool uchg, const std::string &why) {
    if (lchg) W.l[j] = nl;
    if (uchg) W.u[j] = nu;
    double &l = W.l[j], &u = W.u[j];
    if (l > u) {
        if (l - u > tol(W.itol, std::max(std::fabs(l), std::fabs(u)))) {
            verdict(W, 1, "column " + label(W.lp, false, j) + ": " + why + " leaves no value between its bounds");
            return false;
        }
        if (lchg)
            l = u;
        else
            u = l;
    } else if (u - l <= tol(1e-12, l)) {
        u = l;
    }
    touch_col(W, j);
    for (const prep_ent &e : live_col(W, j)) touch_row(W, e.idx);
    return true;
}

// Row with one entry: bounds of its column.
void singleton_row(work &W, int i) {
    const prep_ent e = live_row(W, i).front();
    const int j = e.idx;
    const double a = e.val;
    double nl, nu;
    if (a > 0) {
        nl = W.lo[i] == -INF ? -INF : W.lo[i] / a;
        nu = W.hi[i] == INF ? INF : W.hi[i] / a;
    } else {
        nl = W.hi[i] == INF ? -INF : W.hi[i] / a;
        nu = W.lo[i] == -INF ? INF : W.lo[i] / a;
    }
    const bool lchg = tighter_lo(nl, W.l[j]), uchg = tighter_hi(nu, W.u[j]);
    if (!expressible(nl, nu, W.l[j], W.u[j], lchg, uchg)) return;
    prep_step &s = push(W, PK_SINGROW, PW_SINGLETON);
    s.i = i;
    s.j = j;
    s.a = a;
    s.flags = (lchg ? 1 : 0) | (uchg ? 2 : 0);
    ++pass_counts(W).why[PW_SINGLETON];
    ++pass_counts(W).rows;
    kill_row(W, i);
    set_bounds(W, j, nl, nu, lchg, uchg, "singleton row " + label(W.lp, true, i));
}

// Smallest and largest activity of a row over the column bounds, leaving out column
// `skip`; infinite parts counted apart.
struct activity {
    double minfin = 0, maxfin = 0;
    int mininf = 0, maxinf = 0;
    double amax = 0;  // largest |a| in the row
    double min() const { return mininf ? -INF : minfin; }
    double max() const { return maxinf ? INF : maxfin; }
};
activity row_activity(work &W, int i, int skip = -1) {
    activity A;
    for (const prep_ent &e : live_row(W, i)) {
        A.amax = std::max(A.amax, std::fabs(e.val));
        if (e.idx == skip) continue;
        const double lmin = e.val > 0 ? W.l[e.idx] : W.u[e.idx];
        const double lmax = e.val > 0 ? W.u[e.idx] : W.l[e.idx];
        if (std::isinf(lmin))
            ++A.mininf;
        else
            A.minfin += e.val * lmin;
        if (std::isinf(lmax))
            ++A.maxinf;
        else
            A.maxfin += e.val * lmax;
    }
    return A;
}

// Forcing row: the activity can meet the side `side` (+1 upper, -1 lower) only with
// every column at the bound that gives it.
void forcing_row(work &W, int i, int side) {
    auto list = live_row(W, i);  // a copy: fixing the columns changes the row's list
    prep_step &s = push(W, PK_FORCEROW, PW_FORCING);
    s.i = i;
    s.v = side;
    store(W, s, list);
    ++pass_counts(W).why[PW_FORCING];
    ++pass_counts(W).rows;
    for (const prep_ent &e : list) {
        const bool at_lower = (e.val > 0) == (side > 0);
        fix_col(W, e.idx, at_lower ? W.l[e.idx] : W.u[e.idx], PW_FORCEDCOL, i);
    }
    kill_row(W, i);
}

// Equation in two columns: one (without Q entries) is substituted by the other.
void doubleton(work &W, int i) {
    const auto &list = live_row(W, i);
    const prep_ent e1 = list[0], e2 = list[1];
    // The column to substitute: without Q entries, with a pivot not much smaller than
    // the other entry, and the shorter one (less fill) when both qualify.
    auto fits = [&](const prep_ent &e, const prep_ent &o) {
        return !has_q(W, e.idx, false) && std::fabs(e.val) >= PIVOT * std::fabs(o.val);
    };
    const bool f1 = fits(e1, e2), f2 = fits(e2, e1);
    if (!f1 && !f2) return;
    bool first = f1;
    if (f1 && f2) first = W.ccnt[e1.idx] <= W.ccnt[e2.idx];
    const prep_ent ej = first ? e1 : e2, ek = first ? e2 : e1;
    const int j = ej.idx, k = ek.idx;
    const double aj = ej.val, ak = ek.val, b = W.lo[i];
    const double rho = ak / aj, beta = b / aj;
    // x_j = beta - rho x_k within [l_j, u_j] bounds x_k.
    const double from_l = W.l[j] == -INF ? (rho > 0 ? INF : -INF) : (beta - W.l[j]) / rho;
    const double from_u = W.u[j] == INF ? (rho > 0 ? -INF : INF) : (beta - W.u[j]) / rho;
    const double nl = rho > 0 ? from_u : from_l, nu = rho > 0 ? from_l : from_u;
    const bool lchg = tighter_lo(nl, W.l[k]), uchg = tighter_hi(nu, W.u[k]);
    if (!expressible(nl, nu, W.l[k], W.u[k], lchg, uchg)) return;

    auto &colj = live_col(W, j);
    prep_step &s = push(W, PK_DOUBLETON, PW_DOUBLETON);
    s.i = i;
    s.j = j;
    s.k = k;
    s.a = aj;
    s.w = ak;
    s.v = b;
    s.cost = W.c[j];
    s.flags = (lchg ? 1 : 0) | (uchg ? 2 : 0);
    store(W, s, colj, i);
    const int first_ent = s.first, nent = s.len;

    W.f += W.c[j] * beta;
    W.c[k] -= W.c[j] * rho;
    for (int p = first_ent; p < first_ent + nent; ++p) {
        const prep_ent e = W.ps->pool[p];
        const int h = e.idx;
        W.lo[h] -= e.val * beta;
        W.hi[h] -= e.val * beta;
        const double delta = -e.val * rho;
        auto &rh = live_row(W, h);
        auto it = std::find_if(rh.begin(), rh.end(), [&](const prep_ent &x) { return x.idx == k; });
        auto &ck = W.col[k];
        if (it == rh.end()) {
            rh.push_back({k, delta});
            ck.push_back({h, delta});
            ++W.rcnt[h];
            ++W.ccnt[k];
            ++W.nzlive;
        } else {
            const double old = it->val, now = old + delta;
            auto kt = std::find_if(ck.begin(), ck.end(), [&](const prep_ent &x) { return x.idx == h; });
            if (std::fabs(now) <= CANCEL * std::max(std::fabs(old), std::fabs(delta))) {
                // Cancelled: the entry goes from both lists.
                rh.erase(it);
                ck.erase(kt);
                --W.rcnt[h];
                --W.ccnt[k];
                --W.nzlive;
            } else {
                it->val = now;
                kt->val = now;
            }
        }
        touch_row(W, h);
    }
    ++pass_counts(W).why[PW_DOUBLETON];
    ++pass_counts(W).why[PW_SUBSTCOL];
    ++pass_counts(W).rows;
    ++pass_counts(W).cols;
    kill_row(W, i);
    kill_col(W, j);
    set_bounds(W, k, nl, nu, lchg, uchg, "doubleton equation " + label(W.lp, true, i));
}

void examine_row(work &W, int i) {
    if (!W.ralive[i]) return;
    const double lo = W.lo[i], hi = W.hi[i];
    const int cnt = W.rcnt[i];
    if (cnt == 0) {
        if (lo > tol(W.itol, lo) || hi < -tol(W.itol, hi)) {
            verdict(W, 1, "row " + label(W.lp, true, i) + " has no entries and its sides exclude 0");
            return;
        }
        drop_row(W, i, PW_EMPTYROW);
        return;
    }
    if (lo == -INF && hi == INF) {
        drop_row(W, i, PW_FREEROW);
        return;
    }
    if (cnt == 1) {
        singleton_row(W, i);
        return;
    }
    const activity A = row_activity(W, i);
    const double amin = A.min(), amax = A.max();
    if (amin > hi + tol(W.itol, hi) || amax < lo - tol(W.itol, lo)) {
        verdict(W, 1, "row " + label(W.lp, true, i) + " cannot reach its sides within the column bounds");
        return;
    }
    if (amin >= lo - tol(DECIDE, lo) && amax <= hi + tol(DECIDE, hi)) {
        drop_row(W, i, PW_REDUNDANT);
        return;
    }
    if (A.mininf == 0 && hi < INF && amin >= hi - tol(DECIDE, hi)) {
        forcing_row(W, i, +1);
        return;
    }
    if (A.maxinf == 0 && lo > -INF && amax <= lo + tol(DECIDE, lo)) {
        forcing_row(W, i, -1);
        return;
    }
    if (cnt == 2 && lo == hi && (W.opts & PO_DOUBLETON)) doubleton(W, i);
}

// Column without entries (and without Q entries off its diagonal): fixed where its own
// objective terms are least; unbounded when that lies at an infinite bound.
void empty_col(work &W, int j) {
    const double C = W.lp->max * W.c[j], D = W.lp->max * qdiag(W, j);
    const double l = W.l[j], u = W.u[j];
    double v;
    if (D > 0) {
        v = std::clamp(-C / D, l, u);
    } else if (D == 0) {
        v = C > 0 ? l : C < 0 ? u : std::clamp(0.0, l, u);
    } else {
        return;  // concave in x_j: left to the solver
    }
    if (std::isinf(v)) {
        verdict(W, 2, "column " + label(W.lp, false, j) + " has no entries and its objective decreases without bound");
        return;
    }
    fix_col(W, j, v, PW_EMPTYCOL);
}

// Column with one entry and no Q entries, free or with bounds its row implies: the row
// gives its value, its cost the row's dual; both go.
void column_singleton(work &W, int j) {
    const prep_ent e = live_col(W, j).front();
    const int i = e.idx;
    const double a = e.val;
    if (W.rcnt[i] < 2) return;  // a singleton row: the row sweep takes it
    const double lo = W.lo[i], hi = W.hi[i];
    const double y = W.lp->max * W.c[j] / a;
    // The side the row must meet: an equation's, else the one its dual's sign selects.
    double side;
    if (lo == hi || y > 0)
        side = lo;
    else if (y < 0)
        side = hi;
    else
        side = lo > -INF ? lo : hi;
    if (!std::isfinite(side)) return;
    const bool is_free = W.l[j] == -INF && W.u[j] == INF;
    const activity A = row_activity(W, i, j);
    if (!is_free) {
        if (std::fabs(a) < PIVOT * A.amax) return;
        // Bounds of x_j = (side - rest)/a over the bounds of the rest.
        const double rmin = A.min(), rmax = A.max();
        double il, iu;
        if (a > 0) {
            il = rmax == INF ? -INF : (side - rmax) / a;
            iu = rmin == -INF ? INF : (side - rmin) / a;
        } else {
            il = rmin == -INF ? -INF : (side - rmin) / a;
            iu = rmax == INF ? INF : (side - rmax) / a;
        }
        const bool lo_ok = W.l[j] == -INF || il >= W.l[j] - tol(DECIDE, W.l[j]);
        const bool hi_ok = W.u[j] == INF || iu <= W.u[j] + tol(DECIDE, W.u[j]);
        if (!lo_ok || !hi_ok) return;
    }
    auto list = live_row(W, i);
    prep_step &s = push(W, PK_COLSING, is_free ? PW_FREECOL : PW_IMPLFREE);
    s.i = i;
    s.j = j;
    s.a = a;
    s.v = side;
    s.cost = W.c[j];
    store(W, s, list, j);
    const double cj = W.c[j];
    if (cj != 0.0) {
        for (const prep_ent &x : list)
            if (x.idx != j) {
                W.c[x.idx] -= cj * x.val / a;
                touch_col(W, x.idx);
            }
        W.f += cj * side / a;
    }
    ++pass_counts(W).why[s.why];
    ++pass_counts(W).why[PW_SINGROW];
    ++pass_counts(W).rows;
    ++pass_counts(W).cols;
    kill_col(W, j);
    kill_row(W, i);
}

void examine_col(work &W, int j) {
    if (!W.calive[j]) return;
    double &l = W.l[j], &u = W.u[j];
    if (l > u) {
        if (l - u > tol(W.itol, std::max(std::fabs(l), std::fabs(u)))) {
            verdict(W, 1, "column " + label(W.lp, false, j) + " has a lower bound above its upper bound");
            return;
        }
        u = l;
    }
    if (l == u) {
        fix_col(W, j, l, PW_FIXEDCOL);
        return;
    }
    const int cnt = W.ccnt[j];
    if (cnt == 0 && !has_q(W, j, true)) {
        empty_col(W, j);
        return;
    }
    if (cnt == 1 && (W.opts & PO_COLSING) && !has_q(W, j, false)) column_singleton(W, j);
}

// Parallel rows: rows with the same columns and proportional values; the later one is
// merged into the first (its sides, scaled, tighten the first's).  Returns the number
// merged.
int duplicate_rows(work &W) {
    std::unordered_map<unsigned long long, std::vector<int>> groups;
    for (int i = 0; i < W.m; ++i) {
        if (!W.ralive[i] || W.rcnt[i] < 2 || (W.lo[i] == -INF && W.hi[i] == INF)) continue;
        auto &r = live_row(W, i);
        std::sort(r.begin(), r.end(), [](const prep_ent &x, const prep_ent &y) { return x.idx < y.idx; });
        unsigned long long h = 1469598103934665603ull;
        for (const prep_ent &e : r) h = (h ^ static_cast<unsigned long long>(e.idx)) * 1099511628211ull;
        groups[h].push_back(i);
    }
    int merged = 0;
    std::vector<std::pair<std::vector<double>, int>> norm;
    for (auto &[h, rows] : groups) {
        if (rows.size() < 2) continue;
        norm.clear();
        for (int i : rows) {
            const auto &r = W.row[i];
            std::vector<double> v;
            v.reserve(r.size() + 1);
            v.push_back(static_cast<double>(r.size()));
            for (const prep_ent &e : r) v.push_back(e.val / r.front().val);
            norm.emplace_back(std::move(v), i);
        }
        std::sort(norm.begin(), norm.end());
        std::size_t rep = 0;
        for (std::size_t t = 1; t < norm.size(); ++t) {
            const int i1 = norm[rep].second, i2 = norm[t].second;
            const auto &r1 = W.row[i1], &r2 = W.row[i2];
            bool same = r1.size() == r2.size();
            for (std::size_t p = 0; same && p < r1.size(); ++p)
                same = r1[p].idx == r2[p].idx &&
                       std::fabs(norm[rep].first[p + 1] - norm[t].first[p + 1]) <=
                           1e-12 * (1 + std::fabs(norm[rep].first[p + 1]));
            if (!same) {
                rep = t;
                continue;
            }
            // Row i2 is lambda times row i1: its sides for row i1's activity.
            const double lam = r2.front().val / r1.front().val;
            double l2, h2;
            if (lam > 0) {
                l2 = W.lo[i2] == -INF ? -INF : W.lo[i2] / lam;
                h2 = W.hi[i2] == INF ? INF : W.hi[i2] / lam;
            } else {
                l2 = W.hi[i2] == INF ? -INF : W.hi[i2] / lam;
                h2 = W.lo[i2] == -INF ? INF : W.lo[i2] / lam;
            }
            const bool lchg = tighter_lo(l2, W.lo[i1]), hchg = tighter_hi(h2, W.hi[i1]);
            prep_step &s = push(W, PK_DUPROW, PW_DUPLICATE);
            s.i = i1;
            s.k = i2;
            s.a = lam;
            s.flags = (lchg ? 1 : 0) | (hchg ? 2 : 0);
            if (lchg) W.lo[i1] = l2;
            if (hchg) W.hi[i1] = h2;
            ++pass_counts(W).why[PW_DUPLICATE];
            ++pass_counts(W).rows;
            kill_row(W, i2);
            touch_row(W, i1);
            ++merged;
            if (W.lo[i1] > W.hi[i1]) {
                if (W.lo[i1] - W.hi[i1] > tol(W.itol, W.lo[i1])) {
                    verdict(W, 1, "rows " + label(W.lp, true, i1) + " and " + label(W.lp, true, i2) +
                                      " are parallel with sides that exclude each other");
                    return merged;
                }
                if (lchg)
                    W.lo[i1] = W.hi[i1];
                else
                    W.hi[i1] = W.lo[i1];
            }
        }
    }
    return merged;
}

// Whether presolve can take the record's problem: default hooks, no SDP blocks, a sound
// matrix without repeated entries, numbers everywhere, ranges that are not negative.
bool takes(const LP *lp) {
    if (lp->nl_init != nl_init_mps || lp->nl_update != nl_update_dummy || lp->nl_update_fg != nl_update_mps)
        return false;
    if (lp->sdp || lp->sdpnum > 0) return false;
    const int m = lp->m, n = lp->n;
    if (m < 0 || n < 0 || !lp->kA || lp->kA[0] != 0) return false;
    for (int j = 0; j < n; ++j)
        if (lp->kA[j + 1] < lp->kA[j]) return false;
    const int nz = lp->kA[n];
    if (nz > 0 && (!lp->A || !lp->iA)) return false;
    std::vector<int> seen(static_cast<std::size_t>(m), -1);
    for (int j = 0; j < n; ++j)
        for (int p = lp->kA[j]; p < lp->kA[j + 1]; ++p) {
            const int i = lp->iA[p];
            if (i < 0 || i >= m || seen[i] == j || std::isnan(lp->A[p]) || std::isinf(lp->A[p])) return false;
            seen[i] = j;
        }
    for (int i = 0; i < m; ++i) {
        const double b = lp->b ? lp->b[i] : 0.0, r = lp->r ? lp->r[i] : 0.0;
        if (std::isnan(b) || std::isnan(r) || r < 0 || b == INF || (b == -INF && r != INF)) return false;
    }
    for (int j = 0; j < n; ++j) {
        const double c = lp->c ? lp->c[j] : 0.0, l = lp->l ? lp->l[j] : 0.0, u = lp->u ? lp->u[j] : INF;
        if (!std::isfinite(c) || std::isnan(l) || std::isnan(u) || l == INF || u == -INF) return false;
    }
    if (lp->kQ) {
        if (lp->kQ[0] != 0) return false;
        for (int j = 0; j < n; ++j)
            if (lp->kQ[j + 1] < lp->kQ[j]) return false;
        const int qnz = lp->kQ[n];
        if (qnz > 0 && (!lp->Q || !lp->iQ)) return false;
        // A symmetric Q without repeated entries: each column, sorted, equals the
        // same row of the transpose.
        std::vector<std::vector<prep_ent>> qcol(static_cast<std::size_t>(n)), qrow(static_cast<std::size_t>(n));
        for (int j = 0; j < n; ++j)
            for (int p = lp->kQ[j]; p < lp->kQ[j + 1]; ++p) {
                const int i = lp->iQ[p];
                if (i < 0 || i >= n || !std::isfinite(lp->Q[p])) return false;
                qcol[j].push_back({i, lp->Q[p]});
                qrow[i].push_back({j, lp->Q[p]});
            }
        auto by_index = [](const prep_ent &x, const prep_ent &y) { return x.idx < y.idx; };
        for (int j = 0; j < n; ++j) {
            auto &cj = qcol[j], &rj = qrow[j];
            if (cj.size() != rj.size()) return false;
            std::sort(cj.begin(), cj.end(), by_index);
            std::sort(rj.begin(), rj.end(), by_index);
            for (std::size_t t = 0; t < cj.size(); ++t)
                if (cj[t].idx != rj[t].idx || cj[t].val != rj[t].val || (t > 0 && cj[t].idx == cj[t - 1].idx))
                    return false;
        }
    }
    return true;
}

char *copy_text(const char *s, const char *name) {
    const std::size_t len = std::strlen(s) + 1;
    char *t = xmalloc<char>(name, "(int)(strlen(s1)+1)", static_cast<long long>(len));
    std::memcpy(t, s, len);
    return t;
}

// A label for row (column) k of the original problem in the reduced record: its own,
// or the default label of its original index.
char *label_copy(const LP *lp, bool isrow, int k) {
    char **lab = isrow ? lp->rowlab : lp->collab;
    if (lab && lab[k]) return copy_text(lab[k], isrow ? "rowlab[i]" : "collab[j]");
    char text[32];
    std::snprintf(text, sizeof text, isrow ? "R%-7d" : "C%-7d", k);
    return copy_text(text, isrow ? "rowlab[i]" : "collab[j]");
}

// The settings, names and hooks of a record (not its problem).
void copy_settings(const LP *lp, LP *red) {
    red->max = lp->max;
    red->inftol = lp->inftol;
    red->inftol2 = lp->inftol2;
    red->steplen = lp->steplen;
    red->mufactor = lp->mufactor;
    red->pred_corr = lp->pred_corr;
    red->sf_req = lp->sf_req;
    red->itnlim = lp->itnlim;
    red->timlim = lp->timlim;
    red->verbose = lp->verbose;
    red->epssol = lp->epssol;
    red->epsnum = lp->epsnum;
    red->epscdn = lp->epscdn;
    red->epsdiag = lp->epsdiag;
    red->stablty = lp->stablty;
    red->method = lp->method;
    red->dense = lp->dense;
    red->pdf = lp->pdf;
    red->bndpush = lp->bndpush;
    red->honor_bnds = lp->honor_bnds;
    red->honor_bnds_init = lp->honor_bnds_init;
    red->convex = lp->convex;
    red->quadratic = lp->quadratic;
    red->lincons = lp->lincons;
    red->sdp = lp->sdp;
    std::memcpy(red->name, lp->name, sizeof red->name);
    std::memcpy(red->obj, lp->obj, sizeof red->obj);
    std::memcpy(red->rhs, lp->rhs, sizeof red->rhs);
    std::memcpy(red->ranges, lp->ranges, sizeof red->ranges);
    std::memcpy(red->bounds, lp->bounds, sizeof red->bounds);
    red->st_rule = lp->st_rule;
    red->init = lp->init;
    red->nl_init = lp->nl_init;
    red->nl_update = lp->nl_update;
    red->nl_update_fg = lp->nl_update_fg;
    red->nl_update_h = lp->nl_update_h;
    red->nl_close = lp->nl_close;
    red->hook = lp->hook;
    red->objval = lp->objval;
    red->objgrad = lp->objgrad;
    red->hessian = lp->hessian;
    red->conval = lp->conval;
    red->congrad = lp->congrad;
    red->pert_primal = lp->pert_primal;
    red->pert_dual = lp->pert_dual;
    red->penalty = lp->penalty;
}

template <class T> T *copy_array(const T *src, long long len, const char *name, const char *expr) {
    if (!src) return nullptr;
    T *dst = xmalloc<T>(name, expr, len);
    for (long long k = 0; k < len; ++k) dst[k] = src[k];
    return dst;
}

// The problem as it is, for solvelp to take or refuse.
LP *copy_record(const LP *lp) {
    LP *red = openlp();
    copy_settings(lp, red);
    const int m = lp->m, n = lp->n;
    red->m = m;
    red->n = n;
    red->nz = lp->nz;
    red->f = lp->f;
    const bool sound = lp->kA && m >= 0 && n >= 0;
    const int nz = sound ? lp->kA[n] : 0;
    red->kA = copy_array(lp->kA, n + 1, "kA", "n+1");
    red->A = copy_array(lp->A, nz, "A", "nz");
    red->iA = copy_array(lp->iA, nz, "iA", "nz");
    red->b = copy_array(lp->b, m, "b", "m");
    red->r = copy_array(lp->r, m, "r", "m");
    red->c = copy_array(lp->c, n, "c", "n");
    red->l = copy_array(lp->l, n, "l", "n");
    red->u = copy_array(lp->u, n, "u", "n");
    red->varsgn = copy_array(lp->varsgn, n, "varsgn", "n");
    red->x = copy_array(lp->x, n, "x", "n");
    red->y = copy_array(lp->y, m, "y", "m");
    if (lp->kQ) {
        const int qnz = lp->kQ[n];
        red->qnz = qnz;
        red->kQ = copy_array(lp->kQ, n + 1, "kQ", "n+1");
        red->Q = copy_array(lp->Q, qnz, "Q", "qnz");
        red->iQ = copy_array(lp->iQ, qnz, "iQ", "qnz");
    }
    if (lp->rowlab) {
        red->rowlab = xmalloc<char *>("rowlab", "m", m);
        for (int i = 0; i < m; ++i) red->rowlab[i] = label_copy(lp, true, i);
    }
    if (lp->collab) {
        red->collab = xmalloc<char *>("collab", "n", n);
        for (int j = 0; j < n; ++j) red->collab[j] = label_copy(lp, false, j);
    }
    red->sdpnum = lp->sdpnum;
    red->sdpblock = copy_array(lp->sdpblock, lp->sdpnum, "sdpblock", "sdpnum");
    return red;
}

// The reduced record from what is alive.
LP *build_reduced(work &W) {
    const LP *lp = W.lp;
    prep *ps = W.ps;
    LP *red = openlp();
    copy_settings(lp, red);
    int m = 0, n = 0;
    for (int i = 0; i < W.m; ++i) ps->rowmap[i] = W.ralive[i] ? m++ : -1;
    for (int j = 0; j < W.n; ++j) ps->colmap[j] = W.calive[j] ? n++ : -1;
    red->m = m;
    red->n = n;
    red->f = W.f;
    long long nz = 0;
    for (int j = 0; j < W.n; ++j)
        if (W.calive[j]) nz += static_cast<long long>(live_col(W, j).size());
    red->nz = static_cast<int>(nz);
    red->A = xmalloc<double>("A", "nz", nz);
    red->iA = xmalloc<int>("iA", "nz", nz);
    red->kA = xmalloc<int>("kA", "n+1", n + 1);
    red->c = xmalloc<double>("c", "n", n);
    red->l = xmalloc<double>("l", "n", n);
    red->u = xmalloc<double>("u", "n", n);
    red->collab = xmalloc<char *>("collab", "n", n);
    if (lp->varsgn) red->varsgn = xmalloc<int>("varsgn", "n", n);
    if (lp->x) red->x = xmalloc<double>("x", "n", n);
    int p = 0;
    for (int j = 0; j < W.n; ++j) {
        const int jj = ps->colmap[j];
        if (jj < 0) continue;
        red->kA[jj] = p;
        auto &list = W.col[j];
        std::sort(list.begin(), list.end(), [](const prep_ent &x, const prep_ent &y) { return x.idx < y.idx; });
        for (const prep_ent &e : list) {
            red->A[p] = e.val;
            red->iA[p] = ps->rowmap[e.idx];
            ++p;
        }
        red->c[jj] = W.c[j];
        red->l[jj] = W.l[j];
        red->u[jj] = W.u[j];
        red->collab[jj] = label_copy(lp, false, j);
        if (red->varsgn) red->varsgn[jj] = lp->varsgn[j];
        if (red->x) red->x[jj] = lp->x[j];
    }
    red->kA[n] = p;
    red->b = xmalloc<double>("b", "m", m);
    red->r = xmalloc<double>("r", "m", m);
    red->rowlab = xmalloc<char *>("rowlab", "m", m);
    if (lp->y) red->y = xmalloc<double>("y", "m", m);
    for (int i = 0; i < W.m; ++i) {
        const int ii = ps->rowmap[i];
        if (ii < 0) continue;
        const double lo = W.lo[i], hi = W.hi[i];
        red->b[ii] = lo;
        red->r[ii] = hi == INF ? INF : std::max(0.0, hi - lo);
        red->rowlab[ii] = label_copy(lp, true, i);
        if (red->y) red->y[ii] = lp->y[i];
    }
    if (lp->kQ) {
        long long qnz = 0;
        for (int j = 0; j < W.n; ++j)
            if (W.calive[j])
                for (int q = lp->kQ[j]; q < lp->kQ[j + 1]; ++q) qnz += W.calive[lp->iQ[q]] ? 1 : 0;
        red->qnz = static_cast<int>(qnz);
        red->Q = xmalloc<double>("Q", "qnz", qnz);
        red->iQ = xmalloc<int>("iQ", "qnz", qnz);
        red->kQ = xmalloc<int>("kQ", "n+1", n + 1);
        int q = 0;
        for (int j = 0; j < W.n; ++j) {
            const int jj = ps->colmap[j];
            if (jj < 0) continue;
            red->kQ[jj] = q;
            for (int t = lp->kQ[j]; t < lp->kQ[j + 1]; ++t) {
                const int k = lp->iQ[t];
                if (!W.calive[k]) continue;
                red->Q[q] = lp->Q[t];
                red->iQ[q] = ps->colmap[k];
                ++q;
            }
        }
        red->kQ[n] = q;
    }
    return red;
}

void run_passes(work &W) {
    bool dup_done = false;
    for (;;) {
        if (W.rnext.empty() && W.cnext.empty()) {
            if (dup_done) break;
            dup_done = true;
            W.ps->passes.emplace_back();
            const long long before = W.nzlive;
            const int merged = duplicate_rows(W);
            W.ps->passes.back().nz = before - W.nzlive;
            if (W.stop) return;
            if (merged == 0) {
                W.ps->passes.pop_back();
                break;
            }
            continue;
        }
        W.ps->passes.emplace_back();
        const long long before = W.nzlive;
        std::vector<int> now;
        now.swap(W.rnext);
        std::sort(now.begin(), now.end());
        for (int i : now) {
            W.rdirty[i] = 0;
            examine_row(W, i);
            if (W.stop) return;
        }
        now.clear();
        now.swap(W.cnext);
        std::sort(now.begin(), now.end());
        for (int j : now) {
            W.cdirty[j] = 0;
            examine_col(W, j);
            if (W.stop) return;
        }
        W.ps->passes.back().nz = before - W.nzlive;
        const prep_pass &last = W.ps->passes.back();
        if (last.rows == 0 && last.cols == 0 && W.rnext.empty() && W.cnext.empty()) {
            // Nothing removed: the pass only looked.
            W.ps->passes.pop_back();
            if (dup_done) break;
        }
    }
}

} // namespace

prep *presolve(LP *lp, int opts) {
    const double start = cputimer();
    prep *ps = new prep;
    ps->opts = opts;
    const int m = lp->m, n = lp->n;
    ps->m = m;
    ps->n = n;
    // Bounds beyond +-1e8 are infinite, as solvelp makes them.
    for (int j = 0; j < n; ++j) {
        if (lp->l && lp->l[j] < -BIG) lp->l[j] = -INF;
        if (lp->u && lp->u[j] > BIG) lp->u[j] = INF;
    }
    if (!takes(lp)) {
        ps->skipped = true;
        ps->red = copy_record(lp);
        ps->nz = lp->kA && n >= 0 ? lp->kA[n] : 0;
        ps->rowmap.resize(static_cast<std::size_t>(std::max(m, 0)));
        ps->colmap.resize(static_cast<std::size_t>(std::max(n, 0)));
        for (int i = 0; i < m; ++i) ps->rowmap[i] = i;
        for (int j = 0; j < n; ++j) ps->colmap[j] = j;
        ps->seconds = cputimer() - start;
        return ps;
    }
    work W;
    W.lp = lp;
    W.ps = ps;
    W.m = m;
    W.n = n;
    W.opts = opts;
    W.itol = std::max(lp->inftol, 1e-9);
    W.col.resize(n);
    W.row.resize(m);
    W.ccnt.assign(n, 0);
    W.rcnt.assign(m, 0);
    W.calive.assign(n, 1);
    W.ralive.assign(m, 1);
    W.lo.resize(m);
    W.hi.resize(m);
    W.l.resize(n);
    W.u.resize(n);
    W.c.resize(n);
    W.f = lp->f;
    for (int i = 0; i < m; ++i) {
        const double b = lp->b ? lp->b[i] : 0.0, r = lp->r ? lp->r[i] : 0.0;
        W.lo[i] = b;
        W.hi[i] = r == INF ? INF : b + r;
    }
    for (int j = 0; j < n; ++j) {
        W.c[j] = lp->c ? lp->c[j] : 0.0;
        W.l[j] = lp->l ? lp->l[j] : 0.0;
        W.u[j] = lp->u ? lp->u[j] : INF;
        for (int p = lp->kA[j]; p < lp->kA[j + 1]; ++p) {
            if (lp->A[p] == 0.0) continue;  // a stored zero is no entry
            const int i = lp->iA[p];
            W.col[j].push_back({i, lp->A[p]});
            W.row[i].push_back({j, lp->A[p]});
            ++W.ccnt[j];
            ++W.rcnt[i];
            ++W.nzlive;
        }
    }
    ps->nz = lp->kA[n];
    if (lp->kQ && lp->kQ[n] > 0) {
        W.kQ = lp->kQ;
        W.iQ = lp->iQ;
        W.Q = lp->Q;
    }
    W.rdirty.assign(m, 0);
    W.cdirty.assign(n, 0);
    for (int i = 0; i < m; ++i) touch_row(W, i);
    for (int j = 0; j < n; ++j) touch_col(W, j);
    ps->rowmap.assign(m, -1);
    ps->colmap.assign(n, -1);

    run_passes(W);
    if (!W.stop) ps->red = build_reduced(W);
    ps->seconds = cputimer() - start;
    return ps;
}

void freeprep(prep *ps) {
    if (!ps) return;
    if (ps->red) {
        // The record's iterate p..g belongs to it as well; closelp releases everything.
        closelp(ps->red);
        ps->red = nullptr;
    }
    delete ps;
}

} // namespace orva
