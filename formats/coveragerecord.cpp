#include "coveragerecord.h"

namespace {

const QByteArrayView Words[] = { "#", "chromaloom", "coverage" };
constexpr int Digits = Coverage::CellCount / 4;

} // namespace

QByteArray CoverageRecord::comments(const Coverage &coverage)
{
    const QByteArray digits = coverage.toHex();
    QByteArray comments;
    for (qsizetype start = 0; start < digits.size(); start += DigitsPerLine)
        comments += "# chromaloom coverage " + QByteArray::number(Coverage::Cells) + ' '
            + digits.mid(start, DigitsPerLine) + '\n';
    return comments;
}

void CoverageRecord::addComment(qint64 line, const QByteArrayView *words, int count, bool whole)
{
    for (int i = 0; i < 3; ++i) {
        if (count <= i || words[i] != Words[i])
            return;
    }
    if (m_line == 0)
        m_line = line;
    if (m_fault > 0)
        return;
    const qsizetype room = Digits - m_digits.size();
    if (!whole || count != 5 || words[3] != QByteArray::number(Coverage::Cells)
        || words[4].size() > room)
        m_fault = line;
    else
        m_digits += words[4].toByteArray();
}

Outcome<Coverage> CoverageRecord::coverage() const
{
    if (m_line == 0)
        return Coverage();
    const std::optional<Coverage> coverage
        = m_fault > 0 ? std::nullopt : Coverage::fromHex(m_digits);
    if (coverage)
        return *coverage;
    return Outcome<Coverage>::failure(
        QStringLiteral("line %1: damaged coverage record; coverage unknown")
            .arg(m_fault > 0 ? m_fault : m_line));
}
