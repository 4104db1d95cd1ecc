#ifndef METADATABLOCKS_H
#define METADATABLOCKS_H

#include <QByteArray>

// The metadata blocks of a JPEG, PNG or WebP file, one kind at a time. A reader that meets
// a block it cannot parse gives up on all of them; handed the blocks of one kind apart, it
// loses only that kind. The colour profile and the pixels never go with any kind.
namespace MetadataBlocks {

enum class Kind { Exif, Iptc, Xmp };

// Whether blocks of the file's format can be taken apart; false for TIFF, whose metadata is
// the file's own structure, and for formats without metadata.
bool separates(const QByteArray &file);

// A file of the same format holding only the file's blocks of the given kind, in their
// order; empty when it has none.
QByteArray only(const QByteArray &file, Kind kind);

} // namespace MetadataBlocks

#endif // METADATABLOCKS_H
