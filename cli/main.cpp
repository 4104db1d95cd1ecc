#include "commanddispatcher.h"
#include "filtermessages.h"

#include <QCoreApplication>
#include <QImageReader>

int main(int argc, char *argv[])
{
    // A core application is enough: images are read, written and painted without a
    // window system, so the tool also runs on servers and in scripts.
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chromaloom-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CHROMALOOM_VERSION));
    QImageReader::setAllocationLimit(FilterMessages::ImageAllocationLimitMB);

    CommandDispatcher dispatcher;
    return dispatcher.run(QCoreApplication::arguments());
}
