#include "filetesting.h"
#include "imagefile.h"
#include "photometadata.h"
#include "phototesting.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

#include <exiv2/exiv2.hpp>

#include <thread>
#include <vector>

namespace {

// A picture whose every quarter differs, so a turn or a mirror shows, in Adobe RGB so that
// the encoders embed an ICC profile.
QImage testImage()
{
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 5, (x < 32) == (y < 24) ? 40 : 220));
    }
    image.setColorSpace(QColorSpace::AdobeRgb);
    return image;
}

QImage decode(const QByteArray &bytes, bool autoTransform = false)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(autoTransform);
    return reader.read();
}

QByteArray readBack(Exiv2::Image &image)
{
    Exiv2::BasicIo &io = image.io();
    io.open();
    QByteArray bytes(qsizetype(io.size()), Qt::Uninitialized);
    io.read(reinterpret_cast<Exiv2::byte *>(bytes.data()), long(bytes.size()));
    io.close();
    return bytes;
}

// The encoded image with what a camera and a photo library write: EXIF with a thumbnail,
// IPTC where the format holds it, XMP.
QByteArray tagged(const QByteArray &encoded, int orientation)
{
    const auto *bytes = reinterpret_cast<const Exiv2::byte *>(encoded.constData());
    const std::unique_ptr<Exiv2::Image> image(
        Exiv2::ImageFactory::open(bytes, long(encoded.size())).release());
    image->readMetadata();
    Exiv2::ExifData &exif = image->exifData();
    exif["Exif.Image.Make"] = "Loomcam";
    exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
    exif["Exif.Photo.DateTimeOriginal"] = "2026:05:17 10:42:07";
    exif["Exif.Photo.PixelXDimension"] = std::uint32_t(999);
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "38/1 42/1 3120/100";
    const QByteArray thumbnail = encodedImage(QImage(16, 12, QImage::Format_RGB32), "jpeg");
    Exiv2::ExifThumb(exif).setJpegThumbnail(
        reinterpret_cast<const Exiv2::byte *>(thumbnail.constData()), long(thumbnail.size()));
    if (image->checkMode(Exiv2::mdIptc) & Exiv2::amWrite)
        image->iptcData()["Iptc.Application2.City"] = "Lisbon";
    image->xmpData()["Xmp.photoshop.City"] = "Lisbon";
    image->xmpData()["Xmp.tiff.Orientation"] = std::to_string(orientation);
    image->writeMetadata();
    return readBack(*image);
}

// Qt 6.4 drops the colour space when it turns an image (QImage::transformed), so this
// compares the pixels only.
bool samePixels(QImage a, QImage b)
{
    a.setColorSpace(QColorSpace());
    b.setColorSpace(QColorSpace());
    return a == b;
}

} // namespace

class TestPhotoMetadata : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void embed_data();
    void embed();
    void orientation_data();
    void orientation();
    void corruptMetadata_data();
    void corruptMetadata();
    void noMetadata_data();
    void noMetadata();
    void concurrentUse();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPhotoMetadata::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), "temporary directory");
}

void TestPhotoMetadata::cleanup() { m_dir.reset(); }

void TestPhotoMetadata::embed_data()
{
    QTest::addColumn<QByteArray>("targetFormat");
    QTest::addColumn<QByteArray>("resultFormat");
    QTest::addColumn<bool>("iptc");

    QTest::newRow("jpeg into jpeg") << QByteArray("jpeg") << QByteArray("jpeg") << true;
    QTest::newRow("jpeg into png") << QByteArray("jpeg") << QByteArray("png") << true;
    QTest::newRow("jpeg into tiff") << QByteArray("jpeg") << QByteArray("tiff") << true;
    QTest::newRow("jpeg into webp (no IPTC)") << QByteArray("jpeg") << QByteArray("webp") << false;
    QTest::newRow("png into jpeg") << QByteArray("png") << QByteArray("jpeg") << true;
    QTest::newRow("tiff into tiff") << QByteArray("tiff") << QByteArray("tiff") << true;
    QTest::newRow("tiff into png") << QByteArray("tiff") << QByteArray("png") << true;
    QTest::newRow("webp into jpeg") << QByteArray("webp") << QByteArray("jpeg") << false;
}

void TestPhotoMetadata::embed()
{
    QFETCH(QByteArray, targetFormat);
    QFETCH(QByteArray, resultFormat);
    QFETCH(bool, iptc);
    for (const QByteArray &format : { targetFormat, resultFormat }) {
        if (!QImageWriter::supportedImageFormats().contains(format))
            QSKIP(qPrintable("Qt cannot write " + format));
    }

    // The target's own profile differs, so one carried along with its EXIF would show.
    QImage target = testImage();
    target.setColorSpace(QColorSpace::DisplayP3);
    QStringList warnings = { QStringLiteral("stale") };
    const PhotoMetadata metadata
        = PhotoMetadata::fromBytes(tagged(encodedImage(target, targetFormat), 6), &warnings);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));
    QVERIFY2(metadata.value(QStringLiteral("Exif.Image.Make")) == QLatin1String("Loomcam"),
             "the target's metadata was not read");
    QVERIFY2(metadata.value(QStringLiteral("Exif.Image.InterColorProfile")).isNull(),
             "the target's colour profile was taken for metadata");

    const QByteArray plain = encodedImage(testImage(), resultFormat);
    const auto [result, warning] = metadata.embedInto(plain);
    QVERIFY2(warning.isEmpty(), qPrintable(warning));

    const PhotoMetadata written = PhotoMetadata::fromBytes(result, &warnings);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));
    const QList<QPair<QString, QString>> expected = {
        { "Exif.Image.Make", "Loomcam" },
        { "Exif.Photo.DateTimeOriginal", "2026:05:17 10:42:07" },
        { "Exif.GPSInfo.GPSLatitudeRef", "N" },
        { "Exif.GPSInfo.GPSLatitude", "38/1 42/1 3120/100" },
        { "Exif.Image.Orientation", "1" },
        { "Exif.Photo.PixelXDimension", "64" },
        { "Exif.Thumbnail.JPEGInterchangeFormat", QString() },
        { "Exif.Image.Compression", QString() }, // the TIFF target's, not the result's
        { "Iptc.Application2.City", iptc ? "Lisbon" : QString() },
        { "Xmp.photoshop.City", "Lisbon" },
        { "Xmp.tiff.Orientation", "1" },
    };
    for (const auto &[key, value] : expected) {
        const QString actual = written.value(key);
        QVERIFY2(actual == value, qPrintable(key + ": " + actual));
    }

    const QImage plainImage = decode(plain);
    const QImage resultImage = decode(result);
    QVERIFY2(!plainImage.colorSpace().iccProfile().isEmpty(), "the encoder embedded no profile");
    QVERIFY2(resultImage.colorSpace().iccProfile() == plainImage.colorSpace().iccProfile(),
             "the ICC profile changed");
    QVERIFY2(resultImage == plainImage, "the pixels changed");
}

void TestPhotoMetadata::orientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("clockwise");

    QTest::newRow("6: turn right") << 6 << 90;
    QTest::newRow("8: turn left") << 8 << 270;
    QTest::newRow("3: upside down") << 3 << 180;
}

void TestPhotoMetadata::orientation()
{
    QFETCH(int, orientation);
    QFETCH(int, clockwise);

    const QByteArray file = tagged(encodedImage(testImage(), "jpeg"), orientation);
    const QImage stored = decode(file);
    const QImage upright = decode(file, true);
    QVERIFY2(samePixels(upright, stored.transformed(QTransform().rotate(clockwise))),
             "the reader did not turn the pixels upright");

    // The result holds upright pixels: read with orientation applied it must not turn again.
    const QByteArray plain = encodedImage(upright, "jpeg");
    const auto [result, warning] = PhotoMetadata::fromBytes(file).embedInto(plain);
    QVERIFY2(warning.isEmpty(), qPrintable(warning));
    QVERIFY2(samePixels(decode(result, true), decode(plain)), "the result is not shown upright");
}

void TestPhotoMetadata::corruptMetadata_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("dropped"); // the kind of metadata dropped; empty: none
    QTest::addColumn<QString>("warning"); // the one warning; empty: none

    // Sound EXIF, IPTC and XMP, with a damaged block before them where that kind's reader
    // takes the first block and ignores the sound one after it.
    const QByteArray jpeg = tagged(encodedImage(testImage(), "jpeg"), 1);
    const QByteArray png = tagged(encodedImage(testImage(), "png"), 1);
    const auto row = [](const char *name, const QByteArray &file, const QString &dropped,
                        const QString &warning = QString()) {
        QTest::newRow(name)
            << file << dropped
            << (warning.isEmpty() && !dropped.isEmpty()
                    ? QStringLiteral("the %1 metadata is damaged and was dropped").arg(dropped)
                    : warning);
    };
    const auto app1 = [&](const char *name, const QByteArray &payload, const char *dropped) {
        row(name, withJpegSegment(jpeg, 0xe1, payload), QString::fromLatin1(dropped));
    };
    const QByteArray exif("Exif\0\0", 6);
    app1("JPEG: garbage TIFF header", exif + QByteArray("XY*\0\x08\0\0\0garbagegarbage", 22),
         "EXIF");
    app1("JPEG: IFD offset past the end",
         exif + QByteArray("II*\0\xf0\xff\xff\x0f\0\0\0\0\0\0", 14), "EXIF");
    app1("JPEG: IFD entries past the end",
         exif + QByteArray("II*\0\x08\0\0\0\xff\xff\x0f\x01\x02\0", 14), "EXIF");
    app1("JPEG: truncated TIFF header", exif + QByteArray("MM\0", 3), "EXIF");
    app1("JPEG: XMP that is not XML",
         QByteArray("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta><rdf:RDF><oops", 54), "XMP");
    // The profile is the pixels' business: dropped without costing any metadata.
    row("JPEG: garbage ICC profile",
        withJpegSegment(jpeg, 0xe2, QByteArray("ICC_PROFILE\0\x01\x01", 14) + QByteArray(200, 'x')),
        QString(), QStringLiteral("the colour profile is damaged and was dropped"));
    // libpng reads past a broken text chunk, which is no metadata of ours.
    row("PNG: truncated compressed comment",
        withPngChunk(png, "zTXt", QByteArray("Comment\0\0\x78\x9c\x01\x02", 13)), QString());
    row("PNG: garbage raw EXIF profile",
        withPngChunk(png, "tEXt", QByteArray("Raw profile type exif\0\nexif\n   20\nzzzz", 39)),
        QStringLiteral("EXIF"));
    row("PNG: garbage raw IPTC profile",
        withPngChunk(png, "tEXt", QByteArray("Raw profile type iptc\0\niptc\n   20\nzzzz", 39)),
        QStringLiteral("IPTC"));
}

void TestPhotoMetadata::corruptMetadata()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, dropped);
    QFETCH(QString, warning);

    const ImageFile image = ImageFile::fromBytes(file);
    QVERIFY2(!image.isNull(), "the corrupt file's pixels cannot be read");
    QCOMPARE(image.warnings(), warning.isEmpty() ? QStringList() : QStringList { warning });
    const PhotoMetadata &metadata = image.metadata();
    const QList<QPair<QString, QString>> kept = {
        { "EXIF", metadata.value(QStringLiteral("Exif.Image.Make")) },
        { "IPTC", metadata.value(QStringLiteral("Iptc.Application2.City")) },
        { "XMP", metadata.value(QStringLiteral("Xmp.photoshop.City")) },
    };
    for (const auto &[kind, value] : kept)
        QVERIFY2(value.isNull() == (kind == dropped), qPrintable(kind + ": " + value));
    QVERIFY2(image.image().colorSpace().isValid()
                 || image.image().colorSpace().iccProfile().isEmpty(),
             "a damaged profile would be written");

    const QByteArray plain = encodedImage(testImage(), "jpeg");
    QVERIFY2(decode(metadata.embedInto(plain).bytes) == decode(plain),
             "the result lost its pixels");
    // Good metadata written into a file that carries damaged metadata keeps its pixels too.
    const PhotoMetadata good = PhotoMetadata::fromBytes(tagged(plain, 1));
    const PhotoMetadata::Embedded embedded = good.embedInto(file);
    QVERIFY2(decode(embedded.bytes) == decode(file),
             qPrintable("the pixels were lost; " + embedded.warning));
}

void TestPhotoMetadata::noMetadata_data()
{
    QTest::addColumn<QByteArray>("contents");

    QTest::newRow("JPEG without metadata") << encodedImage(testImage(), "jpeg");
    QTest::newRow("BMP") << encodedImage(testImage(), "bmp");
    QTest::newRow("not an image") << QByteArray("just text\n");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("missing file") << QByteArray();
}

void TestPhotoMetadata::noMetadata()
{
    QFETCH(QByteArray, contents);

    const QString path = m_dir->filePath(QStringLiteral("image"));
    QVERIFY2(QByteArray(QTest::currentDataTag()) == "missing file" || writeFile(path, contents),
             "writing the file");
    const ImageFile image = ImageFile::read(path);
    QVERIFY2(image.metadata().isEmpty(), "metadata from nowhere");
    QVERIFY2(image.warnings().isEmpty(), qPrintable(image.warnings().join(u'\n')));
    QStringList warnings;
    QVERIFY2(PhotoMetadata::fromBytes(contents, &warnings).isEmpty() && warnings.isEmpty(),
             qPrintable(warnings.join(u'\n')));

    // A format that cannot hold metadata is passed through untouched, without a warning.
    const PhotoMetadata good
        = PhotoMetadata::fromBytes(tagged(encodedImage(testImage(), "jpeg"), 1));
    const QByteArray bmp = encodedImage(testImage(), "bmp");
    const PhotoMetadata::Embedded embedded = good.embedInto(bmp);
    QVERIFY2(embedded.bytes == bmp && embedded.warning.isEmpty(), qPrintable(embedded.warning));
    QVERIFY2(image.metadata().embedInto(contents).bytes == contents,
             "empty metadata changed the image");
}

void TestPhotoMetadata::concurrentUse()
{
    const QByteArray tagged = ::tagged(encodedImage(testImage(), "jpeg"), 6);
    const QByteArray plain = encodedImage(testImage(), "png");
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const QByteArray result = PhotoMetadata::fromBytes(tagged).embedInto(plain).bytes;
                if (PhotoMetadata::fromBytes(result).value(QStringLiteral("Xmp.photoshop.City"))
                    != QLatin1String("Lisbon"))
                    ++failures[t];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (const int count : failures)
        QVERIFY2(count == 0, qPrintable(QStringLiteral("%1 results lost metadata").arg(count)));
}

QTEST_GUILESS_MAIN(TestPhotoMetadata)
#include "tst_photometadata.moc"
