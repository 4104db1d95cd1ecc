#ifndef DEEPMAPPER_H
#define DEEPMAPPER_H

#include "areamapping.h"
#include "curvesfilter.h"
#include "lattice.h"
#include "mixingfilter.h"

#include <QImage>
#include <QtGlobal>

#include <array>
#include <optional>
#include <vector>

class Look;

// A look applied at 16 bits per channel, for photos of more than 8 bits. A 16-bit value v
// stands for the real level v / 257 (0..255), so 8-bit and 16-bit pictures of the same
// colours filter alike; a filtered level y is written as y × 257, clamped and rounded to the
// nearest value. Nothing is rounded to whole 8-bit levels in between:
// - curves are joined by straight lines between their 256 levels, and blended with the
//   input at part strength before the result is rounded;
// - channel mixing curves are summed at the real input levels;
// - an area mapping interpolates its lattice tetrahedrally in floating point.
//
// The mapper refers to the look's lattice and so must not outlive the look.
class DeepMapper
{
public:
    // The look at full strength and the strength to apply it at (clamped to 0..1, NaN reads
    // as 0). Look::withStrength() would round curves to whole levels first. Throws
    // std::bad_alloc when memory runs out.
    explicit DeepMapper(const Look &look, double strength = 1.0);
    ~DeepMapper();
    Q_DISABLE_COPY_MOVE(DeepMapper)

    // The filtered colour of one pixel: the definition every scanline follows.
    std::array<quint16, 3> map(quint16 red, quint16 green, quint16 blue) const;

    // Maps every pixel of a 64-bit image (RGBX64, RGBA64, RGBA64_Premultiplied) over its own
    // values, keeping its alpha; premultiplied colours are mapped unpremultiplied. Other
    // formats are left alone. Throws std::bad_alloc when memory runs out.
    void applyInPlace(QImage &image) const;
    // The image filtered at 16 bits: RGBA64 when it has alpha, else RGBX64, its colour space
    // kept. Floating-point values are clamped to 0..1 first (NaN reads as 0): a photo's
    // range. An image in one of those formats that nobody else holds is filtered over its
    // own pixels. Throws std::bad_alloc when memory runs out.
    QImage apply(QImage image) const;

private:
    enum class Kind { Curves, Mixing, Mapping };
    struct Setup;

    // The curves' output for one channel's 16-bit value.
    quint16 curveOutput(std::size_t channel, quint16 value) const;
    void mapRow(QRgba64 *pixels, int width) const;

    Kind m_kind = Kind::Curves;
    double m_strength = 1.0;
    // Curves: the level tables clamped to 0..255, and the output of every 16-bit value.
    CurvesFilter::LevelTables m_levelTables {};
    std::array<std::vector<quint16>, 3> m_curveOutputs;
    // Mixing: the curves blended to strength, [output][input], and their values at every
    // 16-bit value, [(output * 3 + input) * 65536 + value].
    MixingFilter::Curves m_mixingCurves {};
    std::vector<double> m_mixingValues;
    // Mapping: the lattice, and the cell of every 16-bit value per channel, its lower point
    // as an offset into the lattice.
    const AreaMapping *m_mapping = nullptr;
    std::optional<Lattice::Tetrahedra> m_tetrahedra;
    std::array<std::vector<qsizetype>, 3> m_cellOffsets;
    std::array<std::vector<double>, 3> m_cellFractions;
};

#endif // DEEPMAPPER_H
