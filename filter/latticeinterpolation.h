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
#include <vector>

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
    // How mapRow() computes a word: as operator() does, or with the three channels side by
    // side in the vector registers of AVX2 (the same operations in the same order and no
    // fused multiply-add, so the very same results).
    enum class Kernel { PerWord, Avx2 };

    // The words a stretch of rows has met and what they map to, so that a colour met again
    // (as most are in a photo) is looked up rather than computed. One per thread.
    class Cache
    {
    public:
        // A cache worth its memory for about `pixels` words: none for a few, nor when there
        // is no memory for it.
        explicit Cache(qsizetype pixels);

        // Whether there is none (any more).
        bool isEmpty() const { return m_slots.empty(); }
        // Counts the words of a row and how many of them were not found; once it has seen
        // enough words to tell, a cache that misses most of them (an image of noise) lets
        // its memory go, since computing every word costs less than looking first.
        void count(int words, int misses);
        // Where the colour of `word` is kept (the cache must not be empty).
        quint64 &slot(QRgb word)
        {
            return m_slots[std::size_t(((word & 0xffffffu) * 0x9e3779b1u) >> m_shift)];
        }
        // What the word maps to when its slot holds it; 0 (never an opaque word) otherwise.
        static QRgb mapped(quint64 slot, QRgb word)
        {
            return quint32(slot >> 32) == (word & 0xffffffu) ? QRgb(slot) : 0;
        }
        static quint64 holding(QRgb word, QRgb mapped)
        {
            return (quint64(word & 0xffffffu) << 32) | mapped;
        }

    private:
        // A colour above, the opaque word it maps to below; empty slots hold no colour.
        std::vector<quint64> m_slots;
        int m_shift = 32;
        qint64 m_words = 0;
        qint64 m_misses = 0;
    };

    WordMapper(const std::vector<AreaMapping::Entry> &lattice, int size,
               const AreaMapping::InputCoordinates *input = nullptr, double strength = 1.0)
        : m_lattice(lattice.data())
        , m_tetrahedra(size)
        , m_strength(strength)
        , m_kernel(fastest())
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

    // Whether this processor runs the kernel, and the fastest one it runs.
    static bool runs(Kernel kernel);
    static Kernel fastest();

    // out[x] = (*this)(in[x]) for the `width` words of a row (`in` may be `out`), through the
    // cache unless it is empty.
    void mapRow(const QRgb *in, QRgb *out, int width, Cache &cache) const
    {
        mapRow(in, out, width, cache, m_kernel);
    }
    // The same with the given kernel, which must be one this processor runs.
    void mapRow(const QRgb *in, QRgb *out, int width, Cache &cache, Kernel kernel) const;

    // The tetrahedron the levels fall in, and the strength to blend with.
    Lattice::Tetrahedra::Vertices vertices(uint r, uint g, uint b) const
    {
        return m_tetrahedra.vertices(m_lattice + m_offset[0][r] + m_offset[1][g] + m_offset[2][b],
                                     m_fraction[0][r], m_fraction[1][g], m_fraction[2][b]);
    }
    double strength() const { return m_strength; }

private:
    const AreaMapping::Entry *m_lattice;
    Lattice::Tetrahedra m_tetrahedra;
    double m_strength;
    Kernel m_kernel;
    qsizetype m_offset[Rgb::Channels][Rgb::Levels];
    double m_fraction[Rgb::Channels][Rgb::Levels];
};

} // namespace LatticeInterpolation

#endif // LATTICEINTERPOLATION_H
