// The program's flow: options, intake, hooks, solve, result, timing report.
#include <csignal>

#include "driver/asl_glue.h"
#include "driver/driver.h"
#include "ipm/ipm.h"
#include "lp/error.h"

namespace orva {

namespace {
// The record lives as long as the process: the ASL keeps pointers into it (the hooks and
// the result writer use it), and it is never released.
LP *the_lp = nullptr;

void timing_report(FILE *f, double t1, double t2, double t3, double t4) {
    Fprintf(f, "\nTimes (seconds):\nInput =  %g\nSolve =  %g\nOutput = %g\n", t2 - t1, t3 - t2,
            t4 - t3);
    Fprintf(f, "\nnn nonlinear evaluations = t seconds:\n");
    Fprintf(f, "\t%4d %10ss = %g\n", evals.fun_count, "function", evals.fun_time);
    Fprintf(f, "\t%4d %10ss = %g\n", evals.grad_count, "gradient", evals.grad_time);
    Fprintf(f, "\t%4d %10ss = %g\n", evals.con_count, "constraint", evals.con_time);
    Fprintf(f, "\t%4d %10ss = %g\n", evals.jac_count, "Jacobian", evals.jac_time);
    Fprintf(f, "\t%4d %10ss = %g\n", evals.hes_count, "Hessian", evals.hes_time);
    Fprintf(f, "Total nonlinear evaluation seconds = %g\n",
            0 + evals.fun_time + evals.grad_time + evals.con_time + evals.jac_time + evals.hes_time);
}
} // namespace

int main1(int argc, char **argv) {
    (void)argc;
    // A write past the file-size limit fails (and is reported) instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    ASL *asl = asl_create();
    LP *lp = the_lp = openlp();
    if (!lp) {
        std::fputs("Bug: openlp failure!\n", stderr);
        return 1;
    }
    const double t1 = xectim_();
    opts.timlim = std::numeric_limits<double>::infinity();
    char *stem = nullptr;
    if (parse_options(asl, argv, &stem)) return 1;
    amplin(asl, stem, lp);
    update_kp(lp);

    lp->nl_init = nl_init_ampl;
    lp->nl_update = nl_update_ampl;
    lp->nl_update_fg = nl_update_fg_ampl;
    lp->nl_update_h = nl_update_h_ampl;
    lp->nl_close = nl_close_ampl;
    if (opts.lsqinit != 0) lp->init = lsq_init;
    if (opts.lsqrows != 0) lp->init = lsq_rows_init;

    const double t2 = xectim_();
    const int result = solvelp(lp);
    const double t3 = xectim_();
    const int written = amplout(asl, lp, result);
    const double t4 = xectim_();

    if (opts.timing & 1) timing_report(stdout, t1, t2, t3, t4);
    if (opts.timing & 2) timing_report(stderr, t1, t2, t3, t4);
    // The log is output too: one that could not be written is reported as the .sol is.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Fprintf(Stderr, "can't write standard output\n");
        return 2;
    }
    return written;
}

int main1_failed(const error &e) {
    if (e.kind() == error_kind::allocation) {
        Printf("%s", e.text().c_str());
        mainexit_ASL(1);
    }
    return report(e);
}

} // namespace orva
