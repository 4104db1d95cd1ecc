#include "jpegsegments.h"

QList<JpegSegments::Segment> JpegSegments::beforeScan(QByteArrayView file)
{
    QList<Segment> segments;
    qsizetype at = 2; // after the start-of-image marker
    while (file.size() - at >= 4 && quint8(file[at]) == 0xff) {
        const int marker = quint8(file[at + 1]);
        if (marker == 0xff) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xda || marker == 0xd9) // start of scan, end of image
            break;
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) { // no length
            at += 2;
            continue;
        }
        const qsizetype length = quint8(file[at + 2]) << 8 | quint8(file[at + 3]);
        if (length < 2 || file.size() - at - 2 < length)
            break;
        segments.append({ marker, file.sliced(at, length + 2), file.sliced(at + 4, length - 2) });
        at += length + 2;
    }
    return segments;
}
