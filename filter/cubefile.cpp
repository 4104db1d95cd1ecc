#include "cubefile.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Room for a byte order mark and a CRLF besides MaxLineLength characters, plus the one
// byte that QIODevice::readLine() keeps for its terminator.
constexpr qint64 ReadLimit = CubeFile::MaxLineLength + 6;

// The white space that QByteArray::simplified() and trimmed() remove.
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A word such as LUT_1D_SIZE: a letter or underscore first, then letters, digits and
// underscores. Anything else is taken for a table line.
bool isKeyword(QByteArrayView field)
{
    const auto isWordCharacter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || c == '_';
    };
    const char first = field.at(0);
    return !(first >= '0' && first <= '9')
        && std::all_of(field.begin(), field.end(), isWordCharacter);
}

QString kindName(CubeFile::Kind kind)
{
    return kind == CubeFile::Kind::Table1D ? QStringLiteral("1D") : QStringLiteral("3D");
}

QString sizeKeyword(CubeFile::Kind kind)
{
    return QStringLiteral("LUT_%1_SIZE").arg(kindName(kind));
}

// a + (b - a) * f for f in 0..1. Where b - a overflows, the same is computed on halves,
// which cannot overflow. The true value lies between a and b, so a result that rounding
// pushed past the double range is brought back to its end: no infinity can reach a later
// step and turn into NaN there.
double interpolate(double a, double b, double f)
{
    constexpr double Largest = std::numeric_limits<double>::max();
    const double difference = b - a;
    const double value
        = std::isfinite(difference) ? a + difference * f : 2.0 * (a / 2 + (b / 2 - a / 2) * f);
    return std::clamp(value, -Largest, Largest);
}

// Where x lies in the domain low..high (low < high), as a fraction clamped to 0..1. x is an
// input 0..1, so only high - low can overflow; halves then give the same quotient.
double domainFraction(double x, double low, double high)
{
    const double t = std::isfinite(high - low) ? (x - low) / (high - low)
                                               : (x / 2 - low / 2) / (high / 2 - low / 2);
    return std::clamp(t, 0.0, 1.0);
}

// Where an input falls between two table entries.
struct Sample
{
    int below;
    double fraction; // 0 when the input falls on entry `below`; then below + 1 is not read
};

} // namespace

CubeFile::Fields CubeFile::split(QByteArrayView text)
{
    Fields fields;
    qsizetype i = 0;
    for (;;) {
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i == text.size())
            return fields;
        const qsizetype start = i;
        while (i < text.size() && !isSpace(text[i]))
            ++i;
        if (fields.count < Fields::Kept)
            fields.words[fields.count] = text.sliced(start, i - start);
        ++fields.count;
    }
}

// Reads fields first..first+count-1 as finite numbers in C notation.
bool CubeFile::parseNumbers(const Fields &fields, int first, int count, double *numbers)
{
    if (fields.count != first + count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        numbers[i] = fields.words[first + i].toDouble(&ok);
        if (!ok || !std::isfinite(numbers[i]))
            return false;
    }
    return true;
}

bool CubeFile::fail(qint64 line, const QString &problem)
{
    m_error = line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(problem) : problem;
    m_entries = {};
    m_size = 0;
    return false;
}

bool CubeFile::setKind(qint64 line, QByteArrayView keyword, Kind kind)
{
    if (m_kindKnown && m_kind != kind)
        return fail(line,
                    QStringLiteral("%1 in a %2 .cube file")
                        .arg(QString::fromLatin1(keyword), kindName(m_kind)));
    m_kind = kind;
    m_kindKnown = true;
    return true;
}

bool CubeFile::parseSize(qint64 line, const Fields &fields, Kind kind)
{
    const QString keyword = sizeKeyword(kind);
    bool ok = fields.count == 2;
    const int size = ok ? fields.words[1].toInt(&ok) : 0;
    if (!ok)
        return fail(line, QStringLiteral("%1 needs one whole number").arg(keyword));
    const int minimum = kind == Kind::Table1D ? Min1DSize : Min3DSize;
    const int maximum = kind == Kind::Table1D ? Max1DSize : Max3DSize;
    if (size < minimum || size > maximum)
        return fail(line,
                    QStringLiteral("%1 %2 is not between %3 and %4")
                        .arg(keyword)
                        .arg(size)
                        .arg(minimum)
                        .arg(maximum));
    if (m_size != 0 && m_kind == kind)
        return fail(line, QStringLiteral("a second %1").arg(keyword));
    if (!setKind(line, fields.words[0], kind))
        return false;
    m_size = size;
    // A 3D table grows with the lines actually present, so a short file claiming the
    // largest size stays small.
    if (kind == Kind::Table1D)
        m_entries.reserve(std::size_t(size));
    return true;
}

bool CubeFile::parseKeyword(qint64 line, const Fields &fields)
{
    const QByteArrayView keyword = fields.words[0];
    if (keyword == "TITLE")
        return true;
    if (!m_entries.empty())
        return fail(line, QStringLiteral("%1 after the table").arg(QString::fromLatin1(keyword)));

    if (keyword == "LUT_1D_SIZE")
        return parseSize(line, fields, Kind::Table1D);
    if (keyword == "LUT_3D_SIZE")
        return parseSize(line, fields, Kind::Lattice3D);
    if (keyword == "DOMAIN_MIN" || keyword == "DOMAIN_MAX") {
        double *domain = keyword == "DOMAIN_MIN" ? m_domainMin : m_domainMax;
        if (!parseNumbers(fields, 1, 3, domain))
            return fail(line,
                        QStringLiteral("%1 needs three numbers").arg(QString::fromLatin1(keyword)));
        return true;
    }
    if (keyword == "LUT_1D_INPUT_RANGE" || keyword == "LUT_3D_INPUT_RANGE") {
        if (!setKind(line, keyword,
                     keyword == "LUT_1D_INPUT_RANGE" ? Kind::Table1D : Kind::Lattice3D))
            return false;
        double range[2];
        if (!parseNumbers(fields, 1, 2, range))
            return fail(line,
                        QStringLiteral("%1 needs two numbers").arg(QString::fromLatin1(keyword)));
        std::fill(m_domainMin, m_domainMin + 3, range[0]);
        std::fill(m_domainMax, m_domainMax + 3, range[1]);
        return true;
    }
    return fail(line, QStringLiteral("unknown keyword %1").arg(QString::fromLatin1(keyword)));
}

qsizetype CubeFile::expectedEntries() const
{
    return m_kind == Kind::Table1D ? m_size : qsizetype(m_size) * m_size * m_size;
}

bool CubeFile::parseTableLine(qint64 line, const Fields &fields)
{
    std::array<double, 3> entry;
    if (!parseNumbers(fields, 0, 3, entry.data()))
        return fail(line, QStringLiteral("expected three numbers"));
    if (m_size == 0)
        return fail(line,
                    QStringLiteral("table line before %1")
                        .arg(m_kindKnown ? sizeKeyword(m_kind)
                                         : QStringLiteral("LUT_1D_SIZE or LUT_3D_SIZE")));
    if (qsizetype(m_entries.size()) == expectedEntries()) {
        if (m_kind == Kind::Table1D)
            return fail(line,
                        QStringLiteral("more than the %1 table lines of LUT_1D_SIZE").arg(m_size));
        return fail(line,
                    QStringLiteral("more than the %1 table lines of LUT_3D_SIZE %2")
                        .arg(expectedEntries())
                        .arg(m_size));
    }
    m_entries.push_back(entry);
    return true;
}

bool CubeFile::read(QIODevice *device)
{
    m_entries = {};
    m_size = 0;
    m_kind = Kind::Table1D;
    m_kindKnown = false;
    m_error.clear();
    std::fill(m_domainMin, m_domainMin + 3, 0.0);
    std::fill(m_domainMax, m_domainMax + 3, 1.0);

    char buffer[ReadLimit];
    qint64 line = 0;
    while (!device->atEnd()) {
        const qint64 count = device->readLine(buffer, ReadLimit);
        if (count <= 0)
            return fail(0, QStringLiteral("cannot read the file"));
        ++line;
        QByteArrayView text(buffer, count);
        if (line == 1 && text.startsWith("\xef\xbb\xbf"))
            text = text.sliced(3);
        const bool ended = text.endsWith('\n');
        qsizetype length = text.size() - (ended ? 1 : 0);
        if (length > 0 && text[length - 1] == '\r')
            --length;
        const bool tooLong = length > MaxLineLength || (!ended && !device->atEnd());
        const Fields fields = split(text);
        if (fields.count > 0 && fields.words[0].startsWith('#')) {
            // A comment may be of any length; the rest of it is read and dropped.
            bool lineEnded = ended;
            while (!lineEnded && !device->atEnd()) {
                const qint64 chunk = device->readLine(buffer, ReadLimit);
                if (chunk <= 0)
                    return fail(0, QStringLiteral("cannot read the file"));
                lineEnded = buffer[chunk - 1] == '\n';
            }
            continue;
        }
        if (tooLong)
            return fail(line, QStringLiteral("longer than %1 characters").arg(MaxLineLength));
        if (fields.count == 0)
            continue;
        if (!(isKeyword(fields.words[0]) ? parseKeyword(line, fields)
                                         : parseTableLine(line, fields)))
            return false;
    }

    if (m_size == 0)
        return fail(0, QStringLiteral("no LUT_1D_SIZE or LUT_3D_SIZE line; not a .cube file"));
    if (qsizetype(m_entries.size()) != expectedEntries()) {
        const qsizetype found = qsizetype(m_entries.size());
        if (m_kind == Kind::Table1D)
            return fail(0,
                        QStringLiteral("LUT_1D_SIZE is %1 but the file holds %2 table lines")
                            .arg(m_size)
                            .arg(found));
        return fail(0,
                    QStringLiteral("LUT_3D_SIZE %1 needs %2 table lines but the file holds %3")
                        .arg(m_size)
                        .arg(expectedEntries())
                        .arg(found));
    }
    for (int c = 0; c < 3; ++c) {
        if (!(m_domainMin[c] < m_domainMax[c]))
            return fail(0, QStringLiteral("the domain's minimum is not below its maximum"));
    }
    return true;
}

bool CubeFile::read(const QByteArray &contents)
{
    QByteArray bytes = contents;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return read(&buffer);
}

CurvesFilter::LevelTable CubeFile::levels(int channel) const
{
    CurvesFilter::LevelTable table;
    if (m_kind != Kind::Table1D || m_size == 0) {
        for (int level = 0; level < 256; ++level)
            table[std::size_t(level)] = level;
        return table;
    }
    const int last = m_size - 1;
    for (int level = 0; level < 256; ++level) {
        const double t = domainFraction(level / 255.0, m_domainMin[channel], m_domainMax[channel]);
        const double position = t * last;
        const int below = std::min(int(position), last - 1);
        const double fraction = position - below;
        const double a = m_entries[std::size_t(below)][std::size_t(channel)];
        const double b = m_entries[std::size_t(below) + 1][std::size_t(channel)];
        const double value = std::clamp(interpolate(a, b, fraction), 0.0, 1.0);
        table[std::size_t(level)] = int(std::lround(value * 255.0));
    }
    return table;
}

std::vector<std::array<float, 3>> CubeFile::lattice(int *size) const
{
    if (m_kind != Kind::Lattice3D || m_size == 0) {
        *size = 0;
        return {};
    }
    const int n = m_size;
    *size = n;

    // Where lattice point i of each input channel falls in the table. With the domain 0..1
    // it falls on entry i; computing that through the domain could land a rounding error
    // short of it.
    std::vector<Sample> samples[3];
    for (int c = 0; c < 3; ++c) {
        const bool identity = m_domainMin[c] == 0.0 && m_domainMax[c] == 1.0;
        samples[c].reserve(std::size_t(n));
        for (int i = 0; i < n; ++i) {
            if (identity) {
                samples[c].push_back({ i, 0.0 });
                continue;
            }
            const double position
                = domainFraction(double(i) / (n - 1), m_domainMin[c], m_domainMax[c]) * (n - 1);
            const int below = std::min(int(position), n - 1);
            samples[c].push_back({ below, position - below });
        }
    }

    const auto entry = [this, n](int r, int g, int b) -> const std::array<double, 3> & {
        return m_entries[(std::size_t(b) * std::size_t(n) + std::size_t(g)) * std::size_t(n)
                         + std::size_t(r)];
    };
    std::vector<std::array<float, 3>> points;
    points.reserve(std::size_t(n) * std::size_t(n) * std::size_t(n));
    for (const Sample &sb : samples[2]) {
        for (const Sample &sg : samples[1]) {
            for (const Sample &sr : samples[0]) {
                std::array<float, 3> point;
                for (int c = 0; c < 3; ++c) {
                    const auto alongRed = [&](int g, int b) {
                        const double v = entry(sr.below, g, b)[std::size_t(c)];
                        return sr.fraction > 0.0
                            ? interpolate(v, entry(sr.below + 1, g, b)[std::size_t(c)], sr.fraction)
                            : v;
                    };
                    const auto alongGreen = [&](int b) {
                        const double v = alongRed(sg.below, b);
                        return sg.fraction > 0.0
                            ? interpolate(v, alongRed(sg.below + 1, b), sg.fraction)
                            : v;
                    };
                    const double v = alongGreen(sb.below);
                    const double value = sb.fraction > 0.0
                        ? interpolate(v, alongGreen(sb.below + 1), sb.fraction)
                        : v;
                    point[std::size_t(c)] = float(std::clamp(value, 0.0, 1.0) * 255.0);
                }
                points.push_back(point);
            }
        }
    }
    return points;
}
