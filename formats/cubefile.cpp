#include "cubefile.h"

#include <QBuffer>
#include <QIODevice>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Room for a byte order mark and a CRLF besides MaxLineLength characters, plus the one
// byte that QIODevice::readLine() keeps for its terminator.
constexpr qint64 ReadLimit = CubeFile::MaxLineLength + 6;

const QByteArrayView ByteOrderMark("\xef\xbb\xbf");

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

// The keywords, matched in any letter case.
enum class Keyword { Title, Size1D, Size3D, DomainMin, DomainMax, Range1D, Range3D, Unknown };

Keyword keywordOf(QByteArrayView word)
{
    static const std::pair<const char *, Keyword> names[]
        = { { "TITLE", Keyword::Title },
            { "LUT_1D_SIZE", Keyword::Size1D },
            { "LUT_3D_SIZE", Keyword::Size3D },
            { "DOMAIN_MIN", Keyword::DomainMin },
            { "DOMAIN_MAX", Keyword::DomainMax },
            { "LUT_1D_INPUT_RANGE", Keyword::Range1D },
            { "LUT_3D_INPUT_RANGE", Keyword::Range3D } };
    for (const auto &[name, keyword] : names) {
        if (word.compare(QByteArrayView(name), Qt::CaseInsensitive) == 0)
            return keyword;
    }
    return Keyword::Unknown;
}

QString sizeKeyword(bool is3D)
{
    return is3D ? QStringLiteral("LUT_3D_SIZE") : QStringLiteral("LUT_1D_SIZE");
}

// A table value as an output level in a float, its ends where it lies beyond them.
float entryLevel(double value)
{
    constexpr double Largest = std::numeric_limits<float>::max();
    return float(std::clamp(value * 255.0, -Largest, Largest));
}

} // namespace

CubeFile::Kind CubeFile::kind() const
{
    if (m_size3D == 0)
        return Kind::Table1D;
    return m_size1D > 0 ? Kind::Shaper : Kind::Lattice3D;
}

bool CubeFile::looksLikeCube(QByteArrayView start)
{
    if (start.startsWith(ByteOrderMark))
        start = start.sliced(ByteOrderMark.size());
    while (!start.isEmpty()) {
        const qsizetype end = start.indexOf('\n');
        const QByteArrayView line = end < 0 ? start : start.first(end);
        const Fields fields = split(line);
        if (fields.count > 0 && !fields.words[0].startsWith('#'))
            return keywordOf(fields.words[0]) != Keyword::Unknown;
        if (end < 0)
            break;
        start = start.sliced(end + 1);
    }
    return false;
}

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

void CubeFile::reset()
{
    m_table1D = {};
    m_lattice = {};
    m_range1D = Range();
    m_range3D = Range();
    m_domainLine = 0;
    m_domainKeyword.clear();
    m_seenRange1D = false;
    m_seenRange3D = false;
    m_size1D = 0;
    m_size3D = 0;
    m_coverageRecord = CoverageRecord();
    m_coverage = Coverage();
    m_warnings.clear();
}

bool CubeFile::fail(qint64 line, const QString &problem)
{
    reset();
    m_error = line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(problem) : problem;
    return false;
}

bool CubeFile::parseSize(qint64 line, const Fields &fields, bool is3D)
{
    const QString keyword = sizeKeyword(is3D);
    bool ok = fields.count == 2;
    const int size = ok ? fields.words[1].toInt(&ok) : 0;
    if (!ok)
        return fail(line, QStringLiteral("%1 needs one whole number").arg(keyword));
    const int minimum = is3D ? LutLimits::Min3DSize : LutLimits::Min1DSize;
    const int maximum = is3D ? LutLimits::Max3DSize : LutLimits::Max1DSize;
    if (size < minimum || size > maximum)
        return fail(line,
                    QStringLiteral("%1 %2 is not between %3 and %4")
                        .arg(keyword)
                        .arg(size)
                        .arg(minimum)
                        .arg(maximum));
    int &own = is3D ? m_size3D : m_size1D;
    if (own != 0)
        return fail(line, QStringLiteral("a second %1").arg(keyword));
    own = size;
    // A 3D table grows with the lines actually present, so a short file claiming the
    // largest size stays small.
    if (!is3D)
        m_table1D.reserve(std::size_t(size));
    return true;
}

bool CubeFile::parseRange(qint64 line, const Fields &fields, const QString &keyword, bool is3D)
{
    double range[2];
    if (!parseNumbers(fields, 1, 2, range))
        return fail(line, QStringLiteral("%1 needs two numbers").arg(keyword));
    Range &own = is3D ? m_range3D : m_range1D;
    std::fill(std::begin(own.low), std::end(own.low), range[0]);
    std::fill(std::begin(own.high), std::end(own.high), range[1]);
    (is3D ? m_seenRange3D : m_seenRange1D) = true;
    return true;
}

bool CubeFile::parseKeyword(qint64 line, const Fields &fields)
{
    const Keyword keyword = keywordOf(fields.words[0]);
    const QString written = QString::fromLatin1(fields.words[0]);
    if (keyword == Keyword::Title)
        return true;
    if (!m_table1D.empty() || !m_lattice.empty())
        return fail(line, QStringLiteral("%1 after the table").arg(written));

    switch (keyword) {
    case Keyword::Size1D:
    case Keyword::Size3D:
        return parseSize(line, fields, keyword == Keyword::Size3D);
    case Keyword::DomainMin:
    case Keyword::DomainMax: {
        // A file of one table: the domain is that table's.
        const bool low = keyword == Keyword::DomainMin;
        double domain[3];
        if (!parseNumbers(fields, 1, 3, domain))
            return fail(line, QStringLiteral("%1 needs three numbers").arg(written));
        std::copy(domain, domain + 3, low ? m_range1D.low : m_range1D.high);
        std::copy(domain, domain + 3, low ? m_range3D.low : m_range3D.high);
        m_domainLine = line;
        m_domainKeyword = written;
        return true;
    }
    case Keyword::Range1D:
    case Keyword::Range3D:
        return parseRange(line, fields, written, keyword == Keyword::Range3D);
    case Keyword::Title:
    case Keyword::Unknown:
        break;
    }
    return fail(line, QStringLiteral("unknown keyword %1").arg(written));
}

qsizetype CubeFile::expectedEntries() const
{
    return m_size1D + qsizetype(m_size3D) * m_size3D * m_size3D;
}

// "LUT_1D_SIZE 1024 and LUT_3D_SIZE 33", or the one size there is.
QString CubeFile::sizesText() const
{
    QStringList sizes;
    if (m_size1D > 0)
        sizes.append(QStringLiteral("LUT_1D_SIZE %1").arg(m_size1D));
    if (m_size3D > 0)
        sizes.append(QStringLiteral("LUT_3D_SIZE %1").arg(m_size3D));
    return sizes.join(QStringLiteral(" and "));
}

bool CubeFile::parseTableLine(qint64 line, const Fields &fields)
{
    std::array<double, 3> entry;
    if (!parseNumbers(fields, 0, 3, entry.data()))
        return fail(line, QStringLiteral("expected three numbers"));
    if (m_size1D == 0 && m_size3D == 0) {
        const QString sizes = m_seenRange1D == m_seenRange3D
            ? QStringLiteral("LUT_1D_SIZE or LUT_3D_SIZE")
            : sizeKeyword(m_seenRange3D);
        return fail(line, QStringLiteral("table line before %1").arg(sizes));
    }
    const qsizetype found = qsizetype(m_table1D.size() + m_lattice.size());
    if (found == expectedEntries()) {
        if (kind() == Kind::Table1D)
            return fail(
                line, QStringLiteral("more than the %1 table lines of LUT_1D_SIZE").arg(m_size1D));
        return fail(line,
                    QStringLiteral("more than the %1 table lines of %2")
                        .arg(expectedEntries())
                        .arg(sizesText()));
    }
    if (qsizetype(m_table1D.size()) < m_size1D)
        m_table1D.push_back(entry);
    else
        m_lattice.push_back({ entryLevel(entry[0]), entryLevel(entry[1]), entryLevel(entry[2]) });
    return true;
}

bool CubeFile::finish()
{
    if (m_size1D == 0 && m_size3D == 0)
        return fail(0, QStringLiteral("no LUT_1D_SIZE or LUT_3D_SIZE line; not a .cube file"));
    const qsizetype found = qsizetype(m_table1D.size() + m_lattice.size());
    if (found != expectedEntries()) {
        switch (kind()) {
        case Kind::Table1D:
            return fail(0,
                        QStringLiteral("LUT_1D_SIZE is %1 but the file holds %2 table lines")
                            .arg(m_size1D)
                            .arg(found));
        case Kind::Lattice3D:
            return fail(0,
                        QStringLiteral("LUT_3D_SIZE %1 needs %2 table lines but the file holds %3")
                            .arg(m_size3D)
                            .arg(expectedEntries())
                            .arg(found));
        case Kind::Shaper:
            break;
        }
        return fail(0,
                    QStringLiteral("%1 need %2 table lines but the file holds %3")
                        .arg(sizesText())
                        .arg(expectedEntries())
                        .arg(found));
    }
    // Each table of a shaper file has its own input range; one domain cannot say which.
    if (kind() == Kind::Shaper && m_domainLine > 0)
        return fail(m_domainLine,
                    QStringLiteral("%1 in a file with a 1D and a 3D table; use "
                                   "LUT_1D_INPUT_RANGE and LUT_3D_INPUT_RANGE")
                        .arg(m_domainKeyword));
    for (const Range *range : { &m_range1D, &m_range3D }) {
        const bool used = range == &m_range1D ? m_size1D > 0 : m_size3D > 0;
        for (int c = 0; c < 3 && used; ++c) {
            if (!(range->low[c] < range->high[c]))
                return fail(0, QStringLiteral("the domain's minimum is not below its maximum"));
        }
    }
    const Outcome<Coverage> coverage = m_coverageRecord.coverage();
    if (coverage.ok())
        m_coverage = coverage.value();
    else
        m_warnings.append(coverage.error());
    return true;
}

Outcome<void> CubeFile::read(QIODevice *device)
{
    if (!parse(device))
        return Outcome<void>::failure(m_error);
    return {};
}

Outcome<void> CubeFile::read(const QByteArray &contents)
{
    QByteArray bytes = contents;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return read(&buffer);
}

bool CubeFile::parse(QIODevice *device)
{
    reset();
    m_error.clear();

    char buffer[ReadLimit];
    qint64 line = 0;
    while (!device->atEnd()) {
        const qint64 count = device->readLine(buffer, ReadLimit);
        if (count <= 0)
            return fail(0, QStringLiteral("cannot read the file"));
        ++line;
        QByteArrayView text(buffer, count);
        if (line == 1 && text.startsWith(ByteOrderMark))
            text = text.sliced(ByteOrderMark.size());
        const bool ended = text.endsWith('\n');
        qsizetype length = text.size() - (ended ? 1 : 0);
        if (length > 0 && text[length - 1] == '\r')
            --length;
        const bool tooLong = length > MaxLineLength || (!ended && !device->atEnd());
        const Fields fields = split(text);
        if (fields.count > 0 && fields.words[0].startsWith('#')) {
            m_coverageRecord.addComment(line, fields.words, fields.count, ended || device->atEnd());
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
    return finish();
}
