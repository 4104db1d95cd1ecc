#ifndef CUBEFILE_H
#define CUBEFILE_H

#include "curvesfilter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <vector>

class QIODevice;

// Reads a .cube lookup table, 1D or 3D, without trusting the file.
//
// Accepted: LUT_1D_SIZE 2..65536 or LUT_3D_SIZE 2..129, TITLE, DOMAIN_MIN/DOMAIN_MAX (or
// LUT_1D_INPUT_RANGE / LUT_3D_INPUT_RANGE), # comment lines, blank lines, CRLF line ends, a
// UTF-8 byte order mark, then the table: size lines (1D) or size³ lines with the red index
// fastest (3D), three finite numbers each. Lines longer than MaxLineLength characters are
// refused (comments are skipped whatever their length), so memory stays bounded whatever
// the file holds.
//
// Numbers may be any finite doubles: every step below is computed so that it cannot
// overflow, and each result is what the rule gives (up to double rounding) or, where the
// true value lies beyond the double range, its clamped end.
class CubeFile
{
public:
    enum class Kind { Table1D, Lattice3D };

    static constexpr int Min1DSize = 2;
    static constexpr int Max1DSize = 65536;
    static constexpr int Min3DSize = 2;
    static constexpr int Max3DSize = 129;
    static constexpr int MaxLineLength = 4096;

    // Parses the whole file; false with errorString() set when it is not a usable LUT.
    bool read(QIODevice *device);
    bool read(const QByteArray &contents);
    // One line, starting with "line N: " where a line is at fault.
    QString errorString() const { return m_error; }

    // Valid after a successful read().
    Kind kind() const { return m_kind; }
    // Entries of a 1D table, points per channel of a 3D lattice.
    int size() const { return m_size; }

    // 1D: the output level (0..255) of channel c (0 red, 1 green, 2 blue) at each of the
    // 256 levels. Level i is looked up at input i / 255, mapped into the domain (and clamped
    // to it), by straight-line interpolation between the two neighbouring table entries;
    // the value found is clamped to 0..1, multiplied by 255 and rounded to the nearest
    // level. Identity levels for a 3D file.
    CurvesFilter::LevelTable levels(int channel) const;

    // 3D: size³ output colours as levels 0..255 (value × 255, not rounded, clamped to
    // 0..255), red index fastest. Lattice point (r, g, b) stands for the input levels
    // (r, g, b) × 255 / (size - 1), so the lattice always spans levels 0..255: with the
    // domain 0..1 it is the file's table; with another domain the table is sampled there
    // by trilinear interpolation, inputs outside the domain taking its nearest face.
    // Empty with *size 0 for a 1D file.
    std::vector<std::array<float, 3>> lattice(int *size) const;

private:
    // The words of a line, as QByteArray::simplified() would separate them: the first
    // few, which are all that any valid line has, and how many there are.
    struct Fields
    {
        static constexpr int Kept = 4;
        QByteArrayView words[Kept];
        int count = 0;
    };
    static Fields split(QByteArrayView text);
    static bool parseNumbers(const Fields &fields, int first, int count, double *numbers);

    bool fail(qint64 line, const QString &problem);
    bool parseKeyword(qint64 line, const Fields &fields);
    bool setKind(qint64 line, QByteArrayView keyword, Kind kind);
    bool parseSize(qint64 line, const Fields &fields, Kind kind);
    bool parseTableLine(qint64 line, const Fields &fields);
    qsizetype expectedEntries() const;

    std::vector<std::array<double, 3>> m_entries;
    double m_domainMin[3] = { 0.0, 0.0, 0.0 };
    double m_domainMax[3] = { 1.0, 1.0, 1.0 };
    Kind m_kind = Kind::Table1D;
    bool m_kindKnown = false;
    int m_size = 0;
    QString m_error;
};

#endif // CUBEFILE_H
