#ifndef PNGCHUNKS_H
#define PNGCHUNKS_H

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The chunks of a PNG file, walked with every length checked against the data.
//
// libpng gives up on a file whose layout is broken (cut short, a critical chunk that fails
// its checksum, an invalid header) with a line of its own on standard error that no handler
// of ours can catch; problem() finds what it would give up on before it reads the file.
namespace PngChunks {

struct Chunk
{
    QByteArrayView type;
    QByteArrayView data;
    QByteArrayView whole; // length, type, data and checksum, as stored
};

// The chunks after the signature, up to and including IEND, as far as they are complete.
QList<Chunk> list(const QByteArray &png);

// Why libpng would refuse to read the file, in a few words; empty when it would read it.
// The compressed image data itself is not checked.
QString problem(const QByteArray &png);

} // namespace PngChunks

#endif // PNGCHUNKS_H
