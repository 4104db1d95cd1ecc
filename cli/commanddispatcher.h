#ifndef COMMANDDISPATCHER_H
#define COMMANDDISPATCHER_H

#include <QStringList>

// Reads the command line, runs the command it names and returns the exit status:
// 0 on success, 1 when an operation failed, 2 for wrong usage.
class CommandDispatcher
{
public:
    int run(const QStringList &arguments);
};

#endif // COMMANDDISPATCHER_H
