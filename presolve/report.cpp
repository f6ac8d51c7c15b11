// The presolve report file and the one-line summary.
#include <cstdio>
#include <string>

#include "files/mps.h"
#include "lp/lp.h"
#include "presolve/presolve.h"

namespace orva {

namespace {

std::string name_of(const LP *lp, bool isrow, int k) { return prep_label(lp, isrow, k); }

struct totals {
    int rows = 0, cols = 0, steps = 0;
    long long nz = 0;
};

totals count(const prep *ps) {
    totals t;
    for (const prep_pass &p : ps->passes) {
        t.rows += p.rows;
        t.cols += p.cols;
        t.nz += p.nz;
    }
    t.steps = static_cast<int>(ps->stack.size());
    return t;
}

const char *bound_text(int flags) {
    switch (flags) {
    case 1: return "its lower bound";
    case 2: return "its upper bound";
    case 3: return "both its bounds";
    default: return "no tighter bound";
    }
}

} // namespace

void prep_summary(const prep *ps) {
    const totals t = count(ps);
    std::printf("presolve: removed %d rows, %d columns, %lld nonzeros (%d reductions) in %.2f seconds\n", t.rows,
                t.cols, t.nz, t.steps, ps->seconds);
}

int writeprep(const prep *ps, const LP *lp, const char *path) {
    std::FILE *fp = std::fopen(path, "w");
    if (!fp) {
        char msg[50];
        std::snprintf(msg, sizeof msg, "cannot open file %s\n", path);
        my_exit(2, msg);
    }
    return writeprep(ps, lp, fp);
}

int writeprep(const prep *ps, const LP *lp, std::FILE *fp) {
    const totals t = count(ps);
    std::fprintf(fp, "PRESOLVE REPORT %s\n", lp->name);
    std::fprintf(fp, "original problem: %d rows, %d columns, %lld nonzeros\n", ps->m, ps->n, ps->nz);
    if (ps->status != 0) {
        std::fprintf(fp, "presolve stopped: %s (result code %d)\n", ps->reason.data(), ps->status);
    } else if (ps->red) {
        std::fprintf(fp, "reduced problem: %d rows, %d columns, %d nonzeros\n", ps->red->m, ps->red->n,
                     ps->red->kA ? ps->red->kA[ps->red->n] : 0);
    }
    if (ps->skipped) std::fprintf(fp, "not reduced: the problem is passed on as it is\n");
    std::fprintf(fp, "removed: %d rows, %d columns, %lld nonzeros in %d reductions, %.3f seconds\n", t.rows, t.cols,
                 t.nz, t.steps, ps->seconds);

    std::fprintf(fp, "\nPASSES\n");
    for (std::size_t p = 0; p < ps->passes.size(); ++p) {
        const prep_pass &pp = ps->passes[p];
        std::fprintf(fp, "pass %zu: %d rows, %d columns, %lld nonzeros\n", p + 1, pp.rows, pp.cols, pp.nz);
        for (int w = 0; w < PW_COUNT; ++w)
            if (pp.why[w]) std::fprintf(fp, "    %-32s %8d\n", prep_why_names[w], pp.why[w]);
    }

    std::fprintf(fp, "\nREMOVED ROWS AND COLUMNS\n");
    for (const prep_step &st : ps->stack) {
        const char *why = prep_why_names[st.why];
        const int pass = st.pass;
        switch (st.kind) {
        case PK_DROPROW:
            std::fprintf(fp, "row    %-10s pass %3d  %s\n", name_of(lp, true, st.i).c_str(), pass, why);
            break;
        case PK_FIXCOL:
            if (st.i >= 0)
                std::fprintf(fp, "column %-10s pass %3d  %s: at %.9g by row %s\n", name_of(lp, false, st.j).c_str(),
                             pass, why, st.v, name_of(lp, true, st.i).c_str());
            else
                std::fprintf(fp, "column %-10s pass %3d  %s: at %.9g\n", name_of(lp, false, st.j).c_str(), pass, why,
                             st.v);
            break;
        case PK_SINGROW:
            std::fprintf(fp, "row    %-10s pass %3d  %s: gives column %s %s\n", name_of(lp, true, st.i).c_str(), pass,
                         why, name_of(lp, false, st.j).c_str(), bound_text(st.flags));
            break;
        case PK_FORCEROW:
            std::fprintf(fp, "row    %-10s pass %3d  %s: %d columns at the bounds of its %s side\n",
                         name_of(lp, true, st.i).c_str(), pass, why, st.len, st.v > 0 ? "upper" : "lower");
            break;
        case PK_DUPROW:
            std::fprintf(fp, "row    %-10s pass %3d  %s: %.9g times row %s\n", name_of(lp, true, st.k).c_str(), pass, why,
                         st.a, name_of(lp, true, st.i).c_str());
            break;
        case PK_COLSING:
            std::fprintf(fp, "column %-10s pass %3d  %s in row %s\n", name_of(lp, false, st.j).c_str(), pass, why,
                         name_of(lp, true, st.i).c_str());
            std::fprintf(fp, "row    %-10s pass %3d  %s %s\n", name_of(lp, true, st.i).c_str(), pass,
                         prep_why_names[PW_SINGROW], name_of(lp, false, st.j).c_str());
            break;
        case PK_DOUBLETON:
            std::fprintf(fp, "row    %-10s pass %3d  %s: column %s through column %s\n",
                         name_of(lp, true, st.i).c_str(), pass, why, name_of(lp, false, st.j).c_str(),
                         name_of(lp, false, st.k).c_str());
            std::fprintf(fp, "column %-10s pass %3d  %s through row %s\n", name_of(lp, false, st.j).c_str(), pass,
                         prep_why_names[PW_SUBSTCOL], name_of(lp, true, st.i).c_str());
            break;
        default: break;
        }
    }
    std::fprintf(fp, "ENDREPORT\n");
    return close_written(fp);
}

} // namespace orva
