#ifndef LINEARSOLVE_H
#define LINEARSOLVE_H

#include <vector>

// Dense solvers for the symmetric positive definite systems of a least-squares fit. Both
// work in place: `a` is n x n, row-major, and is overwritten; b becomes the solution.
namespace LinearSolve {

// Gaussian elimination without pivoting, which such a system does not need; for small n.
void eliminate(std::vector<double> &a, std::vector<double> &b, int n);

// Cholesky factorisation, using the lower triangle of `a`.
void cholesky(std::vector<double> &a, std::vector<double> &b, int n);

} // namespace LinearSolve

#endif // LINEARSOLVE_H
