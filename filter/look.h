#ifndef LOOK_H
#define LOOK_H

#include "lutwriter.h"

#include <QImage>
#include <QString>

#include <memory>

class AreaMapping;
class CurvesFilter;
class MixingFilter;

// Any colour filter the tool can learn, read and apply: separate curves (a FilterType 1
// filter file or a 1D .cube), channel mixing curves (a FilterType 2 filter file) or a full
// area mapping (a 3D .cube).
class Look
{
public:
    enum class Kind { Curves, Mixing, Mapping };

    explicit Look(std::unique_ptr<CurvesFilter> curves);
    explicit Look(std::unique_ptr<MixingFilter> mixing);
    explicit Look(std::unique_ptr<AreaMapping> mapping);
    ~Look();
    Q_DISABLE_COPY_MOVE(Look)

    // A .cube file (by its suffix) or a filter file; null, with one line in *error, when the
    // file holds no look.
    static std::unique_ptr<Look> load(const QString &path, QString *error);

    Kind kind() const { return m_kind; }
    const CurvesFilter *curves() const { return m_curves.get(); }
    const MixingFilter *mixing() const { return m_mixing.get(); }
    const AreaMapping *mapping() const { return m_mapping.get(); }

    // This look at part strength S (0..1): every colour moves the fraction S of the way from
    // its input to the look's output. Still exact: curves blend their level tables, mixing
    // curves their diagonal with the identity, a lattice its points with their positions.
    std::unique_ptr<Look> withStrength(double strength) const;

    // The filtered image, tagged with the input's colour space. Throws std::bad_alloc when
    // memory runs out.
    QImage apply(const QImage &image) const;

    // The look as a lookup-table writer (1D .cube only for curves).
    LutWriter lutWriter() const;

    // What a file of this look holds: a filter file for curves and mixing curves, a 3D
    // .cube for a mapping.
    QByteArray fileText(const QString &title) const;
    // The suffix of such a file: "cml" or "cube".
    QString fileSuffix() const;

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
