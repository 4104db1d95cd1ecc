#include "linearsolve.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// The sum of x[k] * y[k] over k < n, in eight interleaved partial sums so that the additions
// do not wait on one another.
double dot(const double *x, const double *y, int n)
{
    double sums[8] = {};
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        for (int lane = 0; lane < 8; ++lane)
            sums[lane] += x[k + lane] * y[k + lane];
    }
    for (; k < n; ++k)
        sums[0] += x[k] * y[k];
    return ((sums[0] + sums[1]) + (sums[2] + sums[3]))
        + ((sums[4] + sums[5]) + (sums[6] + sums[7]));
}

} // namespace

namespace LinearSolve {

void eliminate(std::vector<double> &a, std::vector<double> &b, int n)
{
    for (int k = 0; k < n; ++k) {
        for (int r = k + 1; r < n; ++r) {
            const double factor = a[std::size_t(r * n + k)] / a[std::size_t(k * n + k)];
            for (int c = k; c < n; ++c)
                a[std::size_t(r * n + c)] -= factor * a[std::size_t(k * n + c)];
            b[std::size_t(r)] -= factor * b[std::size_t(k)];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        double sum = b[std::size_t(k)];
        for (int c = k + 1; c < n; ++c)
            sum -= a[std::size_t(k * n + c)] * b[std::size_t(c)];
        b[std::size_t(k)] = sum / a[std::size_t(k * n + k)];
    }
}

void cholesky(std::vector<double> &a, std::vector<double> &b, int n)
{
    for (int j = 0; j < n; ++j) {
        double *rowJ = a.data() + std::size_t(j) * n;
        double diagonal = rowJ[j] - dot(rowJ, rowJ, j);
        // A positive definite matrix has positive pivots; this only guards rounding.
        diagonal = std::sqrt(std::max(diagonal, 1e-300));
        rowJ[j] = diagonal;
        for (int i = j + 1; i < n; ++i) {
            double *rowI = a.data() + std::size_t(i) * n;
            rowI[j] = (rowI[j] - dot(rowI, rowJ, j)) / diagonal;
        }
    }
    for (int i = 0; i < n; ++i) {
        const double *rowI = a.data() + std::size_t(i) * n;
        b[std::size_t(i)] = (b[std::size_t(i)] - dot(rowI, b.data(), i)) / rowI[i];
    }
    for (int i = n - 1; i >= 0; --i) {
        double sum = b[std::size_t(i)];
        for (int k = i + 1; k < n; ++k)
            sum -= a[std::size_t(k) * n + std::size_t(i)] * b[std::size_t(k)];
        b[std::size_t(i)] = sum / a[std::size_t(i) * n + std::size_t(i)];
    }
}

} // namespace LinearSolve
