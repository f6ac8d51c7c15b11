// orva-mps: solves a problem given as MPS/QPS files.
//
//   orva-mps [options] FILE... [keyword=value ...]
//
// The files are read as one MPS input ("-" is standard input); settings come from an
// optional specs file and keyword=value words.  Presolve reduces the problem (unless
// presolve=0), solvelp solves what is left and postsolve restores the solution of the
// problem as read.  The output always ends with the result message and four lines that
// scripts can read: "primal objective:", "dual objective:", "iterations:" and "seconds:".
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "files/labels.h"
#include "files/mps.h"
#include "files/specs.h"
#include "ipm/ipm.h"
#include "lp/best.h"
#include "lp/error.h"
#include "lp/lp.h"
#include "presolve/presolve.h"

using namespace orva;

namespace {

const char *program = "orva-mps";

void usage(std::FILE *to) {
    std::fprintf(to,
                 "usage: %s [options] FILE... [keyword=value ...]\n"
                 "\n"
                 "Reads the MPS or QPS files as one problem (\"-\" reads standard input), solves it\n"
                 "with the interior-point method and prints the iteration log and the result.\n"
                 "\n"
                 "options:\n"
                 "  -s FILE   take settings from a specs file (a keyword and a value per line)\n"
                 "  -o FILE   write the solution report (columns and rows) to FILE\n"
                 "  -w FILE   write the problem as read to FILE in MPS form\n"
                 "  -p FILE   write the presolve report (what each pass removed, and why) to FILE\n"
                 "  -h        print this text\n"
                 "\n"
                 "settings: keyword=value words (a flag by its name alone), after the specs file:\n"
                 "  integers: iterlim maxit sigfig outlev verbose dense lincons presolve\n"
                 "  reals (a value starts with a digit): inftol inftol2 steplen mufactor bndpush\n"
                 "         epssol epsnum epsdiag stablty timlim\n"
                 "  flags: min minimize max maximize convex primal dual lessfill noreord minlocfil\n"
                 "         mindeg amd nesdis autoord pred_corr honor_bnds honor_bnds_init quadratic\n"
                 "         sdp lsqinit lsqrows\n"
                 "  A flag may be given a whole number: pred_corr=N chooses the corrector (0 none,\n"
                 "  1 the fixed centering, 2 adaptive centering, 3 to 10 with up to N-2 centrality\n"
                 "  correctors; default 3 for a quadratic program, 1 for a linear one).\n"
                 "  The log level is verbose=2 unless set (verbose=0: no log).\n"
                 "  Unless a flag chooses them, the matrix reordering is minimum degree or, where it\n"
                 "  halves the operations, nested dissection (autoord), and the priority the fill\n"
                 "  estimates choose unless the other one halves the operations (lessfill).\n"
                 "  The start is the least-squares one with the rows' own scale (lsqrows) unless\n"
                 "  bndpush is given.\n"
                 "\n"
                 "presolve=N reduces the problem before the solve and restores the solution after\n"
                 "it: 0 off; 1 empty, free, redundant, singleton, forcing and duplicate rows and\n"
                 "empty and fixed columns; add 2 for free and implied-free column singletons and 4\n"
                 "for doubleton equations.  Default 3.  A line \"presolve: removed ...\" comes\n"
                 "before the log, and at verbose=2 and above the residuals of the restored solution\n"
                 "on the problem as read after it; a solution that this check finds not optimal\n"
                 "ends as SUBOPTIMAL SOLUTION FOUND.  -o reports the problem as read.\n"
                 "\n"
                 "The output ends with the result message and the lines\n"
                 "  primal objective: VALUE\n  dual objective: VALUE\n  iterations: N\n  seconds: T\n"
                 "Exit status: 0 after a solve whatever its result; 1 for bad options or settings,\n"
                 "unreadable files, data errors and output files that could not be written.\n",
                 program);
}

// A refusal of the program's own (bad options or settings, files it cannot open or
// write): main prints "orva-mps: text" on standard error and ends with status 1.
struct refusal {
    std::string text;
};
[[noreturn]] void fail(const std::string &text) { throw refusal{text}; }

// The record, closed when the run ends (or an error ends it).
struct close_lp {
    void operator()(LP *lp) const {
        closelp(lp);
        hash_free();
    }
};

bool file_exists(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0;
}

// Whether a word is a setting rather than a file: keyword=value, or a flag's bare name
// when no file of that name exists.
bool is_setting(const char *word) {
    if (std::strchr(word, '=')) return true;
    if (file_exists(word)) return false;
    const char *end = nullptr;
    const keyword *k = findkey(word, &end);
    return k && k->type == KEY_FLAG && *end == '\0';
}

bool flag_set(const char *name) {
    const keyword *k = findkey(name);
    return k && k->ival != 0;
}

bool any_flag(std::initializer_list<const char *> names) {
    for (const char *name : names)
        if (flag_set(name)) return true;
    return false;
}

// Writes a file with one of the writers; false when it cannot be opened or written.
template <class Writer> bool write_file(const char *path, Writer write) {
    std::FILE *fp = std::fopen(path, "w");
    return fp && write(fp) == 0;
}

int run(int argc, char **argv) {
    const double start = cputimer();
    const char *specs = nullptr, *report = nullptr, *mpsout = nullptr, *prepout = nullptr;
    std::vector<const char *> files, settings;

    // The log is on unless the settings say otherwise.
    findkey("verbose")->ival = 2;

    for (int a = 1; a < argc; ++a) {
        const char *arg = argv[a];
        if (!std::strcmp(arg, "-h") || !std::strcmp(arg, "--help")) {
            usage(stdout);
            return 0;
        }
        if (!std::strcmp(arg, "-s") || !std::strcmp(arg, "-o") || !std::strcmp(arg, "-w") ||
            !std::strcmp(arg, "-p")) {
            if (a + 1 >= argc) fail(std::string("option ") + arg + " needs a file name");
            const char *value = argv[++a];
            (arg[1] == 's' ? specs : arg[1] == 'o' ? report : arg[1] == 'w' ? mpsout : prepout) = value;
            continue;
        }
        if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "%s: unknown option %s\n", program, arg);
            usage(stderr);
            return 1;
        }
        if (arg[0] != '-' && is_setting(arg))
            settings.push_back(arg);
        else
            files.push_back(arg);
    }
    if (files.empty()) {
        std::fprintf(stderr, "%s: no problem file given\n", program);
        usage(stderr);
        return 1;
    }
    for (const char *f : files)
        if (std::strcmp(f, "-") != 0 && !file_exists(f)) fail(std::string("cannot open file ") + f);

    if (specs) {
        const int line = rd_specs(specs);
        if (line < 0) fail(std::string("cannot read specs file ") + specs);
        if (line > 0) fail(std::string("bad setting in specs file ") + specs + " at line " + std::to_string(line));
    }
    for (const char *s : settings)
        if (!rd_opns(s)) fail(std::string("bad setting: ") + s);

    const std::unique_ptr<LP, close_lp> record(openlp());
    LP *lp = record.get();
    set_opns(lp);
    // The library's best settings, where the user chose none of their kind.
    // A given bndpush asks for the described start, the one it applies to; a start flag
    // for the start it names.
    best_settings(lp, {!any_flag({"noreord", "mindeg", "minlocfil", "amd", "nesdis", "autoord"}),
                       !any_flag({"primal", "dual", "lessfill"}),
                       findkey("bndpush")->rval == -1.0 && !any_flag({"lsqinit", "lsqrows"})});
    readlp(static_cast<int>(files.size()), files.data(), lp);
    if (!flag_set("pred_corr")) best_corrector(lp);
    // A "MAX" parameter line (written before NAME for a maximisation) sets the sense,
    // unless a setting chose one.
    if (getparam("MAX") >= 0 && !flag_set("min") && !flag_set("minimize") && !flag_set("max") &&
        !flag_set("maximize"))
        lp->max = -1;
    if (mpsout && !write_file(mpsout, [&](std::FILE *fp) { return writelp(lp, fp); }))
        fail(std::string("cannot write file ") + mpsout);

    const int opts = findkey("presolve")->ival;
    int status;
    bool prep_lost = false;
    if (opts != 0) {
        prep *ps = presolve(lp, opts);
        if (lp->verbose >= 1) prep_summary(ps);
        if (prepout) prep_lost = !write_file(prepout, [&](std::FILE *fp) { return writeprep(ps, lp, fp); });
        status = solve_presolved(ps, lp);
        freeprep(ps);
    } else {
        if (prepout) {
            prep none;
            none.m = lp->m;
            none.n = lp->n;
            none.nz = lp->nz;
            none.skipped = true;
            prep_lost = !write_file(prepout, [&](std::FILE *fp) { return writeprep(&none, lp, fp); });
        }
        status = solvelp(lp);
    }
    // At verbose 2 and above solvelp has printed the message itself.
    if (lp->verbose < 2) opt_message(status);
    std::printf("primal objective: %.12e\n", lp->primal_obj);
    std::printf("dual objective: %.12e\n", lp->dual_obj);
    std::printf("iterations: %d\n", lp->iter);
    std::printf("seconds: %.3f\n", cputimer() - start);
    // The report comes after the result, so that a report that cannot be written loses
    // nothing else; output that could not be written (the result too) is an error.
    const bool out_lost = std::fflush(stdout) != 0 || std::ferror(stdout);
    const bool report_lost = report && !write_file(report, [&](std::FILE *fp) { return writesol(lp, fp); });
    if (out_lost) std::fprintf(stderr, "%s: cannot write standard output\n", program);
    if (report_lost) std::fprintf(stderr, "%s: cannot write file %s\n", program, report);
    if (prep_lost) std::fprintf(stderr, "%s: cannot write file %s\n", program, prepout);
    return out_lost || report_lost || prep_lost ? 1 : 0;
}

} // namespace

int main(int argc, char **argv) {
    // A write past the file-size limit fails (and is reported) instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const refusal &r) {
        std::fprintf(stderr, "%s: %s\n", program, r.text.c_str());
        return 1;
    } catch (const error &e) {
        return report(e);
    }
}
