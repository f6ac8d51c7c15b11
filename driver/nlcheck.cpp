// Checks of an .nl file before the ASL reads it (see nlcheck.h).
#include "driver/nlcheck.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orva {

namespace {

void say(char *why, std::size_t len, const char *fmt, ...) {
    if (!why || len == 0) return;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(why, len, fmt, ap);
    va_end(ap);
}

// Lines of the file, any length.
struct reader {
    std::FILE *f;
    char *buf = nullptr;
    std::size_t cap = 0;
    long long line = 0;
    bool pending = false;  // the current line is still to be handled

    explicit reader(std::FILE *file) : f(file) {}
    ~reader() { std::free(buf); }
    bool next() {
        if (pending) {
            pending = false;
            return true;
        }
        if (getline(&buf, &cap, f) < 0) return false;
        ++line;
        return true;
    }
    void push_back() { pending = true; }
};

// Reads an integer at p (after blanks); false when there is none.
bool get_int(const char *&p, long long &v) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!(std::isdigit(static_cast<unsigned char>(*p)) ||
          ((*p == '-' || *p == '+') && std::isdigit(static_cast<unsigned char>(p[1])))))
        return false;
    char *end = nullptr;
    v = std::strtoll(p, &end, 10);
    p = end;
    return true;
}

bool in_range(long long v, long long lo, long long hi) { return v >= lo && v < hi; }

struct checker {
    const nl_counts &c;
    reader &in;
    char *why;
    std::size_t len;
    long long ncom = 0;           // defined variables
    std::vector<char> con_seen, obj_seen, def_seen, jac_seen, grad_seen;
    std::vector<long long> col_entries;  // Jacobian entries per variable, from the J segments
    std::vector<long long> kcum;         // cumulative column counts of the k segment
    std::vector<long long> last_seg;     // per variable: the last gradient segment naming it
    bool have_k = false;

    checker(const nl_counts &counts, reader &r, char *w, std::size_t l) : c(counts), in(r), why(w), len(l) {}

    bool bad(const char *fmt, long long a, long long b = 0) {
        say(why, len, fmt, a, b);
        return false;
    }

    // The header line of a segment: its letter, then `want` integers.
    bool header(long long *v, int want) {
        const char *p = in.buf + 1;
        for (int i = 0; i < want; ++i)
            if (!get_int(p, v[i])) {
                say(why, len, "segment %c: a count or index is missing", in.buf[0]);
                return false;
            }
        return true;
    }

    // `count` lines "index value" with index in [0, limit).
    bool pairs(long long count, long long limit, const char *what) {
        for (long long k = 0; k < count; ++k) {
            if (!in.next()) return bad("file ends inside a segment (%lld of %lld lines)", k, count);
            const char *p = in.buf;
            long long i;
            if (!get_int(p, i)) return bad("expected an index, %lld of %lld", k + 1, count);
            if (!in_range(i, 0, limit)) {
                say(why, len, "%s index %lld out of range (%lld)", what, i, limit);
                return false;
            }
        }
        return true;
    }

    // An expression: its nodes, one per line, up to the next segment.  Variable
    // references must name a variable or a defined variable given before.
    bool expression() {
        bool any = false;
        while (in.next()) {
            const char t = in.buf[0];
            const char *p = in.buf + 1;
            long long v;
            if (t == 'v') {
                if (!get_int(p, v)) return bad("variable reference without an index", 0);
                if (!in_range(v, 0, c.vars + ncom)) return bad("variable %lld out of range (%lld)", v, c.vars + ncom);
                if (v >= c.vars && !def_seen[v - c.vars])
                    return bad("defined variable %lld used before its definition", v);
            } else if (t == 'f') {
                if (!get_int(p, v) || !in_range(v, 0, c.n_funcs)) return bad("function index out of range (%lld)", c.n_funcs);
            } else if (t == 'h') {
                // A string of the given length after the colon, possibly over several lines.
                if (!get_int(p, v) || v < 0 || *p != ':') return bad("bad string node", 0);
                long long left = v - static_cast<long long>(std::strlen(p + 1));
                while (left > 0) {
                    if (!in.next()) return bad("file ends inside a string", 0);
                    left -= static_cast<long long>(std::strlen(in.buf));
                }
            } else if (t == 'o' || t == 'n' || t == 'l' || t == 's' || t == '-' ||
                       std::isdigit(static_cast<unsigned char>(t))) {
                // Operators, constants and operand counts: the ASL checks their form.
            } else {
                in.push_back();
                break;
            }
            any = true;
        }
        return any || bad("segment without its expression", 0);
    }

    bool run() {
        const long long N = c.vars, M = c.cons;
        ncom = c.com_b + c.com_c + c.com_o + c.com_c1 + c.com_o1;
        con_seen.assign(static_cast<std::size_t>(M), 0);
        obj_seen.assign(static_cast<std::size_t>(c.objs), 0);
        def_seen.assign(static_cast<std::size_t>(ncom), 0);
        jac_seen.assign(static_cast<std::size_t>(M), 0);
        grad_seen.assign(static_cast<std::size_t>(c.objs), 0);
        col_entries.assign(static_cast<std::size_t>(N), 0);
        last_seg.assign(static_cast<std::size_t>(N), -1);
        long long segno = 0;
        long long gentries = 0;
        for (int h = 0; h < 10; ++h)
            if (!in.next()) return bad("file ends inside the header", 0);
        while (in.next()) {
            long long v[3] = {0, 0, 0};
            switch (in.buf[0]) {
            case 'C':
            case 'O':
            case 'L': {
                const char t = in.buf[0];
                if (!header(v, 1)) return false;
                const long long lim = t == 'C' ? M : t == 'O' ? c.objs : c.lcons;
                if (!in_range(v[0], 0, lim)) {
                    say(why, len, "segment %c: index %lld out of range (%lld)", t, v[0], lim);
                    return false;
                }
                if (t != 'L') {
                    auto &seen = t == 'C' ? con_seen : obj_seen;
                    if (seen[v[0]]) return bad("segment given twice for index %lld", v[0]);
                    seen[v[0]] = 1;
                }
                if (!expression()) return false;
                break;
            }
            case 'V': {
                if (!header(v, 3)) return false;
                if (!in_range(v[0], N, N + ncom)) return bad("defined variable %lld out of range", v[0]);
                if (def_seen[v[0] - N]) return bad("defined variable %lld given twice", v[0]);
                if (!in_range(v[1], 0, N + 1)) return bad("defined variable with %lld linear terms", v[1]);
                if (!pairs(v[1], N, "variable")) return false;
                if (!expression()) return false;
                def_seen[v[0] - N] = 1;
                break;
            }
            case 'F':
                if (!header(v, 1)) return false;
                if (!in_range(v[0], 0, c.n_funcs)) return bad("function %lld out of range (%lld)", v[0], c.n_funcs);
                break;
            case 'S': {
                if (!header(v, 2)) return false;
                const long long kind = v[0] & 3;
                const long long lim = kind == 0 ? N : kind == 1 ? M : kind == 2 ? c.objs : 1;
                if (!in_range(v[1], 0, lim + 1)) return bad("suffix with %lld values (at most %lld)", v[1], lim);
                if (!pairs(v[1], lim, "suffix")) return false;
                break;
            }
            case 'd':
            case 'x': {
                const bool primal = in.buf[0] == 'x';
                if (!header(v, 1)) return false;
                const long long lim = primal ? N : M;
                if (!in_range(v[0], 0, lim + 1)) return bad("%lld initial values for %lld entries", v[0], lim);
                if (!pairs(v[0], lim, primal ? "variable" : "constraint")) return false;
                break;
            }
            case 'r':
            case 'b': {
                const bool rows = in.buf[0] == 'r';
                const long long count = rows ? M : N;
                for (long long k = 0; k < count; ++k) {
                    if (!in.next()) return bad("file ends inside a bounds segment (%lld of %lld)", k, count);
                    const char *p = in.buf;
                    long long t;
                    if (!get_int(p, t) || !in_range(t, 0, rows ? 6 : 5)) return bad("bad bound type in entry %lld", k);
                }
                break;
            }
            case 'k': {
                if (!header(v, 1)) return false;
                if (have_k) return bad("second k segment", 0);
                if (v[0] != (N > 0 ? N - 1 : 0)) return bad("k segment of %lld entries for %lld variables", v[0], N);
                have_k = true;
                long long prev = 0;
                for (long long k = 0; k < v[0]; ++k) {
                    if (!in.next()) return bad("file ends inside the k segment", 0);
                    const char *p = in.buf;
                    long long s;
                    if (!get_int(p, s) || s < prev || s > c.jac_nz) return bad("column count %lld out of order", k);
                    kcum.push_back(s);
                    prev = s;
                }
                break;
            }
            case 'J':
            case 'G': {
                const bool jac = in.buf[0] == 'J';
                if (!header(v, 2)) return false;
                const long long lim = jac ? M : c.objs;
                if (!in_range(v[0], 0, lim)) return bad("segment index %lld out of range (%lld)", v[0], lim);
                auto &seen = jac ? jac_seen : grad_seen;
                if (seen[v[0]]) return bad("second gradient segment for index %lld", v[0]);
                seen[v[0]] = 1;
                if (!in_range(v[1], 1, N + 1)) return bad("segment of %lld entries for %lld variables", v[1], N);
                for (long long k = 0; k < v[1]; ++k) {
                    if (!in.next()) return bad("file ends inside a gradient segment", 0);
                    const char *p = in.buf;
                    long long j;
                    if (!get_int(p, j) || !in_range(j, 0, N)) return bad("variable index out of range (%lld)", N);
                    if (last_seg[j] == segno) return bad("variable %lld twice in one segment", j);
                    last_seg[j] = segno;
                    if (jac) ++col_entries[j];
                }
                ++segno;
                if (!jac) gentries += v[1];
                break;
            }
            default:
                return bad("unknown segment", 0);
            }
        }
        for (long long i = 0; i < M; ++i)
            if (!con_seen[i]) return bad("no segment for constraint %lld", i);
        for (long long i = 0; i < c.objs; ++i)
            if (!obj_seen[i]) return bad("no segment for objective %lld", i);
        for (long long d = 0; d < ncom; ++d)
            if (!def_seen[d]) return bad("no segment for defined variable %lld", N + d);
        // The Jacobian entries of each variable as the k segment counts them.
        if (c.jac_nz > 0 && !have_k) return bad("no k segment for %lld Jacobian entries", c.jac_nz);
        long long total = 0;
        for (long long j = 0; j < N; ++j) {
            if (have_k) {
                const long long lo = j == 0 ? 0 : kcum[j - 1];
                const long long hi = j + 1 < N ? kcum[j] : c.jac_nz;
                if (col_entries[j] != hi - lo)
                    return bad("variable %lld has %lld Jacobian entries, the k segment says otherwise", j,
                               col_entries[j]);
            }
            total += col_entries[j];
        }
        if (total != c.jac_nz) return bad("%lld Jacobian entries, the header says %lld", total, c.jac_nz);
        if (gentries > c.grad_nz) return bad("%lld gradient entries, the header says %lld", gentries, c.grad_nz);
        return true;
    }
};

} // namespace

bool nl_header_ok(const nl_counts &c, long long bytes, char *why, std::size_t len) {
    const long long all[] = {c.vars, c.cons, c.objs, c.lcons, c.nl_cons,  c.nl_objs,  c.nlv_c, c.nlv_o,
                             c.nlv_b,  c.net_vars,   c.n_funcs, c.bin_vars,    c.int_vars,  c.nlv_b_int, c.nlv_c_int, c.nlv_o_int,
                             c.jac_nz,   c.grad_nz,   c.com_b,  c.com_c,   c.com_o, c.com_c1, c.com_o1};
    for (const long long v : all)
        if (v < 0) return say(why, len, "a negative count"), false;
    // Every variable, constraint, objective, defined variable and entry takes some bytes
    // of the file: larger counts come from a damaged header, not from a model.
    for (const long long v : all)
        if (v > bytes) return say(why, len, "a count of %lld in a file of %lld bytes", v, bytes), false;
    if (c.nl_cons > c.cons) return say(why, len, "%lld nonlinear constraints of %lld", c.nl_cons, c.cons), false;
    if (c.nl_objs > c.objs) return say(why, len, "%lld nonlinear objectives of %lld", c.nl_objs, c.objs), false;
    if (c.nlv_c > c.vars || c.nlv_o > c.vars || c.nlv_b > c.nlv_c || c.nlv_b > c.nlv_o ||
        std::max(c.nlv_c, c.nlv_o) > c.vars)
        return say(why, len, "nonlinear variable counts (%lld %lld %lld) do not fit %lld variables", c.nlv_c,
                   c.nlv_o, c.nlv_b, c.vars),
               false;
    if (c.nlv_b_int > c.nlv_b || c.nlv_c_int > c.nlv_c || c.nlv_o_int > c.nlv_o ||
        c.bin_vars + c.int_vars + c.nlv_b_int + c.nlv_c_int + c.nlv_o_int + c.net_vars > c.vars)
        return say(why, len, "discrete variable counts do not fit %lld variables", c.vars), false;
    if (c.jac_nz > c.vars * c.cons) return say(why, len, "%lld Jacobian entries", c.jac_nz), false;
    if (c.grad_nz > c.vars * c.objs) return say(why, len, "%lld gradient entries", c.grad_nz), false;
    return true;
}

long long nl_segments_check(std::FILE *f, const nl_counts &c, char *why, std::size_t len) {
    reader in(f);
    checker ck(c, in, why, len);
    if (ck.run()) return 0;
    return in.line > 0 ? in.line : 1;
}

} // namespace orva
