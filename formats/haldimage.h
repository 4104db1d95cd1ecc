#ifndef HALDIMAGE_H
#define HALDIMAGE_H

#include "areamapping.h"
#include "outcome.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

// Reads a Hald CLUT image as a 3D lattice: a PNG or TIFF of 8 or 16 bits per channel (or
// floating point, read at 16 bits) and of level L (LutLimits::MinHaldLevel..MaxHaldLevel),
// L³ × L³ pixels holding L² lattice points per channel. Pixel n, counted row by row, is lattice
// point (n % L², n / L² % L², n / L⁴): red fastest, blue slowest. Alpha and the colour profile are
// ignored.
class HaldImage
{
public:
    // Decodes the image file's bytes; fails, with one line why, when they hold no Hald CLUT.
    // The image's size is checked before its pixels are decoded.
    Outcome<void> read(const QByteArray &bytes);

    // The largest file read: a level-16 image of 32-bit floating-point RGBA, uncompressed, and
    // its headers.
    static qint64 maxFileSize();
    // Whether a file starting with these bytes is an image of a type Qt reads (the bytes
    // need not be the whole file).
    static bool looksLikeImage(QByteArrayView start);

    // Valid after a successful read().
    int level() const { return m_level; }
    // The lattice's points per channel, level².
    int size() const { return m_level * m_level; }
    // The size³ output colours in levels 0..255, red index fastest; a 16-bit value v reads as
    // v / 257, so 8-bit and 16-bit images of the same colours read alike.
    const std::vector<AreaMapping::Entry> &lattice() const { return m_lattice; }
    // The lattice, moved out of the reader.
    std::vector<AreaMapping::Entry> takeLattice() { return std::move(m_lattice); }

private:
    // Forgets anything read before.
    Outcome<void> fail(const QString &problem);

    std::vector<AreaMapping::Entry> m_lattice;
    int m_level = 0;
};

#endif // HALDIMAGE_H
