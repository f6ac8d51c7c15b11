// The MPS reader.
//
// Lines are read with a limit of 240 bytes and, when shorter than 80 characters, padded
// with blanks up to column 79, so that every field can be cut out of its fixed columns.
// Before NAME and after ENDATA lines are split into words instead (parameter lines).
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "files/labels.h"
#include "files/lines.h"
#include "files/mps.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr int line_limit = 240;          // bytes per read, the terminating NUL included
constexpr long long unknown_size = 400000; // counted for an input whose size is unknown

// Reader states.
enum { BEFORE_NAME = 0, AFTER_NAME, ROWS, COLUMNS, RHS, RANGES, BOUNDS, QUADS, END };

// Row types while reading.
enum : int { ROW_OTHER = 0, ROW_E, ROW_G, ROW_L, ROW_N, ROW_F };

// Copies columns from..to (1-based, inclusive) of a padded line into out (to-from+2 bytes).
void field(const char *line, int from, int to, char *out) {
    const int len = to - from + 1;
    std::memcpy(out, line + from - 1, static_cast<std::size_t>(len));
    out[len] = '\0';
}

bool blank(const char *s) {
    for (; *s; ++s)
        if (*s != ' ') return false;
    return true;
}

// Copies at most size-1 characters of src into dst and terminates it.
void copy_cut(char *dst, const char *src, std::size_t size) {
    std::size_t len = std::strlen(src);
    if (len > size - 1) len = size - 1;
    std::memcpy(dst, src, len);
    dst[len] = '\0';
}

char *copy_label(const char *s1) {
    const long long len = static_cast<long long>(std::strlen(s1)) + 1;
    char *s2 = xmalloc<char>("s2", "(int)(strlen(s1)+1)", len);
    std::memcpy(s2, s1, static_cast<std::size_t>(len));
    return s2;
}

// A number field: blank gives 0; anything but a number followed by blanks is refused.
bool number(const char *fld, double &value) {
    char *end = nullptr;
    value = std::strtod(fld, &end);
    if (end == fld) {
        value = 0.0;
        return blank(fld);
    }
    if (std::isnan(value)) return false;
    return blank(end);
}

void key_of(char *key, const char *label, char kind) {
    const std::size_t len = std::strlen(label);
    std::memcpy(key, label, len);
    key[len] = kind;
    key[len + 1] = '\0';
}

// Doubles an array's capacity.
template <class T> void grow(T *&p, int cap, const char *name, const char *expr) {
    p = xrealloc<T>(p, name, expr, cap);
}

int next_capacity(int cap) {
    if (cap > INT_MAX / 2) return INT_MAX - 1;
    return 2 * cap;
}

struct reader {
    LP *lp = nullptr;
    int state = BEFORE_NAME;
    bool named = false;
    char name[15] = "";

    // Rows.
    int m = 0, m2 = 0;
    int *rngmark = nullptr;  // row type during reading
    double *r = nullptr;
    char **rowlab = nullptr;
    double *b = nullptr;     // created when COLUMNS begins
    double *rngval = nullptr; // RANGES value of each row (applied at the end)
    char *rngset = nullptr;  // whether the row has one

    // Columns and entries.
    int n = 0, n2 = 0;
    int *kA = nullptr;       // n2+1 entries
    char **collab = nullptr;
    int *varsgn = nullptr;
    double *u = nullptr;
    double *c = nullptr, *l = nullptr, *diagQ = nullptr; // created when COLUMNS ends
    int *kQ = nullptr;       // per-column count of QUADS entries, later the column starts
    bool columns_done = false;
    int nz = 0, nz2 = 0;
    double *A = nullptr;
    int *iA = nullptr;
    int qnz = 0, qnz2 = 0;
    double *Q = nullptr;
    int *iQ = nullptr;

    // Parameters.
    int np = 0, np2 = 0;
    char **param = nullptr;

    bool sense_pending = false;  // an OBJSENSE header line without its word
    int intstate = 1;     // varsgn of new columns: 1 continuous, 2 integer (MARKER lines)
    int lastcol = -1;     // the column being read in COLUMNS
    int lastqcol = -1;    // the last column read in QUADS
    bool haveobj = false, haverhs = false, haverng = false, havebnd = false;
    char objname[9] = "", rhsname[9] = "", rngname[9] = "", bndname[9] = "";

    // The current line: padded (line), as read without its line feed (raw), and its
    // length as read with the line feed (rawlen).
    char line[256];
    char raw[256];
    int rawlen = 0;

    // Releases what the reader holds: after an error, before its arrays have gone into
    // the record (finish hands them over at its end).
    void release() {
        for (int i = 0; i < m; ++i) std::free(rowlab[i]);
        for (int j = 0; j < n; ++j) std::free(collab[j]);
        for (int k = 0; k < np; ++k) std::free(param[k]);
        for (void *a : {static_cast<void *>(rngmark), static_cast<void *>(r), static_cast<void *>(rowlab),
                        static_cast<void *>(b), static_cast<void *>(rngval), static_cast<void *>(rngset),
                        static_cast<void *>(kA), static_cast<void *>(collab), static_cast<void *>(varsgn),
                        static_cast<void *>(u), static_cast<void *>(c), static_cast<void *>(l),
                        static_cast<void *>(diagQ), static_cast<void *>(kQ), static_cast<void *>(A),
                        static_cast<void *>(iA), static_cast<void *>(Q), static_cast<void *>(iQ),
                        static_cast<void *>(param)})
            std::free(a);
    }

    void init(long long size) {
        long long h = size / 17;
        if (h > INT_MAX / 8) h = INT_MAX / 8;
        hash_init(static_cast<int>(h < 1 ? 1 : h));
        long long cap = size / 100 + 1;
        if (cap > INT_MAX / 4) cap = INT_MAX / 4;
        long long qcap = size / 1000 + 1;
        if (qcap > INT_MAX / 4) qcap = INT_MAX / 4;
        m2 = n2 = nz2 = static_cast<int>(cap);
        qnz2 = static_cast<int>(qcap);
        np2 = 10;
        rngmark = xmalloc<int>("rngmark", "m2", m2);
        iA = xmalloc<int>("iA", "nz2", nz2);
        kA = xmalloc<int>("kA", "n2", n2 + 1);
        iQ = xmalloc<int>("iQ", "qnz2", qnz2);
        A = xmalloc<double>("A", "nz2", nz2);
        Q = xmalloc<double>("Q", "qnz2", qnz2);
        r = xmalloc<double>("r", "m2", m2);
        u = xmalloc<double>("u", "n2", n2);
        rowlab = xmalloc<char *>("rowlab", "m2", m2);
        collab = xmalloc<char *>("collab", "n2", n2);
        varsgn = xmalloc<int>("varsgn", "n2", n2);
        param = xmalloc<char *>("param", "np2", np2);
    }

    void grow_rows() {
        m2 = next_capacity(m2);
        grow(rngmark, m2, "rngmark", "m2");
        grow(r, m2, "r", "m2");
        grow(rowlab, m2, "rowlab", "m2");
    }

    void grow_cols() {
        n2 = next_capacity(n2);
        grow(kA, n2 + 1, "kA", "n2");
        grow(collab, n2, "collab", "n2");
        grow(varsgn, n2, "varsgn", "n2");
        grow(u, n2, "u", "n2");
    }

    void add_entry(int row, double value) {
        if (nz == nz2) {
            nz2 = next_capacity(nz2);
            grow(A, nz2, "A", "nz2");
            grow(iA, nz2, "iA", "nz2");
        }
        A[nz] = value;
        iA[nz] = row;
        ++nz;
    }

    // Reads one line into line/raw/rawlen; false at the end of the input.  A NUL byte
    // counts as a blank (the line's length is what was read).
    bool read_line(std::FILE *fp) {
        bool cut = false;
        int len = read_text_line(fp, line, line_limit, &cut);
        if (len == 0) return false;
        if (cut)
            std::printf("line longer than %d characters, the rest is ignored: %.40s...\n", line_limit - 1, line);
        if (line[len - 1] != '\n') {  // the last line of the input, or a line cut short
            line[len++] = '\n';
            line[len] = '\0';
        }
        if (len >= 2 && line[len - 2] == '\r') { // CR LF line end
            line[len - 2] = '\n';
            line[--len] = '\0';
        }
        rawlen = len;
        std::memcpy(raw, line, static_cast<std::size_t>(len - 1));
        raw[len - 1] = '\0';
        if (len < 80) {
            for (int i = len - 1; i < 79; ++i) line[i] = ' ';
            line[79] = '\0';
        } else {
            line[len - 1] = ' ';
        }
        return true;
    }

    void parameter_or_name() {
        char w1[256], w2[256];
        w1[0] = w2[0] = '\0';
        if (std::sscanf(line, "%255s %255s", w1, w2) < 1) return; // blank line
        if (std::strncmp(w1, "NAME", 4) == 0) {
            // The input holds one problem: a second one would be merged into the first.
            if (named) my_exit(11, "second NAME line: the input holds more than one problem\n");
            copy_cut(name, w2, sizeof name);
            named = true;
            state = AFTER_NAME;
            return;
        }
        add_param(w1, w2);
    }

    // A parameter: its value at the next position of param, its name in the label table.
    void add_param(const char *name, const char *value) {
        if (np == np2) {
            np2 = next_capacity(np2);
            grow(param, np2, "param", "np2");
        }
        param[np++] = copy_label(value);  // counted at once: the reader owns the string
        char key[258];
        key_of(key, name, 'P');
        install(key, np - 1);
    }

    void row_line() {
        int type = std::toupper(static_cast<unsigned char>(line[1] != ' ' ? line[1] : line[2]));
        char label[9], key[10];
        field(line, 5, 12, label);
        if (m == m2) grow_rows();
        switch (type) {
        case 'E': rngmark[m] = ROW_E; r[m] = 0.0; break;
        case 'G': rngmark[m] = ROW_G; r[m] = inf; break;
        case 'L': rngmark[m] = ROW_L; r[m] = inf; break;
        case 'N': rngmark[m] = ROW_N; r[m] = inf; break;
        case 'F': rngmark[m] = ROW_F; r[m] = 0.0; break;
        default:
            // Not a constraint of any known kind: kept out of the problem like an N row.
            std::printf("unrecognized row type %c of row %s: row ignored\n", type, label);
            rngmark[m] = ROW_OTHER;
            r[m] = inf;
            break;
        }
        if (rngmark[m] == ROW_N) {
            if (!haveobj) {
                std::memcpy(objname, label, sizeof label);
                haveobj = true;
            } else if (std::strstr(label, objname)) {
                std::memcpy(objname, label, sizeof label);
            }
        }
        rowlab[m++] = copy_label(label);  // counted at once: the reader owns the label
        key_of(key, label, 'R');
        if (lookup(key)) std::printf("row label %s repeated in ROWS section\n", label);
        install(key, m - 1);
    }

    void begin_columns() {
        b = xcalloc<double>("b", "m", m);
        rngval = xcalloc<double>("rngval", "m", m);
        rngset = xcalloc<char>("rngset", "m", m);
        state = COLUMNS;
    }

    void end_columns() {
        if (columns_done) return;
        if (!b) begin_columns();
        kA[n] = nz;
        c = xcalloc<double>("c", "n", n);
        diagQ = xcalloc<double>("diagQ", "n", n);
        l = xcalloc<double>("l", "n", n);
        kQ = xmalloc<int>("kQ", "n+1", n + 1);
        for (int j = 0; j <= n; ++j) kQ[j] = 0;
        columns_done = true;
    }

    // A (row name, value) pair; kind names the section for the messages.
    bool pair_value(const char *numfld, double &value, const char *kind) {
        if (number(numfld, value)) return true;
        std::printf("invalid number %s in %s section, entry skipped\n", numfld, kind);
        return false;
    }

    void column_pair(const char *rowname, const char *numfld) {
        double value;
        if (!pair_value(numfld, value, "COLUMNS")) return;
        char key[10];
        key_of(key, rowname, 'R');
        const int row = getindex(key);
        if (row < 0) {
            std::printf("row label %s from COLUMNS section missing in ROWS section\n", rowname);
            return;
        }
        add_entry(row, value);
    }

    void column_line() {
        char col[9], f3[9], f4[13], f5[9], f6[13], key[10];
        field(line, 5, 12, col);
        field(line, 15, 22, f3);
        key_of(key, col, 'C');
        const int j = getindex(key);
        if (j < 0) {
            if (std::strcmp(f3, "'MARKER'") == 0) {
                intstate = intstate == 1 ? 2 : 1;
                return;
            }
            if (n == n2) grow_cols();
            kA[n] = nz;
            varsgn[n] = intstate;
            u[n] = inf;
            lastcol = n;
            collab[n++] = copy_label(col);  // counted at once: the reader owns the label
            install(key, n - 1);
        } else if (j != lastcol) {
            char msg[250];
            std::snprintf(msg, sizeof msg, "column %s out of order in COLUMNS section\n", col);
            my_exit(35, msg);
        }
        if (rawlen >= 25) {
            field(line, 25, 36, f4);
            column_pair(f3, f4);
        }
        if (rawlen >= 50) {
            field(line, 40, 47, f5);
            field(line, 50, 61, f6);
            column_pair(f5, f6);
        }
    }

    // Whether a line of RHS, RANGES or BOUNDS belongs to the set in use (the set of the
    // first line of its kind).
    static bool in_set(const char *setfld, bool &have, char *setname) {
        if (!have) {
            std::memcpy(setname, setfld, 9);
            have = true;
        }
        return std::strstr(setfld, setname) != nullptr;
    }

    void rhs_pair(const char *rowname, const char *numfld) {
        double value;
        if (!pair_value(numfld, value, "RHS") || value == 0.0) return;
        char key[10];
        key_of(key, rowname, 'R');
        const int row = getindex(key);
        if (row < 0) {
            std::printf("row label %s from RHS section missing in ROWS section\n", rowname);
            return;
        }
        b[row] = value;
    }

    void range_pair(const char *rowname, const char *numfld) {
        double value;
        if (!pair_value(numfld, value, "RANGES")) return;
        // A zero range is a range too (it makes an L or G row an equality); only an
        // empty pair is no entry.
        if (value == 0.0 && blank(rowname)) return;
        char key[10];
        key_of(key, rowname, 'R');
        const int row = getindex(key);
        if (row < 0) {
            std::printf("row label %s from RANGES section missing in ROWS section\n", rowname);
            return;
        }
        rngval[row] = value;
        rngset[row] = 1;
    }

    void rhs_or_range_line(bool is_rhs) {
        char set[9], f3[9], f4[13], f5[9], f6[13];
        field(line, 5, 12, set);
        if (is_rhs ? !in_set(set, haverhs, rhsname) : !in_set(set, haverng, rngname)) return;
        field(line, 15, 22, f3);
        field(line, 25, 36, f4);
        if (rawlen >= 50) {
            field(line, 40, 47, f5);
            field(line, 50, 61, f6);
            if (is_rhs)
                rhs_pair(f5, f6);
            else
                range_pair(f5, f6);
        }
        if (is_rhs)
            rhs_pair(f3, f4);
        else
            range_pair(f3, f4);
    }

    void bound_line() {
        char type[3], set[9], col[9], f4[13], key[10];
        field(line, 2, 3, type);
        field(line, 5, 12, set);
        if (!in_set(set, havebnd, bndname)) return;
        field(line, 15, 22, col);
        key_of(key, col, 'C');
        const int j = getindex(key);
        if (j < 0) {
            std::printf("col label %s from BOUNDS section missing in COLUMNS section\n", col);
            return;
        }
        field(line, 25, 36, f4);
        double value = 0.0;
        const bool valued = std::strcmp(type, "FR") && std::strcmp(type, "PL") &&
                            std::strcmp(type, "MI") && std::strcmp(type, "BV");
        if (valued && !pair_value(f4, value, "BOUNDS")) return;
        if (!std::strcmp(type, "LO")) {
            l[j] = value;
        } else if (!std::strcmp(type, "UP")) {
            u[j] = value;
        } else if (!std::strcmp(type, "FX")) {
            l[j] = u[j] = value;
        } else if (!std::strcmp(type, "FR")) {
            l[j] = -inf;
            u[j] = inf;
        } else if (!std::strcmp(type, "PL")) {
            u[j] = inf;
        } else if (!std::strcmp(type, "MI")) {
            u[j] = l[j];
            l[j] = -inf;
        } else if (!std::strcmp(type, "BV")) {
            l[j] = 0.0;
            u[j] = 1.0;
            varsgn[j] = 2;
        } else if (!std::strcmp(type, "LI")) {
            l[j] = value;
            varsgn[j] = 2;
        } else if (!std::strcmp(type, "UI")) {
            u[j] = value;
            varsgn[j] = 2;
        } else if (!std::strcmp(type, "SC")) {
            l[j] = 0.0;
            u[j] = value;
            varsgn[j] = 3;
        } else {
            std::printf("unrecognized bound type %s \n", type);
        }
    }

    void quad_pair(int j, const char *colname, const char *numfld) {
        double value;
        if (!pair_value(numfld, value, "QUADS") || value == 0.0) return;
        char key[10];
        key_of(key, colname, 'C');
        const int i = getindex(key);
        if (i < 0) {
            std::printf("col label %s from QUADS section missing in COLUMNS section\n", colname);
            return;
        }
        if (i > j) {
            if (qnz == qnz2) {
                qnz2 = next_capacity(qnz2);
                grow(Q, qnz2, "Q", "qnz2");
                grow(iQ, qnz2, "iQ", "qnz2");
            }
            Q[qnz] = value;
            iQ[qnz] = i;
            ++qnz;
            ++kQ[j];
        } else if (i == j) {
            diagQ[j] = value;
        } else {
            std::printf("QUADS section contains entry from upper triangle\n");
        }
    }

    void quad_line() {
        char col[9], f3[9], f4[13], f5[9], f6[13], key[10];
        field(line, 5, 12, col);
        key_of(key, col, 'C');
        const int j = getindex(key);
        if (j < 0) {
            std::printf("col label %s from QUADS section missing in COLUMNS section\n", col);
            return;
        }
        if (j < lastqcol) my_exit(36, "columns out of order in QUADS section\n");
        lastqcol = j;
        field(line, 15, 22, f3);
        field(line, 25, 36, f4);
        quad_pair(j, f3, f4);
        if (rawlen >= 50) {
            field(line, 40, 47, f5);
            field(line, 50, 61, f6);
            quad_pair(j, f5, f6);
        }
    }

    // A section header after COLUMNS selects the next state by its first three characters.
    void section_header() {
        if (state == COLUMNS) end_columns();
        if (!std::strncmp(line, "RHS", 3))
            state = RHS;
        else if (!std::strncmp(line, "RAN", 3))
            state = RANGES;
        else if (!std::strncmp(line, "BOU", 3))
            state = BOUNDS;
        else if (!std::strncmp(line, "QUA", 3))
            state = QUADS;
        else if (!std::strncmp(line, "END", 3))
            state = END;
        else {
            char msg[250];
            std::snprintf(msg, sizeof msg, "unrecognized section label: \n   %.210s \n", raw);
            my_exit(26, msg);
        }
    }

    // The free layout's OBJSENSE section between NAME and ROWS: its word (on the header
    // line or the next) MAX or MAXIMIZE marks the problem as one to maximise, as the
    // writer's "MAX" line does; MIN or MINIMIZE leaves the default.  False for other lines.
    bool objective_sense() {
        char w1[256] = "", w2[256] = "";
        std::sscanf(raw, "%255s %255s", w1, w2);
        const bool header = line[0] != ' ' && !std::strcmp(w1, "OBJSENSE");
        if (header) {
            sense_pending = w2[0] == '\0';
            if (sense_pending) return true;
            std::memmove(w1, w2, sizeof w1);
        } else if (!sense_pending) {
            return false;
        }
        sense_pending = false;
        if (!std::strcmp(w1, "MAX") || !std::strcmp(w1, "MAXIMIZE"))
            add_param("MAX", "");
        else if (std::strcmp(w1, "MIN") != 0 && std::strcmp(w1, "MINIMIZE") != 0)
            std::printf("unrecognized objective sense %s\n", w1);
        return true;
    }

    void process_line() {
        // Empty lines and comments (the raw line: padding has replaced the line feed).
        if (raw[0] == '\0' || raw[0] == '*') return;
        switch (state) {
        case BEFORE_NAME:
        case END: parameter_or_name(); return;
        case AFTER_NAME:
            if (!std::strncmp(line, "ROW", 3))
                state = ROWS;
            else if (!objective_sense())
                std::printf("expected ROWS after NAME instead of %s\n", raw);
            return;
        case ROWS:
            if (line[0] != ' ') {
                if (!std::strncmp(line, "COL", 3))
                    begin_columns();
                else
                    std::printf("expected L, E, G, N, or COLUMNS instead of %s\n", raw + 1);
                return;
            }
            row_line();
            return;
        default: break;
        }
        if (line[0] != ' ') {
            section_header();
            return;
        }
        switch (state) {
        case COLUMNS: column_line(); break;
        case RHS: rhs_or_range_line(true); break;
        case RANGES: rhs_or_range_line(false); break;
        case BOUNDS: bound_line(); break;
        case QUADS: quad_line(); break;
        default: break;
        }
    }

    void read_file(std::FILE *fp) {
        while (read_line(fp)) process_line();
    }

    // One free column per F row: -1 in the row, no bounds, a unit Q diagonal.
    void add_fit_columns() {
        int nf = 0;
        for (int i = 0; i < m; ++i)
            if (rngmark[i] == ROW_F) ++nf;
        if (nf == 0) return;
        const int nnew = n + nf;
        while (n2 < nnew) grow_cols();
        c = xrealloc<double>(c, "c", "n", nnew);
        l = xrealloc<double>(l, "l", "n", nnew);
        diagQ = xrealloc<double>(diagQ, "diagQ", "n", nnew);
        kQ = xrealloc<int>(kQ, "kQ", "n+1", nnew + 1);
        for (int i = 0; i < m; ++i) {
            if (rngmark[i] != ROW_F) continue;
            char label[11], key[12];
            std::snprintf(label, sizeof label, "f.%s", rowlab[i]);
            add_entry(i, -1.0);
            collab[n] = copy_label(label);
            key_of(key, label, 'C');
            install(key, n);
            l[n] = -inf;
            u[n] = inf;
            c[n] = 0.0;
            diagQ[n] = 1.0;
            varsgn[n] = 1;
            kQ[n + 1] = 0;
            ++n;
            kA[n] = nz;
        }
    }

    // Q with both triangles, each column sorted by row index.
    void symmetric_q() {
        // kQ[j] holds the number of lower entries of column j, stored in column order.
        int start = 0;
        for (int j = 0; j < n; ++j) {
            const int cnt = kQ[j];
            kQ[j] = start;
            start += cnt;
        }
        kQ[n] = start;
        int ndiag = 0;
        for (int j = 0; j < n; ++j)
            if (diagQ[j] != 0.0) ++ndiag;
        const long long total = 2LL * qnz + ndiag;
        if (total > INT_MAX) my_exit(36, "too many entries in QUADS section\n");
        const int qnz_new = static_cast<int>(total);
        const owned<int> iwork_o(xcalloc<int>("iwork", "n+1", n + 1));
        int *iwork = iwork_o.get();
        for (int j = 0; j < n; ++j) {
            for (int k = kQ[j]; k < kQ[j + 1]; ++k) {
                ++iwork[j];
                ++iwork[iQ[k]];
            }
            if (diagQ[j] != 0.0) ++iwork[j];
        }
        owned<int> kQ_new_o(xmalloc<int>("kQ_new", "n+1", n + 1));
        int *kQ_new = kQ_new_o.get();
        kQ_new[0] = 0;
        for (int j = 0; j < n; ++j) kQ_new[j + 1] = kQ_new[j] + iwork[j];
        for (int j = 0; j < n; ++j) iwork[j] = kQ_new[j];
        owned<int> iQ_new_o(xmalloc<int>("iQ_new", "qnz", qnz_new));
        owned<double> Q_new_o(xmalloc<double>("Q_new", "qnz", qnz_new));
        int *iQ_new = iQ_new_o.get();
        double *Q_new = Q_new_o.get();
        for (int j = 0; j < n; ++j) {
            if (diagQ[j] != 0.0) {
                iQ_new[iwork[j]] = j;
                Q_new[iwork[j]++] = diagQ[j];
            }
            for (int k = kQ[j]; k < kQ[j + 1]; ++k) {
                const int i = iQ[k];
                iQ_new[iwork[j]] = i;
                Q_new[iwork[j]++] = Q[k];
                iQ_new[iwork[i]] = j;
                Q_new[iwork[i]++] = Q[k];
            }
        }
        std::vector<std::pair<int, double>> col;
        for (int j = 0; j < n; ++j) {
            const int s = kQ_new[j], e = kQ_new[j + 1];
            bool sorted = true;
            for (int k = s + 1; k < e && sorted; ++k) sorted = iQ_new[k - 1] <= iQ_new[k];
            if (sorted) continue;
            col.clear();
            for (int k = s; k < e; ++k) col.emplace_back(iQ_new[k], Q_new[k]);
            std::stable_sort(col.begin(), col.end(),
                             [](const auto &a, const auto &b2) { return a.first < b2.first; });
            for (int k = s; k < e; ++k) {
                iQ_new[k] = col[k - s].first;
                Q_new[k] = col[k - s].second;
            }
        }
        xfree(kQ);
        xfree(iQ);
        xfree(Q);
        kQ = kQ_new_o.release();
        iQ = iQ_new_o.release();
        Q = Q_new_o.release();
        qnz = qnz_new;
    }

    // The end of the input: a NAME and a ROWS section must have been read.
    void check_end() {
        if (!named) my_exit(11, "NAME not found\n");
        // An input that ends before its ROWS section holds no problem at all (a file cut
        // short, or no MPS file): solving it as an empty one would report success.
        if (state == AFTER_NAME) my_exit(11, "ROWS not found\n");
        if (state != BEFORE_NAME && state != END) std::printf("ENDATA not found \n");
        end_columns();
    }

    // The objective row (an N row), or -1 with a message.
    int objective_row() {
        char key[10];
        key_of(key, objname, 'R');
        const int obj = getindex(key);
        if (obj >= 0 && rngmark[obj] == ROW_N) return obj;
        std::printf("objective function %s not found \n", objname);
        return -1;
    }

    // Ranges: on E (and F) rows the sign of R says which side the range extends; on L and
    // G rows the range is |R| (an L row is negated into G form later).
    void apply_ranges() {
        for (int i = 0; i < m; ++i) {
            if (!rngset[i]) continue;
            const double R = rngval[i];
            switch (rngmark[i]) {
            case ROW_E:
            case ROW_F:
                if (R < 0) {
                    b[i] += R;
                    r[i] = -R;
                } else {
                    r[i] = R;
                }
                break;
            case ROW_G:
            case ROW_L: r[i] = std::fabs(R); break;
            default: break;
            }
        }
    }

    // The objective, N rows and rows of unknown type leave the rows: objective entries
    // become c, entries of dropped rows go, L rows (and their b) are negated, and the
    // remaining rows are renumbered in order.
    void drop_rows(int obj) {
        int *iwork = xmalloc<int>("iwork", "m", m);
        int mnew = 0;
        for (int i = 0; i < m; ++i) {
            const int t = rngmark[i];
            iwork[i] = (t == ROW_N || t == ROW_OTHER) ? -1 : mnew++;
        }
        int w = 0;
        for (int j = 0; j < n; ++j) {
            const int s = kA[j], e = kA[j + 1];
            kA[j] = w;
            for (int k = s; k < e; ++k) {
                const int i = iA[k];
                if (i == obj) {
                    c[j] = A[k];
                } else if (iwork[i] >= 0) {
                    A[w] = rngmark[i] == ROW_L ? -A[k] : A[k];
                    iA[w] = iwork[i];
                    ++w;
                }
            }
        }
        kA[n] = w;
        nz = w;
        for (int i = 0; i < m; ++i) {
            const int t = iwork[i];
            if (t < 0) {
                xfree(rowlab[i]);
                continue;
            }
            b[t] = rngmark[i] == ROW_L ? -b[i] : b[i];
            r[t] = r[i];
            rowlab[t] = rowlab[i];
        }
        xfree(iwork);
        m = mnew;
    }

    // Releases what the record held.
    static void release_record(LP &p) {
        for (double **v : {&p.A, &p.b, &p.c, &p.r, &p.l, &p.u, &p.Q}) xfree(*v);
        for (int **v : {&p.iA, &p.kA, &p.varsgn, &p.iQ, &p.kQ}) xfree(*v);
        if (p.rowlab)
            for (int i = 0; i < p.m; ++i) std::free(p.rowlab[i]);
        if (p.collab)
            for (int j = 0; j < p.n; ++j) std::free(p.collab[j]);
        if (p.param)
            for (int k = 0; k < p.np; ++k) std::free(p.param[k]);
        xfree(p.rowlab);
        xfree(p.collab);
        xfree(p.param);
    }

    // Stores the problem into the record (which takes over the arrays).
    void store(LP &p, double fconst) {
        release_record(p);
        p.m = m;
        p.n = n;
        p.nz = nz;
        p.A = A;
        p.iA = iA;
        p.kA = kA;
        p.b = b;
        p.c = c;
        p.f = fconst;
        p.r = r;
        p.l = l;
        p.u = u;
        p.varsgn = varsgn;
        p.rowlab = rowlab;
        p.collab = collab;
        p.qnz = qnz;
        p.Q = Q;
        p.iQ = iQ;
        p.kQ = kQ;
        p.param = param;
        p.np = np;
        copy_cut(p.name, name, sizeof p.name);
        copy_cut(p.obj, objname, sizeof p.obj);
        copy_cut(p.rhs, haverhs ? rhsname : "", sizeof p.rhs);
        copy_cut(p.ranges, haverng ? rngname : "", sizeof p.ranges);
        copy_cut(p.bounds, havebnd ? bndname : "", sizeof p.bounds);
        xfree(rngmark);
        xfree(rngval);
        xfree(rngset);
        xfree(diagQ);
    }

    void finish() {
        check_end();
        LP &p = *lp;
        mps_method(lp);
        add_fit_columns();
        const int obj = objective_row();
        const double fconst = obj >= 0 ? 0.0 - b[obj] : 0.0;
        apply_ranges();
        drop_rows(obj);
        symmetric_q();
        store(p, fconst);
    }
};

long long input_size(const char *path) {
    struct stat st {};
    if (std::strcmp(path, "-") == 0) {
        if (fstat(0, &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
        return unknown_size;
    }
    if (stat(path, &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
    return unknown_size;
}

} // namespace

void mps_method(LP *lp) {
    lp->convex = 1;
    lp->quadratic = 1;
    lp->honor_bnds = 0;
    if (lp->pred_corr < 2) lp->pred_corr = 1;  // 2 and above: a corrector of its own asked for
    lp->mufactor = 0.0;
    if (lp->bndpush < 0) lp->bndpush = 100.0;
}

void readlp(int k, const char *const *paths, LP *lp) {
    long long size = 0;
    for (int f = 0; f < k; ++f) size += input_size(paths[f]);
    reader rd;
    rd.lp = lp;
    // Until finish hands the arrays over to the record, an error releases them.
    struct guard {
        reader &rd;
        bool handed_over = false;
        ~guard() {
            if (!handed_over) rd.release();
        }
    } held{rd};
    rd.init(size);
    for (int f = 0; f < k; ++f) {
        const bool is_stdin = std::strcmp(paths[f], "-") == 0;
        std::FILE *fp = is_stdin ? stdin : std::fopen(paths[f], "r");
        if (!fp) {
            char msg[250];
            std::snprintf(msg, sizeof msg, "cannot open file %s\n", paths[f]);
            my_exit(2, msg);
        }
        const auto close = [](std::FILE *f) { std::fclose(f); };
        const std::unique_ptr<std::FILE, decltype(close)> closer(is_stdin ? nullptr : fp, close);
        rd.read_file(fp);
        if (std::ferror(fp)) {  // a folder, a failing device
            char msg[250];
            std::snprintf(msg, sizeof msg, "cannot read file %s\n", paths[f]);
            my_exit(2, msg);
        }
    }
    rd.finish();
    held.handed_over = true;
}

} // namespace orva
