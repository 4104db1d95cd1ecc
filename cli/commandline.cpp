#include "commandline.h"

#include "console.h"

namespace {

const QString Description = QStringLiteral(
    "Learns colour filters from before/after image pairs, applies them to many images and\n"
    "exports them as lookup tables for other grading tools.\n"
    "\n"
    "Commands:\n"
    "  generate SOURCE PRODUCT [SOURCE PRODUCT ...] -o FILTER\n"
    "           [--method curves|mixing|mapping] learn a filter from image pairs\n"
    "  apply FILTER TARGET... (-o OUT | -d DIR)  apply a filter to images\n"
    "  info FILTER                               describe a filter\n"
    "  plot FILTER -o PLOT.png                   draw what a filter does\n"
    "  export FILTER -o LOOK.cube [--3d [N]]     write a 1D or 3D .cube LUT\n"
    "  export FILTER -o LOOK.png                 write a Hald CLUT image\n"
    "  import LOOK.cube -o FILTER.cml            turn a 1D .cube LUT into a filter\n"
    "\n"
    "FILTER is a filter file (.cml) or a 1D or 3D .cube LUT.\n"
    "Run 'chromaloom-cli COMMAND --help' for the options of a command.");

// The length of the UTF-8 sequence at bytes[at], or 0 when none starts there: overlong
// forms, surrogates and code points beyond U+10FFFF are not UTF-8.
qsizetype sequenceLength(QByteArrayView bytes, qsizetype at)
{
    const uchar lead = uchar(bytes[at]);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    // The range of the second byte; the later ones are 0x80..0xbf.
    uchar low = 0x80;
    uchar high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            low = 0xa0;
        else if (lead == 0xed)
            high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            low = 0x90;
        else if (lead == 0xf4)
            high = 0x8f;
    } else {
        return 0;
    }
    if (bytes.size() - at < length)
        return 0;
    for (qsizetype k = 1; k < length; ++k) {
        const uchar next = uchar(bytes[at + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xbf))
            return 0;
    }
    return length;
}

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
    : m_arguments(arguments)
    , m_helpOption(m_parser.addHelpOption())
    , m_versionOption(m_parser.addVersionOption())
    , m_outputOption(QStringList { QStringLiteral("o"), QStringLiteral("output") },
                     QStringLiteral("Write to <file>."), QStringLiteral("file"))
    , m_overwriteOption(QStringLiteral("overwrite"),
                        QStringLiteral("Replace output files that already exist (never an input)."))
{ }

bool CommandLine::parseCommandName()
{
    m_parser.setApplicationDescription(Description);
    m_parser.addPositionalArgument(QStringLiteral("command"),
                                   QStringLiteral("The command to run (see above)."),
                                   QStringLiteral("COMMAND [options]"));
    // Everything after the command belongs to it and is parsed once the command is known.
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!m_parser.parse(m_arguments)) {
        usageError(m_parser.errorText());
        return false;
    }
    if (m_parser.isSet(m_versionOption))
        m_parser.showVersion();
    showHelpAllIfAsked();

    const QStringList positional = m_parser.positionalArguments();
    if (positional.isEmpty()) {
        showHelpIfAsked();
        usageError(QStringLiteral("no command given"));
        return false;
    }
    m_command = positional.constFirst();
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    m_parser.clearPositionalArguments();
    return true;
}

int CommandLine::unknownCommand()
{
    showHelpIfAsked();
    const QString unknown = m_command;
    m_command.clear();
    return usageError(QStringLiteral("unknown command %1").arg(quoted(unknown)));
}

void CommandLine::showHelpIfAsked()
{
    if (m_parser.isSet(m_helpOption))
        m_parser.showHelp(Success);
}

bool CommandLine::parse(const QString &syntax, const QString &description,
                        const QList<Argument> &arguments, const QList<QCommandLineOption> &options,
                        int minPositional, int maxPositional)
{
    m_parser.setApplicationDescription(description);
    m_parser.addPositionalArgument(m_command, QStringLiteral("The command."));
    for (const Argument &argument : arguments)
        m_parser.addPositionalArgument(argument.name, argument.description, argument.syntax);
    m_parser.addOptions(options);
    if (!m_parser.parse(m_arguments)) {
        usageError(m_parser.errorText());
        return false;
    }
    showHelpIfAsked();
    showHelpAllIfAsked();

    m_positional = m_parser.positionalArguments();
    m_positional.removeFirst();
    if (m_positional.size() < minPositional) {
        usageError(QStringLiteral("%1 needs %2").arg(m_command, syntax));
        return false;
    }
    if (maxPositional >= 0 && m_positional.size() > maxPositional) {
        usageError(
            QStringLiteral("unexpected argument %1").arg(quoted(m_positional[maxPositional])));
        return false;
    }
    return true;
}

void CommandLine::showHelpAllIfAsked()
{
    // Only process() can show the help with Qt's own options; the arguments parsed
    // already, so it shows that help and exits.
    if (m_parser.isSet(QStringLiteral("help-all")))
        m_parser.process(m_arguments);
}

int CommandLine::usageError(const QString &problem) const
{
    const QString help = m_command.isEmpty()
        ? QStringLiteral("chromaloom-cli --help")
        : QStringLiteral("chromaloom-cli %1 --help").arg(m_command);
    Console::reportError(problem + QStringLiteral(" (see '%1')").arg(help));
    return UsageError;
}

bool CommandLine::requireOutput(QString *output) const
{
    *output = m_parser.value(m_outputOption);
    if (!output->isEmpty())
        return true;
    usageError(QStringLiteral("%1 needs -o with the output file").arg(m_command));
    return false;
}

QString CommandLine::quoted(const QString &text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

bool CommandLine::isUtf8(QByteArrayView bytes)
{
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype length = sequenceLength(bytes, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

QString CommandLine::escaped(QByteArrayView bytes)
{
    QString text;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype length = sequenceLength(bytes, at);
        if (length > 0) {
            text += QString::fromUtf8(bytes.sliced(at, length));
            at += length;
        } else {
            text += QString::asprintf("\\x%02X", uint(uchar(bytes[at])));
            ++at;
        }
    }
    return text;
}
