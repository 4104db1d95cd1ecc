#include "mixingfilter.h"

#include "imagebands.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

using ImageBands::bandCount;
using ImageBands::forEachBand;
using ImageBands::readRows;

constexpr int Channels = 3;
constexpr int Levels = 256;
constexpr int Unknowns = Channels * Levels;
constexpr int ChannelShifts[Channels] = { 16, 8, 0 };

// The channel pairs of the joint histograms, in the order Statistics keeps them.
constexpr int PairFirst[Channels] = { 0, 0, 1 };
constexpr int PairSecond[Channels] = { 1, 2, 2 };

// Regularisation, relative to the data term normalised by the pixel count (a level holding
// a fraction q of the pixels weighs q). The values were chosen on the looks set of
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

double sanitized(double value)
{
    if (!std::isfinite(value))
        return 0.0;
    return std::clamp(value, -MixingFilter::MaxCurveValue, MixingFilter::MaxCurveValue);
}

double curveAt(const MixingFilter::Curve &curve, double level)
{
    const double x = level > 0.0 ? std::min(level, 255.0) : 0.0;
    const int i = std::min(int(x), Levels - 1);
    const double t = x - i;
    return t > 0.0 ? curve[std::size_t(i)] + (curve[std::size_t(i) + 1] - curve[std::size_t(i)]) * t
                   : curve[std::size_t(i)];
}

// Solves a small dense symmetric positive definite system in place (Gaussian elimination
// without pivoting, which such a system does not need). `a` is n x n, row-major.
void solveSmall(std::vector<double> &a, std::vector<double> &b, int n)
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

// Solves a symmetric positive definite n x n system (row-major, lower triangle used) by
// Cholesky factorisation in place; b becomes the solution.
void choleskySolve(std::vector<double> &a, std::vector<double> &b, int n)
{
    for (int j = 0; j < n; ++j) {
        double *rowJ = a.data() + std::size_t(j) * n;
        double diagonal = rowJ[j];
        for (int k = 0; k < j; ++k)
            diagonal -= rowJ[k] * rowJ[k];
        // The regularisation makes the matrix positive definite; this only guards rounding.
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

// Per-pixel mapping through the curves, the same arithmetic as MixingFilter::map() at whole
// levels.
struct WordMapper
{
    const MixingFilter::Curves &curves;

    QRgb operator()(QRgb pixel) const
    {
        const std::size_t r = (pixel >> 16) & 0xff;
        const std::size_t g = (pixel >> 8) & 0xff;
        const std::size_t b = pixel & 0xff;
        QRgb word = 0xff000000u;
        for (int c = 0; c < Channels; ++c) {
            const auto &row = curves[std::size_t(c)];
            const double value = row[0][r] + row[1][g] + row[2][b];
            word |= quint32(MixingFilter::outputLevel(value)) << ChannelShifts[c];
        }
        return word;
    }
};

} // namespace

MixingFilter::Statistics::Statistics()
{
    for (std::vector<quint64> &joint : m_joint)
        joint.assign(std::size_t(Levels) * Levels, 0);
}

void MixingFilter::Statistics::addRow(const QRgb *source, const QRgb *product, int width)
{
    quint64 *rg = m_joint[0].data();
    quint64 *rb = m_joint[1].data();
    quint64 *gb = m_joint[2].data();
    for (int x = 0; x < width; ++x) {
        const QRgb s = source[x];
        const QRgb p = product[x];
        const uint r = (s >> 16) & 0xff;
        const uint g = (s >> 8) & 0xff;
        const uint b = s & 0xff;
        ++rg[(r << 8) | g];
        ++rb[(r << 8) | b];
        ++gb[(g << 8) | b];
        const quint64 out[Channels] = { (p >> 16) & 0xff, (p >> 8) & 0xff, p & 0xff };
        const uint in[Channels] = { r, g, b };
        for (int k = 0; k < Channels; ++k) {
            std::array<quint64, 3> &sums = m_outputSums[std::size_t(k)][in[k]];
            sums[0] += out[0];
            sums[1] += out[1];
            sums[2] += out[2];
        }
    }
    m_pixels += width;
}

void MixingFilter::Statistics::merge(const Statistics &other)
{
    for (int pair = 0; pair < Channels; ++pair) {
        for (std::size_t i = 0; i < m_joint[std::size_t(pair)].size(); ++i)
            m_joint[std::size_t(pair)][i] += other.m_joint[std::size_t(pair)][i];
    }
    for (int k = 0; k < Channels; ++k) {
        for (int level = 0; level < Levels; ++level) {
            for (int c = 0; c < Channels; ++c)
                m_outputSums[std::size_t(k)][std::size_t(level)][std::size_t(c)]
                    += other.m_outputSums[std::size_t(k)][std::size_t(level)][std::size_t(c)];
        }
    }
    m_pixels += other.m_pixels;
}

MixingFilter::MixingFilter() = default;

std::unique_ptr<MixingFilter> MixingFilter::fromStatistics(const Statistics &statistics)
{
    auto filter = std::make_unique<MixingFilter>();
    const double pixels = double(std::max<qint64>(statistics.m_pixels, 1));

    // Level histograms of the three inputs, from the joint ones.
    std::array<std::array<double, Levels>, Channels> histogram {};
    for (int i = 0; i < Levels; ++i) {
        for (int j = 0; j < Levels; ++j) {
            const std::size_t index = std::size_t(i) * Levels + std::size_t(j);
            histogram[0][std::size_t(i)] += double(statistics.m_joint[0][index]) / pixels;
            histogram[1][std::size_t(j)] += double(statistics.m_joint[0][index]) / pixels;
            histogram[2][std::size_t(j)] += double(statistics.m_joint[1][index]) / pixels;
        }
    }

    // The affine prior out = a + M in, from the first and second moments.
    double mean[Channels] = {};
    double outMean[Channels] = {};
    double covariance[Channels][Channels] = {};
    double crossCovariance[Channels][Channels] = {}; // [input][output]
    for (int k = 0; k < Channels; ++k) {
        for (int i = 0; i < Levels; ++i) {
            mean[k] += i * histogram[std::size_t(k)][std::size_t(i)];
            covariance[k][k] += double(i) * i * histogram[std::size_t(k)][std::size_t(i)];
            for (int c = 0; c < Channels; ++c) {
                const double sum
                    = double(
                          statistics.m_outputSums[std::size_t(k)][std::size_t(i)][std::size_t(c)])
                    / pixels;
                crossCovariance[k][c] += i * sum;
                if (k == 0)
                    outMean[c] += sum;
            }
        }
    }
    for (int pair = 0; pair < Channels; ++pair) {
        double moment = 0.0;
        for (int i = 0; i < Levels; ++i) {
            for (int j = 0; j < Levels; ++j)
                moment += double(i) * j
                    * double(statistics.m_joint[std::size_t(pair)]
                                               [std::size_t(i) * Levels + std::size_t(j)]);
        }
        covariance[PairFirst[pair]][PairSecond[pair]] = moment / pixels;
        covariance[PairSecond[pair]][PairFirst[pair]] = moment / pixels;
    }
    for (int k = 0; k < Channels; ++k) {
        for (int l = 0; l < Channels; ++l)
            covariance[k][l] -= mean[k] * mean[l];
        for (int c = 0; c < Channels; ++c)
            crossCovariance[k][c] -= mean[k] * outMean[c];
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
        solveSmall(a, b, Channels);
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
        const int k = PairFirst[pair] * Levels;
        const int l = PairSecond[pair] * Levels;
        const quint64 *joint = statistics.m_joint[std::size_t(pair)].data();
        for (int i = 0; i < Levels; ++i) {
            for (int j = 0; j < Levels; ++j) {
                const double value = double(joint[i * Levels + j]) / pixels;
                data[std::size_t(k + i) * Unknowns + std::size_t(l + j)] = value;
                data[std::size_t(l + j) * Unknowns + std::size_t(k + i)] = value;
            }
        }
    }
    for (int k = 0; k < Channels; ++k) {
        for (int i = 0; i < Levels; ++i)
            data[std::size_t(k * Levels + i) * (Unknowns + 1)]
                = histogram[std::size_t(k)][std::size_t(i)] + PriorPull;
    }

    forEachBand(Channels, bandCount(Channels, statistics.m_pixels),
                [&](int, qsizetype first, qsizetype last) {
                    for (qsizetype c = first; c < last; ++c) {
                        std::vector<double> normal = data;
                        std::vector<double> rhs(Unknowns);
                        for (int k = 0; k < Channels; ++k) {
                            const int base = k * Levels;
                            addSmoothness(normal, base,
                                          k == c ? Smoothness : Smoothness * CrossSmoothness);
                            for (int i = 0; i < Levels; ++i) {
                                const double prior = matrix[c][k] * i + offset[c] / Channels;
                                rhs[std::size_t(base + i)]
                                    = double(statistics.m_outputSums[std::size_t(k)][std::size_t(i)]
                                                                    [std::size_t(c)])
                                        / pixels
                                    + PriorPull * prior;
                            }
                        }
                        choleskySolve(normal, rhs, Unknowns);
                        for (int k = 0; k < Channels; ++k) {
                            for (int i = 0; i < Levels; ++i)
                                filter->m_curves[std::size_t(c)][std::size_t(k)][std::size_t(i)]
                                    = sanitized(rhs[std::size_t(k * Levels + i)]);
                        }
                    }
                });
    return filter;
}

std::unique_ptr<MixingFilter> MixingFilter::generate(const QImage &source, const QImage &product)
{
    const int width = source.width();
    const int height = source.height();
    if (product.width() < width || product.height() < height)
        return nullptr;

    const qsizetype pixels = qsizetype(width) * height;
    const QImage sourceWords = ImageBands::pixelWords(source);
    const QImage productWords = ImageBands::pixelWords(product);
    const auto sourceRows = readRows(sourceWords);
    const auto productRows = readRows(productWords);
    const int bands = bandCount(height, pixels);

    std::vector<Statistics> statistics(static_cast<std::size_t>(bands));
    forEachBand(height, bands, [&](int band, qsizetype first, qsizetype last) {
        Statistics &own = statistics[std::size_t(band)];
        for (qsizetype y = first; y < last; ++y)
            own.addRow(sourceRows.row(y), productRows.row(y), width);
    });
    for (int band = 1; band < bands; ++band)
        statistics[0].merge(statistics[std::size_t(band)]);
    std::unique_ptr<MixingFilter> filter = fromStatistics(statistics[0]);
    statistics.clear();

    // Deviation of the filtered source from the product, pixel by pixel.
    const WordMapper mapper { filter->m_curves };
    const ImageBands::Deviation deviation
        = ImageBands::deviation(sourceRows, productRows, width, height, bands, mapper);
    filter->m_maxDeviation = deviation.largest;
    filter->m_midDeviation = deviation.mean;
    return filter;
}

std::unique_ptr<MixingFilter> MixingFilter::fromCurves(const Curves &curves)
{
    auto filter = std::make_unique<MixingFilter>();
    for (int c = 0; c < Channels; ++c) {
        for (int k = 0; k < Channels; ++k) {
            for (int i = 0; i < Levels; ++i)
                filter->m_curves[std::size_t(c)][std::size_t(k)][std::size_t(i)]
                    = sanitized(curves[std::size_t(c)][std::size_t(k)][std::size_t(i)]);
        }
    }
    return filter;
}

QImage MixingFilter::apply(const QImage &image) const
{
    const WordMapper mapper { m_curves };
    return ImageBands::mapImage(image, mapper);
}

std::array<double, 3> MixingFilter::mapUnclamped(double red, double green, double blue) const
{
    std::array<double, 3> out;
    for (int c = 0; c < Channels; ++c) {
        const auto &row = m_curves[std::size_t(c)];
        out[std::size_t(c)] = curveAt(row[0], red) + curveAt(row[1], green) + curveAt(row[2], blue);
    }
    return out;
}

std::array<double, 3> MixingFilter::map(double red, double green, double blue) const
{
    std::array<double, 3> out = mapUnclamped(red, green, blue);
    for (double &value : out)
        value = value > 0.0 ? std::min(value, 255.0) : 0.0;
    return out;
}

const MixingFilter::Curve &MixingFilter::curve(int output, int input) const
{
    Q_ASSERT(output >= 0 && output < Channels && input >= 0 && input < Channels);
    return m_curves[std::size_t(output)][std::size_t(input)];
}
