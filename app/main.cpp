#include "filtermessages.h"
#include "mainwidget.h"

#include <QApplication>
#include <QImageReader>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Qt refuses images over 128 MB by default, which shuts out photos from current cameras.
    QImageReader::setAllocationLimit(FilterMessages::ImageAllocationLimitMB);

    MainWidget window;
    window.show();
    return app.exec();
}
