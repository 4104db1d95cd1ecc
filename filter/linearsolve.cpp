#include "linearsolve.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

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
        double diagonal = rowJ[j];
        for (int k = 0; k < j; ++k)
            diagonal -= rowJ[k] * rowJ[k];
        // A positive definite matrix has positive pivots; this only guards rounding.
        diagonal = std::sqrt(std::max(diagonal, 1e-300));
        rowJ[j] = diagonal;
        for (int i = j + 1; i < n; ++i) {
            double *rowI = a.data() + std::size_t(i) * n;
            double sum = rowI[j];
            for (int k = 0; k < j; ++k)
                sum -= rowI[k] * rowJ[k];
            rowI[j] = sum / diagonal;
        }
    }
    for (int i = 0; i < n; ++i) {
        const double *rowI = a.data() + std::size_t(i) * n;
        double sum = b[std::size_t(i)];
        for (int k = 0; k < i; ++k)
            sum -= rowI[k] * b[std::size_t(k)];
        b[std::size_t(i)] = sum / rowI[i];
    }
    for (int i = n - 1; i >= 0; --i) {
        double sum = b[std::size_t(i)];
        for (int k = i + 1; k < n; ++k)
            sum -= a[std::size_t(k) * n + std::size_t(i)] * b[std::size_t(k)];
        b[std::size_t(i)] = sum / a[std::size_t(i) * n + std::size_t(i)];
    }
}

} // namespace LinearSolve
