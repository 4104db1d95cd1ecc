#include "commanddispatcher.h"
#include "commandline.h"
#include "console.h"
#include "imagefile.h"
#include "lastresort.h"

#include <QCoreApplication>
#include <QImageReader>

#include <exception>

int main(int argc, char *argv[])
{
    LastResort::install("chromaloom-cli");
    // A core application is enough: images are read, written and painted without a
    // window system, so the tool also runs on servers and in scripts.
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chromaloom-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CHROMALOOM_VERSION));
    QImageReader::setAllocationLimit(ImageFile::AllocationLimitMB);

    // Every argument that is not a keyword or a number is a file name, and a name that is not
    // UTF-8 reaches Qt changed: it is refused before anything is read or written.
    for (int i = 1; i < argc; ++i) {
        if (!CommandLine::isUtf8(argv[i])) {
            Console::reportFailure(CommandLine::escaped(argv[i]),
                                   QStringLiteral("file name is not valid UTF-8"));
            return CommandLine::Failure;
        }
    }

    try {
        CommandDispatcher dispatcher;
        return dispatcher.run(QCoreApplication::arguments());
    } catch (const std::exception &exception) {
        Console::reportError(QStringLiteral("internal error: ")
                             + QString::fromLocal8Bit(exception.what()));
        return CommandLine::Failure;
    }
}
