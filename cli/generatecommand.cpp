#include "generatecommand.h"

#include "commandline.h"
#include "console.h"
#include "curvesfilter.h"
#include "filtermessages.h"
#include "inputimage.h"
#include "outputfile.h"

#include <new>

GenerateCommand::GenerateCommand(CommandLine &line)
    : m_line(line)
{ }

int GenerateCommand::run()
{
    if (!m_line.parse(
            QStringLiteral("SOURCE PRODUCT -o FILTER.cml"),
            QStringLiteral("Learns a filter from SOURCE (an image before a colour "
                           "treatment) and PRODUCT (the same image after it) and "
                           "saves it as a filter file."),
            { { QStringLiteral("SOURCE"), QStringLiteral("The image before the colour treatment."),
                QStringLiteral("SOURCE") },
              { QStringLiteral("PRODUCT"),
                QStringLiteral("The same image after it, of the same size."),
                QStringLiteral("PRODUCT") } },
            { m_line.outputOption(), m_line.overwriteOption() }, 2, 2))
        return CommandLine::UsageError;
    QString outputPath;
    if (!m_line.requireOutput(&outputPath))
        return CommandLine::UsageError;

    const QString &sourcePath = m_line.positional()[0];
    const QString &productPath = m_line.positional()[1];
    const OutputFile output(outputPath, m_line.overwrite());
    if (!CommandLine::mayWrite(output, { sourcePath, productPath }))
        return CommandLine::Failure;

    const QImage source = readInputImage(sourcePath);
    const QImage product = readInputImage(productPath);
    if (source.isNull() || product.isNull())
        return CommandLine::Failure;
    if (source.size() != product.size()) {
        Console::reportFailure(productPath,
                               FilterMessages::sizeWarning(source.size(), product.size()));
        return CommandLine::Failure;
    }

    std::unique_ptr<CurvesFilter> filter;
    try {
        filter = CurvesFilter::generate(source, product);
    } catch (const std::bad_alloc &) {
        Console::reportFailure(sourcePath,
                               QStringLiteral("not enough memory to generate the filter"));
        return CommandLine::Failure;
    }
    const int status = CommandLine::finishWrite(output, output.write(filter->fileText()));
    if (status == CommandLine::Success)
        Console::printLine(FilterMessages::generationMessage(*filter));
    return status;
}
