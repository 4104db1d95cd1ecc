#ifndef LATTICEINTERPOLATION_H
#define LATTICEINTERPOLATION_H

// How AreaMapping finds a colour in its lattice and interpolates there: the cells of the
// input levels, the six tetrahedra of a cell, and the per-level tables that map whole
// scanlines of 32-bit words.

#include "areamapping.h"
#include "mixingfilter.h"
#include "strength.h"

#include <QtGlobal>

#include <algorithm>
#include <array>

namespace LatticeInterpolation {

constexpr int Channels = 3;
constexpr int Levels = 256;

// Where a real level falls in the lattice: the lower point of its cell and how far along the
// cell it lies (1 only at level 255).
struct Cell
{
    int index;
    double fraction;
};

// The cell of lattice coordinate t, 0..size-1.
inline Cell cellAt(double t, int size)
{
    const int index = std::min(int(t), size - 2);
    return { index, t - index };
}

inline Cell cellOf(double level, int size)
{
    const double x = level > 0.0 ? std::min(level, 255.0) : 0.0;
    return cellAt(x * (size - 1) / 255.0, size);
}

// The cell of a real level of one channel, through its input coordinates when it has them.
inline Cell inputCell(const AreaMapping::Coordinates *coordinates, double level, int size)
{
    if (!coordinates)
        return cellOf(level, size);
    const double x = level > 0.0 ? std::min(level, 255.0) : 0.0;
    const int below = std::min(int(x), 254);
    const double fraction = x - below;
    const double t = (*coordinates)[std::size_t(below)];
    return cellAt(fraction > 0.0 ? t + ((*coordinates)[std::size_t(below) + 1] - t) * fraction : t,
                  size);
}

inline const AreaMapping::Coordinates *
channelCoordinates(const AreaMapping::InputCoordinates *input, int channel)
{
    return input ? &(*input)[std::size_t(channel)] : nullptr;
}

// The tetrahedra of a lattice cell. The cube is split along its main diagonal into six
// tetrahedra, one per order of the three fractions; each runs from the lower corner through
// the corner one step along the largest fraction's axis and the corner one step along the
// two largest ones to the upper corner. Indexed by the three comparisons of the fractions
// (two of the eight combinations cannot occur).
class Tetrahedra
{
public:
    explicit Tetrahedra(int size)
    {
        const qsizetype r = 1;
        const qsizetype g = size;
        const qsizetype b = qsizetype(size) * size;
        // [x >= y | (y >= z) << 1 | (x >= z) << 2] -> the second and third corners
        const qsizetype corners[8][2] = { { b, g + b }, { b, r + b }, { g, g + b }, { r, r + g },
                                          { r, r + b }, { r, r + b }, { g, r + g }, { r, r + g } };
        for (int i = 0; i < 8; ++i) {
            m_second[i] = corners[i][0];
            m_third[i] = corners[i][1];
        }
        m_upper = r + g + b;
    }

    // Interpolates in the cell whose lower corner is `base`. Branch-free: the fractions are
    // sorted by min/max, which is exact, and the corners come from a table.
    std::array<double, 3> interpolate(const AreaMapping::Entry *base, double fx, double fy,
                                      double fz) const
    {
        const int order = int(fx >= fy) | (int(fy >= fz) << 1) | (int(fx >= fz) << 2);
        const double largest = std::max(std::max(fx, fy), fz);
        const double smallest = std::min(std::min(fx, fy), fz);
        const double middle = std::max(std::min(fx, fy), std::min(std::max(fx, fy), fz));
        const double w0 = 1.0 - largest;
        const double w1 = largest - middle;
        const double w2 = middle - smallest;
        const double w3 = smallest;
        const AreaMapping::Entry &p1 = base[m_second[order]];
        const AreaMapping::Entry &p2 = base[m_third[order]];
        const AreaMapping::Entry &p3 = base[m_upper];
        std::array<double, 3> out;
        for (std::size_t c = 0; c < 3; ++c)
            out[c] = w0 * double(base[0][c]) + w1 * double(p1[c]) + w2 * double(p2[c])
                + w3 * double(p3[c]);
        return out;
    }

private:
    qsizetype m_second[8];
    qsizetype m_third[8];
    qsizetype m_upper;
};

// Per-level lookups for mapping 32-bit words through a lattice: the same cells and the same
// arithmetic as AreaMapping::map() at whole levels.
class WordMapper
{
public:
    WordMapper(const std::vector<AreaMapping::Entry> &lattice, int size,
               const AreaMapping::InputCoordinates *input = nullptr, double strength = 1.0)
        : m_lattice(lattice.data())
        , m_tetrahedra(size)
        , m_strength(strength)
    {
        const qsizetype strides[Channels] = { 1, size, qsizetype(size) * size };
        for (int c = 0; c < Channels; ++c) {
            for (int level = 0; level < Levels; ++level) {
                const Cell cell = inputCell(channelCoordinates(input, c), level, size);
                m_offset[c][level] = cell.index * strides[c];
                m_fraction[c][level] = cell.fraction;
            }
        }
    }

    QRgb operator()(QRgb pixel) const
    {
        const uint r = (pixel >> 16) & 0xff;
        const uint g = (pixel >> 8) & 0xff;
        const uint b = pixel & 0xff;
        std::array<double, 3> v
            = m_tetrahedra.interpolate(m_lattice + m_offset[0][r] + m_offset[1][g] + m_offset[2][b],
                                       m_fraction[0][r], m_fraction[1][g], m_fraction[2][b]);
        if (m_strength != 1.0)
            v = Strength::blend({ double(r), double(g), double(b) }, v, m_strength);
        return 0xff000000u | (quint32(MixingFilter::outputLevel(v[0])) << 16)
            | (quint32(MixingFilter::outputLevel(v[1])) << 8)
            | quint32(MixingFilter::outputLevel(v[2]));
    }

private:
    const AreaMapping::Entry *m_lattice;
    Tetrahedra m_tetrahedra;
    double m_strength;
    qsizetype m_offset[Channels][Levels];
    double m_fraction[Channels][Levels];
};

} // namespace LatticeInterpolation

#endif // LATTICEINTERPOLATION_H
