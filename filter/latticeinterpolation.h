#ifndef LATTICEINTERPOLATION_H
#define LATTICEINTERPOLATION_H

// How AreaMapping finds a colour in its lattice: the cells of the input levels, through a
// channel's input coordinates when the mapping has them, and the per-level tables that map
// whole scanlines of 32-bit words.

#include "areamapping.h"
#include "lattice.h"
#include "rgb.h"
#include "strength.h"

#include <QtGlobal>

#include <algorithm>
#include <array>

namespace LatticeInterpolation {

// The cell of a real level of one channel, through its input coordinates when it has them.
inline Lattice::Cell inputCell(const AreaMapping::Coordinates *coordinates, double level, int size)
{
    if (!coordinates)
        return Lattice::cellOf(level, size);
    const double x = Rgb::clampedLevel(level);
    const int below = std::min(int(x), Rgb::MaxLevel - 1);
    const double fraction = x - below;
    const double t = (*coordinates)[std::size_t(below)];
    return Lattice::cellAt(
        fraction > 0.0 ? t + ((*coordinates)[std::size_t(below) + 1] - t) * fraction : t, size);
}

inline const AreaMapping::Coordinates *
channelCoordinates(const AreaMapping::InputCoordinates *input, int channel)
{
    return input ? &(*input)[std::size_t(channel)] : nullptr;
}

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
        const qsizetype strides[Rgb::Channels] = { 1, size, qsizetype(size) * size };
        for (int c = 0; c < Rgb::Channels; ++c) {
            for (int level = 0; level < Rgb::Levels; ++level) {
                const Lattice::Cell cell = inputCell(channelCoordinates(input, c), level, size);
                m_offset[c][level] = cell.index * strides[c];
                m_fraction[c][level] = cell.fraction;
            }
        }
    }

    QRgb operator()(QRgb pixel) const
    {
        const uint r = Rgb::levelOf(pixel, 0);
        const uint g = Rgb::levelOf(pixel, 1);
        const uint b = Rgb::levelOf(pixel, 2);
        std::array<double, 3> v
            = m_tetrahedra.interpolate(m_lattice + m_offset[0][r] + m_offset[1][g] + m_offset[2][b],
                                       m_fraction[0][r], m_fraction[1][g], m_fraction[2][b]);
        if (m_strength != 1.0)
            v = Strength::blend({ double(r), double(g), double(b) }, v, m_strength);
        return Rgb::opaqueWord(Rgb::outputLevel(v[0]), Rgb::outputLevel(v[1]),
                               Rgb::outputLevel(v[2]));
    }

private:
    const AreaMapping::Entry *m_lattice;
    Lattice::Tetrahedra m_tetrahedra;
    double m_strength;
    qsizetype m_offset[Rgb::Channels][Rgb::Levels];
    double m_fraction[Rgb::Channels][Rgb::Levels];
};

} // namespace LatticeInterpolation

#endif // LATTICEINTERPOLATION_H
