#ifndef INPUTIMAGE_H
#define INPUTIMAGE_H

#include <QImage>
#include <QString>

// Reads an input image upright for a command. An unreadable file is reported as a failure
// and gives a null image; a damaged one is read as far as it goes, with a warning that
// names the file.
QImage readInputImage(const QString &path);

#endif // INPUTIMAGE_H
