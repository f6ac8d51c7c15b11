// The option keywords of the AMPL driver and the settings they write.
#include "driver/asl_glue.h"

namespace orva {

ampl_settings opts;
char no_nonlin_cons = 0;
eval_stats evals{};

char orva_bsname[] = "ORVA 7.03";
char orva_version[] = "Version 7.03 (20150119)";

namespace {
char *S(const char *s) { return const_cast<char *>(s); }

// Fixed values for the keywords that take no value and store a known int.
I_Known dual_kn = {2, &opts.pdf};
I_Known primal_kn = {1, &opts.pdf};
I_Known max_kn = {-1, &opts.sense};
I_Known mindeg_kn = {1, &opts.method};
I_Known minlocfil_kn = {2, &opts.method};
I_Known noreord_kn = {0, &opts.method};

// Sorted by keyword in byte order: the ASL finds keywords by binary search.
keyword keywds[] = {
    {S("bndpush"), D_val_ASL, &opts.bndpush, S("initial distance from bounds")},
    {S("bounds"), C_val_ASL, &opts.bounds, S("name of MPS BOUNDS section")},
    {S("convex"), IK1_val_ASL, &opts.convex, S("assert problem is convex")},
    {S("dense"), I_val_ASL, &opts.dense, S("dense window threshold")},
    {S("dual"), IK_val_ASL, &dual_kn, S("dual-favored matrix reordering")},
    {S("epsdiag"), D_val_ASL, &opts.epsdiag, S("eps tol diag perturbation")},
    {S("epsnum"), D_val_ASL, &opts.epsnum, S("eps tol for numerical factorization")},
    {S("epssol"), D_val_ASL, &opts.epssol, S("eps tol for forward/backward solve")},
    {S("honor_bnds"), I_val_ASL, &opts.honor_bnds, S("honor bounds on variables")},
    {S("honor_bnds_init"), I_val_ASL, &opts.honor_bnds_init, S("honor bnds initially")},
    {S("ignore_initsol"), IK1_val_ASL, &opts.ignore_initsol,
     S("ignore given initial guesses; make automatic choice")},
    {S("inftol"), D_val_ASL, &opts.inftol, S("Feasibility tolerance")},
    {S("inftol2"), D_val_ASL, &opts.inftol2, S("Feasibility tolerance 2")},
    {S("iterlim"), I_val_ASL, &opts.iterlim, S("Iteration Limit (ITERLIM)")},
    {S("lp_only"), IK1_val_ASL, &opts.lp_only, S("linearize only---don't quadraticize")},
    {S("max"), IK_val_ASL, &max_kn, S("maximize the objective")},
    {S("maximize"), IK_val_ASL, &max_kn, S("maximize the objective")},
    {S("maxit"), I_val_ASL, &opts.iterlim, S("Iteration Limit (ITERLIM)")},
    {S("min"), IK1_val_ASL, &opts.sense, S("minimize the objective")},
    {S("mindeg"), IK_val_ASL, &mindeg_kn, S("minimum degree matrix reordering")},
    {S("minimize"), IK1_val_ASL, &opts.sense, S("minimize the objective")},
    {S("minlocfil"), IK_val_ASL, &minlocfil_kn, S("minimum local fill matrix reordering")},
    {S("mufactor"), D_val_ASL, &opts.mufactor, S("mu factor")},
    {S("noreord"), IK_val_ASL, &noreord_kn, S("no matrix reordering")},
    {S("obj"), C_val_ASL, &opts.obj, S("name of MPS objective row")},
    {S("objno"), I_val_ASL, &opts.objno, S("objective number: 1= first, 0= none")},
    {S("outlev"), I_val_ASL, &opts.outlev, S("output level")},
    {S("penalty"), D_val_ASL, &opts.penalty, S("penalty parameter")},
    {S("pred_corr"), I_val_ASL, &opts.pred_corr, S("pred= 0, pred_corr= 1, unset= -1")},
    {S("primal"), IK_val_ASL, &primal_kn, S("primal-favored matrix reordering")},
    {S("ranges"), C_val_ASL, &opts.ranges, S("name of MPS RANGES section")},
    {S("rhs"), C_val_ASL, &opts.rhs, S("name of MPS right-hand side section")},
    {S("sdp"), IK1_val_ASL, &opts.sdp, S("assert problem is an SDP")},
    {S("sigfig"), I_val_ASL, &opts.sigfig,
     S("significant digits (agreement in primal and dual objectives)")},
    {S("stablty"), D_val_ASL, &opts.stablty, S("mixing factor for matrix reordering")},
    {S("steplen"), D_val_ASL, &opts.steplen, S("step length reduction factor")},
    {S("timing"), I_val_ASL, &opts.timing,
     S("timing destination: 1 = stdout, 2 = stderr, 3 = both")},
    {S("timlim"), D_val_ASL, &opts.timlim, S("Time limit")},
    {S("verbose"), I_val_ASL, &opts.outlev, S("synonym for outlev")},
    {S("version"), Ver_val_ASL, nullptr, S("single-word phrase: report version before solving")},
    {S("wantsol"), WS_val_ASL, nullptr,
     S("solution report without -AMPL: sum of\n\t\t1 ==> write .sol file\n\t\t2 ==> print primal "
       "variable values\n\t\t4 ==> print dual variable values\n\t\t8 ==> do not print solution "
       "message")},
    {S("zero_initsol"), IK1_val_ASL, &opts.zero_initsol, S("start at the origin")},
};
static_assert(sizeof keywds / sizeof keywds[0] == 42, "the keyword table has 42 entries");

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
