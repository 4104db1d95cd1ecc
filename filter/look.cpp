#include "look.h"

#include "areamapping.h"
#include "curvesfilter.h"
#include "mixingfilter.h"
#include "strength.h"

Look::Look(std::unique_ptr<CurvesFilter> curves)
    : m_kind(Kind::Curves)
    , m_curves(std::move(curves))
{ }

Look::Look(std::unique_ptr<MixingFilter> mixing)
    : m_kind(Kind::Mixing)
    , m_mixing(std::move(mixing))
{ }

Look::Look(std::unique_ptr<AreaMapping> mapping)
    : m_kind(Kind::Mapping)
    , m_mapping(std::move(mapping))
{ }

Look::~Look() = default;

std::unique_ptr<Look> Look::withStrength(double strength) const
{
    switch (m_kind) {
    case Kind::Curves: {
        const CurvesFilter::LevelTables tables = Strength::blend(m_curves->levelTables(), strength);
        return std::make_unique<Look>(CurvesFilter::fromTables(tables[0], tables[1], tables[2]));
    }
    case Kind::Mixing: {
        // out_c = in_c + S (sum_k f_ck(in_k) - in_c) is again a sum of curves.
        MixingFilter::Curves curves = m_mixing->curves();
        for (int c = 0; c < 3; ++c) {
            for (int k = 0; k < 3; ++k) {
                for (int level = 0; level < 256; ++level) {
                    const double identity = c == k ? double(level) : 0.0;
                    double &value = curves[std::size_t(c)][std::size_t(k)][std::size_t(level)];
                    value = identity + strength * (value - identity);
                }
            }
        }
        return std::make_unique<Look>(MixingFilter::fromCurves(curves));
    }
    case Kind::Mapping:
        break;
    }
    return std::make_unique<Look>(m_mapping->withStrength(strength));
}

QImage Look::apply(const QImage &image) const
{
    switch (m_kind) {
    case Kind::Curves:
        return m_curves->apply(image);
    case Kind::Mixing:
        return m_mixing->apply(image);
    case Kind::Mapping:
        break;
    }
    return m_mapping->apply(image);
}

double Look::maxDeviation() const
{
    switch (m_kind) {
    case Kind::Curves:
        return m_curves->maxDeviation();
    case Kind::Mixing:
        return m_mixing->maxDeviation();
    case Kind::Mapping:
        break;
    }
    return m_mapping->maxDeviation();
}

double Look::midDeviation() const
{
    switch (m_kind) {
    case Kind::Curves:
        return m_curves->midDeviation();
    case Kind::Mixing:
        return m_mixing->midDeviation();
    case Kind::Mapping:
        break;
    }
    return m_mapping->midDeviation();
}
