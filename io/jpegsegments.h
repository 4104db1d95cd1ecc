#ifndef JPEGSEGMENTS_H
#define JPEGSEGMENTS_H

#include <QByteArrayView>
#include <QList>

// The marker segments of a JPEG file before its first scan, found without trusting the file:
// fill bytes and markers without a length are stepped over, and a length that runs past the
// end stops the walk. The views point into the file, which must outlive them.
namespace JpegSegments {

struct Segment
{
    int marker; // 0xe0 APP0, 0xe1 APP1, 0xfe COM, ...
    QByteArrayView whole; // from the 0xff of the marker to the end of the payload
    QByteArrayView payload; // what follows the length field
};

QList<Segment> beforeScan(QByteArrayView file);

} // namespace JpegSegments

#endif // JPEGSEGMENTS_H
