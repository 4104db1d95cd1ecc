#include "commanddispatcher.h"

#include "batchapplier.h"
#include "console.h"
#include "cubeimporter.h"
#include "curveplotter.h"
#include "curvesfilter.h"
#include "filtermessages.h"
#include "filterreport.h"
#include "lutexporter.h"
#include "outputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QThread>

#include <new>

namespace {

const QString Description = QStringLiteral(
    "Learns colour filters from before/after image pairs, applies them to many images and\n"
    "exports them as lookup tables for other grading tools.\n"
    "\n"
    "Commands:\n"
    "  generate SOURCE PRODUCT -o FILTER.cml     learn a filter from an image pair\n"
    "  apply FILTER.cml TARGET... (-o OUT | -d DIR)  apply a filter to images\n"
    "  info FILTER.cml                           describe a filter\n"
    "  plot FILTER.cml -o CURVES.png             draw a filter's curves\n"
    "  export FILTER.cml -o LOOK.cube [--3d [N]] write a 1D or 3D .cube LUT\n"
    "  export FILTER.cml -o LOOK.png             write a Hald CLUT image\n"
    "  import LOOK.cube -o FILTER.cml            turn a 1D .cube LUT into a filter\n"
    "\n"
    "Run 'chromaloom-cli COMMAND --help' for the options of a command.");

QString quoted(const QString &text) { return QLatin1Char('\'') + text + QLatin1Char('\''); }

const CommandDispatcher::Argument FilterArgument
    = { QStringLiteral("FILTER.cml"), QStringLiteral("The filter file."),
        QStringLiteral("FILTER.cml") };

// A whole number written as digits only, as the value of --3d must be.
bool isDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

CommandDispatcher::CommandDispatcher()
    : m_helpOption(m_parser.addHelpOption())
    , m_versionOption(m_parser.addVersionOption())
    , m_outputOption(QStringList { QStringLiteral("o"), QStringLiteral("output") },
                     QStringLiteral("Write to <file>."), QStringLiteral("file"))
    , m_overwriteOption(QStringLiteral("overwrite"),
                        QStringLiteral("Replace output files that already exist (never an input)."))
{ }

int CommandDispatcher::run(const QStringList &arguments)
{
    m_arguments = arguments;
    m_parser.setApplicationDescription(Description);
    m_parser.addPositionalArgument(QStringLiteral("command"),
                                   QStringLiteral("The command to run (see above)."),
                                   QStringLiteral("COMMAND [options]"));
    // Everything after the command belongs to it and is parsed once the command is known.
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!m_parser.parse(m_arguments))
        return usageError(m_parser.errorText());
    if (m_parser.isSet(m_versionOption))
        m_parser.showVersion();
    showHelpAllIfAsked();

    const QStringList positional = m_parser.positionalArguments();
    if (positional.isEmpty()) {
        if (m_parser.isSet(m_helpOption))
            m_parser.showHelp(Success);
        return usageError(QStringLiteral("no command given"));
    }
    m_command = positional.constFirst();
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    m_parser.clearPositionalArguments();
    m_parser.setApplicationDescription(QString());

    if (m_command == QLatin1String("generate"))
        return generate();
    if (m_command == QLatin1String("apply"))
        return apply();
    if (m_command == QLatin1String("info"))
        return info();
    if (m_command == QLatin1String("plot"))
        return plot();
    if (m_command == QLatin1String("export"))
        return exportLut();
    if (m_command == QLatin1String("import"))
        return importLut();
    if (m_parser.isSet(m_helpOption))
        m_parser.showHelp(Success);
    const QString unknown = m_command;
    m_command.clear();
    return usageError(QStringLiteral("unknown command %1").arg(quoted(unknown)));
}

bool CommandDispatcher::parseCommand(const QString &syntax, const QString &description,
                                     const QList<Argument> &arguments,
                                     const QList<QCommandLineOption> &options, int minPositional,
                                     int maxPositional)
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
    if (m_parser.isSet(m_helpOption))
        m_parser.showHelp(Success);
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

void CommandDispatcher::showHelpAllIfAsked()
{
    // Only process() can show the help with Qt's own options; the arguments parsed
    // already, so it shows that help and exits.
    if (m_parser.isSet(QStringLiteral("help-all")))
        m_parser.process(m_arguments);
}

int CommandDispatcher::usageError(const QString &problem) const
{
    const QString help = m_command.isEmpty()
        ? QStringLiteral("chromaloom-cli --help")
        : QStringLiteral("chromaloom-cli %1 --help").arg(m_command);
    Console::reportError(problem + QStringLiteral(" (see '%1')").arg(help));
    return UsageError;
}

bool CommandDispatcher::requireOutput(QString *output)
{
    *output = m_parser.value(m_outputOption);
    if (!output->isEmpty())
        return true;
    usageError(QStringLiteral("%1 needs -o with the output file").arg(m_command));
    return false;
}

bool CommandDispatcher::mayWrite(const OutputFile &output, const QStringList &inputs)
{
    const QString refusal = output.refusal(inputs);
    if (refusal.isEmpty())
        return true;
    Console::reportFailure(output.path(), refusal);
    return false;
}

int CommandDispatcher::writeFailed(const OutputFile &output, const QString &problem)
{
    Console::reportFailure(output.path(), problem);
    return Failure;
}

std::unique_ptr<CurvesFilter> CommandDispatcher::loadFilter(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        Console::reportFailure(path, QStringLiteral("no such file"));
        return nullptr;
    }
    std::unique_ptr<CurvesFilter> filter = CurvesFilter::load(path);
    if (!filter)
        Console::reportFailure(path, QStringLiteral("not a filter file"));
    return filter;
}

int CommandDispatcher::generate()
{
    if (!parseCommand(
            QStringLiteral("SOURCE PRODUCT -o FILTER.cml"),
            QStringLiteral("Learns a filter from SOURCE (an image before a colour "
                           "treatment) and PRODUCT (the same image after it) and "
                           "saves it as a filter file."),
            { { QStringLiteral("SOURCE"), QStringLiteral("The image before the colour treatment."),
                QStringLiteral("SOURCE") },
              { QStringLiteral("PRODUCT"),
                QStringLiteral("The same image after it, of the same size."),
                QStringLiteral("PRODUCT") } },
            { m_outputOption, m_overwriteOption }, 2, 2))
        return UsageError;
    QString outputPath;
    if (!requireOutput(&outputPath))
        return UsageError;

    const QString &sourcePath = m_positional[0];
    const QString &productPath = m_positional[1];
    const OutputFile output(outputPath, m_parser.isSet(m_overwriteOption));
    if (!mayWrite(output, { sourcePath, productPath }))
        return Failure;

    const QImage source(sourcePath);
    const QImage product(productPath);
    if (source.isNull())
        Console::reportFailure(sourcePath, QStringLiteral("cannot read image"));
    if (product.isNull())
        Console::reportFailure(productPath, QStringLiteral("cannot read image"));
    if (source.isNull() || product.isNull())
        return Failure;
    if (source.size() != product.size()) {
        Console::reportFailure(productPath,
                               FilterMessages::sizeWarning(source.size(), product.size()));
        return Failure;
    }

    std::unique_ptr<CurvesFilter> filter;
    try {
        filter = CurvesFilter::generate(source, product);
    } catch (const std::bad_alloc &) {
        Console::reportFailure(sourcePath,
                               QStringLiteral("not enough memory to generate the filter"));
        return Failure;
    }
    const QString problem
        = output.write([&filter](const QString &path) { return filter->save(path); });
    if (!problem.isEmpty())
        return writeFailed(output, problem);
    Console::printLine(FilterMessages::generationMessage(*filter));
    return Success;
}

int CommandDispatcher::apply()
{
    const QCommandLineOption directoryOption(
        QStringList { QStringLiteral("d"), QStringLiteral("directory") },
        QStringLiteral("Write the results into <dir>, each under its target's base name."),
        QStringLiteral("dir"));
    const QCommandLineOption formatOption(
        QStringList { QStringLiteral("f"), QStringLiteral("format") },
        QStringLiteral("Write results as <format> (png, jpg, bmp, ...); default: the type of "
                       "each target (with -d) or of the -o name."),
        QStringLiteral("format"));
    const QCommandLineOption jobsOption(
        QStringList { QStringLiteral("j"), QStringLiteral("jobs") },
        QStringLiteral("Work on <n> files at once (default: one per core)."), QStringLiteral("n"));
    if (!parseCommand(
            QStringLiteral("FILTER.cml TARGET... (-o OUT | -d DIR)"),
            QStringLiteral("Applies a filter to one target image (-o) or to many (-d) and "
                           "writes the results with quality 100."),
            { FilterArgument,
              { QStringLiteral("TARGET"), QStringLiteral("The images to filter."),
                QStringLiteral("TARGET...") } },
            { m_outputOption, directoryOption, formatOption, m_overwriteOption, jobsOption }, 2,
            -1))
        return UsageError;

    const bool toFile = m_parser.isSet(m_outputOption);
    const bool toDirectory = m_parser.isSet(directoryOption);
    if (toFile == toDirectory)
        return usageError(QStringLiteral("apply needs either -o OUT or -d DIR"));
    const QStringList targets = m_positional.mid(1);
    if (toFile && targets.size() > 1)
        return usageError(QStringLiteral("-o takes one target; use -d DIR for several"));

    const QByteArray format = m_parser.value(formatOption).toLower().toLatin1();
    if (m_parser.isSet(formatOption) && !OutputFile::canWriteFormat(format))
        return usageError(
            QStringLiteral("cannot write images of type %1; known types: %2")
                .arg(quoted(m_parser.value(formatOption)),
                     QString::fromLatin1(QImageWriter::supportedImageFormats().join(", "))));
    int workers = QThread::idealThreadCount();
    if (m_parser.isSet(jobsOption)) {
        bool ok = false;
        workers = m_parser.value(jobsOption).toInt(&ok);
        if (!ok || workers < 1)
            return usageError(QStringLiteral("--jobs needs a whole number of at least 1"));
    }

    const QString filterPath = m_positional[0];
    const std::unique_ptr<CurvesFilter> filter = loadFilter(filterPath);
    if (!filter)
        return Failure;

    QList<BatchApplier::Job> jobs;
    if (toFile) {
        jobs.append({ targets[0], m_parser.value(m_outputOption), format });
    } else {
        const QString directory = m_parser.value(directoryOption);
        if (!QDir().mkpath(directory)) {
            Console::reportFailure(directory, QStringLiteral("cannot create directory"));
            return Failure;
        }
        for (const QString &target : targets) {
            const QFileInfo info(target);
            const QString suffix = format.isEmpty() ? info.suffix() : QString::fromLatin1(format);
            QString name = info.completeBaseName();
            if (!suffix.isEmpty())
                name += QLatin1Char('.') + suffix;
            jobs.append({ target, QDir(directory).filePath(name), format });
        }
    }

    BatchApplier applier(*filter, m_parser.isSet(m_overwriteOption));
    applier.setWorkers(workers);
    const int failures = applier.run(jobs, m_positional);
    return failures == 0 ? Success : Failure;
}

int CommandDispatcher::info()
{
    if (!parseCommand(QStringLiteral("FILTER.cml"),
                      QStringLiteral("Describes a filter: its kind, whether it is the identity, "
                                     "where each channel departs most from identity and whether "
                                     "any value lies outside 0..255."),
                      { FilterArgument }, {}, 1, 1))
        return UsageError;
    const std::unique_ptr<CurvesFilter> filter = loadFilter(m_positional[0]);
    if (!filter)
        return Failure;
    const QStringList lines = FilterReport(*filter).lines();
    for (const QString &line : lines)
        Console::printLine(line);
    return Success;
}

int CommandDispatcher::plot()
{
    if (!parseCommand(QStringLiteral("FILTER.cml -o CURVES.png"),
                      QStringLiteral("Draws the filter's red, green and blue curves (output over "
                                     "input level) on a grid with the identity diagonal."),
                      { FilterArgument }, { m_outputOption, m_overwriteOption }, 1, 1))
        return UsageError;
    QString outputPath;
    if (!requireOutput(&outputPath))
        return UsageError;
    const QByteArray format = OutputFile::imageFormatForSuffix(outputPath);
    if (format.isEmpty())
        return usageError(QStringLiteral("%1 does not name an image type Qt can write; use e.g. "
                                         "CURVES.png")
                              .arg(quoted(outputPath)));

    const QString &filterPath = m_positional[0];
    const OutputFile output(outputPath, m_parser.isSet(m_overwriteOption));
    if (!mayWrite(output, { filterPath }))
        return Failure;
    const std::unique_ptr<CurvesFilter> filter = loadFilter(filterPath);
    if (!filter)
        return Failure;
    const QString problem = output.writeImage(CurvePlotter(*filter).plot(), format, -1);
    if (!problem.isEmpty())
        return writeFailed(output, problem);
    return Success;
}

int CommandDispatcher::exportLut()
{
    // "--3d" may stand without its size; then it means the default size.
    for (int i = 0; i < m_arguments.size(); ++i) {
        if (m_arguments[i] == QLatin1String("--3d")
            && (i + 1 == m_arguments.size() || !isDigits(m_arguments[i + 1])))
            m_arguments.insert(i + 1, QString::number(LutExporter::Default3DSize));
    }
    const QCommandLineOption cube3DOption(
        QStringLiteral("3d"),
        QStringLiteral("Write a 3D .cube of <n>³ points (%1..%2, default %3) instead of a 1D one.")
            .arg(LutExporter::Min3DSize)
            .arg(LutExporter::Max3DSize)
            .arg(LutExporter::Default3DSize),
        QStringLiteral("n"));
    if (!parseCommand(QStringLiteral("FILTER.cml -o LOOK.cube|LOOK.png"),
                      QStringLiteral("Exports a filter as a 1D .cube LUT (the default), a 3D "
                                     ".cube LUT (--3d), or, for an output name ending in .png, "
                                     "a Hald CLUT image of level 8 (512x512)."),
                      { FilterArgument }, { m_outputOption, cube3DOption, m_overwriteOption }, 1,
                      1))
        return UsageError;
    QString outputPath;
    if (!requireOutput(&outputPath))
        return UsageError;

    const QString suffix = QFileInfo(outputPath).suffix().toLower();
    const bool hald = suffix == QLatin1String("png");
    if (!hald && suffix != QLatin1String("cube"))
        return usageError(
            QStringLiteral("export writes .cube or .png files, not %1").arg(quoted(outputPath)));
    int size = 0;
    if (m_parser.isSet(cube3DOption)) {
        if (hald)
            return usageError(QStringLiteral(
                "--3d applies to .cube files; a .png is always a Hald CLUT of level 8"));
        bool ok = false;
        size = m_parser.value(cube3DOption).toInt(&ok);
        if (!ok || size < LutExporter::Min3DSize || size > LutExporter::Max3DSize)
            return usageError(QStringLiteral("--3d needs a size from %1 to %2")
                                  .arg(LutExporter::Min3DSize)
                                  .arg(LutExporter::Max3DSize));
    }

    const QString &filterPath = m_positional[0];
    const OutputFile output(outputPath, m_parser.isSet(m_overwriteOption));
    if (!mayWrite(output, { filterPath }))
        return Failure;
    const std::unique_ptr<CurvesFilter> filter = loadFilter(filterPath);
    if (!filter)
        return Failure;

    const LutExporter exporter(*filter);
    const QFileInfo filterInfo(filterPath);
    QString problem;
    if (hald) {
        problem = output.writeImage(exporter.haldClut(), "png", -1);
    } else {
        problem = output.writeDevice([&](QIODevice *device) {
            if (size == 0)
                return exporter.writeCube1D(device, filterInfo.completeBaseName(),
                                            filterInfo.fileName());
            return exporter.writeCube3D(device, filterInfo.completeBaseName(),
                                        filterInfo.fileName(), size);
        });
    }
    if (!problem.isEmpty())
        return writeFailed(output, problem);
    return Success;
}

int CommandDispatcher::importLut()
{
    if (!parseCommand(QStringLiteral("LOOK.cube -o FILTER.cml"),
                      QStringLiteral("Turns a 1D .cube LUT (2 to 65536 entries) into a filter "
                                     "file, sampled at the 256 levels by linear interpolation and "
                                     "rounded to the nearest level."),
                      { { QStringLiteral("LOOK.cube"), QStringLiteral("The 1D .cube file."),
                          QStringLiteral("LOOK.cube") } },
                      { m_outputOption, m_overwriteOption }, 1, 1))
        return UsageError;
    QString outputPath;
    if (!requireOutput(&outputPath))
        return UsageError;

    const QString &cubePath = m_positional[0];
    const OutputFile output(outputPath, m_parser.isSet(m_overwriteOption));
    if (!mayWrite(output, { cubePath }))
        return Failure;

    QFile file(cubePath);
    if (!file.open(QIODevice::ReadOnly)) {
        Console::reportFailure(cubePath,
                               QFileInfo::exists(cubePath) ? QStringLiteral("cannot read file")
                                                           : QStringLiteral("no such file"));
        return Failure;
    }
    CubeImporter importer;
    if (!importer.read(&file)) {
        Console::reportFailure(cubePath, importer.errorString());
        return Failure;
    }
    const std::unique_ptr<CurvesFilter> filter
        = CurvesFilter::fromTables(importer.levels(0), importer.levels(1), importer.levels(2));
    const QString problem
        = output.write([&filter](const QString &path) { return filter->save(path); });
    if (!problem.isEmpty())
        return writeFailed(output, problem);
    return Success;
}
