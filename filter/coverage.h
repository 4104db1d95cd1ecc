#ifndef COVERAGE_H
#define COVERAGE_H

#include "rgb.h"

#include <QByteArray>
#include <QImage>
#include <QtGlobal>

#include <array>
#include <bitset>
#include <optional>

// Where in the RGB cube the example of a learnt look showed colours. The cube is cut into
// Cells^3 cells of equal size (red index fastest, then green, then blue); a colour whose
// channels are the fractions r, g, b of their full range (1 the largest level) lies in cell
// (floor(r * Cells), floor(g * Cells), floor(b * Cells)), values outside 0..1 in the end cells.
//
// A cell counts as shown once at least MinShare of the example's source pixels fell into it,
// so that a few stray pixels of a photo (noise, a compression edge) do not claim it; in an
// example of fewer than 1 / MinShare pixels every pixel counts, so that no colour the example
// holds is ever called unseen. Every method carries a look smoothly over a short distance, so a
// photo's colour is taken as known where its cell was shown or shares a face with a shown cell;
// beyond that the look is a guess. (A mapping learnt from one real photo and applied to others
// erred by under 1 level in shown cells, 2 to 3 in cells sharing a face with them, 3 to 5 across an
// edge or a corner and 8 further away.)
//
// A look read from a file that says nothing of its example has no coverage (isKnown() is
// false) and every question about it answers "shown".
class Coverage
{
public:
    // Cells per channel; each spans Rgb::Levels / Cells levels.
    static constexpr int Cells = 16;
    static constexpr int CellCount = Cells * Cells * Cells;
    // What a cell needs of the example's pixels to count as shown.
    static constexpr double MinShare = 1e-4;

    // The cell of a colour given as fractions of the full range; NaN reads as 0.
    static int cellOf(double red, double green, double blue);

    // Collects the source pixels of one or more examples, image by image.
    class Counter
    {
    public:
        Counter();
        // Every pixel of an example's source image, of any format (16-bit and float ones
        // at their own precision; alpha is not looked at). Throws std::bad_alloc.
        void addImage(const QImage &source);
        // What the pixels added so far showed; unknown when no pixel was added.
        Coverage coverage() const;

    private:
        std::array<qint64, CellCount> m_counts {};
        qint64 m_pixels = 0;
    };

    Coverage();

    bool isKnown() const { return m_known; }
    // Whether the example showed colours in the cell (true when unknown).
    bool shows(int cell) const { return !m_known || m_shown.test(std::size_t(cell)); }
    // Whether the cell was shown or shares a face with a shown cell (true when unknown).
    bool reaches(int cell) const { return !m_known || m_reached.test(std::size_t(cell)); }
    // The share of the cube's cells that were shown, 0..1 (1 when unknown).
    double shownShare() const;
    int shownCells() const { return m_known ? int(m_shown.count()) : CellCount; }

    // The share of the image's pixels, 0..1, whose colours lie in cells not reached (0 when
    // unknown or for an empty image). Reads any format as Counter::addImage() does; scans
    // whole scanlines, split over the cores. Throws std::bad_alloc.
    double unshownShare(const QImage &image) const;
    // A Grayscale8 mask of the image's size: 255 where the pixel's colour lies in a cell not
    // reached, 0 elsewhere (all 0 when unknown). Throws std::bad_alloc.
    QImage unshownMask(const QImage &image) const;

    // The shown cells as CellCount / 4 lower-case hexadecimal digits, four cells to a digit
    // in cell order, lowest cell in the lowest bit; empty when unknown.
    QByteArray toHex() const;
    // Reads what toHex() wrote (digits in either case); nothing when the text is not
    // CellCount / 4 hex digits.
    static std::optional<Coverage> fromHex(const QByteArray &hex);

    friend bool operator==(const Coverage &a, const Coverage &b)
    {
        return a.m_known == b.m_known && a.m_shown == b.m_shown;
    }
    friend bool operator!=(const Coverage &a, const Coverage &b) { return !(a == b); }

private:
    explicit Coverage(const std::bitset<CellCount> &shown);

    bool m_known = false;
    std::bitset<CellCount> m_shown;
    std::bitset<CellCount> m_reached;
};

#endif // COVERAGE_H
