// Vector and sparse-matrix kernels used for every reduction and product of the solver.
//
// Sparse matrices are passed as separate arrays in column storage: values, column
// starts and row indices.  Class-code arrays hold bit flags; an entry takes part in a
// masked kernel when (code[i] & mask) != 0.
#pragma once

namespace orva {

// Sum of x[i]*y[i] for i < n, added strictly left to right; 0 when n <= 0.
double dotprod(const double *x, const double *y, int n);
// Sum of x[i]*y[i] over the i < n with code[i] & mask, left to right; 0 when none.
double dotprodm(const double *x, const double *y, int n, const int *code, int mask);
// Smallest of start and every x[i]*y[i] with code[i] & mask (NaN products never win).
double mincompl(const double *x, const double *y, int n, const int *code, int mask, double start);
// Largest absolute entry of x[0..n), starting from 0.
double maxv(const double *x, int n);
// y = M x for the rows x cols matrix M (values, column starts, row indices).
void smx(int rows, int cols, const double *val, const int *kstart, const int *idx, const double *x,
         double *y);
// Transpose of the m x n matrix (kA, iA, A) into (kAt, iAt, At): A stored by rows,
// column indices ascending within each row (a stable counting sort).
void atnum(int m, int n, const int *kA, const int *iA, const double *A, int *kAt, int *iAt,
           double *At);

} // namespace orva
