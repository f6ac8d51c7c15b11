// Presolve and postsolve of linear and convex quadratic problems held in an lp record.
//
// `presolve` takes a filled record and builds a smaller one that `solvelp` solves in its
// place, together with the stack of the reductions that led to it: empty, free,
// redundant, singleton, forcing and duplicate rows, empty and fixed columns, and, as
// options, free and implied-free column singletons and doubleton equations.  Passes
// repeat over the rows and columns that the last pass touched until one removes nothing.
// `postsolve` undoes the stack in reverse order on the reduced problem's solution and
// leaves in the original record the primal values x, the row duals y and the bound duals
// z (lower) and s (upper), so that max*(c + Qx) - A'y - z + s = 0; it then checks the
// point on the original problem.
//
// Sign conventions are those of the solver: rows b <= Ax <= b + r with y >= 0 when the
// lower side is active and y <= 0 at the upper side; bounds l <= x <= u with z, s >= 0.
// Bounds beyond +-1e8 count as infinite, as in solvelp.
//
// The AMPL driver never calls these routines: AMPL presolves before it writes the .nl
// file, and nonlinear problems are not reduced.
#pragma once

#include <cstdio>

#include <string>
#include <vector>

namespace orva {

struct LP;

// Reductions presolve may use (the `opts` of presolve): the basic ones always, the two
// others when their bit is set.
enum {
    PO_BASIC = 1,      // empty, free, redundant, singleton, forcing and duplicate rows;
                       // empty and fixed columns (always made)
    PO_COLSING = 2,    // free and implied-free column singletons
    PO_DOUBLETON = 4,  // doubleton equations
    PO_ALL = 7,
    // What pays on the public LP and QP sets: the doubleton equations cost more in the
    // factorization than they save (dfl001: 10 % more operations per iteration).
    PO_DEFAULT = PO_BASIC | PO_COLSING
};

// Why a row or a column was removed (the report's reasons, also counted by pass).
enum prep_why {
    PW_EMPTYROW,    // row without entries
    PW_FREEROW,     // row without sides
    PW_REDUNDANT,   // the variable bounds keep the row's activity within its sides
    PW_SINGLETON,   // row with one entry, turned into bounds of its column
    PW_FORCING,     // the bounds allow one activity only, at a side: its columns are fixed
    PW_DUPLICATE,   // row parallel to another one, merged into it
    PW_SINGROW,     // row of a column singleton, dropped with it
    PW_DOUBLETON,   // equation in two columns, one of them substituted
    PW_EMPTYCOL,    // column without entries (and without Q entries off its diagonal)
    PW_FIXEDCOL,    // column with equal bounds
    PW_FORCEDCOL,   // column fixed by a forcing row
    PW_FREECOL,     // free column singleton
    PW_IMPLFREE,    // implied-free column singleton
    PW_SUBSTCOL,    // column substituted through a doubleton equation
    PW_COUNT
};

// Names of the reasons as the report prints them.
extern const char *const prep_why_names[PW_COUNT];

// What postsolve does for one reduction.
enum prep_kind {
    PK_DROPROW,   // row dropped with dual 0
    PK_FIXCOL,    // column fixed at a value; its bound duals from its reduced cost
    PK_SINGROW,   // singleton row: the duals of the bounds it gave move to the row
    PK_FORCEROW,  // forcing row: its dual keeps its fixed columns' reduced costs signed
    PK_DUPROW,    // duplicate row: the dual of the sides it gave moves back to it
    PK_COLSING,   // column singleton: its value from its row, the row's dual from its cost
    PK_DOUBLETON  // substituted column: its value from the equation, duals through it
};

// One stored entry of a row or a column: index and value.
struct prep_ent {
    int idx;
    double val;
};

// One reduction on the stack.
struct prep_step {
    int kind = 0;   // prep_kind
    int why = 0;    // prep_why of the row or column it removed
    int pass = 0;   // pass that made it (1-based)
    int i = -1;     // row concerned (for a forced column: the forcing row)
    int j = -1;     // column concerned
    int k = -1;     // kept column (doubleton) or removed row (duplicate)
    int flags = 0;  // 1: a lower bound or side changed, 2: an upper one
    double a = 0;   // a_ij (singleton row, column singleton, doubleton), ratio (duplicate)
    double v = 0;   // value of a fixed column, side of a column singleton's row,
                    // right-hand side of a doubleton, side of a forcing row (+1 upper)
    double w = 0;   // a_ik of a doubleton
    double cost = 0;  // the column's cost when it was removed
    int first = 0;  // stored entries in prep::pool: the column (fixed column, doubleton)
    int len = 0;    // or the row (forcing row, column singleton) as it stood
};

// Counts of one pass.
struct prep_pass {
    int why[PW_COUNT] = {};
    int rows = 0, cols = 0;  // rows and columns removed
    long long nz = 0;        // entries removed, net of fill
};

// The result of presolve.
struct prep {
    int status = 0;        // 0 reduced; else the result code of solvelp for what presolve
                           // found (infeasible or unbounded), and red is null
    std::vector<char> reason;  // what presolve found then, as text
    LP *red = nullptr;     // the reduced problem (its own record)
    int m = 0, n = 0;      // sizes of the original problem
    long long nz = 0;
    std::vector<int> rowmap, colmap;  // original index -> reduced index, or -1
    std::vector<prep_step> stack;
    std::vector<prep_ent> pool;
    std::vector<prep_pass> passes;
    int opts = 0;
    double seconds = 0;
    bool skipped = false;  // copied unreduced (a problem presolve does not take)
};

// The check of a solution on a problem.
struct solcheck {
    double pres = 0;    // largest violation of a row side or a bound
    double dres = 0;    // largest dual violation (as the solver's dual measure)
    double cmax = 0;    // largest complementarity product
    double primal_inf = 0, dual_inf = 0;  // as solvelp measures them (relative)
    double pobj = 0, dobj = 0;            // primal objective; P - max*(sum of products)
    int sigfig = 0;     // significant figures to which they agree
    int gapfig = 0;     // the same with z and s the parts of the reduced costs
                        // max*(c + Qx) - A'y (the gap of x and y alone)
    bool ok = false;    // within inftol and sf_req, as the stopping rule asks
};

// Reduces the problem of `lp` with the reductions of `opts`; `lp` is not changed,
// except that bounds beyond +-1e8 become infinite as solvelp would make them.  A problem
// presolve does not take (nonlinear hooks, SDP blocks, a damaged matrix or one with a
// repeated entry, a negative or undefined range, values that are not numbers) is copied
// unreduced, so that solvelp reports it.  Release the result with freeprep.
prep *presolve(LP *lp, int opts = PO_DEFAULT);

// Restores the solution of the solved reduced problem ps->red into the original record:
// x, y, z and s (allocated when absent), iter, primal_obj and dual_obj (from the check);
// then checks the point on the original problem, prints the check at verbose >= 2 and
// returns it.
solcheck postsolve(const prep *ps, LP *lp);

// Solves the reduced problem of `ps` and restores its solution into `lp` (the record
// presolve reduced): when presolve itself decided (infeasible or unbounded) its result
// without iterating; otherwise solvelp on ps->red, then postsolve, whose check on the
// problem as read turns an optimal result it refutes into 1 (suboptimal).  Prints, at
// lp->verbose 1 and above, what presolve decided or why the check refuted, and at 2 and
// above the final message.  Returns the result code.
int solve_presolved(prep *ps, LP *lp);

// Evaluates the record's x, y, z and s on its problem with the solver's own measures:
// violations of row sides and bounds; reduced costs of a sign no bound takes (for a
// column with both bounds the residual of their split into z and s); products of the
// duals with the distances to their bounds and sides (none for an equation).  Also the
// figures of the duality gap when z and s are taken from the reduced costs instead.
solcheck chksol(const LP *lp);

// Writes the report: counts by reduction and pass, and every removed row and column with
// its label and why.  Returns 0, or EOF when the file could not be written; a path that
// cannot be opened ends the run (code 2), as for the other report files.
int writeprep(const prep *ps, const LP *lp, const char *path);
// The same into a file opened for writing, which it closes.
int writeprep(const prep *ps, const LP *lp, std::FILE *fp);

// Prints "presolve: removed R rows, C columns, N nonzeros (M reductions) in S seconds".
void prep_summary(const prep *ps);

// The label of row (isrow) or column k without its trailing blanks; R7 or C7 without labels.
std::string prep_label(const LP *lp, bool isrow, int k);

// Releases the result and its reduced record.
void freeprep(prep *ps);

} // namespace orva
