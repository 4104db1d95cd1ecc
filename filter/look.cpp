#include "look.h"

#include "areamapping.h"
#include "cubefile.h"
#include "curvesfilter.h"
#include "filtersettings.h"
#include "mixingfilter.h"
#include "strength.h"

#include <QFile>
#include <QFileInfo>

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

std::unique_ptr<Look> Look::load(const QString &path, QString *error)
{
    if (!QFileInfo(path).isFile()) {
        *error = QFileInfo::exists(path) ? QStringLiteral("not a filter file")
                                         : QStringLiteral("no such file");
        return nullptr;
    }
    if (QFileInfo(path).suffix().compare(QLatin1String("cube"), Qt::CaseInsensitive) == 0) {
        QFile file(path);
        CubeFile cube;
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read file");
            return nullptr;
        }
        if (!cube.read(&file)) {
            *error = cube.errorString();
            return nullptr;
        }
        if (cube.kind() == CubeFile::Kind::Table1D)
            return std::make_unique<Look>(
                CurvesFilter::fromTables(cube.levels(0), cube.levels(1), cube.levels(2)));
        int size = 0;
        std::vector<AreaMapping::Entry> lattice = cube.lattice(&size);
        return std::make_unique<Look>(AreaMapping::fromLattice(size, std::move(lattice)));
    }

    // The file is read once, whichever kind it holds.
    FilterSettings settings;
    if (settings.read(path)) {
        if (std::unique_ptr<CurvesFilter> curves = CurvesFilter::fromSettings(settings))
            return std::make_unique<Look>(std::move(curves));
        if (std::unique_ptr<MixingFilter> mixing = MixingFilter::fromSettings(settings))
            return std::make_unique<Look>(std::move(mixing));
    }
    *error = QStringLiteral("not a filter file");
    return nullptr;
}

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
    case Kind::Mapping: {
        // Interpolation reproduces the identity exactly, so blending the points blends
        // every colour between them.
        const int size = m_mapping->size();
        std::vector<AreaMapping::Entry> lattice = m_mapping->lattice();
        for (std::size_t i = 0; i < lattice.size(); ++i) {
            const std::size_t index[3]
                = { i % std::size_t(size), i / std::size_t(size) % std::size_t(size),
                    i / std::size_t(size) / std::size_t(size) };
            std::array<double, 3> in;
            std::array<double, 3> out;
            for (int c = 0; c < 3; ++c) {
                in[std::size_t(c)] = double(index[c]) * 255.0 / double(size - 1);
                out[std::size_t(c)] = double(lattice[i][std::size_t(c)]);
            }
            const std::array<double, 3> blended = Strength::blend(in, out, strength);
            for (int c = 0; c < 3; ++c)
                lattice[i][std::size_t(c)] = float(blended[std::size_t(c)]);
        }
        return std::make_unique<Look>(AreaMapping::fromLattice(size, std::move(lattice)));
    }
    }
    return nullptr;
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

LutWriter Look::lutWriter() const
{
    switch (m_kind) {
    case Kind::Curves:
        return LutWriter(LutWriter::curvesMap(*m_curves), m_curves->levelTables());
    case Kind::Mixing: {
        const MixingFilter *mixing = m_mixing.get();
        return LutWriter([mixing](double red, double green, double blue) {
            return mixing->map(red, green, blue);
        });
    }
    case Kind::Mapping:
        break;
    }
    const AreaMapping *mapping = m_mapping.get();
    return LutWriter([mapping](double red, double green, double blue) {
        return mapping->map(red, green, blue);
    });
}

QByteArray Look::fileText(const QString &title) const
{
    switch (m_kind) {
    case Kind::Curves:
        return m_curves->fileText();
    case Kind::Mixing:
        return m_mixing->fileText();
    case Kind::Mapping:
        break;
    }
    return lutWriter().cube3D(title, QStringLiteral("(full area mapping)"), m_mapping->size());
}

QString Look::fileSuffix() const
{
    return m_kind == Kind::Mapping ? QStringLiteral("cube") : QStringLiteral("cml");
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
