#ifndef COMMANDDISPATCHER_H
#define COMMANDDISPATCHER_H

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <memory>

class CurvesFilter;
class OutputFile;

// Reads the command line, runs the command it names and returns the exit status:
// 0 on success, 1 when an operation failed, 2 for wrong usage.
class CommandDispatcher
{
public:
    enum ExitStatus { Success = 0, Failure = 1, UsageError = 2 };

    // A positional argument as the help lists it.
    struct Argument
    {
        QString name;
        QString description;
        QString syntax;
    };

    CommandDispatcher();

    int run(const QStringList &arguments);

private:
    int generate();
    int apply();
    int info();
    int plot();
    int exportLut();
    int importLut();

    // Sets the command's arguments and options, parses again, and handles --help; `syntax`
    // is what a usage error quotes.
    // False (after reporting) when the arguments do not fit the command.
    bool parseCommand(const QString &syntax, const QString &description,
                      const QList<Argument> &arguments, const QList<QCommandLineOption> &options,
                      int minPositional, int maxPositional);
    // Shows the help including Qt's options and exits, when --help-all was given.
    void showHelpAllIfAsked();
    // Reports wrong usage in one line and returns UsageError.
    int usageError(const QString &problem) const;
    // The value of -o, or a usage error when it is missing.
    bool requireOutput(QString *output);
    // False, after reporting why, when the output must not be written.
    static bool mayWrite(const OutputFile &output, const QStringList &inputs);
    // Reports what went wrong while writing the output and returns Failure.
    static int writeFailed(const OutputFile &output, const QString &problem);
    // The filter in a filter file, or null after reporting the failure.
    static std::unique_ptr<CurvesFilter> loadFilter(const QString &path);

    QCommandLineParser m_parser;
    QStringList m_arguments;
    QString m_command;
    QStringList m_positional;
    const QCommandLineOption m_helpOption;
    const QCommandLineOption m_versionOption;
    const QCommandLineOption m_outputOption;
    const QCommandLineOption m_overwriteOption;
};

#endif // COMMANDDISPATCHER_H
