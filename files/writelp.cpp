// The MPS writer: the record's problem in the layout that readlp reads.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/mps.h"
#include "lp/lp.h"

namespace orva {

namespace {

// A row or column label, or the "R%-7d"/"C%-7d" label the solver would give it.
struct labeler {
    char *const *labels;
    char kind;
    char buf[2][16];
    int next = 0;
    const char *operator()(int i) {
        if (labels) return labels[i];
        char *b = buf[next];
        next ^= 1;
        std::snprintf(b, sizeof buf[0], "%c%-7d", kind, i);
        return b;
    }
};

} // namespace

int close_written(std::FILE *fp) {
    const bool failed = std::ferror(fp) != 0;
    const int closed = std::fclose(fp);
    return failed ? EOF : closed;
}

// Labels and set names are written in their 8-character fields, longer ones cut, so
// that every line keeps the fixed columns the reader expects.
int writelp(const LP *lp, const char *path) {
    std::FILE *fp = std::fopen(path, "w");
    if (!fp) {
        char msg[50];
        std::snprintf(msg, sizeof msg, "cannot open file %s\n", path);
        my_exit(2, msg);
    }
    return writelp(lp, fp);
}

int writelp(const LP *lp, std::FILE *fp) {
    const int m = lp->m, n = lp->n;
    const double inf = INFINITY;
    labeler row{lp->rowlab, 'R', {}}, col{lp->collab, 'C', {}};
    auto bval = [&](int i) { return lp->b ? lp->b[i] : 0.0; };
    auto rval = [&](int i) { return lp->r ? lp->r[i] : 0.0; };
    auto cval = [&](int j) { return lp->c ? lp->c[j] : 0.0; };
    auto lval = [&](int j) { return lp->l ? lp->l[j] : 0.0; };
    auto uval = [&](int j) { return lp->u ? lp->u[j] : inf; };

    if (lp->max == -1) std::fprintf(fp, "MAX\n");
    std::fprintf(fp, "NAME          %8s\n", lp->name);
    std::fprintf(fp, "ROWS\n");
    std::fprintf(fp, " N  %8.8s\n", lp->obj);
    for (int i = 0; i < m; ++i) std::fprintf(fp, rval(i) == 0.0 ? " E  %8.8s\n" : " G  %8.8s\n", row(i));

    std::fprintf(fp, "COLUMNS\n");
    for (int j = 0; j < n; ++j) {
        int k = lp->kA[j];
        const int e = lp->kA[j + 1];
        const std::string cls = col(j);
        const char *cl = cls.c_str();
        if (cval(j) != 0.0) {
            if (k < e) {
                std::fprintf(fp, "    %8.8s  %8.8s  %12.5e   %8.8s  %12.5e\n", cl, lp->obj, cval(j),
                             row(lp->iA[k]), lp->A[k]);
                ++k;
            } else {
                std::fprintf(fp, "    %8.8s  %8.8s  %12.5e\n", cl, lp->obj, cval(j));
            }
        }
        for (; k + 1 < e; k += 2)
            std::fprintf(fp, "    %8.8s  %8.8s  %12.5e   %8.8s  %12.5e\n", cl, row(lp->iA[k]), lp->A[k],
                         row(lp->iA[k + 1]), lp->A[k + 1]);
        if (k < e) std::fprintf(fp, "    %8.8s  %8.8s  %12.5e\n", cl, row(lp->iA[k]), lp->A[k]);
    }

    // Right-hand sides, two per line.  The objective constant f goes on the objective
    // row as -f, which is how the reader takes it back.
    std::fprintf(fp, "RHS\n");
    int count = 0;
    auto rhs_pair = [&](const char *label, double value) {
        if (count % 2 == 0)
            std::fprintf(fp, "    %8.8s  %8.8s  %12.5e", lp->rhs, label, value);
        else
            std::fprintf(fp, "   %8.8s  %12.5e\n", label, value);
        ++count;
    };
    if (lp->f != 0.0) rhs_pair(lp->obj, -lp->f);
    for (int i = 0; i < m; ++i)
        if (bval(i) != 0.0) rhs_pair(row(i), bval(i));
    if (count % 2) std::fprintf(fp, "\n");

    std::fprintf(fp, "BOUNDS\n");
    for (int j = 0; j < n; ++j) {
        const double lo = lval(j), up = uval(j);
        const std::string cls = col(j);
        const char *cl = cls.c_str();
        if (lo == -inf) {
            if (up == inf)
                std::fprintf(fp, " FR %8.8s  %8.8s \n", lp->bounds, cl);
            else
                std::fprintf(fp, " MI %8.8s  %8.8s \n", lp->bounds, cl);
        } else if (lo != 0.0) {
            std::fprintf(fp, " LO %8.8s  %8.8s  %12.5e \n", lp->bounds, cl, lo);
        }
        if (up < inf) std::fprintf(fp, " UP %8.8s  %8.8s  %12.5e \n", lp->bounds, cl, up);
    }

    std::fprintf(fp, "RANGES\n");
    for (int i = 0; i < m; ++i) {
        const double rg = rval(i);
        if (rg != 0.0 && rg != inf)
            std::fprintf(fp, "    %8.8s  %8.8s  %12.5e \n", lp->ranges, row(i), rg);
    }

    std::fprintf(fp, "QUADS\n");
    if (lp->kQ && lp->qnz > 0) {
        for (int j = 0; j < n; ++j) {
            int k = lp->kQ[j];
            const int e = lp->kQ[j + 1];
            while (k < e && lp->iQ[k] < j) ++k;
            const std::string cls = col(j);
            const char *cl = cls.c_str();
            for (; k + 1 < e; k += 2)
                std::fprintf(fp, "    %8.8s  %8.8s  %12.5e   %8.8s  %12.5e\n", cl, col(lp->iQ[k]), lp->Q[k],
                             col(lp->iQ[k + 1]), lp->Q[k + 1]);
            if (k < e) std::fprintf(fp, "    %8.8s  %8.8s  %12.5e\n", cl, col(lp->iQ[k]), lp->Q[k]);
        }
    }
    std::fprintf(fp, "ENDATA\n");
    return close_written(fp);
}

} // namespace orva
