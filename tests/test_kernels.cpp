#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "linalg/kernels.h"

using namespace orva;

TEST(Kernels, EmptyInputsGiveNeutralValues) {
    const double x[1] = {3.0};
    const int code[1] = {1};
    EXPECT_EQ(dotprod(x, x, 0), 0.0);
    EXPECT_EQ(dotprod(x, x, -4), 0.0);
    EXPECT_EQ(dotprodm(x, x, 1, code, 2), 0.0);
    EXPECT_EQ(maxv(x, 0), 0.0);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(mincompl(x, x, 1, code, 6, inf), inf);
}

TEST(Kernels, DotprodIsTheLeftToRightSum) {
    // Values chosen so that a different association changes the rounding.
    for (int n = 1; n <= 13; ++n) {
        std::vector<double> x(n), y(n);
        for (int i = 0; i < n; ++i) {
            x[i] = (i % 2 ? 1e16 : 1.0) * (1.0 + i / 7.0);
            y[i] = (i % 3 ? -1.0 : 1.0) * (0.1 + i);
        }
        double ref = 0.0;
        for (int i = 0; i < n; ++i) ref += x[i] * y[i];
        const double got = dotprod(x.data(), y.data(), n);
        EXPECT_EQ(std::memcmp(&got, &ref, sizeof got), 0) << "n=" << n;
    }
}

TEST(Kernels, MaskedKernelsSelectByBits) {
    const double x[4] = {1, 2, 3, 4}, y[4] = {10, 10, 10, -10};
    const int code[4] = {1, 2, 4, 8};
    EXPECT_EQ(dotprodm(x, y, 4, code, 3), 30.0);
    EXPECT_EQ(dotprodm(x, y, 4, code, 12), 30.0 - 40.0);
    EXPECT_EQ(mincompl(x, y, 4, code, 3, 1e9), 10.0);
    EXPECT_EQ(mincompl(x, y, 4, code, 0xf, 1e9), -40.0);
    // A chain: the previous result is the next start.
    double v = mincompl(x, y, 4, code, 1, std::numeric_limits<double>::infinity());
    v = mincompl(x, y, 4, code, 4, v);
    EXPECT_EQ(v, 10.0);
    const double nan = std::nan("");
    const double xn[2] = {nan, 5.0}, yn[2] = {1.0, 1.0};
    const int c2[2] = {1, 1};
    EXPECT_EQ(mincompl(xn, yn, 2, c2, 1, 7.0), 5.0);
    const double neg[3] = {-7.5, 2.0, 7.0};
    EXPECT_EQ(maxv(neg, 3), 7.5);
}

TEST(Kernels, SmxAndTranspose) {
    // 3x4 matrix with an empty column (1) and an empty row (1):
    // [ 1 0 0 2 ]
    // [ 0 0 0 0 ]
    // [ 3 0 4 5 ]
    const int kA[5] = {0, 2, 2, 3, 5};
    const int iA[5] = {0, 2, 2, 0, 2};
    const double A[5] = {1, 3, 4, 2, 5};
    const double nan = std::nan("");
    const double x[4] = {1, nan, 2, 3}; // the empty column's entry is never read
    double y[3] = {-1, -1, -1};
    smx(3, 4, A, kA, iA, x, y);
    EXPECT_EQ(y[0], 7.0);
    EXPECT_EQ(y[1], 0.0);
    EXPECT_EQ(y[2], 3 + 8 + 15.0);

    int kAt[4], iAt[5];
    double At[5];
    atnum(3, 4, kA, iA, A, kAt, iAt, At);
    EXPECT_EQ(std::vector<int>(kAt, kAt + 4), (std::vector<int>{0, 2, 2, 5}));
    EXPECT_EQ(std::vector<int>(iAt, iAt + 5), (std::vector<int>{0, 3, 0, 2, 3}));
    EXPECT_EQ(std::vector<double>(At, At + 5), (std::vector<double>{1, 2, 3, 4, 5}));

    // Transposing back sorts row indices within each column and keeps repeated entries.
    const int kB[3] = {0, 3, 4};
    const int iB[4] = {2, 0, 2, 1};
    const double B[4] = {1, 2, 3, 4};
    int kBt[4], iBt[4], kBB[3], iBB[4];
    double Bt[4], BB[4];
    atnum(3, 2, kB, iB, B, kBt, iBt, Bt);
    atnum(2, 3, kBt, iBt, Bt, kBB, iBB, BB);
    EXPECT_EQ(std::vector<int>(iBB, iBB + 4), (std::vector<int>{0, 2, 2, 1}));
    EXPECT_EQ(std::vector<double>(BB, BB + 4), (std::vector<double>{2, 1, 3, 4}));
    double yy[3];
    const double xx[2] = {1, 1};
    smx(3, 2, B, kB, iB, xx, yy); // repeated row indices accumulate
    EXPECT_EQ(yy[2], 4.0);

    // No entries: kAt all zero; rows = 0 writes nothing.
    const int kE[3] = {0, 0, 0};
    int kEt[3] = {9, 9, 9};
    atnum(2, 2, kE, nullptr, nullptr, kEt, nullptr, nullptr);
    EXPECT_EQ(std::vector<int>(kEt, kEt + 3), (std::vector<int>{0, 0, 0}));
}
