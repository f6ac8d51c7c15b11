// The result returned to AMPL: solve result code, message and solution in the .sol file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "driver/asl_glue.h"
#include "ipm/ipm.h"

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
    // An unbounded dual leaves no feasible point of the problem itself: AMPL is told it is
    // infeasible (a code in the 300s would read as an unbounded problem).
    {"primal infeasible (dual unbounded)", 204},
    {"resource limit", 500},
};
const result_entry stopped_by_user = {"stopped at the user's interrupt", 401};


// The closing words the ASL writes after the values (no output suffixes are declared).
std::string sol_tail(ASL *asl, bool binary) {
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
    return tail;
}

// Whether the .sol file at path, as the ASL wrote it, is complete.
bool sol_complete(ASL *asl, const char *path, std::string &bytes) {
    const bool binary = binary_nl & 1;
    if (read_back(path, bytes) <= 0) return false;
    const std::string tail = sol_tail(asl, binary);
    return binary ? binary_sol_complete(bytes, tail) : text_sol_complete(bytes, tail);
}

// Writes bytes to path, every write checked (a device such as /dev/full fails here).
bool copy_to(const std::string &bytes, const char *path) {
    std::FILE *f = std::fopen(path, "wb");
    if (!f) return false;
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
    const bool failed = std::ferror(f) != 0;
    return std::fclose(f) == 0 && wrote && !failed;
}

int cannot_write(const char *path) {
    Fprintf(Stderr, "can't write %s\n", path);  // status 2, as when the ASL cannot open it
    return 2;
}

} // namespace

// The ASL writes the .sol file without checking its writes, so a full disk or a failing
// device would leave a cut-short file behind a normal exit.  A regular file (or a new one)
// is read back after the ASL has written it and its structure checked; any other target (a
// device, a pipe) cannot be read back, so the ASL writes a temporary file, which is checked
// and then copied to the target with every write checked.
int write_result(ASL *asl, const char *msg, double *x, double *y) {
    if (!amplflag && !(Oinfo.wantsol & 1)) {  // no file: the message (and values) printed only
        write_sol_ASL(asl, msg, x, y, &Oinfo);
        return 0;
    }
    std::string target = asl->i.solfile ? asl->i.solfile : filename;
    if (!asl->i.solfile) target.replace(static_cast<std::size_t>(stub_end - filename), std::string::npos, ".sol");
    struct stat st {};
    std::string bytes;
    if (stat(target.c_str(), &st) != 0 || S_ISREG(st.st_mode)) {
        write_sol_ASL(asl, msg, x, y, &Oinfo);
        return sol_complete(asl, target.c_str(), bytes) ? 0 : cannot_write(target.c_str());
    }
    const char *dir = getenv("TMPDIR");
    std::string tmp = std::string(dir && *dir ? dir : "/tmp") + "/orva-sol-XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return cannot_write(target.c_str());
    close(fd);
    const int failed = write_solf_ASL(asl, msg, x, y, &Oinfo, tmp.c_str());
    const bool ok = failed == 0 && sol_complete(asl, tmp.c_str(), bytes) && copy_to(bytes, target.c_str());
    std::remove(tmp.c_str());
    return ok ? 0 : cannot_write(target.c_str());
}

int amplout(ASL *asl, LP *lp, int result) {
    const unsigned idx = static_cast<unsigned>(result) >= 9u ? 9u : static_cast<unsigned>(result);
    // A run the user stopped at the interrupt prompt is a limit he set, not a verdict on
    // the problem (the stopping rule reports it as code 6).
    const result_entry &e = result == 6 && interrupted ? stopped_by_user : results[idx];
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
    return write_result(asl, buf, lp->x, lp->y);
}

} // namespace orva
