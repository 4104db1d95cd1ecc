#ifndef IMAGEFILETYPES_H
#define IMAGEFILETYPES_H

#include <QByteArray>
#include <QList>
#include <QString>

// The image files the window deals in. Its image commands name one fixed list of types for
// their dialogs; the dialogs themselves widen that list by every further format the
// installed image plugins handle, so that WebP, ICO, TGA and the like are not hidden.
class ImageFileTypes
{
public:
    // The file-type filter the image commands pass to their dialogs.
    static QString commandFilter();
    // The filters the open and save dialogs show for it: the same entry, its patterns
    // followed by those of every further format Qt reads or writes here.
    static QString openFilter();
    static QString saveFilter();
    // "Image files (...)" with the command filter's patterns and then those of `formats`
    // that it lacks.
    static QString filterFor(const QList<QByteArray> &formats);

    // Whether the path names an existing file whose suffix the open dialog offers.
    static bool isOpenable(const QString &path);
};

#endif // IMAGEFILETYPES_H
