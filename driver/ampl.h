// The AMPL side of the solver: reading an .nl problem into an lp record, the
// evaluation hooks that re-linearise it, and the result returned to AMPL.
// The ASL record is only named here; its definitions stay in the driver's sources.
#pragma once

struct ASL;

namespace orva {

struct LP;

// Reads the problem of `stem` (null: usage text and exit 1) into the record.
int amplin(ASL *asl, char *stem, LP *lp);
// Copies the option settings into the record.
void update_kp(LP *lp);
// Writes the result code, message and solution of a solve into the .sol file; returns 0,
// or 2 after a message when the file was not written completely.
int amplout(ASL *asl, LP *lp, int result);
// Writes the .sol file (when one is wanted) through the ASL and checks that it was written
// completely: returns 0, or 2 after a message.
int write_result(ASL *asl, const char *msg, double *x, double *y);

// Evaluation hooks installed by the driver.
int nl_init_ampl(LP *lp);
int nl_update_ampl(LP *lp, int flag);
int nl_update_fg_ampl(LP *lp);
int nl_update_h_ampl(LP *lp);
void nl_close_ampl(LP *lp);

// Creates the ASL record (reader kind pfgh) and makes it current.
ASL *asl_create();
// Parses the command line and orva_options; returns the stem (or null) in *stem and
// 0, or non-zero when an option was bad.
int parse_options(ASL *asl, char **argv, char **stem);
// Degree of objective o of the problem `stem` (1 linear, 2 quadratic, 3 general), read
// through a temporary record; the record `asl` is made current again.
int objective_degree(ASL *asl, const char *stem, int o);
// Puts every option setting and evaluation counter back to its initial value (a fresh
// process state, for running several problems in one process).
void reset_settings();

// Evaluation counters and seconds of the hooks.
struct eval_stats {
    int fun_count, grad_count, con_count, jac_count, hes_count;
    double fun_time, grad_time, con_time, jac_time, hes_time;
};
extern eval_stats evals;

} // namespace orva
