#ifndef DURABLEFILE_H
#define DURABLEFILE_H

#include "outcome.h"

#include <QByteArray>
#include <QString>

// The one way this project writes a file: complete or not at all.
//
// The contents go into an unnamed (or, where the file system has none, a hidden temporary)
// file in the target's folder; every byte and the final flush are checked and the file is
// synced before it takes the target's name. On any failure the old file stays byte-identical
// and no temporary is left behind. A symbolic link is followed and stays a link.
//
// Only a regular file is replaced: a fifo, device or socket at the name (or at the end of
// the link) is refused with "not a regular file" and never opened. A replaced file keeps its
// owner, group, permissions and extended attributes (ACLs too) as far as this process may set
// them, all given to the new file before it takes the name; set-id bits are dropped where
// owner or group cannot be kept. A new file gets the usual 0666 less the umask.
//
// Linux cannot link an unnamed file over an existing name, so replacing briefly gives it a
// hidden name, ".NAME.chromaloom-RANDOM.tmp", and renames that; without unnamed files the
// temporary has that name from the start. A process killed in between leaves it behind, so
// each write into a folder (at most once a minute per process) removes the temporaries of
// that pattern there that are regular files of this user and untouched for a minute; nothing
// else is ever removed.
namespace DurableFile {

enum class Mode {
    Replace, // an existing file is replaced atomically
    CreateNew, // the file appears only when complete and never replaces an existing one
};

// Writes contents to path. A failure's line is the reason alone ("No space left on device",
// "not a regular file"), for the caller to put after its own words; when CreateNew finds the
// name taken it is "already exists", nothing is written, and nameTaken() tells it apart.
Outcome<void> write(const QString &path, const QByteArray &contents, Mode mode = Mode::Replace);

// Whether a write failed only because CreateNew found the name taken.
bool nameTaken(const Outcome<void> &written);

} // namespace DurableFile

#endif // DURABLEFILE_H
