// The solution report: one line per column and per row, flagged "OB" when the value
// lies outside its bounds by more than 1.2 times the feasibility tolerance.
#include <cmath>
#include <cstdio>
#include <string>

#include "files/mps.h"
#include "lp/alloc.h"
#include "lp/lp.h"

namespace orva {

int writesol(const LP *lp, const char *path) {
    std::FILE *fp = std::fopen(path, "w");
    if (!fp) {
        char msg[50];
        std::snprintf(msg, sizeof msg, "cannot open file %s\n", path);
        my_exit(2, msg);
    }
    return writesol(lp, fp);
}

int writesol(const LP *lp, std::FILE *fp) {
    const int m = lp->m, n = lp->n;
    const double inf = INFINITY;
    auto at = [](const double *v, int i, double dflt) { return v ? v[i] : dflt; };

    double *rowact = xcalloc<double>("rowact", "m", m);
    if (lp->x && lp->kA)
        for (int j = 0; j < n; ++j)
            for (int k = lp->kA[j]; k < lp->kA[j + 1]; ++k) rowact[lp->iA[k]] += lp->A[k] * lp->x[j];
    const double tol = 1.2 * lp->inftol;
    char label[16];
    auto name = [&](char *const *labels, char kind, int i) -> std::string {
        if (labels) return labels[i];
        std::snprintf(label, sizeof label, "%c%-7d", kind, i);
        return label;
    };

    std::fprintf(fp, "COLUMNS SECTION\n");
    std::fprintf(fp, "   index       label  primal_val reduced_cst");
    std::fprintf(fp, "    lower_bd    upper_bd   OB_flag\n");
    for (int j = 0; j < n; ++j) {
        const double x = at(lp->x, j, 0.0), lo = at(lp->l, j, 0.0), up = at(lp->u, j, inf);
        // A column bounded above only has its bound dual in s; every other one in z.
        const double rc = (lo == -inf && up != inf) ? at(lp->s, j, 0.0) : at(lp->z, j, 0.0);
        const std::string lab = name(lp->collab, 'C', j);
        if (lo == -inf && up == inf)
            std::fprintf(fp, "%8d  %10s %14.6e %14.6e   -Infinity    Infinity", j, lab.c_str(), x, rc);
        else if (lo == -inf)
            std::fprintf(fp, "%8d  %10s %14.6e %14.6e   -Infinity %14.6e", j, lab.c_str(), x, rc, up);
        else if (up == inf)
            std::fprintf(fp, "%8d  %10s %14.6e %14.6e %14.6e    Infinity", j, lab.c_str(), x, rc, lo);
        else
            std::fprintf(fp, "%8d  %10s %14.6e %14.6e %14.6e %14.6e", j, lab.c_str(), x, rc, lo, up);
        std::fprintf(fp, (x < lo - tol || x > up + tol) ? "      OB\n" : "\n");
    }

    std::fprintf(fp, "ROWS SECTION\n");
    std::fprintf(fp, "   index       label    dual_val  row_actvty");
    std::fprintf(fp, " rght_hnd_sd       range   OB_flag\n");
    for (int i = 0; i < m; ++i) {
        const double y = at(lp->y, i, 0.0), b = at(lp->b, i, 0.0), r = at(lp->r, i, 0.0);
        const std::string lab = name(lp->rowlab, 'R', i);
        if (r == inf)
            std::fprintf(fp, "%8d  %10s %14.6e %14.6e %14.6e    Infinity", i, lab.c_str(), y, rowact[i], b);
        else
            std::fprintf(fp, "%8d  %10s %14.6e %14.6e %14.6e %14.6e", i, lab.c_str(), y, rowact[i], b, r);
        // A free row (b = -inf) has nothing to violate.
        const bool ob = b != -inf && (b - tol > rowact[i] || rowact[i] > b + r + tol);
        std::fprintf(fp, ob ? "     OB\n" : "\n");
    }
    std::fprintf(fp, "ENDOUT\n");
    xfree(rowact);
    return close_written(fp);
}

} // namespace orva
