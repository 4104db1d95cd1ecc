#include "photometadata.h"

#include "decodermessages.h"
#include "metadatablocks.h"

#include <QBuffer>
#include <QImageReader>
#include <QSize>

#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <iterator>
#include <mutex>
#include <new>
#include <optional>
#include <string>

namespace {

// Exiv2 reports damage it recovers from in its log rather than by throwing. While one of our
// calls runs, the first such message on its thread is kept here; all others are dropped, so
// nothing of Exiv2's reaches standard error.
thread_local std::string *t_complaint = nullptr;

void keepComplaint(int level, const char *message)
{
    if (level >= Exiv2::LogMsg::warn && t_complaint && t_complaint->empty() && message)
        *t_complaint = message;
}

class ComplaintCapture
{
public:
    ComplaintCapture()
        : m_previous(t_complaint)
    {
        t_complaint = &m_text;
    }
    ~ComplaintCapture() { t_complaint = m_previous; }
    Q_DISABLE_COPY_MOVE(ComplaintCapture)

    const std::string &text() const { return m_text; }

private:
    std::string m_text;
    std::string *m_previous;
};

std::mutex xmpNamespaceMutex;

void lockXmpNamespaces(void *, bool lock)
{
    if (lock)
        xmpNamespaceMutex.lock();
    else
        xmpNamespaceMutex.unlock();
}

// The XMP toolkit's set-up is not thread-safe, and the namespaces that parsing registers
// need a lock: both are arranged once, before any thread uses Exiv2 through this class.
void initializeExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setHandler(keepComplaint);
        Exiv2::XmpParser::initialize(lockXmpNamespaces, nullptr);
    });
}

QString kindName(MetadataBlocks::Kind kind)
{
    switch (kind) {
    case MetadataBlocks::Kind::Exif:
        return QStringLiteral("EXIF");
    case MetadataBlocks::Kind::Iptc:
        return QStringLiteral("IPTC");
    case MetadataBlocks::Kind::Xmp:
        break;
    }
    return QStringLiteral("XMP");
}

QString oneLine(const std::string &text) { return QString::fromStdString(text).simplified(); }

QSize imageSize(const QByteArray &encodedImage)
{
    const DecoderMessages quiet;
    QBuffer buffer;
    buffer.setData(encodedImage);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer).size();
}

// Some of Exiv2's format checks throw on data shorter than what they look for; such data is
// in none of the formats that hold metadata.
bool isKnownFormat(const Exiv2::byte *bytes, long size)
{
    try {
        return Exiv2::ImageFactory::getType(bytes, size) != Exiv2::ImageType::none;
    } catch (...) {
        return false;
    }
}

// Tags that describe how a TIFF file stores its pixels, and the colour profile: the encoder
// writes its own for the new file.
bool describesFile(const Exiv2::Exifdatum &datum)
{
    static const std::string tags = " NewSubfileType SubfileType ImageWidth ImageLength"
                                    " BitsPerSample Compression PhotometricInterpretation"
                                    " FillOrder StripOffsets SamplesPerPixel RowsPerStrip"
                                    " StripByteCounts PlanarConfiguration Predictor TileWidth"
                                    " TileLength TileOffsets TileByteCounts SubIFDs ExtraSamples"
                                    " SampleFormat InterColorProfile ";
    return datum.groupName() == "Image"
        && tags.find(' ' + datum.tagName() + ' ') != std::string::npos;
}

bool canWrite(const Exiv2::Image &image, Exiv2::MetadataId metadata)
{
    return (image.checkMode(metadata) & Exiv2::amWrite) != 0;
}

// The pixels written are upright and may differ in size from the target's; the old thumbnail
// would show the target's pixels.
void normalizeExif(Exiv2::ExifData &exif, const QSize &size)
{
    Exiv2::ExifThumb(exif).erase();
    for (Exiv2::Exifdatum &datum : exif) {
        const std::string key = datum.key();
        if (key == "Exif.Image.Orientation")
            datum = std::uint16_t(1);
        else if (key == "Exif.Photo.PixelXDimension" && size.isValid())
            datum = std::uint32_t(size.width());
        else if (key == "Exif.Photo.PixelYDimension" && size.isValid())
            datum = std::uint32_t(size.height());
    }
}

void normalizeXmp(Exiv2::XmpData &xmp, const QSize &size)
{
    for (Exiv2::Xmpdatum &datum : xmp) {
        const std::string key = datum.key();
        if (key == "Xmp.tiff.Orientation")
            datum.setValue("1");
        else if (key == "Xmp.exif.PixelXDimension" && size.isValid())
            datum.setValue(std::to_string(size.width()));
        else if (key == "Xmp.exif.PixelYDimension" && size.isValid())
            datum.setValue(std::to_string(size.height()));
    }
}

// What the exception being handled says, in a few words.
std::string currentProblem()
{
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return "not enough memory";
    } catch (const std::exception &error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

struct PhotoMetadata::Data
{
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;

    bool isEmpty() const { return exif.empty() && iptc.empty() && xmp.empty(); }

    // Takes the metadata of an encoded image, of one kind or (without `kind`) of every kind;
    // appends the names of what it found damaged to *damaged.
    void take(const QByteArray &encodedImage, std::optional<MetadataBlocks::Kind> kind,
              QStringList *damaged);
};

void PhotoMetadata::Data::take(const QByteArray &encodedImage,
                               std::optional<MetadataBlocks::Kind> kind, QStringList *damaged)
{
    using MetadataBlocks::Kind;
    const auto *bytes = reinterpret_cast<const Exiv2::byte *>(encodedImage.constData());
    ComplaintCapture complaints;
    std::unique_ptr<Exiv2::Image> image;
    try {
        image.reset(Exiv2::ImageFactory::open(bytes, long(encodedImage.size())).release());
        image->readMetadata();
    } catch (...) {
        damaged->append(kind ? kindName(*kind) : QStringLiteral("photo's"));
        return;
    }
    // Exiv2 reports what it skips in its log; a kind that then came out empty was damaged.
    const bool complained = !complaints.text().empty();
    if (!kind || kind == Kind::Exif) {
        exif = image->exifData();
        if (complained && exif.empty())
            damaged->append(kindName(Kind::Exif));
    }
    if (!kind || kind == Kind::Iptc) {
        iptc = image->iptcData();
        if (kind && complained && iptc.empty())
            damaged->append(kindName(Kind::Iptc));
    }
    if (!kind || kind == Kind::Xmp) {
        xmp = image->xmpData();
        if (xmp.empty() && (!image->xmpPacket().empty() || (kind && complained)))
            damaged->append(kindName(Kind::Xmp));
    }
}

PhotoMetadata::PhotoMetadata() = default;
PhotoMetadata::~PhotoMetadata() = default;
PhotoMetadata::PhotoMetadata(PhotoMetadata &&other) noexcept = default;
PhotoMetadata &PhotoMetadata::operator=(PhotoMetadata &&other) noexcept = default;

PhotoMetadata::PhotoMetadata(const PhotoMetadata &other)
    : m_data(other.m_data ? std::make_unique<Data>(*other.m_data) : nullptr)
{ }

PhotoMetadata &PhotoMetadata::operator=(const PhotoMetadata &other)
{
    if (this != &other)
        m_data = other.m_data ? std::make_unique<Data>(*other.m_data) : nullptr;
    return *this;
}

PhotoMetadata PhotoMetadata::fromBytes(const QByteArray &encodedImage, QStringList *warnings)
{
    if (warnings)
        warnings->clear();
    initializeExiv2();
    PhotoMetadata metadata;
    if (!isKnownFormat(reinterpret_cast<const Exiv2::byte *>(encodedImage.constData()),
                       long(encodedImage.size())))
        return metadata;
    auto data = std::make_unique<Data>();
    QStringList damaged;
    if (MetadataBlocks::separates(encodedImage)) {
        for (const auto kind : { MetadataBlocks::Kind::Exif, MetadataBlocks::Kind::Iptc,
                                 MetadataBlocks::Kind::Xmp }) {
            const QByteArray blocks = MetadataBlocks::only(encodedImage, kind);
            if (!blocks.isEmpty())
                data->take(blocks, kind, &damaged);
        }
    } else {
        data->take(encodedImage, std::nullopt, &damaged);
    }
    for (auto datum = data->exif.begin(); datum != data->exif.end();)
        datum = describesFile(*datum) ? data->exif.erase(datum) : std::next(datum);
    if (warnings) {
        for (const QString &name : std::as_const(damaged))
            warnings->append(
                QStringLiteral("the %1 metadata is damaged and was dropped").arg(name));
    }
    if (!data->isEmpty())
        metadata.m_data = std::move(data);
    return metadata;
}

bool PhotoMetadata::isEmpty() const { return !m_data; }

int PhotoMetadata::orientation() const
{
    if (!m_data)
        return 1;
    try {
        const auto datum = m_data->exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (datum != m_data->exif.end() && datum->count() > 0) {
            const long value = datum->toLong();
            if (value >= 1 && value <= 8)
                return int(value);
        }
    } catch (...) {
        // An orientation Exiv2 cannot read as a number is no orientation.
    }
    return 1;
}

QString PhotoMetadata::value(const QString &key) const
{
    if (!m_data)
        return QString();
    const std::string name = key.toStdString();
    try {
        if (key.startsWith(QLatin1String("Exif."))) {
            const auto datum = m_data->exif.findKey(Exiv2::ExifKey(name));
            if (datum != m_data->exif.end())
                return QString::fromStdString(datum->toString());
        } else if (key.startsWith(QLatin1String("Iptc."))) {
            const auto datum = m_data->iptc.findKey(Exiv2::IptcKey(name));
            if (datum != m_data->iptc.end())
                return QString::fromStdString(datum->toString());
        } else if (key.startsWith(QLatin1String("Xmp."))) {
            const auto datum = m_data->xmp.findKey(Exiv2::XmpKey(name));
            if (datum != m_data->xmp.end())
                return QString::fromStdString(datum->toString());
        }
    } catch (...) {
        // Not a key Exiv2 knows: it cannot be present either.
    }
    return QString();
}

PhotoMetadata::Embedded PhotoMetadata::embedInto(const QByteArray &encodedImage) const
{
    if (!m_data)
        return { encodedImage, QString() };
    initializeExiv2();
    ComplaintCapture complaints;
    const auto *bytes = reinterpret_cast<const Exiv2::byte *>(encodedImage.constData());
    const long size = long(encodedImage.size());
    if (!isKnownFormat(bytes, size))
        return { encodedImage, QString() };
    const QSize pixelSize = imageSize(encodedImage);
    std::string problem;
    try {
        const std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::open(bytes, size).release());
        const bool exif = canWrite(*image, Exiv2::mdExif);
        const bool iptc = canWrite(*image, Exiv2::mdIptc);
        const bool xmp = canWrite(*image, Exiv2::mdXmp);
        if (!exif && !iptc && !xmp)
            return { encodedImage, QString() };
        // Reading first keeps what the encoder wrote, the colour profile above all.
        image->readMetadata();
        if (exif) {
            Exiv2::ExifData copy = m_data->exif;
            normalizeExif(copy, pixelSize);
            image->setExifData(copy);
        }
        if (iptc)
            image->setIptcData(m_data->iptc);
        if (xmp) {
            Exiv2::XmpData copy = m_data->xmp;
            normalizeXmp(copy, pixelSize);
            image->setXmpData(copy);
        }
        image->writeMetadata();

        Exiv2::BasicIo &io = image->io();
        if (io.open() != 0)
            throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, io.path(), Exiv2::strError());
        QByteArray result(qsizetype(io.size()), Qt::Uninitialized);
        const long read
            = io.read(reinterpret_cast<Exiv2::byte *>(result.data()), long(result.size()));
        io.close();
        // Never trade the pixels for the metadata.
        if (read == long(result.size()) && imageSize(result) == pixelSize)
            return { result, QString() };
        problem = complaints.text().empty() ? "the image written is unreadable" : complaints.text();
    } catch (...) {
        problem = currentProblem();
    }
    return { encodedImage,
             QStringLiteral("cannot write the photo's metadata: %1").arg(oneLine(problem)) };
}
