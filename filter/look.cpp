#include "look.h"

#include "areamapping.h"
#include "curvesfilter.h"
#include "filtermessages.h"
#include "mixingfilter.h"
#include "rgb.h"
#include "strength.h"

#include <algorithm>

namespace {

// A curve's whole-level values clamped to 0..255, as apply() writes them.
struct ClampedCurve
{
    const YCurve &curve;
    int operator[](std::size_t level) const
    {
        return std::clamp(curve.valueAt(int(level)), 0, Rgb::MaxLevel);
    }
};

// What the kinds do differently at part strength.
struct AtStrength
{
    double strength;

    std::unique_ptr<Look> operator()(const CurvesFilter &curves) const
    {
        const CurvesFilter::LevelTables tables = Strength::blend(curves.levelTables(), strength);
        return std::make_unique<Look>(CurvesFilter::fromTables(tables[0], tables[1], tables[2]));
    }
    std::unique_ptr<Look> operator()(const MixingFilter &mixing) const
    {
        return std::make_unique<Look>(
            MixingFilter::fromCurves(Strength::blend(mixing.curves(), strength)));
    }
    std::unique_ptr<Look> operator()(const AreaMapping &mapping) const
    {
        return std::make_unique<Look>(mapping.withStrength(strength));
    }
};

struct Mapped
{
    double red;
    double green;
    double blue;

    std::array<double, 3> operator()(const CurvesFilter &curves) const
    {
        return { Rgb::curveAt(ClampedCurve { curves.red() }, red),
                 Rgb::curveAt(ClampedCurve { curves.green() }, green),
                 Rgb::curveAt(ClampedCurve { curves.blue() }, blue) };
    }
    template<typename Filter>
    std::array<double, 3> operator()(const Filter &filter) const
    {
        return filter.map(red, green, blue);
    }
};

struct MeanDeviation
{
    // The curves filter keeps the window's name for it.
    double operator()(const CurvesFilter &curves) const { return curves.midDeviation(); }
    template<typename Filter>
    double operator()(const Filter &filter) const
    {
        return filter.meanDeviation();
    }
};

struct GenerationMessage
{
    const Look &look;

    QString operator()(const CurvesFilter &curves) const
    {
        return FilterMessages::generationMessage(curves);
    }
    // The window's words, for the statistics that every method has.
    template<typename Filter>
    QString operator()(const Filter &) const
    {
        return QStringLiteral("Filter generation successful. [Max deviation: ")
            + QString::number(look.maxDeviation(), 'g', 6) + QStringLiteral(". Mid deviation: ")
            + QString::number(look.meanDeviation(), 'g', 6) + QStringLiteral(".]");
    }
};

} // namespace

Look::Look(std::unique_ptr<CurvesFilter> curves)
    : m_filter(std::unique_ptr<const CurvesFilter>(std::move(curves)))
{ }

Look::Look(std::unique_ptr<MixingFilter> mixing)
    : m_filter(std::unique_ptr<const MixingFilter>(std::move(mixing)))
{ }

Look::Look(std::unique_ptr<AreaMapping> mapping)
    : m_filter(std::unique_ptr<const AreaMapping>(std::move(mapping)))
{ }

Look::~Look() = default;

const CurvesFilter *Look::curves() const
{
    const auto *filter = std::get_if<std::unique_ptr<const CurvesFilter>>(&m_filter);
    return filter ? filter->get() : nullptr;
}

const MixingFilter *Look::mixing() const
{
    const auto *filter = std::get_if<std::unique_ptr<const MixingFilter>>(&m_filter);
    return filter ? filter->get() : nullptr;
}

const AreaMapping *Look::mapping() const
{
    const auto *filter = std::get_if<std::unique_ptr<const AreaMapping>>(&m_filter);
    return filter ? filter->get() : nullptr;
}

std::unique_ptr<Look> Look::withStrength(double strength) const
{
    std::unique_ptr<Look> look = visit(AtStrength { Strength::clamped(strength) });
    look->setCoverage(m_coverage);
    return look;
}

QImage Look::apply(const QImage &image) const
{
    return visit([&image](const auto &filter) { return filter.apply(image); });
}

void Look::applyInPlace(QImage &image) const
{
    visit([&image](const auto &filter) { filter.applyInPlace(image); });
}

std::array<double, 3> Look::map(double red, double green, double blue) const
{
    return visit(Mapped { red, green, blue });
}

double Look::maxDeviation() const
{
    return visit([](const auto &filter) { return filter.maxDeviation(); });
}

double Look::meanDeviation() const { return visit(MeanDeviation {}); }

QString Look::generationMessage() const { return visit(GenerationMessage { *this }); }
