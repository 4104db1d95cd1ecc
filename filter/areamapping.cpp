#include "areamapping.h"

#include "lattice.h"
#include "latticeinterpolation.h"
#include "rowstrips.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

using LatticeInterpolation::channelCoordinates;
using LatticeInterpolation::inputCell;
using LatticeInterpolation::WordMapper;

// An entry of a lookup table: as it is, as far as a float holds it.
float tableLevel(float value)
{
    constexpr float Largest = std::numeric_limits<float>::max();
    return std::isnan(value) ? 0.0f : std::clamp(value, -Largest, Largest);
}

// Row mappers through a cache of the colours their strip has met.
auto stripMapper(const WordMapper &mapper)
{
    return [&mapper](qsizetype pixels) {
        return [&mapper, cache = WordMapper::Cache(pixels)](const QRgb *in, QRgb *out,
                                                            int width) mutable {
            mapper.mapRow(in, out, width, cache);
        };
    };
}

} // namespace

AreaMapping::AreaMapping() = default;

float AreaMapping::storedLevel(double value)
{
    if (!std::isfinite(value))
        return 0.0f;
    return float(std::clamp(value, 0.0, 255.0));
}

std::unique_ptr<AreaMapping> AreaMapping::fromLattice(int size, std::vector<Entry> entries)
{
    if (size < Lattice::MinSize || size > Lattice::MaxSize
        || entries.size() != std::size_t(size) * size * size)
        return nullptr;
    for (Entry &entry : entries) {
        for (float &value : entry)
            value = storedLevel(double(value));
    }
    auto mapping = std::make_unique<AreaMapping>();
    mapping->m_size = size;
    mapping->m_lattice = std::make_shared<const std::vector<Entry>>(std::move(entries));
    return mapping;
}

std::unique_ptr<AreaMapping> AreaMapping::fromTable(int size, std::vector<Entry> entries,
                                                    const InputCoordinates *input)
{
    if (size < Lattice::MinSize || size > Lattice::MaxSize
        || entries.size() != std::size_t(size) * size * size)
        return nullptr;
    for (Entry &entry : entries) {
        for (float &value : entry)
            value = tableLevel(value);
    }
    auto mapping = std::make_unique<AreaMapping>();
    mapping->m_size = size;
    mapping->m_lattice = std::make_shared<const std::vector<Entry>>(std::move(entries));
    if (input) {
        auto coordinates = std::make_shared<InputCoordinates>(*input);
        for (Coordinates &channel : *coordinates) {
            for (double &t : channel)
                t = t > 0.0 ? std::min(t, double(size - 1)) : 0.0;
        }
        mapping->m_input = std::move(coordinates);
    }
    return mapping;
}

std::unique_ptr<AreaMapping> AreaMapping::withStrength(double strength) const
{
    auto mapping = std::make_unique<AreaMapping>();
    mapping->m_size = m_size;
    mapping->m_lattice = m_lattice;
    mapping->m_input = m_input;
    // NaN fails every comparison and becomes 0, as Strength::blend() reads it.
    mapping->m_strength = m_strength * (strength > 0.0 ? std::min(strength, 1.0) : 0.0);
    return mapping;
}

QImage AreaMapping::apply(const QImage &image) const
{
    const auto mapper = std::make_unique<WordMapper>(*m_lattice, m_size, m_input.get(), m_strength);
    return RowStrips::mapImage(image, stripMapper(*mapper));
}

void AreaMapping::applyInPlace(QImage &image) const
{
    const auto mapper = std::make_unique<WordMapper>(*m_lattice, m_size, m_input.get(), m_strength);
    RowStrips::mapInPlace(image, stripMapper(*mapper));
}

std::array<double, 3> AreaMapping::map(double red, double green, double blue) const
{
    std::array<double, 3> out = mapUnclamped(red, green, blue);
    for (double &value : out)
        value = Rgb::clampedLevel(value);
    return out;
}

std::array<double, 3> AreaMapping::mapUnclamped(double red, double green, double blue) const
{
    const InputCoordinates *input = m_input.get();
    const Lattice::Cell r = inputCell(channelCoordinates(input, 0), red, m_size);
    const Lattice::Cell g = inputCell(channelCoordinates(input, 1), green, m_size);
    const Lattice::Cell b = inputCell(channelCoordinates(input, 2), blue, m_size);
    const qsizetype dg = m_size;
    const qsizetype db = qsizetype(m_size) * m_size;
    const std::array<double, 3> out = Lattice::Tetrahedra(m_size).interpolate(
        m_lattice->data() + r.index + g.index * dg + b.index * db, r.fraction, g.fraction,
        b.fraction);
    if (m_strength == 1.0)
        return out;
    return Strength::blend(
        { Rgb::clampedLevel(red), Rgb::clampedLevel(green), Rgb::clampedLevel(blue) }, out,
        m_strength);
}
