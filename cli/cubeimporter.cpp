#include "cubeimporter.h"

#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace {

// Reads fields[first..first+count) as finite numbers in C notation.
bool parseNumbers(const QList<QByteArray> &fields, int first, int count, double *numbers)
{
    if (fields.size() != first + count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        numbers[i] = fields[first + i].toDouble(&ok);
        if (!ok || !std::isfinite(numbers[i]))
            return false;
    }
    return true;
}

// A word such as LUT_1D_SIZE: a letter or underscore first, then letters, digits and
// underscores. Anything else is taken for a table line.
bool isKeyword(const QByteArray &field)
{
    const auto isWordCharacter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || c == '_';
    };
    const char first = field.at(0);
    return !(first >= '0' && first <= '9')
        && std::all_of(field.begin(), field.end(), isWordCharacter);
}

} // namespace

bool CubeImporter::fail(int line, const QString &problem)
{
    m_error = line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(problem) : problem;
    return false;
}

bool CubeImporter::parseKeyword(int line, const QList<QByteArray> &fields)
{
    const QByteArray &keyword = fields.constFirst();
    if (keyword == "TITLE")
        return true;
    if (keyword == "LUT_3D_SIZE" || keyword == "LUT_3D_INPUT_RANGE")
        return fail(line, QStringLiteral("a 3D LUT; only 1D .cube files can be imported"));
    if (!m_entries.empty())
        return fail(line, QStringLiteral("%1 after the table").arg(QString::fromLatin1(keyword)));

    if (keyword == "LUT_1D_SIZE") {
        bool ok = fields.size() == 2;
        const int size = ok ? fields[1].toInt(&ok) : 0;
        if (!ok)
            return fail(line, QStringLiteral("LUT_1D_SIZE needs one whole number"));
        if (size < MinSize || size > MaxSize)
            return fail(line,
                        QStringLiteral("LUT_1D_SIZE %1 is not between %2 and %3")
                            .arg(size)
                            .arg(MinSize)
                            .arg(MaxSize));
        if (m_size != 0)
            return fail(line, QStringLiteral("a second LUT_1D_SIZE"));
        m_size = size;
        m_entries.reserve(std::size_t(size));
        return true;
    }
    if (keyword == "DOMAIN_MIN" || keyword == "DOMAIN_MAX") {
        double *domain = keyword == "DOMAIN_MIN" ? m_domainMin : m_domainMax;
        if (!parseNumbers(fields, 1, 3, domain))
            return fail(line,
                        QStringLiteral("%1 needs three numbers").arg(QString::fromLatin1(keyword)));
        return true;
    }
    if (keyword == "LUT_1D_INPUT_RANGE") {
        double range[2];
        if (!parseNumbers(fields, 1, 2, range))
            return fail(line, QStringLiteral("LUT_1D_INPUT_RANGE needs two numbers"));
        std::fill(m_domainMin, m_domainMin + 3, range[0]);
        std::fill(m_domainMax, m_domainMax + 3, range[1]);
        return true;
    }
    return fail(line, QStringLiteral("unknown keyword %1").arg(QString::fromLatin1(keyword)));
}

bool CubeImporter::read(QIODevice *device)
{
    m_entries.clear();
    m_size = 0;
    m_error.clear();
    std::fill(m_domainMin, m_domainMin + 3, 0.0);
    std::fill(m_domainMax, m_domainMax + 3, 1.0);

    int line = 0;
    while (!device->atEnd()) {
        QByteArray text = device->readLine();
        ++line;
        if (line == 1 && text.startsWith("\xef\xbb\xbf"))
            text.remove(0, 3);
        text = text.trimmed();
        if (text.isEmpty() || text.startsWith('#'))
            continue;

        const QList<QByteArray> fields = text.simplified().split(' ');
        if (isKeyword(fields.constFirst())) {
            if (!parseKeyword(line, fields))
                return false;
            continue;
        }
        std::array<double, 3> entry;
        if (!parseNumbers(fields, 0, 3, entry.data()))
            return fail(line, QStringLiteral("expected three numbers"));
        if (m_size == 0)
            return fail(line, QStringLiteral("table line before LUT_1D_SIZE"));
        if (int(m_entries.size()) == m_size)
            return fail(line,
                        QStringLiteral("more than the %1 table lines of LUT_1D_SIZE").arg(m_size));
        m_entries.push_back(entry);
    }

    if (m_size == 0)
        return fail(0, QStringLiteral("no LUT_1D_SIZE line; not a 1D .cube file"));
    if (int(m_entries.size()) != m_size)
        return fail(0,
                    QStringLiteral("LUT_1D_SIZE is %1 but the file holds %2 table lines")
                        .arg(m_size)
                        .arg(m_entries.size()));
    for (int c = 0; c < 3; ++c) {
        if (!(m_domainMin[c] < m_domainMax[c]))
            return fail(0, QStringLiteral("the domain's minimum is not below its maximum"));
    }
    return true;
}

CurvesFilter::LevelTable CubeImporter::levels(int channel) const
{
    CurvesFilter::LevelTable table;
    const int last = m_size - 1;
    for (int level = 0; level < 256; ++level) {
        const double input = level / 255.0;
        const double t = std::clamp((input - m_domainMin[channel])
                                        / (m_domainMax[channel] - m_domainMin[channel]),
                                    0.0, 1.0);
        const double position = t * last;
        const int below = std::min(int(position), last - 1);
        const double fraction = position - below;
        const double a = m_entries[std::size_t(below)][std::size_t(channel)];
        const double b = m_entries[std::size_t(below) + 1][std::size_t(channel)];
        const double value = std::clamp(a + (b - a) * fraction, 0.0, 1.0);
        table[std::size_t(level)] = int(std::lround(value * 255.0));
    }
    return table;
}
