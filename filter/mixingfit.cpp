#include "mixingfit.h"

#include "linearsolve.h"
#include "rowstrips.h"

#include <algorithm>
#include <vector>

namespace {

using Rgb::Channels;
using Rgb::Levels;

constexpr int Unknowns = Channels * Levels;

// Regularisation, relative to the data term normalised by the pairs' total weight (a level
// holding a fraction q of the weight weighs q). The values were chosen on the looks set of
// scripts/makelooks, for the error on photos other than the example.
// - The second-difference penalty smooths a curve over about (Smoothness / q)^(1/4) levels:
//   one level where data is dense, some hundred where one pixel in a million lies. Beyond
//   the example's levels a curve continues along a straight line.
// - An output's curves over the other inputs are CrossSmoothness times smoother than the one
//   over its own input. Where the inputs are correlated (as in most photos) the data cannot
//   tell the curves apart, and a bend is then put into the output's own channel: that is
//   what a per-channel look does, and it extrapolates far better.
// - The pull toward the affine prior only fixes the constants the three curves of an output
//   could trade between them: it acts over (Smoothness / PriorPull)^(1/4), some 300 levels,
//   beyond the data. Any stronger, it drags the curves toward a global straight-line fit,
//   which extrapolates worse than the curves' own trend.
// - The affine prior itself is pulled toward the identity with a weight of IdentityPull
//   level^2, tiny against any real image's channel variance but enough to keep it defined
//   when the channels of the example are collinear (a grey picture).
constexpr double Smoothness = 1e-2;
constexpr double CrossSmoothness = 100.0;
constexpr double PriorPull = 1e-12;
constexpr double IdentityPull = 4.0;

// Adds weight times the squared second differences of the curve whose values start at
// `base` to a row-major Unknowns x Unknowns matrix.
void addSmoothness(std::vector<double> &matrix, int base, double weight)
{
    constexpr double Stencil[3] = { 1.0, -2.0, 1.0 };
    for (int centre = 1; centre < Levels - 1; ++centre) {
        for (int u = 0; u < 3; ++u) {
            for (int v = 0; v < 3; ++v)
                matrix[std::size_t(base + centre - 1 + u) * Unknowns
                       + std::size_t(base + centre - 1 + v)]
                    += weight * Stencil[u] * Stencil[v];
        }
    }
}

} // namespace

MixingFilter::Curves MixingFit::curves(const MixingStatistics &statistics)
{
    MixingFilter::Curves curves {};
    const double total = statistics.weight() > 0.0 ? statistics.weight() : 1.0;

    // The affine prior out = a + M in, from the first and second moments.
    double mean[Channels] = {};
    double outMean[Channels] = {};
    double covariance[Channels][Channels] = {};
    double crossCovariance[Channels][Channels] = {}; // [input][output]
    for (int k = 0; k < Channels; ++k) {
        mean[k] = statistics.inputSum(k) / total;
        outMean[k] = statistics.outputTotal(k) / total;
    }
    for (int k = 0; k < Channels; ++k) {
        for (int l = 0; l < Channels; ++l) {
            covariance[k][l] = statistics.inputProduct(k, l) / total - mean[k] * mean[l];
            crossCovariance[k][l] = statistics.crossProduct(k, l) / total - mean[k] * outMean[l];
        }
    }
    double matrix[Channels][Channels];
    double offset[Channels];
    for (int c = 0; c < Channels; ++c) {
        std::vector<double> a(Channels * Channels);
        std::vector<double> b(Channels);
        for (int k = 0; k < Channels; ++k) {
            for (int l = 0; l < Channels; ++l)
                a[std::size_t(k * Channels + l)] = covariance[k][l] + (k == l ? IdentityPull : 0.0);
            b[std::size_t(k)] = crossCovariance[k][c] + (k == c ? IdentityPull : 0.0);
        }
        LinearSolve::eliminate(a, b, Channels);
        offset[c] = outMean[c];
        for (int k = 0; k < Channels; ++k) {
            matrix[c][k] = b[std::size_t(k)];
            offset[c] -= b[std::size_t(k)] * mean[k];
        }
    }

    // Normal equations over the 768 curve values of one output. The data part is the same
    // for all three outputs; the smoothness differs, since an output's curves over the other
    // inputs are held smoother than the one over its own input.
    std::vector<double> data(std::size_t(Unknowns) * Unknowns, 0.0);
    for (int pair = 0; pair < Channels; ++pair) {
        const int k = MixingStatistics::PairFirst[pair] * Levels;
        const int l = MixingStatistics::PairSecond[pair] * Levels;
        const double *joint = statistics.joint(pair).data();
        for (int i = 0; i < Levels; ++i) {
            for (int j = 0; j < Levels; ++j) {
                const double value = joint[i * Levels + j] / total;
                data[std::size_t(k + i) * Unknowns + std::size_t(l + j)] = value;
                data[std::size_t(l + j) * Unknowns + std::size_t(k + i)] = value;
            }
        }
    }
    for (int k = 0; k < Channels; ++k) {
        for (int i = 0; i < Levels; ++i) {
            const std::size_t at = std::size_t(k * Levels + i);
            data[at * (Unknowns + 1)] = statistics.level(k, i) / total + PriorPull;
            if (i + 1 < Levels) {
                const double next = statistics.nextLevel(k, i) / total;
                data[at * Unknowns + at + 1] = next;
                data[(at + 1) * Unknowns + at] = next;
            }
        }
    }

    RowStrips::forEachStrip(
        Channels, RowStrips::stripCount(Channels, qsizetype(statistics.weight())),
        [&](int, qsizetype first, qsizetype last) {
            for (qsizetype c = first; c < last; ++c) {
                std::vector<double> normal = data;
                std::vector<double> rhs(Unknowns);
                for (int k = 0; k < Channels; ++k) {
                    const int base = k * Levels;
                    addSmoothness(normal, base, k == c ? Smoothness : Smoothness * CrossSmoothness);
                    for (int i = 0; i < Levels; ++i) {
                        const double prior = matrix[c][k] * i + offset[c] / Channels;
                        rhs[std::size_t(base + i)]
                            = statistics.outputSum(k, i, int(c)) / total + PriorPull * prior;
                    }
                }
                LinearSolve::cholesky(normal, rhs, Unknowns);
                for (int k = 0; k < Channels; ++k) {
                    for (int i = 0; i < Levels; ++i)
                        curves[std::size_t(c)][std::size_t(k)][std::size_t(i)]
                            = rhs[std::size_t(k * Levels + i)];
                }
            }
        });
    return curves;
}
