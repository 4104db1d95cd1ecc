#include "colourprofile.h"

#include <QByteArrayView>
#include <QList>
#include <QPointF>

namespace {

quint32 bigEndian(QByteArrayView bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16
        | quint32(quint8(bytes[at + 2])) << 8 | quint32(quint8(bytes[at + 3]));
}

// The data of the profile's tag with the given signature; empty when it has none.
QByteArrayView tag(QByteArrayView profile, QByteArrayView signature)
{
    if (profile.size() < 132)
        return QByteArrayView();
    const quint32 count = bigEndian(profile, 128);
    if (count > quint32((profile.size() - 132) / 12))
        return QByteArrayView();
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype entry = 132 + 12 * qsizetype(i);
        if (profile.sliced(entry, 4) != signature)
            continue;
        const quint32 offset = bigEndian(profile, entry + 4);
        const quint32 size = bigEndian(profile, entry + 8);
        if (offset > quint64(profile.size()) || size > quint64(profile.size()) - offset)
            return QByteArrayView();
        return profile.sliced(offset, size);
    }
    return QByteArrayView();
}

// The chromaticity of an XYZ tag's value.
bool chromaticity(QByteArrayView xyz, QPointF *point)
{
    if (xyz.size() < 20 || !xyz.startsWith("XYZ "))
        return false;
    const double x = qint32(bigEndian(xyz, 8)) / 65536.0;
    const double y = qint32(bigEndian(xyz, 12)) / 65536.0;
    const double z = qint32(bigEndian(xyz, 16)) / 65536.0;
    if (!(x + y + z > 0.0))
        return false;
    *point = QPointF(x / (x + y + z), y / (x + y + z));
    return true;
}

// A tone curve stored as a table (Qt names curves it has no formula for "custom").
QList<uint16_t> curveTable(QByteArrayView curve)
{
    QList<uint16_t> table;
    if (curve.size() < 12 || !curve.startsWith("curv"))
        return table;
    const quint32 count = bigEndian(curve, 8);
    if (count < 2 || count > quint32((curve.size() - 12) / 2))
        return table;
    table.reserve(count);
    for (quint32 i = 0; i < count; ++i)
        table.append(uint16_t(quint8(curve[12 + 2 * i]) << 8 | quint8(curve[13 + 2 * i])));
    return table;
}

} // namespace

namespace ColourProfile {

bool isDamaged(const QColorSpace &space)
{
    return !space.isValid() && !space.iccProfile().isEmpty();
}

bool isGrey(const QColorSpace &space)
{
    return space.isValid() && space.iccProfile().mid(16, 4) == "GRAY";
}

QColorSpace forColour(const QColorSpace &grey)
{
    const QByteArray profile = grey.iccProfile();
    QPointF white;
    if (!chromaticity(tag(profile, "wtpt"), &white))
        return QColorSpace();
    const QPointF red(0.64, 0.33);
    const QPointF green(0.30, 0.60);
    const QPointF blue(0.15, 0.06);
    if (grey.transferFunction() != QColorSpace::TransferFunction::Custom)
        return QColorSpace(white, red, green, blue, grey.transferFunction(), grey.gamma());
    const QList<uint16_t> table = curveTable(tag(profile, "kTRC"));
    if (table.isEmpty())
        return QColorSpace();
    // Qt 6.4 builds no valid space from primaries and a table at once, but sets a table on one.
    return QColorSpace(white, red, green, blue, QColorSpace::TransferFunction::Linear)
        .withTransferFunction(table);
}

} // namespace ColourProfile
