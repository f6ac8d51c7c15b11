// Checks of an .nl file before the ASL reads it (see nlcheck.h).
#include "driver/nlcheck.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdint>
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

// Lines of the file, any length.  A buffered reader reads ahead of the line it hands out
// (the file's position is then past it); an unbuffered one leaves the file just after it.
struct reader {
    std::FILE *f;
    char *buf = nullptr;
    std::size_t cap = 0;
    long long line = 0;
    bool pending = false;  // the current line is still to be handled
    std::vector<char> ahead;  // read ahead (buffered only): [pos, end) not yet handed out
    std::size_t pos = 0, end = 0;

    reader(std::FILE *file, bool buffered) : f(file), ahead(buffered ? 1 << 16 : 0) {}
    ~reader() { std::free(buf); }
    reader(const reader &) = delete;
    reader &operator=(const reader &) = delete;
    bool next() {
        if (pending) {
            pending = false;
            return true;
        }
        if (ahead.empty()) {
            if (getline(&buf, &cap, f) < 0) return false;
        } else if (!next_buffered()) {
            return false;
        }
        ++line;
        return true;
    }
    void push_back() { pending = true; }

  private:
    // The next line into buf, with its newline (none at the end of the file) and a NUL.
    bool next_buffered() {
        std::size_t n = 0;
        for (;;) {
            if (pos == end) {
                pos = 0;
                end = std::fread(ahead.data(), 1, ahead.size(), f);
                if (end == 0) break;
            }
            const char *from = ahead.data() + pos;
            const void *nl = std::memchr(from, '\n', end - pos);
            const std::size_t take = nl ? static_cast<std::size_t>(static_cast<const char *>(nl) - from) + 1 : end - pos;
            if (n + take + 1 > cap) {
                const std::size_t want = std::max(2 * cap, n + take + 1);
                char *grown = static_cast<char *>(std::realloc(buf, want));
                if (!grown) return false;
                buf = grown;
                cap = want;
            }
            std::memcpy(buf + n, from, take);
            n += take;
            pos += take;
            if (nl) break;
        }
        if (n == 0) return false;
        buf[n] = '\0';
        return true;
    }
};

// Reads an integer at p (after blanks); false when there is none.  A number beyond the
// range of long long reads as its nearest end.
bool get_int(const char *&p, long long &v) {
    while (*p == ' ' || *p == '\t') ++p;
    const bool neg = *p == '-';
    const char *q = p + (neg || *p == '+' ? 1 : 0);
    if (!std::isdigit(static_cast<unsigned char>(*q))) return false;
    unsigned long long u = 0;
    const unsigned long long cap = neg ? 1ULL + static_cast<unsigned long long>(LLONG_MAX) : LLONG_MAX;
    for (; std::isdigit(static_cast<unsigned char>(*q)); ++q) {
        const unsigned d = static_cast<unsigned>(*q - '0');
        u = u > (cap - d) / 10 ? cap : 10 * u + d;
    }
    v = neg ? (u == cap ? LLONG_MIN : -static_cast<long long>(u)) : static_cast<long long>(u);
    p = q;
    return true;
}

bool in_range(long long v, long long lo, long long hi) { return v >= lo && v < hi; }

// How reading the ten header lines ended.
enum class header_end { ok, short_file, bad_number };

// A header line after the first: its numbers (before a comment) are counts that the
// reader takes as ints, so each must be a plain non-negative number no larger than the
// largest int (a larger one would wrap around into another count).
bool header_numbers(const char *p) {
    for (;;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == '\0' || *p == '\n' || *p == '\r' || *p == '#') return true;
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        long long v = 0;
        for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
            v = 10 * v + (*p - '0');
            if (v > INT_MAX) return false;
        }
    }
}

// Operators that the ASL's reader of this kind takes but cannot evaluate: it calls through
// a table entry that holds the operator's code itself (div, precision, round, trunc, and
// o78), so a model using them would end in a crash.
bool unsupported_op(long long op) { return (op >= 55 && op <= 58) || op == 78; }

// Outcome of walking one expression.
enum class walk { ok, bad, unknown };

int operands(long long op);

// The degree of an expression (0 constant, 1 linear, 2 quadratic, 3 anything else), taken
// node by node in the file's prefix order, without recursion.  Products add degrees,
// sums take the largest, a division keeps its numerator's over a constant, a square
// doubles (the reader turns a power with the number 2 as exponent into one), and every
// other operator or function gives 3.  What the walk cannot follow (a form the reader may
// rewrite, a layout it does not know) makes the degree unknown.
struct degree_walk {
    struct frame {
        long long op;
        long long left;  // operands still to come; -1: their count comes first
        long long seen;  // operands taken
        int acc;         // the degree so far
        int first;       // the first operand's degree
        bool first_num;  // the first operand is a number
    };
    std::vector<frame> st;
    bool on = false, lost = false;
    int result = -1;

    void begin(bool track) {
        on = track;
        lost = false;
        result = -1;
        st.clear();
    }
    void lose() { lost = true; }
    bool active() const { return on && !lost; }
    // Whether the next operand's value counts: the exponent of a power.
    bool value_wanted() const { return active() && !st.empty() && st.back().op == 5 && st.back().seen == 1; }
    // The degree of the expression walked, or -1.
    int finish() const { return on && !lost && st.empty() ? result : -1; }

    void push(long long op, long long left, int acc) {
        st.push_back(frame{op, left, 0, acc, 0, false});
        if (left == 0) lose();
    }
    void op(long long code) {
        if (!active()) return;
        const int k = operands(code);
        // The power codes the reader makes itself, and operators of unknown layout.
        if ((code >= 74 && code <= 78) || k == 0) return lose();
        const bool plain = code == 0 || code == 1 || code == 2 || code == 3 || code == 5 || code == 16 || code == 54;
        push(code, k, plain ? 0 : 3);
    }
    void call(long long args) {
        if (!active()) return;
        if (args < 0) return lose();
        if (args == 0) return operand(3);
        push(-1, args, 3);
    }
    void count(long long k) {
        if (!active()) return;
        if (st.empty() || st.back().left != -1 || k <= 0) return lose();
        st.back().left = k;
    }
    // An operand of degree k; num: a number of value v.
    void operand(int k, bool num = false, double v = 0.0) {
        while (active()) {
            if (st.empty()) {
                if (result >= 0) return lose();
                result = k;
                return;
            }
            frame &f = st.back();
            if (f.left < 0) return lose();
            switch (f.op) {
            case 0: case 1: case 54: f.acc = std::max(f.acc, k); break;
            case 2: f.acc = std::min(3, f.acc + k); break;
            case 16: f.acc = k; break;
            case 3:
                if (f.seen == 0) f.first = f.acc = k;
                else if (f.first <= 2 && k > 0) f.acc = 3;
                break;
            case 5:
                if (f.seen == 0) {
                    f.first = k;
                    f.first_num = num;
                } else if (num && !f.first_num) {
                    f.acc = v == 2.0 && f.first <= 1 ? 2 * f.first : 3;
                } else if (num || k == 0) {
                    return lose();  // constant operands the reader may fold first
                } else {
                    f.acc = 3;
                }
                break;
            default: break;
            }
            ++f.seen;
            if (--f.left > 0) return;
            k = f.acc;
            num = false;
            st.pop_back();
        }
    }
};

// The text form: a segment is a line that starts with its letter; its items are lines;
// an expression is a run of node lines up to the next segment.
struct text_source {
    reader in;
    const char *rest = nullptr;  // the segment line after its letter

    explicit text_source(std::FILE *f) : in(f, true) {}
    header_end skip_header() {
        for (int h = 0; h < 10; ++h) {
            if (!in.next()) return header_end::short_file;
            if (h > 0 && !header_numbers(in.buf)) return header_end::bad_number;
        }
        return header_end::ok;
    }
    bool segment(char &t) {
        if (!in.next()) return false;
        t = in.buf[0];
        rest = in.buf + 1;
        return true;
    }
    bool ints(long long *v, int n) {
        for (int i = 0; i < n; ++i)
            if (!get_int(rest, v[i])) return false;
        return true;
    }
    // The leading integer of the next line (an index, a bound type, a column count).
    bool item(long long &v) {
        if (!in.next()) return false;
        const char *p = in.buf;
        return get_int(p, v);
    }
    bool pair_index(long long &v, int = 8) { return item(v); }
    bool name() { return true; }  // the rest of the segment line
    bool bound_type(long long &v) { return item(v); }
    bool count(long long &v) { return item(v); }
    template <class Ref>
    walk expression(Ref &&ref) {
        bool any = false;
        while (in.next()) {
            const char t = in.buf[0];
            const char *p = in.buf + 1;
            long long v;
            if (t == 'v') {
                if (!get_int(p, v) || !ref(v)) return walk::bad;
            } else if (t == 'f') {
                if (!get_int(p, v) || !ref.function(v)) return walk::bad;
                long long args;
                ref.call(get_int(p, args) ? args : -1);
            } else if (t == 'h') {
                // A string of the given length after the colon, possibly over several lines.
                if (!get_int(p, v) || v < 0 || *p != ':') return walk::bad;
                long long left = v - static_cast<long long>(std::strlen(p + 1));
                while (left > 0) {
                    if (!in.next()) return walk::bad;
                    left -= static_cast<long long>(std::strlen(in.buf));
                }
                ref.operand(3);
            } else if (t == 'o') {
                if (!get_int(p, v)) {
                    ref.unknown();
                } else if (!ref.op(v)) {
                    return walk::bad;
                }
            } else if (t == 'n' || t == 'l' || t == 's' || t == '-' ||
                       std::isdigit(static_cast<unsigned char>(t))) {
                // Constants and operand counts: the ASL checks their form; they are read
                // here only for the degree of an expression.
                if (ref.degree_wanted()) number_or_count(t, p, ref);
            } else {
                in.push_back();
                break;
            }
            any = true;
        }
        return any ? walk::ok : walk::bad;
    }
    bool known(char) const { return true; }
    long long where() const { return in.line; }

    template <class Ref>
    void number_or_count(char t, const char *p, Ref &ref) {
        long long v;
        if (t == 'n') {
            // Only an exponent's value matters (and the ASL reads the number itself).
            if (!ref.value_wanted()) return ref.number(0.0);
            char *end = nullptr;
            const double x = std::strtod(p, &end);
            if (end != p) ref.number(x); else ref.unknown();
        } else if (t == 'l' || t == 's') {
            if (get_int(p, v)) ref.number(static_cast<double>(v)); else ref.unknown();
        } else {
            p = in.buf;
            if (get_int(p, v)) ref.count(v); else ref.unknown();
        }
    }
};

// Operand counts of the operators as the ASL's reader takes them: -1 for those followed by
// their count, 0 for the others (piecewise-linear terms, function calls and codes without
// an operator), which end the check of a binary file.
int operands(long long op) {
    switch (op) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6:  // + - * / rem ^ less
    case 20: case 21: case 22: case 23: case 24: case 28: case 29: case 30:  // or and < <= = >= > !=
    case 48:                                                  // atan2
    case 62: case 63: case 66: case 67: case 68: case 69:     // atleast atmost exactly and negations
    case 73:                                                  // iff
        return 2;
    case 13: case 14: case 15: case 16: case 34: case 76: case 77:  // floor ceil abs neg not, powers
        return 1;
    case 35: case 65: case 72:  // if-then-else (numeric, symbolic), implies-else
        return 3;
    case 11: case 12: case 54: case 59: case 60: case 61: case 70: case 71: case 74: case 75:
        return -1;              // min max sum count numberof(s) and or alldiff somesame
    default:
        return op >= 37 && op <= 53 ? 1 : 0;  // the elementary functions (atan2 above)
    }
}

// The binary form: after the text header, a segment is its letter byte followed by 32-bit
// integers (in the byte order the header states, swapped when it is not this machine's;
// and, for functions and suffixes, a name given by its length and bytes), items
// are binary records, and an expression is a prefix tree of typed nodes.  A node this
// check does not know (strings, function calls, piecewise-linear terms) ends the check
// with the file accepted: the ASL reads the rest.
struct binary_source {
    reader in;
    long long off = 0;
    // The header's arith field: numbers in this machine's byte order (or unstated), or in
    // the other IEEE one, which the reader swaps (and so does this check); any other value
    // ends the check.
    bool readable = false, swapped = false;

    explicit binary_source(std::FILE *f) : in(f, false) {}
    header_end skip_header() {
        for (int h = 0; h < 10; ++h) {
            if (!in.next()) return header_end::short_file;
            if (h > 0 && !header_numbers(in.buf)) return header_end::bad_number;
            if (h == 5) {  // "nwv nfunc arith flags": arith 1 little-endian, 2 big-endian IEEE, 0 unstated
                const char *p = in.buf;
                long long a = 0, b = 0, arith = 0;
                const std::uint16_t one = 1;
                unsigned char first;
                std::memcpy(&first, &one, 1);
                const long long mine = first ? 1 : 2;
                if (get_int(p, a) && get_int(p, b) && get_int(p, arith)) {
                    readable = arith == 0 || arith == 1 || arith == 2;
                    swapped = arith == 3 - mine;
                }
            }
        }
        off = std::ftell(in.f);
        return off >= 0 ? header_end::ok : header_end::short_file;
    }
    // Segments this check reads: none when the byte order is unknown.
    bool known(char) const { return readable; }
    bool raw(void *p, std::size_t n) {
        if (std::fread(p, 1, n, in.f) != n) return false;
        off += static_cast<long long>(n);
        return true;
    }
    bool i32(long long &v) {
        unsigned char b[4];
        if (!raw(b, sizeof b)) return false;
        if (swapped) std::reverse(b, b + 4);
        std::int32_t x;
        std::memcpy(&x, b, sizeof x);
        v = x;
        return true;
    }
    bool skip(std::size_t n) {
        unsigned char b[16];
        return n <= sizeof b && raw(b, n);
    }
    bool segment(char &t) {
        const int ch = std::fgetc(in.f);
        if (ch == EOF) return false;
        ++off;
        t = static_cast<char>(ch);
        return true;
    }
    bool ints(long long *v, int n) {
        for (int i = 0; i < n; ++i)
            if (!i32(v[i])) return false;
        return true;
    }
    // An index and its value: a double, or an integer (value_bytes 4: an integer suffix).
    bool pair_index(long long &v, int value_bytes = 8) { return i32(v) && skip(value_bytes); }
    // The name of a function or suffix: its length (1 to 126, what the ASL's reader takes),
    // then its bytes.
    bool name() {
        long long n;
        if (!i32(n) || n < 1 || n > 126) return false;
        char b[126];
        return raw(b, static_cast<std::size_t>(n));
    }
    bool count(long long &v) { return i32(v); }
    bool bound_type(long long &v) {
        const int ch = std::fgetc(in.f);
        if (ch == EOF) return false;
        ++off;
        v = ch - '0';
        switch (v) {
        case 0: return skip(16);
        case 1: case 2: case 4: return skip(8);
        case 3: return true;
        case 5: return skip(8);
        default: return true;  // refused by the caller
        }
    }
    template <class Ref>
    walk expression(Ref &&ref) {
        long long pending = 1;  // subtrees still to read (no recursion: depth is unbounded)
        while (pending > 0) {
            const int ch = std::fgetc(in.f);
            if (ch == EOF) return walk::bad;
            ++off;
            --pending;
            long long v;
            switch (ch) {
            case 'n': {
                unsigned char b[8];
                if (!raw(b, sizeof b)) return walk::bad;
                if (swapped) std::reverse(b, b + 8);
                double x;
                std::memcpy(&x, b, sizeof x);
                ref.number(x);
                break;
            }
            case 's': {
                unsigned char b[2];
                if (!raw(b, sizeof b)) return walk::bad;
                if (swapped) std::reverse(b, b + 2);
                std::int16_t x;
                std::memcpy(&x, b, sizeof x);
                ref.number(x);
                break;
            }
            case 'v':
                if (!i32(v) || !ref(v)) return walk::bad;
                break;
            case 'o': {
                if (!i32(v) || v < 0 || v > 1000) return walk::bad;  // no operator has such a code
                if (!ref.op(v)) return walk::bad;
                const int k = operands(v);
                if (k == 0) return walk::unknown;
                if (k > 0) {
                    pending += k;
                } else {
                    long long cnt;
                    if (!i32(cnt) || cnt < 0) return walk::bad;
                    ref.count(cnt);
                    pending += cnt;
                }
                break;
            }
            case 'f':
                // A function call: its layout is left to the ASL, but a problem without
                // imported functions has none to call.
                if (ref.no_functions()) return walk::bad;
                return walk::unknown;
            default:
                return walk::unknown;
            }
        }
        return walk::ok;
    }
    long long where() const { return off; }
};

template <class Source>
struct checker {
    const nl_counts &c;
    Source &in;
    char *why;
    std::size_t len;
    long long ncom = 0;           // defined variables
    std::vector<char> con_seen, obj_seen, def_seen, jac_seen, grad_seen;
    std::vector<long long> col_entries;  // Jacobian entries per variable, from the J segments
    std::vector<long long> kcum;         // cumulative column counts of the k segment
    std::vector<long long> last_seg;     // per variable: the last gradient segment naming it
    // Per defined variable: the first variable its expression (with the defined variables
    // it uses) makes nonlinear outside what the header allows in constraints / objectives,
    // or -1.
    std::vector<long long> def_off_c, def_off_o;
    long long off_c = -1, off_o = -1;    // the same for the expression being read
    long long off_c_at = 0, off_o_at = 0;  // where they were met
    long long fault_at = 0;              // where a fault was met, when not where reading stopped
    long long segno = 0;                 // gradient segments read
    long long gentries = 0;              // objective gradient entries read
    bool have_k = false, have_b = false, have_r = false;
    bool stopped = false;                // the binary check met a part it does not know
    nl_degree *deg;                      // the objective whose degree is wanted, or null
    degree_walk kinds;                   // the degree of the expression being read
    std::vector<int> def_kind;           // per defined variable: its degree (-1 unknown)

    checker(const nl_counts &counts, Source &src, char *w, std::size_t l, nl_degree *d)
        : c(counts), in(src), why(w), len(l), deg(d) {}

    bool bad(const char *fmt, long long a = 0, long long b = 0) {
        say(why, len, fmt, a, b);
        return false;
    }

    // Whether variable v (not a defined one) may appear nonlinearly in an objective: the
    // variables nonlinear in objectives are those nonlinear in both, then (after the ones
    // nonlinear in constraints only) those nonlinear in objectives only.
    bool objective_nonlinear(long long v) const { return v < c.nlv_b || (v >= c.nlv_c && v < c.nlv_o); }

    // References of an expression: variables and defined variables given before, functions.
    struct refs {
        checker &ck;
        bool operator()(long long v) const {
            if (!in_range(v, 0, ck.c.vars + ck.ncom))
                return ck.bad("variable %lld out of range (%lld)", v, ck.c.vars + ck.ncom);
            if (v >= ck.c.vars && !ck.def_seen[v - ck.c.vars])
                return ck.bad("defined variable %lld used before its definition", v);
            ck.note_nonlinear(v);
            if (ck.kinds.active()) {
                const int k = v < ck.c.vars ? 1 : ck.def_kind[v - ck.c.vars];
                if (k < 0) ck.kinds.lose(); else ck.kinds.operand(k);
            }
            return true;
        }
        bool op(long long v) const {
            if (unsupported_op(v)) return ck.bad("operator o%lld is not supported by this solver", v);
            ck.kinds.op(v);
            return true;
        }
        void number(double x) const { ck.kinds.operand(0, true, x); }
        void count(long long k) const { ck.kinds.count(k); }
        void call(long long args) const { ck.kinds.call(args); }
        void operand(int k) const { ck.kinds.operand(k); }
        void unknown() const { ck.kinds.lose(); }
        bool degree_wanted() const { return ck.kinds.active(); }
        bool value_wanted() const { return ck.kinds.value_wanted(); }
        bool no_functions() const {
            if (ck.c.n_funcs > 0) return false;
            ck.bad("a function call in a problem without functions");
            return true;
        }
        bool function(long long v) const {
            return in_range(v, 0, ck.c.n_funcs) || ck.bad("function index out of range (%lld)", ck.c.n_funcs);
        }
    };

    // Records a variable of the current expression against the header's counts of
    // nonlinear variables (a defined variable brings those of its own expression).
    void note_nonlinear(long long v) {
        long long oc = -1, oo = -1;
        if (v >= c.vars) {
            oc = def_off_c[v - c.vars];
            oo = def_off_o[v - c.vars];
        } else {
            if (v >= c.nlv_c) oc = v;
            if (!objective_nonlinear(v)) oo = v;
        }
        if (off_c < 0 && oc >= 0) {
            off_c = oc;
            off_c_at = in.where();
        }
        if (off_o < 0 && oo >= 0) {
            off_o = oo;
            off_o_at = in.where();
        }
    }

    // An expression (its degree followed when `track`); false when it is bad or when the
    // check stops there.
    bool expression(bool track = false) {
        off_c = off_o = -1;
        kinds.begin(track);
        switch (in.expression(refs{*this})) {
        case walk::ok: return true;
        case walk::unknown: stopped = true; return false;
        default:
            if (why && why[0] == '\0') say(why, len, "bad expression");
            return false;
        }
    }

    // The segment's header integers.
    bool header(char t, long long *v, int want) {
        if (in.ints(v, want)) return true;
        say(why, len, "segment %c: a count or index is missing", t);
        return false;
    }

    // `count` items "index value" with index in [0, limit) (a binary value: value_bytes).
    bool pairs(long long count, long long limit, const char *what, int value_bytes = 8) {
        for (long long k = 0; k < count; ++k) {
            long long i;
            if (!in.pair_index(i, value_bytes)) return bad("a segment ends early (%lld of %lld entries)", k, count);
            if (!in_range(i, 0, limit)) {
                say(why, len, "%s index %lld out of range (%lld)", what, i, limit);
                return false;
            }
        }
        return true;
    }

    void start() {
        const long long N = c.vars, M = c.cons;
        ncom = c.com_b + c.com_c + c.com_o + c.com_c1 + c.com_o1;
        con_seen.assign(static_cast<std::size_t>(M), 0);
        obj_seen.assign(static_cast<std::size_t>(c.objs), 0);
        def_seen.assign(static_cast<std::size_t>(ncom), 0);
        def_off_c.assign(static_cast<std::size_t>(ncom), -1);
        def_off_o.assign(static_cast<std::size_t>(ncom), -1);
        def_kind.assign(static_cast<std::size_t>(ncom), -1);
        jac_seen.assign(static_cast<std::size_t>(M), 0);
        grad_seen.assign(static_cast<std::size_t>(c.objs), 0);
        col_entries.assign(static_cast<std::size_t>(N), 0);
        last_seg.assign(static_cast<std::size_t>(N), -1);
    }

    // C, O and L segments: an index, an objective's sense, an expression.
    bool body(char t) {
        long long v[2] = {0, 0};
        if (!header(t, v, t == 'O' ? 2 : 1)) return false;
        const long long lim = t == 'C' ? c.cons : t == 'O' ? c.objs : c.lcons;
        if (!in_range(v[0], 0, lim)) {
            say(why, len, "segment %c: index %lld out of range (%lld)", t, v[0], lim);
            return false;
        }
        if (t == 'O' && v[1] != 0 && v[1] != 1)
            return bad("objective %lld: sense %lld is neither 0 (minimise) nor 1 (maximise)", v[0], v[1]);
        if (t != 'L') {
            auto &seen = t == 'C' ? con_seen : obj_seen;
            if (seen[v[0]]) return bad("segment given twice for index %lld", v[0]);
            seen[v[0]] = 1;
        }
        const bool track = t == 'O' && deg && v[0] == deg->objective;
        if (!expression(track)) return false;
        if (track) deg->value = kinds.finish();
        if (t == 'C' && off_c >= 0) {
            fault_at = off_c_at;
            return bad("variable %lld is nonlinear in a constraint, the header counts %lld such variables", off_c,
                       c.nlv_c);
        }
        if (t == 'O' && off_o >= 0) {
            fault_at = off_o_at;
            return bad("variable %lld is nonlinear in an objective, beyond the header's counts", off_o);
        }
        return true;
    }

    // A defined variable: its index, linear terms and kind, then its expression.  Its kind
    // is 0 for those the header counts as shared (by constraints, objectives or both), and
    // otherwise the 1-based number of the one constraint (or, after the constraints, the
    // one objective) that uses it; the readers place it by that.
    bool defined_variable() {
        const long long N = c.vars, M = c.cons;
        long long v[3] = {0, 0, 0};
        if (!header('V', v, 3)) return false;
        if (!in_range(v[0], N, N + ncom)) return bad("defined variable %lld out of range", v[0]);
        const long long d = v[0] - N, shared = c.com_b + c.com_c + c.com_o;
        if (def_seen[d]) return bad("defined variable %lld given twice", v[0]);
        const bool fits = d < shared                   ? v[2] == 0
                          : d < shared + c.com_c1       ? in_range(v[2], 1, M + c.lcons + 1)
                                                        : in_range(v[2], M + 1, M + c.lcons + c.objs + 1);
        if (!fits) return bad("defined variable %lld: kind %lld does not fit the header's counts", v[0], v[2]);
        if (!in_range(v[1], 0, N + 1)) return bad("defined variable with %lld linear terms", v[1]);
        if (!pairs(v[1], N, "variable")) return false;
        if (!expression(deg != nullptr)) return false;
        // A defined variable with linear terms is linear at least.
        const int k = kinds.finish();
        def_kind[d] = k == 0 && v[1] > 0 ? 1 : k;
        def_seen[d] = 1;
        def_off_c[d] = off_c;
        def_off_o[d] = off_o;
        return true;
    }

    bool function_segment() {
        long long v[3] = {0, 0, 0};
        if (!header('F', v, 3)) return false;
        if (!in_range(v[0], 0, c.n_funcs)) return bad("function %lld out of range (%lld)", v[0], c.n_funcs);
        return in.name() || bad("function %lld: bad name", v[0]);
    }

    bool suffix() {
        long long v[2] = {0, 0};
        if (!header('S', v, 2)) return false;
        // Kinds 0-3: variables, constraints (logical ones too), objectives, the problem; 4
        // marks real values.
        const long long kind = v[0] & 3;
        const long long lim = kind == 0 ? c.vars : kind == 1 ? c.cons + c.lcons : kind == 2 ? c.objs : 1;
        if (!in_range(v[1], 0, lim + 1)) return bad("suffix with %lld values (at most %lld)", v[1], lim);
        if (!in.name()) return bad("suffix: bad name");
        return pairs(v[1], lim, "suffix", v[0] & 4 ? 8 : 4);
    }

    bool initial_values(char t) {
        const bool primal = t == 'x';
        long long v[1] = {0};
        if (!header(t, v, 1)) return false;
        const long long lim = primal ? c.vars : c.cons;
        if (!in_range(v[0], 0, lim + 1)) return bad("%lld initial values for %lld entries", v[0], lim);
        return pairs(v[0], lim, primal ? "variable" : "constraint");
    }

    bool bounds(char t) {
        // A later segment of the same kind replaces the bounds of an earlier one.
        const bool rows = t == 'r';
        (rows ? have_r : have_b) = true;
        const long long count = rows ? c.cons : c.vars;
        for (long long k = 0; k < count; ++k) {
            long long type;
            if (!in.bound_type(type) || !in_range(type, 0, rows ? 6 : 5))
                return bad("bad bound in entry %lld of %lld", k, count);
        }
        return true;
    }

    bool column_counts() {
        const long long N = c.vars;
        long long v[1] = {0};
        if (!header('k', v, 1)) return false;
        if (have_k) return bad("second k segment");
        if (v[0] != (N > 0 ? N - 1 : 0)) return bad("k segment of %lld entries for %lld variables", v[0], N);
        have_k = true;
        long long prev = 0;
        for (long long k = 0; k < v[0]; ++k) {
            long long s;
            if (!in.count(s) || s < prev || s > c.jac_nz) return bad("column count %lld out of order", k);
            kcum.push_back(s);
            prev = s;
        }
        return true;
    }

    // J and G segments: an index, the number of entries, the entries.
    bool gradient(char t) {
        const long long N = c.vars;
        const bool jac = t == 'J';
        long long v[2] = {0, 0};
        if (!header(t, v, 2)) return false;
        const long long lim = jac ? c.cons : c.objs;
        if (!in_range(v[0], 0, lim)) return bad("segment index %lld out of range (%lld)", v[0], lim);
        auto &seen = jac ? jac_seen : grad_seen;
        if (seen[v[0]]) return bad("second gradient segment for index %lld", v[0]);
        seen[v[0]] = 1;
        if (!in_range(v[1], 1, N + 1)) return bad("segment of %lld entries for %lld variables", v[1], N);
        for (long long k = 0; k < v[1]; ++k) {
            long long j;
            if (!in.pair_index(j) || !in_range(j, 0, N)) return bad("variable index out of range (%lld)", N);
            if (last_seg[j] == segno) return bad("variable %lld twice in one segment", j);
            last_seg[j] = segno;
            if (jac) ++col_entries[j];
        }
        ++segno;
        if (!jac) gentries += v[1];
        return true;
    }

    bool segment(char t) {
        switch (t) {
        case 'C': case 'O': case 'L': return body(t);
        case 'V': return defined_variable();
        case 'F': return function_segment();
        case 'S': return suffix();
        case 'd': case 'x': return initial_values(t);
        case 'r': case 'b': return bounds(t);
        case 'k': return column_counts();
        case 'J': case 'G': return gradient(t);
        default: return bad("unknown segment");
        }
    }

    // At the end of the file: everything the header announces has been given.
    bool complete() {
        const long long N = c.vars, M = c.cons;
        for (long long i = 0; i < M; ++i)
            if (!con_seen[i]) return bad("no segment for constraint %lld", i);
        for (long long i = 0; i < c.objs; ++i)
            if (!obj_seen[i]) return bad("no segment for objective %lld", i);
        for (long long d = 0; d < ncom; ++d)
            if (!def_seen[d]) return bad("no segment for defined variable %lld", N + d);
        if (N > 0 && !have_b) return bad("no bounds (b segment) for %lld variables", N);
        if (M > 0 && !have_r) return bad("no bounds (r segment) for %lld constraints", M);
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
        if (gentries != c.grad_nz) return bad("%lld gradient entries, the header says %lld", gentries, c.grad_nz);
        return true;
    }

    // True when the file passes, or when the check stopped at a part it does not read.
    bool run() {
        start();
        switch (in.skip_header()) {
        case header_end::ok: break;
        case header_end::short_file: return bad("file ends inside the header");
        default: return bad("a header number beyond the range of the reader");
        }
        char t;
        while (in.segment(t)) {
            if (!in.known(t)) return stopped = true;
            if (!segment(t)) return stopped;
        }
        return complete();
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

long long nl_segments_check(std::FILE *f, const nl_counts &c, char *why, std::size_t len, nl_degree *deg) {
    if (why && len) why[0] = '\0';
    if (deg) deg->value = -1;
    text_source src(f);
    checker<text_source> ck(c, src, why, len, deg);
    if (ck.run()) return 0;
    const long long at = ck.fault_at > 0 ? ck.fault_at : src.where();
    return at > 0 ? at : 1;
}

long long nl_binary_check(std::FILE *f, const nl_counts &c, char *why, std::size_t len, nl_degree *deg) {
    if (why && len) why[0] = '\0';
    if (deg) deg->value = -1;
    binary_source src(f);
    checker<binary_source> ck(c, src, why, len, deg);
    if (ck.run()) return -1;  // passed, or stopped at a part the check does not read
    return ck.fault_at > 0 ? ck.fault_at : src.where();
}

} // namespace orva
