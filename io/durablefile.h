#ifndef DURABLEFILE_H
#define DURABLEFILE_H

#include <QByteArray>
#include <QString>

// The one way this project writes a file: complete or not at all.
//
// The contents go into an unnamed (or, where the file system has none, a hidden temporary)
// file in the target's folder; every byte and the final flush are checked and the file is
// synced before it takes the target's name. On any failure the old file stays byte-identical
// and no temporary is left behind. A symbolic link is followed and stays a link; a replaced
// file keeps its permissions, a new one gets the usual 0666 less the umask.
namespace DurableFile {

enum class Mode {
    Replace, // an existing file is replaced atomically
    CreateNew, // the file appears only when complete and never replaces an existing one
};

enum class Result { Written, AlreadyExists, Failed };

// Writes contents to path. On failure, *error (when given) holds one line saying why.
Result write(const QString &path, const QByteArray &contents, Mode mode = Mode::Replace,
             QString *error = nullptr);

} // namespace DurableFile

#endif // DURABLEFILE_H
