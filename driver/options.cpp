// The option keywords of the AMPL driver and the settings they write.
#include <cerrno>
#include <climits>

#include "driver/asl_glue.h"
#include "lp/ranges.h"

namespace orva {

ampl_settings opts;
char no_nonlin_cons = 0;
eval_stats evals{};

char orva_bsname[] = "ORVA 7.03";
char orva_version[] = "Version 7.03 (20150119)";

namespace {
char *S(const char *s) { return const_cast<char *>(s); }

// Refuses an option word with a message; the ASL then ends the run with status 1.
char *refuse(Option_Info *oi, keyword *kw, char *value, const char *why) {
    char *end = value;
    while (*end > ' ') ++end;
    Fprintf(Stderr, "%s%s%.*s: %s\n", kw->name, oi->eqsign ? oi->eqsign : "=", static_cast<int>(end - value), value,
            why);
    badopt_ASL(oi);
    return end;
}

// An int setting: the whole word must be a number within the int range (and the
// setting's own range) before the ASL's handler stores it; a missing value, trailing
// characters or a number that would wrap around are refused instead of read as 0 or as
// another number.
char *int_val(Option_Info *oi, keyword *kw, char *value) {
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(value, &end, 10);
    char why[120];
    if (end == value) return refuse(oi, kw, value, "a whole number is needed");
    if (*end > ' ') return refuse(oi, kw, value, "not a whole number");
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return refuse(oi, kw, value, "out of the range of an int");
    if (!setting_in_range(kw->name, static_cast<double>(v), why, sizeof why)) return refuse(oi, kw, value, why);
    return I_val_ASL(oi, kw, value);
}

// A real setting: the whole word must be a number (not NaN) within the setting's range.
char *real_val(Option_Info *oi, keyword *kw, char *value) {
    char *end = nullptr;
    const double v = strtod(value, &end);
    char why[120];
    if (end == value) return refuse(oi, kw, value, "a number is needed");
    if (*end > ' ') return refuse(oi, kw, value, "not a number");
    if (!setting_in_range(kw->name, v, why, sizeof why)) return refuse(oi, kw, value, why);
    return D_val_ASL(oi, kw, value);
}

// Fixed values for the keywords that take no value and store a known int.
I_Known dual_kn = {2, &opts.pdf};
I_Known primal_kn = {1, &opts.pdf};
I_Known max_kn = {-1, &opts.sense};
I_Known mindeg_kn = {1, &opts.method};
I_Known minlocfil_kn = {2, &opts.method};
I_Known noreord_kn = {0, &opts.method};
I_Known amd_kn = {3, &opts.method};
I_Known nesdis_kn = {4, &opts.method};
I_Known autoord_kn = {5, &opts.method};
I_Known lessfill_kn = {3, &opts.pdf};

// Sorted by keyword in byte order: the ASL finds keywords by binary search.
keyword keywds[] = {
    {S("amd"), IK_val_ASL, &amd_kn, S("approximate minimum degree matrix reordering")},
    {S("autoord"), IK_val_ASL, &autoord_kn,
     S("minimum degree or, when it halves the operations, nested dissection reordering")},
    {S("bndpush"), real_val, &opts.bndpush, S("initial distance from bounds")},
    {S("bounds"), C_val_ASL, &opts.bounds, S("name of MPS BOUNDS section")},
    {S("convex"), IK1_val_ASL, &opts.convex, S("assert problem is convex")},
    {S("dense"), int_val, &opts.dense, S("dense window threshold")},
    {S("dual"), IK_val_ASL, &dual_kn, S("dual-favored matrix reordering")},
    {S("epsdiag"), real_val, &opts.epsdiag, S("eps tol diag perturbation")},
    {S("epsnum"), real_val, &opts.epsnum, S("eps tol for numerical factorization")},
    {S("epssol"), real_val, &opts.epssol, S("eps tol for forward/backward solve")},
    {S("honor_bnds"), int_val, &opts.honor_bnds, S("honor bounds on variables")},
    {S("honor_bnds_init"), int_val, &opts.honor_bnds_init, S("honor bnds initially")},
    {S("ignore_initsol"), IK1_val_ASL, &opts.ignore_initsol,
     S("ignore given initial guesses; make automatic choice")},
    {S("inftol"), real_val, &opts.inftol, S("Feasibility tolerance")},
    {S("inftol2"), real_val, &opts.inftol2, S("Feasibility tolerance 2")},
    {S("iterlim"), int_val, &opts.iterlim, S("Iteration Limit (ITERLIM)")},
    {S("lessfill"), IK_val_ASL, &lessfill_kn,
     S("primal- or dual-favored matrix reordering by the operations they need")},
    {S("lp_only"), IK1_val_ASL, &opts.lp_only, S("linearize only---don't quadraticize")},
    {S("lsqinit"), IK1_val_ASL, &opts.lsqinit,
     S("least-squares initial point, shifted into the interior by the data's scale")},
    {S("lsqrows"), IK1_val_ASL, &opts.lsqrows,
     S("lsqinit, with the rows' slacks of a QP in inequality form at the rows' own scale")},
    {S("max"), IK_val_ASL, &max_kn, S("maximize the objective")},
    {S("maximize"), IK_val_ASL, &max_kn, S("maximize the objective")},
    {S("maxit"), int_val, &opts.iterlim, S("Iteration Limit (ITERLIM)")},
    {S("min"), IK1_val_ASL, &opts.sense, S("minimize the objective")},
    {S("mindeg"), IK_val_ASL, &mindeg_kn, S("minimum degree matrix reordering")},
    {S("minimize"), IK1_val_ASL, &opts.sense, S("minimize the objective")},
    {S("minlocfil"), IK_val_ASL, &minlocfil_kn, S("minimum local fill matrix reordering")},
    {S("mufactor"), real_val, &opts.mufactor, S("mu factor")},
    {S("nesdis"), IK_val_ASL, &nesdis_kn, S("nested dissection matrix reordering")},
    {S("noreord"), IK_val_ASL, &noreord_kn, S("no matrix reordering")},
    {S("obj"), C_val_ASL, &opts.obj, S("name of MPS objective row")},
    {S("objno"), int_val, &opts.objno, S("objective number: 1= first, 0= none")},
    {S("outlev"), int_val, &opts.outlev, S("output level")},
    {S("penalty"), real_val, &opts.penalty, S("penalty parameter")},
    {S("pred_corr"), int_val, &opts.pred_corr, S("pred= 0, pred_corr= 1, unset= -1; 2: adaptive centering, 3 to 10: "
                                                 "with up to 1 to 8 centrality correctors")},
    {S("primal"), IK_val_ASL, &primal_kn, S("primal-favored matrix reordering")},
    {S("ranges"), C_val_ASL, &opts.ranges, S("name of MPS RANGES section")},
    {S("rhs"), C_val_ASL, &opts.rhs, S("name of MPS right-hand side section")},
    {S("sdp"), IK1_val_ASL, &opts.sdp, S("assert problem is an SDP")},
    {S("sigfig"), int_val, &opts.sigfig,
     S("significant digits (agreement in primal and dual objectives)")},
    {S("stablty"), real_val, &opts.stablty, S("mixing factor for matrix reordering")},
    {S("steplen"), real_val, &opts.steplen, S("step length reduction factor")},
    {S("timing"), int_val, &opts.timing,
     S("timing destination: 1 = stdout, 2 = stderr, 3 = both")},
    {S("timlim"), real_val, &opts.timlim, S("Time limit")},
    {S("verbose"), int_val, &opts.outlev, S("synonym for outlev")},
    {S("version"), Ver_val_ASL, nullptr, S("single-word phrase: report version before solving")},
    {S("wantsol"), WS_val_ASL, nullptr,
     S("solution report without -AMPL: sum of\n\t\t1 ==> write .sol file\n\t\t2 ==> print primal "
       "variable values\n\t\t4 ==> print dual variable values\n\t\t8 ==> do not print solution "
       "message")},
    {S("zero_initsol"), IK1_val_ASL, &opts.zero_initsol, S("start at the origin")},
};
static_assert(sizeof keywds / sizeof keywds[0] == 48, "the keyword table has 48 entries");

Option_Info make_oinfo() {
    Option_Info oi{};
    oi.sname = S("orva");
    oi.bsname = orva_bsname;
    oi.opname = S("orva_options");
    oi.keywds = keywds;
    oi.n_keywds = static_cast<int>(sizeof keywds / sizeof keywds[0]);
    oi.flags = 1; // ASL_OI_want_funcadd: AMPL's imported-function libraries may be loaded
    oi.version = orva_version;
    oi.driver_date = 20260614;
    oi.wantsol = 0;
    return oi;
}
} // namespace

Option_Info Oinfo = make_oinfo();

ASL *asl_create() { return ASL_alloc(ASL_read_pfgh); }

int parse_options(ASL *asl, char **argv, char **stem) {
    *stem = getstub_ASL(asl, &argv, &Oinfo);
    return getopts_ASL(asl, argv, &Oinfo) ? 1 : 0;
}

void reset_settings() {
    opts = ampl_settings{};
    Oinfo = make_oinfo();
    no_nonlin_cons = 0;
    evals = eval_stats{};
}

} // namespace orva
