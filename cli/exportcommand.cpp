#include "exportcommand.h"

#include "commandline.h"
#include "console.h"
#include "filterloader.h"
#include "look.h"
#include "lookfile.h"
#include "lutwriter.h"
#include "outputfile.h"
#include "strength.h"

#include <QFileInfo>

#include <new>

namespace {

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

ExportCommand::ExportCommand(CommandLine &line)
    : m_line(line)
{ }

int ExportCommand::run()
{
    // "--3d" may stand without its size; then it means the default size.
    QStringList &arguments = m_line.arguments();
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--3d")
            && (i + 1 == arguments.size() || !isDigits(arguments[i + 1])))
            arguments.insert(i + 1, QString::number(LutWriter::Default3DSize));
    }
    const QCommandLineOption cube3DOption(
        QStringLiteral("3d"),
        QStringLiteral("Write a 3D .cube of <n>³ points (%1..%2, default %3) instead of a 1D one.")
            .arg(LutWriter::Min3DSize)
            .arg(LutWriter::Max3DSize)
            .arg(LutWriter::Default3DSize),
        QStringLiteral("n"));
    const QCommandLineOption haldOption(
        QStringLiteral("hald-level"),
        QStringLiteral("Write a Hald CLUT of level <l> (%1..%2, default %3): <l>² points per "
                       "channel in an <l>³×<l>³ image.")
            .arg(LutLimits::MinHaldLevel)
            .arg(LutLimits::MaxHaldLevel)
            .arg(LutLimits::DefaultHaldLevel),
        QStringLiteral("l"));
    const QCommandLineOption depthOption(
        QStringLiteral("depth"),
        QStringLiteral("Write a Hald CLUT with <bits> per channel, 8 or 16 (the default)."),
        QStringLiteral("bits"));
    const QCommandLineOption strengthOption(
        QStringLiteral("strength"),
        QStringLiteral("Export the filter at strength <s> from 0 (no change) to 1 (full, the "
                       "default)."),
        QStringLiteral("s"));
    if (!m_line.parse(
            QStringLiteral("FILTER -o LOOK.cube|LOOK.png|LOOK.tif"),
            QStringLiteral("Exports a filter as a 1D .cube LUT (the default), a 3D "
                           ".cube LUT (--3d), or, for an output name ending in .png or .tif, "
                           "a Hald CLUT image (16 bits unless --depth 8; level 8, 512x512, unless "
                           "--hald-level says otherwise)."),
            { filterArgument() },
            { m_line.outputOption(), cube3DOption, haldOption, depthOption, strengthOption,
              m_line.overwriteOption() },
            1, 1))
        return CommandLine::UsageError;
    QString outputPath;
    if (!m_line.requireOutput(&outputPath))
        return CommandLine::UsageError;

    const QString suffix = QFileInfo(outputPath).suffix().toLower();
    const QByteArray haldFormat = suffix == QLatin1String("png")            ? QByteArray("png")
        : suffix == QLatin1String("tif") || suffix == QLatin1String("tiff") ? QByteArray("tiff")
                                                                            : QByteArray();
    const bool hald = !haldFormat.isEmpty();
    if (!hald && suffix != QLatin1String("cube"))
        return m_line.usageError(QStringLiteral("export writes .cube, .png or .tif files, not %1")
                                     .arg(CommandLine::quoted(outputPath)));
    int haldLevel = LutLimits::DefaultHaldLevel;
    if (m_line.isSet(haldOption)) {
        if (!hald)
            return m_line.usageError(
                QStringLiteral("--hald-level applies to Hald CLUT images (.png, .tif)"));
        bool ok = isDigits(m_line.value(haldOption));
        haldLevel = ok ? m_line.value(haldOption).toInt(&ok) : 0;
        if (!ok || haldLevel < LutLimits::MinHaldLevel || haldLevel > LutLimits::MaxHaldLevel)
            return m_line.usageError(QStringLiteral("--hald-level needs a level from %1 to %2")
                                         .arg(LutLimits::MinHaldLevel)
                                         .arg(LutLimits::MaxHaldLevel));
    }
    LutWriter::Depth depth = LutWriter::Depth::Bits16;
    if (m_line.isSet(depthOption)) {
        if (!hald)
            return m_line.usageError(
                QStringLiteral("--depth applies to Hald CLUT images (.png, .tif)"));
        const QString bits = m_line.value(depthOption);
        if (bits != QLatin1String("8") && bits != QLatin1String("16"))
            return m_line.usageError(QStringLiteral("--depth needs 8 or 16"));
        depth = bits == QLatin1String("8") ? LutWriter::Depth::Bits8 : LutWriter::Depth::Bits16;
    }
    int size = 0;
    if (m_line.isSet(cube3DOption)) {
        if (hald)
            return m_line.usageError(QStringLiteral(
                "--3d applies to .cube files; a Hald CLUT's size is set by --hald-level"));
        bool ok = false;
        size = m_line.value(cube3DOption).toInt(&ok);
        if (!ok || size < LutWriter::Min3DSize || size > LutWriter::Max3DSize)
            return m_line.usageError(QStringLiteral("--3d needs a size from %1 to %2")
                                         .arg(LutWriter::Min3DSize)
                                         .arg(LutWriter::Max3DSize));
    }

    double strength = 1.0;
    if (m_line.isSet(strengthOption) && !parseStrength(m_line, strengthOption, &strength))
        return CommandLine::UsageError;

    const QString &filterPath = m_line.positional()[0];
    const OutputFile output(outputPath, m_line.overwrite());
    if (!output.confirmWritable({ filterPath }))
        return CommandLine::Failure;
    const std::unique_ptr<Look> look = loadLook(filterPath);
    if (!look)
        return CommandLine::Failure;
    if (!hald && size == 0 && !LookFile::fitsCube1D(*look)) {
        Console::reportFailure(filterPath,
                               QStringLiteral("a 1D .cube holds separate curves only; export this "
                                              "filter as a 3D .cube (--3d) or a Hald CLUT (.png)"));
        return CommandLine::Failure;
    }
    const std::unique_ptr<Look> partLook = strength != 1.0 ? look->withStrength(strength) : nullptr;
    // Curves at part strength are rounded to whole levels; a 16-bit Hald CLUT holds them
    // unrounded, as apply filters 16-bit photos.
    const Look *full = look.get();
    const LutWriter writer = hald && depth == LutWriter::Depth::Bits16 && partLook && look->curves()
        ? LutWriter([full, strength](double red, double green, double blue) {
              return Strength::blend({ red, green, blue }, full->map(red, green, blue), strength);
          })
        : LookFile::lutWriter(partLook ? *partLook : *look);
    if (hald) {
        bool clamped = false;
        const QImage image = writer.haldClut(haldLevel, depth, &clamped);
        // QImage gives a null image where its pixels cannot be allocated.
        if (image.isNull())
            throw std::bad_alloc();
        if (clamped)
            Console::reportFailure(filterPath,
                                   QStringLiteral("warning: values outside 0..255 are clamped "
                                                  "to it; a Hald CLUT cannot hold them (a .cube "
                                                  "can)"));
        return output.exitStatus(output.writeImage(image, haldFormat, -1));
    }
    const QFileInfo filterInfo(filterPath);
    const QByteArray cube = size == 0
        ? writer.cube1D(filterInfo.completeBaseName(), filterInfo.fileName())
        : writer.cube3D(filterInfo.completeBaseName(), filterInfo.fileName(), size);
    return output.exitStatus(output.write(cube));
}
