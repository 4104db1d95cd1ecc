#include "inputimage.h"

#include "console.h"
#include "imagefile.h"

QImage readInputImage(const QString &path)
{
    const ImageFile file = ImageFile::read(path);
    if (file.isNull())
        Console::reportFailure(path, QStringLiteral("cannot read image"));
    else if (!file.damage().isEmpty())
        Console::reportFailure(path,
                               QStringLiteral("warning: the image is damaged, parts of it may be "
                                              "missing (%1)")
                                   .arg(file.damage()));
    return file.image();
}
