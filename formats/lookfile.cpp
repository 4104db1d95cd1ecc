#include "lookfile.h"

#include "areamapping.h"
#include "cubefile.h"
#include "curvesfilter.h"
#include "filterfile.h"
#include "filtersettings.h"
#include "haldimage.h"
#include "look.h"
#include "mixingfilter.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough of the start of a file to tell what it holds.
constexpr qint64 SniffLength = 64 * 1024;

// Lookup-table formats of other programs, which are not read.
bool isOtherLutSuffix(const QString &suffix)
{
    static const char *const suffixes[]
        = { "1dl", "3dl",  "ccc", "cc",  "cdl", "clf",   "csp",   "ctf",    "cub", "icc", "icm",
            "itx", "look", "lut", "m3d", "mga", "spi1d", "spi3d", "spimtx", "vf",  "vlt" };
    for (const char *known : suffixes) {
        if (suffix.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// At most `limit` + 1 bytes of the file from where it stands; false when reading fails.
bool readUpTo(QFile *file, qint64 limit, QByteArray *bytes)
{
    *bytes = file->read(std::min(limit + 1, file->size() - file->pos() + 1));
    return file->error() == QFileDevice::NoError;
}

using LookOutcome = Outcome<std::unique_ptr<Look>>;

LookOutcome readCube(QFile *file, QStringList *warnings)
{
    CubeFile cube;
    if (const Outcome<void> read = cube.read(file); !read.ok())
        return LookOutcome::failure(read.error());
    *warnings += cube.warnings();
    std::unique_ptr<Look> look;
    if (cube.kind() == CubeFile::Kind::Table1D) {
        look = std::make_unique<Look>(
            CurvesFilter::fromTables(cube.levels(0), cube.levels(1), cube.levels(2)));
    } else {
        const std::optional<AreaMapping::InputCoordinates> input = cube.inputCoordinates();
        const int size = cube.size();
        look = std::make_unique<Look>(
            AreaMapping::fromTable(size, cube.takeLattice(), input ? &*input : nullptr));
    }
    look->setCoverage(cube.coverage());
    return look;
}

LookOutcome readHald(QFile *file)
{
    QByteArray bytes;
    if (!readUpTo(file, HaldImage::maxFileSize(), &bytes))
        return LookOutcome::failure(QStringLiteral("cannot read file"));
    if (bytes.size() > HaldImage::maxFileSize())
        return LookOutcome::failure(
            QStringLiteral("not a Hald CLUT image (over %1 MB, more than any takes)")
                .arg(HaldImage::maxFileSize() >> 20));
    HaldImage hald;
    if (const Outcome<void> read = hald.read(bytes); !read.ok())
        return LookOutcome::failure(read.error());
    const int size = hald.size();
    return std::make_unique<Look>(AreaMapping::fromTable(size, hald.takeLattice()));
}

LookOutcome readFilterFile(QFile *file, QStringList *warnings)
{
    QByteArray bytes;
    if (!readUpTo(file, FilterSettings::MaxFileSize, &bytes))
        return LookOutcome::failure(QStringLiteral("cannot read file"));
    FilterSettings settings;
    if (const Outcome<void> parsed = settings.parse(bytes); !parsed.ok())
        return LookOutcome::failure(parsed.error());
    // Keys that are missing or not numbers read as 0: curves have 3 x 256 of them, mixing
    // curves 9 x 256.
    int unread = 0;
    const auto reportUnread = [warnings, &unread](int keys) {
        if (unread > 0)
            warnings->append(QStringLiteral("%1 of %2 level keys are missing or not numbers; "
                                            "they read as 0")
                                 .arg(unread)
                                 .arg(keys));
    };
    std::unique_ptr<Look> look;
    if (std::unique_ptr<CurvesFilter> curves = FilterFile::curves(settings, &unread)) {
        reportUnread(3 * 256);
        look = std::make_unique<Look>(std::move(curves));
    } else if (std::unique_ptr<MixingFilter> mixing = FilterFile::mixing(settings, &unread)) {
        reportUnread(9 * 256);
        look = std::make_unique<Look>(std::move(mixing));
    } else {
        return LookOutcome::failure(QStringLiteral("not a filter file"));
    }
    bool damaged = false;
    look->setCoverage(FilterFile::coverage(settings, &damaged));
    if (damaged)
        warnings->append(QStringLiteral("damaged coverage record (Coverage/Cells, "
                                        "Coverage/Shown); coverage unknown"));
    return look;
}

LookOutcome readLook(const QString &path, QStringList *warnings)
{
    // Without O_NONBLOCK, a FIFO put in the file's place would block the open.
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return LookOutcome::failure(errno == ENOENT || path.isEmpty()
                                        ? QStringLiteral("no such file")
                                        : QStringLiteral("cannot read file"));
    QFile file;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return LookOutcome::failure(QStringLiteral("not a filter file"));
    }

    const QString suffix = QFileInfo(path).suffix();
    if (isOtherLutSuffix(suffix))
        return LookOutcome::failure(
            QStringLiteral("unsupported look format (.%1): convert it to .cube")
                .arg(suffix.toLower()));
    // A filter file's and a .cube's names say what they are; other files are known by what
    // they hold.
    if (suffix.compare(QLatin1String("cml"), Qt::CaseInsensitive) == 0)
        return readFilterFile(&file, warnings);
    if (suffix.compare(QLatin1String("cube"), Qt::CaseInsensitive) == 0)
        return readCube(&file, warnings);
    const QByteArray start = file.peek(SniffLength);
    if (HaldImage::looksLikeImage(start))
        return readHald(&file);
    if (CubeFile::looksLikeCube(start))
        return readCube(&file, warnings);
    return readFilterFile(&file, warnings);
}

// The file each kind is kept in.
struct Text
{
    const Look &look;
    const QString &title;

    QByteArray operator()(const CurvesFilter &curves) const
    {
        return FilterFile::text(curves, look.coverage());
    }
    QByteArray operator()(const MixingFilter &mixing) const
    {
        return FilterFile::text(mixing, look.coverage());
    }
    QByteArray operator()(const AreaMapping &mapping) const
    {
        return LookFile::lutWriter(look).cube3D(title, QStringLiteral("(full area mapping)"),
                                                mapping.size());
    }
};

struct Suffix
{
    QString operator()(const AreaMapping &) const { return QStringLiteral("cube"); }
    template<typename Filter>
    QString operator()(const Filter &) const
    {
        return QStringLiteral("cml");
    }
};

struct FitsCube1D
{
    bool operator()(const CurvesFilter &) const { return true; }
    template<typename Filter>
    bool operator()(const Filter &) const
    {
        return false;
    }
};

struct Writer
{
    const Look &look;

    LutWriter operator()(const CurvesFilter &curves) const
    {
        return LutWriter(map(), curves.levelTables());
    }
    LutWriter operator()(const MixingFilter &) const { return LutWriter(map()); }
    // A mapping's values outside 0..255 are kept, as a .cube holds them.
    LutWriter operator()(const AreaMapping &mapping) const
    {
        const AreaMapping *lattice = &mapping;
        return LutWriter([lattice](double red, double green,
                                   double blue) { return lattice->mapUnclamped(red, green, blue); },
                         LutWriter::Values::AsTheyAre);
    }

    LutWriter::ColourMap map() const
    {
        const Look *colours = &look;
        return [colours](double red, double green, double blue) {
            return colours->map(red, green, blue);
        };
    }
};

} // namespace

namespace LookFile {

Loaded read(const QString &path)
{
    QStringList warnings;
    LookOutcome look = readLook(path, &warnings);
    return { std::move(look), std::move(warnings) };
}

QByteArray text(const Look &look, const QString &title) { return look.visit(Text { look, title }); }

QString suffix(const Look &look) { return look.visit(Suffix {}); }

bool fitsCube1D(const Look &look) { return look.visit(FitsCube1D {}); }

LutWriter lutWriter(const Look &look)
{
    LutWriter writer = look.visit(Writer { look });
    writer.setCoverage(look.coverage());
    return writer;
}

} // namespace LookFile
