#include "linalg/kernels.h"

#include "lp/alloc.h"

namespace orva {

double dotprod(const double *x, const double *y, int n) {
    double sum = 0.0;
    if (n <= 0) return sum;
    // The leading n mod 5 products, then groups of five; the additions stay sequential,
    // so the result is bit for bit the plain left-to-right sum.
    int i = 0;
    const int lead = n % 5;
    for (; i < lead; ++i) sum += x[i] * y[i];
    for (; i < n; i += 5) {
        sum += x[i] * y[i];
        sum += x[i + 1] * y[i + 1];
        sum += x[i + 2] * y[i + 2];
        sum += x[i + 3] * y[i + 3];
        sum += x[i + 4] * y[i + 4];
    }
    return sum;
}

double dotprodm(const double *x, const double *y, int n, const int *code, int mask) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        if (code[i] & mask) sum += x[i] * y[i];
    return sum;
}

double mincompl(const double *x, const double *y, int n, const int *code, int mask, double start) {
    double v = start;
    for (int i = 0; i < n; ++i) {
        if (code[i] & mask) {
            const double prod = x[i] * y[i];
            if (prod < v) v = prod;
        }
    }
    return v;
}

double maxv(const double *x, int n) {
    double v = 0.0;
    for (int i = 0; i < n; ++i) {
        const double a = x[i] < 0 ? -x[i] : x[i];
        if (a > v) v = a;
    }
    return v;
}

void smx(int rows, int cols, const double *val, const int *kstart, const int *idx, const double *x,
         double *y) {
    for (int i = 0; i < rows; ++i) y[i] = 0.0;
    for (int j = 0; j < cols; ++j) {
        const int end = kstart[j + 1];
        if (kstart[j] == end) continue; // an empty column never reads x[j]
        const double xv = x[j];
        for (int k = kstart[j]; k < end; ++k) y[idx[k]] += val[k] * xv;
    }
}

void atnum(int m, int n, const int *kA, const int *iA, const double *A, int *kAt, int *iAt,
           double *At) {
    int *iwork = xcalloc<int>("iwork", "m", m);
    const int nz = kA[n];
    for (int k = 0; k < nz; ++k) iwork[iA[k]]++;
    kAt[0] = 0;
    for (int i = 0; i < m; ++i) {
        kAt[i + 1] = kAt[i] + iwork[i];
        iwork[i] = 0;
    }
    for (int j = 0; j < n; ++j) {
        for (int k = kA[j]; k < kA[j + 1]; ++k) {
            const int i = iA[k];
            const int p = kAt[i] + iwork[i]++;
            iAt[p] = j;
            At[p] = A[k];
        }
    }
    xfree(iwork);
}

} // namespace orva
