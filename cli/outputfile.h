#ifndef OUTPUTFILE_H
#define OUTPUTFILE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

class QImage;

// A file the tool is about to write, written so that nothing the user had is lost: an
// existing file is replaced only when overwriting was asked for and never when it is one
// of the command's inputs, and the name only ever holds a complete file (DurableFile).
class OutputFile
{
public:
    OutputFile(const QString &path, bool overwrite);

    QString path() const { return m_path; }

    // Why the file must not be written, checked before any work starts; empty when it may.
    QString refusal(const QStringList &inputs) const;

    // Writes contents and returns an empty text, or what went wrong. Without overwriting,
    // a file that appeared at the name meanwhile is not replaced either.
    QString write(const QByteArray &contents) const;

    // write() for an image encoded in the given format ("png", "jpg", ...) and quality.
    QString writeImage(const QImage &image, const QByteArray &format, int quality) const;

    // Whether two paths name the same file, following symbolic links.
    static bool sameFile(const QString &a, const QString &b);

private:
    QString m_path;
    bool m_overwrite;
};

#endif // OUTPUTFILE_H
