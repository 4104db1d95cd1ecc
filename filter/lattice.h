#ifndef LATTICE_H
#define LATTICE_H

// The vocabulary of a colour lattice: size^3 points over the RGB cube, red index fastest, then
// green, then blue. On an evenly spread axis point i stands for the input level
// i * 255 / (size - 1); a real level falls into the cell between two neighbouring points, and
// a cell is split into six tetrahedra for interpolation.

#include "rgb.h"

#include <QtGlobal>

#include <algorithm>
#include <array>

namespace Lattice {

// Points per channel of any lattice the core holds. A lattice needs at least one cell. Above
// one point per 8-bit level (as a Hald image of level 16 has) no input could tell the points
// apart, and 256^3 entries are already some 200 MB.
constexpr int MinSize = 2;
constexpr int MaxSize = Rgb::Levels;

// The output levels of one lattice point, red, green and blue.
using Entry = std::array<float, 3>;

// The input level that point `index` stands for on an evenly spread axis of `size` points.
inline double levelAt(int index, int size) { return index * double(Rgb::MaxLevel) / (size - 1); }

// Where a real level falls in the lattice: the lower point of its cell and how far along the
// cell it lies (1 only at the last point).
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

// The cell of a real level on an evenly spread axis; levels outside 0..255 are clamped.
inline Cell cellOf(double level, int size)
{
    return cellAt(Rgb::clampedLevel(level) * (size - 1) / double(Rgb::MaxLevel), size);
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

    // The four corners of the tetrahedron that holds the fractions in the cell whose lower
    // corner is `base`, and their weights. Branch-free: the fractions are sorted by min/max,
    // which is exact, and the corners come from a table.
    struct Vertices
    {
        const Entry *corners[4];
        double weights[4];
    };
    Vertices vertices(const Entry *base, double fx, double fy, double fz) const
    {
        const int order = int(fx >= fy) | (int(fy >= fz) << 1) | (int(fx >= fz) << 2);
        const double largest = std::max(std::max(fx, fy), fz);
        const double smallest = std::min(std::min(fx, fy), fz);
        const double middle = std::max(std::min(fx, fy), std::min(std::max(fx, fy), fz));
        return { { base, base + m_second[order], base + m_third[order], base + m_upper },
                 { 1.0 - largest, largest - middle, middle - smallest, smallest } };
    }

    // Interpolates in the cell whose lower corner is `base`: the weighted sum of the vertices,
    // in their order.
    std::array<double, 3> interpolate(const Entry *base, double fx, double fy, double fz) const
    {
        const Vertices v = vertices(base, fx, fy, fz);
        std::array<double, 3> out;
        for (std::size_t c = 0; c < 3; ++c)
            out[c] = v.weights[0] * double((*v.corners[0])[c])
                + v.weights[1] * double((*v.corners[1])[c])
                + v.weights[2] * double((*v.corners[2])[c])
                + v.weights[3] * double((*v.corners[3])[c]);
        return out;
    }

private:
    qsizetype m_second[8];
    qsizetype m_third[8];
    qsizetype m_upper;
};

} // namespace Lattice

#endif // LATTICE_H
