#include "generatecommand.h"

#include "areamapping.h"
#include "commandline.h"
#include "console.h"
#include "filtermessages.h"
#include "inputimage.h"
#include "look.h"
#include "lookfile.h"
#include "looklearner.h"
#include "outputfile.h"

#include <QFileInfo>

#include <new>
#include <utility>
#include <vector>

GenerateCommand::GenerateCommand(CommandLine &line)
    : m_line(line)
{ }

namespace {

// An example pair as the command reads it.
struct ExamplePair
{
    QString sourcePath;
    QString productPath;
    // Kept from the first pass when the second one cannot read the file again (a pipe),
    // or when there is only one pair.
    QImage source;
    QImage product;
    QSize size;
};

// Reads one image of a pair; a null image after reporting why.
QImage readImage(const QString &path, qint64 pixelBudget, bool again,
                 JpegCodec::Chroma chroma = JpegCodec::Chroma::Smooth)
{
    if (!again)
        return readInputImage(path, pixelBudget, chroma).takeImage();
    // The first pass reported what there was to say about the file.
    ImageFile file = ImageFile::read(path, pixelBudget, chroma);
    if (file.isNull())
        Console::reportFailure(path, QStringLiteral("cannot read image again"));
    return file.takeImage();
}

bool isRegularFile(const QString &path) { return QFileInfo(path).isFile(); }

} // namespace

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
    const QCommandLineOption robustOption(
        QStringLiteral("robust"),
        QStringLiteral("Learn robustly from lossy products such as JPEG exports, trusting "
                       "flat areas more than edges: on, off, or auto (as far as a product "
                       "looks lossy). Default auto for mixing and mapping, off for curves, "
                       "which then learn as the window does."),
        QStringLiteral("on|off|auto"));
    if (!m_line.parse(
            QStringLiteral("SOURCE PRODUCT [SOURCE PRODUCT ...] -o FILTER"),
            QStringLiteral("Learns a filter from SOURCE (an image before a colour "
                           "treatment) and PRODUCT (the same image after it) and "
                           "saves it: separate curves and channel mixing curves as a filter "
                           "file, a full area mapping as a 3D .cube. Several pairs teach one "
                           "look together, and carry it to other photos better than one."),
            { { QStringLiteral("SOURCE"), QStringLiteral("The image before the colour treatment."),
                QStringLiteral("SOURCE") },
              { QStringLiteral("PRODUCT"),
                QStringLiteral("The same image after it, of the same size."),
                QStringLiteral("PRODUCT") },
              { QStringLiteral("..."),
                QStringLiteral("More pairs of SOURCE and PRODUCT, each pair of one size."),
                QStringLiteral("[SOURCE PRODUCT ...]") } },
            { m_line.outputOption(), methodOption, latticeOption, robustOption,
              m_line.overwriteOption(), pixelBudgetOption() },
            2, -1))
        return CommandLine::UsageError;
    const QStringList &paths = m_line.positional();
    if (paths.size() % 2 != 0)
        return m_line.usageError(
            QStringLiteral("generate needs pairs of SOURCE and PRODUCT; %1 has no product")
                .arg(CommandLine::quoted(paths.constLast())));
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
    const LookLearner::Method learnt = method == QLatin1String("curves")
        ? LookLearner::Method::Curves
        : (mapping ? LookLearner::Method::Mapping : LookLearner::Method::Mixing);
    Robustness robustness = LookLearner::defaultRobustness(learnt);
    if (m_line.isSet(robustOption)) {
        const QString value = m_line.value(robustOption);
        if (value == QLatin1String("on"))
            robustness = Robustness::On;
        else if (value == QLatin1String("off"))
            robustness = Robustness::Off;
        else if (value == QLatin1String("auto"))
            robustness = Robustness::Auto;
        else
            return m_line.usageError(QStringLiteral("--robust is on, off or auto, not %1")
                                         .arg(CommandLine::quoted(value)));
    }

    qint64 pixelBudget = 0;
    if (!parsePixelBudget(m_line, pixelBudgetOption(), &pixelBudget))
        return CommandLine::UsageError;

    const OutputFile output(outputPath, m_line.overwrite());
    if (!output.confirmWritable(paths))
        return CommandLine::Failure;

    std::vector<ExamplePair> pairs;
    for (qsizetype i = 0; i < paths.size(); i += 2)
        pairs.push_back({ paths[i], paths[i + 1], QImage(), QImage(), QSize() });

    // Read robustly, a JPEG product is learnt from the means of blocks, which hold exactly the
    // chroma it stored when it is not spread smoothly over the neighbouring blocks.
    const JpegCodec::Chroma productChroma
        = robustness == Robustness::Off ? JpegCodec::Chroma::Smooth : JpegCodec::Chroma::Blocks;
    std::unique_ptr<Look> look;
    try {
        LookLearner learner(learnt, lattice);
        learner.setRobustness(robustness);
        // The first pass learns pair by pair; only what a second pass cannot read again stays.
        for (ExamplePair &pair : pairs) {
            QImage source = readImage(pair.sourcePath, pixelBudget, false);
            QImage product = readImage(pair.productPath, pixelBudget, false, productChroma);
            if (source.isNull() || product.isNull())
                return CommandLine::Failure;
            if (source.size() != product.size()) {
                Console::reportFailure(pair.productPath,
                                       FilterMessages::sizeWarning(source.size(), product.size()));
                return CommandLine::Failure;
            }
            learner.add(source, product);
            pair.size = source.size();
            if (learner.needsSecondPass()) {
                const bool keepAll = pairs.size() == 1;
                if (keepAll || !isRegularFile(pair.sourcePath))
                    pair.source = std::move(source);
                if (keepAll || !isRegularFile(pair.productPath))
                    pair.product = std::move(product);
            }
        }
        learner.fit();
        // The second pass measures the deviations over every pair.
        if (learner.needsSecondPass()) {
            for (ExamplePair &pair : pairs) {
                const QImage source = pair.source.isNull()
                    ? readImage(pair.sourcePath, pixelBudget, true)
                    : std::exchange(pair.source, QImage());
                const QImage product = pair.product.isNull()
                    ? readImage(pair.productPath, pixelBudget, true, productChroma)
                    : std::exchange(pair.product, QImage());
                if (source.isNull() || product.isNull())
                    return CommandLine::Failure;
                if (source.size() != pair.size || product.size() != pair.size) {
                    Console::reportFailure(source.size() != pair.size ? pair.sourcePath
                                                                      : pair.productPath,
                                           QStringLiteral("the image changed while the filter "
                                                          "was learnt from it"));
                    return CommandLine::Failure;
                }
                learner.measure(source, product);
            }
        }
        look = learner.take();
    } catch (const std::bad_alloc &) {
        Console::reportFailure(pairs.front().sourcePath,
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
