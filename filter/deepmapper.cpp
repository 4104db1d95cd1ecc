#include "deepmapper.h"

#include "latticeinterpolation.h"
#include "look.h"
#include "rgb.h"
#include "rowstrips.h"
#include "strength.h"

#include <QRgbaFloat32>

#include <algorithm>
#include <new>

namespace {

using LatticeInterpolation::channelCoordinates;
using LatticeInterpolation::inputCell;

constexpr int Values = 65536;

// The real level 0..255 that a 16-bit value stands for (v × 255 / 65535).
double levelOf(quint16 value) { return value / 257.0; }

// The 16-bit value of a real level: clamped to 0..255 (NaN reads as 0), × 257 and rounded
// to the nearest.
quint16 valueOf(double level) { return quint16(Rgb::clampedLevel(level) * 257.0 + 0.5); }

// A floating-point channel as a 16-bit value: clamped to 0..1, NaN reads as 0.
quint16 valueOfUnit(float unit)
{
    return unit > 0.0f ? quint16(std::min(unit, 1.0f) * 65535.0f + 0.5f) : 0;
}

// The image in RGBA64 or RGBX64 (as it has alpha or not), floating-point values clamped to
// 0..1. Throws std::bad_alloc.
QImage sixteenBit(QImage image)
{
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format deep = alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
    if (image.format() == deep)
        return image;
    QImage result;
    if (image.pixelFormat().typeInterpretation() == QPixelFormat::FloatingPoint) {
        // Qt's own conversion leaves NaN and the clamp to chance.
        const QImage floats
            = image.convertToFormat(alpha ? QImage::Format_RGBA32FPx4 : QImage::Format_RGBX32FPx4);
        if (floats.isNull())
            throw std::bad_alloc();
        result = QImage(image.size(), deep);
        if (result.isNull())
            throw std::bad_alloc();
        for (int y = 0; y < image.height(); ++y) {
            const auto *in = reinterpret_cast<const QRgbaFloat32 *>(floats.constScanLine(y));
            auto *out = reinterpret_cast<QRgba64 *>(result.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                out[x] = qRgba64(valueOfUnit(in[x].r), valueOfUnit(in[x].g), valueOfUnit(in[x].b),
                                 alpha ? valueOfUnit(in[x].a) : 0xffff);
        }
        result.setColorSpace(image.colorSpace());
    } else {
        result = image.convertToFormat(deep);
    }
    if (result.isNull())
        throw std::bad_alloc();
    return result;
}

} // namespace

// Fills in what the look's kind needs.
struct DeepMapper::Setup
{
    DeepMapper &mapper;
    double strength;

    void operator()(const CurvesFilter &curves) const
    {
        mapper.m_kind = Kind::Curves;
        mapper.m_levelTables = curves.levelTables();
        for (std::size_t c = 0; c < 3; ++c) {
            for (int &value : mapper.m_levelTables[c])
                value = std::clamp(value, 0, Rgb::MaxLevel);
            mapper.m_curveOutputs[c].resize(Values);
            for (int v = 0; v < Values; ++v)
                mapper.m_curveOutputs[c][std::size_t(v)] = mapper.curveOutput(c, quint16(v));
        }
    }

    void operator()(const MixingFilter &mixing) const
    {
        mapper.m_kind = Kind::Mixing;
        mapper.m_mixingCurves = Strength::blend(mixing.curves(), strength);
        mapper.m_mixingValues.resize(std::size_t(9) * Values);
        double *value = mapper.m_mixingValues.data();
        for (const auto &output : mapper.m_mixingCurves) {
            for (const MixingFilter::Curve &curve : output) {
                for (int v = 0; v < Values; ++v)
                    *value++ = Rgb::curveAt(curve, levelOf(quint16(v)));
            }
        }
    }

    void operator()(const AreaMapping &mapping) const
    {
        mapper.m_kind = Kind::Mapping;
        mapper.m_mapping = &mapping;
        const int size = mapping.size();
        mapper.m_tetrahedra.emplace(size);
        const qsizetype strides[3] = { 1, size, qsizetype(size) * size };
        for (int c = 0; c < 3; ++c) {
            std::vector<qsizetype> &offsets = mapper.m_cellOffsets[std::size_t(c)];
            std::vector<double> &fractions = mapper.m_cellFractions[std::size_t(c)];
            offsets.resize(Values);
            fractions.resize(Values);
            const AreaMapping::Coordinates *coordinates
                = channelCoordinates(mapping.inputCoordinates(), c);
            for (int v = 0; v < Values; ++v) {
                const Lattice::Cell cell = inputCell(coordinates, levelOf(quint16(v)), size);
                offsets[std::size_t(v)] = cell.index * strides[c];
                fractions[std::size_t(v)] = cell.fraction;
            }
        }
    }
};

DeepMapper::DeepMapper(const Look &look, double strength)
    : m_strength(Strength::clamped(strength))
{
    look.visit(Setup { *this, m_strength });
}

DeepMapper::~DeepMapper() = default;

quint16 DeepMapper::curveOutput(std::size_t channel, quint16 value) const
{
    const double in = levelOf(value);
    const double out = Rgb::curveAt(m_levelTables[channel], in);
    // in + (out − in) need not give out exactly.
    return valueOf(m_strength == 1.0 ? out : in + m_strength * (out - in));
}

std::array<quint16, 3> DeepMapper::map(quint16 red, quint16 green, quint16 blue) const
{
    const std::array<quint16, 3> in = { red, green, blue };
    std::array<quint16, 3> out {};
    switch (m_kind) {
    case Kind::Curves:
        for (std::size_t c = 0; c < 3; ++c)
            out[c] = curveOutput(c, in[c]);
        break;
    case Kind::Mixing:
        for (std::size_t o = 0; o < 3; ++o) {
            double sum = 0.0;
            for (std::size_t i = 0; i < 3; ++i)
                sum += Rgb::curveAt(m_mixingCurves[o][i], levelOf(in[i]));
            out[o] = valueOf(sum);
        }
        break;
    case Kind::Mapping: {
        const int size = m_mapping->size();
        const AreaMapping::InputCoordinates *input = m_mapping->inputCoordinates();
        Lattice::Cell cells[3];
        for (int c = 0; c < 3; ++c)
            cells[c] = inputCell(channelCoordinates(input, c), levelOf(in[std::size_t(c)]), size);
        const AreaMapping::Entry *base = m_mapping->lattice().data() + cells[0].index
            + cells[1].index * qsizetype(size) + cells[2].index * qsizetype(size) * size;
        std::array<double, 3> levels = m_tetrahedra->interpolate(
            base, cells[0].fraction, cells[1].fraction, cells[2].fraction);
        if (m_strength != 1.0)
            levels = Strength::blend({ levelOf(red), levelOf(green), levelOf(blue) }, levels,
                                     m_strength);
        for (std::size_t c = 0; c < 3; ++c)
            out[c] = valueOf(levels[c]);
        break;
    }
    }
    return out;
}

void DeepMapper::mapRow(QRgba64 *pixels, int width) const
{
    switch (m_kind) {
    case Kind::Curves: {
        const quint16 *red = m_curveOutputs[0].data();
        const quint16 *green = m_curveOutputs[1].data();
        const quint16 *blue = m_curveOutputs[2].data();
        for (int x = 0; x < width; ++x) {
            QRgba64 &p = pixels[x];
            p = qRgba64(red[p.red()], green[p.green()], blue[p.blue()], p.alpha());
        }
        break;
    }
    case Kind::Mixing: {
        const double *curves = m_mixingValues.data();
        for (int x = 0; x < width; ++x) {
            QRgba64 &p = pixels[x];
            const quint16 in[3] = { p.red(), p.green(), p.blue() };
            quint16 out[3];
            for (int o = 0; o < 3; ++o) {
                const double *curve = curves + std::size_t(o) * 3 * Values;
                double sum = 0.0;
                for (int i = 0; i < 3; ++i)
                    sum += curve[std::size_t(i) * Values + in[i]];
                out[o] = valueOf(sum);
            }
            p = qRgba64(out[0], out[1], out[2], p.alpha());
        }
        break;
    }
    case Kind::Mapping: {
        const AreaMapping::Entry *lattice = m_mapping->lattice().data();
        for (int x = 0; x < width; ++x) {
            QRgba64 &p = pixels[x];
            const quint16 r = p.red();
            const quint16 g = p.green();
            const quint16 b = p.blue();
            std::array<double, 3> levels = m_tetrahedra->interpolate(
                lattice + m_cellOffsets[0][r] + m_cellOffsets[1][g] + m_cellOffsets[2][b],
                m_cellFractions[0][r], m_cellFractions[1][g], m_cellFractions[2][b]);
            if (m_strength != 1.0)
                levels
                    = Strength::blend({ levelOf(r), levelOf(g), levelOf(b) }, levels, m_strength);
            p = qRgba64(valueOf(levels[0]), valueOf(levels[1]), valueOf(levels[2]), p.alpha());
        }
        break;
    }
    }
}

void DeepMapper::applyInPlace(QImage &image) const
{
    const QImage::Format format = image.format();
    const bool premultiplied = format == QImage::Format_RGBA64_Premultiplied;
    if (image.isNull()
        || (!premultiplied && format != QImage::Format_RGBX64 && format != QImage::Format_RGBA64))
        return;
    // The colours are filtered as they are, not as they stand multiplied by alpha.
    if (premultiplied)
        image.convertTo(QImage::Format_RGBA64);
    uchar *bits = image.bits();
    if (!bits)
        throw std::bad_alloc();
    const qsizetype stride = image.bytesPerLine();
    const int width = image.width();
    const int height = image.height();
    RowStrips::forEachStrip(height, RowStrips::stripCount(height, qsizetype(width) * height),
                            [&](int, qsizetype first, qsizetype last) {
                                for (qsizetype y = first; y < last; ++y)
                                    mapRow(reinterpret_cast<QRgba64 *>(bits + y * stride), width);
                            });
    if (premultiplied) {
        image.convertTo(QImage::Format_RGBA64_Premultiplied);
        if (image.isNull())
            throw std::bad_alloc();
    }
}

QImage DeepMapper::apply(QImage image) const
{
    if (image.isNull())
        return QImage();
    image = sixteenBit(std::move(image));
    applyInPlace(image);
    return image;
}
