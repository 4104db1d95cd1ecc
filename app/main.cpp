#include "imagefile.h"
#include "imagefiletypes.h"
#include "lastresort.h"
#include "mainwidget.h"

#include <QApplication>
#include <QImageReader>
#include <QStringList>

#include <algorithm>

int main(int argc, char **argv)
{
    LastResort::install("chromaloom");
    QApplication app(argc, argv);
    // Qt refuses images over 128 MB by default, which shuts out photos from current cameras.
    QImageReader::setAllocationLimit(ImageFile::AllocationLimitMB);
    // Lets the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.chromaloom.chromaloom"));

    MainWidget window;
    // A file manager opens photos with the program: the first image becomes the target, as
    // if chosen with "Select target...". Any other argument is ignored.
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const auto image
        = std::find_if(arguments.cbegin(), arguments.cend(), ImageFileTypes::isOpenable);
    if (image != arguments.cend())
        window.loadTarget(*image);
    window.show();
    return app.exec();
}
