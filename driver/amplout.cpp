// The result returned to AMPL: solve result code, message and solution in the .sol file.
#include <sys/stat.h>

#include <string>

#include "driver/asl_glue.h"

namespace orva {

namespace {

// The .sol file as written: 1 with its bytes in `out`, 0 when it cannot be read back, -1
// when it is not a regular file (a device or a pipe, which cannot be read back).
int read_back(const char *path, std::string &out) {
    struct stat st {};
    if (stat(path, &st) != 0) return 0;
    if (!S_ISREG(st.st_mode)) return -1;
    std::FILE *f = std::fopen(path, "rb");
    if (!f) return 0;
    out.resize(static_cast<std::size_t>(st.st_size));
    const std::size_t got = std::fread(out.data(), 1, out.size(), f);
    std::fclose(f);
    return got == out.size() ? 1 : 0;
}

bool ends_with(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A text .sol file: message lines, an empty line, then (when AMPL passed options) the
// Options block with its counts of dual and primal values, which must all follow, and
// then exactly the closing `tail`.  Without the Options block the file must end with the
// tail.
bool text_sol_complete(const std::string &s, const std::string &tail) {
    if (s.empty() || s.back() != '\n' || !ends_with(s, tail)) return false;
    std::size_t pos = 0;
    auto line = [&](std::string &l) {
        if (pos >= s.size()) return false;
        const std::size_t e = s.find('\n', pos);
        l.assign(s, pos, e - pos);
        pos = e + 1;
        return true;
    };
    auto number = [&](long long &v) {
        std::string l;
        if (!line(l)) return false;
        char *end = nullptr;
        v = std::strtoll(l.c_str(), &end, 10);
        return end != l.c_str();
    };
    std::string l;
    do {
        if (!line(l)) return false;
    } while (!l.empty());
    const std::size_t block = pos;
    if (!line(l) || l != "Options") return block <= s.size() - tail.size();
    // The first option is their count k, written as k + 2 when option 2 is 3 (a tolerance
    // then follows the four counts).
    long long opt[3] = {0, 0, 0}, z[4];
    if (!number(opt[0]) || opt[0] < 1) return false;
    for (long long i = 1; i <= std::min(2LL, opt[0]); ++i)
        if (!number(opt[i])) return false;
    const bool tol = opt[0] >= 4 && opt[2] == 3;
    const long long k = tol ? opt[0] - 2 : opt[0];
    for (long long i = 3, skip; i <= k; ++i)
        if (!number(skip)) return false;
    for (long long &v : z)
        if (!number(v) || v < 0) return false;
    if (tol && !line(l)) return false;
    for (long long i = 0; i < z[1] + z[3]; ++i)
        if (!line(l)) return false;
    return s.size() - pos == tail.size();
}

// A binary .sol file: records framed by their length before and after, from "binary" to
// the end of the file, which ends with the closing `tail` record.  After the Options
// record, the dual and primal records have the lengths its counts give and the tail
// follows them.
bool binary_sol_complete(const std::string &s, const std::string &tail) {
    if (!ends_with(s, tail)) return false;
    const std::size_t w = sizeof(fint);
    auto word = [&](std::size_t at, long long &v) {
        if (at > s.size() || s.size() - at < w) return false;
        fint x;
        std::memcpy(&x, s.data() + at, w);
        v = x;
        return true;
    };
    std::size_t pos = 0;
    long long want[2] = {-1, -1};  // lengths of the dual and primal records
    int records = 0, options = -1;
    while (pos < s.size()) {
        long long len, end;
        if (!word(pos, len) || len < 0 || static_cast<unsigned long long>(len) > s.size() - pos - w) return false;
        const std::size_t body = pos + w;
        if (records == 0 && (len != 6 || s.compare(body, 6, "binary") != 0)) return false;
        if (options < 0 && len >= 7 && s.compare(body, 7, "Options") == 0) {
            // "Options", k + 1 option words (the first reads k + 2 when option 2 is 3: a
            // tolerance then follows, which its length words do not count), four counts.
            long long k, o2 = 0;
            if (!word(body + 7, k) || k < 1) return false;
            if (k >= 2 && !word(body + 7 + 2 * w, o2)) return false;
            if (k >= 4 && o2 == 3) return true;  // framing not checkable past this record
            long long z1, z3;
            const std::size_t zat = body + 7 + static_cast<std::size_t>(k + 1) * w;
            if (zat + 4 * w > body + static_cast<std::size_t>(len)) return false;
            if (!word(zat + w, z1) || !word(zat + 3 * w, z3)) return false;
            want[0] = z1 * static_cast<long long>(sizeof(double));
            want[1] = z3 * static_cast<long long>(sizeof(double));
            options = records;
        }
        if (!word(body + static_cast<std::size_t>(len), end) || end != len) return false;
        if (options >= 0 && records > options && records <= options + 2 && len != want[records - options - 1])
            return false;
        pos = body + static_cast<std::size_t>(len) + w;
        ++records;
        if (options >= 0 && records == options + 3) return s.size() - pos == tail.size();
    }
    return options < 0 && records >= 2;
}

struct result_entry {
    const char *msg;
    int code;
};
// Indexed by the result code of solvelp; every code of 9 or more takes entry 9.
const result_entry results[] = {
    {"optimal solution", 0},
    {"suboptimal solution", 100},
    {"iteration limit", 400},
    {"primal infeasible", 201},
    {"dual infeasible", 202},
    {"primal and/or dual infeasible", 203},
    {"primal infeasible -- inconsistent equations", 210},
    {"primal unbounded", 301},
    {"dual unbounded", 302},
    {"resource limit", 500},
};
} // namespace

// The ASL writes the .sol file without checking its writes, so a full disk or a failing
// device would leave a cut-short file behind a normal exit: the file is read back and its
// structure checked.
int sol_checked(ASL *asl) {
    if (!amplflag && !(Oinfo.wantsol & 1)) return 0;  // no file was written
    // The closing words the ASL writes after the values (no output suffixes are declared).
    const bool binary = binary_nl & 1;
    const fint words[2] = {obj_no, solve_code};
    const int nw = (asl->i.flags & 1) ? 2 : obj_no ? 1 : 0;
    std::string tail;
    if (binary && nw > 0) {
        const fint len = nw * static_cast<fint>(sizeof(fint));
        tail.append(reinterpret_cast<const char *>(&len), sizeof len);
        tail.append(reinterpret_cast<const char *>(words), nw * sizeof(fint));
        tail.append(reinterpret_cast<const char *>(&len), sizeof len);
    } else if (nw > 0) {
        char line[64];
        if (nw > 1)
            Snprintf(line, sizeof line, "objno %d %d\n", static_cast<int>(obj_no), static_cast<int>(solve_code));
        else
            Snprintf(line, sizeof line, "objno %d\n", static_cast<int>(obj_no));
        tail = line;
    }
    std::string s;
    const int got = read_back(filename, s);
    if (got < 0) return 0;
    if (got > 0 && (binary ? binary_sol_complete(s, tail) : text_sol_complete(s, tail))) return 0;
    Fprintf(Stderr, "can't write %s\n", filename);  // status 2, as when the ASL cannot open it
    return 2;
}

int amplout(ASL *asl, LP *lp, int result) {
    const unsigned idx = static_cast<unsigned>(result) >= 9u ? 9u : static_cast<unsigned>(result);
    const result_entry &e = results[idx];
    solve_code = e.code;

    char buf[256];
    int len = Snprintf(buf, sizeof buf, "%s: ", Oinfo.bsname);
    auto append = [&](const char *fmt, auto... args) {
        if (len < 0 || static_cast<size_t>(len) >= sizeof buf) return;
        const int w = Snprintf(buf + len, sizeof buf - len, fmt, args...);
        if (w > 0) len += w;
    };
    append("%s (%d %siterations, %d evaluations)", e.msg, lp->iter, lp->quadratic ? "QP " : "",
           evals.fun_count);
    // The ASL divides the duals it writes by its Lagrangian scale (-1 when minimising,
    // +1 when maximising); handing it the negated multipliers makes AMPL receive
    // d(objective)/d(right-hand side) in both senses.
    for (int i = 0; i < lp->m; ++i) lp->y[i] = -lp->y[i];
    if (result == 0 || result == 1 || result == 2) {
        char pobj[32], dobj[32];
        g_fmtop_ASL(pobj, lp->primal_obj);
        g_fmtop_ASL(dobj, lp->dual_obj);
        append("\nprimal objective %s", pobj);
        append("\n  dual objective %s", dobj);
    }
    write_sol_ASL(asl, buf, lp->x, lp->y, &Oinfo);
    return sol_checked(asl);
}

} // namespace orva
