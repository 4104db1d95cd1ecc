#ifndef OUTPUTFILE_H
#define OUTPUTFILE_H

#include "outcome.h"
#include "resultphoto.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class PhotoMetadata;
class QImage;

// A file the tool is about to write, written so that nothing the user had is lost: an
// existing file is replaced only when overwriting was asked for, only when it is a regular
// file and never when it is one of the command's inputs, and the name only ever holds a
// complete file (DurableFile).
class OutputFile
{
public:
    OutputFile(const QString &path, bool overwrite);

    QString path() const { return m_path; }

    // Whether the file may be written, checked before any work starts; fails with why not.
    Outcome<void> checkWritable(const QStringList &inputs) const;
    // checkWritable() for a command: false, after reporting why, when it must not write.
    bool confirmWritable(const QStringList &inputs) const;

    // Writes contents. Without overwriting, a file that appeared at the name meanwhile is
    // not replaced either.
    Outcome<void> write(const QByteArray &contents) const;
    // write() for an image encoded in the given format ("png", "jpg", ...) and quality.
    Outcome<void> writeImage(const QImage &image, const QByteArray &format, int quality) const;
    // A result photo (ResultPhoto) carrying the metadata, written as write() does.
    ResultPhoto::Written writePhoto(const QImage &image, const QByteArray &format, int quality,
                                    const PhotoMetadata &metadata) const;

    // Reports a failed write of this file and returns the command's exit status.
    int exitStatus(const Outcome<void> &written) const;

    // Whether two paths name the same file, following symbolic links.
    static bool sameFile(const QString &a, const QString &b);

private:
    QString m_path;
    bool m_overwrite;
};

#endif // OUTPUTFILE_H
