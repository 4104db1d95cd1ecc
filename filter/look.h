#ifndef LOOK_H
#define LOOK_H

#include <QImage>
#include <QtGlobal>

#include <memory>

class AreaMapping;
class CurvesFilter;
class MixingFilter;

// Any colour filter the tool can learn, read and apply: separate curves, channel mixing
// curves or a full area mapping. The files they live in are read and written by formats/
// (LookFile).
class Look
{
public:
    enum class Kind { Curves, Mixing, Mapping };

    explicit Look(std::unique_ptr<CurvesFilter> curves);
    explicit Look(std::unique_ptr<MixingFilter> mixing);
    explicit Look(std::unique_ptr<AreaMapping> mapping);
    ~Look();
    Q_DISABLE_COPY_MOVE(Look)

    Kind kind() const { return m_kind; }
    const CurvesFilter *curves() const { return m_curves.get(); }
    const MixingFilter *mixing() const { return m_mixing.get(); }
    const AreaMapping *mapping() const { return m_mapping.get(); }

    // This look at part strength S (0..1): every colour moves the fraction S of the way from
    // its input to the look's output. Still exact: curves blend their level tables, mixing
    // curves their diagonal with the identity, a mapping its interpolated colours.
    std::unique_ptr<Look> withStrength(double strength) const;

    // The filtered image, tagged with the input's colour space. Throws std::bad_alloc when
    // memory runs out.
    QImage apply(const QImage &image) const;

    // How far the filtered source was from the product, for a generated look.
    double maxDeviation() const;
    double midDeviation() const;

private:
    Kind m_kind;
    std::unique_ptr<CurvesFilter> m_curves;
    std::unique_ptr<MixingFilter> m_mixing;
    std::unique_ptr<AreaMapping> m_mapping;
};

#endif // LOOK_H
