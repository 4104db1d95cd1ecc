#include "generatecommand.h"

#include "areamapping.h"
#include "commandline.h"
#include "console.h"
#include "curvesfilter.h"
#include "filtermessages.h"
#include "inputimage.h"
#include "look.h"
#include "lookfile.h"
#include "mixingfilter.h"
#include "outputfile.h"

#include <QFileInfo>

#include <new>

GenerateCommand::GenerateCommand(CommandLine &line)
    : m_line(line)
{ }

int GenerateCommand::run()
{
    const QCommandLineOption methodOption(
        QStringLiteral("method"),
        QStringLiteral("How to learn the look: curves (separate curves, the default), mixing "
                       "(channel mixing curves) or mapping (full area mapping, saved as a 3D "
                       ".cube)."),
        QStringLiteral("method"), QStringLiteral("curves"));
    const QCommandLineOption latticeOption(
        QStringLiteral("lattice"),
        QStringLiteral("Lattice points per channel of a mapping (%1..%2, default %3).")
            .arg(AreaMapping::MinSize)
            .arg(AreaMapping::MaxSize)
            .arg(AreaMapping::DefaultSize),
        QStringLiteral("n"));
    if (!m_line.parse(
            QStringLiteral("SOURCE PRODUCT -o FILTER"),
            QStringLiteral("Learns a filter from SOURCE (an image before a colour "
                           "treatment) and PRODUCT (the same image after it) and "
                           "saves it: separate curves and channel mixing curves as a filter "
                           "file, a full area mapping as a 3D .cube."),
            { { QStringLiteral("SOURCE"), QStringLiteral("The image before the colour treatment."),
                QStringLiteral("SOURCE") },
              { QStringLiteral("PRODUCT"),
                QStringLiteral("The same image after it, of the same size."),
                QStringLiteral("PRODUCT") } },
            { m_line.outputOption(), methodOption, latticeOption, m_line.overwriteOption(),
              pixelBudgetOption() },
            2, 2))
        return CommandLine::UsageError;
    QString outputPath;
    if (!m_line.requireOutput(&outputPath))
        return CommandLine::UsageError;

    const QString method = m_line.value(methodOption);
    const QStringList methods
        = { QStringLiteral("curves"), QStringLiteral("mixing"), QStringLiteral("mapping") };
    if (!methods.contains(method))
        return m_line.usageError(QStringLiteral("--method is curves, mixing or mapping, not %1")
                                     .arg(CommandLine::quoted(method)));
    const bool mapping = method == QLatin1String("mapping");
    int lattice = AreaMapping::DefaultSize;
    if (m_line.isSet(latticeOption)) {
        bool ok = false;
        lattice = m_line.value(latticeOption).toInt(&ok);
        if (!mapping)
            return m_line.usageError(QStringLiteral("--lattice applies to --method mapping"));
        if (!ok || lattice < AreaMapping::MinSize || lattice > AreaMapping::MaxSize)
            return m_line.usageError(QStringLiteral("--lattice needs a size from %1 to %2")
                                         .arg(AreaMapping::MinSize)
                                         .arg(AreaMapping::MaxSize));
    }
    if (mapping
        && QFileInfo(outputPath).suffix().compare(QLatin1String("cube"), Qt::CaseInsensitive) != 0)
        return m_line.usageError(
            QStringLiteral("a full area mapping is saved as a 3D .cube; use e.g. LOOK.cube"));

    qint64 pixelBudget = 0;
    if (!parsePixelBudget(m_line, pixelBudgetOption(), &pixelBudget))
        return CommandLine::UsageError;

    const QString &sourcePath = m_line.positional()[0];
    const QString &productPath = m_line.positional()[1];
    const OutputFile output(outputPath, m_line.overwrite());
    if (!output.confirmWritable({ sourcePath, productPath }))
        return CommandLine::Failure;

    const QImage source = readInputImage(sourcePath, pixelBudget).image();
    const QImage product = readInputImage(productPath, pixelBudget).image();
    if (source.isNull() || product.isNull())
        return CommandLine::Failure;
    if (source.size() != product.size()) {
        Console::reportFailure(productPath,
                               FilterMessages::sizeWarning(source.size(), product.size()));
        return CommandLine::Failure;
    }

    std::unique_ptr<Look> look;
    try {
        if (method == QLatin1String("curves"))
            look = std::make_unique<Look>(CurvesFilter::generate(source, product));
        else if (mapping)
            look = std::make_unique<Look>(AreaMapping::generate(source, product, lattice));
        else
            look = std::make_unique<Look>(MixingFilter::generate(source, product));
    } catch (const std::bad_alloc &) {
        Console::reportFailure(sourcePath,
                               QStringLiteral("not enough memory to generate the filter"));
        return CommandLine::Failure;
    }
    const int status = output.exitStatus(
        output.write(LookFile::text(*look, QFileInfo(outputPath).completeBaseName())));
    if (status != CommandLine::Success)
        return status;
    Console::printLine(look->generationMessage());
    return status;
}
