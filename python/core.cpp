// orva._core: the compiled part of the Python package orva.
//
// `solve` solves one problem given as arrays (rows b <= A x <= b + r, bounds l <= x <= u,
// objective f + c'x + x'Qx/2, A and Q by columns) and `read_mps` reads an MPS or QPS file
// into the same arrays.  The package (python/orva/__init__.py) checks and converts the
// caller's arguments; this file checks again what could make the library read out of
// bounds, so that no call can crash the interpreter.
//
// The solver's factorization work space, the MPS reader's label table and the settings
// table are process-wide, so one call at a time holds the library (library_lock).  A solve
// runs without the GIL.  During it SIGINT goes to the library's handler, the stopping rule
// ends the solve when the flag is up (never the terminal prompt), and Python's own handler
// is put back before the call returns and then decides (by default KeyboardInterrupt); a
// process that ignores SIGINT goes on ignoring it.  What the library prints
// on standard output goes to Python's sys.stdout while it runs (the iteration log, when
// `verbose` asks for one) or is collected (the reader's messages).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "files/labels.h"
#include "files/mps.h"
#include "files/specs.h"
#include "ipm/ipm.h"
#include "lp/alloc.h"
#include "lp/best.h"
#include "lp/error.h"
#include "lp/lp.h"
#include "lp/ranges.h"
#include "presolve/presolve.h"

namespace py = pybind11;
using namespace orva;

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Arrays as the record holds them: contiguous, converted when they are not.
template <class T> using carray = py::array_t<T, py::array::c_style | py::array::forcecast>;
using dvec = carray<double>;
using ivec = carray<int>;

// One call at a time holds the library.  Taken with the GIL released: a thread that
// waited for it holding the GIL would stop the running solve's log relay, which needs
// the GIL to write to sys.stdout.
std::mutex &library_lock() {
    static std::mutex lock;
    return lock;
}

// While it is active, what is written on file descriptor 1 goes through a pipe to `sink`,
// called on a reader thread of its own.  finish() flushes C's stdout, puts descriptor 1
// back and waits for the reader to pass on the rest; a sink that takes the GIL needs the
// caller of finish() not to hold it.
class stdout_relay {
public:
    explicit stdout_relay(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {
        std::fflush(stdout);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;  // no relay: the output goes where it went
        saved_ = fcntl(1, F_DUPFD_CLOEXEC, 0);
        if (saved_ < 0 || dup2(fds[1], 1) < 0) {
            if (saved_ >= 0) close(saved_);
            close(fds[0]);
            close(fds[1]);
            saved_ = -1;
            return;
        }
        close(fds[1]);
        read_fd_ = fds[0];
        reader_ = std::thread([this] {
            char buf[4096];
            for (;;) {
                const ssize_t k = read(read_fd_, buf, sizeof buf);
                if (k > 0)
                    sink_(std::string_view(buf, static_cast<std::size_t>(k)));
                else if (k < 0 && errno == EINTR)
                    continue;
                else
                    break;
            }
        });
    }
    stdout_relay(const stdout_relay &) = delete;
    stdout_relay &operator=(const stdout_relay &) = delete;
    ~stdout_relay() { finish(); }

    void finish() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, 1);  // closes the pipe's last write end: the reader sees its end
        close(saved_);
        saved_ = -1;
        reader_.join();
        close(read_fd_);
    }

private:
    std::function<void(std::string_view)> sink_;
    int saved_ = -1, read_fd_ = -1;
    std::thread reader_;
};

// Writes a piece of the library's output on Python's sys.stdout (taking the GIL).
void to_sys_stdout(std::string_view text) {
    py::gil_scoped_acquire gil;
    try {
        py::object out = py::module_::import("sys").attr("stdout");
        if (out.is_none()) return;
        py::object str = py::reinterpret_steal<py::object>(
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
        if (!str) throw py::error_already_set();
        out.attr("write")(str);
        out.attr("flush")();
    } catch (py::error_already_set &) {
        // A sys.stdout that refuses text loses the log, not the solve.
    }
}

// Whether Python's sys.stdout writes on file descriptor 1 itself (a terminal, a pipe, a
// file), after flushing it.  The library's output then goes there directly: relaying it
// would feed what the relay writes back into its own pipe.
bool sys_stdout_is_fd1() {
    try {
        py::object out = py::module_::import("sys").attr("stdout");
        if (out.is_none()) return false;
        out.attr("flush")();
        return py::cast<int>(out.attr("fileno")()) == 1;
    } catch (py::error_already_set &) {
        return false;  // no descriptor of its own (io.StringIO, a notebook's stream)
    } catch (py::cast_error &) {
        return false;
    }
}

// SIGINT goes to the library's handler while it lives (solvelp installs it too); the
// disposition it found is put back when it goes.
class sigint_to_library {
public:
    sigint_to_library() {
        interrupted = 0;
        struct sigaction act {};
        act.sa_handler = handler;
        sigemptyset(&act.sa_mask);
        act.sa_flags = SA_RESTART;
        saved_ok_ = sigaction(SIGINT, &act, &saved_) == 0;
    }
    sigint_to_library(const sigint_to_library &) = delete;
    sigint_to_library &operator=(const sigint_to_library &) = delete;
    ~sigint_to_library() {
        if (saved_ok_) sigaction(SIGINT, &saved_, nullptr);
    }

private:
    struct sigaction saved_ {};
    bool saved_ok_ = false;
};

// The stopping rules of a solve from Python: the default rule's verdict, flushing the log
// line just printed.  The first never looks at the interrupt flag (SIGINT is ignored in
// this process); the second stops the solve at once when it is up (code 6), with no
// prompt on the terminal.
int rule_ignoring_interrupts(LP *lp) {
    const int code = st_verdict(lp);
    if (lp->verbose != 0) std::fflush(stdout);
    return code;
}
int rule_stopping_on_interrupt(LP *lp) {
    const int code = rule_ignoring_interrupts(lp);
    return interrupted ? 6 : code;
}

bool sigint_ignored() {
    struct sigaction now {};
    return sigaction(SIGINT, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

// Settings of a solve that are not fields of the record.
struct run_settings {
    int presolve = 0;     // the reductions of presolve (0: none)
    double timlim = INF;  // processor seconds from the start of the solve
};

// The option keywords a solve takes, with the solver's keyword names.
enum opt_kind { OPT_REAL, OPT_INT, OPT_FLAG };
struct option {
    const char *name;
    opt_kind kind;
    void (*set)(LP *, run_settings &, double);
};

constexpr option options[] = {
    {"amd", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->method = 3; }},
    {"autoord", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->method = 5; }},
    // bndpush is a setting of the described start: giving it asks for that start.
    {"bndpush", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->bndpush = v; lp->init = deflt_init; }},
    {"convex", OPT_FLAG, [](LP *lp, run_settings &, double v) { lp->convex = v != 0; }},
    {"dense", OPT_INT, [](LP *lp, run_settings &, double v) { lp->dense = static_cast<int>(v); }},
    {"dual", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->pdf = 2; }},
    {"epsdiag", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->epsdiag = v; }},
    {"epsnum", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->epsnum = v; }},
    {"epssol", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->epssol = v; }},
    {"honor_bnds", OPT_INT, [](LP *lp, run_settings &, double v) { lp->honor_bnds = static_cast<int>(v); }},
    {"honor_bnds_init", OPT_INT,
     [](LP *lp, run_settings &, double v) { lp->honor_bnds_init = static_cast<int>(v); }},
    {"inftol", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->inftol = v; }},
    {"inftol2", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->inftol2 = v; }},
    {"iterlim", OPT_INT, [](LP *lp, run_settings &, double v) { lp->itnlim = static_cast<int>(v); }},
    {"lessfill", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->pdf = 3; }},
    {"lsqinit", OPT_FLAG, [](LP *lp, run_settings &, double v) { lp->init = v != 0 ? lsq_init : deflt_init; }},
    {"lsqrows", OPT_FLAG, [](LP *lp, run_settings &, double v) { lp->init = v != 0 ? lsq_rows_init : deflt_init; }},
    {"max", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->max = -1; }},
    {"maximize", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->max = -1; }},
    {"maxit", OPT_INT, [](LP *lp, run_settings &, double v) { lp->itnlim = static_cast<int>(v); }},
    {"min", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->max = 1; }},
    {"mindeg", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->method = 1; }},
    {"minimize", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->max = 1; }},
    {"minlocfil", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->method = 2; }},
    {"mufactor", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->mufactor = v; }},
    {"nesdis", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->method = 4; }},
    {"noreord", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->method = 0; }},
    {"outlev", OPT_INT, [](LP *lp, run_settings &, double v) { lp->verbose = static_cast<int>(v); }},
    {"pred_corr", OPT_INT, [](LP *lp, run_settings &, double v) { lp->pred_corr = static_cast<int>(v); }},
    {"presolve", OPT_INT, [](LP *, run_settings &s, double v) { s.presolve = static_cast<int>(v); }},
    {"primal", OPT_FLAG, [](LP *lp, run_settings &, double v) { if (v != 0) lp->pdf = 1; }},
    {"sigfig", OPT_INT, [](LP *lp, run_settings &, double v) { lp->sf_req = static_cast<int>(v); }},
    {"stablty", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->stablty = v; }},
    {"steplen", OPT_REAL, [](LP *lp, run_settings &, double v) { lp->steplen = v; }},
    {"timlim", OPT_REAL, [](LP *, run_settings &s, double v) { s.timlim = v; }},
    {"verbose", OPT_INT, [](LP *lp, run_settings &, double v) { lp->verbose = static_cast<int>(v); }},
};

const option *find_option(const std::string &name) {
    for (const option &o : options)
        if (name == o.name) return &o;
    return nullptr;
}

// The value of option `o` as its setter takes it; TypeError or ValueError for a value of
// the wrong kind.
double option_value(const option &o, py::handle value) {
    const std::string name = o.name;
    const bool is_bool = PyBool_Check(value.ptr());
    if (o.kind == OPT_FLAG) {
        if (!is_bool) throw py::type_error("option " + name + " is a flag: give True or False");
        return value.ptr() == Py_True ? 1.0 : 0.0;
    }
    if (is_bool) throw py::type_error("option " + name + " takes a number, not True or False");
    if (o.kind == OPT_INT) {
        if (!PyIndex_Check(value.ptr())) throw py::type_error("option " + name + " takes an integer");
        const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
        if (!index) throw py::error_already_set();
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow != 0 || v < INT_MIN || v > INT_MAX) throw py::value_error("option " + name + " is out of range");
        return static_cast<double>(v);
    }
    if (!py::isinstance(value, py::module_::import("numbers").attr("Real")))
        throw py::type_error("option " + name + " takes a real number");
    const double v = PyFloat_AsDouble(value.ptr());
    if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return v;
}

// A value of option `o`, checked against the values its setting takes; ValueError (with
// the reader's words for it) when it takes others.
double checked_value(const option &o, py::handle value) {
    const double v = option_value(o, value);
    char why[160];
    if (!setting_in_range(o.name, v, why, sizeof why)) throw py::value_error(std::string("option ") + why);
    return v;
}

// Records closed when their holder goes.  closelp also releases the process-wide
// factorization work space: a record is only ever closed with the library held.
struct close_lp {
    void operator()(LP *lp) const { closelp(lp); }
};
using lp_ptr = std::unique_ptr<LP, close_lp>;

// A copy of an array into a block the record owns.
template <class T> T *record_copy(const char *name, const carray<T> &a) {
    const auto len = a.size();
    T *p = xmalloc<T>(name, "len", static_cast<long long>(len));
    if (len > 0) std::memcpy(p, a.data(), sizeof(T) * static_cast<std::size_t>(len));
    return p;
}

void need_length(const char *what, py::ssize_t have, long long want) {
    if (have != want)
        throw py::value_error(std::string(what) + " has " + std::to_string(have) + " entries, expected " +
                              std::to_string(want));
}

// Checks a matrix given by columns: `cols`+1 starts from 0, non-decreasing, up to the
// number of entries (which an int holds); row indices within [0, rows).
void check_columns(const char *what, int rows, int cols, const ivec &start, const ivec &index, const dvec &value) {
    const std::string w = what;
    need_length(what, start.size(), static_cast<long long>(cols) + 1);
    if (index.size() != value.size()) throw py::value_error(w + ": as many row indices as values are needed");
    if (index.size() > INT_MAX) throw py::value_error(w + " has too many entries");
    const int *k = start.data();
    if (k[0] != 0 || k[cols] != index.size())
        throw py::value_error(w + ": column starts must run from 0 to the number of entries");
    for (int j = 0; j < cols; ++j)
        if (k[j + 1] < k[j]) throw py::value_error(w + ": column starts must not decrease");
    const int *ix = index.data();
    for (py::ssize_t e = 0; e < index.size(); ++e)
        if (ix[e] < 0 || ix[e] >= rows) throw py::value_error(w + ": row index out of range");
}

// Presolve (unless switched off), solvelp and postsolve, as orva-mps runs them.
int run_solve(LP *lp, const run_settings &s) {
    if (s.presolve == 0) return solvelp(lp);
    prep *ps = presolve(lp, s.presolve);
    const std::unique_ptr<prep, void (*)(prep *)> hold(ps, freeprep);
    if (lp->verbose >= 1) prep_summary(ps);
    return solve_presolved(ps, lp);
}

// Runs `body` with the GIL released and the library held, the library's standard output
// relayed to `sink` when one is given; rethrows what the body threw once everything is
// back in place.
template <class Body> void in_library(std::function<void(std::string_view)> sink, Body &&body) {
    std::exception_ptr failure;
    {
        py::gil_scoped_release nogil;
        const std::lock_guard<std::mutex> hold(library_lock());
        std::unique_ptr<stdout_relay> relay;
        if (sink) relay = std::make_unique<stdout_relay>(std::move(sink));
        try {
            body();
        } catch (...) {
            failure = std::current_exception();
        }
        if (relay) relay->finish();
    }
    if (failure) std::rethrow_exception(failure);
}

// What a solve leaves: the result code, the point with its row duals y and bound duals
// zl (>= 0, lower bounds) and zu (<= 0, upper bounds), max*(c + Qx) = A'y + zl + zu, the
// objectives, iterations and wall-clock seconds.
struct solution {
    int status = 0;
    bool interrupted = false;
    std::vector<double> x, y, zl, zu;
    double primal = 0, dual = 0, seconds = 0;
    int iterations = 0;
};

void take_solution(const LP *lp, solution &out) {
    const int m = lp->m, n = lp->n;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const bool point = lp->x != nullptr;  // presolve may decide without a point
    out.x.assign(n, nan);
    out.zl.assign(n, nan);
    out.zu.assign(n, nan);
    out.y.assign(m, nan);
    out.primal = out.dual = nan;
    out.iterations = lp->iter;
    if (!point) return;
    for (int j = 0; j < n; ++j) {
        out.x[j] = lp->x[j];
        out.zl[j] = lp->z && lp->l[j] > -INF ? lp->z[j] : 0.0;
        out.zu[j] = lp->s && lp->u[j] < INF ? -lp->s[j] : 0.0;
    }
    if (lp->y)
        for (int i = 0; i < m; ++i) out.y[i] = lp->y[i];
    out.primal = lp->primal_obj;
    out.dual = lp->dual_obj;
}

template <class T> py::array_t<T> to_array(const T *p, std::size_t len) {
    py::array_t<T> a(static_cast<py::ssize_t>(len));
    if (len > 0) std::memcpy(a.mutable_data(), p, len * sizeof(T));
    return a;
}
template <class T> py::array_t<T> to_array(const std::vector<T> &v) { return to_array(v.data(), v.size()); }

py::dict solve(int m, int n, const dvec &c, const dvec &A, const ivec &iA, const ivec &kA, const dvec &b,
               const dvec &r, const dvec &Q, const ivec &iQ, const ivec &kQ, const dvec &l, const dvec &u,
               double f, int sense, const py::dict &opts) {
    if (m < 0 || n < 0) throw py::value_error("negative number of rows or columns");
    need_length("c", c.size(), n);
    need_length("b", b.size(), m);
    need_length("r", r.size(), m);
    need_length("l", l.size(), n);
    need_length("u", u.size(), n);
    check_columns("A", m, n, kA, iA, A);
    check_columns("Q", n, n, kQ, iQ, Q);

    // The caller's options, checked before anything is built.
    std::vector<std::pair<const option *, double>> settings;
    for (const auto &[key, value] : opts) {
        const std::string name = py::str(key);
        const option *o = find_option(name);
        if (!o) throw py::value_error("unknown option " + name);
        settings.emplace_back(o, checked_value(*o, value));
    }
    int verbose = 0;
    for (const auto &[o, v] : settings)
        if (!std::strcmp(o->name, "verbose") || !std::strcmp(o->name, "outlev")) verbose = static_cast<int>(v);

    solution sol;
    std::function<void(std::string_view)> sink;
    if (verbose != 0 && !sys_stdout_is_fd1()) sink = to_sys_stdout;
    in_library(std::move(sink), [&] {
        // The settings orva-mps solves with, then the caller's.
        run_settings rs;
        reset_opns();
        rs.presolve = findkey("presolve")->ival;
        const lp_ptr record(openlp());
        LP *lp = record.get();
        set_opns(lp);
        mps_method(lp);
        best_settings(lp);
        lp->verbose = 0;
        lp->max = sense < 0 ? -1 : 1;
        for (const auto &[o, v] : settings) o->set(lp, rs, v);

        lp->m = m;
        lp->n = n;
        lp->nz = static_cast<int>(A.size());
        lp->A = record_copy("A", A);
        lp->iA = record_copy("iA", iA);
        lp->kA = record_copy("kA", kA);
        lp->b = record_copy("b", b);
        lp->r = record_copy("r", r);
        lp->c = record_copy("c", c);
        lp->l = record_copy("l", l);
        lp->u = record_copy("u", u);
        lp->f = f;
        if (Q.size() > 0) {
            lp->qnz = static_cast<int>(Q.size());
            lp->Q = record_copy("Q", Q);
            lp->iQ = record_copy("iQ", iQ);
            lp->kQ = record_copy("kQ", kQ);
        }
        // The corrector depends on the quadratic part, now known; a caller's choice stays.
        const bool corrector_given = std::any_of(settings.begin(), settings.end(), [](const auto &sv) {
            return std::strcmp(sv.first->name, "pred_corr") == 0;
        });
        if (!corrector_given) best_corrector(lp);
        const bool ignored = sigint_ignored();
        lp->st_rule = ignored ? rule_ignoring_interrupts : rule_stopping_on_interrupt;

        const auto start = std::chrono::steady_clock::now();
        {
            const sigint_to_library sigint;
            // The time limit counts the processor seconds of this solve.
            lp->timlim = rs.timlim < 0 ? rs.timlim : cputimer() + rs.timlim;
            sol.status = run_solve(lp, rs);
        }
        sol.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fflush(stdout);
        sol.interrupted = interrupted != 0 && !ignored;
        interrupted = 0;
        take_solution(lp, sol);
    });
    if (sol.interrupted) {
        // Ctrl-C: Python's own SIGINT handler decides (by default KeyboardInterrupt); when it
        // ignores the signal, or this is not the main thread, the stopped solve is returned.
        PyErr_SetInterrupt();
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
    py::dict d;
    d["status"] = sol.status;
    d["message"] = sol.status >= 0 && sol.status <= 14 ? result_messages[sol.status] : "";
    d["x"] = to_array(sol.x);
    d["y"] = to_array(sol.y);
    d["zl"] = to_array(sol.zl);
    d["zu"] = to_array(sol.zu);
    d["primal_objective"] = sol.primal;
    d["dual_objective"] = sol.dual;
    d["iterations"] = sol.iterations;
    d["seconds"] = sol.seconds;
    return d;
}

// The label of row or column k without its trailing blanks.
std::vector<std::string> labels(char **lab, int count) {
    std::vector<std::string> out(count);
    for (int k = 0; k < count; ++k) {
        std::string s = lab && lab[k] ? lab[k] : "";
        while (!s.empty() && s.back() == ' ') s.pop_back();
        out[k] = std::move(s);
    }
    return out;
}

// A copy of a record's array, or `len` times `fill` when the array is absent.
template <class T> std::vector<T> vector_of(const T *p, long long len, T fill = T()) {
    std::vector<T> v(static_cast<std::size_t>(len), fill);
    if (p) std::copy(p, p + len, v.begin());
    return v;
}

py::dict read_mps(const std::string &path) {
    std::string messages, name;
    int m = 0, n = 0, sense = 1;
    double f = 0;
    std::vector<double> c, A, lo, hi, lb, ub, Q;
    std::vector<int> iA, kA, iQ, kQ;
    std::vector<std::string> rows, cols;
    in_library([&messages](std::string_view text) { messages.append(text); }, [&] {
        struct close_table {
            ~close_table() { hash_free(); }
        } const table;
        const lp_ptr record(openlp());
        LP *lp = record.get();
        const char *paths[] = {path.c_str()};
        readlp(1, paths, lp);
        // A "MAX" parameter line (written before NAME for a maximisation) sets the sense.
        sense = getparam("MAX") >= 0 ? -1 : 1;
        m = lp->m;
        n = lp->n;
        f = lp->f;
        name.assign(lp->name, strnlen(lp->name, sizeof lp->name));
        const int nz = lp->kA ? lp->kA[n] : 0, qnz = lp->kQ ? lp->kQ[n] : 0;
        c = vector_of(lp->c, n);
        A = vector_of(lp->A, nz);
        iA = vector_of(lp->iA, nz);
        kA = vector_of(lp->kA, n + 1);
        Q = vector_of(lp->Q, qnz);
        iQ = vector_of(lp->iQ, qnz);
        kQ = vector_of(lp->kQ, n + 1);
        lb = vector_of(lp->l, n);
        ub = vector_of(lp->u, n, INF);
        // Rows b <= A x <= b + r as their lower and upper sides.
        lo = vector_of(lp->b, m);
        hi = lo;
        for (int i = 0; i < m; ++i) {
            const double ri = lp->r ? lp->r[i] : 0.0;
            hi[i] = ri == INF ? INF : lo[i] + ri;
        }
        rows = labels(lp->rowlab, m);
        cols = labels(lp->collab, n);
    });
    py::dict d;
    d["name"] = name;
    d["m"] = m;
    d["n"] = n;
    d["c"] = to_array(c);
    d["A"] = to_array(A);
    d["iA"] = to_array(iA);
    d["kA"] = to_array(kA);
    d["l"] = to_array(lo);
    d["u"] = to_array(hi);
    d["lb"] = to_array(lb);
    d["ub"] = to_array(ub);
    d["Q"] = to_array(Q);
    d["iQ"] = to_array(iQ);
    d["kQ"] = to_array(kQ);
    d["f"] = f;
    d["sense"] = sense;
    d["row_names"] = rows;
    d["col_names"] = cols;
    d["messages"] = messages;
    return d;
}

py::list option_names() {
    py::list names;
    for (const option &o : options) names.append(o.name);
    return names;
}

} // namespace

PYBIND11_MODULE(_core, mod) {
    mod.doc() = "The compiled part of orva: solve a problem given as arrays, read MPS files.";
    static py::exception<error> lib_error(mod, "Error", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const error &e) {
            if (e.kind() == error_kind::allocation) {
                PyErr_SetString(PyExc_MemoryError, e.text().c_str());
                return;
            }
            std::string text = e.output();
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
            py::object inst = py::handle(lib_error.ptr())(text);
            inst.attr("code") = e.code();
            PyErr_SetObject(lib_error.ptr(), inst.ptr());
        }
    });
    mod.def("solve", &solve);
    mod.def("read_mps", &read_mps);
    mod.def("option_names", &option_names);
}
