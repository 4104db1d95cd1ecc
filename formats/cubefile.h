#ifndef CUBEFILE_H
#define CUBEFILE_H

#include "areamapping.h"
#include "coverage.h"
#include "coveragerecord.h"
#include "curvesfilter.h"
#include "lutlimits.h"
#include "outcome.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

class QIODevice;

// Reads a .cube lookup table without trusting the file: a 1D table, a 3D table, or both in
// one file (a 1D shaper table applied before the 3D one).
//
// Accepted, with keywords in any letter case: LUT_1D_SIZE (Min1DSize..Max1DSize) and/or
// LUT_3D_SIZE (Min3DSize..Max3DSize), TITLE with anything after it, DOMAIN_MIN/DOMAIN_MAX
// (files of one table), LUT_1D_INPUT_RANGE and LUT_3D_INPUT_RANGE (each for its own table),
// # comment lines, blank lines, CRLF line ends, a UTF-8 byte order mark, then the table
// lines, three finite numbers each: the 1D table's first, then the 3D table's with the red
// index fastest. Lines longer than MaxLineLength characters are refused (comments are
// skipped whatever their length), so memory stays bounded whatever the file holds.
//
// Comment lines "# chromaloom coverage 16 DIGITS" record the look's Coverage: its hex digits
// split over lines of bounded length, in order. Other readers skip them as comments. A
// damaged record leaves the coverage unknown, with a warning, and the table is read as ever.
//
// Numbers may be any finite doubles: every step below is computed so that it cannot
// overflow, and each result is what the rule gives (up to double rounding) or, where the
// true value lies beyond the double range, its clamped end.
class CubeFile
{
public:
    enum class Kind { Table1D, Lattice3D, Shaper };

    static constexpr int MaxLineLength = LutLimits::MaxLineLength;

    // Parses the whole file; fails when it is not a usable LUT, with one line starting with
    // "line N: " where a line is at fault.
    Outcome<void> read(QIODevice *device);
    Outcome<void> read(const QByteArray &contents);

    // Whether a file starting with these bytes reads as a .cube: its first line that is
    // neither blank nor a comment starts with a .cube keyword.
    static bool looksLikeCube(QByteArrayView start);

    // Valid after a successful read().
    Kind kind() const;
    // Entries of a 1D file's table, points per channel of a 3D or shaper file's lattice.
    int size() const { return m_size3D > 0 ? m_size3D : m_size1D; }
    // Entries of a shaper file's 1D table; 0 for the other kinds.
    int shaperSize() const { return m_size3D > 0 ? m_size1D : 0; }

    // 1D: the output level (0..255) of channel c (0 red, 1 green, 2 blue) at each of the
    // 256 levels. Level i is looked up at input i / 255, mapped into the domain (and clamped
    // to it), by straight-line interpolation between the two neighbouring table entries;
    // the value found is clamped to 0..1, multiplied by 255 and rounded to the nearest
    // level. Identity levels for the other kinds.
    CurvesFilter::LevelTable levels(int channel) const;

    // 3D and shaper: the lattice's size³ entries as output levels (value × 255, as they
    // stand: values outside 0..1 are kept, up to the float range), red index fastest. Empty
    // for a 1D file.
    const std::vector<AreaMapping::Entry> &lattice() const { return m_lattice; }
    // The lattice, moved out of the reader.
    std::vector<AreaMapping::Entry> takeLattice() { return std::move(m_lattice); }
    // 3D and shaper: where each 8-bit level of a channel falls in the lattice. Level i is
    // input i / 255; a shaper file first looks it up in its 1D table (mapped into that
    // table's range and clamped to it, interpolated along a straight line, the value found
    // kept as it is); the input (or the 1D table's value) is mapped into the 3D table's
    // domain, clamped to it and scaled to the lattice, 0..size-1. Empty where lattice point
    // i stands for level i × 255 / (size - 1), as in a 3D file of the domain 0..1, and for a
    // 1D file.
    std::optional<AreaMapping::InputCoordinates> inputCoordinates() const;

    // The coverage the file records; unknown when it records none or a damaged one.
    const Coverage &coverage() const { return m_coverage; }
    // Lines about what a successful read() passed over: a damaged coverage record.
    const QStringList &warnings() const { return m_warnings; }

private:
    // The words of a line, as QByteArray::simplified() would separate them: the first
    // few, which are all that any valid line has, and how many there are.
    struct Fields
    {
        static constexpr int Kept = 5;
        QByteArrayView words[Kept];
        int count = 0;
    };
    // An input range per channel: the domain of one table.
    struct Range
    {
        double low[3] = { 0.0, 0.0, 0.0 };
        double high[3] = { 1.0, 1.0, 1.0 };
    };
    static Fields split(QByteArrayView text);
    static bool parseNumbers(const Fields &fields, int first, int count, double *numbers);

    bool parse(QIODevice *device);
    void reset();
    // Forgets what was read and keeps the line why, for read() to give back.
    bool fail(qint64 line, const QString &problem);
    bool parseKeyword(qint64 line, const Fields &fields);
    bool parseSize(qint64 line, const Fields &fields, bool is3D);
    bool parseRange(qint64 line, const Fields &fields, const QString &keyword, bool is3D);
    bool parseTableLine(qint64 line, const Fields &fields);
    bool finish();
    qsizetype expectedEntries() const;
    QString sizesText() const;
    double coordinate(int channel, int level) const;

    std::vector<std::array<double, 3>> m_table1D;
    std::vector<AreaMapping::Entry> m_lattice;
    Range m_range1D;
    Range m_range3D;
    // Where DOMAIN_MIN or DOMAIN_MAX last stood (0: nowhere), and which of them.
    qint64 m_domainLine = 0;
    QString m_domainKeyword;
    bool m_seenRange1D = false;
    bool m_seenRange3D = false;
    int m_size1D = 0;
    int m_size3D = 0;
    CoverageRecord m_coverageRecord;
    Coverage m_coverage;
    QStringList m_warnings;
    QString m_error;
};

#endif // CUBEFILE_H
