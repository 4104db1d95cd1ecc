#ifndef LOOK_H
#define LOOK_H

#include "coverage.h"

#include <QImage>
#include <QString>
#include <QtGlobal>

#include <array>
#include <memory>
#include <variant>

class AreaMapping;
class CurvesFilter;
class MixingFilter;

// Any colour filter the tool can learn, read and apply: separate curves, channel mixing
// curves or a full area mapping, behind one interface. The files they live in are read and
// written by formats/ (LookFile).
//
// What differs per kind beyond this interface (the file a look is written to, its plot and
// its report) is chosen with visit(), which hands the filter itself to a visitor with one
// overload per kind, so that a kind no visitor handles does not compile.
class Look
{
public:
    explicit Look(std::unique_ptr<CurvesFilter> curves);
    explicit Look(std::unique_ptr<MixingFilter> mixing);
    explicit Look(std::unique_ptr<AreaMapping> mapping);
    ~Look();
    Q_DISABLE_COPY_MOVE(Look)

    // visitor(filter) with the filter as a const CurvesFilter &, MixingFilter & or
    // AreaMapping &; every overload returns the same type.
    template<typename Visitor>
    decltype(auto) visit(Visitor &&visitor) const
    {
        return std::visit(
            [&visitor](const auto &filter) -> decltype(auto) { return visitor(*filter); },
            m_filter);
    }

    // The filter itself when the look is of that kind, else null.
    const CurvesFilter *curves() const;
    const MixingFilter *mixing() const;
    const AreaMapping *mapping() const;

    // This look at part strength S: every colour moves the fraction S of the way from its
    // input to the look's output. S is clamped to 0..1 for every kind, NaN reads as 0 (the
    // picture unchanged). Still exact: curves blend their level tables, mixing curves their
    // diagonal with the identity, a mapping its interpolated colours.
    std::unique_ptr<Look> withStrength(double strength) const;

    // The filtered image, tagged with the input's colour space. Throws std::bad_alloc when
    // memory runs out.
    QImage apply(const QImage &image) const;
    // The same result as apply(), written over the image's own pixels where its format
    // allows (the 32-bit RGB formats), so that a batch needs no second image per photo.
    // Throws std::bad_alloc when memory runs out.
    void applyInPlace(QImage &image) const;
    // The output levels (0..255) for real input levels 0..255; at whole levels apply()
    // writes exactly these values rounded.
    std::array<double, 3> map(double red, double green, double blue) const;

    // How far the filtered source was from the product, for a generated look.
    double maxDeviation() const;
    double meanDeviation() const;
    // What the window and the tool say once the look has been generated.
    QString generationMessage() const;

    // Where the example showed colours; unknown unless set after learning or read from a
    // file that records it. withStrength() keeps it.
    const Coverage &coverage() const { return m_coverage; }
    void setCoverage(const Coverage &coverage) { m_coverage = coverage; }

private:
    Coverage m_coverage;
    std::variant<std::unique_ptr<const CurvesFilter>, std::unique_ptr<const MixingFilter>,
                 std::unique_ptr<const AreaMapping>>
        m_filter;
};

#endif // LOOK_H
