#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QByteArrayView>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

// The command line of one run of the tool: the parser, the options every command shares,
// and the one-line reports of wrong usage.
class CommandLine
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

    explicit CommandLine(const QStringList &arguments);

    // Parses the arguments up to the command's name; false after reporting wrong usage.
    // Shows the help or the version and exits when asked for.
    bool parseCommandName();
    QString command() const { return m_command; }
    // Shows the general help when asked for, otherwise reports that the command is not
    // known; returns UsageError.
    int unknownCommand();

    // Sets the command's arguments and options, parses again, and handles --help; `syntax`
    // is what a usage error quotes. False (after reporting) when the arguments do not fit.
    bool parse(const QString &syntax, const QString &description, const QList<Argument> &arguments,
               const QList<QCommandLineOption> &options, int minPositional, int maxPositional);

    // The positional arguments after the command's name.
    const QStringList &positional() const { return m_positional; }
    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption &option) const { return m_parser.value(option); }
    bool overwrite() const { return m_parser.isSet(m_overwriteOption); }

    // The arguments as given, for commands that rewrite them before parsing.
    QStringList &arguments() { return m_arguments; }

    const QCommandLineOption &outputOption() const { return m_outputOption; }
    const QCommandLineOption &overwriteOption() const { return m_overwriteOption; }

    // Reports wrong usage in one line and returns UsageError.
    int usageError(const QString &problem) const;
    // The value of -o, or a usage error when it is missing.
    bool requireOutput(QString *output) const;

    static QString quoted(const QString &text);

    // Whether the bytes are valid UTF-8: Qt reads arguments and file names as UTF-8 and
    // turns any other byte into U+FFFD, so such a name would name another file.
    static bool isUtf8(QByteArrayView bytes);
    // The bytes as text, each byte that is not part of valid UTF-8 shown as \xHH.
    static QString escaped(QByteArrayView bytes);

private:
    // Shows the help and exits, when --help was given.
    void showHelpIfAsked();
    // Shows the help including Qt's options and exits, when --help-all was given.
    void showHelpAllIfAsked();

    QCommandLineParser m_parser;
    QStringList m_arguments;
    QString m_command;
    QStringList m_positional;
    const QCommandLineOption m_helpOption;
    const QCommandLineOption m_versionOption;
    const QCommandLineOption m_outputOption;
    const QCommandLineOption m_overwriteOption;
};

#endif // COMMANDLINE_H
